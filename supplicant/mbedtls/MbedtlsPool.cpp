// mbedtls memory hooks on the UEFI pool.
#include "SupMbedtlsConfig.h"

#include <Library/MemoryAllocationLib.h>

extern "C" void *sup_mbedtls_calloc(size_t Count, size_t Size) {
  if (Size != 0 && Count > static_cast<size_t>(-1) / Size) {
    return nullptr;
  }
  // A zero-byte request still gets a distinct block, as calloc may give, so
  // that mbedtls never mistakes it for exhaustion.
  size_t Bytes = Count * Size;
  return AllocateZeroPool(Bytes == 0 ? 1 : Bytes);
}

extern "C" void sup_mbedtls_free(void *Block) {
  if (Block != nullptr) {
    FreePool(Block);
  }
}
