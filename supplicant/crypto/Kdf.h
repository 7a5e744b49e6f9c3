// IEEE 802.11 key derivation: the HMAC-SHA1 PRF, the HMAC-SHA256 KDF (length
// in octets or bits), the pass-phrase to PSK mapping (PBKDF2-HMAC-SHA1) and
// the right shift SAE applies to KDF output.
#pragma once
#include <uefi/Base.h>

// Input limits: the PRF's label, zero octet, data and counter octet fit 768
// octets; the KDF's counter, label, data and length field fit 1024 octets;
// the KDF's output length fits its 16-bit length field in bits.
constexpr UINTN PRF_SHA1_MAX_INPUT    = 768;
constexpr UINTN PRF_SHA1_MAX_BLOCKS   = 256;
constexpr UINTN KDF_SHA256_MAX_INPUT  = 1024;
constexpr INTN  KDF_SHA256_MAX_BITS   = 65535;
constexpr INTN  KDF_SHA256_MAX_OCTETS = KDF_SHA256_MAX_BITS / 8;
constexpr UINTN PSK_MAX_PASSPHRASE    = 63;
constexpr UINTN PSK_MAX_SSID          = 32;
constexpr UINTN PSK_SIZE              = 32;

// PRF-n: writes ceil(OutLength / 20) whole 20-octet blocks (out length 64
// writes 80 octets). Inputs over the 768-octet limit, or more blocks than the
// one-octet counter can number: the same octets are written as zeros.
void prf_sha1(const UINT8 *Key, UINTN KeyLength, const CHAR8 *Label, UINTN LabelLength, const UINT8 *Data,
              UINTN DataLength, UINT8 *Out, UINTN OutLength);

// KDF-Hash-Length in octets: writes exactly OutLength octets (nothing for
// OutLength <= 0). Inputs over the 1024-octet limit or an output longer than
// the length field can express: the OutLength octets are written as zeros.
void kdf_sha256(const UINT8 *Key, UINTN KeyLength, const CHAR8 *Label, const UINT8 *Data, UINTN DataLength,
                UINT8 *Out, INTN OutLength);

// KDF-Hash-Length in bits: writes (OutBits + 7) / 8 octets, the bits past
// OutBits in the last octet cleared. 0; -1 with nothing written when the
// input exceeds 1024 octets or OutBits exceeds 65535.
int kdf_sha256_bits(const UINT8 *Key, UINTN KeyLength, const CHAR8 *Label, const UINT8 *Data, UINTN DataLength,
                    UINT8 *Out, INTN OutBits);

// PBKDF2 function F with HMAC-SHA1 (one 20-octet block).
void pbkdf2_sha1_block(const void *Passphrase, UINTN PassphraseLength, const void *Salt, UINTN SaltLength,
                       UINTN Iterations, UINT32 BlockIndex, UINT8 *Out);

// PSK = PBKDF2-HMAC-SHA1(passphrase, SSID, 4096, 32 octets). 1, or 0 with
// nothing written for a passphrase of 64 octets or more or an SSID above 32.
int psk_from_passphrase(const void *Passphrase, UINTN PassphraseLength, const void *Ssid, UINTN SsidLength,
                        UINT8 *Psk);

// Shifts a big-endian octet string right by Bits (1..7) in place; other
// shift counts leave the buffer alone.
void shift_right_bits(UINT8 *Buffer, UINTN Length, UINTN Bits);
