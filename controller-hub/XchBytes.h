// Little-endian field access at byte offsets. The data block, the S3 save
// table and hand-off blocks put multi-byte fields at offsets that are not
// aligned to the field's size.
#pragma once
#include <uefi/Base.h>

template <typename T>
inline T XchReadField(const VOID *Base, UINTN Offset) {
  T Value;
  __builtin_memcpy(&Value, static_cast<const UINT8 *>(Base) + Offset, sizeof(T));
  return Value;
}

template <typename T>
inline VOID XchWriteField(VOID *Base, UINTN Offset, T Value) {
  __builtin_memcpy(static_cast<UINT8 *>(Base) + Offset, &Value, sizeof(T));
}
