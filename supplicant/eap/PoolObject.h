// C++ objects in pool memory: construction by placement over a zeroed pool
// block, destruction followed by clearing and freeing the block. The only
// way driver code makes objects with constructors at run time.
#pragma once
#include <uefi/Base.h>
#include <Library/MemoryAllocationLib.h>

#if defined(__STDC_HOSTED__) && __STDC_HOSTED__
#include <new>
#else
// The freestanding image has no <new>; this is the one form it needs.
inline void *operator new(decltype(sizeof(0)), void *Place) noexcept { return Place; }
#endif

// A new T in pool memory, or NULL when the pool is exhausted.
template <typename T>
T *PoolNew() {
  VOID *Memory = AllocateZeroPool(sizeof(T));
  if (Memory == nullptr) {
    return nullptr;
  }
  return new (Memory) T();
}

// Destroys the object and returns its memory, cleared, to the pool.
template <typename T>
VOID PoolDelete(T *Object) {
  if (Object == nullptr) {
    return;
  }
  Object->~T();
  FreePoolSecure(Object, sizeof(T));
}
