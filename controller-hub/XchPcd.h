// Access to the platform configuration database through PCD_PROTOCOL
// (token numbers of the default space) and EFI_PCD_PROTOCOL (named token
// spaces). Each protocol is located on first use and kept once found. Without
// the protocol a read gives 0 (NULL, FALSE) and a write EFI_NOT_FOUND.
#pragma once
#include <uefi/Base.h>

UINT8   XchPcdGet8(UINTN TokenNumber);
UINT16  XchPcdGet16(UINTN TokenNumber);
UINT32  XchPcdGet32(UINTN TokenNumber);
UINT64  XchPcdGet64(UINTN TokenNumber);
VOID   *XchPcdGetPtr(UINTN TokenNumber);
BOOLEAN XchPcdGetBool(UINTN TokenNumber);
UINTN   XchPcdGetSize(UINTN TokenNumber);

EFI_STATUS XchPcdSet8(UINTN TokenNumber, UINT8 Value);
EFI_STATUS XchPcdSet32(UINTN TokenNumber, UINT32 Value);
EFI_STATUS XchPcdSet64(UINTN TokenNumber, UINT64 Value);
EFI_STATUS XchPcdSetPtr(UINTN TokenNumber, UINTN *SizeOfBuffer, VOID *Buffer);

// EFI_PCD_PROTOCOL Get64 of a token in a named token space.
UINT64 XchPcdGet64Ex(const EFI_GUID *TokenSpace, UINTN TokenNumber);

// Copies at most Size bytes of a pointer PCD into Buffer, never more than the
// PCD holds; returns the number of bytes copied.
UINTN XchPcdCopyPtr(UINTN TokenNumber, VOID *Buffer, UINTN Size);

VOID XchPcdResetState();
