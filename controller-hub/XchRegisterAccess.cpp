#include "XchRegisterAccess.h"

#include <Platform/Hardware.h>

#include "QuorS3SaveLib.h"
#include "XchBytes.h"
#include "XchDebug.h"

namespace {
// Assertion codes.
constexpr UINT32 AssertPciReadWidth = 0xA10D0117;
constexpr UINT32 AssertPciWriteWidth = 0xA10D0079;
constexpr UINT32 AssertMmioReadWidth = 0xB7180043;
constexpr UINT32 AssertMmioWriteWidth = 0xB7180079;
constexpr UINT32 AssertDfFunction = 0xDFD10082;
constexpr UINT32 AssertDfOffsetRange = 0xDFD10083;
constexpr UINT32 AssertDfOffsetAlign = 0xDFD10084;

constexpr UINT16 AbIndexPort = 0xCD8;
constexpr UINT16 AbDataPort = 0xCDC;
constexpr UINT32 AbSpaceShift = 29;
constexpr UINT32 AbOffsetMask = 0x1FFFFFFF;

constexpr UINT8 PciTableSwitch = 0xFF;
constexpr UINT8 AcpiMmioTableSignature[4] = {0x00, 0x00, 0xB0, 0xAC};
constexpr UINT8 AcpiMmioBlockLimit = 0x1D;
constexpr UINTN AcpiMmioEntryBytes = 4;  // block, register, AND mask, OR value
constexpr UINTN UnknownTableSize = ~UINTN{0};  // the table's own end entry bounds it

constexpr UINT8 PlainWidth(UINT8 WidthCode) { return WidthCode & ~XCH_WIDTH_S3; }
constexpr UINTN PcieAddress(UINT32 RawOffset) { return XCH_PCIE_BASE + RawOffset; }
constexpr bool InWindow(UINT32 RawOffset) { return RawOffset < XCH_PCIE_WINDOW; }

// One MMIO access at a width code; returns false (after the assertion
// stop) for a width the caller does not support.
bool MmioReadWidth(UINTN Address, UINT8 Width, UINT32 &Value) {
  switch (Width) {
    case XCH_WIDTH_8:
      Value = MmioRead8(Address);
      return true;
    case XCH_WIDTH_16:
      Value = MmioRead16(Address);
      return true;
    case XCH_WIDTH_32:
      Value = MmioRead32(Address);
      return true;
    default:
      XchAssertStop(AssertMmioReadWidth);
      return false;
  }
}

bool MmioWriteWidth(UINTN Address, UINT8 Width, UINT32 Value) {
  switch (Width) {
    case XCH_WIDTH_8:
      MmioWrite8(Address, static_cast<UINT8>(Value));
      return true;
    case XCH_WIDTH_16:
      MmioWrite16(Address, static_cast<UINT16>(Value));
      return true;
    case XCH_WIDTH_32:
      MmioWrite32(Address, Value);
      return true;
    default:
      XchAssertStop(AssertMmioWriteWidth);
      return false;
  }
}

// AB data index for Address, programming the indirect window first for the
// two space types that go through it.
UINT32 AbSelect(UINT32 Address) {
  UINT32 Space = Address >> AbSpaceShift;
  if (Space == 0) {
    IoWrite32(AbIndexPort, 0x00000030);
    IoWrite32(AbDataPort, Address & AbOffsetMask);
    IoWrite32(AbIndexPort, 0);
    return 0x34;
  }
  if (Space == 2) {
    IoWrite32(AbIndexPort, 0x40000038);
    IoWrite32(AbDataPort, Address & AbOffsetMask);
    IoWrite32(AbIndexPort, 0);
    return 0x4000003C;
  }
  return Address;
}

VOID PciByteModify(UINT32 RawOffset, UINT8 AndMask, UINT8 OrValue) {
  if (!InWindow(RawOffset)) {
    return;
  }
  UINTN Address = PcieAddress(RawOffset);
  MmioWrite8(Address, static_cast<UINT8>((MmioRead8(Address) & AndMask) | OrValue));
}

VOID ApplyAcpiMmioEntry(const UINT8 *Entry) {
  UINTN Address = XCH_ACPI_MMIO_BASE + Entry[0] * 0x100u + Entry[1];
  MmioWrite8(Address, static_cast<UINT8>((MmioRead8(Address) & Entry[2]) | Entry[3]));
}

VOID ReportMissingEnd(UINTN Size) {
  XchDebugPrint(XCH_DBG_ERROR, "ACPI MMIO byte table ends at %u bytes without its end entry\n",
                static_cast<UINT32>(Size));
}
}  // namespace

VOID XchPciReadRaw(UINT32 RawOffset, UINT8 WidthCode, VOID *Value) {
  UINT8 Width = PlainWidth(WidthCode);
  bool Inside = InWindow(RawOffset);
  UINTN Address = PcieAddress(RawOffset);
  switch (Width) {
    case XCH_WIDTH_8:
      XchWriteField<UINT8>(Value, 0, Inside ? MmioRead8(Address) : 0xFF);
      break;
    case XCH_WIDTH_16:
      XchWriteField<UINT16>(Value, 0, Inside ? MmioRead16(Address) : 0xFFFF);
      break;
    case XCH_WIDTH_32:
      XchWriteField<UINT32>(Value, 0, Inside ? MmioRead32(Address) : 0xFFFFFFFF);
      break;
    case XCH_WIDTH_64:
      XchWriteField<UINT64>(Value, 0, Inside ? MmioRead64(Address) : ~0ULL);
      break;
    default:
      XchAssertStop(AssertPciReadWidth);
      break;
  }
}

VOID XchPciWriteRaw(UINT32 RawOffset, UINT8 WidthCode, const VOID *Value) {
  UINT8 Width = PlainWidth(WidthCode);
  if (Width < XCH_WIDTH_8 || Width > XCH_WIDTH_64) {
    XchAssertStop(AssertPciWriteWidth);
    return;
  }
  if ((WidthCode & XCH_WIDTH_S3) != 0) {
    QuorS3MemWrite(Width, QuorS3PciExpressBase() + (RawOffset & 0x0FFFFFFF), Value);
  }
  if (!InWindow(RawOffset)) {
    return;
  }
  UINTN Address = PcieAddress(RawOffset);
  switch (Width) {
    case XCH_WIDTH_8:
      MmioWrite8(Address, XchReadField<UINT8>(Value, 0));
      break;
    case XCH_WIDTH_16:
      MmioWrite16(Address, XchReadField<UINT16>(Value, 0));
      break;
    case XCH_WIDTH_32:
      MmioWrite32(Address, XchReadField<UINT32>(Value, 0));
      break;
    default:
      MmioWrite64(Address, XchReadField<UINT64>(Value, 0));
      break;
  }
}

VOID XchPciModify(UINT32 PackedAddress, UINT8, UINT32 AndMask, UINT32 OrValue) {
  UINT32 RawOffset = XchPciPackedToRaw(PackedAddress);
  if (!InWindow(RawOffset)) {
    return;
  }
  UINTN Address = PcieAddress(RawOffset);
  MmioWrite32(Address, (MmioRead32(Address) & AndMask) | OrValue);
}

VOID XchSmnRead(UINT32 HostBridgeRaw, UINT32 SmnAddress, UINT8 WidthCode, VOID *Value) {
  UINT32 Index = HostBridgeRaw + XCH_SMN_INDEX;
  UINT32 Data = HostBridgeRaw + XCH_SMN_DATA;
  UINT32 SavedIndex = 0;
  XchPciReadRaw(Index, XCH_WIDTH_32, &SavedIndex);
  XchPciWriteRaw(Index, static_cast<UINT8>(XCH_WIDTH_32 | (WidthCode & XCH_WIDTH_S3)), &SmnAddress);
  XchPciReadRaw(Data, PlainWidth(WidthCode), Value);
  XchPciWriteRaw(Index, XCH_WIDTH_32, &SavedIndex);
}

VOID XchSmnWrite(UINT32 SmnAddress, UINT32 Value) {
  MmioWrite32(PcieAddress(XCH_SMN_INDEX), SmnAddress);
  MmioWrite32(PcieAddress(XCH_SMN_DATA), Value);
}

VOID XchSmnModify(UINT32 SmnAddress, UINT32 AndMask, UINT32 OrValue) {
  MmioWrite32(PcieAddress(XCH_SMN_INDEX), SmnAddress);
  UINT32 Old = MmioRead32(PcieAddress(XCH_SMN_DATA));
  MmioWrite32(PcieAddress(XCH_SMN_INDEX), SmnAddress);
  MmioWrite32(PcieAddress(XCH_SMN_DATA), (Old & AndMask) | OrValue);
}

VOID XchMmioModify(UINTN Address, UINT8 WidthCode, UINT32 AndMask, UINT32 OrValue) {
  UINT8 Width = PlainWidth(WidthCode);
  UINT32 Old = 0;
  MmioReadWidth(Address, Width, Old);
  UINT32 New = (Old & AndMask) | OrValue;
  if (MmioWriteWidth(Address, Width, New) && (WidthCode & XCH_WIDTH_S3) != 0) {
    QuorS3MemWrite(Width, Address, &New);
  }
  UINT32 ReadBack = 0;
  MmioReadWidth(Address, Width, ReadBack);
}

VOID XchAbModify(UINT32 AbAddress, UINT32 AndMask, UINT32 OrValue) {
  UINT32 Index = AbSelect(AbAddress);
  IoWrite32(AbIndexPort, Index);
  UINT32 Old = IoRead32(AbDataPort);
  IoWrite32(AbIndexPort, 0);
  IoWrite32(AbIndexPort, Index);
  IoWrite32(AbDataPort, (Old & AndMask) | OrValue);
  IoWrite32(AbIndexPort, 0);
}

VOID XchPciByteTable(const UINT8 *Table, UINTN Units) {
  UINT32 BusDevFn = 0;
  bool ExpectHeader = true;
  for (UINTN Unit = 0; Unit < Units; ++Unit) {
    const UINT8 *Entry = Table + Unit * 3;
    if (ExpectHeader) {
      BusDevFn = (static_cast<UINT32>(Entry[0]) << 8) | Entry[1];
      ExpectHeader = false;
      continue;
    }
    if (Entry[0] == PciTableSwitch && Entry[1] == PciTableSwitch && Entry[2] == PciTableSwitch) {
      ExpectHeader = true;
      continue;
    }
    PciByteModify((BusDevFn << 12) + Entry[0], Entry[1], Entry[2]);
  }
}

VOID XchAcpiMmioByteTable(const UINT8 *Table, UINTN Size) {
  if (Size < sizeof(AcpiMmioTableSignature)) {
    ReportMissingEnd(Size);
    return;
  }
  for (UINTN Index = 0; Index < sizeof(AcpiMmioTableSignature); ++Index) {
    if (Table[Index] != AcpiMmioTableSignature[Index]) {
      return;
    }
  }
  // Offset never passes Size: an entry is applied only when all of it is there.
  for (UINTN Offset = sizeof(AcpiMmioTableSignature);; Offset += AcpiMmioEntryBytes) {
    if (Offset < Size && Table[Offset] >= AcpiMmioBlockLimit) {
      return;
    }
    if (Size - Offset < AcpiMmioEntryBytes) {
      ReportMissingEnd(Size);
      return;
    }
    ApplyAcpiMmioEntry(Table + Offset);
  }
}

VOID XchAcpiMmioByteTable(const UINT8 *Table) { XchAcpiMmioByteTable(Table, UnknownTableSize); }

UINT32 XchDfRead(UINT32 Function, UINT32 Offset) {
  if (Function > 7) {
    XchAssertStop(AssertDfFunction);
  }
  if (Offset >= 0x2000) {
    XchAssertStop(AssertDfOffsetRange);
  }
  if ((Offset & 3) != 0) {
    XchAssertStop(AssertDfOffsetAlign);
  }
  // Function 0-7 of device 0x18 are (0xC0 | function) << 12 into the window.
  UINT64 RawOffset = ((0xC0ULL | Function) << 12) + (Offset & 0xFFF);
  if (RawOffset >= XCH_PCIE_WINDOW) {
    return 0xFFFFFFFF;
  }
  return MmioRead32(PcieAddress(static_cast<UINT32>(RawOffset)));
}
