#include "SuiteSupport.h"

#include <Library/BaseLib.h>

TestChild::TestChild(TestReporter &Report) : Report_(Report) {
  if (EFI_ERROR(gBS->LocateProtocol(&gEfiSupplicantServiceBindingProtocolGuid, nullptr,
                                    reinterpret_cast<VOID **>(&Service_))) ||
      EFI_ERROR(Service_->CreateChild(Service_, &Handle_))) {
    Report_.Check(false, "child.create");
    return;
  }
  gBS->HandleProtocol(Handle_, &gEfiSupplicantProtocolGuid, reinterpret_cast<VOID **>(&Supplicant_));
  gBS->HandleProtocol(Handle_, &gEfiEapConfigurationProtocolGuid, reinterpret_cast<VOID **>(&EapConfig_));
}

TestChild::~TestChild() {
  if (Service_ != nullptr && Handle_ != nullptr && EFI_ERROR(Service_->DestroyChild(Service_, Handle_))) {
    Report_.Check(false, "child.destroy");
  }
}

SUP_INSTANCE *TestChild::Record() const {
  return reinterpret_cast<SUP_INSTANCE *>(reinterpret_cast<UINT8 *>(Supplicant_) -
                                          offsetof(SUP_INSTANCE, Supplicant));
}

bool TestChild::Configure(const UINT8 *AkmOui, UINT8 AkmType, UINT8 Cipher, const CHAR8 *Ssid,
                          const CHAR8 *Passphrase, const UINT8 *StationMac, const UINT8 *TargetMac) const {
  OneSuite Akm(AkmOui, AkmType);
  const UINT8 *CipherOui = AkmOui;
  OneSuite Pairwise(CipherOui, Cipher), GroupSuite(CipherOui, Cipher);
  EFI_80211_SSID SsidRecord = MakeSsid(Ssid);
  return !EFI_ERROR(Set(EfiSupplicant80211AKMSuite, Akm.Bytes, sizeof(Akm.Bytes))) &&
         !EFI_ERROR(Set(EfiSupplicant80211PairwiseCipherSuite, Pairwise.Bytes, sizeof(Pairwise.Bytes))) &&
         !EFI_ERROR(Set(EfiSupplicant80211GroupDataCipherSuite, GroupSuite.Bytes, sizeof(GroupSuite.Bytes))) &&
         !EFI_ERROR(Set(EfiSupplicant80211TargetSSIDName, &SsidRecord, sizeof(SsidRecord))) &&
         !EFI_ERROR(Set(EfiSupplicant80211TargetSSIDMac, TargetMac, 6)) &&
         !EFI_ERROR(Set(EfiSupplicant80211StationMac, StationMac, 6)) &&
         !EFI_ERROR(Set(EfiSupplicant80211PskPassword, Passphrase, AsciiStrLen(Passphrase)));
}

EFI_80211_SSID MakeSsid(const CHAR8 *Text) {
  EFI_80211_SSID Ssid = {};
  UINTN Length = AsciiStrLen(Text);
  Ssid.SSIdLen = static_cast<UINT8>(Length);
  CopyMem(Ssid.SSId, Text, Length <= 32 ? Length : 32);
  return Ssid;
}
