// SAE hash-to-element (IEEE 802.11 SAE, group 19): the password-dependent
// point PT from the SSID, the password and an optional password identifier
// through HKDF-SHA-256 and the simplified SWU map (RFC 9380), and the
// password element PWE = val * PT of one pair of addresses.
//
// Everything that depends on the password runs on the fixed-size P-256
// field, PWE = val * PT included (val is public, PT is not): no branch and
// no memory access depends on the password, so the time taken does not
// tell anything about it.
#pragma once
#include <uefi/Base.h>

#include "SaeContext.h"

// PT as it is cached: x || y, each big-endian in 32 bytes.
constexpr UINTN SAE_PT_LEN = 64;

// The simplified SWU map of P-256 (Z = -10): the point of the field element
// U (32 big-endian bytes, below p) as affine X and Y (32 bytes each).
void sae_h2e_map_to_curve(const UINT8 *U, UINT8 *X, UINT8 *Y);

// PT of (SSID, password, identifier); an identifier of length 0 is none.
// 0, or -1 with Pt cleared (P1 + P2 at infinity, which no input is known to
// give).
int sae_h2e_derive_pt(const UINT8 *Ssid, UINTN SsidLength, const UINT8 *Password, UINTN PasswordLength,
                      const UINT8 *Identifier, UINTN IdentifierLength, UINT8 *Pt);

// Ctx->Pwe = val * PT with val = HMAC-SHA256(0^32, max(addresses) ||
// min(addresses)) mod (r - 1) + 1. Needs Ctx->Group, Order and PrimeLen.
// 0, or -1 with Ctx->Pwe left as it was.
int sae_h2e_derive_pwe(SAE_CONTEXT *Ctx, const UINT8 *Pt, const UINT8 *OwnAddress, const UINT8 *PeerAddress);
