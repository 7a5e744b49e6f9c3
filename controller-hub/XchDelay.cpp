#include "XchDelay.h"

#include <Platform/Hardware.h>

namespace {
constinit UINT64 mTscFrequency = 0;

constexpr UINT32 PStateMsrFirst = 0xC0010064;
constexpr UINT32 PStateMsrCount = 8;
constexpr UINT64 PStateEnabled = 1ULL << 63;
constexpr UINT64 FrequencyWithoutPState = 256;
constexpr UINT64 Mega = 1000000;

constexpr UINTN PmTimerPortRegister = 0xFED80364;
constexpr UINT16 PostCodePort = 0x80;
constexpr UINT32 PmTimerTicksTimes28 = 1100;  // 1100 / 28 ticks of 3.58 MHz: about 11 us

// Core frequency of one P-state: multiplier bits 0-7, divisor bits 8-13.
UINT64 PStateFrequency(UINT64 PState) {
  UINT64 Multiplier = PState & 0xFF;
  UINT64 Divisor = (PState >> 8) & 0x3F;
  if (Divisor == 0) {
    return 0;
  }
  if (Divisor >= 8 && Divisor <= 60) {
    return Multiplier * 200 * Mega / Divisor;
  }
  return Multiplier * 25 * Mega;
}
}  // namespace

UINT64 XchTscFrequency() {
  if (mTscFrequency != 0) {
    return mTscFrequency;
  }
  for (UINT32 Index = 0; Index < PStateMsrCount; ++Index) {
    UINT64 PState = AsmReadMsr64(PStateMsrFirst + Index);
    if ((PState & PStateEnabled) != 0) {
      mTscFrequency = PStateFrequency(PState);
      return mTscFrequency;
    }
  }
  return FrequencyWithoutPState;
}

VOID XchDelayMicroseconds(UINT64 Microseconds) {
  UINT64 Ticks = 0;
  if (__builtin_mul_overflow(XchTscFrequency(), Microseconds, &Ticks)) {
    Ticks = ~0ULL;
  }
  Ticks /= Mega;
  UINT64 Start = AsmReadTsc();
  UINT64 End = Start + Ticks;
  if (End < Start) {
    End = ~0ULL;
  }
  while (AsmReadTsc() <= End) {
    CpuPause();
  }
}

VOID XchShortStall() {
  UINT16 TimerPort = MmioRead16(PmTimerPortRegister);
  if (TimerPort == 0) {
    for (int Read = 0; Read < 5; ++Read) {
      IoRead8(PostCodePort);
    }
    return;
  }
  UINT32 Start = IoRead32(TimerPort);
  for (;;) {
    UINT32 Now = IoRead32(TimerPort);
    UINT32 Elapsed = Now - Start;
    if (Now < Start) {
      Elapsed -= 1;
    }
    if (static_cast<UINT64>(Elapsed) * 28 >= PmTimerTicksTimes28) {
      return;
    }
  }
}

VOID XchDelayResetState() { mTscFrequency = 0; }
