// Memory copy, fill and compare over caller buffers.
#pragma once
#include <uefi/Base.h>

VOID *CopyMem(VOID *Destination, const VOID *Source, UINTN Length);  // overlapping ranges allowed
VOID *SetMem(VOID *Buffer, UINTN Length, UINT8 Value);
VOID *ZeroMem(VOID *Buffer, UINTN Length);
INTN  CompareMem(const VOID *First, const VOID *Second, UINTN Length);
// Clears memory in a way the optimiser may not drop: for secrets about to be released.
VOID  SecureZeroMem(VOID *Buffer, UINTN Length);
BOOLEAN CompareGuid(const EFI_GUID *First, const EFI_GUID *Second);
