// Block compression functions behind the SHA-1 and SHA-256 operations, in a
// portable form and a SHA-NI form with identical results. Internal to the
// crypto library (PBKDF2 and HMAC drive them directly from saved states).
#pragma once
#include <uefi/Base.h>

using Sha1CompressFn   = void (*)(UINT32 State[5], const UINT8 *Blocks, UINTN BlockCount);
using Sha256CompressFn = void (*)(UINT32 State[8], const UINT8 *Blocks, UINTN BlockCount);

void Sha1CompressPortable(UINT32 State[5], const UINT8 *Blocks, UINTN BlockCount);
void Sha1CompressShaNi(UINT32 State[5], const UINT8 *Blocks, UINTN BlockCount);
void Sha256CompressPortable(UINT32 State[8], const UINT8 *Blocks, UINTN BlockCount);
void Sha256CompressShaNi(UINT32 State[8], const UINT8 *Blocks, UINTN BlockCount);

// The compressor to use now (SHA-NI when the processor has it and the
// portable path is not forced).
Sha1CompressFn   Sha1Compressor();
Sha256CompressFn Sha256Compressor();

// Two PBKDF2-HMAC-SHA1 chains iterated together: their compressions are
// independent, so the latency of one hides behind the other. Words are the
// big-endian values of the octet strings.
struct SHA1_PBKDF2_CHAIN {
  UINT32 Inner[5];  // HMAC state after the inner key block
  UINT32 Outer[5];  // HMAC state after the outer key block
  UINT32 U[5];      // the latest U
  UINT32 T[5];      // XOR of every U so far
};
// Runs Rounds more iterations (U = HMAC(U), T ^= U) on both chains.
using Sha1Pbkdf2PairFn = void (*)(SHA1_PBKDF2_CHAIN Chains[2], UINTN Rounds);
void Sha1Pbkdf2PairPortable(SHA1_PBKDF2_CHAIN Chains[2], UINTN Rounds);
void Sha1Pbkdf2PairShaNi(SHA1_PBKDF2_CHAIN Chains[2], UINTN Rounds);
Sha1Pbkdf2PairFn Sha1Pbkdf2Pair();

// Round constants (first 32 bits of the fractional parts of the cube roots of
// the first 64 primes), shared with the SHA-NI code.
extern const UINT32 Sha256RoundConstants[64];
