#include <Library/BaseMemoryLib.h>

VOID *CopyMem(VOID *Destination, const VOID *Source, UINTN Length) {
  return __builtin_memmove(Destination, Source, Length);
}

VOID *SetMem(VOID *Buffer, UINTN Length, UINT8 Value) { return __builtin_memset(Buffer, Value, Length); }

VOID *ZeroMem(VOID *Buffer, UINTN Length) { return __builtin_memset(Buffer, 0, Length); }

INTN CompareMem(const VOID *First, const VOID *Second, UINTN Length) {
  const UINT8 *A = static_cast<const UINT8 *>(First);
  const UINT8 *B = static_cast<const UINT8 *>(Second);
  for (UINTN Index = 0; Index < Length; ++Index) {
    if (A[Index] != B[Index]) {
      return (INTN)A[Index] - (INTN)B[Index];
    }
  }
  return 0;
}

VOID SecureZeroMem(VOID *Buffer, UINTN Length) {
  volatile UINT8 *Bytes = static_cast<volatile UINT8 *>(Buffer);
  for (UINTN Index = 0; Index < Length; ++Index) {
    Bytes[Index] = 0;
  }
}

BOOLEAN CompareGuid(const EFI_GUID *First, const EFI_GUID *Second) { return *First == *Second; }
