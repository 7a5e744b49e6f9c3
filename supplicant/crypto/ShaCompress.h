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

// Round constants (first 32 bits of the fractional parts of the cube roots of
// the first 64 primes), shared with the SHA-NI code.
extern const UINT32 Sha256RoundConstants[64];
