// The SAE exchange through the driver's protocol: two children of the real
// driver run commit and confirm against each other, agree on keys, accept
// each other's confirms and hand the PMK to the 4-way handshake; the wire
// format, the send-confirm counter, buffer sizes and the order rules.
#include <random>

#include "SaeTestSupport.h"

namespace sae_test {
namespace {

using TestSupport::StatusIs;

class SaeExchangeTest : public SaeDriverTest {};

TEST_F(SaeExchangeTest, OwnCommitIsGroup19ScalarAndAValidElement) {
  MakePair("commit format", "commit format");
  Bytes Commit = A().Commit();
  ASSERT_EQ(Commit.size(), 98u);
  EXPECT_EQ(Commit[0], 0x13);
  EXPECT_EQ(Commit[1], 0x00);
  SAE_CONTEXT &Sae = A().Sae();
  EXPECT_EQ(Sae.GroupId, 19);
  EXPECT_EQ(Sae.PrimeLen, 32u);
  EXPECT_EQ(Sae.OrderLen, 32u);
  EXPECT_EQ(Slice(Commit, 2, 32), NumberBytes(&Sae.OwnScalar));

  // The element read back from the wire is a point of the curve, and it is
  // -(mask * PWE); the scalar is (rand + mask) mod r.
  BigNum X, Y, Sum;
  EcPoint Element, Expected;
  ASSERT_EQ(bignum_from_bytes(X, Commit.data() + 34, 32), 0);
  ASSERT_EQ(bignum_from_bytes(Y, Commit.data() + 66, 32), 0);
  ASSERT_EQ(ecc_point_from_xy(Sae.Group, X, Y, Element), 0);
  EXPECT_EQ(ecc_point_check(Sae.Group, Element), 0);
  ASSERT_EQ(ecc_point_mul(Sae.Group, Expected, &Sae.Mask, &Sae.Pwe), 0);
  ASSERT_EQ(ecc_point_negate(Sae.Group, Expected), 0);
  EXPECT_EQ(mbedtls_ecp_point_cmp(Element, Expected), 0);
  ASSERT_EQ(bignum_add_mod(Sum, &Sae.Rand, &Sae.Mask, &Sae.Order), 0);
  EXPECT_EQ(bignum_cmp(Sum, &Sae.OwnScalar), 0);
  EXPECT_GT(bignum_cmp_int(&Sae.Rand, 1), 0);
  EXPECT_GT(bignum_cmp_int(&Sae.Mask, 1), 0);

  // Each commit is a new exchange with new secrets over the same PWE.
  Bytes Again = A().Commit();
  EXPECT_NE(Slice(Again, 2, 32), Slice(Commit, 2, 32));
}

TEST_F(SaeExchangeTest, TwoStationsAgreeAcceptEachOthersConfirmsAndHandOverThePmk) {
  MakePair("two stations", "two stations");
  ExchangeCommits();
  EXPECT_EQ(0, std::memcmp(A().Sae().SaePmk, B().Sae().SaePmk, 32));
  EXPECT_EQ(0, std::memcmp(A().Sae().SaeKck, B().Sae().SaeKck, 32));
  EXPECT_NE(0, std::memcmp(A().Sae().SaePmk, A().Sae().SaeKck, 32));
  // Until its confirm is built, a station's Pmk is the pass-phrase PMK.
  EXPECT_NE(0, std::memcmp(A().Record()->Pmk, A().Sae().SaePmk, 32));

  Bytes ConfirmA = A().Confirm();
  Bytes ConfirmB = B().Confirm();
  ASSERT_EQ(ConfirmA.size(), 34u);
  EXPECT_TRUE(StatusIs(A().TakeConfirm(ConfirmB), EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(B().TakeConfirm(ConfirmA), EFI_SUCCESS));
  for (Station *Side : {&A(), &B()}) {
    EXPECT_EQ(0, std::memcmp(Side->Record()->Pmk, Side->Sae().SaePmk, 32));
    EXPECT_EQ(Side->Record()->PmkSource, SUP_PMK_SOURCE::Sae);
  }
  // The PMK stays through later configuration that would re-derive a
  // pass-phrase PMK.
  Bytes Ssid(33, 0);
  Ssid[0] = 1;
  Ssid[1] = 'x';
  ASSERT_TRUE(StatusIs(A().Set(EfiSupplicant80211TargetSSIDName, Ssid), EFI_SUCCESS));
  EXPECT_EQ(0, std::memcmp(A().Record()->Pmk, A().Sae().SaePmk, 32));
}

TEST_F(SaeExchangeTest, ManyPasswordsAndAddressPairsAgree) {
  std::mt19937 Generator(20240615);
  std::uniform_int_distribution<int> Byte(0, 255), Length(1, 63), Printable(0x20, 0x7E);
  for (int Round = 0; Round < 12; ++Round) {
    Mac MacA, MacB;
    for (size_t i = 0; i < 6; ++i) {
      MacA[i] = static_cast<UINT8>(Byte(Generator));
      MacB[i] = static_cast<UINT8>(Byte(Generator));
    }
    std::string Password(static_cast<size_t>(Length(Generator)), ' ');
    for (char &Character : Password) {
      Character = static_cast<char>(Printable(Generator));
    }
    // A pass phrase of more than 8 bytes may not end in NUL; printable ones never do.
    MakePair(Password, Password, MacA, MacB);
    EXPECT_TRUE(RunExchange()) << "round " << Round << " password '" << Password << "'";
    EXPECT_EQ(0, std::memcmp(A().Record()->Pmk, B().Record()->Pmk, 32));
  }
}

TEST_F(SaeExchangeTest, DifferentPasswordsGiveDifferentKeysAndConfirmsAreRejected) {
  MakePair("the right one", "the wrong one");
  ExchangeCommits();
  EXPECT_NE(0, std::memcmp(A().Sae().SaePmk, B().Sae().SaePmk, 32));
  Bytes ConfirmA = A().Confirm();
  Bytes ConfirmB = B().Confirm();
  EXPECT_TRUE(StatusIs(A().TakeConfirm(ConfirmB), EFI_BUFFER_TOO_SMALL));
  EXPECT_TRUE(StatusIs(B().TakeConfirm(ConfirmA), EFI_BUFFER_TOO_SMALL));
}

TEST_F(SaeExchangeTest, SendConfirmCountsFromZeroAndSaturates) {
  MakePair("counting", "counting");
  ExchangeCommits();
  for (UINT16 Expected : {0, 1, 2}) {
    Bytes Confirm = A().Confirm();
    EXPECT_EQ(Confirm[0] | (Confirm[1] << 8), Expected);
    // Every one of them verifies on the other side.
    EXPECT_TRUE(StatusIs(B().TakeConfirm(Confirm), EFI_SUCCESS));
  }
  // A new exchange does not reset the counter.
  ExchangeCommits();
  Bytes Next = A().Confirm();
  EXPECT_EQ(Next[0] | (Next[1] << 8), 3);

  A().Sae().SendConfirm = 0xFFFD;
  for (UINT16 Expected : {0xFFFD, 0xFFFE, 0xFFFF, 0xFFFF, 0xFFFF}) {
    Bytes Confirm = A().Confirm();
    EXPECT_EQ(Confirm[0] | (Confirm[1] << 8), Expected);
    EXPECT_TRUE(StatusIs(B().TakeConfirm(Confirm), EFI_SUCCESS));
  }
  EXPECT_EQ(A().Sae().SendConfirm, 0xFFFF);
}

TEST_F(SaeExchangeTest, ShortOrAlteredPeerConfirmIsRejected) {
  MakePair("altered", "altered");
  ExchangeCommits();
  Bytes Confirm = B().Confirm();
  EXPECT_TRUE(StatusIs(A().TakeConfirm(Bytes(Confirm.begin(), Confirm.begin() + 33)), EFI_BUFFER_TOO_SMALL));
  EXPECT_TRUE(StatusIs(A().TakeConfirm({}), EFI_BUFFER_TOO_SMALL));
  for (size_t Bit = 0; Bit < 34 * 8; Bit += 13) {
    Bytes Altered = Confirm;
    Altered[Bit / 8] ^= static_cast<UINT8>(1u << (Bit % 8));
    EXPECT_TRUE(StatusIs(A().TakeConfirm(Altered), EFI_BUFFER_TOO_SMALL)) << "bit " << Bit;
  }
  // Trailing bytes after the 34 are not part of it.
  Bytes Longer = Confirm;
  Longer.push_back(0x55);
  EXPECT_TRUE(StatusIs(A().TakeConfirm(Longer), EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(A().TakeConfirm(Confirm), EFI_SUCCESS));
}

TEST_F(SaeExchangeTest, TooSmallBuffersGetTheNeededSizeAndNothingElse) {
  MakePair("sizes", "sizes");
  UINT8 Buffer[98];
  std::memset(Buffer, 0x5A, sizeof(Buffer));
  UINTN Size = 97;
  EXPECT_TRUE(StatusIs(A().Get(EfiSupplicantSaeCommit, Buffer, &Size), EFI_BUFFER_TOO_SMALL));
  EXPECT_EQ(Size, 98u);
  EXPECT_EQ(A().Sae().Group, nullptr) << "no exchange was started";
  Size = 0;
  EXPECT_TRUE(StatusIs(A().Get(EfiSupplicantSaeCommit, nullptr, &Size), EFI_BUFFER_TOO_SMALL));
  EXPECT_EQ(Size, 98u);

  ExchangeCommits();
  UINT16 SendConfirm = A().Sae().SendConfirm;
  Size = 33;
  EXPECT_TRUE(StatusIs(A().Get(EfiSupplicantSaeConfirm, Buffer, &Size), EFI_BUFFER_TOO_SMALL));
  EXPECT_EQ(Size, 34u);
  EXPECT_EQ(A().Sae().SendConfirm, SendConfirm);
  EXPECT_NE(A().Record()->PmkSource, SUP_PMK_SOURCE::Sae);
  for (UINT8 Byte : Buffer) {
    ASSERT_EQ(Byte, 0x5A);
  }
  // Exactly the body size is enough.
  Size = 34;
  EXPECT_TRUE(StatusIs(A().Get(EfiSupplicantSaeConfirm, Buffer, &Size), EFI_SUCCESS));
  EXPECT_EQ(Size, 34u);
}

TEST_F(SaeExchangeTest, NoCommitWithoutAPassword) {
  MakePair("late password", "late password");
  Station Lone(Service());
  const Bytes Sae = {1, 0, 0x00, 0x0F, 0xAC, 8};
  ASSERT_TRUE(StatusIs(Lone.Set(EfiSupplicant80211AKMSuite, Sae), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(Lone.Set(EfiSupplicant80211StationMac, Bytes(STATION_A.begin(), STATION_A.end())), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(Lone.Set(EfiSupplicant80211TargetSSIDMac, Bytes(STATION_B.begin(), STATION_B.end())), EFI_SUCCESS));
  EFI_STATUS Status = EFI_SUCCESS;
  Bytes Body = Lone.GetBody(EfiSupplicantSaeCommit, &Status, 128);
  EXPECT_TRUE(StatusIs(Status, EFI_UNSUPPORTED));
  EXPECT_EQ(Body, Bytes(128, 0xEE)) << "nothing written";
  // Configured afterwards, the same child runs the exchange.
  const std::string Password = "late password";
  ASSERT_TRUE(StatusIs(Lone.Set(EfiSupplicant80211PskPassword, Bytes(Password.begin(), Password.end())), EFI_SUCCESS));
  Bytes CommitLone = Lone.Commit();
  ASSERT_TRUE(StatusIs(Lone.TakeCommit(B().Commit()), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(B().TakeCommit(CommitLone), EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(B().TakeConfirm(Lone.Confirm()), EFI_SUCCESS));
}

TEST_F(SaeExchangeTest, ConfirmNeedsAPeerCommitAcceptedForTheCurrentOwnCommit) {
  MakePair("order", "order");
  SUP_INSTANCE *Record = A().Record();
  const Bytes PmkBefore(Record->Pmk, Record->Pmk + 32);
  auto ExpectRefused = [&](const char *When) {
    EFI_STATUS Status = EFI_SUCCESS;
    Bytes Body = A().GetBody(EfiSupplicantSaeConfirm, &Status, 64);
    EXPECT_TRUE(StatusIs(Status, EFI_PROTOCOL_ERROR)) << When;
    EXPECT_EQ(Body, Bytes(64, 0xEE)) << When << ": nothing written";
    EXPECT_EQ(Bytes(Record->Pmk, Record->Pmk + 32), PmkBefore) << When << ": Pmk untouched";
    EXPECT_EQ(A().Sae().SendConfirm, 0) << When;
    // Verifying needs the same: with no keys even a confirm under an
    // all-zero KCK, which anyone can compute, must not pass.
    EXPECT_TRUE(StatusIs(A().TakeConfirm(Bytes(34, 0)), EFI_PROTOCOL_ERROR)) << When;
  };
  ExpectRefused("fresh child");
  Bytes CommitA = A().Commit();
  ExpectRefused("own commit only");
  Bytes CommitB = B().Commit();
  // A peer commit that fails a check leaves the exchange without keys.
  Bytes BadScalar = CommitB;
  std::fill(BadScalar.begin() + 2, BadScalar.begin() + 34, 0);
  EXPECT_EQ(A().TakeCommit(BadScalar), SAE_COMMIT_BAD_SCALAR);
  ExpectRefused("rejected peer commit");
  ASSERT_TRUE(StatusIs(A().TakeCommit(CommitB), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(B().TakeCommit(CommitA), EFI_SUCCESS));
  // A later peer commit that fails takes the keys of the earlier one away.
  EXPECT_EQ(A().TakeCommit(BadScalar), SAE_COMMIT_BAD_SCALAR);
  ExpectRefused("accepted, then a rejected peer commit");
  ASSERT_TRUE(StatusIs(A().TakeCommit(CommitB), EFI_SUCCESS));
  // A new own commit starts a new exchange: the old peer commit is not its.
  A().Commit();
  ExpectRefused("new own commit");
}

TEST_F(SaeExchangeTest, NewOwnCommitRestartsTheEapolReplayCounter) {
  MakePair("replay", "replay");
  SUP_INSTANCE *Record = A().Record();
  Record->ReplayCounterValid = TRUE;
  std::memset(Record->ReplayCounter, 0x77, sizeof(Record->ReplayCounter));
  A().Commit();
  EXPECT_FALSE(Record->ReplayCounterValid);
  EXPECT_EQ(Bytes(Record->ReplayCounter, Record->ReplayCounter + 8), Bytes(8, 0));
}

TEST_F(SaeExchangeTest, TrailingBytesAfterThePeerElementChangeNothing) {
  MakePair("trailing", "trailing");
  Bytes CommitA = A().Commit();
  Bytes CommitB = B().Commit();
  ASSERT_TRUE(StatusIs(A().TakeCommit(CommitB), EFI_SUCCESS));
  Bytes Pmk(A().Sae().SaePmk, A().Sae().SaePmk + 32);
  ASSERT_TRUE(StatusIs(A().TakeCommit(Concat({CommitB, Bytes(40, 0xC3)})), EFI_SUCCESS));
  EXPECT_EQ(Bytes(A().Sae().SaePmk, A().Sae().SaePmk + 32), Pmk);
  ASSERT_TRUE(StatusIs(B().TakeCommit(CommitA), EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(B().TakeConfirm(A().Confirm()), EFI_SUCCESS));
}

TEST_F(SaeExchangeTest, DestroyingAChildMidExchangeReleasesEverything) {
  size_t Baseline = Env().Pool().TotalUsage().LiveBlocks;
  MakePair("destroyed", "destroyed");
  ExchangeCommits();
  EXPECT_GT(Env().Pool().TotalUsage().LiveBlocks, Baseline + 2) << "the contexts own mbedtls memory";
  DestroyStations();
  EXPECT_EQ(Env().Pool().TotalUsage().LiveBlocks, Baseline);
}

}  // namespace
}  // namespace sae_test
