// Small helpers shared by the crypto primitives: big/little-endian loads and
// stores, rotations, and buffer copies that work the same in the hosted and
// the freestanding build (the compiler builtins become inline code or calls
// to the image's own memcpy/memset).
#pragma once
#include <uefi/Base.h>

namespace crypto_util {

inline UINT32 RotateLeft32(UINT32 Value, unsigned Count) {
  return (Value << Count) | (Value >> ((32 - Count) & 31));
}

inline UINT32 RotateRight32(UINT32 Value, unsigned Count) {
  return (Value >> Count) | (Value << ((32 - Count) & 31));
}

inline UINT32 LoadBe32(const UINT8 *Bytes) {
  return ((UINT32)Bytes[0] << 24) | ((UINT32)Bytes[1] << 16) | ((UINT32)Bytes[2] << 8) | Bytes[3];
}

inline UINT32 LoadLe32(const UINT8 *Bytes) {
  return ((UINT32)Bytes[3] << 24) | ((UINT32)Bytes[2] << 16) | ((UINT32)Bytes[1] << 8) | Bytes[0];
}

inline void StoreBe32(UINT8 *Bytes, UINT32 Value) {
  Bytes[0] = (UINT8)(Value >> 24);
  Bytes[1] = (UINT8)(Value >> 16);
  Bytes[2] = (UINT8)(Value >> 8);
  Bytes[3] = (UINT8)Value;
}

inline void StoreLe32(UINT8 *Bytes, UINT32 Value) {
  Bytes[0] = (UINT8)Value;
  Bytes[1] = (UINT8)(Value >> 8);
  Bytes[2] = (UINT8)(Value >> 16);
  Bytes[3] = (UINT8)(Value >> 24);
}

inline void StoreBe64(UINT8 *Bytes, UINT64 Value) {
  StoreBe32(Bytes, (UINT32)(Value >> 32));
  StoreBe32(Bytes + 4, (UINT32)Value);
}

inline void StoreLe64(UINT8 *Bytes, UINT64 Value) {
  StoreLe32(Bytes, (UINT32)Value);
  StoreLe32(Bytes + 4, (UINT32)(Value >> 32));
}

inline void CopyBytes(void *Destination, const void *Source, UINTN Length) {
  if (Length != 0) {
    __builtin_memcpy(Destination, Source, Length);
  }
}

inline void FillBytes(void *Destination, UINT8 Value, UINTN Length) {
  if (Length != 0) {
    __builtin_memset(Destination, Value, Length);
  }
}

// Clears secrets so that the store cannot be optimised away as dead.
inline void WipeBytes(void *Destination, UINTN Length) {
  if (Length != 0) {
    __builtin_memset(Destination, 0, Length);
    __asm__ __volatile__("" : : "r"(Destination) : "memory");
  }
}

template <class T>
inline void Wipe(T &Object) {
  WipeBytes(&Object, sizeof(Object));
}

inline UINTN Minimum(UINTN A, UINTN B) { return A < B ? A : B; }

}  // namespace crypto_util
