// A fake PCI function: a device handle with a PCI device path and an
// EFI_PCI_IO_PROTOCOL whose configuration access works over a 256-byte
// configuration space. Every other PCI I/O member answers EFI_UNSUPPORTED.
#pragma once

#include <uefi/Protocol/DevicePath.h>
#include <uefi/Protocol/PciIo.h>

#include <array>

namespace HostEnv {

struct PciLocation {
  UINT16 Segment  = 0;
  UINT8  Bus      = 0;
  UINT8  Device   = 0;
  UINT8  Function = 0;
};

struct PciDeviceConfig {
  PciLocation Location;
  UINT16      VendorId = 0xFFFF;
  UINT16      DeviceId = 0xFFFF;
  UINT8       RevisionId = 0;
  UINT32      ClassCode  = 0;  // 24 bits: base class, sub-class, programming interface
};

constexpr size_t kPciConfigSpaceSize = 256;

class PciDevice {
 public:
  explicit PciDevice(const PciDeviceConfig &Config);
  PciDevice(const PciDevice &) = delete;
  PciDevice &operator=(const PciDevice &) = delete;

  EFI_HANDLE                Handle() const { return Handle_; }
  const PciLocation        &Location() const { return Location_; }
  EFI_PCI_IO_PROTOCOL      *PciIo() { return &Instance_.Protocol; }
  EFI_DEVICE_PATH_PROTOCOL *DevicePath() { return &Path_.Acpi.Header; }

  // Direct access to the configuration space, for tests to set up or inspect.
  std::array<UINT8, kPciConfigSpaceSize> &ConfigSpace() { return Config_; }
  UINT32 ReadConfig(UINT32 Offset, UINT8 Width) const;
  void   WriteConfig(UINT32 Offset, UINT8 Width, UINT32 Value);

  // Pci.Read / Pci.Write once the owner is known.
  EFI_STATUS AccessConfig(bool Write, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT32 Offset, UINTN Count, VOID *Buffer);
  static PciDevice &FromProtocol(EFI_PCI_IO_PROTOCOL *This);

 private:
  friend class Environment;  // installs and removes the protocols, keeping Handle_

  struct Instance {
    EFI_PCI_IO_PROTOCOL Protocol;  // first: This points here
    PciDevice          *Owner;
  };
  // PciRoot(UID)/Pci(Device,Function): each bus is modelled as its own root
  // bridge (UID = segment << 8 | bus), which keeps paths unique without
  // bridge nodes.
  struct DevicePathNodes {
    ACPI_HID_DEVICE_PATH     Acpi;
    PCI_DEVICE_PATH          Pci;
    EFI_DEVICE_PATH_PROTOCOL End;
  };

  Instance                               Instance_;
  DevicePathNodes                        Path_;
  PciLocation                            Location_;
  std::array<UINT8, kPciConfigSpaceSize> Config_{};
  EFI_HANDLE                             Handle_ = nullptr;
};

}  // namespace HostEnv
