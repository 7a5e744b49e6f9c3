// The devices the environment offers: the RNG protocol and fake PCI functions.
#include "TestGuids.h"

#include <TestSupport/HostEnvTest.h>

#include <uefi/Protocol/DevicePath.h>
#include <uefi/Protocol/PciIo.h>
#include <uefi/Protocol/Rng.h>

#include <array>
#include <cstring>
#include <vector>

namespace {

using TestSupport::HostEnvTest;
using TestSupport::StatusIs;

class RngTest : public HostEnvTest {
 protected:
  EFI_RNG_PROTOCOL *Locate() {
    VOID *Interface = nullptr;
    return EFI_ERROR(BS()->LocateProtocol(&gEfiRngProtocolGuid, nullptr, &Interface))
               ? nullptr
               : static_cast<EFI_RNG_PROTOCOL *>(Interface);
  }
  std::vector<UINT8> Draw(UINTN Length) {
    std::vector<UINT8> Bytes(Length);
    EFI_RNG_PROTOCOL  *Rng = Locate();
    EXPECT_NE(Rng, nullptr);
    if (Rng != nullptr) {
      EXPECT_TRUE(StatusIs(Rng->GetRNG(Rng, nullptr, Length, Bytes.data()), EFI_SUCCESS));
    }
    return Bytes;
  }
};

TEST_F(RngTest, OffersTheRawAlgorithm) {
  EFI_RNG_PROTOCOL *Rng = Locate();
  ASSERT_NE(Rng, nullptr);
  EFI_RNG_ALGORITHM List[2];
  UINTN             Size = 0;
  EXPECT_TRUE(StatusIs(Rng->GetInfo(Rng, &Size, List), EFI_BUFFER_TOO_SMALL));
  EXPECT_EQ(Size, sizeof(EFI_RNG_ALGORITHM));
  Size = sizeof(List);
  ASSERT_TRUE(StatusIs(Rng->GetInfo(Rng, &Size, List), EFI_SUCCESS));
  EXPECT_EQ(Size, sizeof(EFI_RNG_ALGORITHM));
  EXPECT_EQ(List[0], gEfiRngAlgorithmRaw);

  UINT8    Byte;
  EFI_GUID Other = gTestProtocolAGuid;
  EXPECT_TRUE(StatusIs(Rng->GetRNG(Rng, &gEfiRngAlgorithmRaw, 1, &Byte), EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(Rng->GetRNG(Rng, &Other, 1, &Byte), EFI_UNSUPPORTED));
  EXPECT_TRUE(StatusIs(Rng->GetRNG(Rng, nullptr, 0, &Byte), EFI_INVALID_PARAMETER));
  EXPECT_TRUE(StatusIs(Rng->GetRNG(Rng, nullptr, 1, nullptr), EFI_INVALID_PARAMETER));
}

TEST_F(RngTest, DeterministicSourceRepeatsPerSeed) {
  std::vector<UINT8> First = Draw(37);
  EXPECT_NE(First, std::vector<UINT8>(37, 0));
  EXPECT_NE(Draw(37), First) << "the stream moves on";
  RestartEnvironment({});
  EXPECT_EQ(Draw(37), First) << "a fresh environment repeats the default seed";
  Env().Rng().UseDeterministic(7);
  std::vector<UINT8> Seven = Draw(37);
  EXPECT_NE(Seven, First);
  Env().Rng().UseDeterministic(7);
  EXPECT_EQ(Draw(37), Seven);
  EXPECT_EQ(Env().Rng().BytesDelivered(), 3u * 37u) << "counted since the restart";
}

TEST_F(RngTest, OperatingSystemSourceDoesNotRepeat) {
  Env().Rng().UseOperatingSystem();
  std::vector<UINT8> First = Draw(32), Second = Draw(32);
  EXPECT_NE(First, Second);
  EXPECT_NE(First, std::vector<UINT8>(32, 0));
}

TEST_F(RngTest, CanBeWithheldOrMadeToFail) {
  EFI_RNG_PROTOCOL *Rng = Locate();
  ASSERT_NE(Rng, nullptr);
  Env().Rng().FailWith(EFI_DEVICE_ERROR);
  UINT8 Byte;
  EXPECT_TRUE(StatusIs(Rng->GetRNG(Rng, nullptr, 1, &Byte), EFI_DEVICE_ERROR));
  Env().Rng().FailWith(EFI_SUCCESS);

  ASSERT_TRUE(StatusIs(Env().Rng().Withhold(), EFI_SUCCESS));
  EXPECT_EQ(Locate(), nullptr);
  ASSERT_TRUE(StatusIs(Env().Rng().Offer(), EFI_SUCCESS));
  EXPECT_EQ(Locate(), Rng);

  RestartEnvironment({.InstallRng = false});
  EXPECT_EQ(Locate(), nullptr);
  EXPECT_FALSE(Env().Rng().Offered());
}

class PciTest : public HostEnvTest {
 protected:
  HostEnv::PciDevice &AddDevice() {
    return Env().AddPciDevice(
        {.Location = {.Bus = 3, .Device = 0x1C, .Function = 2}, .VendorId = 0x8086, .DeviceId = 0x2723, .RevisionId = 0x1A,
         .ClassCode = 0x028000});
  }
};

TEST_F(PciTest, DeviceHandleCarriesAPciDevicePathAndPciIo) {
  HostEnv::PciDevice &Device = AddDevice();
  VOID               *Interface = nullptr;
  ASSERT_TRUE(StatusIs(BS()->HandleProtocol(Device.Handle(), &gEfiPciIoProtocolGuid, &Interface), EFI_SUCCESS));
  EXPECT_EQ(Interface, Device.PciIo());
  ASSERT_TRUE(StatusIs(BS()->HandleProtocol(Device.Handle(), &gEfiDevicePathProtocolGuid, &Interface), EFI_SUCCESS));

  const auto *Nodes = static_cast<const UINT8 *>(Interface);
  ACPI_HID_DEVICE_PATH Acpi;
  std::memcpy(&Acpi, Nodes, sizeof(Acpi));
  EXPECT_EQ(Acpi.Header.Type, ACPI_DEVICE_PATH);
  EXPECT_EQ(Acpi.Header.SubType, ACPI_DP);
  EXPECT_EQ(Acpi.Header.Length[0], sizeof(ACPI_HID_DEVICE_PATH));
  EXPECT_EQ(Acpi.HID, 0x0A0341D0u);  // PNP0A03
  const UINT8 *Pci = Nodes + sizeof(ACPI_HID_DEVICE_PATH);
  EXPECT_EQ(std::vector<UINT8>(Pci, Pci + 10),
            (std::vector<UINT8>{HARDWARE_DEVICE_PATH, HW_PCI_DP, 6, 0, 2, 0x1C, END_DEVICE_PATH_TYPE,
                                END_ENTIRE_DEVICE_PATH_SUBTYPE, 4, 0}));

  UINTN Segment, Bus, Dev, Function;
  ASSERT_TRUE(StatusIs(Device.PciIo()->GetLocation(Device.PciIo(), &Segment, &Bus, &Dev, &Function), EFI_SUCCESS));
  EXPECT_EQ((std::array<UINTN, 4>{Segment, Bus, Dev, Function}), (std::array<UINTN, 4>{0, 3, 0x1C, 2}));
}

TEST_F(PciTest, ConfigSpaceReadsAndWritesAtEveryWidth) {
  HostEnv::PciDevice  &Device = AddDevice();
  EFI_PCI_IO_PROTOCOL *Io     = Device.PciIo();
  UINT16               Ids[2];
  ASSERT_TRUE(StatusIs(Io->Pci.Read(Io, EfiPciIoWidthUint16, 0, 2, Ids), EFI_SUCCESS));
  EXPECT_EQ(Ids[0], 0x8086);
  EXPECT_EQ(Ids[1], 0x2723);
  UINT8 Header[64];
  ASSERT_TRUE(StatusIs(Io->Pci.Read(Io, EfiPciIoWidthUint8, 0, 64, Header), EFI_SUCCESS));
  EXPECT_EQ(Header[8], 0x1A);
  EXPECT_EQ(Header[0x0B], 0x02) << "base class: network controller";

  UINT32 Dword = 0xA1B2C3D4;
  ASSERT_TRUE(StatusIs(Io->Pci.Write(Io, EfiPciIoWidthUint32, 0x40, 1, &Dword), EFI_SUCCESS));
  UINT8 Bytes[4];
  ASSERT_TRUE(StatusIs(Io->Pci.Read(Io, EfiPciIoWidthUint8, 0x40, 4, Bytes), EFI_SUCCESS));
  EXPECT_EQ(Bytes[0], 0xD4);
  EXPECT_EQ(Bytes[3], 0xA1);
  UINT64 Last = 0x1122334455667788ULL, Back = 0;
  ASSERT_TRUE(StatusIs(Io->Pci.Write(Io, EfiPciIoWidthUint64, 0xF8, 1, &Last), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(Io->Pci.Read(Io, EfiPciIoWidthUint64, 0xF8, 1, &Back), EFI_SUCCESS));
  EXPECT_EQ(Back, Last);

  // FIFO reads the same register repeatedly; fill writes one value repeatedly.
  UINT8 Fifo[3];
  ASSERT_TRUE(StatusIs(Io->Pci.Read(Io, EfiPciIoWidthFifoUint8, 0x43, 3, Fifo), EFI_SUCCESS));
  EXPECT_EQ(std::vector<UINT8>(Fifo, Fifo + 3), (std::vector<UINT8>{0xA1, 0xA1, 0xA1}));
  UINT16 Fill = 0xBEEF;
  ASSERT_TRUE(StatusIs(Io->Pci.Write(Io, EfiPciIoWidthFillUint16, 0x80, 2, &Fill), EFI_SUCCESS));
  EXPECT_EQ(Device.ReadConfig(0x80, 4), 0xBEEFBEEFu);
}

TEST_F(PciTest, ConfigAccessOutsideTheSpaceIsRefused) {
  EFI_PCI_IO_PROTOCOL *Io = AddDevice().PciIo();
  UINT64               Buffer[40] = {};
  EXPECT_TRUE(StatusIs(Io->Pci.Read(Io, EfiPciIoWidthUint32, 0xFC, 2, Buffer), EFI_UNSUPPORTED));
  EXPECT_TRUE(StatusIs(Io->Pci.Read(Io, EfiPciIoWidthUint8, 0x100, 1, Buffer), EFI_UNSUPPORTED));
  EXPECT_TRUE(StatusIs(Io->Pci.Write(Io, EfiPciIoWidthUint64, 0x100 - 8, 2, Buffer), EFI_UNSUPPORTED));
  EXPECT_TRUE(StatusIs(Io->Pci.Read(Io, EfiPciIoWidthUint8, 0, 257, Buffer), EFI_UNSUPPORTED));
  EXPECT_TRUE(StatusIs(Io->Pci.Read(Io, EfiPciIoWidthUint16, 1, 1, Buffer), EFI_UNSUPPORTED)) << "misaligned";
  EXPECT_TRUE(StatusIs(Io->Pci.Read(Io, EfiPciIoWidthUint32, 0xFFFFFFFC, 2, Buffer), EFI_UNSUPPORTED))
      << "offset arithmetic must not wrap";
  EXPECT_TRUE(StatusIs(Io->Pci.Read(Io, EfiPciIoWidthMaximum, 0, 1, Buffer), EFI_INVALID_PARAMETER));
  EXPECT_TRUE(StatusIs(Io->Pci.Read(Io, EfiPciIoWidthUint8, 0, 1, nullptr), EFI_INVALID_PARAMETER));
  // The last byte and the whole space are in bounds.
  EXPECT_TRUE(StatusIs(Io->Pci.Read(Io, EfiPciIoWidthUint8, 0xFF, 1, Buffer), EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(Io->Pci.Read(Io, EfiPciIoWidthUint32, 0, 64, Buffer), EFI_SUCCESS));
  // Members the fake does not model.
  EXPECT_TRUE(StatusIs(Io->Mem.Read(Io, EfiPciIoWidthUint32, 0, 0, 1, Buffer), EFI_UNSUPPORTED));
  EXPECT_TRUE(StatusIs(Io->Attributes(Io, EfiPciIoAttributeOperationGet, 0, nullptr), EFI_UNSUPPORTED));
}

struct PciArrival {
  VOID                   *Registration = nullptr;
  std::vector<VOID *>      Interfaces;
};
VOID EFIAPI OnPciIo(EFI_EVENT, VOID *Context) {
  auto *Arrival = static_cast<PciArrival *>(Context);
  VOID *Interface = nullptr;
  while (!EFI_ERROR(HostEnv::Environment::Active().BootServices()->LocateProtocol(&gEfiPciIoProtocolGuid,
                                                                                 Arrival->Registration, &Interface))) {
    Arrival->Interfaces.push_back(Interface);
  }
}

TEST_F(PciTest, AddingADeviceNotifiesListenersAndRemovalRespectsDrivers) {
  PciArrival Arrival;
  EFI_EVENT  Event = nullptr;
  ASSERT_TRUE(StatusIs(BS()->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, OnPciIo, &Arrival, &Event), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(BS()->RegisterProtocolNotify(&gEfiPciIoProtocolGuid, Event, &Arrival.Registration), EFI_SUCCESS));
  HostEnv::PciDevice &Device = AddDevice();
  EXPECT_EQ(Arrival.Interfaces, std::vector<VOID *>{Device.PciIo()});

  EFI_HANDLE Driver = Env().CoreImageHandle();
  VOID      *Interface;
  ASSERT_TRUE(StatusIs(BS()->OpenProtocol(Device.Handle(), &gEfiPciIoProtocolGuid, &Interface, Driver, Device.Handle(),
                                          EFI_OPEN_PROTOCOL_BY_DRIVER),
                       EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(Env().RemovePciDevice(Device), EFI_INVALID_PARAMETER));
  EXPECT_TRUE(Env().IsHandle(Device.Handle()));
  BS()->CloseProtocol(Device.Handle(), &gEfiPciIoProtocolGuid, Driver, Device.Handle());
  EFI_HANDLE Handle = Device.Handle();
  EXPECT_TRUE(StatusIs(Env().RemovePciDevice(Device), EFI_SUCCESS));
  EXPECT_FALSE(Env().IsHandle(Handle));
  BS()->CloseEvent(Event);
}

TEST_F(PciTest, TwoDevicesCannotShareALocation) {
  AddDevice();
  EXPECT_DEATH(AddDevice(), "already sits at that location");
}

}  // namespace
