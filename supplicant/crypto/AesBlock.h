// Block functions behind aes_encrypt_block / aes_decrypt_block: portable
// tables and AES-NI, identical results. Internal to the crypto library.
#pragma once
#include <uefi/Base.h>

using AesBlockFn = void (*)(const UINT32 *RoundKeys, unsigned Rounds, const UINT8 *In, UINT8 *Out);

void AesEncryptPortable(const UINT32 *RoundKeys, unsigned Rounds, const UINT8 *In, UINT8 *Out);
void AesDecryptPortable(const UINT32 *RoundKeys, unsigned Rounds, const UINT8 *In, UINT8 *Out);
void AesEncryptNi(const UINT32 *RoundKeys, unsigned Rounds, const UINT8 *In, UINT8 *Out);
void AesDecryptNi(const UINT32 *RoundKeys, unsigned Rounds, const UINT8 *In, UINT8 *Out);

// The block functions to use now (AES-NI when available and not forced off).
AesBlockFn AesEncryptor();
AesBlockFn AesDecryptor();
