#include "Sha1.h"

#include "CpuFeatures.h"
#include "CryptoUtil.h"
#include "ShaCompress.h"

using namespace crypto_util;

namespace {

constexpr UINT32 Sha1InitialState[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};

template <unsigned Stage>
inline __attribute__((always_inline)) UINT32 StageFunction(UINT32 B, UINT32 C, UINT32 D) {
  if constexpr (Stage == 0) {
    return D ^ (B & (C ^ D));  // choose
  } else if constexpr (Stage == 2) {
    return (B & C) + (D & (B ^ C));  // majority; the two terms never share a bit
  } else {
    return B ^ C ^ D;  // parity
  }
}

constexpr UINT32 StageConstant[4] = {0x5a827999, 0x6ed9eba1, 0x8f1bbcdc, 0xca62c1d6};

// Step T of 80, then the rest with the working variables rotated one place
// (so nothing is moved between steps). W is the 16-word schedule ring. The
// terms that do not depend on A are added first: only the rotation of the
// newest A stays on the critical path.
template <unsigned T>
inline __attribute__((always_inline)) void Step(UINT32 &A, UINT32 &B, UINT32 &C, UINT32 &D, UINT32 &E,
                                                UINT32 (&W)[16]) {
  UINT32 Word;
  if constexpr (T < 16) {
    Word = W[T];
  } else {
    Word = RotateLeft32(W[(T + 13) & 15] ^ W[(T + 8) & 15] ^ W[(T + 2) & 15] ^ W[T & 15], 1);
    W[T & 15] = Word;
  }
  E += Word + StageConstant[T / 20];
  E += StageFunction<T / 20>(B, C, D);
  E += RotateLeft32(A, 5);
  B = RotateLeft32(B, 30);
}

template <unsigned T>
inline __attribute__((always_inline)) void Steps(UINT32 &A, UINT32 &B, UINT32 &C, UINT32 &D, UINT32 &E,
                                                 UINT32 (&W)[16]) {
  Step<T>(A, B, C, D, E, W);
  if constexpr (T + 1 < 80) {
    Steps<T + 1>(E, A, B, C, D, W);
  }
}

// The same 80 steps on two independent blocks, step by step side by side so
// that each one's dependency chain fills the other's gaps.
template <unsigned T>
inline __attribute__((always_inline)) void StepsPair(UINT32 &A, UINT32 &B, UINT32 &C, UINT32 &D, UINT32 &E,
                                                     UINT32 (&W)[16], UINT32 &A2, UINT32 &B2, UINT32 &C2,
                                                     UINT32 &D2, UINT32 &E2, UINT32 (&W2)[16]) {
  Step<T>(A, B, C, D, E, W);
  Step<T>(A2, B2, C2, D2, E2, W2);
  if constexpr (T + 1 < 80) {
    StepsPair<T + 1>(E, A, B, C, D, W, E2, A2, B2, C2, D2, W2);
  }
}

// The one block of an HMAC-SHA1 over a 20-octet message after the 64-octet
// key block: the message words, the padding bit, then 672 message bits.
void SetDigestBlock(UINT32 (&W)[16], const UINT32 Digest[5]) {
  for (unsigned i = 0; i < 5; ++i) {
    W[i] = Digest[i];
  }
  W[5] = 0x80000000;
  for (unsigned i = 6; i < 15; ++i) {
    W[i] = 0;
  }
  W[15] = (64 + 20) * 8;
}

// State = Start compressed over the digest block of Message, for two chains.
void CompressDigestBlockPair(const UINT32 Start[5], const UINT32 Message[5], UINT32 State[5],
                             const UINT32 Start2[5], const UINT32 Message2[5], UINT32 State2[5]) {
  UINT32 W[16], W2[16];
  SetDigestBlock(W, Message);
  SetDigestBlock(W2, Message2);
  UINT32 A = Start[0], B = Start[1], C = Start[2], D = Start[3], E = Start[4];
  UINT32 A2 = Start2[0], B2 = Start2[1], C2 = Start2[2], D2 = Start2[3], E2 = Start2[4];
  StepsPair<0>(A, B, C, D, E, W, A2, B2, C2, D2, E2, W2);
  const UINT32 Out[5] = {A, B, C, D, E}, Out2[5] = {A2, B2, C2, D2, E2};
  for (unsigned i = 0; i < 5; ++i) {
    State[i] = Start[i] + Out[i];
    State2[i] = Start2[i] + Out2[i];
  }
  Wipe(W);
  Wipe(W2);
}

}  // namespace

void Sha1CompressPortable(UINT32 State[5], const UINT8 *Blocks, UINTN BlockCount) {
  UINT32 W[16];
  for (; BlockCount != 0; --BlockCount, Blocks += 64) {
    for (unsigned i = 0; i < 16; ++i) {
      W[i] = LoadBe32(Blocks + 4 * i);
    }
    UINT32 A = State[0], B = State[1], C = State[2], D = State[3], E = State[4];
    Steps<0>(A, B, C, D, E, W);
    // 80 steps rotate the variables 16 times round: they are back in place.
    State[0] += A;
    State[1] += B;
    State[2] += C;
    State[3] += D;
    State[4] += E;
  }
  Wipe(W);
}

Sha1CompressFn Sha1Compressor() {
  return crypto_cpu_has_sha() ? Sha1CompressShaNi : Sha1CompressPortable;
}

void Sha1Pbkdf2PairPortable(SHA1_PBKDF2_CHAIN Chains[2], UINTN Rounds) {
  SHA1_PBKDF2_CHAIN &First = Chains[0], &Second = Chains[1];
  UINT32 Inner[5], Inner2[5];
  for (UINTN Round = 0; Round < Rounds; ++Round) {
    CompressDigestBlockPair(First.Inner, First.U, Inner, Second.Inner, Second.U, Inner2);
    CompressDigestBlockPair(First.Outer, Inner, First.U, Second.Outer, Inner2, Second.U);
    for (unsigned i = 0; i < 5; ++i) {
      First.T[i] ^= First.U[i];
      Second.T[i] ^= Second.U[i];
    }
  }
  Wipe(Inner);
  Wipe(Inner2);
}

Sha1Pbkdf2PairFn Sha1Pbkdf2Pair() {
  return crypto_cpu_has_sha() ? Sha1Pbkdf2PairShaNi : Sha1Pbkdf2PairPortable;
}

void sha1_init(sha1_ctx *Context) {
  for (unsigned i = 0; i < 5; ++i) {
    Context->state[i] = Sha1InitialState[i];
  }
  Context->count[0] = 0;
  Context->count[1] = 0;
  FillBytes(Context->block, 0, sizeof(Context->block));
}

void sha1_update(sha1_ctx *Context, const void *Data, UINTN Length) {
  const UINT8 *Input = static_cast<const UINT8 *>(Data);
  UINTN Fill = (Context->count[0] >> 3) & 63;
  // The bit count is kept as two 32-bit words; the high word takes the carry
  // of the low one and the octet count's bits above 2^29.
  const UINT32 LowBefore = Context->count[0];
  Context->count[0] += (UINT32)(Length << 3);
  if (Context->count[0] < LowBefore) {
    ++Context->count[1];
  }
  Context->count[1] += (UINT32)(Length >> 29);

  const Sha1CompressFn Compress = Sha1Compressor();
  if (Fill != 0) {
    const UINTN Take = Minimum(Length, 64 - Fill);
    CopyBytes(Context->block + Fill, Input, Take);
    Fill += Take;
    Input += Take;
    Length -= Take;
    if (Fill < 64) {
      return;
    }
    Compress(Context->state, Context->block, 1);
  }
  if (Length >= 64) {
    Compress(Context->state, Input, Length / 64);
    Input += Length & ~(UINTN)63;
    Length &= 63;
  }
  CopyBytes(Context->block, Input, Length);
}

void sha1_final(UINT8 *Digest, sha1_ctx *Context) {
  const Sha1CompressFn Compress = Sha1Compressor();
  UINTN Fill = (Context->count[0] >> 3) & 63;
  Context->block[Fill++] = 0x80;
  if (Fill > 56) {
    FillBytes(Context->block + Fill, 0, 64 - Fill);
    Compress(Context->state, Context->block, 1);
    Fill = 0;
  }
  FillBytes(Context->block + Fill, 0, 56 - Fill);
  StoreBe32(Context->block + 56, Context->count[1]);
  StoreBe32(Context->block + 60, Context->count[0]);
  Compress(Context->state, Context->block, 1);
  for (unsigned i = 0; i < 5; ++i) {
    StoreBe32(Digest + 4 * i, Context->state[i]);
  }
  WipeBytes(Context, sizeof(*Context));
}

int sha1_digest_vec(UINTN Count, const UINT8 *const Address[], const UINTN Length[], UINT8 *Digest) {
  sha1_ctx Context;
  sha1_init(&Context);
  for (UINTN i = 0; i < Count; ++i) {
    sha1_update(&Context, Address[i], Length[i]);
  }
  sha1_final(Digest, &Context);
  return 0;
}
