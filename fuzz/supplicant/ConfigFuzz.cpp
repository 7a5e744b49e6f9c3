// Arbitrary sequences of SetData and GetData on one child. After every call
// the record must still be sound (lengths within their fields, the own
// element one of its three forms, enumerations within their values), GetData
// must not write past *DataSize, and destroying the child must leave no pool
// block behind.
#include <HostEnv/Environment.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "SupInstance.h"
#include "uefi_sup.h"

namespace {

constexpr size_t GuardBytes = 32;
constexpr UINT8 GuardValue = 0xC7;

struct Input {
  const UINT8 *Data;
  size_t       Size;
  size_t       Offset = 0;
  bool         Empty() const { return Offset >= Size; }
  UINT8        Byte() { return Offset < Size ? Data[Offset++] : 0; }
};

[[noreturn]] void Fail(const char *What) {
  std::fprintf(stderr, "config fuzz: %s\n", What);
  std::abort();
}

void CheckRecord(const SUP_INSTANCE *Record) {
  if (Record->Signature != SUP_INSTANCE_SIGNATURE) Fail("signature overwritten");
  if (Record->PasswordLen > SUP_MAX_PASSWORD_LEN) Fail("pass phrase length out of range");
  if (Record->SsidLen > 32) Fail("SSID length out of range");
  if (!(Record->OwnIeLen == 0 || Record->OwnIeLen == 20 || Record->OwnIeLen == 24 || Record->OwnIeLen == 26)) {
    Fail("own element length is none of its forms");
  }
  if (Record->OwnIeLen != 0 && Record->OwnIe != Record->OwnIeBuf) Fail("own element outside its buffer");
  if (Record->Protocol < SUP_PROTOCOL_NONE || Record->Protocol > SUP_PROTOCOL_RSN) Fail("protocol out of range");
  UINT32 Akm = Record->AkmFlags;
  if (!(Akm == 0 || Akm == SUP_AKM_WPA_PSK || Akm == SUP_AKM_RSN_PSK || Akm == SUP_AKM_PSK_SHA256 ||
        Akm == SUP_AKM_SAE || Akm == SUP_AKM_8021X || Akm == SUP_AKM_8021X_SHA256)) {
    Fail("AKM flag out of range");
  }
  UINT32 Pairwise = Record->PairwiseCipher;
  if (!(Pairwise == 0 || Pairwise == SUP_CIPHER_TKIP || Pairwise == SUP_CIPHER_CCMP)) Fail("pairwise cipher");
  UINT32 Group = Record->GroupCipher;
  if (!(Group == 0 || Group == SUP_CIPHER_WEP40 || Group == SUP_CIPHER_TKIP || Group == SUP_CIPHER_CCMP ||
        Group == SUP_CIPHER_WEP104)) {
    Fail("group cipher");
  }
  const SAE_H2E_STATE &H2e = Record->SaeH2e;
  if (Record->SaePweMethod > SAE_PWE_HASH_TO_ELEMENT) Fail("SAE PWE method out of range");
  if (H2e.PasswordIdLen > SAE_MAX_PASSWORD_ID_LEN) Fail("password identifier length out of range");
  if (H2e.TokenLen > SAE_MAX_TOKEN_LEN) Fail("anti-clogging token length out of range");
  if (H2e.RejectedGroupCount > SAE_MAX_REJECTED_GROUPS) Fail("rejected group count out of range");
  for (UINTN Index = 0; Index < H2e.RejectedGroupCount; ++Index) {
    if (H2e.RejectedGroups[Index] == 0 || H2e.RejectedGroups[Index] == SAE_GROUP_P256) Fail("rejected group 0 or 19");
  }
  // A cached PT always belongs to the inputs the record holds now.
  const SAE_PT_CACHE &Pt = H2e.PtCache;
  if (Pt.Valid && (Pt.SsidLen != Record->SsidLen || Pt.PasswordLen != Record->PasswordLen ||
                   Pt.IdentifierLen != H2e.PasswordIdLen ||
                   std::memcmp(Pt.Password, Record->Password, Pt.PasswordLen) != 0 ||
                   std::memcmp(Pt.Identifier, H2e.PasswordId, Pt.IdentifierLen) != 0 ||
                   std::memcmp(Pt.Ssid, Record->Ssid, Pt.SsidLen) != 0)) {
    Fail("cached PT of other inputs");
  }
  // A beacon element held is one whole element.
  if (Record->ApRsnElementLen > SUP_ELEMENT_MAX_SIZE ||
      (Record->ApRsnElementLen != 0 && Record->ApRsnElement[1] + 2u != Record->ApRsnElementLen)) {
    Fail("beacon RSN element not one whole element");
  }
  if (Record->ApRsnxElementLen > SUP_ELEMENT_MAX_SIZE ||
      (Record->ApRsnxElementLen != 0 && Record->ApRsnxElement[1] + 2u != Record->ApRsnxElementLen)) {
    Fail("beacon RSNXE not one whole element");
  }
}

// One call: an operation byte, a data type, a size, then the bytes.
void RunCall(EFI_SUPPLICANT_PROTOCOL *Supplicant, Input &In) {
  UINT8 Operation = In.Byte();
  auto Type = static_cast<EFI_SUPPLICANT_DATA_TYPE>(In.Byte() % 34);
  size_t Size = In.Byte();
  bool NullData = (Operation & 0x80) != 0;
  std::vector<UINT8> Buffer(Size + GuardBytes, GuardValue);
  for (size_t Index = 0; Index < Size && !In.Empty(); ++Index) {
    Buffer[Index] = In.Byte();
  }
  UINT8 *Data = NullData ? nullptr : Buffer.data();
  if ((Operation & 1) == 0) {
    Supplicant->SetData(Supplicant, Type, Data, Size);
    return;
  }
  UINTN DataSize = Size;
  EFI_STATUS Status = Supplicant->GetData(Supplicant, Type, Data, &DataSize);
  for (size_t Index = Size; Index < Buffer.size(); ++Index) {
    if (Buffer[Index] != GuardValue) Fail("GetData wrote past *DataSize");
  }
  if (Status == EFI_BUFFER_TOO_SMALL && DataSize <= Size) Fail("too small, but the size reported fits");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const UINT8 *Data, size_t Size) {
  HostEnv::Options Settings;
  Settings.EchoStdErr = true;
  HostEnv::Environment Env(Settings);
  EFI_HANDLE Image = Env.LoadImage(NorvSupDxeModuleEntry);
  if (EFI_ERROR(Env.StartImage(Image))) Fail("driver did not start");
  EFI_SERVICE_BINDING_PROTOCOL *Service = nullptr;
  Env.BootServices()->LocateProtocol(&gEfiSupplicantServiceBindingProtocolGuid, nullptr,
                                     reinterpret_cast<VOID **>(&Service));
  EFI_HANDLE Child = nullptr;
  if (EFI_ERROR(Service->CreateChild(Service, &Child))) Fail("no child");
  auto *Supplicant = static_cast<EFI_SUPPLICANT_PROTOCOL *>(Env.FindInterface(Child, gEfiSupplicantProtocolGuid));
  const SUP_INSTANCE *Record = SUP_INSTANCE_FROM_SUPPLICANT(Supplicant);

  Input In{Data, Size};
  for (int Calls = 0; Calls < 64 && !In.Empty(); ++Calls) {
    RunCall(Supplicant, In);
    CheckRecord(Record);
  }

  if (EFI_ERROR(Service->DestroyChild(Service, Child))) Fail("child not destroyed");
  if (EFI_ERROR(Env.UnloadImage(Image))) Fail("driver did not unload");
  if (Env.Pool().TotalUsage().LiveBlocks != 0) Fail(Env.Pool().LeakReport().c_str());
  if (!Env.Faults().empty()) Fail(Env.Faults().front().c_str());
  return 0;
}
