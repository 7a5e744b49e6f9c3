#include "ExpectedWrites.h"

#include <algorithm>

using HostEnv::AccessSpace;

namespace {
constexpr UINT64 kPcieBase = 0xE0000000;
constexpr UINT64 kSmnIndex = 0xE00000B8;
constexpr UINT64 kSmnData = 0xE00000BC;
constexpr UINT16 kAbIndex = 0xCD8;
constexpr UINT16 kAbData = 0xCDC;
constexpr UINT64 kAoacBase = 0xFED81E40;

UINT64 WidthMask(UINT8 Width) { return Width >= 8 ? ~0ULL : (1ULL << (8 * Width)) - 1; }
}  // namespace

ExpectedWrites::ExpectedWrites(const HostEnv::SimChipset *Chip, const HubSim::HubPlatform *Platform)
    : Chip_(Chip), Platform_(Platform) {}

UINT8 ExpectedWrites::LoadByte(AccessSpace Space, UINT64 Address) const {
  // AOAC status bytes (odd offsets of the 256 control/status pairs, which
  // other registers of the block share) read 7 while bit 3 of the control
  // byte below is set.
  if (Space == AccessSpace::Mmio && Address >= kAoacBase && Address < kAoacBase + 0x200 &&
      ((Address - kAoacBase) & 1) != 0) {
    return (LoadByte(Space, Address - 1) & 0x08) != 0 ? 7 : 0;
  }
  const std::map<UINT64, UINT8> &Bytes = Space == AccessSpace::Io ? Io_ : Mmio_;
  if (auto Found = Bytes.find(Address); Found != Bytes.end()) {
    return Found->second;
  }
  return Chip_ != nullptr ? static_cast<UINT8>(Chip_->Peek(Space, Address, 1)) : 0;
}

UINT64 ExpectedWrites::Load(AccessSpace Space, UINT64 Address, UINT8 Width) const {
  UINT64 Value = 0;
  for (UINT8 Index = 0; Index < Width; ++Index) {
    Value |= UINT64(LoadByte(Space, Address + Index)) << (8 * Index);
  }
  return Value;
}

void ExpectedWrites::Store(AccessSpace Space, UINT64 Address, UINT8 Width, UINT64 Value) {
  std::map<UINT64, UINT8> &Bytes = Space == AccessSpace::Io ? Io_ : Mmio_;
  for (UINT8 Index = 0; Index < Width; ++Index) {
    Bytes[Address + Index] = static_cast<UINT8>(Value >> (8 * Index));
  }
}

UINT64 ExpectedWrites::Read(UINT8 Width, UINT64 Address) const { return Load(AccessSpace::Mmio, Address, Width); }

void ExpectedWrites::Write(UINT8 Width, UINT64 Address, UINT64 Value) {
  Value &= WidthMask(Width);
  Writes_.push_back(MmioW(Width, Address, Value));
  Store(AccessSpace::Mmio, Address, Width, Value);
}

void ExpectedWrites::Modify(UINT8 Width, UINT64 Address, UINT64 AndMask, UINT64 OrValue) {
  Write(Width, Address, (Read(Width, Address) & AndMask) | OrValue);
}

void ExpectedWrites::IoWrite(UINT8 Width, UINT16 Port, UINT64 Value) {
  Value &= WidthMask(Width);
  Writes_.push_back(IoW(Width, Port, Value));
  Store(AccessSpace::Io, Port, Width, Value);
}

void ExpectedWrites::IoReadWrite(UINT8 Width, UINT16 Port, UINT64 AndMask, UINT64 OrValue) {
  IoWrite(Width, Port, (Load(AccessSpace::Io, Port, Width) & AndMask) | OrValue);
}

void ExpectedWrites::TestPoint(UINT16 Code) { IoWrite(4, 0x80, 0xB0000000u | Code); }

void ExpectedWrites::Pci(UINT32 PackedAddress, UINT32 AndMask, UINT32 OrValue) {
  UINT32 Raw = (PackedAddress & 0xFFF) | ((PackedAddress >> 4) & ~0xFFFu);
  if (Raw < 0x10000000) {
    M32(kPcieBase + Raw, AndMask, OrValue);
  }
}

void ExpectedWrites::PciByte(UINT32 RawOffset, UINT8 AndMask, UINT8 OrValue) {
  M8(kPcieBase + RawOffset, AndMask, OrValue);
}

void ExpectedWrites::AcpiMmio(UINT8 Block, UINT8 Register, UINT8 AndMask, UINT8 OrValue) {
  M8(0xFED80000 + Block * 0x100u + Register, AndMask, OrValue);
}

void ExpectedWrites::Ab(UINT32 Address, UINT32 AndMask, UINT32 OrValue) {
  UINT32 Index = Address;
  if (Address < 0x20000000) {
    IoWrite(4, kAbIndex, 0x30);
    IoWrite(4, kAbData, Address & 0x1FFFFFFF);
    IoWrite(4, kAbIndex, 0);
    Index = 0x34;
  } else if (Address >= 0x40000000 && Address <= 0x5FFFFFFF) {
    IoWrite(4, kAbIndex, 0x40000038);
    IoWrite(4, kAbData, Address & 0x1FFFFFFF);
    IoWrite(4, kAbIndex, 0);
    Index = 0x4000003C;
  }
  IoWrite(4, kAbIndex, Index);
  UINT64 Old = Load(AccessSpace::Io, kAbData, 4);
  IoWrite(4, kAbIndex, 0);
  IoWrite(4, kAbIndex, Index);
  IoWrite(4, kAbData, (Old & AndMask) | OrValue);
  IoWrite(4, kAbIndex, 0);
}

UINT32 ExpectedWrites::SmnValue(UINT32 Address) const {
  if (auto Found = Smn_.find(Address); Found != Smn_.end()) {
    return Found->second;
  }
  return Platform_ != nullptr ? Platform_->Smn(Address) : 0;
}

void ExpectedWrites::Smn(UINT32 Address, UINT32 AndMask, UINT32 OrValue) {
  Write(4, kSmnIndex, Address);
  UINT32 New = (SmnValue(Address) & AndMask) | OrValue;
  Write(4, kSmnIndex, Address);
  Writes_.push_back(MmioW(4, kSmnData, New));  // reaches the SMN register, not memory
  Smn_[Address] = New;
}

void ExpectedWrites::SmnRead(UINT32 Address) {
  UINT64 Saved = Read(4, kSmnIndex);
  Write(4, kSmnIndex, Address);
  Write(4, kSmnIndex, Saved);
}

void ExpectedWrites::AoacOn(UINT8 Device) {
  UINT64 Control = 0xFED81E40 + 2u * Device;
  if ((Read(1, Control) & 0x08) == 0) {  // status reads 0 until the request bit is set
    Write(1, Control, (Read(1, Control) & 0x7C) | 0x08);
  }
}

void ExpectedWrites::AoacOff(UINT8 Device) {
  UINT64 Control = 0xFED81E40 + 2u * Device;
  if ((Read(1, Control) & 0x08) != 0) {  // status reads 7 while the request bit is set
    Write(1, Control, Read(1, Control) & 0x77);
  }
  Write(1, Control, Read(1, Control) | 0x03);
}

::testing::AssertionResult SameWrites(const std::vector<Access> &Actual, const std::vector<Access> &Expected) {
  size_t First = 0;
  while (First < Actual.size() && First < Expected.size() && Actual[First] == Expected[First]) ++First;
  if (First == Actual.size() && First == Expected.size()) {
    return ::testing::AssertionSuccess();
  }
  auto Show = [First](const std::vector<Access> &Writes) {
    std::string Text;
    for (size_t Index = First >= 3 ? First - 3 : 0; Index < std::min(Writes.size(), First + 4); ++Index) {
      Text += (Index == First ? "  > " : "    ") + std::to_string(Index) + ": ";
      Text += ::testing::PrintToString(Writes[Index]) + "\n";
    }
    return Text;
  };
  return ::testing::AssertionFailure() << Actual.size() << " writes against " << Expected.size()
                                       << " expected; first difference at " << First << "\nactual:\n"
                                       << Show(Actual) << "expected:\n"
                                       << Show(Expected);
}
