// AOAC power, pin functions, legacy UART routing, the UART banner, the debug
// channels' byte outputs and the Late port write, as register writes.
#include <Platform/Hardware.h>

#include <cstring>

#include "HubProgrammingExpectations.h"
#include "XchAoacUart.h"
#include "XchDebugChannels.h"

using HostEnv::AccessSpace;
using HostEnv::TraceKind;
using HostEnv::TraceOp;

namespace {

constexpr UINT32 kPinRowFlags = 0x20 | 0x40 | 0x80 | 0x100 | 0x200000 | 0x2000 | 0x4000 | 0x8000;
constexpr UINT32 kSerialFlags = 0x800 | 0x1000 | 0x10000 | 0x4000000 | 0x100000;

class AoacUartTest : public HubTest {
 protected:
  void SetUp() override {
    HubTest::SetUp();
    ASSERT_EQ(RunEntry(), EFI_SUCCESS);
    ClearTrace();
  }
  HostEnv::SimChipset &Chip() { return Env().Chipset(); }
  ExpectedWrites Expect() { return ExpectedWrites(&Chip(), &Platform()); }
  void SetFlags(UINT32 Flags) { std::memcpy(Block() + 0x04, &Flags, 4); }
  void SetRouting(UINT16 Routing) { std::memcpy(Block() + 0x18, &Routing, 2); }
  std::vector<Access> WritesTo(UINT64 Address) const {
    std::vector<Access> Result;
    for (const Access &Entry : Writes()) {
      if (Entry.Kind == TraceKind::Mmio && Entry.Address == Address) Result.push_back(Entry);
    }
    return Result;
  }
  size_t ReadsOf(UINT64 Address) const {
    size_t Count = 0;
    for (const Access &Entry : Accesses()) {
      Count += Entry.Kind == TraceKind::Mmio && Entry.Op == TraceOp::Read && Entry.Address == Address;
    }
    return Count;
  }
};

struct FlagCase {
  const char *Name;
  UINT32      Flags;
  UINT8       SkipPinDevices;
};

class AoacUartFlagsTest : public AoacUartTest, public ::testing::WithParamInterface<FlagCase> {};

TEST_P(AoacUartFlagsTest, PowersPinsAndPadsInTheDocumentedOrder) {
  SetFlags(GetParam().Flags);
  Block()[0x660] = GetParam().SkipPinDevices;
  SetRouting(0);
  // Devices the entry's own run powered on start from their control byte.
  ExpectedWrites E = Expect();
  ExpectAoacUart(E, Block());
  XchAoacUartProgramming(Block());
  EXPECT_TRUE(SameWrites(Writes(), E.Writes()));
}

INSTANTIATE_TEST_SUITE_P(Flags, AoacUartFlagsTest,
                         ::testing::Values(FlagCase{"none", 0, 0}, FlagCase{"pinRows", kPinRowFlags, 0},
                                           FlagCase{"serial", kSerialFlags, 0},
                                           FlagCase{"all", kPinRowFlags | kSerialFlags, 0},
                                           FlagCase{"allPinDevicesSkipped", kPinRowFlags | kSerialFlags, 1},
                                           FlagCase{"uart1And3", 0x1000 | 0x4000000, 0}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(AoacUartTest, ThePinRowsRunInTheirOrderWithPowerBeforePins) {
  // Typed out for rows 1, 3 and 5 set: device 5 on, its pins, device 6 off, ...
  SetFlags(0x20 | 0x80 | 0x200000);
  SetRouting(0);
  for (UINT8 Device : {5, 6, 7, 8, 21, 13, 14, 15, 11, 12, 16, 26, 20}) {
    Chip().Poke(AccessSpace::Mmio, XchAoacControl(Device), 1, 0);
  }
  XchAoacUartProgramming(Block());
  std::vector<Access> Expected = {
      MmioW(1, 0xFED81E4A, 0x08), MmioW(1, 0xFED80D91, 0), MmioW(1, 0xFED80D92, 0),  // device 5 on, pins = 0
      MmioW(1, 0xFED81E4C, 0x03),                                                     // device 6 off
      MmioW(1, 0xFED81E4E, 0x08), MmioW(1, 0xFED80D71, 1), MmioW(1, 0xFED80D72, 1),  // device 7 on, pins = 1
      MmioW(1, 0xFED81E50, 0x03),                                                     // device 8 off
      MmioW(1, 0xFED81E6A, 0x08), MmioW(1, 0xFED80D91, 1), MmioW(1, 0xFED80D92, 1),  // device 21 on, pins = 1
      MmioW(1, 0xFED81E5A, 0x03), MmioW(1, 0xFED81E5C, 0x03), MmioW(1, 0xFED81E5E, 0x03),  // 13, 14, 15 off
      MmioW(1, 0xFED81E56, 0x03), MmioW(1, 0xFED81E58, 0x03), MmioW(1, 0xFED81E60, 0x03),  // 11, 12, 16 off
      MmioW(1, 0xFED81E74, 0x03), MmioW(1, 0xFED81E68, 0x03),                              // 26, 20 off
  };
  EXPECT_EQ(Writes(), Expected);
}

TEST_F(AoacUartTest, PinsOfRowsOneAndFiveAreWrittenTwiceAndTheLaterRowWins) {
  SetFlags(0x20 | 0x200000);
  XchAoacUartProgramming(Block());
  EXPECT_EQ(WritesTo(0xFED80D91), (std::vector<Access>{MmioW(1, 0xFED80D91, 0), MmioW(1, 0xFED80D91, 1)}));
  EXPECT_EQ(WritesTo(0xFED80D92), (std::vector<Access>{MmioW(1, 0xFED80D92, 0), MmioW(1, 0xFED80D92, 1)}));
  EXPECT_EQ(Chip().Peek(AccessSpace::Mmio, 0xFED80D91, 2), 0x0101u);
}

TEST_F(AoacUartTest, ANonZeroByte660LeavesTheEightPinDevicesAlone) {
  SetFlags(kPinRowFlags);
  Block()[0x660] = 1;
  XchAoacUartProgramming(Block());
  for (UINT8 Device : {5, 6, 7, 8, 21, 13, 14, 15}) {
    EXPECT_TRUE(WritesTo(XchAoacControl(Device)).empty()) << int(Device);
  }
  for (UINT64 Pin : {0xFED80D91, 0xFED80D93, 0xFED80D71, 0xFED80D13}) EXPECT_TRUE(WritesTo(Pin).empty());
}

TEST_F(AoacUartTest, TheUart2MessageShowsItsFlagBit) {
  SetFlags(0x10000);
  XchAoacUartProgramming(Block());
  SetFlags(0x800);
  XchAoacUartProgramming(Block());
  EXPECT_EQ(DebugLinesWith("UART2 enable bit value is 0x10000.\n"), 1u);
  EXPECT_EQ(DebugLinesWith("UART2 enable bit value is 0x0.\n"), 2u);  // the entry's run too
}

TEST_F(AoacUartTest, ARoutingWordOfZeroSkipsRoutingAndTheUart) {
  SetFlags(0x800);
  SetRouting(0);
  Chip().Poke(AccessSpace::Mmio, 0xFEC20044, 2, 0x3F8);
  std::string Before = Platform().UartReceived();
  XchAoacUartProgramming(Block());
  for (const Access &Entry : Writes()) {
    EXPECT_FALSE(Entry.Address >= 0xFEDC9000 && Entry.Address < 0xFEDC9020) << ::testing::PrintToString(Entry);
    EXPECT_NE(Entry.Address, 0xFEDC0020u);
    EXPECT_NE(Entry.Address, 0xFED800FCu);
    EXPECT_NE(Entry.Address, 0xFEC20040u);
  }
  EXPECT_EQ(ReadsOf(0xFEC20044), 0u);
  EXPECT_EQ(Platform().UartReceived(), Before);
}

TEST_F(AoacUartTest, RoutingBit3InitialisesTheUartAndSendsTheBanner) {
  SetFlags(0);
  SetRouting(0x0408);
  Chip().Poke(AccessSpace::Mmio, 0xFEC20044, 2, 0x3F8);
  Chip().Poke(AccessSpace::Mmio, 0xFEC20040, 2, 0xFFFF);
  Chip().Poke(AccessSpace::Mmio, 0xFED800FC, 4, 0x00000123);
  std::string Before = Platform().UartReceived();
  XchAoacUartProgramming(Block());

  std::vector<Access> Tail = {
      MmioW(2, 0xFEC20040, 0xFEFF),      // bit 8 cleared: COM1 at 0x3F8 decodes elsewhere now
      MmioW(2, 0xFEDC0020, 0x0408),      // the routing word
      MmioW(4, 0xFED800FC, 0xF0000123),  // bits 28-31 set
      MmioW(1, 0xFEDC900C, 0x80), MmioW(1, 0xFEDC9004, 0x00), MmioW(1, 0xFEDC9000, 0x01),
      MmioW(1, 0xFEDC900C, 0x03), MmioW(1, 0xFEDC9008, 0x00), MmioW(1, 0xFEDC9008, 0x01),
      MmioW(1, 0xFEDC9004, 0x00), MmioW(1, 0xFEDC9010, 0x1F), MmioW(1, 0xFEDC9010, 0x00),
  };
  for (char Byte : std::string(" --- Init Xch Uart --- ")) Tail.push_back(MmioW(1, 0xFEDC9000, UINT8(Byte)));
  std::vector<Access> All = Writes();
  ASSERT_GE(All.size(), Tail.size());
  EXPECT_EQ(std::vector<Access>(All.end() - Tail.size(), All.end()), Tail);

  std::string Received = Platform().UartReceived().substr(Before.size());
  EXPECT_EQ(Received, " --- Init Xch Uart --- ");
  EXPECT_EQ(Received.size(), 23u);
  EXPECT_EQ(Received.back(), ' ');
  EXPECT_EQ(Received.find('\n'), std::string::npos);
}

TEST_F(AoacUartTest, ComOneDecodeStaysWhenItsBaseIsNot0x3F8) {
  SetRouting(0x0008);
  Chip().Poke(AccessSpace::Mmio, 0xFEC20044, 2, 0x2F8);
  XchAoacUartProgramming(Block());
  EXPECT_TRUE(WritesTo(0xFEC20040).empty());
  EXPECT_EQ(ReadsOf(0xFEC20044), 1u);
}

TEST_F(AoacUartTest, RoutingWithoutBit3RoutesButLeavesTheUartAlone) {
  SetRouting(0x0021);
  Chip().Poke(AccessSpace::Mmio, 0xFEC20044, 2, 0x3F8);
  XchAoacUartProgramming(Block());
  EXPECT_EQ(ReadsOf(0xFEC20044), 0u);
  EXPECT_EQ(WritesTo(0xFEDC0020), std::vector<Access>{MmioW(2, 0xFEDC0020, 0x0021)});
  EXPECT_EQ(WritesTo(0xFED800FC).size(), 1u);
  for (const Access &Entry : Writes()) {
    EXPECT_FALSE(Entry.Address >= 0xFEDC9000 && Entry.Address < 0xFEDC9020) << ::testing::PrintToString(Entry);
  }
}

TEST_F(AoacUartTest, UartInitialisationWaitsForItsStatusByte) {
  SetRouting(0x0008);
  int Reads = 0;
  Chip().AddHandler(AccessSpace::Mmio, 0xFEDC9018, 1, {.Read = [&Reads](UINT64, UINT8) -> UINT64 {
                                                         return ++Reads < 5 ? 0xEF : 0xF0;
                                                       }});
  XchAoacUartProgramming(Block());
  EXPECT_EQ(Reads, 5);
  // Modem control goes back to 0 only after the wait.
  std::vector<Access> All = Accesses();
  size_t LastStatusRead = 0, ModemOff = 0;
  for (size_t Index = 0; Index < All.size(); ++Index) {
    if (All[Index] == MmioR(1, 0xFEDC9018, 0xF0)) LastStatusRead = Index;
    if (All[Index] == MmioW(1, 0xFEDC9010, 0x00)) ModemOff = Index;
  }
  EXPECT_LT(LastStatusRead, ModemOff);
}

TEST_F(AoacUartTest, ADeviceThatNeverPowersOnIsReportedAfterAHundredPolls) {
  SetFlags(0x800 | 0x1000);
  SetRouting(0);
  Chip().Poke(AccessSpace::Mmio, XchAoacControl(11), 1, 0x00);
  Chip().Poke(AccessSpace::Mmio, XchAoacControl(12), 1, 0x00);
  Platform().StickAoacDevice(11, 0x03);  // two of the three status bits: still not on
  XchAoacUartProgramming(Block());

  EXPECT_EQ(ReadsOf(XchAoacStatus(11)), 1u + XCH_AOAC_POLL_LIMIT);
  std::vector<Access> Control = WritesTo(XchAoacControl(11));
  ASSERT_EQ(Control.size(), XCH_AOAC_POLL_LIMIT + 1);
  for (size_t Poll = 0; Poll < XCH_AOAC_POLL_LIMIT; ++Poll) {
    EXPECT_EQ(Control[Poll], MmioW(1, XchAoacControl(11), 0x08));
  }
  EXPECT_EQ(Control.back(), MmioW(1, XchAoacControl(11), 0x08));  // the request bit set once more
  EXPECT_EQ(DebugLinesWith("[XCH]XchAoacPowerOnDev Power ON Device 0xb failed!\n"), 1u);
  // The device's pins are still set and the next device is handled anyway.
  EXPECT_EQ(WritesTo(0xFED80D90), std::vector<Access>{MmioW(1, 0xFED80D90, 2)});
  EXPECT_EQ(WritesTo(XchAoacControl(12)), std::vector<Access>{MmioW(1, XchAoacControl(12), 0x08)});
  EXPECT_EQ(Chip().Peek(AccessSpace::Mmio, XchAoacControl(11), 1), 0x08u);
}

TEST_F(AoacUartTest, ADeviceThatNeverPowersOffIsReportedAndLeftAt0x83) {
  SetFlags(0);
  SetRouting(0);
  Chip().Poke(AccessSpace::Mmio, XchAoacControl(12), 1, 0x0F);
  Platform().StickAoacDevice(12, 0x04);
  XchAoacUartProgramming(Block());

  EXPECT_EQ(ReadsOf(XchAoacStatus(12)), 1u + XCH_AOAC_POLL_LIMIT);
  std::vector<Access> Control = WritesTo(XchAoacControl(12));
  ASSERT_EQ(Control.size(), XCH_AOAC_POLL_LIMIT + 2);
  EXPECT_EQ(Control.front(), MmioW(1, XchAoacControl(12), 0x07));  // control AND 0x77
  EXPECT_EQ(Control[Control.size() - 2], MmioW(1, XchAoacControl(12), 0x80));
  EXPECT_EQ(Control.back(), MmioW(1, XchAoacControl(12), 0x83));  // then OR 3, failure or not
  EXPECT_EQ(DebugLinesWith("[XCH]XchAoacPowerOnDev Power OFF Device 0xc failed!\n"), 1u);
  EXPECT_EQ(WritesTo(XchAoacControl(16)).size(), 1u);  // next device handled
}

TEST_F(AoacUartTest, AStallSeparatesEachPowerRequestFromTheNextStatusRead) {
  Chip().Poke(AccessSpace::Mmio, XchAoacControl(30), 1, 0x00);
  XchAoacPower(30, TRUE);
  // Status, control read/write, the stall (PM timer port unset: five port
  // 0x80 reads), status again.
  std::vector<Access> All = Accesses();
  ASSERT_EQ(All.size(), 10u);
  EXPECT_EQ(All[0], MmioR(1, XchAoacStatus(30), 0));
  EXPECT_EQ(All[1], MmioR(1, XchAoacControl(30), 0));
  EXPECT_EQ(All[2], MmioW(1, XchAoacControl(30), 0x08));
  EXPECT_EQ(All[3], MmioR(2, 0xFED80364, 0));
  for (size_t Index = 4; Index < 9; ++Index) EXPECT_EQ(All[Index].Address, 0x80u);
  EXPECT_EQ(All[9], MmioR(1, XchAoacStatus(30), 7));
}

TEST_F(AoacUartTest, UartBytesAreDroppedWhenTheTransmitterNeverEmpties) {
  Chip().AddHandler(AccessSpace::Mmio, 0xFEDC9014, 1, {.Read = [](UINT64, UINT8) -> UINT64 { return 0x20; }});
  const UINT8 Bytes[] = {'o', 'k'};
  XchUartWriteBytes(Bytes, 2);
  EXPECT_EQ(ReadsOf(0xFEDC9014), 2 * XCH_UART_POLL_LIMIT);
  EXPECT_TRUE(Writes().empty());
}

TEST_F(AoacUartTest, TheDebugChannelsWriteThroughTheUartAndPort0x80) {
  const UINT8 Text[] = {'h', 'i'};
  std::string Before = Platform().UartReceived();
  XchDebugChannels[0].Write(Text, 2);
  EXPECT_EQ(Platform().UartReceived(), Before + "hi");
  ClearTrace();
  XchDebugChannels[1].Write(Text, 2);
  EXPECT_EQ(Writes(), (std::vector<Access>{IoW(4, 0x80, 0x5F535452), IoW(1, 0x80, 'h'), IoW(1, 0x80, 'i'),
                                           IoW(4, 0x80, 0x5F454E44)}));
  EXPECT_FALSE(XchDebugChannels[0].Supported());
  EXPECT_FALSE(XchDebugChannels[1].Supported());
}

TEST_F(AoacUartTest, TheLatePortWriteSendsByte368ToThePortAt672) {
  Block()[0x343] = 0;
  Block()[0x368] = 0xC5;
  UINT16 Port = 0x1234;
  std::memcpy(Block() + 0x672, &Port, 2);
  XchLatePortWrite(Block());
  EXPECT_EQ(Writes(), std::vector<Access>{IoW(2, 0x1234, 0x00C5)});
  ClearTrace();
  Block()[0x343] = 1;
  XchLatePortWrite(Block());
  EXPECT_TRUE(Accesses().empty());
}

}  // namespace
