#include "KeyData.h"

#include <Library/BaseMemoryLib.h>

#include "EapolKey.h"
#include "crypto/AesKeyWrap.h"
#include "crypto/Rc4.h"

namespace {

constexpr UINTN RC4_DISCARD = 256;  // keystream bytes dropped before the key data
constexpr UINTN AES_WRAP_INTEGRITY_LEN = 8;
constexpr UINTN AES_WRAP_MIN_LEN = 16;
constexpr UINT8 AES_WRAP_DEFAULT_IV = 0xA6;
static_assert(SUP_KEY_DATA_BUFFER_SIZE + AES_WRAP_INTEGRITY_LEN <= AES_KEY_UNWRAP_MAX_INPUT);

BOOLEAN UsesAesKeyWrap(UINT8 Version) {
  return Version == eapol::VERSION_AKM_DEFINED || Version == eapol::VERSION_HMAC_SHA1_AES ||
         Version == eapol::VERSION_AES_CMAC_AES;
}

BOOLEAN DecryptRc4(const UINT8 *Frame, const UINT8 *Kek, UINTN Length, UINT8 *Plaintext) {
  UINT8 Key[eapol::KEY_IV_SIZE + SUP_KEK_LEN];
  CopyMem(Key, Frame + eapol::OFFSET_KEY_IV, eapol::KEY_IV_SIZE);
  CopyMem(Key + eapol::KEY_IV_SIZE, Kek, SUP_KEK_LEN);
  rc4_state State;
  rc4_set_key(&State, sizeof(Key), Key);
  UINT8 Discard[RC4_DISCARD] = {};
  rc4_crypt(&State, sizeof(Discard), Discard, Discard);
  rc4_crypt(&State, Length, Frame + eapol::OFFSET_KEY_DATA, Plaintext);
  SecureZeroMem(Key, sizeof(Key));
  SecureZeroMem(&State, sizeof(State));
  SecureZeroMem(Discard, sizeof(Discard));
  return TRUE;
}

BOOLEAN DecryptAesKeyWrap(const UINT8 *Frame, const UINT8 *Kek, UINTN Length, UINT8 *Plaintext) {
  UINT8 Unwrapped[SUP_KEY_DATA_BUFFER_SIZE + AES_WRAP_INTEGRITY_LEN];
  aes_key_unwrap(Frame + eapol::OFFSET_KEY_DATA, Length, Kek, Unwrapped);
  UINT8 Mismatch = 0;
  for (UINTN Index = 0; Index < AES_WRAP_INTEGRITY_LEN; ++Index) {
    Mismatch |= (UINT8)(Unwrapped[Index] ^ AES_WRAP_DEFAULT_IV);
  }
  if (Mismatch == 0) {
    CopyMem(Plaintext, Unwrapped + AES_WRAP_INTEGRITY_LEN, Length - AES_WRAP_INTEGRITY_LEN);
  }
  SecureZeroMem(Unwrapped, sizeof(Unwrapped));
  return Mismatch == 0;
}

}  // namespace

BOOLEAN SupKeyDataLengthAcceptable(UINT8 Version, UINTN KeyDataLength) {
  if (Version == eapol::VERSION_HMAC_MD5_RC4) {
    return KeyDataLength <= SUP_KEY_DATA_BUFFER_SIZE;
  }
  if (UsesAesKeyWrap(Version)) {
    return KeyDataLength % 8 == 0 && KeyDataLength >= AES_WRAP_MIN_LEN &&
           KeyDataLength <= SUP_KEY_DATA_BUFFER_SIZE + AES_WRAP_INTEGRITY_LEN;
  }
  return FALSE;
}

BOOLEAN SupDecryptKeyData(const UINT8 *Frame, const UINT8 *Kek, UINTN KeyDataLength, UINT8 *Plaintext,
                          UINTN *PlaintextLength) {
  UINT8 Version = eapol::DescriptorVersion(Frame);
  if (!SupKeyDataLengthAcceptable(Version, KeyDataLength)) {
    return FALSE;
  }
  ZeroMem(Plaintext, SUP_KEY_DATA_BUFFER_SIZE);
  if (Version == eapol::VERSION_HMAC_MD5_RC4) {
    *PlaintextLength = KeyDataLength;
    return DecryptRc4(Frame, Kek, KeyDataLength, Plaintext);
  }
  *PlaintextLength = KeyDataLength - AES_WRAP_INTEGRITY_LEN;
  return DecryptAesKeyWrap(Frame, Kek, KeyDataLength, Plaintext);
}
