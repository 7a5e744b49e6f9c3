// SHA-1 (FIPS 180-4).
#pragma once
#include <uefi/Base.h>

constexpr UINTN SHA1_DIGEST_SIZE = 20;

struct sha1_ctx {
  UINT32 state[5];
  UINT32 count[2];  // message length in bits: low word, high word
  UINT8  block[64]; // partial block; its fill is (count[0] >> 3) % 64
};

void sha1_init(sha1_ctx *Context);
void sha1_update(sha1_ctx *Context, const void *Data, UINTN Length);
// Writes the digest and wipes the context.
void sha1_final(UINT8 *Digest, sha1_ctx *Context);

// Digest of the concatenation of Count elements. Always 0.
int sha1_digest_vec(UINTN Count, const UINT8 *const Address[], const UINTN Length[], UINT8 *Digest);
