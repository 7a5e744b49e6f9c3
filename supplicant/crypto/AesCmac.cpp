#include "AesCmac.h"

#include "Aes.h"
#include "AesBlock.h"
#include "CryptoUtil.h"

using namespace crypto_util;

namespace {

// Doubling in GF(2^128) as the RFC writes it: shift left one bit as a
// big-endian number and fold the carry back in with Rb = 0x87.
void DoubleBlock(const UINT8 In[16], UINT8 Out[16]) {
  const UINT8 Carry = In[0] >> 7;
  for (unsigned i = 0; i < 15; ++i) {
    Out[i] = (UINT8)((In[i] << 1) | (In[i + 1] >> 7));
  }
  Out[15] = (UINT8)((In[15] << 1) ^ (Carry ? 0x87 : 0));
}

inline void XorBlock(UINT8 *Into, const UINT8 *From) {
  for (unsigned i = 0; i < 16; ++i) {
    Into[i] ^= From[i];
  }
}

// Expands the key; false for an unsupported key length.
bool ExpandKey(aes_key_schedule &Schedule, const UINT8 *Key, UINTN KeyLength) {
  if (KeyLength != 16 && KeyLength != 24 && KeyLength != 32) {
    return false;
  }
  return aes_set_encrypt_key(&Schedule, Key, KeyLength * 8) != 0;
}

void Subkeys(const aes_key_schedule &Schedule, AesBlockFn Encrypt, UINT8 K1[16], UINT8 K2[16]) {
  UINT8 L[16];
  FillBytes(L, 0, sizeof(L));
  Encrypt(Schedule.round_keys, Schedule.rounds, L, L);
  DoubleBlock(L, K1);
  DoubleBlock(K1, K2);
  Wipe(L);
}

}  // namespace

void aes_cmac_subkeys(const UINT8 *Key, UINTN KeyLength, UINT8 *K1, UINT8 *K2) {
  aes_key_schedule Schedule;
  if (!ExpandKey(Schedule, Key, KeyLength)) {
    FillBytes(K1, 0, 16);
    FillBytes(K2, 0, 16);
    return;
  }
  Subkeys(Schedule, AesEncryptor(), K1, K2);
  Wipe(Schedule);
}

void mic_aes_cmac(const void *Message, UINTN MessageLength, const UINT8 *Key, UINTN KeyLength, UINT8 *Mac,
                  UINTN *MacLength) {
  aes_key_schedule Schedule;
  if (!ExpandKey(Schedule, Key, KeyLength)) {
    FillBytes(Mac, 0, AES_CMAC_SIZE);
    *MacLength = 0;
    return;
  }
  const AesBlockFn Encrypt = AesEncryptor();
  UINT8 K1[16], K2[16];
  Subkeys(Schedule, Encrypt, K1, K2);

  const UINT8 *Input = static_cast<const UINT8 *>(Message);
  UINT8 X[16];
  FillBytes(X, 0, sizeof(X));
  for (; MessageLength > 16; Input += 16, MessageLength -= 16) {
    XorBlock(X, Input);
    Encrypt(Schedule.round_keys, Schedule.rounds, X, X);
  }
  // The last block: complete (only when the message is a non-empty multiple
  // of 16) with K1, otherwise padded with 0x80 and zeros and taken with K2.
  if (MessageLength == 16) {
    XorBlock(X, Input);
    XorBlock(X, K1);
  } else {
    UINT8 Last[16];
    FillBytes(Last, 0, sizeof(Last));
    CopyBytes(Last, Input, MessageLength);
    Last[MessageLength] = 0x80;
    XorBlock(X, Last);
    XorBlock(X, K2);
  }
  Encrypt(Schedule.round_keys, Schedule.rounds, X, Mac);
  *MacLength = AES_CMAC_SIZE;
  Wipe(Schedule);
  Wipe(K1);
  Wipe(K2);
  Wipe(X);
}
