// SetData's size rule on a child of the driver in the host environment: a
// buffer one byte short of what a data type needs is refused before any byte
// of it is read, and the record stays as it was.
#include <TestSupport/HostEnvTest.h>

#include <cstring>
#include <string>
#include <vector>

#include "SupProtocol.h"
#include "uefi_sup.h"

namespace {

using Bytes = std::vector<UINT8>;
using TestSupport::StatusIs;

class ConfigStore : public TestSupport::HostEnvTest {
 protected:
  void SetUp() override {
    HostEnvTest::SetUp();
    Image_ = Env().LoadImage(NorvSupDxeModuleEntry);
    ASSERT_TRUE(StatusIs(Env().StartImage(Image_), EFI_SUCCESS));
    BS()->LocateProtocol(&gEfiSupplicantServiceBindingProtocolGuid, nullptr, reinterpret_cast<VOID **>(&Service_));
    ASSERT_TRUE(StatusIs(Service_->CreateChild(Service_, &Child_), EFI_SUCCESS));
    Supplicant_ = static_cast<EFI_SUPPLICANT_PROTOCOL *>(Env().FindInterface(Child_, gEfiSupplicantProtocolGuid));
  }
  void TearDown() override {
    EXPECT_TRUE(StatusIs(Service_->DestroyChild(Service_, Child_), EFI_SUCCESS));
    EXPECT_TRUE(StatusIs(Env().UnloadImage(Image_), EFI_SUCCESS));
    HostEnvTest::TearDown();
  }
  Bytes Snapshot() const {
    const auto *Begin = reinterpret_cast<const UINT8 *>(SUP_INSTANCE_FROM_SUPPLICANT(Supplicant_));
    return Bytes(Begin, Begin + sizeof(SUP_INSTANCE));
  }
  EFI_STATUS Set(EFI_SUPPLICANT_DATA_TYPE Type, Bytes &Data, UINTN Size) {
    return Supplicant_->SetData(Supplicant_, Type, Data.data(), Size);
  }

  EFI_HANDLE Image_ = nullptr, Child_ = nullptr;
  EFI_SERVICE_BINDING_PROTOCOL *Service_ = nullptr;
  EFI_SUPPLICANT_PROTOCOL *Supplicant_ = nullptr;
};

struct SIZED_TYPE {
  EFI_SUPPLICANT_DATA_TYPE Type;
  UINTN                    Needed;
};

TEST_F(ConfigStore, OneByteShortIsRefusedAndChangesNothing) {
  // Each value would be accepted at its full size: an RSN suite selector,
  // an SSID, addresses, a PMK, the MFP pair, a confirm body.
  const SIZED_TYPE Types[] = {
      {EfiSupplicant80211AKMSuite, 6},         {EfiSupplicant80211GroupDataCipherSuite, 6},
      {EfiSupplicant80211PairwiseCipherSuite, 6}, {EfiSupplicant80211PskPassword, 1},
      {EfiSupplicant80211TargetSSIDName, sizeof(EFI_80211_SSID)}, {EfiSupplicant80211StationMac, 6},
      {EfiSupplicant80211TargetSSIDMac, 6},    {EfiSupplicant80211PMK, 32},
      {EfiSupplicant80211GroupMgmtCipherSuite, 6}, {EfiSupplicant80211MfpCapability, 2},
      {EfiSupplicantSaeConfirm, 34},
  };
  for (const SIZED_TYPE &Row : Types) {
    SCOPED_TRACE(Row.Type);
    Bytes Data(sizeof(EFI_80211_SSID), 0);
    const UINT8 RsnCcmp[] = {1, 0, 0x00, 0x0F, 0xAC, 4};
    std::memcpy(Data.data(), RsnCcmp, sizeof(RsnCcmp));
    Bytes Before = Snapshot();
    EXPECT_TRUE(StatusIs(Set(Row.Type, Data, Row.Needed - 1), EFI_BUFFER_TOO_SMALL));
    EXPECT_TRUE(Snapshot() == Before) << "the record changed";
  }
}

TEST_F(ConfigStore, PasswordsLoseOneTerminatingNulWhateverTheirLength) {
  SUP_INSTANCE *Record = SUP_INSTANCE_FROM_SUPPLICANT(Supplicant_);
  const std::string Passwords[] = {"a", "12345", "1234567", "eight ch", std::string(63, 'p')};
  for (const std::string &Password : Passwords) {
    SCOPED_TRACE(Password);
    Bytes WithNul(Password.begin(), Password.end());
    WithNul.push_back(0);
    ASSERT_TRUE(StatusIs(Set(EfiSupplicant80211PskPassword, WithNul, WithNul.size()), EFI_SUCCESS));
    EXPECT_EQ(Bytes(Record->Password, Record->Password + Record->PasswordLen), Bytes(Password.begin(), Password.end()));
  }
  Bytes SixtyFour(64, 'p');
  EXPECT_TRUE(StatusIs(Set(EfiSupplicant80211PskPassword, SixtyFour, SixtyFour.size()), EFI_BUFFER_TOO_SMALL));
}

}  // namespace
