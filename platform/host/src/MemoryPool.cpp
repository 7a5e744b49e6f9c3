#include <HostEnv/MemoryPool.h>
#include <HostEnv/Text.h>

#include "FaultLog.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace HostEnv {
namespace {

constexpr size_t kPageSize = 4096;
// Larger requests fail cleanly instead of letting the host (or the sanitizer
// allocator) abort.
constexpr size_t kLargestAllocation = size_t(1) << 30;

bool IsAllocatableType(UINT32 MemoryType) {
  if (MemoryType >= 0x70000000) {
    return true;  // OEM and OS loader ranges
  }
  return MemoryType < EfiMaxMemoryType && MemoryType != EfiConventionalMemory &&
         MemoryType != EfiPersistentMemory && MemoryType != EfiUnacceptedMemoryType;
}

std::string PointerText(const void *Address) {
  char Text[32];
  std::snprintf(Text, sizeof(Text), "%p", Address);
  return Text;
}

}  // namespace

MemoryPool::MemoryPool(FaultLog &Faults) : Faults_(Faults) {}

MemoryPool::~MemoryPool() {
  while (!Blocks_.empty()) {
    Release(Blocks_.begin());
  }
}

void MemoryPool::FailNthAllocation(UINT64 N) {
  Mode_      = N == 0 ? FailureMode::None : FailureMode::Nth;
  Countdown_ = N;
}

void MemoryPool::FailAllocationsAfter(UINT64 N) {
  Mode_      = FailureMode::After;
  Countdown_ = N;
}

void MemoryPool::StopFailing() { Mode_ = FailureMode::None; }

bool MemoryPool::NextAllocationFails() {
  ++Attempts_;
  bool Fails = false;
  switch (Mode_) {
    case FailureMode::None:
      break;
    case FailureMode::Nth:
      if (--Countdown_ == 0) {
        Fails = true;
        Mode_ = FailureMode::None;
      }
      break;
    case FailureMode::After:
      if (Countdown_ == 0) {
        Fails = true;
      } else {
        --Countdown_;
      }
      break;
  }
  InjectedFailures_ += Fails ? 1 : 0;
  return Fails;
}

void *MemoryPool::Track(void *Address, UINT32 MemoryType, size_t Size, BlockKind Kind) {
  std::memset(Address, kFreshMemoryFill, Size == 0 ? 1 : Size);
  Blocks_[Address] = LiveBlock{Address, MemoryType, Size, Kind, Attempts_};
  MemoryUsage &Usage = UsageByType_[MemoryType];
  Usage.LiveBlocks += 1;
  Usage.LiveBytes += Size;
  return Address;
}

void MemoryPool::Release(std::map<const void *, LiveBlock>::iterator Block) {
  MemoryUsage &Usage = UsageByType_[Block->second.MemoryType];
  Usage.LiveBlocks -= 1;
  Usage.LiveBytes -= Block->second.Size;
  std::free(const_cast<void *>(Block->first));
  Blocks_.erase(Block);
}

EFI_STATUS MemoryPool::AllocatePool(UINT32 MemoryType, UINTN Size, VOID **Buffer) {
  if (Buffer == nullptr || !IsAllocatableType(MemoryType)) {
    return EFI_INVALID_PARAMETER;
  }
  if (NextAllocationFails() || Size > kLargestAllocation) {
    return EFI_OUT_OF_RESOURCES;
  }
  // malloc alignment (16) exceeds the 8 bytes UEFI promises for pool memory.
  void *Address = std::malloc(Size == 0 ? 1 : Size);
  if (Address == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  *Buffer = Track(Address, MemoryType, Size, BlockKind::Pool);
  return EFI_SUCCESS;
}

EFI_STATUS MemoryPool::FreePool(VOID *Buffer) {
  if (Buffer == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto Block = Blocks_.find(Buffer);
  if (Block == Blocks_.end() || Block->second.Kind != BlockKind::Pool) {
    Faults_.Report("FreePool(" + PointerText(Buffer) + "): not a live pool block (double free or foreign pointer)");
    return EFI_INVALID_PARAMETER;
  }
  Release(Block);
  return EFI_SUCCESS;
}

EFI_STATUS MemoryPool::AllocatePages(EFI_ALLOCATE_TYPE Type, UINT32 MemoryType, UINTN Pages,
                                     EFI_PHYSICAL_ADDRESS *Memory) {
  if (Memory == nullptr || Type >= MaxAllocateType || !IsAllocatableType(MemoryType)) {
    return EFI_INVALID_PARAMETER;
  }
  if (Type == AllocateAddress) {
    return EFI_NOT_FOUND;  // host memory cannot be placed at a chosen address
  }
  if (NextAllocationFails() || Pages == 0 || Pages > kLargestAllocation / kPageSize) {
    return EFI_OUT_OF_RESOURCES;
  }
  size_t Size    = Pages * kPageSize;
  void  *Address = std::aligned_alloc(kPageSize, Size);
  if (Address == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  if (Type == AllocateMaxAddress && reinterpret_cast<UINTN>(Address) + Size - 1 > *Memory) {
    std::free(Address);
    return EFI_NOT_FOUND;
  }
  *Memory = reinterpret_cast<UINTN>(Track(Address, MemoryType, Size, BlockKind::Pages));
  return EFI_SUCCESS;
}

EFI_STATUS MemoryPool::FreePages(EFI_PHYSICAL_ADDRESS Memory, UINTN Pages) {
  auto Block = Blocks_.find(reinterpret_cast<const void *>(Memory));
  if (Block == Blocks_.end() || Block->second.Kind != BlockKind::Pages) {
    Faults_.Report("FreePages(" + PointerText(reinterpret_cast<const void *>(Memory)) +
                   "): not a live page allocation");
    return EFI_NOT_FOUND;
  }
  if (Block->second.Size != Pages * kPageSize) {
    Faults_.Report("FreePages(" + PointerText(Block->first) + ", " + std::to_string(Pages) +
                   "): allocated with " + std::to_string(Block->second.Size / kPageSize) + " pages");
    return EFI_INVALID_PARAMETER;
  }
  Release(Block);
  return EFI_SUCCESS;
}

MemoryUsage MemoryPool::Usage(UINT32 MemoryType) const {
  auto Found = UsageByType_.find(MemoryType);
  return Found == UsageByType_.end() ? MemoryUsage{} : Found->second;
}

MemoryUsage MemoryPool::TotalUsage() const {
  MemoryUsage Total;
  for (const auto &[Type, Usage] : UsageByType_) {
    Total.LiveBlocks += Usage.LiveBlocks;
    Total.LiveBytes += Usage.LiveBytes;
  }
  return Total;
}

std::vector<LiveBlock> MemoryPool::LiveBlocks() const {
  std::vector<LiveBlock> Blocks;
  for (const auto &[Address, Block] : Blocks_) {
    Blocks.push_back(Block);
  }
  std::sort(Blocks.begin(), Blocks.end(), [](const LiveBlock &A, const LiveBlock &B) { return A.Serial < B.Serial; });
  return Blocks;
}

std::string MemoryPool::LeakReport() const {
  std::string Report;
  for (const LiveBlock &Block : LiveBlocks()) {
    char Line[160];
    std::snprintf(Line, sizeof(Line), "#%llu %s %s %zu bytes at %p\n", Block.Serial,
                  MemoryTypeName(Block.MemoryType).c_str(), Block.Kind == BlockKind::Pool ? "pool" : "pages",
                  Block.Size, Block.Address);
    Report += Line;
  }
  return Report;
}

bool MemoryPool::IsLivePool(const void *Address) const {
  auto Block = Blocks_.find(Address);
  return Block != Blocks_.end() && Block->second.Kind == BlockKind::Pool;
}

}  // namespace HostEnv
