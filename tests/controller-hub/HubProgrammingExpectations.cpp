#include "HubProgrammingExpectations.h"

#include <cstring>

namespace {

UINT8 B(const UINT8 *Block, size_t Offset) { return Block[Offset]; }
UINT16 U16(const UINT8 *Block, size_t Offset) {
  UINT16 Value;
  std::memcpy(&Value, Block + Offset, 2);
  return Value;
}
UINT32 U32(const UINT8 *Block, size_t Offset) {
  UINT32 Value;
  std::memcpy(&Value, Block + Offset, 4);
  return Value;
}
UINT64 U64(const UINT8 *Block, size_t Offset) {
  UINT64 Value;
  std::memcpy(&Value, Block + Offset, 8);
  return Value;
}
UINT32 If(bool Condition, UINT32 Value) { return Condition ? Value : 0; }

constexpr UINT32 Raw(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register) {
  return Bus << 20 | Device << 15 | Function << 12 | Register;
}

void ClearBit23(ExpectedWrites &E, UINT64 Address) { E.M32(Address, 0xFF7FFFFF, 0); }

// An ACPI MMIO byte table somewhere in memory, as the format describes it.
void AcpiMmioTableAt(ExpectedWrites &E, const UINT8 *Table) {
  if (Table[0] != 0x00 || Table[1] != 0x00 || Table[2] != 0xB0 || Table[3] != 0xAC) {
    return;
  }
  for (const UINT8 *Entry = Table + 4; Entry[0] < 0x1D; Entry += 4) {
    E.AcpiMmio(Entry[0], Entry[1], Entry[2], Entry[3]);
  }
}

void TableA1(ExpectedWrites &E) {
  E.AcpiMmio(3, 0x74, 0x00, 0x17);
  E.AcpiMmio(3, 0x76, 0x06, 0x00);
  E.AcpiMmio(3, 0x77, 0xDF, 0x00);
  E.AcpiMmio(3, 0xBA, 0xF7, 0x08);
  E.AcpiMmio(3, 0xBC, 0xFD, 0x02);
  E.AcpiMmio(2, 0x41, 0x00, 0x01);
  E.AcpiMmio(2, 0x43, 0x00, 0x03);
  E.AcpiMmio(2, 0x44, 0x00, 0x04);
  E.AcpiMmio(2, 0x45, 0x00, 0x05);
  E.AcpiMmio(2, 0x46, 0x00, 0x06);
  E.AcpiMmio(2, 0x57, 0x00, 0x17);
  E.AcpiMmio(2, 0x48, 0x00, 0x18);
  E.AcpiMmio(2, 0x08, 0xE7, 0x00);
  E.AcpiMmio(2, 0x0E, 0xF7, 0x08);
  E.AcpiMmio(2, 0x70, 0x00, 0x09);
  E.AcpiMmio(2, 0x78, 0x00, 0x0B);
  E.AcpiMmio(2, 0x79, 0x00, 0x0B);
  E.AcpiMmio(2, 0x6A, 0x00, 0x0B);
  E.AcpiMmio(2, 0x6C, 0x00, 0x0D);
  E.AcpiMmio(2, 0x5D, 0x00, 0x10);
  E.AcpiMmio(2, 0x5E, 0x00, 0x11);
}

void TableA2(ExpectedWrites &E) {
  E.AcpiMmio(2, 0x65, 0x00, 0x0B);
  E.AcpiMmio(2, 0x66, 0x00, 0x0B);
  E.AcpiMmio(2, 0x7D, 0x00, 0x0B);
  E.AcpiMmio(2, 0x7E, 0x00, 0x0B);
}

void TableT3(ExpectedWrites &E) {
  E.PciByte(Raw(0, 0x14, 0, 0x04), 0xBF, 0x40);
  E.PciByte(Raw(0, 0x14, 0, 0x05), 0xFE, 0x01);
  E.PciByte(Raw(0, 0x14, 3, 0x04), 0xBF, 0x40);
  E.PciByte(Raw(0, 0x14, 3, 0x05), 0xFE, 0x01);
}

void FourBytes(ExpectedWrites &E, UINT64 Base, const UINT8 *Bytes) {
  UINT32 B0 = Bytes[0], B1 = Bytes[1], B2 = Bytes[2], B3 = Bytes[3];
  E.M32(Base + 0x000, 0x9FFBFFFF, (B0 & 6) << 28 | (B0 & 1) << 18);
  E.M32(Base + 0x020, 0x000FFFFF, (B1 & 0xF) * 0x11100000u);
  E.M16(Base + 0x06C, 0xC0C0, (B3 & 0x3F) << 8 | (B2 & 0x3F));
  E.M32(Base + 0x150, 0xFFFF7FFF, 0x8000);
}

void PinRow(ExpectedWrites &E, UINT32 Flags, UINT32 Flag, UINT8 Device, UINT64 Pin1, UINT64 Pin2, UINT8 Value) {
  if (Flags & Flag) {
    E.AoacOn(Device);
    E.M8(Pin1, 0, Value);
    E.M8(Pin2, 0, Value);
  } else {
    E.AoacOff(Device);
  }
}

}  // namespace

void ExpectAoacUart(ExpectedWrites &E, const UINT8 *Block) {
  UINT32 Flags = U32(Block, 0x04);
  if (B(Block, 0x660) == 0) {
    PinRow(E, Flags, 0x20, 5, 0xFED80D91, 0xFED80D92, 0);
    PinRow(E, Flags, 0x40, 6, 0xFED80D93, 0xFED80D94, 0);
    PinRow(E, Flags, 0x80, 7, 0xFED80D71, 0xFED80D72, 1);
    PinRow(E, Flags, 0x100, 8, 0xFED80D13, 0xFED80D14, 1);
    PinRow(E, Flags, 0x200000, 21, 0xFED80D91, 0xFED80D92, 1);
    PinRow(E, Flags, 0x2000, 13, 0xFED80D93, 0xFED80D94, 1);
    PinRow(E, Flags, 0x4000, 14, 0xFED80D71, 0xFED80D72, 2);
    PinRow(E, Flags, 0x8000, 15, 0xFED80D13, 0xFED80D14, 2);
  }
  // 1.
  if (Flags & 0x800) {
    E.AoacOn(11);
    for (UINT64 Pin = 0xFED80D8C; Pin <= 0xFED80D8F; ++Pin) E.M8(Pin, 0, 1);
    E.M8(0xFED80D90, 0, 2);
    for (UINT64 Pad : {0xFED81730, 0xFED81734, 0xFED81738, 0xFED81740}) ClearBit23(E, Pad);
  } else {
    E.AoacOff(11);
  }
  // 2.
  if (Flags & 0x1000) {
    E.AoacOn(12);
    E.M8(0xFED80D8C, 0, 2);
    E.M8(0xFED80D8E, 0, 2);
    ClearBit23(E, 0xFED81738);
  } else {
    E.AoacOff(12);
  }
  // 3. is a message. 4.
  if (Flags & 0x10000) {
    E.AoacOn(16);
    for (UINT64 Pin = 0xFED80D87; Pin <= 0xFED80D8B; ++Pin) E.M8(Pin, 0, 1);
    for (UINT64 Pad : {0xFED8171C, 0xFED81720, 0xFED81724, 0xFED8172C}) ClearBit23(E, Pad);
  } else {
    E.AoacOff(16);
  }
  // 5.
  if (Flags & 0x4000000) {
    E.AoacOn(26);
    E.M8(0xFED80D87, 0, 2);
    E.M8(0xFED80D89, 0, 2);
    ClearBit23(E, 0xFED81724);
  } else {
    E.AoacOff(26);
  }
  // 6.
  if (Flags & 0x100000) {
    E.AoacOn(20);
    for (UINT64 Pin = 0xFED80D99; Pin <= 0xFED80D9D; ++Pin) E.M8(Pin, 0, 1);
    for (UINT64 Pad : {0xFED81764, 0xFED81768, 0xFED8176C, 0xFED81774}) ClearBit23(E, Pad);
  } else {
    E.AoacOff(20);
  }
  // 7.-10.
  UINT16 Routing = U16(Block, 0x18);
  if (Routing == 0) {
    return;
  }
  if ((Routing & 0x08) && E.Read(2, 0xFEC20044) == 0x3F8) {
    E.ReadWrite(2, 0xFEC20040, ~0x100ULL, 0);
  }
  E.Write(2, 0xFEDC0020, Routing);
  E.ReadWrite(4, 0xFED800FC, ~0ULL, 0xF0000000);
  if (Routing & 0x08) {
    const UINT64 Uart = 0xFEDC9000;
    E.Write(1, Uart + 0x0C, 0x80);
    E.Write(1, Uart + 0x04, 0x00);
    E.Write(1, Uart + 0x00, 0x01);
    E.Write(1, Uart + 0x0C, 0x03);
    E.Write(1, Uart + 0x08, 0x00);
    E.Write(1, Uart + 0x08, 0x01);
    E.Write(1, Uart + 0x04, 0x00);
    E.Write(1, Uart + 0x10, 0x1F);
    E.Write(1, Uart + 0x10, 0x00);
    for (size_t Index = 0; Index + 1 < sizeof(kUartBanner); ++Index) {
      E.Write(1, Uart, static_cast<UINT8>(kUartBanner[Index]));
    }
  }
}

void ExpectEnvAcpiMmioDefaults(ExpectedWrites &E, const UINT8 *Block, UINT64 BlockAddress) {
  E.TestPoint(0xAF5F);
  for (UINT64 Index = 0; Index < 4; ++Index) {
    E.M8(0xFED80608 + Index, 0, (BlockAddress >> (8 * Index)) & 0xFF);
  }
  TableA1(E);
  TableA2(E);
  if (B(Block, 0x61) == 0) {
    E.M8(0xFED803C0, 0, 1);
  }
}

void ExpectEnvHubProgramming(ExpectedWrites &E, const UINT8 *Block) {
  // 1. T2
  E.TestPoint(0xAF50);
  E.PciByte(Raw(0, 0x14, 0, 0x10), 0x00, 0x03);
  E.PciByte(Raw(0, 0x14, 0, 0x11), 0x00, 0x08);
  // 2.-7.
  if (U32(Block, 0xF3) != 0) E.Pci(0xA0002C, 0, U32(Block, 0xF3));
  E.M8(0xFED803ED, 0xFD, If(B(Block, 0x353), 2));
  E.M8(0xFED803BB, 0xBF, 0);
  E.M8(0xFED80377, 0xF4, B(Block, 0x342) == 1 ? 9 : 8);
  E.M8(0xFED80E6E, 0xDF, 0x20);  // A4 is empty
  E.M8(0xFED8035B, 0xF0, (U32(Block, 0x51) & 3) | 4);
  // 8.
  if (U64(Block, 0x57) != 0) {
    AcpiMmioTableAt(E, reinterpret_cast<const UINT8 *>(static_cast<uintptr_t>(U64(Block, 0x57))));
  }
  // 9.-10.
  if (B(Block, 0x271) == 1) {
    E.M8(0xFED80300, 0xFF, 0x40);
    E.M32(0xFED80300, 0xDFFFFFFF, B(Block, 0x272) ? 0 : 0x20000000);
  }
  E.M8(0xFEDC0010, 0xFF, 2);
  E.M8(0xFEDC0030, 0xFF, 2);
  // 11.
  ExpectAoacUart(E, Block);
  // 12.
  if (B(Block, 0x66)) {
    E.Ab(0xC0010050, 0xFFFFFFF7, 8);
    TableT3(E);
    E.AcpiMmio(2, 0xB5, 0xFC, 0x01);  // A3
  } else {
    E.Ab(0xC0010050, 0xFFFFFFF7, 0);
  }
  // 13.
  if (B(Block, 0x67)) {
    E.M32(0xFED81E94, 0xFF0FFFFF, 0x00B00000);
    const std::pair<UINT16, UINT32> Pairs[] = {{1, 0x39260080}, {2, 0x88440100}, {4, 0x82570200}, {0x1B, 0x211E0380}};
    for (const auto &[Index, Data] : Pairs) {
      E.M16(0xFED81E88, 0, Index);
      E.M32(0xFED81E8C, 0, Data);
    }
    E.M32(0xFED81E90, 0, 0x16);
    if (E.Read(1, 0xFED81E76) & 0x08) E.M32(0xFED81E90, 0xF7FFFFFF, 0x08000000);
    E.M32(0xFED81E9C, 0, 3);
    E.M32(0xFED81110, 0, 9);
  }
  // 14.-17.
  UINT32 Flags = U32(Block, 0x04) | If(B(Block, 0x68), 1u << 29);
  E.M8(0xFEC1101D, 0xFC, 2);
  E.M8(0xFEC11002, 0x3F, 0);
  if (Flags & 0x40000000) FourBytes(E, 0xFEC13000, Block + 0x25);
  if (Flags & 0x80000000) FourBytes(E, 0xFEC12000, Block + 0x29);
  // 18.
  E.M32(0xFED80314, 0, 0x48084810);
  E.M32(0xFED8031C, 0, 0x18040801);
  E.M16(0xFED80320, 0, 0x3820);
  E.M16(0xFED80324, 0, 0x08A0);
  E.M8(0xFED8034B, 0, 0x59);
  E.M8(0xFED8034C, 0, 0x09);
  E.M32(0xFED803A8, 0, 0x08230885);
  E.M8(0xFED80310, 0xDF, 0);
  E.M32(0xFED803B8, 0xFFDFFFFF, 0x200000);
  E.M32(0xFED803BC, 0xFDFFFFFF, 0);
  E.M8(0xFED8033F, 0, 6);
  E.M32(0xFED8033C, 0xFFFBFFFF, 0x40000);
  E.M8(0xFED8038E, 0x3F, 0);
  E.M32(0xFED80350, 0x0000FFFE, 0x01000001);
  E.M32(0xFED81E94, 0xF00FFFFF, 0x03B00000);
}

void ExpectEnvDevice14Fn3(ExpectedWrites &E, const UINT8 *Block) {
  E.TestPoint(0xAF52);
  E.PciByte(Raw(0, 0x14, 3, 0x78), 0xFC, 0x00);  // T1
  if (U32(Block, 0x11A) != 0) E.Pci(0xA3002C, 0, U32(Block, 0x11A));
}

void ExpectEnvDevice14Fn6(ExpectedWrites &E, const UINT8 *Block) {
  E.TestPoint(0xAF55);
  UINT32 Mode = U32(Block, 0x15D);
  if (Mode == 0) {
    E.M8(0xFED803D3, 0xBF, 0);
    E.M8(0xFED803E8, 0xFE, 0);
    E.ReadWrite(1, 0xFED81E72, 0xF7, 0);
    return;
  }
  if (Mode == 6) {
    return;
  }
  E.M8(0xFED803D3, 0xBF, 0x40);
  E.M8(0xFED803E8, 0xFE, 1);
  if (U32(Block, 0x163) != 0) E.Pci(0xA6002C, 0, U32(Block, 0x163));
  E.Pci(0xA600A4, 0x3FFFFFFF, static_cast<UINT32>(UINT64(B(Block, 0x16F)) << 30));
  if (Mode == 1) {
    E.Pci(0xA600A4, 0xFFFF00FF, 0x3200);
    E.Pci(0xA600A8, 0xFFFFFFFB, 0);
    E.Pci(0xA600A8, 0xFFFFFFFD, 0);
    E.Pci(0xA600A8, 0xFFFFFFFE, 0);
    E.Pci(0xA600B0, 0x00FFFFFF, 0x01000000);
  }
  if (B(Block, 0x170)) E.Pci(0xA600D0, 0xFFFDFFFF, 0x20000);
  if (B(Block, 0x171) == 1) E.Pci(0xA600A4, 0xFFE7FFFF, 0);
  if (B(Block, 0x171) == 2) E.Pci(0xA600A4, 0xFFA7FFFF, 0);
}

void ExpectEnvSmnHostBridge(ExpectedWrites &E, const UINT8 *Block) {
  if (U32(Block, 0xD0) != 0) {
    E.Smn(0x1014304C, 0, U32(Block, 0xD0));
    E.Smn(0x1014404C, 0, U32(Block, 0xD0));
  }
  E.ReadWrite(1, 0xE000004C, 0xFF, 0x10);
}

void ExpectEnvAbOptions(ExpectedWrites &E, const UINT8 *Block) {
  // 1.-3.
  E.TestPoint(0xAF51);
  E.M8(0xFED80E40, 0xFD, If(B(Block, 0x7A), 2));
  E.Ab(0xC0000080, ~0x00060000u, 0x00060001);
  E.Ab(0xC0000090, ~0x00200000u, 0x00200000);
  E.Ab(0xC0000094, ~0x00100000u, 0x00100FEE);
  E.Ab(0xC0010054, ~0x00FFFFFFu, 0x000007FF);
  E.Ab(0xC0010060, ~0xFBFFFFFFu, 0x02000000);
  E.Ab(0xC0010090, ~0x00010000u, 0x00010000);
  E.Ab(0xC0000000, ~0x00000000u, 0x000000FF);
  E.IoWrite(4, 0xCD8, 0);
  // 4.
  E.Ab(0xC0010050, 0xFFFFFFFB, If(B(Block, 0x7B), 4));
  E.M32(0xFED80374, 0xFFFBFFFF, If(B(Block, 0x7B), 0x40000));
  // 5.
  if (B(Block, 0x71)) {
    E.Ab(0xC0000054, 0xFFFFFFEF, 0x10);
    E.Ab(0xC0000054, 0xFEFFFFFF, 0x01000000);
    E.Ab(0xC0010054, 0xFCFFFFFF, 0x03000000);
  } else {
    E.Ab(0xC0010054, 0xFCFFFFFF, 0);
    E.Ab(0xC0000054, 0xFEFFFFFF, 0);
    E.Ab(0xC0000054, 0xFFFFFFEF, 0);
  }
  // 6.
  if (B(Block, 0x7C)) {
    E.Ab(0xC0000054, 0xFFFFFFFE, 0);
    E.Ab(0xC0000054, 0xFFFFFFFB, 4);
  } else {
    E.Ab(0xC0000054, 0xFFFFFFFE, 1);
    E.Ab(0xC0000054, 0xFFFFFFFB, 0);
  }
  // 7.
  if (B(Block, 0x7D)) {
    E.M8(0xFED80E68, 0xFB, 0);
    E.Ab(0xC00000BC, 0xFFFFFFEF, 0x10);
    E.Ab(0xC0000058, 0xDFFFFFFF, 0x20000000);
    E.Ab(0xC0000058, 0x7FFFFFFF, 0x80000000);
  } else {
    E.Ab(0xC0000058, 0x5FFFFFFF, 0);
    E.Ab(0xC00000BC, 0xFFFFFFEF, 0);
    E.M8(0xFED80E68, 0xFB, 4);
  }
  // 8.
  E.M8(0xFED80E2E, 0xFE, If(B(Block, 0x6A), 1));
  E.M8(0xFED80E2E, 0xFD, If(B(Block, 0x6B), 2));
  E.M8(0xFED80306, 0xFE, If(B(Block, 0x6A) || B(Block, 0x6B), 1));
  // 9.
  if (B(Block, 0x7F)) {
    E.M8(0xFED80E68, 0xFD, 0);
    E.Ab(0xC0000208, 0xFFFFFD7F, 0x280);
    E.Ab(0xC0000238, 0xFFFFFBFF, 0x400);
  } else {
    E.Ab(0xC0000208, 0xFFFFFD7F, 0);
    E.Ab(0xC0000238, 0xFFFFFBFF, 0);
    E.M8(0xFED80E68, 0xFD, 2);
  }
  // 10.
  E.Ab(0xC0000208, 0xFFBC7FFF, If(B(Block, 0x80), 0x438000));
  E.Ab(0xC0000228, 0xFFFFFFF5, If(B(Block, 0x80), 0xA));
  // 11.
  E.Ab(0xC0000180, 0xFFFFFFFE, If(B(Block, 0x81), 1));
  E.Ab(0xC0000184, 0xFFFFFFFB, If(B(Block, 0x82), 4));
  E.Ab(0xC0000180, 0xFFFFE0FF, UINT32(B(Block, 0x83)) << 8);
  E.Ab(0xC0000180, 0xFFFFFFDF, If(B(Block, 0x84), 0x20));
  E.Ab(0xC000022C, 0xFFFFF7FF, If(B(Block, 0x87), 0x800));
  E.Ab(0xC000022C, 0xFFFFBFFF, If(B(Block, 0x88), 0x4000));
}

void ExpectSmuRequest(ExpectedWrites &E) {
  E.TestPoint(0xA914);
  E.SmnRead(0x3B10578);  // read once and discarded
  E.SmnRead(0x3B10578);  // non-zero at once
  for (UINT32 Register = 0x3B10998; Register <= 0x3B109AC; Register += 4) E.SmnRead(Register);
  E.TestPoint(0xA915);
}

void ExpectLateHubProgrammingUpToReset(ExpectedWrites &E, const UINT8 *Block) {
  E.TestPoint(0xAF70);
  UINT32 R = static_cast<UINT32>(E.Read(4, 0xFED803A0)) & 0xC07F00A0;
  R |= If(B(Block, 0x277), 1) | If(B(Block, 0x278), 2) | If(B(Block, 0x279), 0x400) | If(B(Block, 0x27A), 0x2000) |
       If(B(Block, 0x27B), 0x8000) | If(B(Block, 0x27C), 0x800000) | If(B(Block, 0x27D), 0x5C);
  E.Write(4, 0xFED803A0, R);
  if (B(Block, 0xB2) == 1) E.M8(0xFED81000, 0xFF, 5);
  switch (B(Block, 0x55)) {
    case 1: E.IoWrite(1, 0x64, 0xFE); break;
    case 2: E.IoWrite(1, 0xCF9, 0x06); break;
    case 3: E.IoWrite(1, 0xCF9, 0x0E); break;
    default: break;
  }
}

void ExpectLateHubProgrammingAfterReset(ExpectedWrites &E, const UINT8 *Block) {
  // 5.-6.
  E.ReadWrite(4, 0xFED802B0, ~0xCULL, 0);
  E.ReadWrite(4, 0xFED802B0, ~0ULL, 0x4);
  E.ReadWrite(1, 0xFED803BE, ~0x20ULL, 0);
  E.ReadWrite(1, 0xFED8030B, ~0x03ULL, 0);
  E.ReadWrite(1, 0xFED8030B, ~0ULL, 0x02);
  // 7.
  const std::pair<UINT8, UINT8> Table[18] = {
      {0x80, 0x1F}, {0x81, 0x1F}, {0x82, 0x1F}, {0x83, 0x1F}, {0x97, 0x10}, {0x9A, 0x10},
      {0xC3, 0x05}, {0xE2, 0x07}, {0xF4, 0x03}, {0xF5, 0x0E}, {0xF8, 0x05}, {0xF9, 0x0F},
      {0xF7, 0x0D}, {0xF0, 0x0A}, {0xF1, 0x0B}, {0xF2, 0x04}, {0xF3, 0x06}, {0xF6, 0x16}};
  const std::pair<UINT8, size_t> FromBlock[10] = {{0xF0, 0x20}, {0xF1, 0x21}, {0xF2, 0x22}, {0xF3, 0x23},
                                                  {0xF4, 0x1B}, {0xF5, 0x1C}, {0xF6, 0x24}, {0xF7, 0x1F},
                                                  {0xF8, 0x1D}, {0xF9, 0x1E}};
  for (auto [Index, Value] : Table) {
    for (auto [Replaced, Offset] : FromBlock) {
      if (Replaced == Index) Value = B(Block, Offset);
    }
    E.IoWrite(1, 0xC00, Index);
    E.IoWrite(1, 0xC01, Value);
    if (Value == 0x0E) {
      E.IoWrite(1, 0xC00, 8);
      E.IoReadWrite(1, 0xC01, 0xFF, 0x30);
    } else if (Value == 0x0F) {
      E.IoWrite(1, 0xC00, 8);
      E.IoReadWrite(1, 0xC01, 0xFF, 0xC0);
    }
  }
  // 8.
  UINT32 Bits = 0;
  for (UINT64 Address : {0xFED80278, 0xFED80279, 0xFED8026A, 0xFED8027D, 0xFED8027E}) {
    UINT8 X = static_cast<UINT8>(E.Read(1, Address));
    if (X != 0) Bits |= 1u << (X & 31);
  }
  E.ReadWrite(4, 0xFED8020C, ~0ULL, Bits);
  E.ReadWrite(4, 0xFED8020C, ~0ULL, 1u << (E.Read(1, 0xFED80265) & 31));
}

void ExpectLateSmnClears(ExpectedWrites &E) {
  E.TestPoint(0xAF78);
  for (UINT32 Register : {0x10134608u, 0x10134808u, 0x10136608u, 0x10136808u}) E.Smn(Register, 0xF8FFFFFF, 0);
  for (UINT32 Register : {0x1013461Cu, 0x1013481Cu, 0x1013661Cu, 0x1013681Cu}) E.Smn(Register, 0xFFFF001F, 0);
}

void ExpectLatePortWrite(ExpectedWrites &E, const UINT8 *Block) {
  if (B(Block, 0x343) == 0) E.IoWrite(2, U16(Block, 0x672), B(Block, 0x368));
}

void ExpectEnvPhase(ExpectedWrites &E, const UINT8 *BlockAsBuilt, UINT64 BlockAddress) {
  ExpectEnvAcpiMmioDefaults(E, BlockAsBuilt, BlockAddress);
  ExpectEnvHubProgramming(E, BlockAsBuilt);
  ExpectEnvDevice14Fn3(E, BlockAsBuilt);
  E.TestPoint(0xAF53);
  ExpectEnvDevice14Fn6(E, BlockAsBuilt);
  ExpectEnvSmnHostBridge(E, BlockAsBuilt);
  ExpectEnvAbOptions(E, BlockAsBuilt);
  ExpectSmuRequest(E);
}

void ExpectLatePhase(ExpectedWrites &E, const UINT8 *BlockBeforeLate) {
  E.TestPoint(0xAF73);
  ExpectLateHubProgrammingUpToReset(E, BlockBeforeLate);
  ExpectLateHubProgrammingAfterReset(E, BlockBeforeLate);
  ExpectLateSmnClears(E);
  ExpectLatePortWrite(E, BlockBeforeLate);
}

std::vector<Access> PhaseWrites(const std::vector<HostEnv::TraceEntry> &Trace,
                                const std::vector<HubSim::HubEvent> &Events, UINT32 OpeningTestPoint,
                                const std::string &ExitLine) {
  size_t End = Trace.size();
  for (const HubSim::HubEvent &Event : Events) {
    if (Event.Name == "debug" && Event.Field("text") == ExitLine) End = Event.TracePosition;
  }
  std::vector<Access> Result;
  bool Inside = false;
  for (size_t Index = 0; Index < End; ++Index) {
    const HostEnv::TraceEntry &Entry = Trace[Index];
    if (Entry.Op != HostEnv::TraceOp::Write || Entry.Kind == HostEnv::TraceKind::Cpuid) continue;
    Access Write{Entry.Kind, Entry.Op, Entry.Width, Entry.Address, Entry.Value};
    if (Inside) Result.push_back(Write);
    Inside = Inside || Write == IoW(4, 0x80, OpeningTestPoint);
  }
  return Result;
}
