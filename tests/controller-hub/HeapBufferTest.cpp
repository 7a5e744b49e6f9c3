// Heap buffers: migration of the HEAP hand-off blocks, allocation, lookup and
// the list shared through the heap buffer protocol.
#include "HubTest.h"

#include <cstring>

#include "HubTrace.h"
#include "Protocol/QuorHeapBuffer.h"
#include "QuorHeapBufferLib.h"

namespace {

std::vector<UINT8> Counting(size_t Size, UINT8 First) {
  std::vector<UINT8> Bytes(Size);
  for (size_t Index = 0; Index < Size; ++Index) Bytes[Index] = static_cast<UINT8>(First + Index);
  return Bytes;
}

HubSim::HeapHobSpec Heap(UINT32 Handle, UINT8 Persistence, std::vector<UINT8> Buffer) {
  HubSim::HeapHobSpec Spec;
  Spec.Handle = Handle;
  Spec.Persistence = Persistence;
  Spec.Buffer = std::move(Buffer);
  return Spec;
}

class HeapBufferTest : public HubTest {
 protected:
  // Handles on the list, in list order.
  std::vector<UINT32> Handles() {
    std::vector<UINT32> Result;
    LIST_ENTRY *Head = QuorHeapBufferListHead();
    for (LIST_ENTRY *Link = Head->ForwardLink; Link != Head; Link = Link->ForwardLink) {
      Result.push_back(reinterpret_cast<QUOR_HEAP_NODE *>(Link)->Handle);
    }
    return Result;
  }
  const HostEnv::LiveBlock *BlockOf(const UINT8 *Buffer) {
    for (const HostEnv::LiveBlock &Block : Env().Pool().LiveBlocks()) {
      if (Block.Address == Buffer - sizeof(QUOR_HEAP_NODE)) {
        LastBlock = Block;
        return &LastBlock;
      }
    }
    return nullptr;
  }
  HostEnv::LiveBlock LastBlock{};
};

TEST_F(HeapBufferTest, CompleteHeapBlocksAreTakenOverWithTheirHeaders) {
  Profile.HeapHobs = {Heap(0x1111, 3, Counting(40, 1)), Heap(0x2222, 8, Counting(5, 0x80))};
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  EXPECT_EQ(Handles(), (std::vector<UINT32>{0x1111, 0x2222, 0xA029}));

  UINT8 *Buffer = nullptr;
  UINT32 Size = 0;
  ASSERT_EQ(QuorHeapFind(0x1111, &Buffer, &Size), 0u);
  EXPECT_EQ(Size, 40u);
  EXPECT_EQ(std::vector<UINT8>(Buffer, Buffer + 40), Counting(40, 1));
  // Node header after the links: HEAP, handle, size, persistence, 1, 0, 0.
  const UINT8 Header[] = {'H', 'E', 'A', 'P', 0x11, 0x11, 0, 0, 40, 0, 0, 0, 3, 1, 0, 0};
  EXPECT_EQ(std::memcmp(Buffer - 16, Header, 16), 0);
  ASSERT_NE(BlockOf(Buffer), nullptr);
  EXPECT_EQ(LastBlock.MemoryType, EfiBootServicesData);
  EXPECT_EQ(LastBlock.Size, 32u + 40u);

  ASSERT_EQ(QuorHeapFind(0x2222, &Buffer, &Size), 0u);
  EXPECT_EQ(std::vector<UINT8>(Buffer, Buffer + 5), Counting(5, 0x80));
  ASSERT_NE(BlockOf(Buffer), nullptr);
  EXPECT_EQ(LastBlock.MemoryType, EfiRuntimeServicesData);  // persistence 8 outlives boot services
}

TEST_F(HeapBufferTest, BlocksThatAreNoCompleteHeapBufferAreLeftAlone) {
  HubSim::HeapHobSpec Short = Heap(0x5101, 1, Counting(40, 1));
  Short.DeclaredSize = 41;  // one byte more than the block carries
  HubSim::HeapHobSpec NotValid = Heap(0x5102, 1, Counting(8, 1));
  NotValid.Valid = 0;
  std::vector<UINT8> WrongSignature = HubSim::HeapHob(0x5103, 1, Counting(8, 1)).Data;
  WrongSignature[0] = 'h';
  std::vector<UINT8> HeaderOnly = HubSim::HeapHob(0x5104, 1, {}).Data;  // a complete empty buffer
  std::vector<UINT8> PartHeader(HeaderOnly.begin(), HeaderOnly.begin() + 12);
  PartHeader[4] = 0x05;  // handle 0x5105, the size field cut off
  Profile.Hobs.push_back({HubSim::kHeapHobGuid, WrongSignature, std::nullopt});
  Profile.Hobs.push_back({HubSim::kHeapHobGuid, HeaderOnly, std::nullopt});
  Profile.Hobs.push_back({HubSim::kHeapHobGuid, PartHeader, std::nullopt});
  Profile.HeapHobs = {Short, NotValid, Heap(0x5106, 0, {1}), Heap(0x5107, 9, {1}), Heap(0x5108, 2, {0xAA}),
                      Heap(0x5108, 2, {0xBB, 0xCC})};
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);

  for (UINT32 Handle : {0x5101u, 0x5102u, 0x5103u, 0x5105u, 0x5106u, 0x5107u}) {
    UINT8 *Buffer = reinterpret_cast<UINT8 *>(1);
    UINT32 Size = 99;
    EXPECT_EQ(QuorHeapFind(Handle, &Buffer, &Size), 2u) << std::hex << Handle;
    EXPECT_EQ(Buffer, nullptr);
    EXPECT_EQ(Size, 0u);
  }
  UINT32 Size = 99;
  EXPECT_EQ(QuorHeapFind(0x5104, nullptr, &Size), 0u);  // an empty buffer is complete
  EXPECT_EQ(Size, 0u);
  UINT8 *Buffer = nullptr;
  ASSERT_EQ(QuorHeapFind(0x5108, &Buffer, &Size), 0u);  // the first of a handle wins
  EXPECT_EQ(Size, 1u);
  EXPECT_EQ(Buffer[0], 0xAA);
  EXPECT_EQ(Handles(), (std::vector<UINT32>{0x5104, 0x5108, 0xA029}));
}

TEST_F(HeapBufferTest, AllocationAppendsAZeroFilledBufferAndRefusesDuplicates) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  UINT8 *First = nullptr;
  UINT8 *Second = nullptr;
  ASSERT_EQ(QuorHeapAllocate(24, 0x77, 1, &First), 0u);
  ASSERT_EQ(QuorHeapAllocate(3, 0x78, 8, &Second), 0u);
  EXPECT_EQ(std::vector<UINT8>(First, First + 24), std::vector<UINT8>(24, 0));  // fresh pool reads 0xAF
  EXPECT_EQ(Handles(), (std::vector<UINT32>{0xA029, 0x77, 0x78}));
  ASSERT_NE(BlockOf(Second), nullptr);
  EXPECT_EQ(LastBlock.MemoryType, EfiRuntimeServicesData);
  EXPECT_EQ(LastBlock.Size, 35u);

  size_t Blocks = Env().Pool().LiveBlocks().size();
  UINT8 *Again = reinterpret_cast<UINT8 *>(1);
  EXPECT_EQ(QuorHeapAllocate(24, 0x77, 1, &Again), 2u);
  EXPECT_EQ(Again, nullptr);
  EXPECT_EQ(QuorHeapAllocate(24, 0x79, 0, &Again), 1u);
  EXPECT_EQ(QuorHeapAllocate(24, 0x79, 9, &Again), 1u);
  EXPECT_EQ(Env().Pool().LiveBlocks().size(), Blocks);

  UINT8 *Found = nullptr;
  UINT32 Size = 0;
  EXPECT_EQ(QuorHeapFind(0x77, &Found, &Size), 0u);
  EXPECT_EQ(Found, First);
  EXPECT_EQ(Size, 24u);
}

TEST_F(HeapBufferTest, APoolFailureStopsWithTheCodeOfItsMemoryType) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  ClearTrace();
  UINT8 *Buffer = nullptr;
  Env().Pool().FailNthAllocation(1);
  EXPECT_EQ(QuorHeapAllocate(16, 0x90, 7, &Buffer), 7u);
  EXPECT_TRUE(StoppedWith(Accesses(), 0x80137));
  Env().Pool().FailNthAllocation(1);
  EXPECT_EQ(QuorHeapAllocate(16, 0x91, 8, &Buffer), 7u);
  EXPECT_TRUE(StoppedWith(Accesses(), 0x80134));
  EXPECT_EQ(Buffer, nullptr);
  EXPECT_EQ(QuorHeapFind(0x90, nullptr, nullptr), 2u);
}

TEST_F(HeapBufferTest, ASecondModuleUsesTheListOfTheInstalledProtocol) {
  Profile.HeapHobs = {Heap(0x1111, 3, Counting(4, 1))};
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  UINT8 *Fabric = nullptr;
  ASSERT_EQ(QuorHeapFind(0xA029, &Fabric, nullptr), 0u);
  VOID *Interface = nullptr;
  ASSERT_EQ(BS()->LocateProtocol(&gQuorHeapBufferProtocolGuid, nullptr, &Interface), EFI_SUCCESS);
  EXPECT_EQ(static_cast<QUOR_HEAP_BUFFER_PROTOCOL *>(Interface)->Revision, 1u);

  // Another module linking the library: fresh globals, the same list, no
  // second migration and no second protocol.
  QuorHeapBufferResetState();
  EXPECT_EQ(QuorHeapFind(0xA029, nullptr, nullptr), 2u);
  ASSERT_EQ(QuorHeapBufferLibConstructor(), EFI_SUCCESS);
  EXPECT_EQ(QuorHeapBufferListHead(), &static_cast<QUOR_HEAP_BUFFER_PROTOCOL *>(Interface)->ListHead);
  UINT8 *Shared = nullptr;
  EXPECT_EQ(QuorHeapFind(0xA029, &Shared, nullptr), 0u);
  EXPECT_EQ(Shared, Fabric);
  EXPECT_EQ(Handles(), (std::vector<UINT32>{0x1111, 0xA029}));
  size_t Installs = 0;
  for (const HubSim::HubEvent &Event : EventsNamed("protocol-install")) {
    Installs += Event.Field("protocol") == "heap-buffer";
  }
  EXPECT_EQ(Installs, 1u);
}

}  // namespace
