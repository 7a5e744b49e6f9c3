#include "Rc4.h"

void rc4_set_key(rc4_state *State, UINTN KeyLength, const UINT8 *Key) {
  State->x = 0;
  State->y = 0;
  for (UINT32 i = 0; i < 256; ++i) {
    State->S[i] = i;
  }
  if (KeyLength == 0) {
    return;
  }
  UINT32 j = 0;
  UINTN Position = 0;
  for (UINT32 i = 0; i < 256; ++i) {
    j = (j + State->S[i] + Key[Position]) & 0xff;
    const UINT32 Swap = State->S[i];
    State->S[i] = State->S[j];
    State->S[j] = Swap;
    if (++Position == KeyLength) {
      Position = 0;
    }
  }
}

void rc4_crypt(rc4_state *State, UINTN Length, const UINT8 *In, UINT8 *Out) {
  UINT32 x = State->x & 0xff;
  UINT32 y = State->y & 0xff;
  UINT32 *S = State->S;
  for (UINTN k = 0; k < Length; ++k) {
    x = (x + 1) & 0xff;
    const UINT32 Sx = S[x];
    y = (y + Sx) & 0xff;
    const UINT32 Sy = S[y];
    S[x] = Sy;
    S[y] = Sx;
    Out[k] = (UINT8)(In[k] ^ S[(Sx + Sy) & 0xff]);
  }
  State->x = x;
  State->y = y;
}
