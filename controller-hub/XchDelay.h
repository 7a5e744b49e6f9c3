// Timing without timers: busy waits on the time-stamp counter and on the
// ACPI power-management timer.
#pragma once
#include <uefi/Base.h>

// Time-stamp counter frequency in Hz from the first enabled P-state MSR;
// cached once a P-state is found, 256 while none is.
UINT64 XchTscFrequency();

// Spins (with pause) until the time-stamp counter has advanced by
// Microseconds worth of ticks.
VOID XchDelayMicroseconds(UINT64 Microseconds);

// About 11 microseconds on the ACPI PM timer, or five port 0x80 reads when
// the timer port is not programmed.
VOID XchShortStall();

VOID XchDelayResetState();
