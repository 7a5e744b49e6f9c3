// SHA-256 (FIPS 180-4).
#pragma once
#include <uefi/Base.h>

constexpr UINTN SHA256_DIGEST_SIZE = 32;

struct sha256_ctx {
  UINT64 length;     // message bits compressed so far
  UINT32 state[8];
  UINT32 fill;       // octets held in block
  UINT8  block[64];
};

void sha256_init(sha256_ctx *Context);
// 0, or -1 (nothing hashed) when the context's fill is above 64.
int sha256_update(sha256_ctx *Context, const void *Data, UINTN Length);
// 0, or -1 (no digest) when the context's fill is 64 or more.
int sha256_final(sha256_ctx *Context, UINT8 *Digest);

// Digest of the concatenation of Count elements; the result of sha256_final.
int sha256_digest_vec(UINTN Count, const UINT8 *const Address[], const UINTN Length[], UINT8 *Digest);
