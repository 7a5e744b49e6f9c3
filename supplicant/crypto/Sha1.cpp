#include "Sha1.h"

#include "CpuFeatures.h"
#include "CryptoUtil.h"
#include "ShaCompress.h"

using namespace crypto_util;

constexpr UINT32 Sha1InitialState[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};

namespace {

// One step of each of the four 20-step stages. The caller rotates the
// argument order instead of moving the five working variables around.
inline void Step0(UINT32 A, UINT32 &B, UINT32 C, UINT32 D, UINT32 &E, UINT32 W) {
  E += RotateLeft32(A, 5) + (D ^ (B & (C ^ D))) + 0x5a827999 + W;
  B = RotateLeft32(B, 30);
}
inline void Step1(UINT32 A, UINT32 &B, UINT32 C, UINT32 D, UINT32 &E, UINT32 W) {
  E += RotateLeft32(A, 5) + (B ^ C ^ D) + 0x6ed9eba1 + W;
  B = RotateLeft32(B, 30);
}
inline void Step2(UINT32 A, UINT32 &B, UINT32 C, UINT32 D, UINT32 &E, UINT32 W) {
  E += RotateLeft32(A, 5) + ((B & C) | (D & (B | C))) + 0x8f1bbcdc + W;
  B = RotateLeft32(B, 30);
}
inline void Step3(UINT32 A, UINT32 &B, UINT32 C, UINT32 D, UINT32 &E, UINT32 W) {
  E += RotateLeft32(A, 5) + (B ^ C ^ D) + 0xca62c1d6 + W;
  B = RotateLeft32(B, 30);
}

// Message schedule in a 16-word ring: W[t] for t >= 16.
inline UINT32 Expand(UINT32 W[16], unsigned T) {
  const UINT32 Value = RotateLeft32(W[(T + 13) & 15] ^ W[(T + 8) & 15] ^ W[(T + 2) & 15] ^ W[T & 15], 1);
  W[T & 15] = Value;
  return Value;
}

using StepFn = void (*)(UINT32, UINT32 &, UINT32, UINT32, UINT32 &, UINT32);

// Five steps starting at T, the working variables rotating one place per step.
template <StepFn Step, bool Schedule>
inline void FiveSteps(UINT32 &A, UINT32 &B, UINT32 &C, UINT32 &D, UINT32 &E, UINT32 W[16], unsigned T) {
  auto Word = [&](unsigned Index) { return Schedule ? Expand(W, Index) : W[Index & 15]; };
  Step(A, B, C, D, E, Word(T));
  Step(E, A, B, C, D, Word(T + 1));
  Step(D, E, A, B, C, Word(T + 2));
  Step(C, D, E, A, B, Word(T + 3));
  Step(B, C, D, E, A, Word(T + 4));
}

}  // namespace

void Sha1CompressPortable(UINT32 State[5], const UINT8 *Blocks, UINTN BlockCount) {
  UINT32 W[16];
  for (; BlockCount != 0; --BlockCount, Blocks += 64) {
    for (unsigned i = 0; i < 16; ++i) {
      W[i] = LoadBe32(Blocks + 4 * i);
    }
    UINT32 A = State[0], B = State[1], C = State[2], D = State[3], E = State[4];
    FiveSteps<Step0, false>(A, B, C, D, E, W, 0);
    FiveSteps<Step0, false>(A, B, C, D, E, W, 5);
    FiveSteps<Step0, false>(A, B, C, D, E, W, 10);
    Step0(A, B, C, D, E, W[15]);
    Step0(E, A, B, C, D, Expand(W, 16));
    Step0(D, E, A, B, C, Expand(W, 17));
    Step0(C, D, E, A, B, Expand(W, 18));
    Step0(B, C, D, E, A, Expand(W, 19));
    for (unsigned T = 20; T < 40; T += 5) {
      FiveSteps<Step1, true>(A, B, C, D, E, W, T);
    }
    for (unsigned T = 40; T < 60; T += 5) {
      FiveSteps<Step2, true>(A, B, C, D, E, W, T);
    }
    for (unsigned T = 60; T < 80; T += 5) {
      FiveSteps<Step3, true>(A, B, C, D, E, W, T);
    }
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
