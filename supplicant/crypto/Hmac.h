// HMAC (RFC 2104) over MD5, SHA-1 and SHA-256, and the message-first MIC
// operations of the EAPOL-Key key descriptor versions 1 and 2.
//
// Element lists: Count elements, Address[i] / Length[i] each, hashed in
// order; at most CRYPTO_MAX_ELEMENTS (5).
#pragma once
#include <uefi/Base.h>

#include "Md5.h"
#include "Sha1.h"
#include "Sha256.h"

constexpr UINTN HMAC_BLOCK_SIZE = 64;
// Most elements an HMAC element list may hold.
constexpr UINTN CRYPTO_MAX_ELEMENTS = 5;

// 0, or -1 with no MAC written when Count is above 5.
int hmac_sha1_vec(const UINT8 *Key, UINTN KeyLength, UINTN Count, const UINT8 *const Address[],
                  const UINTN Length[], UINT8 *Mac);
int hmac_sha1(const UINT8 *Key, UINTN KeyLength, const void *Data, UINTN DataLength, UINT8 *Mac);
// Writes the first min(MacLength, 20) octets; nothing for MacLength <= 0.
void hmac_sha1_trunc(const UINT8 *Key, UINTN KeyLength, const void *Data, UINTN DataLength, UINT8 *Mac,
                     INTN MacLength);

// Writes nothing when Count is above 5.
void hmac_sha256_vec(const UINT8 *Key, UINTN KeyLength, UINTN Count, const UINT8 *const Address[],
                     const UINTN Length[], UINT8 *Mac);
void hmac_sha256(const UINT8 *Key, UINTN KeyLength, const void *Data, UINTN DataLength, UINT8 *Mac);

// Message first, key second (the order of the EAPOL-Key MIC callers).
// HMAC-MD5, 16 octets; returns the status of the final MD5 step.
EFI_STATUS mic_hmac_md5(const void *Message, UINTN MessageLength, const UINT8 *Key, UINTN KeyLength, UINT8 *Mac);
// HMAC-SHA1, 20 octets (the MIC is the first 16); returns hmac_sha1's result.
int mic_hmac_sha1(const void *Message, UINTN MessageLength, const UINT8 *Key, UINTN KeyLength, UINT8 *Mac);
