// Branch-free helpers for the SAE steps whose timing must not depend on
// secrets: which hunting-and-pecking counter succeeded, the parity chosen for
// y, and whether a confirm value matched.
//
// Flags are 0 or 1; masks are 0x00 or 0xFF. The empty asm statements hide the
// values from the optimiser so that it cannot turn the arithmetic back into
// branches.
#pragma once
#include <uefi/Base.h>

namespace sae_ct {

inline UINT32 Opaque(UINT32 Value) {
  __asm__("" : "+r"(Value));
  return Value;
}

// 1 when Value is non-zero, else 0.
inline UINT8 IsNonZero(UINT32 Value) {
  Value = Opaque(Value);
  return static_cast<UINT8>((Value | (0u - Value)) >> 31);
}

// 1 when A == B, else 0.
inline UINT8 IsEqual(INT32 A, INT32 B) {
  return static_cast<UINT8>(1u ^ IsNonZero(static_cast<UINT32>(A) ^ static_cast<UINT32>(B)));
}

// 0xFF for flag 1, 0x00 for flag 0.
inline UINT8 MaskFromFlag(UINT8 Flag) { return static_cast<UINT8>(0u - Opaque(Flag & 1u)); }

// Flag ? IfSet : IfClear.
inline UINT8 Select(UINT8 Flag, UINT8 IfSet, UINT8 IfClear) {
  UINT8 Mask = MaskFromFlag(Flag);
  return static_cast<UINT8>((IfSet & Mask) | (IfClear & static_cast<UINT8>(~Mask)));
}

// 1 when the Length-byte big-endian number A is below B, else 0; every byte
// is looked at.
inline UINT8 IsLessBigEndian(const UINT8 *A, const UINT8 *B, UINTN Length) {
  UINT32 Less = 0;
  // From the least significant byte up: a higher byte that differs decides.
  for (UINTN Index = Length; Index-- > 0;) {
    UINT32 Difference = static_cast<UINT32>(A[Index]) - static_cast<UINT32>(B[Index]);  // borrow in bit 31
    UINT32 Equal = 1u ^ IsNonZero(Difference);
    Less = (Less & Equal) | ((Difference >> 31) & 1u);
  }
  return static_cast<UINT8>(Opaque(Less));
}

// 1 when the Length bytes of A and B are the same, else 0; every byte is
// looked at.
inline UINT8 IsEqualBytes(const UINT8 *A, const UINT8 *B, UINTN Length) {
  UINT32 Accumulated = 0;
  for (UINTN Index = 0; Index < Length; ++Index) {
    Accumulated |= static_cast<UINT32>(A[Index] ^ B[Index]);
  }
  return static_cast<UINT8>(1u ^ IsNonZero(Accumulated));
}

}  // namespace sae_ct
