// MD5 (RFC 1321). Used only by the HMAC-MD5 EAPOL-Key MIC.
#pragma once
#include <uefi/Base.h>

constexpr UINTN MD5_DIGEST_SIZE = 16;

struct md5_ctx {
  EFI_STATUS status;  // EFI_SUCCESS while the computation runs
  UINT64     length;  // octets fed so far
  UINT32     state[4];
  UINT8      block[64];
  UINT64     fill;    // octets held in block (0..63)
};

EFI_STATUS md5_init(md5_ctx *Context);
// Returns the context's error status (hashing nothing) if it carries one;
// a context whose fill is out of range is refused with EFI_INVALID_PARAMETER.
EFI_STATUS md5_update(md5_ctx *Context, const void *Data, UINTN Length);
// Writes the digest and wipes the context; an error status is returned
// instead, with no digest.
EFI_STATUS md5_final(md5_ctx *Context, UINT8 *Digest);
