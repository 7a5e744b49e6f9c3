// The personal-only driver (NORV_ENTERPRISE off, or the personal image of an
// enterprise build): no 802.1X AKM, EAP frames refused as before EAP-TLS
// existed, and the EAP configuration still kept.
#include <TestSupport/HostEnvTest.h>

#include "EapStationTest.h"

namespace {

using namespace eap_test;
using TestSupport::StatusIs;

class PersonalDriver : public EapStationTest {};

TEST_F(PersonalDriver, Ieee8021xAkmsAreNeitherAcceptedNorListed) {
  for (UINT8 Akm : {UINT8{1}, UINT8{5}}) {
    const UINT8 Suite[6] = {1, 0, 0x00, 0x0F, 0xAC, Akm};
    EXPECT_EQ(Set(EfiSupplicant80211AKMSuite, Suite, 6), EFI_UNSUPPORTED);
  }
  UINT8 List[32] = {};
  UINTN Size = 0;
  ASSERT_EQ(Supplicant_->GetData(Supplicant_, EfiSupplicant80211SupportedAKMSuites, List, &Size),
            EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(Size, 19u);
  Size = sizeof(List);
  ASSERT_EQ(Supplicant_->GetData(Supplicant_, EfiSupplicant80211SupportedAKMSuites, List, &Size), EFI_SUCCESS);
  EXPECT_EQ(Bytes(List, List + 14), Bytes({3, 0, 0x00, 0x50, 0xF2, 2, 0x00, 0x0F, 0xAC, 2, 0x00, 0x0F, 0xAC, 8}));
}

TEST_F(PersonalDriver, EapFramesAreRefusedAsEveryFrameButEapolKey) {
  Bytes Identity = IdentityRequest(1);
  UINT8 Out[256];
  UINTN Size = sizeof(Out);
  EXPECT_EQ(Supplicant_->BuildResponsePacket(Supplicant_, Identity.data(), Identity.size(), Out, &Size),
            EFI_UNSUPPORTED);  // no AKM yet, as for any frame
  ConfigureNetwork(2);
  ConfigureEap(EcCredentials());
  for (const Bytes &Frame : {IdentityRequest(1), TlsStart(2), SuccessFrame(2), FailureFrame(2)}) {
    Bytes Before = Snapshot();
    ANSWER Answer = Respond(Frame);
    EXPECT_TRUE(StatusIs(Answer.Status, EFI_PROTOCOL_ERROR));
    EXPECT_TRUE(Snapshot() == Before);
  }
  EXPECT_EQ(PaeState(), (UINT32)EfiEapolSupplicantAcquired);
}

TEST_F(PersonalDriver, TheEapConfigurationIsStillKept) {
  ConfigureEap(EcCredentials());
  EXPECT_EQ(Record()->EapIdentitySize, sizeof(eap_test::Identity) - 1);
  EXPECT_EQ(Record()->EapCaCert, eap_test_pki::RootEcCertPem);
  EXPECT_EQ(Record()->EapCaCertSize, sizeof(eap_test_pki::RootEcCertPem));
  EXPECT_EQ(Record()->EapPrivateKeySize, sizeof(eap_test_pki::ClientEcKeyPem));
  EXPECT_EQ(Record()->EapAuthMethod, EFI_EAP_TYPE_EAPTLS);
}

}  // namespace
