#include "SuiteSupport.h"

#include <Library/BaseLib.h>

#include "crypto/Sha256.h"

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

TestRandom::TestRandom() {
  EFI_TIME Now = {};
  gRT->GetTime(&Now, nullptr);
  CopyMem(Seed_, &Now, sizeof(Seed_));
}

VOID TestRandom::Fill(VOID *Context, UINT8 *Buffer, UINTN Length) {
  auto *State = static_cast<TestRandom *>(Context);
  while (Length > 0) {
    ++State->Counter_;
    const UINT8 *Parts[] = {State->Seed_, reinterpret_cast<const UINT8 *>(&State->Counter_)};
    const UINTN Lengths[] = {sizeof(State->Seed_), sizeof(State->Counter_)};
    UINT8 Block[SHA256_DIGEST_SIZE];
    sha256_digest_vec(2, Parts, Lengths, Block);
    UINTN Take = Length < sizeof(Block) ? Length : sizeof(Block);
    CopyMem(Buffer, Block, Take);
    Buffer += Take;
    Length -= Take;
  }
}

bool DriverOffersEapTls(const TestChild &Child, UINT8 AkmType) {
  constexpr UINT8 RsnOui[3] = {0x00, 0x0F, 0xAC};
  UINT8 List[2 + 4 * 16] = {};
  UINTN Size = sizeof(List);
  if (EFI_ERROR(Child.Get(EfiSupplicant80211SupportedAKMSuites, List, &Size)) || Size < 2) {
    return false;
  }
  UINTN Count = List[0] | (UINTN)List[1] << 8;
  bool AkmListed = false;
  for (UINTN Index = 0; Index < Count && 2 + 4 * (Index + 1) <= Size; ++Index) {
    const UINT8 *Suite = List + 2 + 4 * Index;
    AkmListed = AkmListed || (CompareMem(Suite, RsnOui, 3) == 0 && Suite[3] == AkmType);
  }
  UINT8 Methods[8] = {};
  UINTN MethodsSize = sizeof(Methods);
  EFI_EAP_CONFIGURATION_PROTOCOL *Config = Child.EapConfig();
  if (!AkmListed || EFI_ERROR(Config->GetData(Config, EFI_EAP_TYPE_ATTRIBUTE, EfiEapConfigEapSupportedAuthMethod,
                                              Methods, &MethodsSize))) {
    return false;
  }
  for (UINTN Index = 0; Index < MethodsSize && Index < sizeof(Methods); ++Index) {
    if (Methods[Index] == EFI_EAP_TYPE_EAPTLS) {
      return true;
    }
  }
  return false;
}
