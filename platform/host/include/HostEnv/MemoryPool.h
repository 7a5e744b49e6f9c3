// The boot-services memory behind AllocatePool/FreePool and
// AllocatePages/FreePages: every block is a separate host allocation (so the
// sanitizers see overruns and use after free), filled with 0xAF so that code
// relying on uninitialised memory shows it, and accounted per memory type so a
// test can prove that nothing leaked.
#pragma once

#include <uefi/SystemTable.h>

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace HostEnv {

class FaultLog;

// Byte written over every new block.
constexpr UINT8 kFreshMemoryFill = 0xAF;

enum class BlockKind : UINT8 { Pool, Pages };

struct LiveBlock {
  const void *Address;
  UINT32      MemoryType;
  size_t      Size;    // bytes requested (pages: whole pages)
  BlockKind   Kind;
  UINT64      Serial;  // 1 for the first allocation attempt of this environment, counting failed ones
};

struct MemoryUsage {
  size_t LiveBlocks = 0;
  size_t LiveBytes  = 0;
};

class MemoryPool {
 public:
  explicit MemoryPool(FaultLog &Faults);
  ~MemoryPool();
  MemoryPool(const MemoryPool &) = delete;
  MemoryPool &operator=(const MemoryPool &) = delete;

  // --- Out-of-memory injection. Counts pool and page allocations alike. ---
  // Only the Nth allocation from now fails (1 = the next one).
  void FailNthAllocation(UINT64 N);
  // The next N allocations succeed, every later one fails.
  void FailAllocationsAfter(UINT64 N);
  void FailEveryAllocation() { FailAllocationsAfter(0); }
  void StopFailing();
  UINT64 AllocationAttempts() const { return Attempts_; }
  UINT64 InjectedFailures() const { return InjectedFailures_; }

  // --- Accounting ---
  MemoryUsage Usage(UINT32 MemoryType) const;
  MemoryUsage TotalUsage() const;
  std::vector<LiveBlock> LiveBlocks() const;  // in allocation order
  // One line per live block ("#7 EfiBootServicesData pool 48 bytes at 0x..."),
  // empty when nothing is live.
  std::string LeakReport() const;
  bool IsLivePool(const void *Address) const;

  // --- The services themselves (also reachable through gBS) ---
  EFI_STATUS AllocatePool(UINT32 MemoryType, UINTN Size, VOID **Buffer);
  EFI_STATUS FreePool(VOID *Buffer);
  EFI_STATUS AllocatePages(EFI_ALLOCATE_TYPE Type, UINT32 MemoryType, UINTN Pages, EFI_PHYSICAL_ADDRESS *Memory);
  EFI_STATUS FreePages(EFI_PHYSICAL_ADDRESS Memory, UINTN Pages);

 private:
  enum class FailureMode { None, Nth, After };
  bool NextAllocationFails();
  void *Track(void *Address, UINT32 MemoryType, size_t Size, BlockKind Kind);
  void Release(std::map<const void *, LiveBlock>::iterator Block);

  FaultLog                             &Faults_;
  std::map<const void *, LiveBlock>     Blocks_;
  std::map<UINT32, MemoryUsage>         UsageByType_;
  FailureMode                           Mode_ = FailureMode::None;
  UINT64                                Countdown_ = 0;
  UINT64                                Attempts_ = 0;
  UINT64                                InjectedFailures_ = 0;
};

}  // namespace HostEnv
