// The IDS NV table reader: one fetch from the extension, NVDT caching, the
// record walk, the guard, and tables that end badly.
#include "HubTest.h"

#include <cstring>

#include "HubTrace.h"
#include "Protocol/QuorIdsHookExt.h"
#include "QuorHeapBufferLib.h"
#include "XchIdsHook.h"
#include "XchIdsNvTable.h"

namespace {

// Four records, one of each value size, typed byte by byte.
const std::vector<UINT8> kTable = {
    0x24, 0x49, 0x4E, 0x56, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // "$INV", header to offset 32
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0x01, 0xD0, 0x00, 0x7F,                                       // D001: 1 byte
    0x02, 0xD0, 0x01, 0xEF, 0xBE,                                 // D002: 2 bytes
    0x03, 0xD0, 0x02, 0xEF, 0xBE, 0xAD, 0xDE,                     // D003: 4 bytes
    0x04, 0xD0, 0x03, 0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01,  // D004: 8 bytes
    0xFF, 0xFF};
constexpr UINT32 kTableSize = 61;

// A stand-in extension that misbehaves on purpose.
struct Misbehaviour {
  UINT32             SizeAnswer = 40;
  EFI_STATUS         FetchStatus = EFI_SUCCESS;
  std::vector<UINT8> Written;      // bytes written into the buffer on the fetch
  UINT32             FetchAnswer = 40;
};
Misbehaviour gMisbehaviour;

EFI_STATUS EFIAPI MisbehavingExtension(EFI_BOOT_SERVICES *, VOID *Data, UINT32 HookId) {
  if (HookId != XCH_IDS_HOOK_NV_TABLE) return EFI_UNSUPPORTED;
  auto *Request = reinterpret_cast<XCH_IDS_NV_REQUEST *>(static_cast<UINT64 *>(Data)[1]);
  if (Request->Buffer == nullptr) {
    *Request->Size = gMisbehaviour.SizeAnswer;
    return EFI_SUCCESS;
  }
  if (!gMisbehaviour.Written.empty()) {
    std::memcpy(Request->Buffer, gMisbehaviour.Written.data(), gMisbehaviour.Written.size());
  }
  *Request->Size = gMisbehaviour.FetchAnswer;
  return gMisbehaviour.FetchStatus;
}

class IdsNvTableTest : public HubTest {
 protected:
  void SetUp() override {
    HubTest::SetUp();
    Profile.Hobs.clear();  // no data-block build: the entry reads no option
    gMisbehaviour = {};
  }
  void TearDown() override {
    if (ExtensionHandle != nullptr) {
      BS()->UninstallProtocolInterface(ExtensionHandle, &gQuorIdsHookExtProtocolGuid, &Extension);
    }
    HubTest::TearDown();
  }
  void ServeTable(std::vector<UINT8> Table) {
    Profile.Present.IdsHookExtension = true;
    Profile.IdsNvTable = std::move(Table);
  }
  void InstallMisbehavingExtension() {
    ASSERT_EQ(BS()->InstallProtocolInterface(&ExtensionHandle, &gQuorIdsHookExtProtocolGuid, EFI_NATIVE_INTERFACE,
                                             &Extension),
              EFI_SUCCESS);
  }
  size_t TableRequests() {
    return std::count(Platform().IdsHookCalls().begin(), Platform().IdsHookCalls().end(), 0xFFFFFFFEu);
  }
  UINTN Lookup(UINT16 Id) {
    Value = 0xA5A5A5A5A5A5A5A5;
    return XchIdsNvValue(Id, &Value);
  }
  // An NVDT heap buffer of exactly Table's bytes, as another module may leave.
  void PlaceNvdt(const std::vector<UINT8> &Table) {
    UINT8 *Buffer = nullptr;
    ASSERT_EQ(QuorHeapAllocate(static_cast<UINT32>(Table.size()), XCH_IDS_NV_HEAP_HANDLE, 7, &Buffer), 0u);
    std::memcpy(Buffer, Table.data(), Table.size());
  }

  UINT64                     Value = 0;
  QUOR_IDS_HOOK_EXT_PROTOCOL Extension{MisbehavingExtension};
  EFI_HANDLE                 ExtensionHandle = nullptr;
};

TEST_F(IdsNvTableTest, ValuesOfEverySizeComeZeroExtended) {
  ServeTable(kTable);
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  EXPECT_EQ(Lookup(0xD001), 0u);
  EXPECT_EQ(Value, 0x7Fu);
  EXPECT_EQ(Lookup(0xD002), 0u);
  EXPECT_EQ(Value, 0xBEEFu);
  EXPECT_EQ(Lookup(0xD003), 0u);
  EXPECT_EQ(Value, 0xDEADBEEFu);
  EXPECT_EQ(Lookup(0xD004), 0u);
  EXPECT_EQ(Value, 0x0123456789ABCDEFu);
}

TEST_F(IdsNvTableTest, TheTableIsFetchedOnceAndKeptInHeapBufferNvdt) {
  ServeTable(kTable);
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  EXPECT_EQ(Lookup(0xD003), 0u);
  EXPECT_EQ(Lookup(0xD001), 0u);
  EXPECT_EQ(Lookup(0xD00F), 1u);
  EXPECT_EQ(TableRequests(), 2u);  // the size, then the table
  EXPECT_EQ(DebugLinesWith("Get IdsNV table size 0x3d\n"), 1u);

  UINT8 *Buffer = nullptr;
  UINT32 Size = 0;
  ASSERT_EQ(QuorHeapFind(0x5444564E, &Buffer, &Size), 0u);
  EXPECT_EQ(Size, kTableSize + 104);
  EXPECT_EQ(std::vector<UINT8>(Buffer, Buffer + kTableSize), kTable);
  UINT32 Guard = 0;
  std::memcpy(&Guard, Buffer + kTableSize + 100, 4);
  EXPECT_EQ(Guard, 0x55AAu);
  ASSERT_NE(std::find_if(Env().Pool().LiveBlocks().begin(), Env().Pool().LiveBlocks().end(),
                         [&](const HostEnv::LiveBlock &Block) {
                           return Block.Address == Buffer - 32 && Block.MemoryType == EfiBootServicesData;
                         }),
            Env().Pool().LiveBlocks().end());  // persistence 7: boot-services memory
}

TEST_F(IdsNvTableTest, AMissingIdLeavesTheLastRecordsValue) {
  ServeTable(kTable);
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  EXPECT_EQ(Lookup(0xD010), 1u);
  EXPECT_EQ(Value, 0x0123456789ABCDEFu);
}

TEST_F(IdsNvTableTest, NoTableMeansNotFoundAndNothingKept) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);  // no extension at all
  EXPECT_EQ(Lookup(0xD001), 1u);
  EXPECT_EQ(QuorHeapFind(0x5444564E, nullptr, nullptr), 2u);
}

TEST_F(IdsNvTableTest, AnExtensionWithoutATableIsAskedAgainEachTime) {
  ServeTable({});
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  EXPECT_EQ(Lookup(0xD001), 1u);
  EXPECT_EQ(Lookup(0xD001), 1u);
  EXPECT_EQ(TableRequests(), 2u);  // two size requests, no fetch
  EXPECT_EQ(QuorHeapFind(0x5444564E, nullptr, nullptr), 2u);
}

TEST_F(IdsNvTableTest, ABadSignatureStopsButTheRecordsStillCount) {
  std::vector<UINT8> Table = kTable;
  Table[3] = 'X';
  ServeTable(Table);
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  ClearTrace();
  EXPECT_EQ(Lookup(0xD002), 0u);
  EXPECT_EQ(Value, 0xBEEFu);
  EXPECT_TRUE(StoppedWith(Accesses(), 0x20910182));
}

TEST_F(IdsNvTableTest, AFailedFetchStopsAndReportsSeven) {
  gMisbehaviour.FetchStatus = EFI_DEVICE_ERROR;
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  InstallMisbehavingExtension();
  ClearTrace();
  EXPECT_EQ(Lookup(0xD001), 7u);
  EXPECT_TRUE(StoppedWith(Accesses(), 0x20910168));
  EXPECT_EQ(DebugLinesWith("GetIdsNvTable Status return fail, exit\n"), 1u);
}

// The extension writes 144 bytes into the 40 + 104 it was given and says it
// wrote 40: the guard at 140 is gone.
TEST_F(IdsNvTableTest, AnOverwrittenGuardIsAnOverrun) {
  gMisbehaviour.Written.assign(144, 0x11);
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  InstallMisbehavingExtension();
  ClearTrace();
  EXPECT_EQ(Lookup(0xD001), 2u);
  EXPECT_EQ(DebugLinesWith("CBS data exceed the boundary\n"), 1u);
  EXPECT_TRUE(StoppedWith(Accesses(), 0x20910176));
}

// The platform's extension announces 40 bytes and then hands over its whole
// 61-byte table: the guard position of the returned size lies past the
// buffer, so it is an overrun without a look there (ASan would see one).
TEST_F(IdsNvTableTest, AReturnedSizeBeyondTheRoomGivenIsAnOverrunWithoutReadingPastTheBuffer) {
  ServeTable(kTable);
  Profile.IdsNvReportedSize = 40;
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  EXPECT_EQ(Lookup(0xD001), 2u);
  EXPECT_EQ(DebugLinesWith("CBS data exceed the boundary\n"), 1u);
  EXPECT_EQ(QuorHeapFind(0x5444564E, nullptr, nullptr), 2u);  // the overrun buffer is not kept
}

// The platform's extension announces 40 bytes more than its table: the guard
// stays where it was written.
TEST_F(IdsNvTableTest, ATableShorterThanAnnouncedIsNoOverrun) {
  ServeTable(kTable);
  Profile.IdsNvReportedSize = kTableSize + 40;
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  EXPECT_EQ(Lookup(0xD001), 0u);
  EXPECT_EQ(Value, 0x7Fu);
  EXPECT_EQ(DebugLinesWith("CBS data exceed the boundary\n"), 0u);
}

TEST_F(IdsNvTableTest, AFailedFetchIsNotKeptAndTheNextLookupAsksAgain) {
  gMisbehaviour.Written.assign(144, 0x11);  // over the guard
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  InstallMisbehavingExtension();
  EXPECT_EQ(Lookup(0xD001), 2u);
  gMisbehaviour = {kTableSize, EFI_SUCCESS, kTable, kTableSize};
  EXPECT_EQ(Lookup(0xD002), 0u);
  EXPECT_EQ(Value, 0xBEEFu);
}

TEST_F(IdsNvTableTest, AReturnedSizeFarBeyondTheBufferIsNotFollowed) {
  gMisbehaviour.Written.assign(40, 0);
  gMisbehaviour.FetchAnswer = 0x7FFF0000;
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  InstallMisbehavingExtension();
  EXPECT_EQ(Lookup(0xD001), 2u);
  EXPECT_EQ(DebugLinesWith("CBS data exceed the boundary\n"), 1u);
}

TEST_F(IdsNvTableTest, ASizeWithNoRoomForTheGuardIsRefused) {
  ServeTable(kTable);
  Profile.IdsNvReportedSize = 0xFFFFFFA0;
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  ClearTrace();
  size_t Blocks = Env().Pool().LiveBlocks().size();
  EXPECT_EQ(Lookup(0xD001), 7u);
  EXPECT_EQ(DebugLinesWith("Allocate Heap fail, exit\n"), 1u);
  EXPECT_TRUE(StoppedWith(Accesses(), 0x20910158));
  EXPECT_EQ(Env().Pool().LiveBlocks().size(), Blocks);
  EXPECT_EQ(TableRequests(), 1u);  // never fetched
}

TEST_F(IdsNvTableTest, APoolFailureReportsTheAllocationError) {
  ServeTable(kTable);
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  ClearTrace();
  Env().Pool().FailNthAllocation(1);
  EXPECT_EQ(Lookup(0xD001), 7u);
  EXPECT_EQ(DebugLinesWith("Allocate Heap fail, exit\n"), 1u);
  std::vector<Access> Trace = Accesses();
  EXPECT_TRUE(StoppedWith(Trace, 0x80137));
  EXPECT_TRUE(StoppedWith(Trace, 0x20910158));
  EXPECT_EQ(Lookup(0xD001), 0u);  // the next lookup fetches again
}

// Tables another module left in NVDT with no slack after them.
TEST_F(IdsNvTableTest, ATableWithoutItsEndStopsAtTheBuffersEnd) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  PlaceNvdt(std::vector<UINT8>(kTable.begin(), kTable.end() - 2));
  EXPECT_EQ(Lookup(0xD004), 0u);
  EXPECT_EQ(Value, 0x0123456789ABCDEFu);
  EXPECT_EQ(Lookup(0xD00F), 1u);
  EXPECT_EQ(Value, 0x0123456789ABCDEFu);
}

TEST_F(IdsNvTableTest, ARecordRunningPastTheBufferIsNotRead) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  std::vector<UINT8> Table(kTable.begin(), kTable.end() - 2 - 11);  // up to D003
  Table.insert(Table.end(), {0x04, 0xD0, 0x03, 0xEF, 0xCD, 0xAB});  // D004: 8 bytes, 3 there
  PlaceNvdt(Table);
  EXPECT_EQ(Lookup(0xD004), 1u);
  EXPECT_EQ(Value, 0xDEADBEEFu);  // D003's, the last whole record
}

TEST_F(IdsNvTableTest, RecordsOfAShortTableStopAtItsHeader) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  ClearTrace();
  PlaceNvdt({0x24, 0x49});  // not even the signature
  EXPECT_EQ(Lookup(0xD001), 1u);
  EXPECT_EQ(Value, 0xA5A5A5A5A5A5A5A5u);
  EXPECT_TRUE(StoppedWith(Accesses(), 0x20910182));
}

}  // namespace
