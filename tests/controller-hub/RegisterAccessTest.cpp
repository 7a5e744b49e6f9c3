// Register access paths and the SMU service request, as access traces.
#include "HubTest.h"

#include <Platform/Hardware.h>

#include <cstring>

#include "QuorS3SaveLib.h"
#include "XchRegisterAccess.h"
#include "XchSmuService.h"

using HostEnv::AccessSpace;
using HostEnv::TraceKind;
using HostEnv::TraceOp;

namespace {

class RegisterAccessTest : public HubTest {
 protected:
  void SetUp() override {
    HubTest::SetUp();
    ASSERT_EQ(RunEntry(), EFI_SUCCESS);
    ClearTrace();
  }
  HostEnv::SimChipset &Chip() { return Env().Chipset(); }
  // The assertion stop as it shows in the trace.
  static std::vector<Access> AssertStop(UINT32 Code) {
    return {IoW(2, 0xE0, 0xDEAD), IoW(4, 0x80, Code), Access{TraceKind::Cpuid, TraceOp::Read, 4, 0xBACCD00B, 0}};
  }
};

TEST_F(RegisterAccessTest, PciReadsOutsideTheWindowGiveAllOnesWithoutAnAccess) {
  UINT8 Byte = 0;
  UINT16 Word = 0;
  UINT32 Dword = 0;
  XchPciReadRaw(0x10000000, 1, &Byte);
  XchPciReadRaw(0x10000000, 2, &Word);
  XchPciReadRaw(0x1FFFFFFF, 3, &Dword);
  EXPECT_EQ(Byte, 0xFF);
  EXPECT_EQ(Word, 0xFFFF);
  EXPECT_EQ(Dword, 0xFFFFFFFFu);
  EXPECT_TRUE(Accesses().empty());
}

TEST_F(RegisterAccessTest, PciReadsInsideTheWindowReadTheConfigurationSpace) {
  Chip().Poke(AccessSpace::Mmio, 0xE00A3000 + 0x2C, 4, 0x12345678);
  UINT32 Value = 0;
  XchPciReadRaw(XchPciRawOffset(0, 0x14, 3, 0x2C), 3, &Value);
  EXPECT_EQ(Value, 0x12345678u);
  EXPECT_EQ(Accesses(), std::vector<Access>{MmioR(4, 0xE00A302C, 0x12345678)});
}

TEST_F(RegisterAccessTest, AWidthCode0x83WriteIsRecordedForS3AndPerformed) {
  UINT32 Value = 0xCAFE0001;
  size_t Script = Platform().BootScript().size();
  XchPciWriteRaw(0x000A302C, 0x83, &Value);
  ASSERT_EQ(Platform().BootScript().size(), Script + 1);
  const HubSim::BootScriptEntry &Entry = Platform().BootScript().back();
  EXPECT_EQ(Entry.OpCode, 2u);  // memory write: PCIe base + offset, 32-bit
  EXPECT_EQ(Entry.Width, 2u);
  EXPECT_EQ(Entry.Address, 0xE00A302Cu);
  EXPECT_EQ(Entry.Values, std::vector<UINT64>{0xCAFE0001});
  EXPECT_EQ(Accesses(), std::vector<Access>{MmioW(4, 0xE00A302C, 0xCAFE0001)});

  // Once SMM is about to lock, the same write lands in the S3 save table.
  ReadyToLock();
  XchPciWriteRaw(0x000A3030, 0x82, &Value);
  EXPECT_EQ(Platform().BootScript().size(), Script + 1);
  const UINT8 *Table = reinterpret_cast<const UINT8 *>(QuorS3PrivateData()->Table);
  EXPECT_EQ(Table[48], 3);
  EXPECT_EQ(Table[52], 1);  // 16-bit: width code 2 - 1
  UINT64 Address;
  std::memcpy(&Address, Table + 56, 8);
  EXPECT_EQ(Address, 0xE00A3030u);
}

TEST_F(RegisterAccessTest, PciWritesOutsideTheWindowAreDroppedButStillRecordedForS3) {
  UINT8 Value = 0x5A;
  size_t Script = Platform().BootScript().size();
  XchPciWriteRaw(0x10000004, 0x81, &Value);
  EXPECT_TRUE(Accesses().empty());
  ASSERT_EQ(Platform().BootScript().size(), Script + 1);
  EXPECT_EQ(Platform().BootScript().back().Address, 0xE0000004u);  // offset AND 0x0FFFFFFF
}

TEST_F(RegisterAccessTest, UnrecognisedPciWidthsStopAndSkipTheAccess) {
  UINT32 Value = 0;
  XchPciReadRaw(0x100, 5, &Value);
  XchPciWriteRaw(0x100, 0x85, &Value);
  std::vector<Access> Expected = AssertStop(0xA10D0117);
  for (const Access &Entry : AssertStop(0xA10D0079)) Expected.push_back(Entry);
  EXPECT_EQ(Accesses(), Expected);
}

TEST_F(RegisterAccessTest, PackedPciModifyReadsAndWritesTheRawOffset) {
  Chip().Poke(AccessSpace::Mmio, 0xE00A60A4, 4, 0xFFFFFFFF);
  XchPciModify(XchPciPackedAddress(0, 0x14, 6, 0xA4), 3, 0x3FFFFFFF, 0x40000000);
  EXPECT_EQ(Accesses(), (std::vector<Access>{MmioR(4, 0xE00A60A4, 0xFFFFFFFF), MmioW(4, 0xE00A60A4, 0x7FFFFFFF)}));
  EXPECT_EQ(XchPciPackedToRaw(0x00A600A4), 0x000A60A4u);
}

TEST_F(RegisterAccessTest, SmnReadSavesAndRestoresTheIndex) {
  Chip().Poke(AccessSpace::Mmio, 0xE00000B8, 4, 0x00ABCDEF);
  Platform().SetSmn(0x1014304C, 0x600DF00D);
  UINT32 Value = 0;
  XchSmnRead(0, 0x1014304C, 3, &Value);
  EXPECT_EQ(Value, 0x600DF00Du);
  EXPECT_EQ(Accesses(), (std::vector<Access>{MmioR(4, 0xE00000B8, 0x00ABCDEF), MmioW(4, 0xE00000B8, 0x1014304C),
                                             MmioR(4, 0xE00000BC, 0x600DF00D), MmioW(4, 0xE00000B8, 0x00ABCDEF)}));
}

TEST_F(RegisterAccessTest, SmnWriteAndModifyGoThroughTheIndexDataPair) {
  Platform().SetSmn(0x10134608, 0xFFFFFFFF);
  XchSmnModify(0x10134608, 0xF8FFFFFF, 0);
  XchSmnWrite(0x02D01000, 0xB000AF00);
  EXPECT_EQ(Accesses(), (std::vector<Access>{MmioW(4, 0xE00000B8, 0x10134608), MmioR(4, 0xE00000BC, 0xFFFFFFFF),
                                             MmioW(4, 0xE00000B8, 0x10134608), MmioW(4, 0xE00000BC, 0xF8FFFFFF),
                                             MmioW(4, 0xE00000B8, 0x02D01000), MmioW(4, 0xE00000BC, 0xB000AF00)}));
  EXPECT_EQ(Platform().Smn(0x02D01000), 0xB000AF00u);
}

TEST_F(RegisterAccessTest, MmioModifyReadsWritesAndReadsAgainAtEachWidth) {
  Chip().Poke(AccessSpace::Mmio, 0xFED80300, 4, 0x11223344);
  XchMmioModify(0xFED80300, 1, 0xF0, 0x05);
  XchMmioModify(0xFED80300, 2, 0x00FF, 0xAB00);
  XchMmioModify(0xFED80300, 3, 0x0000FFFF, 0x99880000);
  EXPECT_EQ(Accesses(), (std::vector<Access>{
                            MmioR(1, 0xFED80300, 0x44), MmioW(1, 0xFED80300, 0x45), MmioR(1, 0xFED80300, 0x45),
                            MmioR(2, 0xFED80300, 0x3345), MmioW(2, 0xFED80300, 0xAB45), MmioR(2, 0xFED80300, 0xAB45),
                            MmioR(4, 0xFED80300, 0x1122AB45), MmioW(4, 0xFED80300, 0x9988AB45),
                            MmioR(4, 0xFED80300, 0x9988AB45)}));
}

TEST_F(RegisterAccessTest, MmioModifyWithAnUnknownWidthStopsAndSkipsTheAccess) {
  XchMmioModify(0xFED80300, 4, 0, 1);
  std::vector<Access> Expected = AssertStop(0xB7180043);
  for (const Access &Entry : AssertStop(0xB7180079)) Expected.push_back(Entry);
  for (const Access &Entry : AssertStop(0xB7180043)) Expected.push_back(Entry);
  EXPECT_EQ(Accesses(), Expected);
}

TEST_F(RegisterAccessTest, MmioModifyWithTheS3FlagRecordsTheWrittenValue) {
  Chip().Poke(AccessSpace::Mmio, 0xFED803FC, 4, 0x000ABCDE);
  size_t Script = Platform().BootScript().size();
  XchMmioModify(0xFED803FC, 0x83, 0x000FFFFE, 0xF8000001);
  ASSERT_EQ(Platform().BootScript().size(), Script + 1);
  EXPECT_EQ(Platform().BootScript().back().Address, 0xFED803FCu);
  EXPECT_EQ(Platform().BootScript().back().Values, std::vector<UINT64>{0xF80ABCDF});
}

TEST_F(RegisterAccessTest, AbModifyOfSpaceTypeZeroGoesThroughThe30And34Window) {
  Chip().Poke(AccessSpace::Io, 0xCDC, 4, 0x0000FFFF);
  XchAbModify(0x00000054, 0xFFFFFFEF, 0x10);
  EXPECT_EQ(Accesses(), (std::vector<Access>{IoW(4, 0xCD8, 0x30), IoW(4, 0xCDC, 0x54), IoW(4, 0xCD8, 0),
                                             IoW(4, 0xCD8, 0x34), IoR(4, 0xCDC, 0x54), IoW(4, 0xCD8, 0),
                                             IoW(4, 0xCD8, 0x34), IoW(4, 0xCDC, 0x54), IoW(4, 0xCD8, 0)}));
}

TEST_F(RegisterAccessTest, AbModifyOfSpaceTypeTwoGoesThroughThe38And3CWindow) {
  XchAbModify(0x40000208, 0xFFFFFD7F, 0x280);
  EXPECT_EQ(Accesses(), (std::vector<Access>{IoW(4, 0xCD8, 0x40000038), IoW(4, 0xCDC, 0x208), IoW(4, 0xCD8, 0),
                                             IoW(4, 0xCD8, 0x4000003C), IoR(4, 0xCDC, 0x208), IoW(4, 0xCD8, 0),
                                             IoW(4, 0xCD8, 0x4000003C), IoW(4, 0xCDC, 0x288), IoW(4, 0xCD8, 0)}));
}

TEST_F(RegisterAccessTest, AbModifyOfOtherSpaceTypesUsesTheAddressAsIndex) {
  Chip().Poke(AccessSpace::Io, 0xCDC, 4, 0xFFFFFFFF);
  XchAbModify(0xC0010050, 0xFFFFFFF7, 0);
  EXPECT_EQ(Accesses(), (std::vector<Access>{IoW(4, 0xCD8, 0xC0010050), IoR(4, 0xCDC, 0xFFFFFFFF), IoW(4, 0xCD8, 0),
                                             IoW(4, 0xCD8, 0xC0010050), IoW(4, 0xCDC, 0xFFFFFFF7),
                                             IoW(4, 0xCD8, 0)}));
}

TEST_F(RegisterAccessTest, PciByteTableSwitchesDevicesAtFfFfFf) {
  // Header bus 0 devfn 0xA0; two entries; FF FF FF; header devfn 0xA3; one entry.
  const UINT8 Table[] = {0x00, 0xA0, 0x00, 0x04, 0xBF, 0x40, 0x05, 0xFE, 0x01, 0xFF, 0xFF, 0xFF,
                         0x00, 0xA3, 0x00, 0x78, 0xFC, 0x00, 0x11, 0x00, 0x22};
  Chip().Poke(AccessSpace::Mmio, 0xE00A3078, 1, 0xFF);
  XchPciByteTable(Table, 6);  // the last entry (0x11) is beyond the 6 units
  EXPECT_EQ(Accesses(), (std::vector<Access>{MmioR(1, 0xE00A0004, 0), MmioW(1, 0xE00A0004, 0x40),
                                             MmioR(1, 0xE00A0005, 0), MmioW(1, 0xE00A0005, 0x01),
                                             MmioR(1, 0xE00A3078, 0xFF), MmioW(1, 0xE00A3078, 0xFC)}));
}

TEST_F(RegisterAccessTest, AcpiMmioByteTableNeedsItsSignature) {
  const UINT8 Unsigned[] = {0x00, 0x00, 0xB0, 0xAD, 0x02, 0x41, 0x00, 0x01, 0xFF};
  XchAcpiMmioByteTable(Unsigned);
  EXPECT_TRUE(Accesses().empty());
  const UINT8 Signed[] = {0x00, 0x00, 0xB0, 0xAC, 0x03, 0x74, 0x00, 0x17, 0x02, 0x08, 0xE7, 0x00, 0x1D, 0, 0, 0};
  Chip().Poke(AccessSpace::Mmio, 0xFED80374, 1, 0x00);  // the entry's Env programming wrote it
  Chip().Poke(AccessSpace::Mmio, 0xFED80208, 1, 0xFF);
  XchAcpiMmioByteTable(Signed);
  EXPECT_EQ(Accesses(), (std::vector<Access>{MmioR(1, 0xFED80374, 0), MmioW(1, 0xFED80374, 0x17),
                                             MmioR(1, 0xFED80208, 0xFF), MmioW(1, 0xFED80208, 0xE7)}));
}

TEST_F(RegisterAccessTest, DataFabricReadsAddressDevice18AndCheckTheirArguments) {
  Chip().Poke(AccessSpace::Mmio, 0xE00C4184, 4, 0x100);
  EXPECT_EQ(XchDfRead(4, 0x184), 0x100u);
  EXPECT_EQ(Accesses(), std::vector<Access>{MmioR(4, 0xE00C4184, 0x100)});
  ClearTrace();
  XchDfRead(8, 0x2002);  // function, range and alignment all wrong: read anyway
  std::vector<Access> Expected;
  for (UINT32 Code : {0xDFD10082u, 0xDFD10083u, 0xDFD10084u}) {
    for (const Access &Entry : AssertStop(Code)) Expected.push_back(Entry);
  }
  Expected.push_back(MmioR(4, 0xE00C8002, 0));
  EXPECT_EQ(Accesses(), Expected);
}

std::vector<Access> SmnRead(UINT32 Address, UINT32 Value) {
  return {MmioR(4, 0xE00000B8, 0), MmioW(4, 0xE00000B8, Address), MmioR(4, 0xE00000BC, Value),
          MmioW(4, 0xE00000B8, 0)};
}

TEST_F(RegisterAccessTest, SmuRequestWaitsForAResponseAndReadsTheArgumentsBack) {
  Chip().Poke(AccessSpace::Mmio, 0xE00000B8, 4, 0);
  for (UINT32 Index = 0; Index < 6; ++Index) Platform().SetSmn(0x3B10998 + 4 * Index, 0xA0 + Index);
  Platform().QueueSmuResponses({0, 0, 0});  // the discarded read, then two polls that see 0
  UINT32 Arguments[6] = {};
  EXPECT_EQ(XchSmuServiceRequest(Arguments), 1u);
  for (UINT32 Index = 0; Index < 6; ++Index) EXPECT_EQ(Arguments[Index], 0xA0 + Index);

  std::vector<Access> Expected = {IoW(4, 0x80, 0xB000A914)};
  for (UINT32 Response : {0u, 0u, 0u, 1u}) {
    for (const Access &Entry : SmnRead(0x3B10578, Response)) Expected.push_back(Entry);
  }
  for (UINT32 Index = 0; Index < 6; ++Index) {
    for (const Access &Entry : SmnRead(0x3B10998 + 4 * Index, 0xA0 + Index)) Expected.push_back(Entry);
  }
  Expected.push_back(IoW(4, 0x80, 0xB000A915));
  EXPECT_EQ(Accesses(), Expected);
  // The entry's Env task 8 made the same request once already.
  EXPECT_EQ(DebugLinesWith("  Service Request Argument 0x0, 0x0, 0x0, 0x0, 0x0, 0x0\n"), 2u);
}

TEST_F(RegisterAccessTest, SmuResponse0xFCStopsWithoutReadingTheArguments) {
  Platform().SetSmuResponse(0xFC);
  UINT32 Arguments[6] = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(XchSmuServiceRequest(Arguments), 0xFCu);
  EXPECT_EQ(Arguments[0], 1u);
  EXPECT_EQ(DebugLinesWith("SMU Assert AccessFlags\n"), 1u);
  std::vector<Access> Tail = Accesses();
  Tail.erase(Tail.begin(), Tail.end() - 3);
  EXPECT_EQ(Tail, AssertStop(0xA13F0281));
}

TEST_F(RegisterAccessTest, AResetRequestEndsTheRunWithAResetEvent) {
  EXPECT_THROW(IoWrite8(0xCF9, 0x06), HubSim::SimulatedReset);
  EXPECT_THROW(IoWrite8(0x64, 0xFE), HubSim::SimulatedReset);
  IoWrite8(0xCF9, 0x02);  // not a reset request
  std::vector<HubSim::HubEvent> Resets = EventsNamed("reset");
  ASSERT_EQ(Resets.size(), 2u);
  EXPECT_EQ(Resets[0].Field("port"), "0xCF9");
  EXPECT_EQ(Resets[0].Field("value"), "0x6");
  EXPECT_EQ(Resets[1].Field("port"), "0x64");
}

}  // namespace
