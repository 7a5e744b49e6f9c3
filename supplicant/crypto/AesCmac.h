// AES-CMAC (RFC 4493): the EAPOL-Key MIC of key descriptor versions 3 and 0.
#pragma once
#include <uefi/Base.h>

constexpr UINTN AES_CMAC_SIZE = 16;

// K1 and K2 (16 octets each) for a 16-, 24- or 32-octet key; any other key
// length yields zero subkeys.
void aes_cmac_subkeys(const UINT8 *Key, UINTN KeyLength, UINT8 *K1, UINT8 *K2);

// Message first, key second (the order of the other MIC operations). Writes
// the 16-octet tag and sets *MacLength to 16. A key length other than 16, 24
// or 32 octets writes a zero tag and sets *MacLength to 0.
void mic_aes_cmac(const void *Message, UINTN MessageLength, const UINT8 *Key, UINTN KeyLength, UINT8 *Mac,
                  UINTN *MacLength);
