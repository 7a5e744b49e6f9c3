#include "XchEnvProgramming.h"

#include <Platform/Hardware.h>

#include "XchAoacUart.h"
#include "XchBytes.h"
#include "XchDataBlock.h"
#include "XchDebug.h"
#include "XchHubTables.h"
#include "XchRegisterAccess.h"
#include "XchSmuService.h"

namespace {

// Data-block fields the Env tasks read (byte offsets).
constexpr UINTN BlkMmioDefaultsDone = 0x61;      // u8, 0 asks for 0xFED803C0 = 1
constexpr UINTN BlkSubsystemId14Fn0 = 0xF3;      // u32, 0 skips the write
constexpr UINTN BlkSubsystemId14Fn3 = 0x11A;     // u32, 0 skips the write
constexpr UINTN BlkSubsystemId14Fn6 = 0x163;     // u32, 0 skips the write
constexpr UINTN BlkOption353 = 0x353;            // u8
constexpr UINTN BlkOption342 = 0x342;            // u8
constexpr UINTN BlkOption51 = 0x51;              // u32, low two bits used
constexpr UINTN BlkOption271 = 0x271;            // u8
constexpr UINTN BlkOption272 = 0x272;            // u8
constexpr UINTN BlkOption66 = 0x66;              // u8
constexpr UINTN BlkOption67 = 0x67;              // u8
constexpr UINTN BlkOption68 = 0x68;              // u8
constexpr UINTN BlkSecondBlockBytes = 0x29;      // 4 bytes (the first four are XCH_BLK_SERIAL_BYTES)
constexpr UINTN BlkFunction6Mode = 0x15D;        // u32
constexpr UINTN BlkFunction6Option16F = 0x16F;   // u8, shifted into bits 30-31
constexpr UINTN BlkFunction6Option170 = 0x170;   // u8
constexpr UINTN BlkFunction6Option171 = 0x171;   // u8
constexpr UINTN BlkSmnValue = 0xD0;              // u32, 0 skips the two SMN writes
constexpr UINTN BlkOption7A = 0x7A;              // u8 options of the AB task, one byte each
constexpr UINTN BlkOption7B = 0x7B;
constexpr UINTN BlkOption71 = 0x71;
constexpr UINTN BlkOption7C = 0x7C;
constexpr UINTN BlkOption7D = 0x7D;
constexpr UINTN BlkOption6A = 0x6A;
constexpr UINTN BlkOption6B = 0x6B;
constexpr UINTN BlkOption7F = 0x7F;
constexpr UINTN BlkOption80 = 0x80;
constexpr UINTN BlkOption81 = 0x81;
constexpr UINTN BlkOption82 = 0x82;
constexpr UINTN BlkOption83 = 0x83;              // u8 value shifted into bits 8-12
constexpr UINTN BlkOption84 = 0x84;
constexpr UINTN BlkOption87 = 0x87;
constexpr UINTN BlkOption88 = 0x88;

constexpr UINT32 DeviceFlagBit29 = 0x20000000;
constexpr UINT32 DeviceFlagBit30 = 0x40000000;
constexpr UINT32 DeviceFlagBit31 = 0x80000000;

// --- Access shorthands ---
VOID Modify8(UINTN Address, UINT32 AndMask, UINT32 OrValue) {
  XchMmioModify(Address, XCH_WIDTH_8, AndMask, OrValue);
}
VOID Modify16(UINTN Address, UINT32 AndMask, UINT32 OrValue) {
  XchMmioModify(Address, XCH_WIDTH_16, AndMask, OrValue);
}
VOID Modify32(UINTN Address, UINT32 AndMask, UINT32 OrValue) {
  XchMmioModify(Address, XCH_WIDTH_32, AndMask, OrValue);
}
VOID PciModify(UINT32 PackedAddress, UINT32 AndMask, UINT32 OrValue) {
  XchPciModify(PackedAddress, XCH_WIDTH_32, AndMask, OrValue);
}
VOID AbModify(UINT32 AbAddress, UINT32 AndMask, UINT32 OrValue) { XchAbModify(AbAddress, AndMask, OrValue); }

UINT8 Byte(const UINT8 *Block, UINTN Offset) { return Block[Offset]; }
UINT32 Dword(const UINT8 *Block, UINTN Offset) { return XchReadField<UINT32>(Block, Offset); }
// Value when the data-block option is set, else 0.
UINT32 When(UINT8 Option, UINT32 Value) { return Option != 0 ? Value : 0; }

template <UINTN Units>
VOID ApplyPciTable(const XCH_PCI_BYTE_UNIT (&Table)[Units]) {
  XchPciByteTable(reinterpret_cast<const UINT8 *>(Table), Units);
}
VOID ApplyAcpiMmioTable(const XCH_ACPI_MMIO_ENTRY *Table) {
  XchAcpiMmioByteTable(reinterpret_cast<const UINT8 *>(Table));
}

VOID ApplyAbTable(const XCH_AB_TABLE_ENTRY *Table) {
  for (const XCH_AB_TABLE_ENTRY *Entry = Table; Entry->SpaceType != XCH_AB_TABLE_END; ++Entry) {
    AbModify(static_cast<UINT32>(Entry->SpaceType) << 29 | Entry->Register, ~Entry->ClearMask, Entry->SetValue);
  }
}

// --- Env task 2 data ---
constexpr UINT32 PciSubsystemId14Fn0 = 0x00A0002C;  // packed: bus 0, device 0x14, function 0, 0x2C
constexpr UINT32 AbOption50 = 0xC0010050;

struct INDEXED_WRITE {
  UINT16 Index;
  UINT32 Data;
};
constexpr UINTN IndexRegister1E88 = 0xFED81E88;  // M16, followed by the data at 0xFED81E8C (M32)
constexpr UINTN DataRegister1E8C = 0xFED81E8C;
constexpr INDEXED_WRITE IndexedWrites1E88[] = {
    {0x01, 0x39260080},
    {0x02, 0x88440100},
    {0x04, 0x82570200},
    {0x1B, 0x211E0380},
};

struct MMIO_MODIFY {
  UINT8  Width;
  UINT32 Address;
  UINT32 AndMask;
  UINT32 OrValue;
};
// Step 18 of the hub Env programming, in order.
// clang-format off
constexpr MMIO_MODIFY FixedEnvWrites[] = {
  {XCH_WIDTH_32, 0xFED80314, 0x00000000, 0x48084810},
  {XCH_WIDTH_32, 0xFED8031C, 0x00000000, 0x18040801},
  {XCH_WIDTH_16, 0xFED80320, 0x00000000, 0x3820},
  {XCH_WIDTH_16, 0xFED80324, 0x00000000, 0x08A0},
  {XCH_WIDTH_8,  0xFED8034B, 0x00000000, 0x59},
  {XCH_WIDTH_8,  0xFED8034C, 0x00000000, 0x09},
  {XCH_WIDTH_32, 0xFED803A8, 0x00000000, 0x08230885},
  {XCH_WIDTH_8,  0xFED80310, 0xDF,       0x00},
  {XCH_WIDTH_32, 0xFED803B8, 0xFFDFFFFF, 0x00200000},
  {XCH_WIDTH_32, 0xFED803BC, 0xFDFFFFFF, 0x00000000},
  {XCH_WIDTH_8,  0xFED8033F, 0x00000000, 0x06},
  {XCH_WIDTH_32, 0xFED8033C, 0xFFFBFFFF, 0x00040000},
  {XCH_WIDTH_8,  0xFED8038E, 0x3F,       0x00},
  {XCH_WIDTH_32, 0xFED80350, 0x0000FFFE, 0x01000001},
  {XCH_WIDTH_32, 0xFED81E94, 0xF00FFFFF, 0x03B00000},
};
// clang-format on

// Steps 16 and 17: four writes at Base from four data-block bytes.
VOID ProgramFromFourBytes(UINTN Base, const UINT8 *Bytes) {
  UINT32 B0 = Bytes[0], B1 = Bytes[1], B2 = Bytes[2], B3 = Bytes[3];
  Modify32(Base + 0x000, 0x9FFBFFFF, (B0 & 6) << 28 | (B0 & 1) << 18);
  Modify32(Base + 0x020, 0x000FFFFF, (B1 & 0xF) * 0x11100000);
  Modify16(Base + 0x06C, 0xC0C0, (B3 & 0x3F) << 8 | (B2 & 0x3F));
  Modify32(Base + 0x150, 0xFFFF7FFF, 0x8000);
}

VOID ProgramIndexedRegisters1E88() {
  Modify32(0xFED81E94, 0xFF0FFFFF, 0x00B00000);
  for (const INDEXED_WRITE &Write : IndexedWrites1E88) {
    Modify16(IndexRegister1E88, 0, Write.Index);
    Modify32(DataRegister1E8C, 0, Write.Data);
  }
  Modify32(0xFED81E90, 0, 0x16);
  if ((MmioRead8(0xFED81E76) & 0x08) != 0) {
    Modify32(0xFED81E90, 0xF7FFFFFF, 0x08000000);
  }
  Modify32(0xFED81E9C, 0, 3);
  Modify32(0xFED81110, 0, 9);
}

// The table from PCD 259 ends within the PCD's size. One that a consumer of
// the init protocol put in the block after the build is its own to vouch for.
VOID ApplyPlatformMmioTable(const UINT8 *Block) {
  const auto *Table =
      reinterpret_cast<const UINT8 *>(static_cast<UINTN>(XchReadField<UINT64>(Block, XCH_BLK_PLATFORM_MMIO)));
  if (Table == nullptr) {
    return;
  }
  XCH_BYTE_TABLE FromPcd = XchPlatformMmioTable();
  if (Table == FromPcd.Address) {
    XchAcpiMmioByteTable(Table, FromPcd.Size);
  } else {
    XchAcpiMmioByteTable(Table);
  }
}

// --- Env task 5 data ---
constexpr UINT32 Fn6Mode0 = 0;
constexpr UINT32 Fn6Mode1 = 1;
constexpr UINT32 Fn6Mode6 = 6;
constexpr UINT32 PciFn6SubsystemId = 0x00A6002C;  // packed: bus 0, device 0x14, function 6
constexpr UINT32 PciFn6A4 = 0x00A600A4;
constexpr UINT32 PciFn6A8 = 0x00A600A8;
constexpr UINT32 PciFn6B0 = 0x00A600B0;
constexpr UINT32 PciFn6D0 = 0x00A600D0;

VOID Function6Mode1Only() {
  PciModify(PciFn6A4, 0xFFFF00FF, 0x3200);
  PciModify(PciFn6A8, 0xFFFFFFFB, 0);
  PciModify(PciFn6A8, 0xFFFFFFFD, 0);
  PciModify(PciFn6A8, 0xFFFFFFFE, 0);
  PciModify(PciFn6B0, 0x00FFFFFF, 0x01000000);
}

VOID Function6Enabled(const UINT8 *Block, UINT32 Mode) {
  Modify8(0xFED803D3, 0xBF, 0x40);
  Modify8(0xFED803E8, 0xFE, 0x01);
  UINT32 SubsystemId = Dword(Block, BlkSubsystemId14Fn6);
  if (SubsystemId != 0) {
    PciModify(PciFn6SubsystemId, 0, SubsystemId);
  }
  // The byte's shift is kept to 32 bits: only its low two bits land.
  PciModify(PciFn6A4, 0x3FFFFFFF, static_cast<UINT32>(Byte(Block, BlkFunction6Option16F)) << 30);
  if (Mode == Fn6Mode1) {
    Function6Mode1Only();
  }
  if (Byte(Block, BlkFunction6Option170) != 0) {
    PciModify(PciFn6D0, 0xFFFDFFFF, 0x20000);
  }
  UINT8 Option171 = Byte(Block, BlkFunction6Option171);
  if (Option171 == 1) {
    PciModify(PciFn6A4, 0xFFE7FFFF, 0);
  } else if (Option171 == 2) {
    PciModify(PciFn6A4, 0xFFA7FFFF, 0);
  }
}

VOID Function6Disabled() {
  Modify8(0xFED803D3, 0xBF, 0);
  Modify8(0xFED803E8, 0xFE, 0);
  constexpr UINTN Register1E72 = 0xFED81E72;
  MmioWrite8(Register1E72, static_cast<UINT8>(MmioRead8(Register1E72) & ~0x08));
}

// --- Env task 6 data ---
constexpr UINT32 SmnRegisters4C[] = {0x1014304C, 0x1014404C};
constexpr UINT32 HostBridgeRegister4C = XchPciRawOffset(0, 0, 0, 0x4C);

// --- Env task 7 data ---
constexpr UINT32 AbC0000054 = 0xC0000054;
constexpr UINT32 AbC0010054 = 0xC0010054;
constexpr UINT32 AbC0000058 = 0xC0000058;
constexpr UINT32 AbC00000BC = 0xC00000BC;
constexpr UINT32 AbC0000208 = 0xC0000208;
constexpr UINT32 AbC0000228 = 0xC0000228;
constexpr UINT32 AbC000022C = 0xC000022C;
constexpr UINT32 AbC0000238 = 0xC0000238;
constexpr UINT32 AbC0000180 = 0xC0000180;
constexpr UINT32 AbC0000184 = 0xC0000184;
constexpr UINT16 AbIndexPort = 0xCD8;

VOID AbOption71(bool Set) {
  if (Set) {
    AbModify(AbC0000054, 0xFFFFFFEF, 0x10);
    AbModify(AbC0000054, 0xFEFFFFFF, 0x01000000);
    AbModify(AbC0010054, 0xFCFFFFFF, 0x03000000);
  } else {
    AbModify(AbC0010054, 0xFCFFFFFF, 0);
    AbModify(AbC0000054, 0xFEFFFFFF, 0);
    AbModify(AbC0000054, 0xFFFFFFEF, 0);
  }
}

VOID AbOption7C(bool Set) {
  if (Set) {
    AbModify(AbC0000054, 0xFFFFFFFE, 0);
    AbModify(AbC0000054, 0xFFFFFFFB, 4);
  } else {
    AbModify(AbC0000054, 0xFFFFFFFE, 1);
    AbModify(AbC0000054, 0xFFFFFFFB, 0);
  }
}

VOID AbOption7D(bool Set) {
  if (Set) {
    Modify8(0xFED80E68, 0xFB, 0);
    AbModify(AbC00000BC, 0xFFFFFFEF, 0x10);
    AbModify(AbC0000058, 0xDFFFFFFF, 0x20000000);
    AbModify(AbC0000058, 0x7FFFFFFF, 0x80000000);
  } else {
    AbModify(AbC0000058, 0x5FFFFFFF, 0);
    AbModify(AbC00000BC, 0xFFFFFFEF, 0);
    Modify8(0xFED80E68, 0xFB, 4);
  }
}

VOID AbOption7F(bool Set) {
  if (Set) {
    Modify8(0xFED80E68, 0xFD, 0);
    AbModify(AbC0000208, 0xFFFFFD7F, 0x280);
    AbModify(AbC0000238, 0xFFFFFBFF, 0x400);
  } else {
    AbModify(AbC0000208, 0xFFFFFD7F, 0);
    AbModify(AbC0000238, 0xFFFFFBFF, 0);
    Modify8(0xFED80E68, 0xFD, 2);
  }
}

}  // namespace

VOID XchEnvAcpiMmioDefaults(UINT8 *DataBlock) {
  XchTestPoint(0xAF5F);
  // The register holds 32 bits: only the low half of the block's address.
  UINT32 Address = static_cast<UINT32>(reinterpret_cast<UINTN>(DataBlock));
  for (UINT32 Index = 0; Index < 4; ++Index) {
    Modify8(0xFED80608 + Index, 0, (Address >> (8 * Index)) & 0xFF);
  }
  ApplyAcpiMmioTable(XchAcpiMmioTableA1);
  ApplyAcpiMmioTable(XchAcpiMmioTableA2);
  if (Byte(DataBlock, BlkMmioDefaultsDone) == 0) {
    Modify8(0xFED803C0, 0, 1);
  }
}

VOID XchEnvHubProgramming(UINT8 *DataBlock) {
  XchTestPoint(0xAF50);
  ApplyPciTable(XchPciTableT2);
  UINT32 SubsystemId = Dword(DataBlock, BlkSubsystemId14Fn0);
  if (SubsystemId != 0) {
    PciModify(PciSubsystemId14Fn0, 0, SubsystemId);
  }
  Modify8(0xFED803ED, 0xFD, When(Byte(DataBlock, BlkOption353), 2));
  Modify8(0xFED803BB, 0xBF, 0);
  Modify8(0xFED80377, 0xF4, Byte(DataBlock, BlkOption342) == 1 ? 9 : 8);
  ApplyAcpiMmioTable(XchAcpiMmioTableA4);
  Modify8(0xFED80E6E, 0xDF, 0x20);
  Modify8(0xFED8035B, 0xF0, (Dword(DataBlock, BlkOption51) & 3) | 4);
  ApplyPlatformMmioTable(DataBlock);
  if (Byte(DataBlock, BlkOption271) == 1) {
    Modify8(0xFED80300, 0xFF, 0x40);
    Modify32(0xFED80300, 0xDFFFFFFF, Byte(DataBlock, BlkOption272) != 0 ? 0 : 0x20000000);
  }
  Modify8(0xFEDC0010, 0xFF, 2);
  Modify8(0xFEDC0030, 0xFF, 2);

  XchAoacUartProgramming(DataBlock);

  if (Byte(DataBlock, BlkOption66) != 0) {
    AbModify(AbOption50, 0xFFFFFFF7, 8);
    ApplyPciTable(XchPciTableT3);
    ApplyAcpiMmioTable(XchAcpiMmioTableA3);
  } else {
    AbModify(AbOption50, 0xFFFFFFF7, 0);
  }
  if (Byte(DataBlock, BlkOption67) != 0) {
    ProgramIndexedRegisters1E88();
  }
  if (Byte(DataBlock, BlkOption68) != 0) {
    XchWriteField<UINT32>(DataBlock, XCH_BLK_DEVICE_ENABLE,
                          XchReadField<UINT32>(DataBlock, XCH_BLK_DEVICE_ENABLE) | DeviceFlagBit29);
  }
  Modify8(0xFEC1101D, 0xFC, 2);
  Modify8(0xFEC11002, 0x3F, 0);
  UINT32 Flags = XchReadField<UINT32>(DataBlock, XCH_BLK_DEVICE_ENABLE);
  if ((Flags & DeviceFlagBit30) != 0) {
    ProgramFromFourBytes(0xFEC13000, DataBlock + XCH_BLK_SERIAL_BYTES);
  }
  if ((Flags & DeviceFlagBit31) != 0) {
    ProgramFromFourBytes(0xFEC12000, DataBlock + BlkSecondBlockBytes);
  }
  for (const MMIO_MODIFY &Write : FixedEnvWrites) {
    XchMmioModify(Write.Address, Write.Width, Write.AndMask, Write.OrValue);
  }
}

VOID XchEnvDevice14Fn3Identity(UINT8 *DataBlock) {
  XchTestPoint(0xAF52);
  ApplyPciTable(XchPciTableT1);
  UINT32 SubsystemId = Dword(DataBlock, BlkSubsystemId14Fn3);
  if (SubsystemId != 0) {
    PciModify(0x00A3002C, 0, SubsystemId);
  }
}

VOID XchEnvTestPointAF53(UINT8 *) { XchTestPoint(0xAF53); }

VOID XchEnvDevice14Fn6Options(UINT8 *DataBlock) {
  XchTestPoint(0xAF55);
  UINT32 Mode = Dword(DataBlock, BlkFunction6Mode);
  if (Mode == Fn6Mode0) {
    Function6Disabled();
  } else if (Mode != Fn6Mode6) {
    Function6Enabled(DataBlock, Mode);
  }
}

VOID XchEnvSmnHostBridge(UINT8 *DataBlock) {
  UINT32 Value = Dword(DataBlock, BlkSmnValue);
  if (Value != 0) {
    for (UINT32 Register : SmnRegisters4C) {
      XchSmnModify(Register, 0, Value);
    }
  }
  UINT8 HostBridge4C = 0;
  XchPciReadRaw(HostBridgeRegister4C, XCH_WIDTH_8, &HostBridge4C);
  HostBridge4C |= 0x10;
  XchPciWriteRaw(HostBridgeRegister4C, XCH_WIDTH_8, &HostBridge4C);
}

VOID XchEnvAbRegisterOptions(UINT8 *DataBlock) {
  XchTestPoint(0xAF51);
  Modify8(0xFED80E40, 0xFD, When(Byte(DataBlock, BlkOption7A), 2));
  ApplyAbTable(XchAbTable);
  IoWrite32(AbIndexPort, 0);

  UINT8 Option7B = Byte(DataBlock, BlkOption7B);
  AbModify(AbOption50, 0xFFFFFFFB, When(Option7B, 4));
  Modify32(0xFED80374, 0xFFFBFFFF, When(Option7B, 0x40000));
  AbOption71(Byte(DataBlock, BlkOption71) != 0);
  AbOption7C(Byte(DataBlock, BlkOption7C) != 0);
  AbOption7D(Byte(DataBlock, BlkOption7D) != 0);

  UINT8 Option6A = Byte(DataBlock, BlkOption6A);
  UINT8 Option6B = Byte(DataBlock, BlkOption6B);
  Modify8(0xFED80E2E, 0xFE, When(Option6A, 1));
  Modify8(0xFED80E2E, 0xFD, When(Option6B, 2));
  Modify8(0xFED80306, 0xFE, (Option6A != 0 || Option6B != 0) ? 1 : 0);

  AbOption7F(Byte(DataBlock, BlkOption7F) != 0);

  UINT8 Option80 = Byte(DataBlock, BlkOption80);
  AbModify(AbC0000208, 0xFFBC7FFF, When(Option80, 0x438000));
  AbModify(AbC0000228, 0xFFFFFFF5, When(Option80, 0xA));

  AbModify(AbC0000180, 0xFFFFFFFE, When(Byte(DataBlock, BlkOption81), 1));
  AbModify(AbC0000184, 0xFFFFFFFB, When(Byte(DataBlock, BlkOption82), 4));
  // Shifted as it stands: a value above 0x1F reaches beyond the field.
  AbModify(AbC0000180, 0xFFFFE0FF, static_cast<UINT32>(Byte(DataBlock, BlkOption83)) << 8);
  AbModify(AbC0000180, 0xFFFFFFDF, When(Byte(DataBlock, BlkOption84), 0x20));
  AbModify(AbC000022C, 0xFFFFF7FF, When(Byte(DataBlock, BlkOption87), 0x800));
  AbModify(AbC000022C, 0xFFFFBFFF, When(Byte(DataBlock, BlkOption88), 0x4000));
}

VOID XchEnvSmuRequest(UINT8 *) {
  UINT32 Arguments[6] = {};
  XchSmuServiceRequest(Arguments);
}
