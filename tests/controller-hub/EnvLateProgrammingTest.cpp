// The Env and Late task routines as register writes, for chosen data-block
// values, against the documented sequences; reset requests; whole boots.
#include <Platform/Hardware.h>

#include <cstring>

#include "HubProgrammingExpectations.h"
#include "XchEnvProgramming.h"
#include "XchLateProgramming.h"

using HostEnv::AccessSpace;
using HostEnv::TraceKind;
using HostEnv::TraceOp;
using HubSim::PcdType;
using HubSim::PcdValue;

namespace {

class ProgrammingTest : public HubTest {
 protected:
  void SetUp() override {
    HubTest::SetUp();
    ASSERT_EQ(RunEntry(), EFI_SUCCESS);
    ClearTrace();
  }
  HostEnv::SimChipset &Chip() { return Env().Chipset(); }
  ExpectedWrites Expect() { return ExpectedWrites(&Chip(), &Platform()); }
  template <typename T>
  void Set(size_t Offset, T Value) {
    std::memcpy(Block() + Offset, &Value, sizeof(T));
  }
  void SetBytes(std::initializer_list<std::pair<size_t, UINT8>> Bytes) {
    for (auto [Offset, Value] : Bytes) Block()[Offset] = Value;
  }
  std::vector<Access> WritesTo(UINT64 Address) const {
    std::vector<Access> Result;
    for (const Access &Entry : Writes()) {
      if (Entry.Address == Address) Result.push_back(Entry);
    }
    return Result;
  }
};

// --- Env task 1 ---

TEST_F(ProgrammingTest, Task1StoresTheLow32BitsOfTheBlockAddressThenA1AndA2) {
  for (UINT8 Done : {0, 1}) {
    ClearTrace();
    Block()[0x61] = Done;
    UINT64 Address = reinterpret_cast<UINT64>(Block());
    ExpectedWrites E = Expect();
    ExpectEnvAcpiMmioDefaults(E, Block(), Address);
    XchEnvAcpiMmioDefaults(Block());
    EXPECT_TRUE(SameWrites(Writes(), E.Writes())) << "blk+0x61 = " << int(Done);
    EXPECT_EQ(Chip().Peek(AccessSpace::Mmio, 0xFED80608, 4), Address & 0xFFFFFFFF);
    EXPECT_EQ(WritesTo(0xFED803C0).size(), Done == 0 ? 1u : 0u);
    for (UINT64 Beyond = 0xFED8060C; Beyond < 0xFED80610; ++Beyond) EXPECT_TRUE(WritesTo(Beyond).empty());
  }
}

// --- Env task 2 ---

// An ACPI MMIO byte table the platform points at through blk+0x57.
const UINT8 kPlatformTable[] = {0x00, 0x00, 0xB0, 0xAC, 0x05, 0x10, 0xF0, 0x0A, 0x02, 0x20, 0x00, 0x33, 0x1D, 0, 0, 0};

TEST_F(ProgrammingTest, Task2WithEveryOptionSet) {
  Set<UINT32>(0x04, 0xC0000000 | 0x800 | 0x10000 | 0x20);
  Set<UINT16>(0x18, 0x0008);
  Set<UINT32>(0xF3, 0x12341022);
  Set<UINT32>(0x51, 0x7);
  Set<UINT64>(0x57, reinterpret_cast<UINT64>(kPlatformTable));
  SetBytes({{0x353, 1}, {0x342, 1}, {0x271, 1}, {0x272, 0}, {0x66, 1}, {0x67, 1}, {0x68, 1}, {0x660, 0},
            {0x25, 0x06}, {0x26, 0x1A}, {0x27, 0x7F}, {0x28, 0x41}, {0x29, 0x02}, {0x2A, 0x03}, {0x2B, 0x04},
            {0x2C, 0x05}});
  Chip().Poke(AccessSpace::Mmio, 0xFED81E76, 1, 0x08);
  Chip().Poke(AccessSpace::Mmio, 0xFEC13000, 4, 0xFFFFFFFF);
  ExpectedWrites E = Expect();
  ExpectEnvHubProgramming(E, Block());
  XchEnvHubProgramming(Block());
  EXPECT_TRUE(SameWrites(Writes(), E.Writes()));
  // Values worked out by hand for the flagged block at 0xFEC13000.
  EXPECT_EQ(Chip().Peek(AccessSpace::Mmio, 0xFEC13000, 4), 0xFFFBFFFFu);  // b0 = 6: bits 29-30 set, 18 clear
  EXPECT_EQ(Chip().Peek(AccessSpace::Mmio, 0xFEC13020, 4), 0xAAA00000u);  // b1 & 0xF = 0xA
  EXPECT_EQ(Chip().Peek(AccessSpace::Mmio, 0xFEC1306C, 2), 0x013Fu);      // b3 & 0x3F = 1, b2 & 0x3F = 0x3F
  EXPECT_EQ(Chip().Peek(AccessSpace::Mmio, 0xFED80510, 1), 0x0Au);        // from the platform table
  // Step 14 marks the block, not the hardware.
  UINT32 Flags;
  std::memcpy(&Flags, Block() + 0x04, 4);
  EXPECT_EQ(Flags, 0xE0010820u);
}

TEST_F(ProgrammingTest, Task2WithEveryOptionClear) {
  Set<UINT32>(0x04, 0);
  Set<UINT16>(0x18, 0);
  Set<UINT32>(0xF3, 0);
  Set<UINT32>(0x51, 0);
  Set<UINT64>(0x57, 0);
  SetBytes({{0x353, 0}, {0x342, 2}, {0x271, 0}, {0x66, 0}, {0x67, 0}, {0x68, 0}, {0x660, 1}});
  ExpectedWrites E = Expect();
  ExpectEnvHubProgramming(E, Block());
  XchEnvHubProgramming(Block());
  EXPECT_TRUE(SameWrites(Writes(), E.Writes()));
  EXPECT_TRUE(WritesTo(0xE00A002C).empty()) << "zero subsystem ID written";
  EXPECT_EQ(WritesTo(0xFED80377), std::vector<Access>{MmioW(1, 0xFED80377, 0x08)});
}

TEST_F(ProgrammingTest, Task2OptionsThatOnlyChangeValues) {
  // blk+0x271 = 1 with blk+0x272 set keeps bit 29 clear; 0x342 = 1 gives 9.
  Set<UINT32>(0x04, 0);
  SetBytes({{0x271, 1}, {0x272, 1}, {0x342, 1}, {0x67, 1}});
  Chip().Poke(AccessSpace::Mmio, 0xFED80300, 4, 0x20000000);
  Chip().Poke(AccessSpace::Mmio, 0xFED81E76, 1, 0x00);
  XchEnvHubProgramming(Block());
  EXPECT_EQ(WritesTo(0xFED80300), (std::vector<Access>{MmioW(1, 0xFED80300, 0x40), MmioW(4, 0xFED80300, 0x00000040)}));
  EXPECT_EQ(WritesTo(0xFED80377), std::vector<Access>{MmioW(1, 0xFED80377, 0x09)});
  // Without bit 3 at 0xFED81E76 the register at 0xFED81E90 is written once.
  EXPECT_EQ(WritesTo(0xFED81E90), std::vector<Access>{MmioW(4, 0xFED81E90, 0x16)});
  EXPECT_EQ(WritesTo(0xFED81E88), (std::vector<Access>{MmioW(2, 0xFED81E88, 1), MmioW(2, 0xFED81E88, 2),
                                                       MmioW(2, 0xFED81E88, 4), MmioW(2, 0xFED81E88, 0x1B)}));
}

// The platform's table comes through PCD 259, whose size is all the driver
// knows of its end: 0xFED80510 is the one whole entry, 0xFED80511 the start
// of one cut short.
class PlatformMmioTableTest : public HubTest {};

TEST_F(PlatformMmioTableTest, ATableWithoutItsEndEntryStopsAtThePcdsSize) {
  Profile.Pcds[259] = PcdValue::Pointer({0x00, 0x00, 0xB0, 0xAC, 0x05, 0x10, 0xF0, 0x0A, 0x05, 0x11, 0x00});
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  EXPECT_EQ(Env().Chipset().Peek(AccessSpace::Mmio, 0xFED80510, 1), 0x0Au);
  for (const Access &Entry : Writes()) {
    EXPECT_NE(Entry.Address, 0xFED80511u);
  }
  EXPECT_EQ(DebugLinesWith("ACPI MMIO byte table ends at 11 bytes without its end entry\n"), 1u);
}

// --- Env task 3 ---

TEST_F(ProgrammingTest, Task3AppliesT1AndTheSubsystemIdUnlessItIsZero) {
  for (UINT32 Id : {0u, 0xABCD1022u}) {
    ClearTrace();
    Set<UINT32>(0x11A, Id);
    Chip().Poke(AccessSpace::Mmio, 0xE00A3078, 1, 0xFF);
    XchEnvDevice14Fn3Identity(Block());
    std::vector<Access> Expected = {IoW(4, 0x80, 0xB000AF52), MmioW(1, 0xE00A3078, 0xFC)};
    if (Id != 0) Expected.push_back(MmioW(4, 0xE00A302C, Id));
    EXPECT_EQ(Writes(), Expected);
  }
}

// --- Env task 5 ---

struct Function6Case {
  const char *Name;
  UINT32      Mode;
  UINT32      SubsystemId;
  UINT8       Option16F, Option170, Option171;
};

class Function6Test : public ProgrammingTest, public ::testing::WithParamInterface<Function6Case> {};

TEST_P(Function6Test, Task5FollowsTheMode) {
  const Function6Case &Case = GetParam();
  Set<UINT32>(0x15D, Case.Mode);
  Set<UINT32>(0x163, Case.SubsystemId);
  SetBytes({{0x16F, Case.Option16F}, {0x170, Case.Option170}, {0x171, Case.Option171}});
  Chip().Poke(AccessSpace::Mmio, 0xE00A60A4, 4, 0xFFFFFFFF);
  Chip().Poke(AccessSpace::Mmio, 0xFED81E72, 1, 0xFF);
  ExpectedWrites E = Expect();
  ExpectEnvDevice14Fn6(E, Block());
  XchEnvDevice14Fn6Options(Block());
  EXPECT_TRUE(SameWrites(Writes(), E.Writes()));
}

INSTANTIATE_TEST_SUITE_P(Modes, Function6Test,
                         ::testing::Values(Function6Case{"mode0", 0, 0x1111, 3, 1, 1},
                                           Function6Case{"mode6", 6, 0x1111, 3, 1, 1},
                                           Function6Case{"mode1", 1, 0x22221022, 2, 1, 1},
                                           Function6Case{"mode1NoOptions", 1, 0, 0, 0, 0},
                                           Function6Case{"mode2", 2, 0x3333, 1, 0, 2},
                                           Function6Case{"mode5Truncated", 5, 0, 0xFF, 1, 3}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(ProgrammingTest, Task5ModeTwoSkipsTheModeOneWritesButNotTheOptionsAfterThem) {
  Set<UINT32>(0x15D, 2);
  Set<UINT32>(0x163, 0);
  SetBytes({{0x16F, 0x03}, {0x170, 1}, {0x171, 2}});
  Chip().Poke(AccessSpace::Mmio, 0xE00A60A4, 4, 0x00FFFFFF);
  Chip().Poke(AccessSpace::Mmio, 0xE00A60D0, 4, 0);
  XchEnvDevice14Fn6Options(Block());
  EXPECT_EQ(Writes(), (std::vector<Access>{IoW(4, 0x80, 0xB000AF55), MmioW(1, 0xFED803D3, 0x40),
                                           MmioW(1, 0xFED803E8, 0x01),
                                           MmioW(4, 0xE00A60A4, 0xC0FFFFFF),  // blk+0x16F << 30
                                           MmioW(4, 0xE00A60D0, 0x00020000),  // blk+0x170
                                           MmioW(4, 0xE00A60A4, 0xC0A7FFFF)}));  // blk+0x171 = 2
}

TEST_F(ProgrammingTest, Task5ModeZeroClearsBit3Of1E72WithAPlainReadAndWrite) {
  Set<UINT32>(0x15D, 0);
  Chip().Poke(AccessSpace::Mmio, 0xFED81E72, 1, 0xFF);
  XchEnvDevice14Fn6Options(Block());
  std::vector<Access> All = Accesses();
  ASSERT_GE(All.size(), 2u);
  EXPECT_EQ(std::vector<Access>(All.end() - 2, All.end()),
            (std::vector<Access>{MmioR(1, 0xFED81E72, 0xFF), MmioW(1, 0xFED81E72, 0xF7)}));
}

// --- Env task 6 ---

TEST_F(ProgrammingTest, Task6WritesBothSmnRegistersOnlyForANonZeroValue) {
  Chip().Poke(AccessSpace::Mmio, 0xE000004C, 1, 0x01);
  Set<UINT32>(0xD0, 0);
  XchEnvSmnHostBridge(Block());
  EXPECT_EQ(Writes(), std::vector<Access>{MmioW(1, 0xE000004C, 0x11)});

  ClearTrace();
  Set<UINT32>(0xD0, 0x00C0FFEE);
  Platform().SetSmn(0x1014304C, 0xFFFFFFFF);
  ExpectedWrites E = Expect();
  ExpectEnvSmnHostBridge(E, Block());
  XchEnvSmnHostBridge(Block());
  EXPECT_TRUE(SameWrites(Writes(), E.Writes()));
  EXPECT_EQ(Platform().Smn(0x1014304C), 0x00C0FFEEu);
  EXPECT_EQ(Platform().Smn(0x1014404C), 0x00C0FFEEu);
}

// --- Env task 7 ---

struct AbCase {
  const char *Name;
  UINT8       On;      // value of every one-byte option
  UINT8       Shifted; // blk+0x83
};

class AbOptionsTest : public ProgrammingTest, public ::testing::WithParamInterface<AbCase> {};

TEST_P(AbOptionsTest, Task7FollowsTheOptions) {
  for (size_t Offset : {0x7A, 0x7B, 0x71, 0x7C, 0x7D, 0x6A, 0x6B, 0x7F, 0x80, 0x81, 0x82, 0x84, 0x87, 0x88}) {
    Block()[Offset] = GetParam().On;
  }
  Block()[0x83] = GetParam().Shifted;
  Chip().Poke(AccessSpace::Io, 0xCDC, 4, 0x5A5A5A5A);
  ExpectedWrites E = Expect();
  ExpectEnvAbOptions(E, Block());
  XchEnvAbRegisterOptions(Block());
  EXPECT_TRUE(SameWrites(Writes(), E.Writes()));
}

INSTANTIATE_TEST_SUITE_P(Options, AbOptionsTest,
                         ::testing::Values(AbCase{"allSet", 1, 0x1F}, AbCase{"allClear", 0, 0},
                                           AbCase{"nonOneValues", 2, 0xE5}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(ProgrammingTest, Task7ReachesTheAbTableThroughTheIndexPort) {
  XchEnvAbRegisterOptions(Block());
  // The table's first entry (type 6, register 0x80) right after 0xFED80E40,
  // and the index port cleared once more after the last entry.
  std::vector<Access> All = Writes();
  ASSERT_GT(All.size(), 38u);
  EXPECT_EQ(All[2], IoW(4, 0xCD8, 0xC0000080));
  EXPECT_EQ(All[4], IoW(4, 0xCD8, 0xC0000080));
  // Five writes per entry of a directly indexed space.
  EXPECT_EQ(All[2 + 5 * 6], IoW(4, 0xCD8, 0xC0000000));  // the seventh entry's index
  EXPECT_EQ(All[2 + 5 * 6 + 4], IoW(4, 0xCD8, 0));
  EXPECT_EQ(All[2 + 5 * 7], IoW(4, 0xCD8, 0));  // the extra clear
  EXPECT_EQ(All[2 + 5 * 7 + 1], IoW(4, 0xCD8, 0xC0010050));
}

// --- Late task 2 ---

TEST_F(ProgrammingTest, LateTask2WithChosenValues) {
  SetBytes({{0x277, 1}, {0x278, 0}, {0x279, 1}, {0x27A, 0}, {0x27B, 1}, {0x27C, 0}, {0x27D, 1}, {0xB2, 1},
            {0x55, 0}});
  // Interrupt routing: two block bytes make 0x0E and 0x0F land elsewhere.
  SetBytes({{0x20, 0x0E}, {0x21, 0x0B}, {0x22, 0x04}, {0x23, 0x06}, {0x1B, 0x0F}, {0x1C, 0x09}, {0x24, 0x16},
            {0x1F, 0x0D}, {0x1D, 0x05}, {0x1E, 0x01}});
  Chip().Poke(AccessSpace::Mmio, 0xFED803A0, 4, 0xFFFFFFFF);
  Chip().Poke(AccessSpace::Mmio, 0xFED802B0, 4, 0x0000000F);
  Chip().Poke(AccessSpace::Mmio, 0xFED8030B, 1, 0x01);
  Chip().Poke(AccessSpace::Mmio, 0xFED80278, 1, 0x00);
  Chip().Poke(AccessSpace::Mmio, 0xFED80279, 1, 0x21);
  Chip().Poke(AccessSpace::Mmio, 0xFED8026A, 1, 0x05);
  Chip().Poke(AccessSpace::Mmio, 0xFED8027D, 1, 0x00);
  Chip().Poke(AccessSpace::Mmio, 0xFED8027E, 1, 0x1F);
  Chip().Poke(AccessSpace::Mmio, 0xFED80265, 1, 0x00);
  Chip().Poke(AccessSpace::Mmio, 0xFED8020C, 4, 0x00001000);
  ExpectedWrites E = Expect();
  ExpectLateHubProgrammingUpToReset(E, Block());
  ExpectLateHubProgrammingAfterReset(E, Block());
  XchLateHubProgramming(Block());
  EXPECT_TRUE(SameWrites(Writes(), E.Writes()));

  // The same by hand where it matters.
  EXPECT_EQ(WritesTo(0xFED803A0), std::vector<Access>{MmioW(4, 0xFED803A0, 0xC07F84FD)});
  EXPECT_EQ(WritesTo(0xFED802B0), (std::vector<Access>{MmioW(4, 0xFED802B0, 0x3), MmioW(4, 0xFED802B0, 0x7)}));
  EXPECT_EQ(WritesTo(0xFED8030B), (std::vector<Access>{MmioW(1, 0xFED8030B, 0x00), MmioW(1, 0xFED8030B, 0x02)}));
  EXPECT_EQ(WritesTo(0xFED8020C), (std::vector<Access>{MmioW(4, 0xFED8020C, 0x80001022),  // bits 1, 5, 31
                                                       MmioW(4, 0xFED8020C, 0x80001023)}));  // 0 names bit 0
}

TEST_F(ProgrammingTest, LateInterruptRoutingTakesIndexesF0ToF9FromTheBlock) {
  Set<UINT64>(0x1B, 0);  // blk+0x1B..0x22
  SetBytes({{0x1B, 0x0E}, {0x1C, 0x0F}, {0x1D, 0x11}, {0x1E, 0x12}, {0x1F, 0x13}, {0x20, 0x0F}, {0x21, 0x14},
            {0x22, 0x15}, {0x23, 0x0E}, {0x24, 0x17}});
  XchLateHubProgramming(Block());
  std::vector<std::pair<UINT64, UINT64>> Ports;
  for (const Access &Entry : Writes()) {
    if (Entry.Kind == TraceKind::Io && (Entry.Address == 0xC00 || Entry.Address == 0xC01)) {
      Ports.push_back({Entry.Address, Entry.Value});
    }
  }
  std::vector<std::pair<UINT64, UINT64>> Expected;
  auto Pair = [&](UINT8 Index, UINT8 Value) {
    Expected.push_back({0xC00, Index});
    Expected.push_back({0xC01, Value});
  };
  Pair(0x80, 0x1F), Pair(0x81, 0x1F), Pair(0x82, 0x1F), Pair(0x83, 0x1F), Pair(0x97, 0x10), Pair(0x9A, 0x10);
  Pair(0xC3, 0x05), Pair(0xE2, 0x07);
  Pair(0xF4, 0x0E), Pair(8, 0x3E);  // blk+0x1B: 0x0E, bits 4-5 at index 8 (reads back 0x0E)
  Pair(0xF5, 0x0F), Pair(8, 0xCF);  // blk+0x1C: 0x0F, bits 6-7
  Pair(0xF8, 0x11), Pair(0xF9, 0x12), Pair(0xF7, 0x13);
  Pair(0xF0, 0x0F), Pair(8, 0xCF);  // blk+0x20
  Pair(0xF1, 0x14), Pair(0xF2, 0x15);
  Pair(0xF3, 0x0E), Pair(8, 0x3E);  // blk+0x23
  Pair(0xF6, 0x17);
  EXPECT_EQ(Ports, Expected);
}

TEST_F(ProgrammingTest, LateBitNamingWritesTheRegisterEvenWhenNoByteIsSet) {
  for (UINT64 Address : {0xFED80278, 0xFED80279, 0xFED8026A, 0xFED8027D, 0xFED8027E, 0xFED80265}) {
    Chip().Poke(AccessSpace::Mmio, Address, 1, 0);
  }
  Chip().Poke(AccessSpace::Mmio, 0xFED8020C, 4, 0x10);
  XchLateHubProgramming(Block());
  EXPECT_EQ(WritesTo(0xFED8020C), (std::vector<Access>{MmioW(4, 0xFED8020C, 0x10), MmioW(4, 0xFED8020C, 0x11)}));
  size_t Reads265 = 0;
  for (const Access &Entry : Accesses()) Reads265 += Entry.Op == TraceOp::Read && Entry.Address == 0xFED80265;
  EXPECT_EQ(Reads265, 2u);
}

// --- Reset requests ---

struct ResetCase {
  UINT8  Request;
  UINT16 Port;
  UINT8  Value;
};

class ResetRequestTest : public ProgrammingTest, public ::testing::WithParamInterface<ResetCase> {};

TEST_P(ResetRequestTest, RequestsOneToThreeResetWithTheirPortWrite) {
  Block()[0x55] = GetParam().Request;
  ExpectedWrites E = Expect();
  ExpectLateHubProgrammingUpToReset(E, Block());
  EXPECT_THROW(XchLateHubProgramming(Block()), HubSim::SimulatedReset);
  EXPECT_TRUE(SameWrites(Writes(), E.Writes()));
  EXPECT_EQ(Writes().back(), IoW(1, GetParam().Port, GetParam().Value));
  ASSERT_EQ(EventsNamed("reset").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Requests, ResetRequestTest,
                         ::testing::Values(ResetCase{1, 0x64, 0xFE}, ResetCase{2, 0xCF9, 0x06},
                                           ResetCase{3, 0xCF9, 0x0E}));

TEST_F(ProgrammingTest, ResetRequestFourOnlyBecomesThree) {
  Block()[0x55] = 4;
  ExpectedWrites E = Expect();
  ExpectLateHubProgrammingUpToReset(E, Block());
  ExpectLateHubProgrammingAfterReset(E, Block());
  XchLateHubProgramming(Block());
  EXPECT_TRUE(SameWrites(Writes(), E.Writes()));
  EXPECT_EQ(Block()[0x55], 3);
  EXPECT_TRUE(EventsNamed("reset").empty());
}

TEST_F(ProgrammingTest, OtherResetRequestValuesChangeNothing) {
  Block()[0x55] = 5;
  XchLateHubProgramming(Block());
  EXPECT_EQ(Block()[0x55], 5);
  EXPECT_TRUE(EventsNamed("reset").empty());
}

// --- Late task 3 ---

TEST_F(ProgrammingTest, LateTask3ClearsTwoGroupsOfSmnRegisters) {
  for (UINT32 Register : {0x10134608u, 0x10134808u, 0x10136608u, 0x10136808u, 0x1013461Cu, 0x1013481Cu, 0x1013661Cu,
                          0x1013681Cu}) {
    Platform().SetSmn(Register, 0xFFFFFFFF);
  }
  ExpectedWrites E = Expect();
  ExpectLateSmnClears(E);
  XchLateSmnClears(Block());
  EXPECT_TRUE(SameWrites(Writes(), E.Writes()));
  EXPECT_EQ(Platform().Smn(0x10136808), 0xF8FFFFFFu);
  EXPECT_EQ(Platform().Smn(0x1013681C), 0xFFFF001Fu);
}

// --- Whole boots ---

class WholeBootTest : public HubTest {
 protected:
  // Boots on Profile and checks both phases against the documentation.
  void BootAndCheckEveryWrite() {
    ASSERT_EQ(RunEntry(), EFI_SUCCESS);
    std::vector<UINT8> AsBuilt = Platform().DataBlockAsBuilt();
    ASSERT_EQ(AsBuilt.size(), 1802u);
    InstallPciIo();
    ReadyToLock();
    std::vector<UINT8> BeforeLate(Block(), Block() + 1802);
    ReadyToBoot();
    ASSERT_EQ(DebugLinesWith("  XchInitLate Exit... Status = [0x0]\n"), 1u);

    const auto &Trace = Env().Chipset().Trace();
    const auto &Events = Platform().Events();
    ExpectedWrites EnvWrites(nullptr, nullptr);  // registers (SMN too) start at 0
    ExpectEnvPhase(EnvWrites, AsBuilt.data(), reinterpret_cast<UINT64>(Block()));
    EXPECT_TRUE(SameWrites(PhaseWrites(Trace, Events, 0xB000AF06, "  XchInitEnv Exit... Status = [0x0]\n"),
                           EnvWrites.Writes()));
    ExpectedWrites LateWrites = EnvWrites;  // Late starts from what Env left
    LateWrites.ClearWrites();
    ExpectLatePhase(LateWrites, BeforeLate.data());
    EXPECT_TRUE(SameWrites(PhaseWrites(Trace, Events, 0xB000AF08, "  XchInitLate Exit... Status = [0x0]\n"),
                           LateWrites.Writes()));
  }
};

TEST_F(WholeBootTest, TheDefaultPlatformGetsEveryDocumentedWriteInOrder) {
  BootAndCheckEveryWrite();
  EXPECT_EQ(Platform().UartReceived(), " --- Init Xch Uart --- ");
}

TEST_F(WholeBootTest, APlatformWithEveryOptionGetsEveryDocumentedWriteInOrder) {
  auto U8 = [](UINT64 V) { return PcdValue::Number(PcdType::U8, V); };
  auto U32 = [](UINT64 V) { return PcdValue::Number(PcdType::U32, V); };
  auto Bool = [](bool V) { return PcdValue::Number(PcdType::Bool, V ? 1 : 0); };
  Profile.Pcds[83] = U32(0xC0000000 | 0x800 | 0x1000 | 0x10000 | 0x4000000 | 0x100000 | 0x20 | 0x200000 | 0x4000);
  Profile.Pcds[336] = U8(2);  // UART 1 legacy range 2 as well
  for (UINTN Token : {906, 221, 804, 256, 828, 821, 291, 937, 772, 833, 832, 849, 851, 850, 836, 837}) {
    Profile.Pcds[Token] = Bool(true);
  }
  Profile.Pcds[292] = U32(0x11111022);
  Profile.Pcds[242] = U32(0x33331022);
  Profile.Pcds[290] = U32(0x66661022);
  Profile.Pcds[331] = U32(0x00000042);
  Profile.Pcds[289] = U8(1);
  Profile.Pcds[842] = U8(4);  // reset request 4: rewritten, no reset
  Profile.Pcds[843] = U8(1);
  Profile.Pcds[794] = U8(1);
  Profile.Pcds[771] = U8(1);
  Profile.Pcds[770] = U8(1);
  Profile.Pcds[787] = U8(1);
  Profile.Pcds[852] = U8(0x12);
  Profile.Pcds[609] = U8(2);
  Profile.Pcds[929] = PcdValue::Pointer({0x07, 0x1A, 0x7F, 0x41, 0x02, 0x03, 0x04, 0x05});
  BootAndCheckEveryWrite();
  EXPECT_EQ(Block()[0x55], 3);
}

TEST_F(WholeBootTest, AResetRequestEndsTheBootInTheLatePhase) {
  Profile.Pcds[842] = PcdValue::Number(PcdType::U8, 2);
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  InstallPciIo();
  ReadyToLock();
  EXPECT_THROW(ReadyToBoot(), HubSim::SimulatedReset);
  EXPECT_EQ(DebugLinesWith("XchInitLate Exit"), 0u);
  EXPECT_EQ(Writes().back(), IoW(1, 0xCF9, 0x06));
  ASSERT_EQ(EventsNamed("reset").size(), 1u);
  EXPECT_EQ(EventsNamed("reset")[0].Field("port"), "0xCF9");
}

}  // namespace
