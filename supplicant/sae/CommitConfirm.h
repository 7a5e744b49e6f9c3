// The steps of the SAE commit and confirm exchange over an SAE_CONTEXT.
// Each returns 0 on success and -1 on failure unless stated.
#pragma once
#include <uefi/Base.h>

#include "SaeContext.h"

// Wire sizes for group 19 (n = 32): group, scalar, element x and y; the
// send-confirm counter and an HMAC-SHA256 confirm value.
constexpr UINTN SAE_COMMIT_LEN = 2 + 3 * 32;
constexpr UINTN SAE_CONFIRM_VALUE_LEN = 32;
constexpr UINTN SAE_CONFIRM_LEN = 2 + SAE_CONFIRM_VALUE_LEN;

// Releases the group, every big number and point of the context (and the
// cached Montgomery constant) and initialises them again; the lengths go to
// 0 and the exchange to None.
// SendConfirm, GroupId, SaePmk and SaeKck are left as they are.
void sae_clear(SAE_CONTEXT *Ctx);

// Draws Rand and Mask with 1 < rand < r, 1 < mask < r and
// 1 < (rand + mask) mod r, at most 100 attempts. On failure both are
// released.
int sae_get_rand_mask(SAE_CONTEXT *Ctx, mbedtls_mpi *Rand, mbedtls_mpi *Mask);

// OwnElement = -(Mask * Pwe).
int sae_compute_element(SAE_CONTEXT *Ctx);

// Reads the peer's scalar at *Cursor: n bytes, 1 < s < r. Advances *Cursor by
// n. On failure PeerScalar is released.
int sae_parse_peer_scalar(SAE_CONTEXT *Ctx, const UINT8 **Cursor, const UINT8 *End);

// Reads the peer's element at Cursor: x and y of n bytes each, both below p,
// a point of the curve and not at infinity. On failure PeerElement is
// released.
int sae_parse_peer_element(SAE_CONTEXT *Ctx, const UINT8 *Cursor, const UINT8 *End);

// k = x of Rand * (PeerScalar * Pwe + PeerElement), written in n bytes to
// Out (room for at least n). Fails when that point is at infinity.
int sae_derive_k(SAE_CONTEXT *Ctx, UINT8 *Out);

// keyseed = HMAC-SHA256(0^32, k); KCK || PMK = KDF-512(keyseed,
// "SAE KCK and PMK", (OwnScalar + PeerScalar) mod r). On failure SaeKck and
// SaePmk keep their contents.
int sae_derive_keys(SAE_CONTEXT *Ctx, const UINT8 *K);
// The same with keyseed = HMAC-SHA256(Salt, k): hash-to-element salts it
// with the rejected groups. A NULL or empty salt is 32 zero bytes.
int sae_derive_keys_with_salt(SAE_CONTEXT *Ctx, const UINT8 *K, const UINT8 *Salt, UINTN SaltLength);

// Out = HMAC-SHA256(SaeKck, SendConfirm || scalar A || element A ||
// scalar B || element B), 32 bytes. Returns 32, or 0 on failure.
UINTN sae_compute_confirm(SAE_CONTEXT *Ctx, const UINT8 *SendConfirm, const mbedtls_mpi *ScalarA,
                          const mbedtls_ecp_point *ElementA, const mbedtls_mpi *ScalarB,
                          const mbedtls_ecp_point *ElementB, UINT8 *Out);

// 1 when the peer's scalar and element are the own ones (a reflected commit).
int sae_is_reflection(const SAE_CONTEXT *Ctx);
