// Real x86-64 hardware access for the firmware images.
#include <Platform/Hardware.h>

UINT8 IoRead8(UINTN Port) {
  UINT8 Value;
  __asm__ __volatile__("inb %w1, %b0" : "=a"(Value) : "Nd"((UINT16)Port));
  return Value;
}

UINT16 IoRead16(UINTN Port) {
  UINT16 Value;
  __asm__ __volatile__("inw %w1, %w0" : "=a"(Value) : "Nd"((UINT16)Port));
  return Value;
}

UINT32 IoRead32(UINTN Port) {
  UINT32 Value;
  __asm__ __volatile__("inl %w1, %0" : "=a"(Value) : "Nd"((UINT16)Port));
  return Value;
}

UINT8 IoWrite8(UINTN Port, UINT8 Value) {
  __asm__ __volatile__("outb %b0, %w1" : : "a"(Value), "Nd"((UINT16)Port));
  return Value;
}

UINT16 IoWrite16(UINTN Port, UINT16 Value) {
  __asm__ __volatile__("outw %w0, %w1" : : "a"(Value), "Nd"((UINT16)Port));
  return Value;
}

UINT32 IoWrite32(UINTN Port, UINT32 Value) {
  __asm__ __volatile__("outl %0, %w1" : : "a"(Value), "Nd"((UINT16)Port));
  return Value;
}

template <typename T>
static T MmioRead(UINTN Address) {
  return *reinterpret_cast<volatile T *>(Address);
}

template <typename T>
static T MmioWrite(UINTN Address, T Value) {
  *reinterpret_cast<volatile T *>(Address) = Value;
  return Value;
}

UINT8 MmioRead8(UINTN Address) { return MmioRead<UINT8>(Address); }
UINT16 MmioRead16(UINTN Address) { return MmioRead<UINT16>(Address); }
UINT32 MmioRead32(UINTN Address) { return MmioRead<UINT32>(Address); }
UINT64 MmioRead64(UINTN Address) { return MmioRead<UINT64>(Address); }
UINT8 MmioWrite8(UINTN Address, UINT8 Value) { return MmioWrite(Address, Value); }
UINT16 MmioWrite16(UINTN Address, UINT16 Value) { return MmioWrite(Address, Value); }
UINT32 MmioWrite32(UINTN Address, UINT32 Value) { return MmioWrite(Address, Value); }
UINT64 MmioWrite64(UINTN Address, UINT64 Value) { return MmioWrite(Address, Value); }

UINT64 AsmReadMsr64(UINT32 Index) {
  UINT32 Low, High;
  __asm__ __volatile__("rdmsr" : "=a"(Low), "=d"(High) : "c"(Index));
  return ((UINT64)High << 32) | Low;
}

UINT64 AsmWriteMsr64(UINT32 Index, UINT64 Value) {
  __asm__ __volatile__("wrmsr" : : "c"(Index), "a"((UINT32)Value), "d"((UINT32)(Value >> 32)));
  return Value;
}

UINT32 AsmCpuidEx(UINT32 Index, UINT32 SubIndex, UINT32 *Eax, UINT32 *Ebx, UINT32 *Ecx, UINT32 *Edx) {
  UINT32 A, B, C, D;
  __asm__ __volatile__("cpuid" : "=a"(A), "=b"(B), "=c"(C), "=d"(D) : "a"(Index), "c"(SubIndex));
  if (Eax != nullptr) *Eax = A;
  if (Ebx != nullptr) *Ebx = B;
  if (Ecx != nullptr) *Ecx = C;
  if (Edx != nullptr) *Edx = D;
  return Index;
}

UINT32 AsmCpuid(UINT32 Index, UINT32 *Eax, UINT32 *Ebx, UINT32 *Ecx, UINT32 *Edx) {
  return AsmCpuidEx(Index, 0, Eax, Ebx, Ecx, Edx);
}

UINT32 AsmCpuidWithSi(UINT32 Index, UINT32 EbxIn, UINTN *Si) {
  UINT32 A = Index, B = EbxIn, C = 0, D = 0;
  UINTN  S = *Si;
  __asm__ __volatile__("cpuid" : "+a"(A), "+b"(B), "+c"(C), "+d"(D), "+S"(S));
  *Si = S;
  return Index;
}

UINT64 AsmReadTsc() {
  UINT32 Low, High;
  __asm__ __volatile__("rdtsc" : "=a"(Low), "=d"(High));
  return ((UINT64)High << 32) | Low;
}

VOID CpuPause() { __asm__ __volatile__("pause"); }

VOID CpuDeadLoop() {
  for (;;) {
    __asm__ __volatile__("pause");
  }
}

namespace {
constexpr int HardwareRandomRetries = 10;

bool CpuHasFeature(UINT32 Leaf, UINT32 Register, UINT32 Bit) {
  UINT32 MaxLeaf = 0;
  AsmCpuid(Leaf & 0x80000000u, &MaxLeaf, nullptr, nullptr, nullptr);
  if (MaxLeaf < Leaf) {
    return false;
  }
  UINT32 Regs[4];
  AsmCpuidEx(Leaf, 0, &Regs[0], &Regs[1], &Regs[2], &Regs[3]);
  return (Regs[Register] >> Bit) & 1;
}
}  // namespace

BOOLEAN AsmRdRand64(UINT64 *Value) {
  if (!CpuHasFeature(1, 2, 30)) {  // CPUID.1:ECX.RDRAND
    return FALSE;
  }
  for (int Try = 0; Try < HardwareRandomRetries; ++Try) {
    UINT8 Ok;
    __asm__ __volatile__("rdrand %0; setc %1" : "=r"(*Value), "=qm"(Ok) : : "cc");
    if (Ok) {
      return TRUE;
    }
  }
  return FALSE;
}

BOOLEAN AsmRdSeed64(UINT64 *Value) {
  if (!CpuHasFeature(7, 1, 18)) {  // CPUID.(7,0):EBX.RDSEED
    return FALSE;
  }
  for (int Try = 0; Try < HardwareRandomRetries; ++Try) {
    UINT8 Ok;
    __asm__ __volatile__("rdseed %0; setc %1" : "=r"(*Value), "=qm"(Ok) : : "cc");
    if (Ok) {
      return TRUE;
    }
    CpuPause();
  }
  return FALSE;
}
