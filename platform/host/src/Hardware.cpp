// Platform/Hardware.h on the host: every access goes to the simulated
// chipset of the live environment.
#include <Platform/Hardware.h>

#include <HostEnv/Environment.h>

#include <cstdio>
#include <cstdlib>

using HostEnv::AccessSpace;

namespace {

HostEnv::SimChipset &Chip() { return HostEnv::Environment::Active().Chipset(); }

template <typename T>
T IoRead(UINTN Port) {
  return static_cast<T>(Chip().Read(AccessSpace::Io, Port, sizeof(T)));
}
template <typename T>
T IoWrite(UINTN Port, T Value) {
  Chip().Write(AccessSpace::Io, Port, sizeof(T), Value);
  return Value;
}
template <typename T>
T MmioRead(UINTN Address) {
  return static_cast<T>(Chip().Read(AccessSpace::Mmio, Address, sizeof(T)));
}
template <typename T>
T MmioWrite(UINTN Address, T Value) {
  Chip().Write(AccessSpace::Mmio, Address, sizeof(T), Value);
  return Value;
}

}  // namespace

UINT8  IoRead8(UINTN Port) { return IoRead<UINT8>(Port); }
UINT16 IoRead16(UINTN Port) { return IoRead<UINT16>(Port); }
UINT32 IoRead32(UINTN Port) { return IoRead<UINT32>(Port); }
UINT8  IoWrite8(UINTN Port, UINT8 Value) { return IoWrite<UINT8>(Port, Value); }
UINT16 IoWrite16(UINTN Port, UINT16 Value) { return IoWrite<UINT16>(Port, Value); }
UINT32 IoWrite32(UINTN Port, UINT32 Value) { return IoWrite<UINT32>(Port, Value); }

UINT8  MmioRead8(UINTN Address) { return MmioRead<UINT8>(Address); }
UINT16 MmioRead16(UINTN Address) { return MmioRead<UINT16>(Address); }
UINT32 MmioRead32(UINTN Address) { return MmioRead<UINT32>(Address); }
UINT64 MmioRead64(UINTN Address) { return MmioRead<UINT64>(Address); }
UINT8  MmioWrite8(UINTN Address, UINT8 Value) { return MmioWrite<UINT8>(Address, Value); }
UINT16 MmioWrite16(UINTN Address, UINT16 Value) { return MmioWrite<UINT16>(Address, Value); }
UINT32 MmioWrite32(UINTN Address, UINT32 Value) { return MmioWrite<UINT32>(Address, Value); }
UINT64 MmioWrite64(UINTN Address, UINT64 Value) { return MmioWrite<UINT64>(Address, Value); }

UINT64 AsmReadMsr64(UINT32 Index) { return Chip().Read(AccessSpace::Msr, Index, 8); }
UINT64 AsmWriteMsr64(UINT32 Index, UINT64 Value) {
  Chip().Write(AccessSpace::Msr, Index, 8, Value);
  return Value;
}

UINT32 AsmCpuidEx(UINT32 Index, UINT32 SubIndex, UINT32 *Eax, UINT32 *Ebx, UINT32 *Ecx, UINT32 *Edx) {
  HostEnv::CpuidResult Result = Chip().Cpuid(Index, SubIndex);
  if (Eax != nullptr) *Eax = Result.Eax;
  if (Ebx != nullptr) *Ebx = Result.Ebx;
  if (Ecx != nullptr) *Ecx = Result.Ecx;
  if (Edx != nullptr) *Edx = Result.Edx;
  return Index;
}

UINT32 AsmCpuid(UINT32 Index, UINT32 *Eax, UINT32 *Ebx, UINT32 *Ecx, UINT32 *Edx) {
  return AsmCpuidEx(Index, 0, Eax, Ebx, Ecx, Edx);
}

UINT32 AsmCpuidWithSi(UINT32 Index, UINT32 EbxIn, UINTN *Si) {
  *Si = Chip().CpuidWithSi(Index, EbxIn, *Si);
  return Index;
}

UINT64 AsmReadTsc() { return Chip().ReadTsc(); }

VOID CpuPause() {}

VOID CpuDeadLoop() {
  // The assertion text is already on stderr; make sure it and anything
  // buffered on stdout are out before the process ends.
  std::fflush(stdout);
  std::fflush(stderr);
  std::abort();
}

BOOLEAN AsmRdRand64(UINT64 *Value) { return Value != nullptr && Chip().RdRand(Value) ? TRUE : FALSE; }
BOOLEAN AsmRdSeed64(UINT64 *Value) { return Value != nullptr && Chip().RdSeed(Value) ? TRUE : FALSE; }
