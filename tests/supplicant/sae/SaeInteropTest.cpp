// The driver's SAE against an access point written independently (the
// simulators' authenticator, directly on mbedtls): both derive the same PMK
// and KCK and accept each other's confirms, for many passwords and address
// pairs, and each refuses the other's reflected commit.
#include <SaeAuthenticator.h>

#include <cstring>
#include <random>

#include "crypto/Kdf.h"

#include "SaeTestSupport.h"

namespace sae_test {
namespace {

using authenticator::SAE_VERDICT;
using authenticator::SaeAuthenticator;
using TestSupport::StatusIs;

std::mt19937 Generator(6);
void FillRandom(VOID *, UINT8 *Buffer, UINTN Length) {
  for (UINTN Index = 0; Index < Length; ++Index) {
    Buffer[Index] = static_cast<UINT8>(Generator());
  }
}

class SaeInteropTest : public SaeDriverTest {
 protected:
  void TearDown() override {
    Ap_.reset();
    SaeDriverTest::TearDown();
  }
  // A station configured for (Password, StaMac -> ApMac) and a started AP.
  Station &Prepare(const std::string &StationPassword, const std::string &ApPassword, const Mac &StaMac,
                   const Mac &ApMac) {
    DestroyStations();
    Station &Sta = NewStation();
    Sta.Configure(StaMac, ApMac, StationPassword);
    Ap_ = std::make_unique<SaeAuthenticator>();
    EXPECT_EQ(Ap_->Start(ApMac.data(), StaMac.data(), reinterpret_cast<const UINT8 *>(ApPassword.data()),
                         ApPassword.size(), {FillRandom, nullptr}),
              SAE_VERDICT::Ok);
    return Sta;
  }
  Bytes ApCommit() {
    Bytes Body(authenticator::SAE_COMMIT_LEN);
    EXPECT_EQ(Ap_->Commit(Body.data(), Body.size()), Body.size());
    return Body;
  }
  Bytes ApConfirm() {
    Bytes Body(authenticator::SAE_CONFIRM_LEN);
    EXPECT_EQ(Ap_->Confirm(Body.data(), Body.size()), Body.size());
    return Body;
  }

  std::unique_ptr<SaeAuthenticator> Ap_;
};

TEST_F(SaeInteropTest, StationAndIndependentAccessPointAgree) {
  std::uniform_int_distribution<int> Byte(0, 255), Length(1, 63), Printable(0x21, 0x7E);
  std::mt19937 Choice(2024);
  for (int Round = 0; Round < 10; ++Round) {
    Mac StaMac, ApMac;
    for (size_t i = 0; i < 6; ++i) {
      StaMac[i] = static_cast<UINT8>(Byte(Choice));
      ApMac[i] = static_cast<UINT8>(Byte(Choice));
    }
    std::string Password(static_cast<size_t>(Length(Choice)), ' ');
    for (char &Character : Password) {
      Character = static_cast<char>(Printable(Choice));
    }
    Station &Sta = Prepare(Password, Password, StaMac, ApMac);
    Bytes StationCommit = Sta.Commit();
    ASSERT_EQ(Ap_->AcceptCommit(StationCommit.data(), StationCommit.size()), SAE_VERDICT::Ok) << Password;
    ASSERT_TRUE(StatusIs(Sta.TakeCommit(ApCommit()), EFI_SUCCESS)) << Password;
    EXPECT_EQ(Bytes(Sta.Sae().SaePmk, Sta.Sae().SaePmk + 32), Bytes(Ap_->Pmk(), Ap_->Pmk() + 32)) << Password;
    EXPECT_EQ(Bytes(Sta.Sae().SaeKck, Sta.Sae().SaeKck + 32), Bytes(Ap_->Kck(), Ap_->Kck() + 32)) << Password;
    Bytes StationConfirm = Sta.Confirm();
    EXPECT_EQ(Ap_->AcceptConfirm(StationConfirm.data(), StationConfirm.size()), SAE_VERDICT::Ok) << Password;
    // The access point counts its send-confirm from 1, the station from 0:
    // neither side may care.
    EXPECT_TRUE(StatusIs(Sta.TakeConfirm(ApConfirm()), EFI_SUCCESS)) << Password;
    EXPECT_TRUE(Ap_->Confirmed());
    EXPECT_EQ(Bytes(Sta.Record()->Pmk, Sta.Record()->Pmk + 32), Bytes(Ap_->Pmk(), Ap_->Pmk() + 32));
  }
}

TEST_F(SaeInteropTest, WrongPasswordFailsAtTheConfirms) {
  Station &Sta = Prepare("station's idea", "access point's idea", STATION_A, STATION_B);
  Bytes StationCommit = Sta.Commit();
  ASSERT_EQ(Ap_->AcceptCommit(StationCommit.data(), StationCommit.size()), SAE_VERDICT::Ok);
  ASSERT_TRUE(StatusIs(Sta.TakeCommit(ApCommit()), EFI_SUCCESS));
  Bytes StationConfirm = Sta.Confirm();
  EXPECT_EQ(Ap_->AcceptConfirm(StationConfirm.data(), StationConfirm.size()), SAE_VERDICT::BadConfirm);
  EXPECT_TRUE(StatusIs(Sta.TakeConfirm(ApConfirm()), EFI_BUFFER_TOO_SMALL));
}

TEST_F(SaeInteropTest, EachSideRefusesItsOwnCommitReflected) {
  Station &Sta = Prepare("mirror mirror", "mirror mirror", STATION_A, STATION_B);
  Bytes StationCommit = Sta.Commit();
  Bytes AccessPointCommit = ApCommit();
  EXPECT_EQ(Sta.TakeCommit(StationCommit), SAE_COMMIT_BAD_ELEMENT);
  EXPECT_EQ(Ap_->AcceptCommit(AccessPointCommit.data(), AccessPointCommit.size()), SAE_VERDICT::Reflected);
  // The genuine exchange still completes afterwards.
  ASSERT_EQ(Ap_->AcceptCommit(StationCommit.data(), StationCommit.size()), SAE_VERDICT::Ok);
  ASSERT_TRUE(StatusIs(Sta.TakeCommit(AccessPointCommit), EFI_SUCCESS));
  Bytes StationConfirm = Sta.Confirm();
  EXPECT_EQ(Ap_->AcceptConfirm(StationConfirm.data(), StationConfirm.size()), SAE_VERDICT::Ok);
  // A station confirm sent back is not the access point's confirm.
  Bytes Reflected = StationConfirm;
  EXPECT_TRUE(StatusIs(Sta.TakeConfirm(Reflected), EFI_BUFFER_TOO_SMALL));
  EXPECT_TRUE(StatusIs(Sta.TakeConfirm(ApConfirm()), EFI_SUCCESS));
}

// A transition-mode network falls back from SAE to WPA2 on the same child:
// the same password set again under the PSK AKM keys from the password, not
// from the SAE exchange that came before.
TEST_F(SaeInteropTest, FallingBackToThePassPhraseReplacesTheSaePmk) {
  const std::string Password = "transition mode";
  Station &Sta = Prepare(Password, Password, STATION_A, STATION_B);
  EFI_80211_SSID Ssid = {};
  Ssid.SSIdLen = 6;
  std::memcpy(Ssid.SSId, "Office", 6);
  const UINT8 *SsidBytes = reinterpret_cast<const UINT8 *>(&Ssid);
  ASSERT_TRUE(StatusIs(Sta.Set(EfiSupplicant80211TargetSSIDName, Bytes(SsidBytes, SsidBytes + sizeof(Ssid))),
                       EFI_SUCCESS));
  Bytes StationCommit = Sta.Commit();
  ASSERT_EQ(Ap_->AcceptCommit(StationCommit.data(), StationCommit.size()), SAE_VERDICT::Ok);
  ASSERT_TRUE(StatusIs(Sta.TakeCommit(ApCommit()), EFI_SUCCESS));
  Sta.Confirm();
  ASSERT_EQ(Bytes(Sta.Record()->Pmk, Sta.Record()->Pmk + 32), Bytes(Ap_->Pmk(), Ap_->Pmk() + 32));

  ASSERT_TRUE(StatusIs(Sta.Set(EfiSupplicant80211AKMSuite, Bytes{1, 0, 0x00, 0x0F, 0xAC, 2}), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(Sta.Set(EfiSupplicant80211PskPassword, Bytes(Password.begin(), Password.end())), EFI_SUCCESS));
  UINT8 PassPhrasePmk[32];
  ASSERT_EQ(psk_from_passphrase(Password.data(), Password.size(), "Office", 6, PassPhrasePmk), 1);
  EXPECT_EQ(Bytes(Sta.Record()->Pmk, Sta.Record()->Pmk + 32), Bytes(PassPhrasePmk, PassPhrasePmk + 32));
  UINTN Size = 32;
  UINT8 Read[32];
  ASSERT_TRUE(StatusIs(Sta.Record()->Supplicant.GetData(&Sta.Record()->Supplicant, EfiSupplicant80211PMK, Read, &Size),
                       EFI_SUCCESS));
  EXPECT_EQ(Bytes(Read, Read + 32), Bytes(PassPhrasePmk, PassPhrasePmk + 32));
}

}  // namespace
}  // namespace sae_test
