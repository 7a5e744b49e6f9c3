// Driver entry, library constructors, the init protocol, the three phases,
// the platform boot-script entries and name check, and the shared routines
// (test points, assertion stop, debug print, mapping service).
#include "HubTest.h"

#include <uefi/Protocol/S3SaveState.h>

#include "Protocol/QuorHeapBuffer.h"
#include "Protocol/XchInitProtocol.h"
#include "QuorS3SaveLib.h"
#include "XchDebug.h"

using HostEnv::TraceKind;
using HostEnv::TraceOp;
using HubSim::PcdType;
using HubSim::PcdValue;

namespace {

class EntryPhasesTest : public HubTest {
 protected:
  size_t EventIndex(const std::string &Name, const std::string &Key = "", const std::string &Value = "") {
    const auto &Events = Platform().Events();
    for (size_t Index = 0; Index < Events.size(); ++Index) {
      if (Events[Index].Name == Name && (Key.empty() || Events[Index].Field(Key) == Value)) {
        return Index;
      }
    }
    ADD_FAILURE() << "no " << Name << " event with " << Key << " = " << Value;
    return Events.size();
  }
};

TEST_F(EntryPhasesTest, ConstructorsRunInTheirOrderBeforeTheEntry) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  const auto &Events = Platform().Events();
  // S3 save table library (PCIe window MSR, private data, table), heap
  // buffer protocol, platform boot-script entries, platform-name check,
  // then the driver entry's first test point.
  size_t PrivateData = EventIndex("pcd-set", "token", "778");
  size_t Table = EventIndex("pcd-set", "token", "779");
  size_t Heap = EventIndex("protocol-install", "protocol", "heap-buffer");
  size_t FirstEntry = EventIndex("boot-script", "address", "0xFED80288");
  size_t PortEntry = EventIndex("boot-script", "opcode", "io-write");
  size_t NameEntry = EventIndex("boot-script", "opcode", "pci-config-write");
  size_t EntryStart = EventIndex("test-point", "code", "0xAF14");
  EXPECT_LT(PrivateData, Table);
  EXPECT_LT(Table, Heap);
  EXPECT_LT(Heap, FirstEntry);
  EXPECT_LT(FirstEntry, PortEntry);
  EXPECT_LT(PortEntry, NameEntry);
  EXPECT_LT(NameEntry, EntryStart);
  // The MSR read of the S3 library comes before its first PCD set.
  std::vector<Access> All = Accesses();
  ASSERT_FALSE(All.empty());
  EXPECT_EQ(All[0], (Access{TraceKind::Msr, TraceOp::Read, 8, 0xC0010058, 0xE0000021}));
  EXPECT_GE(Events[PrivateData].TracePosition, 1u);
}

TEST_F(EntryPhasesTest, TheDriverReadsEveryPcdOfTheDefaultPlatformAtItsWidth) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  InstallPciIo();
  ReadyToLock();
  ReadyToBoot();
  for (const HubSim::PcdMismatch &Mismatch : Platform().PcdMismatches()) {
    ADD_FAILURE() << "token " << Mismatch.Token << " read as another type";
  }
}

TEST_F(EntryPhasesTest, TheInitProtocolPublishesThePrivateRecord) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  VOID *Interface = nullptr;
  ASSERT_EQ(BS()->LocateProtocol(&gXchInitProtocolGuid, nullptr, &Interface), EFI_SUCCESS);
  auto *Words = static_cast<UINT64 *>(Interface);
  EXPECT_EQ(Words[-1], 0x44694253u);  // signature S, B, i, D one word before
  EXPECT_EQ(Words[0], 1u);
  EXPECT_EQ(Words[1], 0x803u);
  EXPECT_EQ(Words[2], reinterpret_cast<UINT64>(Block()));
  EXPECT_EQ(Words[3], 0u);
  EXPECT_EQ(Words[4], 0u);
  EXPECT_EQ(Words[5], 0u);
  EXPECT_EQ(Words[6], reinterpret_cast<UINT64>(&XchMappingService));
  EXPECT_EQ(Words[7], 0u);
  EXPECT_NE(Words[8], 0u);  // the ready-to-boot event of XchInitLate

  size_t NvsRecords = 0;
  for (const HostEnv::LiveBlock &Live : Env().Pool().LiveBlocks()) {
    if (Live.MemoryType == EfiACPIMemoryNVS) {
      ++NvsRecords;
      EXPECT_TRUE(Live.Size == 80 || Live.Size == 1802) << Live.Size;
    }
  }
  EXPECT_EQ(NvsRecords, 2u);
  ASSERT_EQ(BS()->LocateProtocol(&gXchInitDoneProtocolGuid, nullptr, &Interface), EFI_SUCCESS);
  EXPECT_EQ(Interface, nullptr);
  EXPECT_EQ(DebugLinesWith("  XchInitEnv Exit... Status = [0x0]\n"), 1u);
}

TEST_F(EntryPhasesTest, MidRunsOnceHoweverManyPciIoProtocolsAppear) {
  InstallPciIo(7);  // present before the driver: not an installation it sees
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  EXPECT_EQ(DebugLinesWith("XchInitMid Enter"), 0u);
  InstallPciIo(1);
  InstallPciIo(2);
  InstallPciIo(3);
  EXPECT_EQ(DebugLinesWith("  XchInitMid Enter... \n"), 1u);
  EXPECT_EQ(DebugLinesWith("  XchInitMid Exit... Status = [0x0]\n"), 1u);
  EXPECT_EQ(std::count(Platform().TestPoints().begin(), Platform().TestPoints().end(), 0xB000AF07u), 1);
}

TEST_F(EntryPhasesTest, LateRunsAtReadyToBootOnce) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  InstallPciIo();
  EXPECT_EQ(DebugLinesWith("XchInitLate"), 0u);
  ReadyToBoot();
  ReadyToBoot();
  EXPECT_EQ(DebugLinesWith("  XchInitLate Enter... \n"), 1u);
  EXPECT_EQ(DebugLinesWith("  XchInitLate Exit... Status = [0x0]\n"), 1u);
  const std::vector<UINT32> &Points = Platform().TestPoints();
  auto Late = std::find(Points.begin(), Points.end(), 0xB000AF08u);
  ASSERT_NE(Late, Points.end());
  // Late table order: 0xAF73 only, hub Late programming, SMN clears.
  EXPECT_EQ(std::vector<UINT32>(Late, Points.end()),
            (std::vector<UINT32>{0xB000AF08, 0xB000AF73, 0xB000AF70, 0xB000AF78}));
}

TEST_F(EntryPhasesTest, EnvTaskTableRunsInOrderWithItsTestPoints) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  EXPECT_EQ(Platform().TestPoints(),
            (std::vector<UINT32>{0xB000AF14, 0xB000AF06, 0xB000AF5F, 0xB000AF50, 0xB000AF52, 0xB000AF53, 0xB000AF55,
                                 0xB000AF51, 0xB000A914, 0xB000A915, 0xB000AF15}));
}

TEST_F(EntryPhasesTest, SystemTablesBeforeRevisionTwoHaveNoLatePhase) {
  Profile.SystemTableRevision = (1 << 16) | 10;
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  EXPECT_EQ(Private()->Interface.LateEvent, nullptr);
  ReadyToBoot();
  EXPECT_EQ(DebugLinesWith("XchInitLate"), 0u);
  // No boot-script port notification either: no 0xB4 write anywhere.
  for (const HubSim::BootScriptEntry &Entry : Platform().BootScript()) {
    EXPECT_NE(Entry.Values, std::vector<UINT64>{0xB4});
  }
}

TEST_F(EntryPhasesTest, PlatformBootScriptEntriesAreRecordedAsDocumented) {
  Profile.Pcds[389] = PcdValue::Number(PcdType::U16, 0x72);
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  const std::vector<HubSim::BootScriptEntry> &Script = Platform().BootScript();
  ASSERT_GE(Script.size(), 5u);
  struct Expected {
    UINTN               OpCode;
    UINT32              Width;
    UINT64              Address;
    UINTN               Count;
    std::vector<UINT64> Values;
  };
  const Expected Rows[] = {
      {EFI_BOOT_SCRIPT_MEM_READ_WRITE_OPCODE, 2, 0xFED80288, 0, {0x800, 0xFFFFFFFF}},
      {EFI_BOOT_SCRIPT_MEM_READ_WRITE_OPCODE, 2, 0xFED802B0, 0, {0x400000, 0xFF3FFFFF}},
      {EFI_BOOT_SCRIPT_MEM_READ_WRITE_OPCODE, 2, 0xFED80298, 0, {0, 0x7FFFFFFF}},
      {EFI_BOOT_SCRIPT_MEM_READ_WRITE_OPCODE, 2, 0xFED80298, 0, {0x10000000, 0xFFFFFFFF}},
      {EFI_BOOT_SCRIPT_IO_WRITE_OPCODE, 0, 0x72, 1, {0xB3}},
  };
  for (size_t Index = 0; Index < std::size(Rows); ++Index) {
    SCOPED_TRACE("entry " + std::to_string(Index + 1));
    EXPECT_EQ(Script[Index].OpCode, Rows[Index].OpCode);
    EXPECT_EQ(Script[Index].Width, Rows[Index].Width);
    EXPECT_EQ(Script[Index].Address, Rows[Index].Address);
    EXPECT_EQ(Script[Index].Count, Rows[Index].Count);
    EXPECT_EQ(Script[Index].Values, Rows[Index].Values);
  }
}

class PlatformNameTest : public EntryPhasesTest, public ::testing::WithParamInterface<std::pair<const char16_t *, bool>> {};

TEST_P(PlatformNameTest, OnlyTheWholeNameRecordsThePciWrite) {
  auto [Name, Records] = GetParam();
  Profile.Pcds[71] = PcdValue::Utf16(Name);
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  size_t PciWrites = 0;
  for (const HubSim::BootScriptEntry &Entry : Platform().BootScript()) {
    if (Entry.OpCode == EFI_BOOT_SCRIPT_PCI_CONFIG_WRITE_OPCODE) {
      ++PciWrites;
      EXPECT_EQ(Entry.Width, 2u);
      EXPECT_EQ(Entry.Address, 0x80218u);  // bus 0, device 8, function 2, register 0x18
      EXPECT_EQ(Entry.Count, 1u);
      EXPECT_EQ(Entry.Values, std::vector<UINT64>{0x00929200});
    }
  }
  EXPECT_EQ(PciWrites, Records ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Names, PlatformNameTest,
                         ::testing::Values(std::pair<const char16_t *, bool>{u"Melvor", true},
                                           std::pair<const char16_t *, bool>{u"MelvorX", false},
                                           std::pair<const char16_t *, bool>{u"Melvor Board", false},
                                           std::pair<const char16_t *, bool>{u"Melv", false},
                                           std::pair<const char16_t *, bool>{u"melvor", false},
                                           std::pair<const char16_t *, bool>{u"", false}));

TEST_F(EntryPhasesTest, WithoutPcdProtocolsTheConfigurationBufferStaysZero) {
  Profile.Present.Pcd = false;
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  EXPECT_EQ(DebugLinesWith("[QuorCfgPcdBufLibDxeConstructor] LocateProtocol: gPcdProtocolGuid, Status: Not Found\n"),
            1u);
  // No test points to port 0x80 and no assertion stop.
  for (const Access &Entry : Writes()) {
    EXPECT_FALSE(Entry.Kind == TraceKind::Io && Entry.Address == 0x80) << "port 0x80 write";
  }
  EXPECT_TRUE(Platform().TestPoints().empty());
  ClearTrace();
  XchAssertStop(0x1234);
  EXPECT_TRUE(Accesses().empty());
}

TEST_F(EntryPhasesTest, AMissingEfiPcdProtocolIsReportedByName) {
  Profile.Present.EfiPcd = false;
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  EXPECT_EQ(
      DebugLinesWith("[QuorCfgPcdBufLibDxeConstructor] LocateProtocol: gEfiPcdProtocolGuid, Status: Not Found\n"), 1u);
  EXPECT_TRUE(Platform().TestPoints().empty());
}

TEST_F(EntryPhasesTest, WithoutTheDebugPrintProtocolPrintingReportsItsAbsence) {
  Profile.Present.DebugPrint = false;
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  EXPECT_EQ(XchDebugPrint(XCH_DBG_TRACE, "lost\n"), EFI_NOT_FOUND);
  EXPECT_FALSE(Platform().TestPoints().empty());  // port 0x80 still works
}

TEST_F(EntryPhasesTest, AssertionStopShowsTheCodeAndReturnsWhenTheDebuggerSaysSo) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  ClearTrace();
  XchAssertStop(0xA0618);
  EXPECT_EQ(Accesses(), (std::vector<Access>{IoW(2, 0xE0, 0xDEAD), IoW(4, 0x80, 0xA0618),
                                             Access{TraceKind::Cpuid, TraceOp::Read, 4, 0xBACCD00B, 0}}));
}

TEST_F(EntryPhasesTest, TestPointsGoToPort80AsDwordsAndToTheDebugLog) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  ClearTrace();
  XchTestPoint(0x1234);
  EXPECT_EQ(Accesses(), std::vector<Access>{IoW(4, 0x80, 0xB0001234)});
  EXPECT_EQ(Platform().DebugLog().back().Text, "TIBRA_TP:[b0001234]\n");
  EXPECT_EQ(Platform().DebugLog().back().Level, 0x4000000000000u);
}

TEST_F(EntryPhasesTest, MappingServicePlacesTheBitsOfAAndBInFourSmnRegisters) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  XCH_MAPPING_SERVICE Mapping = Private()->Interface.MappingService;
  const UINT32 Registers[] = {0x16D8012C, 0x16F8012C, 0x1738012C, 0x1968012C};

  // The AND masks, seen on registers that start all ones.
  for (UINT32 Register : Registers) Platform().SetSmn(Register, 0xFFFFFFFF);
  ClearTrace();
  EXPECT_EQ(Mapping(0, 0, 0, 0), EFI_SUCCESS);
  const UINT32 Masked[] = {0xFFFCFFE0, 0xFFFEFFFE, 0xFFFEFFFE, 0xFFFEFFFE};
  std::vector<Access> Expected;
  for (size_t Row = 0; Row < 4; ++Row) {
    Expected.push_back(MmioW(4, 0xE00000B8, Registers[Row]));
    Expected.push_back(MmioR(4, 0xE00000BC, 0xFFFFFFFF));
    Expected.push_back(MmioW(4, 0xE00000B8, Registers[Row]));
    Expected.push_back(MmioW(4, 0xE00000BC, Masked[Row]));
  }
  EXPECT_EQ(Accesses(), Expected);

  // The bits: A = 0x55 (bits 0, 2, 4, 6), B = 0x1234 (bits 2, 4, 5, 9, 12).
  for (UINT32 Register : Registers) Platform().SetSmn(Register, 0);
  EXPECT_EQ(Mapping(0, 0, 0x55, 0x1234), EFI_SUCCESS);
  EXPECT_EQ(Platform().Smn(0x16D8012C), 0x00010014u);  // A bits 0-1 = 01, B bits 0-4 = 10100
  EXPECT_EQ(Platform().Smn(0x16F8012C), 0x00010001u);  // A bit 2, B bit 5
  EXPECT_EQ(Platform().Smn(0x1738012C), 0x00010000u);  // A bit 4, B bit 8 clear
  EXPECT_EQ(Platform().Smn(0x1968012C), 0x00010001u);  // A bit 6, B bit 12
}

TEST_F(EntryPhasesTest, AFailedEntryReleasesTheForwarderBuffersAndClosesTheS3Events) {
  StartPlatform();
  XchKryDxeResetModuleState();
  EFI_HANDLE Image = Env().LoadImage(XchKryDxeModuleEntry);
  // The S3 private data, the table and the three forwarder buffers are the
  // first five allocations; the private record is the sixth.
  Env().Pool().FailAllocationsAfter(5);
  EXPECT_EQ(Env().StartImage(Image), EFI_OUT_OF_RESOURCES);
  Env().Pool().StopFailing();
  size_t Runtime = 0;
  for (const HostEnv::LiveBlock &Live : Env().Pool().LiveBlocks()) {
    EXPECT_NE(Live.MemoryType, static_cast<UINT32>(EfiACPIMemoryNVS));
    if (Live.MemoryType == EfiRuntimeServicesData) {
      ++Runtime;
      EXPECT_TRUE(Live.Size == 16 || Live.Size == 0x4004) << Live.Size;  // S3 private data and table stay
    }
  }
  EXPECT_EQ(Runtime, 2u);
  ReadyToBoot();
  EXPECT_EQ(DebugLinesWith("QuorS3SaveCloseTableCallBack"), 0u);
}

// The image is gone after a failed entry: ready-to-boot must not reach its
// boot-script port notification, and its heap buffer list is no longer
// published (the pool check sees any of its buffers left behind).
TEST_F(EntryPhasesTest, AFailedEntryLeavesNoNotificationOrHeapProtocolBehind) {
  Profile.HeapHobs.push_back({0x1234, 1, 1, {1, 2, 3, 4}, std::nullopt});
  StartPlatform();
  XchKryDxeResetModuleState();
  EFI_HANDLE Image = Env().LoadImage(XchKryDxeModuleEntry);
  Env().Pool().FailAllocationsAfter(5);  // the private record is the sixth
  EXPECT_EQ(Env().StartImage(Image), EFI_OUT_OF_RESOURCES);
  Env().Pool().StopFailing();
  VOID *Interface = nullptr;
  EXPECT_EQ(BS()->LocateProtocol(&gQuorHeapBufferProtocolGuid, nullptr, &Interface), EFI_NOT_FOUND);
  size_t ScriptEntries = Platform().BootScript().size();
  ReadyToBoot();
  EXPECT_EQ(Platform().BootScript().size(), ScriptEntries) << "the 0xB4 port write of the forwarder";
}

// Init-done fails after the init protocol and both phase notifications are
// in place: none of them may survive the unloaded image.
TEST_F(EntryPhasesTest, AFailedInitDoneInstallationWithdrawsThePhasesAndTheInitProtocol) {
  StartPlatform();
  XchKryDxeResetModuleState();
  EFI_HANDLE Image = Env().LoadImage(XchKryDxeModuleEntry);
  ASSERT_EQ(BS()->InstallProtocolInterface(&Image, &gXchInitDoneProtocolGuid, EFI_NATIVE_INTERFACE, nullptr),
            EFI_SUCCESS);
  EXPECT_EQ(Env().StartImage(Image), EFI_INVALID_PARAMETER);
  VOID *Interface = nullptr;
  EXPECT_EQ(BS()->LocateProtocol(&gXchInitProtocolGuid, nullptr, &Interface), EFI_NOT_FOUND);
  InstallPciIo();
  ReadyToBoot();
  EXPECT_EQ(DebugLinesWith("XchInitMid Enter"), 0u);
  EXPECT_EQ(DebugLinesWith("XchInitLate Enter"), 0u);
}

TEST_F(EntryPhasesTest, TheForwarderRecordBufferIsReleasedWhenItsDataBufferCannotBeHad) {
  StartPlatform();
  XchKryDxeResetModuleState();
  EFI_HANDLE Image = Env().LoadImage(XchKryDxeModuleEntry);
  Env().Pool().FailNthAllocation(5);  // S3 private data, table, comm buffer, record buffer, data buffer
  EXPECT_EQ(Env().StartImage(Image), EFI_SUCCESS);
  for (const HostEnv::LiveBlock &Live : Env().Pool().LiveBlocks()) {
    EXPECT_FALSE(Live.MemoryType == EfiRuntimeServicesData && (Live.Size == 100 || Live.Size == 8)) << Live.Size;
  }
}

}  // namespace
