// HKDF with HMAC-SHA256 (RFC 5869): the extract and expand steps SAE
// hash-to-element derives its password seed and field elements with.
#pragma once
#include <uefi/Base.h>

#include "Sha256.h"

// Most output one expansion can give: 255 blocks of the hash.
constexpr UINTN HKDF_SHA256_MAX_OUTPUT = 255 * SHA256_DIGEST_SIZE;

// Prk = HMAC-SHA256(Salt, IKM) with the input keying material given as an
// element list of up to five elements (Count, Address, Length). An empty
// salt acts as 32 zero octets, as HMAC pads its key with zeros. Writes
// nothing when Count is above 5.
void hkdf_sha256_extract(const UINT8 *Salt, UINTN SaltLength, UINTN Count, const UINT8 *const Address[],
                         const UINTN Length[], UINT8 *Prk);

// Okm = the first OkmLength octets of T(1) || T(2) || ..., with
// T(i) = HMAC-SHA256(Prk, T(i-1) || Info || i). 0, or -1 with nothing
// written when OkmLength is above HKDF_SHA256_MAX_OUTPUT.
int hkdf_sha256_expand(const UINT8 *Prk, UINTN PrkLength, const UINT8 *Info, UINTN InfoLength, UINT8 *Okm,
                       UINTN OkmLength);
