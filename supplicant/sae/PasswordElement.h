// The SAE password element: the password and the two MAC addresses turned
// into a point of the group by hunting and pecking (IEEE 802.11 SAE).
#pragma once
#include <uefi/Base.h>

#include "SaeContext.h"

// Most hunting-and-pecking counters tried: 1 to 39.
constexpr UINT8 SAE_PWE_COUNTERS = 39;

// Derives Ctx->Pwe from the password and the addresses (6 bytes each; their
// order does not matter) and a password of at least one byte. Needs
// Ctx->Group, Prime and PrimeLen. Every
// counter is evaluated whichever succeeds first, and the result is selected
// without branches, so the time taken does not tell the counter. 0, or -1
// with Ctx->Pwe left as it was.
int sae_derive_pwe(SAE_CONTEXT *Ctx, const UINT8 *OwnAddress, const UINT8 *PeerAddress, const UINT8 *Password,
                   UINTN PasswordLength);

// Draws a quadratic residue Qr and a non-residue Qnr modulo Prime (PrimeLen
// bytes long) from the random-byte source. Both come in initialised and
// empty. 0, or -1 when no pair was found (allocation, conversion, or a
// random source that keeps failing to give one).
int sae_get_qr_qnr(const mbedtls_mpi *Prime, UINTN PrimeLen, mbedtls_mpi *Qr, mbedtls_mpi *Qnr);

// Whether V is a quadratic residue modulo the context's prime, tested on V
// multiplied by a random square and by Qr or Qnr at random, so the Legendre
// symbol of V itself is never computed. 1 residue, 0 not, -1 on failure.
int sae_is_residue_blind(SAE_CONTEXT *Ctx, ECC_GROUP *Group, const mbedtls_mpi *Qr, const mbedtls_mpi *Qnr,
                         const mbedtls_mpi *V);
