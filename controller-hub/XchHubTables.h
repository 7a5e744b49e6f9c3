// Built-in tables of the Env and Late hub programming: the PCI byte tables
// T1-T3, the ACPI MMIO byte tables A1-A4, the AB register table and the
// interrupt routing table. Plain data in the order the hardware receives it.
#pragma once
#include <uefi/Base.h>

// ---------------------------------------------------------------------------
// PCI byte tables: 3-byte units. A header {bus, device << 3 | function, -}
// opens the table and follows every FF FF FF unit; the units between are
// {register, AND mask, OR value}. The length handed to the walker counts
// every unit, headers and FF FF FF included.
// ---------------------------------------------------------------------------
struct XCH_PCI_BYTE_UNIT {
  UINT8 Byte0, Byte1, Byte2;
};
constexpr XCH_PCI_BYTE_UNIT XchPciHeader(UINT8 Bus, UINT8 DevFn) { return {Bus, DevFn, 0x00}; }
constexpr XCH_PCI_BYTE_UNIT XchPciEntry(UINT8 Register, UINT8 AndMask, UINT8 OrValue) {
  return {Register, AndMask, OrValue};
}
constexpr XCH_PCI_BYTE_UNIT XchPciSwitch = {0xFF, 0xFF, 0xFF};

constexpr UINT8 XCH_DEVFN_14_0 = 0xA0;  // device 0x14, function 0
constexpr UINT8 XCH_DEVFN_14_3 = 0xA3;  // device 0x14, function 3

// clang-format off
inline constexpr XCH_PCI_BYTE_UNIT XchPciTableT1[] = {
  XchPciHeader(0, XCH_DEVFN_14_3),
  XchPciEntry(0x78, 0xFC, 0x00),
  XchPciSwitch,
};
inline constexpr XCH_PCI_BYTE_UNIT XchPciTableT2[] = {
  XchPciHeader(0, XCH_DEVFN_14_0),
  XchPciEntry(0x10, 0x00, 0x03),
  XchPciEntry(0x11, 0x00, 0x08),
  XchPciSwitch,
};
inline constexpr XCH_PCI_BYTE_UNIT XchPciTableT3[] = {
  XchPciHeader(0, XCH_DEVFN_14_0),
  XchPciEntry(0x04, 0xBF, 0x40),
  XchPciEntry(0x05, 0xFE, 0x01),
  XchPciSwitch,
  XchPciHeader(0, XCH_DEVFN_14_3),
  XchPciEntry(0x04, 0xBF, 0x40),
  XchPciEntry(0x05, 0xFE, 0x01),
  XchPciSwitch,
};
// clang-format on
static_assert(sizeof(XchPciTableT1) == 3 * 3 && sizeof(XchPciTableT2) == 4 * 3 && sizeof(XchPciTableT3) == 8 * 3,
              "PCI byte tables are whole 3-byte units");

// ---------------------------------------------------------------------------
// ACPI MMIO byte tables: the signature 00 00 B0 AC, then {block, register,
// AND mask, OR value} for the byte at 0xFED80000 + block * 0x100 + register,
// up to an entry whose block is 0x1D or more.
// ---------------------------------------------------------------------------
struct XCH_ACPI_MMIO_ENTRY {
  UINT8 Block, Register, AndMask, OrValue;
};
constexpr XCH_ACPI_MMIO_ENTRY XchAcpiMmioSignature = {0x00, 0x00, 0xB0, 0xAC};
constexpr XCH_ACPI_MMIO_ENTRY XchAcpiMmioEnd = {0xFF, 0xFF, 0xFF, 0xFF};

// clang-format off
inline constexpr XCH_ACPI_MMIO_ENTRY XchAcpiMmioTableA1[] = {
  XchAcpiMmioSignature,
  {0x03, 0x74, 0x00, 0x17},  // block 3: 0x74 = 0x17
  {0x03, 0x76, 0x06, 0x00},  //          0x76 AND 0x06
  {0x03, 0x77, 0xDF, 0x00},  //          0x77 AND 0xDF
  {0x03, 0xBA, 0xF7, 0x08},  //          0xBA AND 0xF7 OR 0x08
  {0x03, 0xBC, 0xFD, 0x02},  //          0xBC AND 0xFD OR 0x02
  {0x02, 0x41, 0x00, 0x01},  // block 2: 0x41 = 0x01
  {0x02, 0x43, 0x00, 0x03},  //          0x43 = 0x03
  {0x02, 0x44, 0x00, 0x04},  //          0x44 = 0x04
  {0x02, 0x45, 0x00, 0x05},  //          0x45 = 0x05
  {0x02, 0x46, 0x00, 0x06},  //          0x46 = 0x06
  {0x02, 0x57, 0x00, 0x17},  //          0x57 = 0x17
  {0x02, 0x48, 0x00, 0x18},  //          0x48 = 0x18
  {0x02, 0x08, 0xE7, 0x00},  //          0x08 AND 0xE7
  {0x02, 0x0E, 0xF7, 0x08},  //          0x0E AND 0xF7 OR 0x08
  {0x02, 0x70, 0x00, 0x09},  //          0x70 = 0x09
  {0x02, 0x78, 0x00, 0x0B},  //          0x78 = 0x0B
  {0x02, 0x79, 0x00, 0x0B},  //          0x79 = 0x0B
  {0x02, 0x6A, 0x00, 0x0B},  //          0x6A = 0x0B
  {0x02, 0x6C, 0x00, 0x0D},  //          0x6C = 0x0D
  {0x02, 0x5D, 0x00, 0x10},  //          0x5D = 0x10
  {0x02, 0x5E, 0x00, 0x11},  //          0x5E = 0x11
  XchAcpiMmioEnd,
};
inline constexpr XCH_ACPI_MMIO_ENTRY XchAcpiMmioTableA2[] = {
  XchAcpiMmioSignature,
  {0x02, 0x65, 0x00, 0x0B},  // block 2: 0x65 = 0x0B
  {0x02, 0x66, 0x00, 0x0B},  //          0x66 = 0x0B
  {0x02, 0x7D, 0x00, 0x0B},  //          0x7D = 0x0B
  {0x02, 0x7E, 0x00, 0x0B},  //          0x7E = 0x0B
  XchAcpiMmioEnd,
};
inline constexpr XCH_ACPI_MMIO_ENTRY XchAcpiMmioTableA3[] = {
  XchAcpiMmioSignature,
  {0x02, 0xB5, 0xFC, 0x01},  // block 2: 0xB5 AND 0xFC OR 0x01
  XchAcpiMmioEnd,
};
inline constexpr XCH_ACPI_MMIO_ENTRY XchAcpiMmioTableA4[] = {
  XchAcpiMmioSignature,
  XchAcpiMmioEnd,
};
// clang-format on

// ---------------------------------------------------------------------------
// AB register table: each entry's register is reached as the AB modify
// reaches space type << 29 | register, and becomes (old AND NOT clear) OR
// set. Space type 0xFF ends the table.
// ---------------------------------------------------------------------------
struct XCH_AB_TABLE_ENTRY {
  UINT8  SpaceType;
  UINT32 Register;
  UINT32 ClearMask;
  UINT32 SetValue;
};
constexpr UINT8 XCH_AB_TABLE_END = 0xFF;

// clang-format off
inline constexpr XCH_AB_TABLE_ENTRY XchAbTable[] = {
  {6, 0x00000080, 0x00060000, 0x00060001},
  {6, 0x00000090, 0x00200000, 0x00200000},
  {6, 0x00000094, 0x00100000, 0x00100FEE},
  {6, 0x00010054, 0x00FFFFFF, 0x000007FF},
  {6, 0x00010060, 0xFBFFFFFF, 0x02000000},
  {6, 0x00010090, 0x00010000, 0x00010000},
  {6, 0x00000000, 0x00000000, 0x000000FF},
  {XCH_AB_TABLE_END, 0, 0, 0},
};
// clang-format on

// ---------------------------------------------------------------------------
// Interrupt routing: 18 {index, value} pairs for I/O ports 0xC00 (index) and
// 0xC01 (data). Before they are written, the values of indexes 0xF0-0xF9
// are taken from data-block bytes.
// ---------------------------------------------------------------------------
struct XCH_IRQ_ROUTE {
  UINT8 Index;
  UINT8 Value;
};
// clang-format off
inline constexpr XCH_IRQ_ROUTE XchInterruptRouting[18] = {
  {0x80, 0x1F}, {0x81, 0x1F}, {0x82, 0x1F}, {0x83, 0x1F}, {0x97, 0x10}, {0x9A, 0x10},
  {0xC3, 0x05}, {0xE2, 0x07}, {0xF4, 0x03}, {0xF5, 0x0E}, {0xF8, 0x05}, {0xF9, 0x0F},
  {0xF7, 0x0D}, {0xF0, 0x0A}, {0xF1, 0x0B}, {0xF2, 0x04}, {0xF3, 0x06}, {0xF6, 0x16},
};

struct XCH_IRQ_FROM_BLOCK {
  UINT8  Index;
  UINT16 BlockOffset;
};
inline constexpr XCH_IRQ_FROM_BLOCK XchInterruptRoutingFromBlock[10] = {
  {0xF0, 0x20}, {0xF1, 0x21}, {0xF2, 0x22}, {0xF3, 0x23}, {0xF4, 0x1B},
  {0xF5, 0x1C}, {0xF6, 0x24}, {0xF7, 0x1F}, {0xF8, 0x1D}, {0xF9, 0x1E},
};
// clang-format on
