// A fixed-size byte buffer for secrets on the stack, cleared on every path
// out of its scope.
#pragma once
#include <uefi/Base.h>
#include <Library/BaseMemoryLib.h>

template <UINTN Size>
struct SecretBuffer {
  SecretBuffer() = default;
  SecretBuffer(const SecretBuffer &) = delete;
  SecretBuffer &operator=(const SecretBuffer &) = delete;
  ~SecretBuffer() { SecureZeroMem(Bytes, Size); }

  UINT8 Bytes[Size] = {};
};
