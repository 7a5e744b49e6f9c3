#include "XchPcd.h"

#include <Library/BaseMemoryLib.h>
#include <Library/UefiLib.h>
#include <uefi/Protocol/Pcd.h>

namespace {
constinit PCD_PROTOCOL     *mPcd = nullptr;
constinit EFI_PCD_PROTOCOL *mEfiPcd = nullptr;

PCD_PROTOCOL *Pcd() {
  if (mPcd == nullptr) {
    VOID *Interface = nullptr;
    if (!EFI_ERROR(gBS->LocateProtocol(&gPcdProtocolGuid, nullptr, &Interface))) {
      mPcd = static_cast<PCD_PROTOCOL *>(Interface);
    }
  }
  return mPcd;
}

EFI_PCD_PROTOCOL *EfiPcd() {
  if (mEfiPcd == nullptr) {
    VOID *Interface = nullptr;
    if (!EFI_ERROR(gBS->LocateProtocol(&gEfiPcdProtocolGuid, nullptr, &Interface))) {
      mEfiPcd = static_cast<EFI_PCD_PROTOCOL *>(Interface);
    }
  }
  return mEfiPcd;
}
}  // namespace

UINT8 XchPcdGet8(UINTN TokenNumber) { return Pcd() != nullptr ? Pcd()->Get8(TokenNumber) : 0; }
UINT16 XchPcdGet16(UINTN TokenNumber) { return Pcd() != nullptr ? Pcd()->Get16(TokenNumber) : 0; }
UINT32 XchPcdGet32(UINTN TokenNumber) { return Pcd() != nullptr ? Pcd()->Get32(TokenNumber) : 0; }
UINT64 XchPcdGet64(UINTN TokenNumber) { return Pcd() != nullptr ? Pcd()->Get64(TokenNumber) : 0; }
VOID *XchPcdGetPtr(UINTN TokenNumber) { return Pcd() != nullptr ? Pcd()->GetPtr(TokenNumber) : nullptr; }
BOOLEAN XchPcdGetBool(UINTN TokenNumber) { return Pcd() != nullptr ? Pcd()->GetBool(TokenNumber) : FALSE; }
UINTN XchPcdGetSize(UINTN TokenNumber) { return Pcd() != nullptr ? Pcd()->GetSize(TokenNumber) : 0; }

EFI_STATUS XchPcdSet8(UINTN TokenNumber, UINT8 Value) {
  return Pcd() != nullptr ? Pcd()->Set8(TokenNumber, Value) : EFI_NOT_FOUND;
}
EFI_STATUS XchPcdSet32(UINTN TokenNumber, UINT32 Value) {
  return Pcd() != nullptr ? Pcd()->Set32(TokenNumber, Value) : EFI_NOT_FOUND;
}
EFI_STATUS XchPcdSet64(UINTN TokenNumber, UINT64 Value) {
  return Pcd() != nullptr ? Pcd()->Set64(TokenNumber, Value) : EFI_NOT_FOUND;
}
EFI_STATUS XchPcdSetPtr(UINTN TokenNumber, UINTN *SizeOfBuffer, VOID *Buffer) {
  return Pcd() != nullptr ? Pcd()->SetPtr(TokenNumber, SizeOfBuffer, Buffer) : EFI_NOT_FOUND;
}

UINT64 XchPcdGet64Ex(const EFI_GUID *TokenSpace, UINTN TokenNumber) {
  return EfiPcd() != nullptr ? EfiPcd()->Get64(TokenSpace, TokenNumber) : 0;
}

UINTN XchPcdCopyPtr(UINTN TokenNumber, VOID *Buffer, UINTN Size) {
  const VOID *Source = XchPcdGetPtr(TokenNumber);
  if (Source == nullptr) {
    return 0;
  }
  UINTN Available = XchPcdGetSize(TokenNumber);
  UINTN Count = Size < Available ? Size : Available;
  CopyMem(Buffer, Source, Count);
  return Count;
}

VOID XchPcdResetState() {
  mPcd = nullptr;
  mEfiPcd = nullptr;
}
