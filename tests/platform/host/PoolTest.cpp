// Pool and page memory: accounting, fill pattern, out-of-memory injection,
// bad frees, and the leak check every test relies on.
#include "TestGuids.h"

#include <TestSupport/HostEnvTest.h>

#include <gtest/gtest-spi.h>

#include <cstring>

namespace {

using TestSupport::HostEnvTest;
using TestSupport::StatusIs;

class PoolTest : public HostEnvTest {
 protected:
  VOID *Allocate(UINTN Size, EFI_MEMORY_TYPE Type = EfiBootServicesData) {
    VOID *Buffer = nullptr;
    EXPECT_TRUE(StatusIs(BS()->AllocatePool(Type, Size, &Buffer), EFI_SUCCESS));
    return Buffer;
  }
};

TEST_F(PoolTest, AccountsLiveBlocksPerMemoryTypeAndFillsNewMemory) {
  VOID *Small = Allocate(3), *Large = Allocate(100), *Runtime = Allocate(40, EfiRuntimeServicesData);
  auto  Usage = Env().Pool().Usage(EfiBootServicesData);
  EXPECT_EQ(Usage.LiveBlocks, 2u);
  EXPECT_EQ(Usage.LiveBytes, 103u);
  EXPECT_EQ(Env().Pool().Usage(EfiRuntimeServicesData).LiveBytes, 40u);
  EXPECT_EQ(Env().Pool().TotalUsage().LiveBlocks, 3u);

  for (VOID *Block : {Small, Large, Runtime}) {
    EXPECT_EQ(reinterpret_cast<UINTN>(Block) % 8, 0u) << "pool memory is 8-byte aligned";
  }
  for (UINTN Index = 0; Index < 100; ++Index) {
    ASSERT_EQ(static_cast<UINT8 *>(Large)[Index], HostEnv::kFreshMemoryFill);
  }

  EXPECT_TRUE(StatusIs(BS()->FreePool(Large), EFI_SUCCESS));
  EXPECT_EQ(Env().Pool().Usage(EfiBootServicesData).LiveBytes, 3u);
  BS()->FreePool(Small);
  BS()->FreePool(Runtime);
  EXPECT_EQ(Env().Pool().TotalUsage().LiveBlocks, 0u);

  VOID *Buffer = nullptr;
  EXPECT_TRUE(StatusIs(BS()->AllocatePool(EfiConventionalMemory, 8, &Buffer), EFI_INVALID_PARAMETER));
  EXPECT_TRUE(StatusIs(BS()->AllocatePool(EfiBootServicesData, 8, nullptr), EFI_INVALID_PARAMETER));
}

TEST_F(PoolTest, FailsTheNthAllocationOnly) {
  Env().Pool().FailNthAllocation(2);
  VOID *First = Allocate(8);
  VOID *Second = &First;
  EXPECT_TRUE(StatusIs(BS()->AllocatePool(EfiBootServicesData, 8, &Second), EFI_OUT_OF_RESOURCES));
  VOID *Third = Allocate(8);
  EXPECT_EQ(Env().Pool().InjectedFailures(), 1u);
  EXPECT_EQ(Env().Pool().AllocationAttempts(), 3u);
  BS()->FreePool(First);
  BS()->FreePool(Third);
}

TEST_F(PoolTest, FailsEverythingAfterNAllocationsUntilStopped) {
  Env().Pool().FailAllocationsAfter(1);
  VOID                *Kept = Allocate(8);
  VOID                *Buffer = nullptr;
  EFI_PHYSICAL_ADDRESS Pages  = 0;
  EXPECT_TRUE(StatusIs(BS()->AllocatePool(EfiBootServicesData, 8, &Buffer), EFI_OUT_OF_RESOURCES));
  EXPECT_TRUE(StatusIs(BS()->AllocatePages(AllocateAnyPages, EfiBootServicesData, 1, &Pages), EFI_OUT_OF_RESOURCES));
  // Buffers the services allocate for their callers fail the same way.
  UINTN       Count   = 0;
  EFI_HANDLE *Handles = nullptr;
  EXPECT_TRUE(StatusIs(BS()->LocateHandleBuffer(AllHandles, nullptr, nullptr, &Count, &Handles), EFI_OUT_OF_RESOURCES));
  EXPECT_EQ(Handles, nullptr);
  Env().Pool().StopFailing();
  BS()->FreePool(Allocate(8));
  BS()->FreePool(Kept);

  Env().Pool().FailEveryAllocation();
  EXPECT_TRUE(StatusIs(BS()->AllocatePool(EfiBootServicesData, 8, &Buffer), EFI_OUT_OF_RESOURCES));
  Env().Pool().StopFailing();
}

TEST_F(PoolTest, FreeingForeignOrFreedMemoryIsAFault) {
  int   NotPool = 0;
  VOID *Block   = Allocate(16);
  EXPECT_TRUE(StatusIs(BS()->FreePool(&NotPool), EFI_INVALID_PARAMETER));
  EXPECT_TRUE(StatusIs(BS()->FreePool(Block), EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(BS()->FreePool(Block), EFI_INVALID_PARAMETER));
  EXPECT_TRUE(StatusIs(BS()->FreePool(nullptr), EFI_INVALID_PARAMETER));
  auto Faults = TakeFaults();
  ASSERT_EQ(Faults.size(), 2u) << "FreePool(NULL) is refused but is not a fault";
  EXPECT_NE(Faults[0].find("FreePool"), std::string::npos);
  EXPECT_NE(Faults[1].find("not a live pool block"), std::string::npos);
}

TEST_F(PoolTest, PagesAreAlignedAccountedAndFreedWithTheirCount) {
  EFI_PHYSICAL_ADDRESS Address = 0;
  ASSERT_TRUE(StatusIs(BS()->AllocatePages(AllocateAnyPages, EfiRuntimeServicesData, 2, &Address), EFI_SUCCESS));
  EXPECT_EQ(Address % 4096, 0u);
  EXPECT_EQ(Env().Pool().Usage(EfiRuntimeServicesData).LiveBytes, 8192u);
  EXPECT_EQ(reinterpret_cast<UINT8 *>(Address)[8191], HostEnv::kFreshMemoryFill);

  EXPECT_TRUE(StatusIs(BS()->FreePool(reinterpret_cast<VOID *>(Address)), EFI_INVALID_PARAMETER));
  EXPECT_TRUE(StatusIs(BS()->FreePages(Address, 1), EFI_INVALID_PARAMETER));
  EXPECT_EQ(TakeFaults().size(), 2u);
  EXPECT_TRUE(StatusIs(BS()->FreePages(Address, 2), EFI_SUCCESS));

  EFI_PHYSICAL_ADDRESS Fixed = 0x100000;
  EXPECT_TRUE(StatusIs(BS()->AllocatePages(AllocateAddress, EfiBootServicesData, 1, &Fixed), EFI_NOT_FOUND));
}

TEST_F(PoolTest, LeakReportListsEveryLiveBlockInAllocationOrder) {
  EXPECT_EQ(Env().Pool().LeakReport(), "");
  VOID *First = Allocate(24), *Second = Allocate(7, EfiRuntimeServicesData);
  auto  Blocks = Env().Pool().LiveBlocks();
  ASSERT_EQ(Blocks.size(), 2u);
  EXPECT_EQ(Blocks[0].Address, First);
  EXPECT_EQ(Blocks[0].Size, 24u);
  EXPECT_EQ(Blocks[1].MemoryType, UINT32(EfiRuntimeServicesData));
  std::string Report = Env().Pool().LeakReport();
  EXPECT_NE(Report.find("EfiBootServicesData pool 24 bytes"), std::string::npos) << Report;
  EXPECT_NE(Report.find("EfiRuntimeServicesData pool 7 bytes"), std::string::npos) << Report;
  BS()->FreePool(First);
  BS()->FreePool(Second);
}

TEST_F(PoolTest, FixtureFailsATestThatLeaksOrFaults) {
  VOID *Leaked = Allocate(12);
  (void)Leaked;
  EXPECT_NONFATAL_FAILURE(RestartEnvironment({}), "pool blocks still live at the end of the test");
  int NotPool = 0;
  BS()->FreePool(&NotPool);
  EXPECT_NONFATAL_FAILURE(RestartEnvironment({}), "host environment fault: FreePool");
}

}  // namespace
