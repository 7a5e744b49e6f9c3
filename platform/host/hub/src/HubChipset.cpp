// Chipset behaviours of the controller hub on the simulated chipset: SMN
// registers behind the host bridge's index/data pair with the SMU response
// register, AOAC status bytes that follow their control bytes, the UART's
// status registers, the ACPI PM timer, test points on port 0x80 and reset
// requests.
#include "HubInternal.h"

#include <algorithm>

namespace HubSim {
namespace {

using HostEnv::AccessSpace;

constexpr UINT64 kSmnIndex = 0xE00000B8;
constexpr UINT64 kSmnData = 0xE00000BC;
constexpr UINT32 kSmuResponseRegister = 0x3B10578;
constexpr UINT64 kAoacBase = 0xFED81E40;
constexpr UINT64 kAoacLength = 0x200;  // control and status byte of devices 0-255
constexpr UINT64 kUartBase = 0xFEDC9000;
constexpr UINT64 kUartLength = 0x20;
constexpr UINT64 kUartData = 0x00;
constexpr UINT64 kUartLineControl = 0x0C;
constexpr UINT64 kUartLineStatus = 0x14;
constexpr UINT64 kUartInitStatus = 0x18;
constexpr UINT16 kPostCodePort = 0x80;
constexpr UINT32 kTestPointTag = 0xB0000000;
constexpr UINT32 kDebuggerLeaf = 0xBACCD00B;
constexpr UINT64 kPmTimerPortRegister = 0xFED80364;  // 16-bit I/O port of the ACPI PM timer, 0 = none
constexpr UINT32 kPmTimerTicksPerRead = 4;  // about 1.1 us of the 3.58 MHz timer between two reads

UINT64 Mask(UINT8 Width) { return Width >= 8 ? ~0ULL : (1ULL << (8 * Width)) - 1; }

// Assembles a multi-byte read from per-byte answers.
template <typename ByteReader>
UINT64 ByBytes(UINT64 Address, UINT8 Width, ByteReader ReadByte) {
  UINT64 Value = 0;
  for (UINT8 Index = 0; Index < Width; ++Index) {
    Value |= UINT64(ReadByte(Address + Index)) << (8 * Index);
  }
  return Value;
}

// The ACPI PM timer answers at whatever port 0xFED80364 names, as the
// hardware decodes it: a 32-bit count (kept in the port's memory, so a
// profile can set where it starts) that moves on with every read.
UINT64 ReadIoPort(HostEnv::SimChipset &Chip, UINT64 Port, UINT8 Width) {
  UINT64 TimerPort = Chip.Peek(AccessSpace::Mmio, kPmTimerPortRegister, 2);
  if (TimerPort == 0 || Port != TimerPort) {
    return Chip.Peek(AccessSpace::Io, Port, Width);
  }
  UINT32 Count = static_cast<UINT32>(Chip.Peek(AccessSpace::Io, Port, 4)) + kPmTimerTicksPerRead;
  Chip.Poke(AccessSpace::Io, Port, 4, Count);
  return Count & Mask(Width);
}

}  // namespace

// Handlers stay registered with the chipset after the platform is gone;
// from then on the addresses behave as plain memory again.
void HubPlatform::Internals::AddHandler(HostEnv::AccessSpace Space, UINT64 Base, UINT64 Length,
                                        HostEnv::RegisterHandler Handler) {
  HostEnv::SimChipset &Chip = Env.Chipset();
  std::weak_ptr<int> Alive = AliveToken;
  HostEnv::RegisterHandler Guarded;
  Guarded.Read = [Alive, Space, &Chip, Read = Handler.Read](UINT64 Address, UINT8 Width) {
    return !Alive.expired() && Read ? Read(Address, Width) : Chip.Peek(Space, Address, Width);
  };
  Guarded.Write = [Alive, Space, &Chip, Write = Handler.Write](UINT64 Address, UINT8 Width, UINT64 Value) {
    if (!Alive.expired() && Write) {
      Write(Address, Width, Value);
    } else {
      Chip.Poke(Space, Address, Width, Value);
    }
  };
  Chip.AddHandler(Space, Base, Length, std::move(Guarded));
}

void HubPlatform::Internals::InstallChipset() {
  HostEnv::SimChipset &Chip = Env.Chipset();
  SmuResponse = Settings.SmuResponse;
  Chip.SetTscStep(Settings.TscStep);
  for (const RegisterValue &Register : Settings.Registers) {
    switch (Register.Space) {
      case RegisterSpace::Mmio: Chip.SetInitialValue(AccessSpace::Mmio, Register.Address, Register.Width, Register.Value); break;
      case RegisterSpace::Io: Chip.SetInitialValue(AccessSpace::Io, Register.Address, Register.Width, Register.Value); break;
      case RegisterSpace::Msr: Chip.SetInitialValue(AccessSpace::Msr, Register.Address, 8, Register.Value); break;
      case RegisterSpace::Smn: SmnRegisters[static_cast<UINT32>(Register.Address)] = static_cast<UINT32>(Register.Value); break;
    }
  }
  for (const DataFabricRegister &Register : Settings.DataFabric) {
    Chip.SetInitialValue(AccessSpace::Mmio, DataFabricAddress(Register.Function, Register.Offset), 4, Register.Value);
  }
  // The debugger channel of the assertion stop: answer "return".
  Chip.SetCpuidSi(kDebuggerLeaf, 1);
  for (const CpuidValue &Leaf : Settings.Cpuid) {
    HostEnv::CpuidResult Result{Leaf.Eax, Leaf.Ebx, Leaf.Ecx, Leaf.Edx};
    if (Leaf.AnySubLeaf) {
      Chip.SetCpuid(Leaf.Leaf, Result);
    } else {
      Chip.SetCpuid(Leaf.Leaf, Leaf.SubLeaf, Result);
    }
  }

  // SMN: the index register is plain memory; the data register reaches the
  // SMN register the index names.
  AddHandler(AccessSpace::Mmio, kSmnData, 4,
                  {.Read =
                       [this, &Chip](UINT64 Address, UINT8 Width) {
                         UINT32 Index = static_cast<UINT32>(Chip.Peek(AccessSpace::Mmio, kSmnIndex, 4));
                         UINT32 Value = SmnRegisters[Index];
                         if (Index == kSmuResponseRegister) {
                           ++SmuResponseReads;
                           Value = SmuResponse;
                           if (!SmuQueue.empty()) {
                             Value = SmuQueue.front();
                             SmuQueue.pop_front();
                           }
                         }
                         return (UINT64(Value) >> (8 * (Address - kSmnData))) & Mask(Width);
                       },
                   .Write =
                       [this, &Chip](UINT64 Address, UINT8 Width, UINT64 Value) {
                         UINT32 Index = static_cast<UINT32>(Chip.Peek(AccessSpace::Mmio, kSmnIndex, 4));
                         unsigned Shift = static_cast<unsigned>(8 * (Address - kSmnData));
                         UINT64 Field = Mask(Width) << Shift;
                         SmnRegisters[Index] =
                             static_cast<UINT32>((SmnRegisters[Index] & ~Field) | ((Value << Shift) & Field));
                       }});

  // AOAC: status byte (odd offset) of device D reads 7 while bit 3 of its
  // control byte is set, else 0; stuck devices read their fixed status.
  AddHandler(AccessSpace::Mmio, kAoacBase, kAoacLength,
                  {.Read = [this, &Chip](UINT64 Address, UINT8 Width) {
                     return ByBytes(Address, Width, [this, &Chip](UINT64 Byte) -> UINT8 {
                       UINT64 Offset = Byte - kAoacBase;
                       if (Offset >= kAoacLength || (Offset & 1) == 0) {
                         return static_cast<UINT8>(Chip.Peek(AccessSpace::Mmio, Byte, 1));
                       }
                       UINT8 Device = static_cast<UINT8>(Offset / 2);
                       if (auto Stuck = StuckAoac.find(Device); Stuck != StuckAoac.end()) {
                         return Stuck->second;
                       }
                       UINT8 Control = static_cast<UINT8>(Chip.Peek(AccessSpace::Mmio, Byte - 1, 1));
                       return (Control & 0x08) != 0 ? 7 : 0;
                     });
                   }});

  // UART: line status always ready (0x60), the init status byte 0xF0; bytes
  // written to the data register with the divisor latch closed are received.
  AddHandler(AccessSpace::Mmio, kUartBase, kUartLength,
                  {.Read =
                       [&Chip](UINT64 Address, UINT8 Width) {
                         return ByBytes(Address, Width, [&Chip](UINT64 Byte) -> UINT8 {
                           switch (Byte - kUartBase) {
                             case kUartLineStatus: return 0x60;
                             case kUartInitStatus: return 0xF0;
                             default: return static_cast<UINT8>(Chip.Peek(AccessSpace::Mmio, Byte, 1));
                           }
                         });
                       },
                   .Write =
                       [this, &Chip](UINT64 Address, UINT8 Width, UINT64 Value) {
                         bool DivisorLatch = (Chip.Peek(AccessSpace::Mmio, kUartBase + kUartLineControl, 1) & 0x80) != 0;
                         if (Address == kUartBase + kUartData && !DivisorLatch) {
                           Uart += static_cast<char>(Value & 0xFF);
                         }
                         Chip.Poke(AccessSpace::Mmio, Address, Width, Value);
                       }});

  // I/O ports read through the PM timer, which may sit on any of them (the
  // ports with handlers of their own below included).
  auto IoPortRead = [&Chip](UINT64 Port, UINT8 Width) { return ReadIoPort(Chip, Port, Width); };
  AddHandler(AccessSpace::Io, 0, 0x10000, {.Read = IoPortRead});

  // Port 0x80: 32-bit test-point codes become test-point events.
  AddHandler(AccessSpace::Io, kPostCodePort, 4,
                  {.Read = IoPortRead,
                   .Write = [this, &Chip](UINT64 Address, UINT8 Width, UINT64 Value) {
                     if (Address == kPostCodePort && Width == 4 && (Value & 0xFFFF0000) == kTestPointTag) {
                       TestPoints.push_back(static_cast<UINT32>(Value));
                       Event("test-point", {Hex("code", Value & 0xFFFF), Hex("value", Value)});
                     }
                     Chip.Poke(AccessSpace::Io, Address, Width, Value);
                   }});

  // Reset requests end the run as real hardware would.
  auto ResetOn = [this, &Chip, IoPortRead](UINT16 Port, std::vector<UINT8> Values) {
    AddHandler(AccessSpace::Io, Port, 1,
                    {.Read = IoPortRead,
                     .Write = [this, &Chip, Port, Values](UINT64 Address, UINT8 Width, UINT64 Value) {
                       Chip.Poke(AccessSpace::Io, Address, Width, Value);
                       UINT8 Byte = static_cast<UINT8>(Value);
                       if (std::find(Values.begin(), Values.end(), Byte) != Values.end()) {
                         Event("reset", {Hex("port", Port), Hex("value", Byte)});
                         throw SimulatedReset(Port, Byte);
                       }
                     }});
  };
  ResetOn(0x64, {0xFE});
  ResetOn(0xCF9, {0x06, 0x0E});
}

}  // namespace HubSim
