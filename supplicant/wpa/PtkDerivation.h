// The pairwise transient key from the PMK, the two addresses and the two
// nonces: "Pairwise key expansion" by the SHA-1 PRF (64 bytes) or by the
// SHA-256 KDF (48 bytes; the last 16 bytes of the 64-byte area are zero).
#pragma once
#include <uefi/Uefi.h>

constexpr UINTN SUP_PTK_LEN = 64;
constexpr UINTN SUP_PTK_SHA256_LEN = 48;

enum class SUP_PTK_HASH { Sha1, Sha256 };

// Ptk receives SUP_PTK_LEN bytes. The smaller address and nonce go first, so
// swapping the authenticator and supplicant inputs gives the same key.
VOID SupDerivePtk(SUP_PTK_HASH Hash, const UINT8 *Pmk, const UINT8 *AuthenticatorAddress,
                  const UINT8 *SupplicantAddress, const UINT8 *ANonce, const UINT8 *SNonce, UINT8 *Ptk);
