#include "Hmac.h"

#include "CryptoUtil.h"
#include "HmacCore.h"

using namespace crypto_util;

int hmac_sha1_vec(const UINT8 *Key, UINTN KeyLength, UINTN Count, const UINT8 *const Address[],
                  const UINTN Length[], UINT8 *Mac) {
  if (Count > CRYPTO_MAX_ELEMENTS) {
    return -1;
  }
  HmacKey<Sha1Hash>(Key, KeyLength).Compute(Count, Address, Length, Mac);
  return 0;
}

int hmac_sha1(const UINT8 *Key, UINTN KeyLength, const void *Data, UINTN DataLength, UINT8 *Mac) {
  const UINT8 *Address[1] = {static_cast<const UINT8 *>(Data)};
  const UINTN Length[1] = {DataLength};
  return hmac_sha1_vec(Key, KeyLength, 1, Address, Length, Mac);
}

void hmac_sha1_trunc(const UINT8 *Key, UINTN KeyLength, const void *Data, UINTN DataLength, UINT8 *Mac,
                     INTN MacLength) {
  if (MacLength <= 0) {
    return;
  }
  UINT8 Full[SHA1_DIGEST_SIZE];
  HmacKey<Sha1Hash>(Key, KeyLength).Compute(Data, DataLength, Full);
  CopyBytes(Mac, Full, Minimum((UINTN)MacLength, SHA1_DIGEST_SIZE));
  Wipe(Full);
}

void hmac_sha256_vec(const UINT8 *Key, UINTN KeyLength, UINTN Count, const UINT8 *const Address[],
                     const UINTN Length[], UINT8 *Mac) {
  if (Count > CRYPTO_MAX_ELEMENTS) {
    return;
  }
  HmacKey<Sha256Hash>(Key, KeyLength).Compute(Count, Address, Length, Mac);
}

void hmac_sha256(const UINT8 *Key, UINTN KeyLength, const void *Data, UINTN DataLength, UINT8 *Mac) {
  const UINT8 *Address[1] = {static_cast<const UINT8 *>(Data)};
  const UINTN Length[1] = {DataLength};
  hmac_sha256_vec(Key, KeyLength, 1, Address, Length, Mac);
}

EFI_STATUS mic_hmac_md5(const void *Message, UINTN MessageLength, const UINT8 *Key, UINTN KeyLength, UINT8 *Mac) {
  return HmacKey<Md5Hash>(Key, KeyLength).Compute(Message, MessageLength, Mac);
}

int mic_hmac_sha1(const void *Message, UINTN MessageLength, const UINT8 *Key, UINTN KeyLength, UINT8 *Mac) {
  return hmac_sha1(Key, KeyLength, Message, MessageLength, Mac);
}
