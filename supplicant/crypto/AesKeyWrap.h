// AES key unwrap (RFC 3394) with a 128-bit KEK: decrypts the Key Data field
// of EAPOL-Key frames. There is no wrap operation; the supplicant only
// receives wrapped keys.
#pragma once
#include <uefi/Base.h>

constexpr UINTN AES_KEY_UNWRAP_MIN_INPUT  = 16;
constexpr UINTN AES_KEY_UNWRAP_MAX_BLOCKS = 32;
constexpr UINTN AES_KEY_UNWRAP_MAX_INPUT  = 8 * (AES_KEY_UNWRAP_MAX_BLOCKS + 1);

// Writes WrappedLength octets to Out: the unwrapped integrity value A (8
// octets), then the key data. The caller compares A with eight 0xA6 octets.
// A wrapped length that is not a multiple of 8 between 16 and 264 is not
// unwrapped: Out receives an all-zero A (8 octets), which never matches the
// initial value, and nothing else.
void aes_key_unwrap(const UINT8 *Wrapped, UINTN WrappedLength, const UINT8 *Kek, UINT8 *Out);
