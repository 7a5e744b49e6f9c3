// RC4, for the Key Data field of WPA (key descriptor version 1) frames.
#pragma once
#include <uefi/Base.h>

struct rc4_state {
  UINT32 x;
  UINT32 y;
  UINT32 S[256];  // a permutation of 0..255
};

// Key schedule. An empty key (no key octets to schedule) leaves the identity
// permutation.
void rc4_set_key(rc4_state *State, UINTN KeyLength, const UINT8 *Key);
// Output = input XOR keystream; In and Out may be the same buffer.
void rc4_crypt(rc4_state *State, UINTN Length, const UINT8 *In, UINT8 *Out);
