// SAE with hash to element and anti-clogging tokens through the driver's
// protocol: two children agree over random SSIDs, passwords and
// identifiers; a child agrees with the independent access point; the commit
// carries exactly the elements that apply; peer commits of the wrong method
// are refused; tokens of every size are placed or refused; PT is derived
// once per input.
#include <SaeAuthenticator.h>

#include <cstring>
#include <random>

#include "SaeConfig.h"
#include "SaeTestSupport.h"

namespace sae_test {
namespace {

using authenticator::SAE_VERDICT;
using TestSupport::StatusIs;

std::mt19937 Generator(126);
void FillRandom(VOID *, UINT8 *Buffer, UINTN Length) {
  for (UINTN Index = 0; Index < Length; ++Index) {
    Buffer[Index] = static_cast<UINT8>(Generator());
  }
}

Bytes Text(const std::string &Value) { return Bytes(Value.begin(), Value.end()); }
Bytes WithStatus(UINT16 Status, const Bytes &Body) { return Concat({GroupField(Status), Body}); }

std::string RandomText(std::mt19937 &Choice, size_t Length) {
  std::uniform_int_distribution<int> Printable(0x21, 0x7E);
  std::string Out(Length, ' ');
  for (char &Character : Out) {
    Character = static_cast<char>(Printable(Choice));
  }
  return Out;
}

class SaeH2eTest : public SaeDriverTest {
 protected:
  void TearDown() override {
    Ap_.reset();
    SaeDriverTest::TearDown();
  }
  // Hash to element with this SSID and, when not empty, identifier.
  static void UseH2e(Station &S, const std::string &Ssid, const std::string &Identifier = "") {
    Bytes SsidField(33, 0);
    SsidField[0] = static_cast<UINT8>(Ssid.size());
    std::memcpy(SsidField.data() + 1, Ssid.data(), Ssid.size());
    ASSERT_TRUE(StatusIs(S.Set(EfiSupplicant80211TargetSSIDName, SsidField), EFI_SUCCESS));
    ASSERT_TRUE(StatusIs(S.Set(EfiSupplicantSaePweMethod, Bytes{1}), EFI_SUCCESS));
    ASSERT_TRUE(StatusIs(S.Set(EfiSupplicantSaePasswordIdentifier, Text(Identifier)), EFI_SUCCESS));
  }
  void MakeH2ePair(const std::string &Ssid, const std::string &Password, const std::string &IdA,
                   const std::string &IdB) {
    MakePair(Password, Password);
    UseH2e(A(), Ssid, IdA);
    UseH2e(B(), Ssid, IdB);
  }
  // Both H2E commits exchanged; the results of A and B taking them.
  std::pair<EFI_STATUS, EFI_STATUS> ExchangeH2eCommits() {
    Bytes CommitA = A().Commit(), CommitB = B().Commit();
    return {A().TakeCommit(WithStatus(126, CommitB)), B().TakeCommit(WithStatus(126, CommitA))};
  }
  bool ConfirmsAccepted() {
    Bytes ConfirmA = A().Confirm(), ConfirmB = B().Confirm();
    return A().TakeConfirm(ConfirmB) == EFI_SUCCESS && B().TakeConfirm(ConfirmA) == EFI_SUCCESS;
  }
  Bytes ApCommit() {
    Bytes Body(authenticator::SAE_MAX_COMMIT_LEN);
    Body.resize(Ap_->Commit(Body.data(), Body.size()));
    EXPECT_FALSE(Body.empty());
    return Body;
  }
  void StartAp(const Mac &ApMac, const Mac &StaMac, const std::string &Ssid, const std::string &Password,
               const std::string &Identifier) {
    Ap_ = std::make_unique<authenticator::SaeAuthenticator>();
    ASSERT_EQ(Ap_->StartH2e(ApMac.data(), StaMac.data(), reinterpret_cast<const UINT8 *>(Ssid.data()), Ssid.size(),
                            reinterpret_cast<const UINT8 *>(Password.data()), Password.size(),
                            reinterpret_cast<const UINT8 *>(Identifier.data()), Identifier.size(),
                            {FillRandom, nullptr}),
              SAE_VERDICT::Ok);
  }
  // GetData(21) size probe.
  UINTN ProbeCommitSize(Station &S) {
    UINTN Size = 0;
    EXPECT_TRUE(StatusIs(S.Get(EfiSupplicantSaeCommit, nullptr, &Size), EFI_BUFFER_TOO_SMALL));
    return Size;
  }

  std::unique_ptr<authenticator::SaeAuthenticator> Ap_;
};

TEST_F(SaeH2eTest, TwoStationsAgreeOverRandomSsidsPasswordsAndIdentifiers) {
  std::mt19937 Choice(19);
  std::uniform_int_distribution<int> SsidLength(1, 32), PasswordLength(1, 63), IdLength(0, 40);
  for (int Round = 0; Round < 6; ++Round) {
    const std::string Ssid = RandomText(Choice, SsidLength(Choice));
    const std::string Password = RandomText(Choice, PasswordLength(Choice));
    const std::string Identifier = RandomText(Choice, Round == 0 ? 0 : IdLength(Choice));
    MakeH2ePair(Ssid, Password, Identifier, Identifier);
    auto [TakenByA, TakenByB] = ExchangeH2eCommits();
    ASSERT_TRUE(StatusIs(TakenByA, EFI_SUCCESS)) << Ssid << " / " << Password << " / " << Identifier;
    ASSERT_TRUE(StatusIs(TakenByB, EFI_SUCCESS));
    EXPECT_EQ(0, std::memcmp(A().Sae().SaePmk, B().Sae().SaePmk, 32));
    EXPECT_TRUE(ConfirmsAccepted()) << Ssid << " / " << Password << " / " << Identifier;
  }
}

TEST_F(SaeH2eTest, ADifferentSsidPasswordOrIdentifierDoesNotAgree) {
  MakeH2ePair("same", "password", "", "");
  UseH2e(B(), "other", "");
  ASSERT_EQ(ExchangeH2eCommits(), std::make_pair(EFI_SUCCESS, EFI_SUCCESS));
  EXPECT_FALSE(ConfirmsAccepted()) << "SSID is part of PT";
  // Identifiers that differ: each refuses the other's Password Identifier.
  MakeH2ePair("same", "password", "alice", "bob");
  EXPECT_EQ(ExchangeH2eCommits(), std::make_pair(SAE_COMMIT_BAD_H2E_ELEMENT, SAE_COMMIT_BAD_H2E_ELEMENT));
  // Hunting and pecking with the same password is another element.
  MakeH2ePair("same", "password", "", "");
  ASSERT_TRUE(StatusIs(B().Set(EfiSupplicantSaePweMethod, Bytes{0}), EFI_SUCCESS));
  Bytes CommitA = A().Commit(), CommitB = B().Commit();
  EXPECT_EQ(A().TakeCommit(WithStatus(0, CommitB)), SAE_COMMIT_WRONG_METHOD);
  EXPECT_EQ(A().TakeCommit(WithStatus(76, CommitB)), SAE_COMMIT_WRONG_METHOD);
  EXPECT_EQ(A().TakeCommit(CommitB.size() > 2 ? Bytes(CommitB.begin(), CommitB.begin() + 1) : CommitB),
            SAE_COMMIT_WRONG_METHOD);
  // An H2E commit handed to a hunting-and-pecking child is read as a body
  // starting with status 126, which is no group.
  EXPECT_EQ(B().TakeCommit(WithStatus(126, CommitA)), SAE_COMMIT_BAD_GROUP);
  // Changing the method after the own commit: the peer commit no longer fits.
  ASSERT_TRUE(StatusIs(A().Set(EfiSupplicantSaePweMethod, Bytes{0}), EFI_SUCCESS));
  EXPECT_EQ(A().TakeCommit(CommitB), SAE_COMMIT_WRONG_METHOD);
  EXPECT_EQ(A().Sae().State, SAE_EXCHANGE_STATE::OwnCommitBuilt);
}

TEST_F(SaeH2eTest, StationAgreesWithTheIndependentAccessPoint) {
  std::mt19937 Choice(93);
  for (int Round = 0; Round < 4; ++Round) {
    const std::string Ssid = RandomText(Choice, 1 + Round * 7), Password = RandomText(Choice, 8 + Round * 13);
    const std::string Identifier = Round % 2 == 0 ? "" : RandomText(Choice, 3 + Round);
    DestroyStations();
    Station &Sta = NewStation();
    Sta.Configure(STATION_A, STATION_B, Password);
    UseH2e(Sta, Ssid, Identifier);
    // The station names rejected groups in two of the rounds: the key seed's
    // salt on both sides.
    if (Round >= 2) {
      ASSERT_TRUE(StatusIs(Sta.Set(EfiSupplicantSaeRejectedGroups, Bytes{20, 0, 21, 0}), EFI_SUCCESS));
    }
    StartAp(STATION_B, STATION_A, Ssid, Password, Identifier);
    Bytes StationCommit = Sta.Commit();
    ASSERT_EQ(Ap_->AcceptCommit(StationCommit.data(), StationCommit.size()), SAE_VERDICT::Ok) << Round;
    ASSERT_TRUE(StatusIs(Sta.TakeCommit(WithStatus(126, ApCommit())), EFI_SUCCESS)) << Round;
    EXPECT_EQ(Bytes(Sta.Sae().SaePmk, Sta.Sae().SaePmk + 32), Bytes(Ap_->Pmk(), Ap_->Pmk() + 32)) << Round;
    Bytes StationConfirm = Sta.Confirm();
    EXPECT_EQ(Ap_->AcceptConfirm(StationConfirm.data(), StationConfirm.size()), SAE_VERDICT::Ok) << Round;
    Bytes ApConfirm(authenticator::SAE_CONFIRM_LEN);
    ASSERT_EQ(Ap_->Confirm(ApConfirm.data(), ApConfirm.size()), ApConfirm.size());
    EXPECT_TRUE(StatusIs(Sta.TakeConfirm(ApConfirm), EFI_SUCCESS)) << Round;
  }
  // The access point refuses a commit that names group 19 as rejected and
  // one without the identifier it knows the password under.
  Station &Sta = NewStation();
  Sta.Configure(STATION_A, STATION_B, "password");
  UseH2e(Sta, "net");
  StartAp(STATION_B, STATION_A, "net", "password", "id");
  Bytes Commit = Sta.Commit();
  EXPECT_EQ(Ap_->AcceptCommit(Commit.data(), Commit.size()), SAE_VERDICT::UnknownIdentifier);
  StartAp(STATION_B, STATION_A, "net", "password", "");
  Bytes Downgraded = Concat({Commit, Bytes{255, 3, 92, 19, 0}});
  EXPECT_EQ(Ap_->AcceptCommit(Downgraded.data(), Downgraded.size()), SAE_VERDICT::BadElements);
}

TEST_F(SaeH2eTest, CommitCarriesTheElementsThatApplyAndTheProbeTellsItsSize) {
  MakeH2ePair("layout", "password", "psk4internet", "psk4internet");
  const Bytes Identifier = Text("psk4internet");
  EXPECT_EQ(ProbeCommitSize(A()), 98u + 3 + Identifier.size());
  ASSERT_TRUE(StatusIs(A().Set(EfiSupplicantSaeRejectedGroups, Bytes{20, 0, 21, 0}), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(A().Set(EfiSupplicantSaeAntiCloggingToken, Bytes{255, 3, 93, 0xAB, 0xCD}), EFI_SUCCESS));
  const UINTN Expected = 98 + (3 + Identifier.size()) + (3 + 4) + (3 + 2);
  EXPECT_EQ(ProbeCommitSize(A()), Expected);
  // One byte short is refused with the size; exactly enough works.
  EFI_STATUS Status;
  Bytes Short = A().GetBody(EfiSupplicantSaeCommit, &Status, Expected - 1);
  EXPECT_TRUE(StatusIs(Status, EFI_BUFFER_TOO_SMALL));
  Bytes Commit = A().GetBody(EfiSupplicantSaeCommit, &Status, Expected);
  ASSERT_TRUE(StatusIs(Status, EFI_SUCCESS));
  ASSERT_EQ(Commit.size(), Expected);
  EXPECT_EQ(Slice(Commit, 0, 2), GroupField(19));
  EXPECT_EQ(Slice(Commit, 2, 32), NumberBytes(&A().Sae().OwnScalar));
  EXPECT_EQ(Slice(Commit, 98, 3 + Identifier.size()), Concat({Bytes{255, 13, 33}, Identifier}));
  EXPECT_EQ(Slice(Commit, 98 + 15, 7), (Bytes{255, 5, 92, 20, 0, 21, 0}));
  EXPECT_EQ(Slice(Commit, 98 + 22, 5), (Bytes{255, 3, 93, 0xAB, 0xCD}));
  // B has no rejected groups of its own: it salts with A's, and they agree.
  ASSERT_EQ(ExchangeH2eCommits(), std::make_pair(EFI_SUCCESS, EFI_SUCCESS));
  EXPECT_TRUE(ConfirmsAccepted());
  // A peer naming group 19 rejected is refused.
  Bytes CommitA = A().Commit();
  EXPECT_EQ(B().TakeCommit(WithStatus(126, Concat({Slice(CommitA, 0, 98), Bytes{255, 3, 92, 19, 0}}))),
            SAE_COMMIT_BAD_H2E_ELEMENT);
  // An element running past the body is refused.
  EXPECT_EQ(B().TakeCommit(WithStatus(126, Concat({Slice(CommitA, 0, 98), Bytes{255, 9, 33, 1}}))),
            SAE_COMMIT_BAD_H2E_ELEMENT);
}

TEST_F(SaeH2eTest, AntiCloggingTokensOfEverySize) {
  for (const bool H2e : {false, true}) {
    for (const size_t Length : {size_t(0), size_t(1), size_t(32), size_t(300)}) {
      DestroyStations();
      Station &Sta = NewStation();
      Sta.Configure(STATION_A, STATION_B, "anti-clogging");
      if (H2e) {
        UseH2e(Sta, "sae-test");
      }
      Bytes Token(Length);
      for (size_t Index = 0; Index < Length; ++Index) {
        Token[Index] = static_cast<UINT8>(Index * 7 + 1);
      }
      // What a connection manager hands in: the status-76 body after the
      // group (the Container element under hash to element, if it fits one).
      Bytes Handed = Token;
      if (H2e && Length > 0) {
        Handed = Length <= 254 ? Concat({Bytes{255, static_cast<UINT8>(Length + 1), 93}, Token})
                               : Concat({Bytes{255, 255, 93}, Token});
      }
      EFI_STATUS Status = Sta.Set(EfiSupplicantSaeAntiCloggingToken, Handed);
      UINTN Size = 0;
      if (Length > 254) {
        EXPECT_TRUE(StatusIs(Status, EFI_INVALID_PARAMETER)) << Length;
        EXPECT_TRUE(StatusIs(Sta.Get(EfiSupplicantSaeAntiCloggingToken, nullptr, &Size), EFI_SUCCESS));
        EXPECT_EQ(Size, 0u) << "a refused token was kept";
        EXPECT_EQ(Sta.Commit().size(), 98u);
        continue;
      }
      ASSERT_TRUE(StatusIs(Status, EFI_SUCCESS)) << Length;
      Bytes Commit = Sta.Commit();
      if (!H2e) {
        ASSERT_EQ(Commit.size(), 98u + Length);
        EXPECT_EQ(Slice(Commit, 2, Length), Token);
        EXPECT_EQ(Slice(Commit, 2 + Length, 32), NumberBytes(&Sta.Sae().OwnScalar));
      } else {
        ASSERT_EQ(Commit.size(), 98u + (Length == 0 ? 0 : 3 + Length));
        EXPECT_EQ(Slice(Commit, 98, Commit.size() - 98), Handed);
      }
      // The access point that asked for it accepts the commit and agrees.
      Ap_ = std::make_unique<authenticator::SaeAuthenticator>();
      Ap_->ExpectToken(Token.data(), Token.size());
      const std::string Password = "anti-clogging", Ssid = "sae-test";
      SAE_VERDICT Started =
          H2e ? Ap_->StartH2e(STATION_B.data(), STATION_A.data(), reinterpret_cast<const UINT8 *>(Ssid.data()),
                              Ssid.size(), reinterpret_cast<const UINT8 *>(Password.data()), Password.size(),
                              nullptr, 0, {FillRandom, nullptr})
              : Ap_->Start(STATION_B.data(), STATION_A.data(), reinterpret_cast<const UINT8 *>(Password.data()),
                           Password.size(), {FillRandom, nullptr});
      ASSERT_EQ(Started, SAE_VERDICT::Ok);
      ASSERT_EQ(Ap_->AcceptCommit(Commit.data(), Commit.size()), SAE_VERDICT::Ok) << Length;
      Bytes Answer = ApCommit();
      ASSERT_TRUE(StatusIs(Sta.TakeCommit(H2e ? WithStatus(126, Answer) : Answer), EFI_SUCCESS)) << Length;
      EXPECT_EQ(Bytes(Sta.Sae().SaePmk, Sta.Sae().SaePmk + 32), Bytes(Ap_->Pmk(), Ap_->Pmk() + 32)) << Length;
    }
  }
}

TEST_F(SaeH2eTest, DataTypeBoundsAndSizeProbes) {
  Station &Sta = NewStation();
  Sta.Configure(STATION_A, STATION_B, "bounds");
  UINTN Size = 0;
  EXPECT_TRUE(StatusIs(Sta.Set(EfiSupplicantSaePweMethod, Bytes{2}), EFI_INVALID_PARAMETER));
  EXPECT_TRUE(StatusIs(Sta.Set(EfiSupplicantSaePweMethod, Bytes{}), EFI_BUFFER_TOO_SMALL));
  EXPECT_TRUE(StatusIs(Sta.Get(EfiSupplicantSaePweMethod, nullptr, &Size), EFI_BUFFER_TOO_SMALL));
  EXPECT_EQ(Size, 1u);
  // Identifier: 254 octets at most, one trailing NUL dropped, size 0 clears.
  EXPECT_TRUE(StatusIs(Sta.Set(EfiSupplicantSaePasswordIdentifier, Bytes(255, 'i')), EFI_INVALID_PARAMETER));
  EXPECT_TRUE(StatusIs(Sta.Set(EfiSupplicantSaePasswordIdentifier, Concat({Bytes(254, 'i'), Bytes{0}})),
                       EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(Sta.Get(EfiSupplicantSaePasswordIdentifier, nullptr, &(Size = 0)), EFI_BUFFER_TOO_SMALL));
  EXPECT_EQ(Size, 254u);
  // Hunting and pecking has no identifier: no commit while one is set.
  EFI_STATUS Status;
  Sta.GetBody(EfiSupplicantSaeCommit, &Status);
  EXPECT_TRUE(StatusIs(Status, EFI_UNSUPPORTED));
  EXPECT_TRUE(StatusIs(Sta.Set(EfiSupplicantSaePasswordIdentifier, Bytes{}), EFI_SUCCESS));
  Size = 0;
  EXPECT_TRUE(StatusIs(Sta.Get(EfiSupplicantSaePasswordIdentifier, nullptr, &Size), EFI_SUCCESS));
  EXPECT_EQ(Size, 0u);
  // Rejected groups: whole little-endian numbers, at most 32, never 0 or 19.
  EXPECT_TRUE(StatusIs(Sta.Set(EfiSupplicantSaeRejectedGroups, Bytes{20, 0, 21}), EFI_INVALID_PARAMETER));
  EXPECT_TRUE(StatusIs(Sta.Set(EfiSupplicantSaeRejectedGroups, Bytes{20, 0, 19, 0}), EFI_INVALID_PARAMETER));
  EXPECT_TRUE(StatusIs(Sta.Set(EfiSupplicantSaeRejectedGroups, Bytes(66, 20)), EFI_INVALID_PARAMETER));
  EXPECT_TRUE(StatusIs(Sta.Set(EfiSupplicantSaeRejectedGroups, Bytes{20, 0, 0x1C, 0x01}), EFI_SUCCESS));
  Bytes Groups(4);
  Size = Groups.size();
  EXPECT_TRUE(StatusIs(Sta.Get(EfiSupplicantSaeRejectedGroups, Groups.data(), &Size), EFI_SUCCESS));
  EXPECT_EQ(Groups, (Bytes{20, 0, 0x1C, 0x01}));
  // Rejected groups go into hash-to-element commits only.
  EXPECT_EQ(Sta.Commit().size(), 98u);
  // Under hash to element a token must come in its container.
  ASSERT_TRUE(StatusIs(Sta.Set(EfiSupplicantSaePweMethod, Bytes{1}), EFI_SUCCESS));
  for (const Bytes &Bad : {Bytes{1, 2, 3}, Bytes{255, 3, 93, 1}, Bytes{255, 1, 93}, Bytes{221, 2, 93, 1}}) {
    EXPECT_TRUE(StatusIs(Sta.Set(EfiSupplicantSaeAntiCloggingToken, Bad), EFI_INVALID_PARAMETER));
  }
  EXPECT_TRUE(StatusIs(Sta.Get(EfiSupplicantSaeAntiCloggingToken, nullptr, &(Size = 0)), EFI_SUCCESS));
  // A token belongs to the access point that gave it.
  ASSERT_TRUE(StatusIs(Sta.Set(EfiSupplicantSaeAntiCloggingToken, Bytes{255, 2, 93, 7}), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(Sta.Set(EfiSupplicant80211TargetSSIDMac, Bytes(STATION_B.begin(), STATION_B.end())),
                       EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(Sta.Get(EfiSupplicantSaeAntiCloggingToken, nullptr, &(Size = 0)), EFI_BUFFER_TOO_SMALL));
  ASSERT_TRUE(StatusIs(Sta.Set(EfiSupplicant80211TargetSSIDMac, Bytes(6, 0x42)), EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(Sta.Get(EfiSupplicantSaeAntiCloggingToken, nullptr, &(Size = 0)), EFI_SUCCESS));
}

TEST_F(SaeH2eTest, PtIsDerivedOncePerInputsAndForgottenWhenTheyChange) {
  Station &Sta = NewStation();
  Sta.Configure(STATION_A, STATION_B, "cached");
  UseH2e(Sta, "cache");
  const UINT64 Before = SaePtDerivationCount();
  Sta.Commit();
  Sta.Commit();
  EXPECT_EQ(SaePtDerivationCount(), Before + 1);
  const SAE_PT_CACHE &Cache = Sta.Record()->SaeH2e.PtCache;
  ASSERT_TRUE(Cache.Valid);
  UINT8 Expected[SAE_PT_LEN];
  ASSERT_EQ(sae_h2e_derive_pt(reinterpret_cast<const UINT8 *>("cache"), 5, reinterpret_cast<const UINT8 *>("cached"),
                              6, nullptr, 0, Expected),
            0);
  EXPECT_EQ(0, std::memcmp(Cache.Pt, Expected, SAE_PT_LEN));
  // A new identifier moves the inputs away: the cache is cleared at once.
  ASSERT_TRUE(StatusIs(Sta.Set(EfiSupplicantSaePasswordIdentifier, Text("id")), EFI_SUCCESS));
  EXPECT_FALSE(Cache.Valid);
  EXPECT_EQ(Bytes(Cache.Pt, Cache.Pt + SAE_PT_LEN), Bytes(SAE_PT_LEN, 0));
  Sta.Commit();
  EXPECT_EQ(SaePtDerivationCount(), Before + 2);
  // The same password set again keeps it; another one clears it.
  ASSERT_TRUE(StatusIs(Sta.Set(EfiSupplicant80211PskPassword, Text("cached")), EFI_SUCCESS));
  EXPECT_TRUE(Cache.Valid);
  ASSERT_TRUE(StatusIs(Sta.Set(EfiSupplicant80211PskPassword, Text("changed")), EFI_SUCCESS));
  EXPECT_FALSE(Cache.Valid);
  EXPECT_EQ(Bytes(Cache.Password, Cache.Password + 64), Bytes(64, 0));
}

}  // namespace
}  // namespace sae_test
