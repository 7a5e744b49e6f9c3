// Non-PCI MMIO allocation over the fabric MMIO manager buffer: the space
// arithmetic, the candidates, target decoding both ways, above 4G, failures
// and GCD reporting.
#include "HubTest.h"

#include <cstring>

#include "HubTrace.h"
#include "QuorHeapBufferLib.h"
#include "XchNonPciMmio.h"

using HubSim::FabricRegion;
using HubSim::PcdType;
using HubSim::PcdValue;

namespace {

constexpr UINT64 MB = 0x100000;
constexpr UINT8 kBelow4G = 0x83;  // non-PCI below 4G, read and write enabled
constexpr UINT8 kAbove4G = 0xA3;

FabricRegion Region(UINT8 Socket, UINT8 RootBridge, UINT64 Base, UINT64 Size, UINT64 Used = 0, bool Above4G = false) {
  FabricRegion R;
  R.Socket = Socket;
  R.RootBridge = RootBridge;
  R.Above4G = Above4G;
  R.NonPci = {Base, Size, Used};
  return R;
}

class NonPciMmioTest : public HubTest {
 protected:
  void SetUp() override {
    HubTest::SetUp();
    Profile.Pcds[807] = PcdValue::Number(PcdType::Bool, 0);  // the entry allocates nothing
    Profile.Fabric->Regions.clear();
    Profile.Fabric->ReportToGcd = false;
  }
  void Start() {
    ASSERT_EQ(RunEntry(), EFI_SUCCESS);
    ClearTrace();
  }
  // Topology through the data fabric: sockets and root bridges in all.
  void Topology(UINT32 Sockets, UINT32 RootBridges) {
    Profile.DataFabric = {{4, 0x180, Sockets == 2 ? 0x100u : 0u}, {4, 0x184, RootBridges << 8}};
  }
  EFI_STATUS Allocate(UINT64 Size, UINT32 Target = XchMmioTarget(0, 0), UINT8 Attribute = kBelow4G) {
    Base = 0xBAD;
    Length = Size;
    this->Attribute = Attribute;
    return XchFabricAllocateMmio(&Base, &Length, 0, Target, &this->Attribute);
  }
  UINT8 *Manager() {
    UINT8 *Buffer = nullptr;
    QuorHeapFind(0xA029, &Buffer, nullptr);
    return Buffer;
  }
  UINT64 Used(UINTN Socket, UINTN RootBridge, bool Above4G = false) {
    UINT64 Value = 0;
    std::memcpy(&Value, Manager() + (Above4G ? 0 : 7040) + (Socket * 20 + RootBridge) * 88 + 16, 8);
    return Value;
  }
  std::vector<UINT8> ManagerBytes() { return std::vector<UINT8>(Manager(), Manager() + 14251); }

  UINT64 Base = 0;
  UINT64 Length = 0;
  UINT8  Attribute = 0;
};

TEST_F(NonPciMmioTest, AvailableSpaceCountsTheAlignmentPadding) {
  EXPECT_EQ(XchMmioAvailable(0xF7F80000, 0x180000, 0), 1 * MB);  // 1.5 MB free, 0.5 MB below a boundary
  EXPECT_EQ(XchMmioAvailable(0xF8000000, 3 * MB, 1 * MB), 2 * MB);
  EXPECT_EQ(XchMmioAvailable(0xF7F80000, 0x40000, 0), 0u);  // all of it padding
  EXPECT_EQ(XchMmioAvailable(0, 256 * MB, 0), 256 * MB);      // counted, though never given out
  EXPECT_EQ(XchMmioAvailable(0xF8000000, 1 * MB, 2 * MB), 0u);  // used beyond the size
  EXPECT_EQ(XchMmioAvailable(0xFFFFFFFFFFF00000, 2 * MB, 0), 0u);  // wraps past 2^64
}

TEST_F(NonPciMmioTest, ThePaddingIsAllocatedWithTheWindow) {
  Profile.Fabric->Regions = {Region(0, 0, 0xF7F80000, 0x180000)};
  Start();
  ASSERT_EQ(Allocate(1 * MB, XchMmioTarget(0, 0), 0x8C), EFI_SUCCESS);
  EXPECT_EQ(Base, 0xF8000000u);
  EXPECT_EQ(Length, 1 * MB);
  EXPECT_EQ(Attribute, 0x83);  // read and write on, non-posted and access-disable off
  EXPECT_EQ(Used(0, 0), 0x180000u);
  EXPECT_EQ(DebugLinesWith("  FabricAllocateMmio v3\n"), 1u);
  EXPECT_EQ(DebugLinesWith("  Allocate MMIO from 0xF8000000 ~ 0xF80FFFFF\n"), 1u);
  // Nothing left: the next megabyte fails.
  EXPECT_EQ(Allocate(1 * MB), EFI_OUT_OF_RESOURCES);
}

TEST_F(NonPciMmioTest, OfTwoBelow4GCandidatesTheSmallerThatFitsIsTaken) {
  Topology(1, 2);
  Profile.Fabric->Regions = {Region(0, 0, 0xC0000000, 5 * MB), Region(0, 1, 0xD0000000, 3 * MB)};
  Profile.Fabric->SecondBelow4G = true;
  Profile.Fabric->SecondLocation = 0x01;  // socket 0, root bridge 1
  Start();
  ASSERT_EQ(Allocate(2 * MB), EFI_SUCCESS);
  EXPECT_EQ(Base, 0xD0000000u);  // the 3 MB one
  ASSERT_EQ(Allocate(4 * MB), EFI_SUCCESS);
  EXPECT_EQ(Base, 0xC0000000u);  // only the 5 MB one holds it
  EXPECT_EQ(Used(0, 0), 4 * MB);
  EXPECT_EQ(Used(0, 1), 2 * MB);
  // 1 MB left in each; a full candidate 2 would not be tried first.
  ASSERT_EQ(Allocate(1 * MB), EFI_SUCCESS);
  EXPECT_EQ(Base, 0xC0400000u);  // equal spaces: candidate 1 first
}

TEST_F(NonPciMmioTest, ASecondRegionWithNoSpaceDoesNotGoFirst) {
  Topology(1, 2);
  Profile.Fabric->Regions = {Region(0, 0, 0xC0000000, 5 * MB), Region(0, 1, 0xD0000000, 3 * MB, 3 * MB)};
  Profile.Fabric->SecondBelow4G = true;
  Profile.Fabric->SecondLocation = 0x01;
  Start();
  ASSERT_EQ(Allocate(2 * MB), EFI_SUCCESS);
  EXPECT_EQ(Base, 0xC0000000u);
}

TEST_F(NonPciMmioTest, OnlyThePrimaryRootBridgeHasASecondRegion) {
  Topology(1, 2);
  Profile.Fabric->Regions = {Region(0, 0, 0xC0000000, 5 * MB), Region(0, 1, 0xD0000000, 1 * MB)};
  Profile.Fabric->SecondBelow4G = true;
  Profile.Fabric->SecondLocation = 0x00;
  Start();
  EXPECT_EQ(Allocate(2 * MB, XchMmioTarget(0, 1)), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Length, 1 * MB);
  EXPECT_EQ(Used(0, 0), 0u);
}

TEST_F(NonPciMmioTest, ASecondRegionNamedOutsideTheRecordTableIsIgnored) {
  Profile.Fabric->Regions = {Region(0, 0, 0xC0000000, 1 * MB)};
  Profile.Fabric->SecondBelow4G = true;
  Profile.Fabric->SecondLocation = 0xF3;  // socket 15: record 303, past the buffer's end
  Start();
  std::vector<UINT8> Before = ManagerBytes();
  EXPECT_EQ(Allocate(2 * MB), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Length, 1 * MB);
  EXPECT_EQ(ManagerBytes(), Before);
}

TEST_F(NonPciMmioTest, ARegionWhoseBasePlusUsedIsZeroNeverAllocates) {
  Profile.Fabric->Regions = {Region(0, 0, 0, 256 * MB)};
  Start();
  EXPECT_EQ(Allocate(1 * MB), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Base, 0u);
  EXPECT_EQ(Length, 256 * MB);  // its space still counts as the largest
  EXPECT_EQ(Used(0, 0), 0u);
  EXPECT_EQ(DebugLinesWith("  No enough space, the biggest MMIO size is 0x10000000\n"), 1u);
  EXPECT_EQ(DebugLinesWith("  Please increase PcdQuorMmioSizePerRbForNonPciDevice\n"), 1u);
  EXPECT_TRUE(StoppedWith(Accesses(), 0xDFD00291));
}

TEST_F(NonPciMmioTest, AFailureOverwritesTheLengthWithTheLargestSpace) {
  Topology(1, 2);
  Profile.Fabric->Regions = {Region(0, 0, 0xC0000000, 1 * MB), Region(0, 1, 0xD0000000, 3 * MB)};
  Profile.Fabric->SecondBelow4G = true;
  Profile.Fabric->SecondLocation = 0x01;
  Start();
  EXPECT_EQ(Allocate(4 * MB), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Base, 0u);
  EXPECT_EQ(Length, 3 * MB);
  EXPECT_EQ(DebugLinesWith("the biggest MMIO size is 0x300000\n"), 1u);
}

TEST_F(NonPciMmioTest, Above4GNeedsItsPresentFlag) {
  Profile.Fabric->Regions = {Region(0, 0, 0xC0000000, 8 * MB)};
  Start();
  EXPECT_EQ(Allocate(1 * MB, XchMmioTarget(0, 0), kAbove4G), EFI_ABORTED);
  EXPECT_EQ(DebugLinesWith("  ERROR: No above 4G MMIO on Socket 0 Rb 0\n"), 1u);
  EXPECT_EQ(Base, 0u);
}

TEST_F(NonPciMmioTest, Above4GAllocatesFromItsOwnRecord) {
  Profile.Fabric->Regions = {Region(0, 0, 0xC0000000, 8 * MB), Region(0, 0, 0x2000000000, 16 * MB, 1, true)};
  Start();
  ASSERT_EQ(Allocate(4 * MB, XchMmioTarget(0, 0), kAbove4G), EFI_SUCCESS);
  EXPECT_EQ(Base, 0x2000100000u);  // used 1 byte: the next megabyte
  EXPECT_EQ(Used(0, 0, true), 5 * MB);
  EXPECT_EQ(Used(0, 0), 0u);
  EXPECT_EQ(DebugLinesWith("  Allocate MMIO from 0x2000100000 ~ 0x20004FFFFF\n"), 1u);
  EXPECT_EQ(Allocate(12 * MB, XchMmioTarget(0, 0), kAbove4G), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Length, 11 * MB);
  EXPECT_EQ(DebugLinesWith("  Please increase PcdQuorAbove4GMmioSizePerRbForNonPciDevice\n"), 1u);
  EXPECT_TRUE(StoppedWith(Accesses(), 0xDFD00295));
}

TEST_F(NonPciMmioTest, Below4GNeedsItsPresentFlag) {
  FabricRegion Absent = Region(0, 0, 0xC0000000, 8 * MB);
  Absent.Present = false;
  Profile.Fabric->Regions = {Absent};
  Start();
  EXPECT_EQ(Allocate(1 * MB), EFI_ABORTED);
  EXPECT_EQ(DebugLinesWith("  ERROR: No below 4G MMIO on Socket 0 Rb 0\n"), 1u);
  EXPECT_EQ(Used(0, 0), 0u);
}

TEST_F(NonPciMmioTest, OnlyNonPciTypesAreServed) {
  Profile.Fabric->Regions = {Region(0, 0, 0xC0000000, 8 * MB)};
  Start();
  for (UINT8 Attribute : {0x03, 0x23, 0x43, 0x63, 0xC3, 0xE3}) {
    EXPECT_EQ(Allocate(1 * MB, XchMmioTarget(0, 0), Attribute), EFI_ABORTED) << int(Attribute);
    EXPECT_EQ(this->Attribute, Attribute);
  }
  EXPECT_EQ(DebugLinesWith("  Warning: this function only support Attributes->MmioType = NON_PCI_DEVICE_BELOW_4G or "
                           "NON_PCI_DEVICE_ABOVE_4G\n"),
            6u);
  EXPECT_EQ(Used(0, 0), 0u);
}

TEST_F(NonPciMmioTest, LengthZeroSucceedsWithoutTouchingTheBuffer) {
  Profile.Fabric->Regions = {Region(0, 0, 0xC0000000, 8 * MB)};
  Start();
  std::vector<UINT8> Before = ManagerBytes();
  EXPECT_EQ(Allocate(0, 0x12345, 0x00), EFI_SUCCESS);  // neither target nor type looked at
  EXPECT_EQ(Base, 0u);
  EXPECT_EQ(Attribute, 0x00);
  EXPECT_EQ(ManagerBytes(), Before);
}

// Direct targets: socket in bits 8-9, root bridge in bits 10-14.
TEST_F(NonPciMmioTest, ADirectTargetNamesSocketAndRootBridge) {
  Topology(2, 4);  // two root bridges per socket
  Profile.Fabric->Regions = {Region(1, 1, 0xD0000000, 4 * MB)};
  Start();
  ASSERT_EQ(Allocate(1 * MB, XchMmioTarget(1, 1)), EFI_SUCCESS);
  EXPECT_EQ(Base, 0xD0000000u);
  // A root bridge past the per-socket count means the last one.
  ASSERT_EQ(Allocate(1 * MB, XchMmioTarget(1, 7)), EFI_SUCCESS);
  EXPECT_EQ(Base, 0xD0100000u);
  EXPECT_EQ(Used(1, 1), 2 * MB);
  // The data fabric told the topology first: F4:0x180, F4:0x184.
  std::vector<Access> Trace = Accesses();
  ASSERT_GE(Trace.size(), 2u);
  EXPECT_EQ(Trace[0], MmioR(4, 0xE00C4180, 0x100));
  EXPECT_EQ(Trace[1], MmioR(4, 0xE00C4184, 0x400));
}

TEST_F(NonPciMmioTest, RootBridgesBeyondTheRecordTableAreOutOfRange) {
  Topology(1, 30);
  Profile.Fabric->Regions = {Region(0, 0, 0xC0000000, 8 * MB)};
  Start();
  EXPECT_EQ(Allocate(1 * MB, XchMmioTarget(0, 25)), EFI_ABORTED);
  EXPECT_TRUE(StoppedWith(Accesses(), 0xDFD00203));
}

TEST_F(NonPciMmioTest, NoRootBridgesAtAllIsOutOfRange) {
  Topology(1, 0);
  Profile.Fabric->Regions = {Region(0, 0, 0xC0000000, 8 * MB)};
  Start();
  EXPECT_EQ(Allocate(1 * MB, XchMmioTarget(0, 0)), EFI_ABORTED);
  EXPECT_TRUE(StoppedWith(Accesses(), 0xDFD00203));
  EXPECT_EQ(Used(0, 0), 0u);
}

// By bus: the first valid configuration address map holding the bus names
// a fabric ID; the last socket with that host bridge wins.
TEST_F(NonPciMmioTest, ABusFindsItsHostBridgeThroughTheConfigurationAddressMaps) {
  Topology(2, 4);
  Profile.DataFabric.push_back({0, 0xC80, 0x00000001});  // map 0: buses 0-255 but not valid (bit 1 clear)
  Profile.DataFabric.push_back({0, 0xC84, 0x00FF0013});
  Profile.DataFabric.push_back({0, 0xC88, 0x00400003});  // map 1: buses 0x40-0x7F
  Profile.DataFabric.push_back({0, 0xC8C, 0x007F0013});
  Profile.Fabric->Regions = {Region(0, 0, 0xC0000000, 8 * MB), Region(1, 0, 0xD0000000, 8 * MB)};
  Start();
  ASSERT_EQ(Allocate(1 * MB, 0x50), EFI_SUCCESS);
  EXPECT_EQ(Base, 0xD0000000u);  // socket 1, root bridge 0
  std::vector<Access> Trace = Accesses();
  ASSERT_GE(Trace.size(), 6u);
  EXPECT_EQ((std::vector<Access>(Trace.begin(), Trace.begin() + 6)),
            (std::vector<Access>{MmioR(4, 0xE00C4180, 0x100), MmioR(4, 0xE00C4184, 0x400),
                                 MmioR(4, 0xE00C0C80, 0x00000001), MmioR(4, 0xE00C0C84, 0x00FF0013),
                                 MmioR(4, 0xE00C0C88, 0x00400003), MmioR(4, 0xE00C0C8C, 0x007F0013)}));
}

TEST_F(NonPciMmioTest, ABusInNoMapAborts) {
  Profile.DataFabric = {{0, 0xC80, 0x00400003}, {0, 0xC84, 0x007F0013}};
  Profile.Fabric->Regions = {Region(0, 0, 0xC0000000, 8 * MB)};
  Start();
  EXPECT_EQ(Allocate(1 * MB, 0x90), EFI_ABORTED);
  size_t MapReads = 0;
  for (const Access &Entry : Accesses()) MapReads += Entry.Address >= 0xE00C0C80 && Entry.Address < 0xE00C0CC0;
  EXPECT_EQ(MapReads, 16u);  // all eight pairs
  EXPECT_EQ(Used(0, 0), 0u);
}

TEST_F(NonPciMmioTest, AFabricIdOfNoHostBridgeStops) {
  Profile.DataFabric = {{4, 0x184, 0x100}, {0, 0xC80, 0x00000003}, {0, 0xC84, 0x00FF0014}};
  Profile.Fabric->Regions = {Region(0, 0, 0xC0000000, 8 * MB)};
  Start();
  EXPECT_EQ(Allocate(1 * MB, 0x00), EFI_ABORTED);
  std::vector<Access> Trace = Accesses();
  EXPECT_TRUE(StoppedWith(Trace, 0xDFD00191));
  EXPECT_TRUE(StoppedWith(Trace, 0xDFD00192));
  EXPECT_TRUE(StoppedWith(Trace, 0xDFD00203));
}

TEST_F(NonPciMmioTest, WithoutTheManagerBufferNothingIsAllocated) {
  Profile.Fabric.reset();
  Start();
  EXPECT_EQ(Allocate(1 * MB), EFI_ABORTED);
  EXPECT_EQ(Base, 0u);
  EXPECT_TRUE(StoppedWith(Accesses(), 0xDFD00149));
}

// A buffer shorter than the layout would be read past its end (ASan).
TEST_F(NonPciMmioTest, AManagerBufferOfTheWrongSizeIsNotUsed) {
  Profile.Fabric->Regions = {Region(0, 0, 0xC0000000, 8 * MB)};
  Profile.Fabric->BufferSize = 14250;
  Start();
  UINT32 Size = 0;
  ASSERT_EQ(QuorHeapFind(0xA029, nullptr, &Size), 0u);
  EXPECT_EQ(Size, 14250u);
  EXPECT_EQ(Allocate(1 * MB), EFI_ABORTED);
  EXPECT_TRUE(StoppedWith(Accesses(), 0xDFD00149));
}

TEST_F(NonPciMmioTest, GcdReportingClaimsTheWindowAsRuntimeUncachedMmio) {
  Profile.Fabric->Regions = {Region(0, 0, 0xF8000000, 8 * MB)};
  Profile.Fabric->ReportToGcd = true;
  Profile.Fabric->GcdImageHandle = 0x1000;
  Start();
  ASSERT_EQ(Allocate(2 * MB), EFI_SUCCESS);
  const std::vector<HubSim::GcdOperation> &Gcd = Platform().GcdOperations();
  ASSERT_EQ(Gcd.size(), 2u);
  EXPECT_EQ(Gcd[0].Operation, "allocate");
  EXPECT_EQ(Gcd[0].Base, 0xF8000000u);
  EXPECT_EQ(Gcd[0].Length, 2 * MB);
  EXPECT_EQ(Gcd[0].Type, EfiGcdMemoryTypeMemoryMappedIo);
  EXPECT_EQ(Gcd[0].ImageHandle, reinterpret_cast<EFI_HANDLE>(0x1000));
  EXPECT_EQ(Gcd[1].Operation, "set-attributes");
  EXPECT_EQ(Gcd[1].Attributes, 0x8000000000000001u);
  EXPECT_EQ(DebugLinesWith("  report to GCD, Status: 0\n"), 1u);
}

TEST_F(NonPciMmioTest, AGcdRefusalIsOnlyPrinted) {
  Profile.Fabric->Regions = {Region(0, 0, 0xC0000000, 8 * MB)};  // outside the GCD's MMIO space
  Profile.Fabric->ReportToGcd = true;
  Profile.Fabric->GcdImageHandle = 0x1000;
  Start();
  EXPECT_EQ(Allocate(1 * MB), EFI_SUCCESS);
  ASSERT_FALSE(Platform().GcdOperations().empty());
  EXPECT_EQ(Platform().GcdOperations()[0].Status, EFI_NOT_FOUND);
  EXPECT_EQ(DebugLinesWith("  report to GCD, Status: "), 1u);
  EXPECT_EQ(DebugLinesWith("  report to GCD, Status: 0\n"), 0u);
}

TEST_F(NonPciMmioTest, WithoutGcdReportingTheMapIsLeftAlone) {
  Profile.Fabric->Regions = {Region(0, 0, 0xF8000000, 8 * MB)};
  Start();
  ASSERT_EQ(Allocate(1 * MB), EFI_SUCCESS);
  EXPECT_TRUE(Platform().GcdOperations().empty());
  EXPECT_EQ(DebugLinesWith("report to GCD"), 0u);
}

}  // namespace
