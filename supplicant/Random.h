// The driver-wide random-byte source.
//
// random_seed/random_next are the Park–Miller minimal standard generator
// (multiplier 16807, modulus 2^31 - 1) with one state for the whole driver.
// random_bytes is what every consumer draws from.
#pragma once
#include <uefi/Uefi.h>

VOID   random_seed(UINT32 Seed);
UINT32 random_next();
VOID   random_bytes(UINT8 *Buffer, UINT64 Length);

// The Park–Miller byte stream: each byte is random_next() mod 255.
VOID   park_miller_bytes(UINT8 *Buffer, UINT64 Length);

// Seed used by the driver entry: (Hour << 24) | (Minute << 16) | (Second << 8) | Day.
constexpr UINT32 RandomSeedFromTime(const EFI_TIME &Time) {
  return ((UINT32)Time.Hour << 24) | ((UINT32)Time.Minute << 16) | ((UINT32)Time.Second << 8) | Time.Day;
}

// Called once by the driver entry, before any child exists.
VOID RandomSourceInitialize(const EFI_TIME &Time);
