#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/UefiLib.h>

VOID *AllocatePoolOfType(EFI_MEMORY_TYPE Type, UINTN Size) {
  VOID *Buffer = nullptr;
  if (EFI_ERROR(gBS->AllocatePool(Type, Size, &Buffer))) {
    return nullptr;
  }
  return Buffer;
}

VOID *AllocateZeroPoolOfType(EFI_MEMORY_TYPE Type, UINTN Size) {
  VOID *Buffer = AllocatePoolOfType(Type, Size);
  if (Buffer != nullptr) {
    ZeroMem(Buffer, Size);
  }
  return Buffer;
}

VOID *AllocatePool(UINTN Size) { return AllocatePoolOfType(EfiBootServicesData, Size); }

VOID *AllocateZeroPool(UINTN Size) { return AllocateZeroPoolOfType(EfiBootServicesData, Size); }

VOID FreePool(VOID *Buffer) {
  EFI_STATUS Status = gBS->FreePool(Buffer);
  ASSERT(!EFI_ERROR(Status));
}

VOID FreePoolSecure(VOID *Buffer, UINTN Size) {
  SecureZeroMem(Buffer, Size);
  FreePool(Buffer);
}
