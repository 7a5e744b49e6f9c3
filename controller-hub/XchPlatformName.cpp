#include "XchPlatformName.h"

#include <uefi/Protocol/S3SaveState.h>

#include "QuorS3SaveLib.h"
#include "XchPcd.h"

static_assert(XchPlatformNameTable[0].PciAddress == EfiBootScriptPciAddress(0, 8, 2, 0x18));

bool XchPlatformNameMatches(const CHAR16 *Name, const CHAR16 *Wanted) {
  for (UINTN Index = 0;; ++Index) {
    if (Name[Index] != Wanted[Index]) {
      return false;
    }
    if (Name[Index] == 0) {
      return true;
    }
  }
}

EFI_STATUS XchPlatformNameCheck() {
  const auto *Name = static_cast<const CHAR16 *>(XchPcdGetPtr(XCH_PCD_PLATFORM_NAME));
  EFI_S3_SAVE_STATE_PROTOCOL *S3SaveState = QuorS3SaveState();
  if (Name == nullptr || S3SaveState == nullptr) {
    return EFI_NOT_FOUND;
  }
  for (const XCH_PLATFORM_NAME_ROW &Row : XchPlatformNameTable) {
    if (XchPlatformNameMatches(Name, Row.Name)) {
      UINT64 Value = Row.Value;
      S3SaveState->Write(S3SaveState, EFI_BOOT_SCRIPT_PCI_CONFIG_WRITE_OPCODE,
                         static_cast<EFI_BOOT_SCRIPT_WIDTH>(Row.Width), Row.PciAddress, static_cast<UINTN>(1),
                         &Value);
    }
  }
  return EFI_SUCCESS;
}
