// The simulated controller-hub platform itself: PCD database, HOB list, GCD
// map, S3 save state recorder and chipset behaviours, seen through the same
// interfaces the driver uses.
#include "HubTest.h"

#include <Platform/Hardware.h>
#include <uefi/Pi/PiDxeServices.h>
#include <uefi/Pi/PiHob.h>
#include <uefi/Protocol/Pcd.h>
#include <uefi/Protocol/S3SaveState.h>

#include <cstring>

using HostEnv::AccessSpace;
using HubSim::PcdType;
using HubSim::PcdValue;

namespace {

constexpr EFI_GUID kSpace = {0x7788ADF0, 0x9788, 0x4A3F, {0x83, 0xFA, 0xCB, 0x51, 0x2E, 0x7C, 0xF8, 0xDD}};

class HubPlatformTest : public HubTest {
 protected:
  template <typename T>
  T *Locate(EFI_GUID &Guid) {
    VOID *Interface = nullptr;
    EXPECT_EQ(BS()->LocateProtocol(&Guid, nullptr, &Interface), EFI_SUCCESS);
    return static_cast<T *>(Interface);
  }
  VOID *Table(const EFI_GUID &Guid) {
    for (UINTN Index = 0; Index < ST()->NumberOfTableEntries; ++Index) {
      if (ST()->ConfigurationTable[Index].VendorGuid == Guid) {
        return ST()->ConfigurationTable[Index].VendorTable;
      }
    }
    return nullptr;
  }
};

TEST_F(HubPlatformTest, BothPcdProtocolsShareOneDatabaseAndSetsAreRecorded) {
  Profile.Pcds[10] = PcdValue::Number(PcdType::U16, 0x1234);
  Profile.PcdsEx[{kSpace, 0x27002}] = PcdValue::Number(PcdType::U64, 0x1122334455667788);
  StartPlatform();
  auto *Pcd = Locate<PCD_PROTOCOL>(gPcdProtocolGuid);
  auto *EfiPcd = Locate<EFI_PCD_PROTOCOL>(gEfiPcdProtocolGuid);
  EXPECT_EQ(Pcd->Get16(10), 0x1234);
  EXPECT_EQ(Pcd->Get8(10), 0);  // another width of an existing token reads nothing ...
  ASSERT_EQ(Platform().PcdMismatches().size(), 1u);  // ... and is noted
  EXPECT_EQ(Platform().PcdMismatches()[0].Requested, PcdType::U8);
  EXPECT_EQ(EfiPcd->Get64(&kSpace, 0x27002), 0x1122334455667788u);
  EXPECT_EQ(Pcd->Get64Ex(&kSpace, 0x27002), 0x1122334455667788u);
  EXPECT_EQ(Pcd->GetSize(10), 2u);

  EXPECT_EQ(Pcd->Set16(10, 0xBEEF), EFI_SUCCESS);
  EXPECT_EQ(Pcd->Set32(10, 1), EFI_INVALID_PARAMETER);  // wrong width for the token
  EXPECT_EQ(EfiPcd->Set64(&kSpace, 0x27003, 7), EFI_SUCCESS);  // unknown tokens come into being
  EXPECT_EQ(Pcd->Get64Ex(&kSpace, 0x27003), 7u);
  EXPECT_EQ(Pcd->Get16(10), 0xBEEF);
  EXPECT_EQ(Pcd->SetBool(11, 5), EFI_SUCCESS);
  EXPECT_EQ(Pcd->GetBool(11), TRUE);
  ASSERT_EQ(Platform().PcdSets().size(), 4u);
  EXPECT_EQ(Platform().PcdSets()[1].Status, EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Platform().PcdSets()[2].Ex);
  EXPECT_EQ(Platform().PcdSets()[2].Token, 0x27003u);
  EXPECT_EQ(EventsNamed("pcd-set").size(), 4u);
}

TEST_F(HubPlatformTest, PointerPcdsAreSetInPlaceWithinTheirSize) {
  Profile.Pcds[929] = PcdValue::Pointer({1, 2, 3, 4}, 8);
  StartPlatform();
  auto *Pcd = Locate<PCD_PROTOCOL>(gPcdProtocolGuid);
  auto *Before = static_cast<UINT8 *>(Pcd->GetPtr(929));
  EXPECT_EQ(Pcd->GetSize(929), 8u);
  UINT8 Eight[8] = {9, 8, 7, 6, 5, 4, 3, 2};
  UINTN Size = 8;
  EXPECT_EQ(Pcd->SetPtr(929, &Size, Eight), EFI_SUCCESS);
  EXPECT_EQ(Pcd->GetPtr(929), Before);
  EXPECT_EQ(std::memcmp(Before, Eight, 8), 0);
  UINT8 Nine[9] = {};
  Size = 9;
  EXPECT_EQ(Pcd->SetPtr(929, &Size, Nine), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Size, 8u);
  EXPECT_EQ(Before[0], 9);
  EXPECT_EQ(Platform().PcdSets().back().Bytes, std::vector<UINT8>(9, 0));
}

TEST_F(HubPlatformTest, TheHobListStartsWithThePhitAndEndsWithTheEndHob) {
  Profile.Hobs = {{kSpace, {1, 2, 3}, std::nullopt}};
  Profile.Fabric.reset();
  StartPlatform();
  const auto *List = static_cast<const UINT8 *>(Table(gEfiHobListGuid));
  ASSERT_NE(List, nullptr);
  const auto *Phit = reinterpret_cast<const EFI_HOB_GENERIC_HEADER *>(List);
  EXPECT_EQ(Phit->HobType, EFI_HOB_TYPE_HANDOFF);
  EXPECT_EQ(Phit->HobLength, sizeof(EFI_HOB_HANDOFF_INFO_TABLE));
  const auto *Guid = reinterpret_cast<const EFI_HOB_GUID_TYPE *>(List + Phit->HobLength);
  EXPECT_EQ(Guid->Header.HobType, EFI_HOB_TYPE_GUID_EXTENSION);
  EXPECT_EQ(Guid->Header.HobLength, 32);  // 24 + 3 rounded up to 8
  EXPECT_TRUE(Guid->Name == kSpace);
  EXPECT_EQ(List[Phit->HobLength + 24], 1);
  const auto *End = reinterpret_cast<const EFI_HOB_GENERIC_HEADER *>(List + Phit->HobLength + 32);
  EXPECT_EQ(End->HobType, EFI_HOB_TYPE_END_OF_HOB_LIST);
  EXPECT_EQ(reinterpret_cast<UINTN>(List) % 8, 0u);
}

TEST_F(HubPlatformTest, TheFabricBufferTravelsInAHeapHob) {
  StartPlatform();
  const std::vector<UINT8> &List = Platform().HobList();
  // Find the HEAP HOB: data = "HEAP", handle 0xA029, size 14251, persistence, 1.
  size_t Offset = 56;
  bool Found = false;
  while (Offset + 8 <= List.size()) {
    EFI_HOB_GUID_TYPE Hob;
    std::memcpy(&Hob, List.data() + Offset, sizeof(Hob));
    if (Hob.Header.HobType == EFI_HOB_TYPE_END_OF_HOB_LIST) break;
    if (Hob.Name == HubSim::kHeapHobGuid) {
      const UINT8 *Data = List.data() + Offset + 24;
      UINT32 Words[3];
      std::memcpy(Words, Data, 12);
      EXPECT_EQ(Words[0], 0x50414548u);
      EXPECT_EQ(Words[1], 0xA029u);
      EXPECT_EQ(Words[2], 14251u);
      EXPECT_EQ(Data[13], 1);
      UINT64 Base;
      std::memcpy(&Base, Data + 16 + 7040, 8);  // below-4G record of socket 0, root bridge 0
      EXPECT_EQ(Base, 0xF8000000u);
      EXPECT_EQ(Data[16 + 14160], 1);  // below-4G present
      EXPECT_EQ(Data[16 + 14241], 1);  // report to GCD
      Found = true;
    }
    Offset += Hob.Header.HobLength;
  }
  EXPECT_TRUE(Found);
}

TEST_F(HubPlatformTest, GcdAllocatesOnlyFreeAddressesInsideItsSpaces) {
  StartPlatform();
  auto *Dxe = static_cast<EFI_DXE_SERVICES *>(Table(gEfiDxeServicesTableGuid));
  ASSERT_NE(Dxe, nullptr);
  EFI_HANDLE Image = reinterpret_cast<EFI_HANDLE>(0x1000);
  EFI_PHYSICAL_ADDRESS Base = 0xF8000000;
  EXPECT_EQ(Dxe->AllocateMemorySpace(EfiGcdAllocateAddress, EfiGcdMemoryTypeMemoryMappedIo, 0, 0x100000, &Base, Image,
                                     nullptr),
            EFI_SUCCESS);
  Base = 0xF80F0000;  // overlaps
  EXPECT_EQ(Dxe->AllocateMemorySpace(EfiGcdAllocateAddress, EfiGcdMemoryTypeMemoryMappedIo, 0, 0x100000, &Base, Image,
                                     nullptr),
            EFI_NOT_FOUND);
  Base = 0x80000000;  // outside every space
  EXPECT_EQ(Dxe->AllocateMemorySpace(EfiGcdAllocateAddress, EfiGcdMemoryTypeMemoryMappedIo, 0, 0x1000, &Base, Image,
                                     nullptr),
            EFI_NOT_FOUND);
  Base = 0xF9000000;
  EXPECT_EQ(Dxe->AllocateMemorySpace(EfiGcdAllocateAddress, EfiGcdMemoryTypeMemoryMappedIo, 0, 0x1000, &Base, nullptr,
                                     nullptr),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Dxe->SetMemorySpaceAttributes(0xF8000000, 0x100000, EFI_MEMORY_RUNTIME | EFI_MEMORY_UC), EFI_SUCCESS);
  EXPECT_EQ(Dxe->SetMemorySpaceAttributes(0x1000, 0x1000, EFI_MEMORY_UC), EFI_UNSUPPORTED);
  ASSERT_EQ(Platform().GcdOperations().size(), 6u);
  EXPECT_EQ(Platform().GcdOperations()[4].Attributes, EFI_MEMORY_RUNTIME | EFI_MEMORY_UC);
  EXPECT_EQ(EventsNamed("gcd").size(), 6u);
}

TEST_F(HubPlatformTest, TheS3SaveStateRecorderDecodesEachWriteForm) {
  StartPlatform();
  auto *S3 = Locate<EFI_S3_SAVE_STATE_PROTOCOL>(gEfiS3SaveStateProtocolGuid);
  UINT16 Words[3] = {0x1111, 0x2222, 0x3333};
  EXPECT_EQ(S3->Write(S3, EFI_BOOT_SCRIPT_IO_WRITE_OPCODE, EfiBootScriptWidthUint16, UINT64{0x70}, UINTN{3}, Words),
            EFI_SUCCESS);
  EXPECT_EQ(S3->Write(S3, EFI_BOOT_SCRIPT_IO_WRITE_OPCODE, EfiBootScriptWidthFillUint16, UINT64{0x70}, UINTN{3},
                      Words),
            EFI_SUCCESS);
  UINT8 Data = 0x0F, Mask = 0xF0;
  EXPECT_EQ(S3->Write(S3, EFI_BOOT_SCRIPT_PCI_CONFIG_READ_WRITE_OPCODE, EfiBootScriptWidthUint8, UINT64{0x80218}, &Data,
                      &Mask),
            EFI_SUCCESS);
  EXPECT_EQ(S3->Write(S3, EFI_BOOT_SCRIPT_STALL_OPCODE, UINTN{10}), EFI_UNSUPPORTED);
  const auto &Script = Platform().BootScript();
  ASSERT_EQ(Script.size(), 3u);
  EXPECT_EQ(Script[0].Values, (std::vector<UINT64>{0x1111, 0x2222, 0x3333}));
  EXPECT_EQ(Script[1].Values, std::vector<UINT64>{0x1111});
  EXPECT_EQ(Script[2].Values, (std::vector<UINT64>{0x0F, 0xF0}));
  EXPECT_EQ(EventsNamed("boot-script").back().Field("status"), "Unsupported");
}

TEST_F(HubPlatformTest, AoacStatusFollowsControlBitThreeUnlessStuck) {
  StartPlatform();
  MmioWrite8(0xFED81E40 + 2 * 11, 0x08);
  EXPECT_EQ(MmioRead8(0xFED81E41 + 2 * 11), 7);
  MmioWrite8(0xFED81E40 + 2 * 11, 0x77);
  EXPECT_EQ(MmioRead8(0xFED81E41 + 2 * 11), 0);
  EXPECT_EQ(MmioRead16(0xFED81E40 + 2 * 11), 0x0077);  // control and status together
  Platform().StickAoacDevice(12, 0);
  MmioWrite8(0xFED81E40 + 2 * 12, 0x08);
  EXPECT_EQ(MmioRead8(0xFED81E41 + 2 * 12), 0);
}

TEST_F(HubPlatformTest, TheUartReportsReadyAndReceivesOnlyWithTheDivisorLatchClosed) {
  StartPlatform();
  EXPECT_EQ(MmioRead8(0xFEDC9014), 0x60);
  EXPECT_EQ(MmioRead8(0xFEDC9018), 0xF0);
  MmioWrite8(0xFEDC900C, 0x80);
  MmioWrite8(0xFEDC9000, 0x01);  // divisor low byte
  MmioWrite8(0xFEDC900C, 0x03);
  MmioWrite8(0xFEDC9000, 'O');
  MmioWrite8(0xFEDC9000, 'K');
  EXPECT_EQ(Platform().UartReceived(), "OK");
}

TEST_F(HubPlatformTest, SmnDataAccessesOfPartWidthReachTheRightBytes) {
  StartPlatform();
  Platform().SetSmn(0x1000, 0x44332211);
  MmioWrite32(0xE00000B8, 0x1000);
  EXPECT_EQ(MmioRead8(0xE00000BE), 0x33);
  EXPECT_EQ(MmioRead16(0xE00000BC), 0x2211);
  MmioWrite8(0xE00000BD, 0xAA);
  EXPECT_EQ(Platform().Smn(0x1000), 0x4433AA11u);
}

// The timer moves on between reads wherever 0xFED80364 says it is, also on a
// port with behaviour of its own, and leaves the port it no longer names.
TEST_F(HubPlatformTest, ThePmTimerTicksAtThePortThatFed80364Names) {
  Profile.Registers.push_back({HubSim::RegisterSpace::Mmio, 0xFED80364, 2, 0x808});
  StartPlatform();
  UINT32 Start = IoRead32(0x808);
  UINT32 Later = IoRead32(0x808);
  EXPECT_NE(Start, Later);
  MmioWrite16(0xFED80364, 0x80);
  EXPECT_EQ(IoRead32(0x808), Later);
  UINT32 AtPort80 = IoRead32(0x80);
  EXPECT_NE(IoRead32(0x80), AtPort80);
}

VOID EFIAPI ResetFromANotification(EFI_EVENT, VOID *) { IoWrite8(0xCF9, 0x0E); }

TEST_F(HubPlatformTest, AResetInsideANotificationEndsTheSignalLikeHardware) {
  StartPlatform();
  EFI_EVENT Event = nullptr;
  ASSERT_EQ(BS()->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, ResetFromANotification, nullptr,
                                &gEfiEventReadyToBootGuid, &Event),
            EFI_SUCCESS);
  EXPECT_THROW(Env().SignalReadyToBoot(), HubSim::SimulatedReset);
  ASSERT_EQ(EventsNamed("reset").size(), 1u);
  EXPECT_EQ(EventsNamed("reset")[0].Field("value"), "0xE");
  EXPECT_EQ(Env().Chipset().Peek(AccessSpace::Io, 0xCF9, 1), 0x0Eu);
}

}  // namespace
