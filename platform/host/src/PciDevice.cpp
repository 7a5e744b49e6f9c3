#include <HostEnv/PciDevice.h>

#include <cstring>

namespace HostEnv {
namespace {

constexpr UINT32 kPciRootBridgeHid = 0x0A0341D0;  // EISA PNP0A03

template <typename Node>
EFI_DEVICE_PATH_PROTOCOL NodeHeader(UINT8 Type, UINT8 SubType) {
  return {Type, SubType, {UINT8(sizeof(Node) & 0xFF), UINT8(sizeof(Node) >> 8)}};
}

// The members this fake device does not model.
EFI_STATUS EFIAPI PollUnsupported(EFI_PCI_IO_PROTOCOL *, EFI_PCI_IO_PROTOCOL_WIDTH, UINT8, UINT64, UINT64, UINT64,
                                  UINT64, UINT64 *) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI IoMemUnsupported(EFI_PCI_IO_PROTOCOL *, EFI_PCI_IO_PROTOCOL_WIDTH, UINT8, UINT64, UINTN, VOID *) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI CopyMemUnsupported(EFI_PCI_IO_PROTOCOL *, EFI_PCI_IO_PROTOCOL_WIDTH, UINT8, UINT64, UINT8, UINT64,
                                     UINTN) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI MapUnsupported(EFI_PCI_IO_PROTOCOL *, EFI_PCI_IO_PROTOCOL_OPERATION, VOID *, UINTN *,
                                 EFI_PHYSICAL_ADDRESS *, VOID **) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI UnmapUnsupported(EFI_PCI_IO_PROTOCOL *, VOID *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI AllocateBufferUnsupported(EFI_PCI_IO_PROTOCOL *, EFI_ALLOCATE_TYPE, EFI_MEMORY_TYPE, UINTN, VOID **,
                                            UINT64) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI FreeBufferUnsupported(EFI_PCI_IO_PROTOCOL *, UINTN, VOID *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI FlushUnsupported(EFI_PCI_IO_PROTOCOL *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI AttributesUnsupported(EFI_PCI_IO_PROTOCOL *, EFI_PCI_IO_PROTOCOL_ATTRIBUTE_OPERATION, UINT64,
                                        UINT64 *) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI GetBarAttributesUnsupported(EFI_PCI_IO_PROTOCOL *, UINT8, UINT64 *, VOID **) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI SetBarAttributesUnsupported(EFI_PCI_IO_PROTOCOL *, UINT64, UINT8, UINT64 *, UINT64 *) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI ConfigRead(EFI_PCI_IO_PROTOCOL *This, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT32 Offset, UINTN Count,
                             VOID *Buffer) {
  if (This == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return PciDevice::FromProtocol(This).AccessConfig(false, Width, Offset, Count, Buffer);
}

EFI_STATUS EFIAPI ConfigWrite(EFI_PCI_IO_PROTOCOL *This, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT32 Offset, UINTN Count,
                              VOID *Buffer) {
  if (This == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return PciDevice::FromProtocol(This).AccessConfig(true, Width, Offset, Count, Buffer);
}

EFI_STATUS EFIAPI GetLocation(EFI_PCI_IO_PROTOCOL *This, UINTN *Segment, UINTN *Bus, UINTN *Device,
                              UINTN *Function) {
  if (This == nullptr || Segment == nullptr || Bus == nullptr || Device == nullptr || Function == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const PciLocation &Location = PciDevice::FromProtocol(This).Location();
  *Segment                    = Location.Segment;
  *Bus                        = Location.Bus;
  *Device                     = Location.Device;
  *Function                   = Location.Function;
  return EFI_SUCCESS;
}

}  // namespace

PciDevice::PciDevice(const PciDeviceConfig &Config) : Location_(Config.Location) {
  static_assert(offsetof(DevicePathNodes, Pci) == sizeof(ACPI_HID_DEVICE_PATH) &&
                    offsetof(DevicePathNodes, End) == sizeof(ACPI_HID_DEVICE_PATH) + sizeof(PCI_DEVICE_PATH),
                "device path nodes must be contiguous");
  Instance_.Protocol = EFI_PCI_IO_PROTOCOL{PollUnsupported,
                                           PollUnsupported,
                                           {IoMemUnsupported, IoMemUnsupported},
                                           {IoMemUnsupported, IoMemUnsupported},
                                           {ConfigRead, ConfigWrite},
                                           CopyMemUnsupported,
                                           MapUnsupported,
                                           UnmapUnsupported,
                                           AllocateBufferUnsupported,
                                           FreeBufferUnsupported,
                                           FlushUnsupported,
                                           GetLocation,
                                           AttributesUnsupported,
                                           GetBarAttributesUnsupported,
                                           SetBarAttributesUnsupported,
                                           0,
                                           nullptr};
  Instance_.Owner         = this;

  Path_.Acpi.Header = NodeHeader<ACPI_HID_DEVICE_PATH>(ACPI_DEVICE_PATH, ACPI_DP);
  Path_.Acpi.HID    = kPciRootBridgeHid;
  Path_.Acpi.UID    = (UINT32(Location_.Segment) << 8) | Location_.Bus;
  Path_.Pci.Header  = NodeHeader<PCI_DEVICE_PATH>(HARDWARE_DEVICE_PATH, HW_PCI_DP);
  Path_.Pci.Function = Location_.Function;
  Path_.Pci.Device   = Location_.Device;
  Path_.End          = NodeHeader<EFI_DEVICE_PATH_PROTOCOL>(END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE);

  WriteConfig(0x00, 2, Config.VendorId);
  WriteConfig(0x02, 2, Config.DeviceId);
  WriteConfig(0x08, 1, Config.RevisionId);
  WriteConfig(0x09, 1, Config.ClassCode & 0xFF);
  WriteConfig(0x0A, 2, (Config.ClassCode >> 8) & 0xFFFF);
}

PciDevice &PciDevice::FromProtocol(EFI_PCI_IO_PROTOCOL *This) { return *reinterpret_cast<Instance *>(This)->Owner; }

UINT32 PciDevice::ReadConfig(UINT32 Offset, UINT8 Width) const {
  UINT32 Value = 0;
  if (Offset < kPciConfigSpaceSize && Width <= 4 && Width <= kPciConfigSpaceSize - Offset) {
    std::memcpy(&Value, &Config_[Offset], Width);
  }
  return Value;
}

void PciDevice::WriteConfig(UINT32 Offset, UINT8 Width, UINT32 Value) {
  if (Offset < kPciConfigSpaceSize && Width <= 4 && Width <= kPciConfigSpaceSize - Offset) {
    std::memcpy(&Config_[Offset], &Value, Width);
  }
}

EFI_STATUS PciDevice::AccessConfig(bool Write, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT32 Offset, UINTN Count,
                                   VOID *Buffer) {
  if (Buffer == nullptr || Width < EfiPciIoWidthUint8 || Width >= EfiPciIoWidthMaximum) {
    return EFI_INVALID_PARAMETER;
  }
  // Widths come in groups of four: plain (both sides advance), FIFO (the
  // register stays put) and fill (the buffer stays put).
  const UINTN Size         = UINTN(1) << (Width & 3);
  const UINTN RegisterStep = (Width >= EfiPciIoWidthFifoUint8 && Width <= EfiPciIoWidthFifoUint64) ? 0 : Size;
  const UINTN BufferStep   = Width >= EfiPciIoWidthFillUint8 ? 0 : Size;
  if ((Offset & (Size - 1)) != 0) {
    return EFI_UNSUPPORTED;
  }
  const UINTN Span = Count == 0 ? 0 : RegisterStep * (Count - 1) + Size;
  if (Offset > kPciConfigSpaceSize || (RegisterStep != 0 && Count > kPciConfigSpaceSize) ||
      Span > kPciConfigSpaceSize - Offset) {
    return EFI_UNSUPPORTED;
  }
  auto *Bytes = static_cast<UINT8 *>(Buffer);
  for (UINTN Index = 0; Index < Count; ++Index) {
    UINT8 *Register = &Config_[Offset + Index * RegisterStep];
    UINT8 *Data     = Bytes + Index * BufferStep;
    if (Write) {
      std::memcpy(Register, Data, Size);
    } else {
      std::memcpy(Data, Register, Size);
    }
  }
  return EFI_SUCCESS;
}

}  // namespace HostEnv
