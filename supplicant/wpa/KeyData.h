// Decryption of the key data of message 3 and group message 1: RC4 for
// descriptor version 1, AES key unwrap for versions 0, 2 and 3.
#pragma once
#include <uefi/Uefi.h>

constexpr UINTN SUP_KEK_LEN = 16;
// Room for decrypted key data: the AP's element and RSNXE, GTK, IGTK, BIGTK,
// OCI and transition-disable KDEs and padding take up to about 180 bytes;
// 256 is the most AES key unwrap takes.
constexpr UINTN SUP_KEY_DATA_BUFFER_SIZE = 256;

// TRUE when the key data of this length could be decrypted by the given
// version into the buffer: RC4 up to the buffer size; AES key wrap a multiple
// of 8 bytes from 16 to the buffer size plus the 8-byte integrity value.
BOOLEAN SupKeyDataLengthAcceptable(UINT8 Version, UINTN KeyDataLength);

// Decrypts KeyDataLength bytes of key data of a received frame (whose key IV
// and descriptor version it reads) into Plaintext (SUP_KEY_DATA_BUFFER_SIZE
// bytes), setting *PlaintextLength. FALSE, with nothing meaningful in
// Plaintext, for an unacceptable length, versions 4-7, or an AES integrity
// value that is not the RFC 3394 default.
BOOLEAN SupDecryptKeyData(const UINT8 *Frame, const UINT8 *Kek, UINTN KeyDataLength, UINT8 *Plaintext,
                          UINTN *PlaintextLength);
