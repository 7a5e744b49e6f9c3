#include "Hkdf.h"

#include "CryptoUtil.h"
#include "Hmac.h"

using namespace crypto_util;

void hkdf_sha256_extract(const UINT8 *Salt, UINTN SaltLength, UINTN Count, const UINT8 *const Address[],
                         const UINTN Length[], UINT8 *Prk) {
  hmac_sha256_vec(Salt, SaltLength, Count, Address, Length, Prk);
}

int hkdf_sha256_expand(const UINT8 *Prk, UINTN PrkLength, const UINT8 *Info, UINTN InfoLength, UINT8 *Okm,
                       UINTN OkmLength) {
  if (OkmLength > HKDF_SHA256_MAX_OUTPUT) {
    return -1;
  }
  UINT8 Block[SHA256_DIGEST_SIZE] = {};
  UINT8 Counter = 0;
  UINTN Written = 0;
  while (Written < OkmLength) {
    ++Counter;
    // T(1) has no previous block.
    const UINT8 *Address[] = {Block, Info, &Counter};
    const UINTN Length[] = {Counter == 1 ? 0 : SHA256_DIGEST_SIZE, InfoLength, 1};
    hmac_sha256_vec(Prk, PrkLength, 3, Address, Length, Block);
    UINTN Take = OkmLength - Written < SHA256_DIGEST_SIZE ? OkmLength - Written : SHA256_DIGEST_SIZE;
    CopyBytes(Okm + Written, Block, Take);
    Written += Take;
  }
  Wipe(Block);
  return 0;
}
