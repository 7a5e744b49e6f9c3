// Pool allocation through the boot services, with owning wrappers.
#pragma once
#include <uefi/Base.h>
#include <uefi/SystemTable.h>

VOID *AllocatePool(UINTN Size);                      // EfiBootServicesData
VOID *AllocateZeroPool(UINTN Size);                  // EfiBootServicesData, zero-filled
VOID *AllocatePoolOfType(EFI_MEMORY_TYPE Type, UINTN Size);
VOID *AllocateZeroPoolOfType(EFI_MEMORY_TYPE Type, UINTN Size);
VOID  FreePool(VOID *Buffer);                        // Buffer may not be NULL
// Zeroes Size bytes of Buffer before releasing it (secrets).
VOID  FreePoolSecure(VOID *Buffer, UINTN Size);

// Owns one pool block; frees it (zeroing first when Secure) when it goes out
// of scope. Not copyable; movable.
template <typename T, bool Secure = false>
class PoolPtr {
 public:
  PoolPtr() = default;
  explicit PoolPtr(T *Pointer, UINTN Size = sizeof(T)) : Pointer_(Pointer), Size_(Size) {}
  PoolPtr(const PoolPtr &) = delete;
  PoolPtr &operator=(const PoolPtr &) = delete;
  PoolPtr(PoolPtr &&Other) : Pointer_(Other.Pointer_), Size_(Other.Size_) { Other.Pointer_ = nullptr; }
  PoolPtr &operator=(PoolPtr &&Other) {
    if (this != &Other) {
      Reset();
      Pointer_ = Other.Pointer_;
      Size_ = Other.Size_;
      Other.Pointer_ = nullptr;
    }
    return *this;
  }
  ~PoolPtr() { Reset(); }

  // Allocates Count zero-filled objects' worth of pool memory.
  static PoolPtr Zeroed(UINTN Count = 1) {
    UINTN Bytes = Count * sizeof(T);
    return PoolPtr(static_cast<T *>(AllocateZeroPool(Bytes)), Bytes);
  }

  T *Get() const { return Pointer_; }
  T *operator->() const { return Pointer_; }
  T &operator*() const { return *Pointer_; }
  T &operator[](UINTN Index) const { return Pointer_[Index]; }
  explicit operator bool() const { return Pointer_ != nullptr; }
  UINTN Size() const { return Size_; }

  // Gives up ownership without freeing.
  T *Release() {
    T *Pointer = Pointer_;
    Pointer_ = nullptr;
    return Pointer;
  }
  void Reset() {
    if (Pointer_ != nullptr) {
      if constexpr (Secure) {
        FreePoolSecure(Pointer_, Size_);
      } else {
        FreePool(Pointer_);
      }
      Pointer_ = nullptr;
    }
  }

 private:
  T    *Pointer_ = nullptr;
  UINTN Size_    = 0;
};

template <typename T>
using SecurePoolPtr = PoolPtr<T, true>;
