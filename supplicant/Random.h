// The driver-wide random-byte source.
//
// random_seed/random_next are the Park–Miller minimal standard generator
// (multiplier 16807, modulus 2^31 - 1) with one state for the whole driver.
// random_bytes is what every consumer draws from: an HMAC-DRBG (SHA-256)
// seeded at driver entry from EFI_RNG_PROTOCOL, else from RDSEED or RDRAND,
// with the clock and the time-stamp counter mixed in. Only when none of those
// entropy sources exists does it fall back to the Park–Miller byte stream
// seeded from the clock, and the driver says so once on the console.
#pragma once
#include <uefi/Uefi.h>
#include <uefi/Protocol/Rng.h>

VOID   random_seed(UINT32 Seed);
UINT32 random_next();
VOID   random_bytes(UINT8 *Buffer, UINT64 Length);

// The Park–Miller byte stream: each byte is random_next() mod 255.
VOID   park_miller_bytes(UINT8 *Buffer, UINT64 Length);

// Seed used by the driver entry: (Hour << 24) | (Minute << 16) | (Second << 8) | Day.
constexpr UINT32 RandomSeedFromTime(const EFI_TIME &Time) {
  return ((UINT32)Time.Hour << 24) | ((UINT32)Time.Minute << 16) | ((UINT32)Time.Second << 8) | Time.Day;
}

// Where random_bytes takes its values from.
enum RANDOM_SOURCE {
  RandomSourceRngProtocol,  // DRBG seeded from EFI_RNG_PROTOCOL
  RandomSourceCpuSeed,      // DRBG seeded from RDSEED
  RandomSourceCpuRandom,    // DRBG seeded from RDRAND
  RandomSourceParkMiller,   // no entropy source: the clock-seeded Park–Miller stream
};

// The entropy sources the seeding may use; a missing one is NULL.
struct RANDOM_ENTROPY_SOURCES {
  EFI_RNG_PROTOCOL *Rng;
  BOOLEAN (*ReadSeed)(UINT64 *Value);    // RDSEED
  BOOLEAN (*ReadRandom)(UINT64 *Value);  // RDRAND
  UINT64 (*ReadTimestamp)();             // time-stamp counter, mixed into the nonce
};

// Called once by the driver entry, before any child exists: seeds the
// Park–Miller generator from the clock and the DRBG from the platform's
// entropy sources (the RNG protocol found through boot services, the CPU's
// RDSEED/RDRAND).
VOID RandomSourceInitialize(const EFI_TIME &Time);

// The same with the sources given explicitly. Returns the source in use.
RANDOM_SOURCE RandomSourceInitializeFrom(const EFI_TIME &Time, const RANDOM_ENTROPY_SOURCES &Sources);

RANDOM_SOURCE RandomSourceInUse();
