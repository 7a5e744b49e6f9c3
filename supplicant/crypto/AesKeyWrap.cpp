#include "AesKeyWrap.h"

#include "Aes.h"
#include "AesBlock.h"
#include "CryptoUtil.h"

using namespace crypto_util;

void aes_key_unwrap(const UINT8 *Wrapped, UINTN WrappedLength, const UINT8 *Kek, UINT8 *Out) {
  if (WrappedLength < AES_KEY_UNWRAP_MIN_INPUT || WrappedLength > AES_KEY_UNWRAP_MAX_INPUT ||
      WrappedLength % 8 != 0) {
    FillBytes(Out, 0, 8);
    return;
  }
  aes_key_schedule Schedule;
  aes_set_decrypt_key(&Schedule, Kek, 128);
  const AesBlockFn Decrypt = AesDecryptor();

  const UINTN n = WrappedLength / 8 - 1;
  UINT8 R[AES_KEY_UNWRAP_MAX_BLOCKS][8];
  UINT8 B[16];
  CopyBytes(B, Wrapped, 8);  // A lives in the first half of B
  for (UINTN i = 0; i < n; ++i) {
    CopyBytes(R[i], Wrapped + 8 * (i + 1), 8);
  }
  for (int j = 5; j >= 0; --j) {
    for (UINTN i = n; i >= 1; --i) {
      // t = n*j + i stays below 256 for n <= 32, so only A's last octet changes.
      const UINTN t = n * (UINTN)j + i;
      B[7] ^= (UINT8)t;
      CopyBytes(B + 8, R[i - 1], 8);
      Decrypt(Schedule.round_keys, Schedule.rounds, B, B);
      CopyBytes(R[i - 1], B + 8, 8);
    }
  }
  CopyBytes(Out, B, 8);
  for (UINTN i = 0; i < n; ++i) {
    CopyBytes(Out + 8 * (i + 1), R[i], 8);
  }
  Wipe(Schedule);
  Wipe(R);
  Wipe(B);
}
