// AES block cipher (FIPS 197) with 128-, 192- and 256-bit keys.
#pragma once
#include <uefi/Base.h>

constexpr UINTN AES_BLOCK_SIZE = 16;

// Round keys as 32-bit words, one per column with the column's first octet
// in the low-order bits, so the words lie in memory in FIPS 197 octet order.
// A decryption schedule holds the round keys in reverse round order with
// InvMixColumns applied to all but the first and the last (the equivalent
// inverse cipher).
struct aes_key_schedule {
  UINT32 round_keys[60];  // 4 * (rounds + 1) used: 44, 52 or 60
  UINT32 rounds;          // 10, 12 or 14
};

// Return the round count (10, 12, 14), or 0 for a key length other than 128,
// 192 or 256 bits (the schedule is then cleared).
int aes_set_encrypt_key(aes_key_schedule *Schedule, const UINT8 *Key, UINTN KeyBits);
int aes_set_decrypt_key(aes_key_schedule *Schedule, const UINT8 *Key, UINTN KeyBits);

// Rounds must be the count the schedule operation returned; any other value
// (or an unset schedule) yields sixteen zero octets.
void aes_encrypt_block(const aes_key_schedule *Schedule, int Rounds, const UINT8 *In, UINT8 *Out);
void aes_decrypt_block(const aes_key_schedule *Schedule, int Rounds, const UINT8 *In, UINT8 *Out);
