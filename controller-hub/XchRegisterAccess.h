// Register paths of the controller hub: PCI configuration space through the
// fixed PCI Express window, SMN registers through the host bridge's index and
// data pair, AB registers through I/O ports 0xCD8/0xCDC, MMIO read-modify-
// writes, the two byte-table formats and the data fabric registers.
#pragma once
#include <uefi/Base.h>

// Width codes shared by every routine. Adding XCH_WIDTH_S3 to a write asks for
// it to be recorded for S3 resume as well.
constexpr UINT8 XCH_WIDTH_8  = 1;
constexpr UINT8 XCH_WIDTH_16 = 2;
constexpr UINT8 XCH_WIDTH_32 = 3;
constexpr UINT8 XCH_WIDTH_64 = 4;
constexpr UINT8 XCH_WIDTH_S3 = 0x80;

constexpr UINT64 XCH_PCIE_BASE   = 0xE0000000;
constexpr UINT32 XCH_PCIE_WINDOW = 0x10000000;  // raw offsets at or above it are outside

constexpr UINT32 XCH_SMN_INDEX = 0xB8;  // raw offsets of bus 0, device 0, function 0
constexpr UINT32 XCH_SMN_DATA  = 0xBC;

constexpr UINTN XCH_ACPI_MMIO_BASE = 0xFED80000;

// Raw offset into the window: bus << 20 | device << 15 | function << 12 | register.
constexpr UINT32 XchPciRawOffset(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register) {
  return (Bus << 20) | (Device << 15) | (Function << 12) | Register;
}
// Packed address: bus << 24 | device << 19 | function << 16 | register.
constexpr UINT32 XchPciPackedAddress(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register) {
  return (Bus << 24) | (Device << 19) | (Function << 16) | Register;
}
constexpr UINT32 XchPciPackedToRaw(UINT32 Packed) { return (Packed & 0xFFF) | ((Packed >> 4) & ~0xFFFu); }

// Reads Width bytes at XCH_PCIE_BASE + RawOffset into *Value (sized for the
// width); offsets outside the window read as all ones.
VOID XchPciReadRaw(UINT32 RawOffset, UINT8 WidthCode, VOID *Value);
// Writes *Value (sized for the width); with XCH_WIDTH_S3 also records the
// write for S3 first. Writes outside the window are dropped.
VOID XchPciWriteRaw(UINT32 RawOffset, UINT8 WidthCode, const VOID *Value);
// 32-bit (old AND AndMask) OR OrValue at a packed address; the width code is
// not used.
VOID XchPciModify(UINT32 PackedAddress, UINT8 WidthCode, UINT32 AndMask, UINT32 OrValue);

// Reads SMN register SmnAddress through the index/data pair of the host
// bridge at HostBridgeRaw, restoring the index afterwards.
VOID XchSmnRead(UINT32 HostBridgeRaw, UINT32 SmnAddress, UINT8 WidthCode, VOID *Value);
VOID XchSmnWrite(UINT32 SmnAddress, UINT32 Value);
VOID XchSmnModify(UINT32 SmnAddress, UINT32 AndMask, UINT32 OrValue);

// Read, write (old AND AndMask) OR OrValue, read again; width code 1, 2 or 3
// (plus XCH_WIDTH_S3 to record the written value for S3).
VOID XchMmioModify(UINTN Address, UINT8 WidthCode, UINT32 AndMask, UINT32 OrValue);

// AB register read-modify-write; the space type is in bits 29-31.
VOID XchAbModify(UINT32 AbAddress, UINT32 AndMask, UINT32 OrValue);

// PCI byte table of Units 3-byte units (headers and the FF FF FF switch
// included): {bus, device << 3 | function, -} then {register, AND, OR}...
VOID XchPciByteTable(const UINT8 *Table, UINTN Units);
// ACPI MMIO byte table: 00 00 B0 AC, then {block, register, AND, OR} entries
// up to one whose block is 0x1D or more.
VOID XchAcpiMmioByteTable(const UINT8 *Table);
// The same within Size bytes: a table that reaches them without its end
// entry stops there (an entry cut short is not applied) and says so.
VOID XchAcpiMmioByteTable(const UINT8 *Table, UINTN Size);

// Data fabric register (bus 0, device 0x18, function 0-7).
UINT32 XchDfRead(UINT32 Function, UINT32 Offset);
