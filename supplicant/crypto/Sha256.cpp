#include "Sha256.h"

#include "CpuFeatures.h"
#include "CryptoUtil.h"
#include "ShaCompress.h"

using namespace crypto_util;

namespace {
constexpr UINT32 Sha256InitialState[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                          0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
}  // namespace

constexpr UINT32 Sha256RoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

namespace {

inline UINT32 BigSigma0(UINT32 X) { return RotateRight32(X, 2) ^ RotateRight32(X, 13) ^ RotateRight32(X, 22); }
inline UINT32 BigSigma1(UINT32 X) { return RotateRight32(X, 6) ^ RotateRight32(X, 11) ^ RotateRight32(X, 25); }
inline UINT32 SmallSigma0(UINT32 X) { return RotateRight32(X, 7) ^ RotateRight32(X, 18) ^ (X >> 3); }
inline UINT32 SmallSigma1(UINT32 X) { return RotateRight32(X, 17) ^ RotateRight32(X, 19) ^ (X >> 10); }

// Round J of one turn of sixteen, then the rest of the turn with the working
// variables rotated one place: only D (the new E) and H (the new A) change,
// so nothing is moved between rounds, and after sixteen rounds the variables
// are back in place. W is the 16-word schedule ring, K the turn's sixteen
// round constants; from the second turn on each round first extends the
// schedule. A first turn on the block's own words and one extending turn run
// three times: half the code of 64 unrolled rounds, with a few more
// instructions per block (the constants come from memory).
template <unsigned J, bool Extend>
inline __attribute__((always_inline)) void Rounds(UINT32 &A, UINT32 &B, UINT32 &C, UINT32 &D, UINT32 &E, UINT32 &F,
                                                  UINT32 &G, UINT32 &H, UINT32 (&W)[16], const UINT32 *K) {
  if constexpr (Extend) {
    W[J] += SmallSigma1(W[(J + 14) & 15]) + W[(J + 9) & 15] + SmallSigma0(W[(J + 1) & 15]);
  }
  H += W[J] + K[J];
  H += BigSigma1(E) + (G ^ (E & (F ^ G)));
  D += H;
  H += BigSigma0(A) + ((A & B) + (C & (A ^ B)));
  if constexpr (J + 1 < 16) {
    Rounds<J + 1, Extend>(H, A, B, C, D, E, F, G, W, K);
  }
}

}  // namespace

void Sha256CompressPortable(UINT32 State[8], const UINT8 *Blocks, UINTN BlockCount) {
  UINT32 W[16];
  for (; BlockCount != 0; --BlockCount, Blocks += 64) {
    for (unsigned i = 0; i < 16; ++i) {
      W[i] = LoadBe32(Blocks + 4 * i);
    }
    UINT32 A = State[0], B = State[1], C = State[2], D = State[3];
    UINT32 E = State[4], F = State[5], G = State[6], H = State[7];
    Rounds<0, false>(A, B, C, D, E, F, G, H, W, Sha256RoundConstants);
#pragma GCC unroll 1
    for (const UINT32 *K = Sha256RoundConstants + 16; K != Sha256RoundConstants + 64; K += 16) {
      Rounds<0, true>(A, B, C, D, E, F, G, H, W, K);
    }
    State[0] += A;
    State[1] += B;
    State[2] += C;
    State[3] += D;
    State[4] += E;
    State[5] += F;
    State[6] += G;
    State[7] += H;
  }
  Wipe(W);
}

Sha256CompressFn Sha256Compressor() {
  return crypto_cpu_has_sha() ? Sha256CompressShaNi : Sha256CompressPortable;
}

void sha256_init(sha256_ctx *Context) {
  Context->length = 0;
  for (unsigned i = 0; i < 8; ++i) {
    Context->state[i] = Sha256InitialState[i];
  }
  Context->fill = 0;
  FillBytes(Context->block, 0, sizeof(Context->block));
}

int sha256_update(sha256_ctx *Context, const void *Data, UINTN Length) {
  if (Context->fill > 64) {
    return -1;
  }
  const UINT8 *Input = static_cast<const UINT8 *>(Data);
  const Sha256CompressFn Compress = Sha256Compressor();
  // A block left full by a previous caller is compressed before more input
  // is taken, so the fill never runs past the block.
  if (Context->fill == 64) {
    Compress(Context->state, Context->block, 1);
    Context->length += 512;
    Context->fill = 0;
  }
  if (Context->fill != 0) {
    const UINTN Take = Minimum(Length, 64 - Context->fill);
    CopyBytes(Context->block + Context->fill, Input, Take);
    Context->fill += (UINT32)Take;
    Input += Take;
    Length -= Take;
    if (Context->fill < 64) {
      return 0;
    }
    Compress(Context->state, Context->block, 1);
    Context->length += 512;
    Context->fill = 0;
  }
  if (Length >= 64) {
    const UINTN Blocks = Length / 64;
    Compress(Context->state, Input, Blocks);
    Context->length += (UINT64)Blocks * 512;
    Input += Blocks * 64;
    Length -= Blocks * 64;
  }
  CopyBytes(Context->block, Input, Length);
  Context->fill = (UINT32)Length;
  return 0;
}

int sha256_final(sha256_ctx *Context, UINT8 *Digest) {
  if (Context->fill >= 64) {
    return -1;
  }
  const Sha256CompressFn Compress = Sha256Compressor();
  UINTN Fill = Context->fill;
  Context->length += (UINT64)Fill * 8;
  Context->block[Fill++] = 0x80;
  if (Fill > 56) {
    FillBytes(Context->block + Fill, 0, 64 - Fill);
    Compress(Context->state, Context->block, 1);
    Fill = 0;
  }
  FillBytes(Context->block + Fill, 0, 56 - Fill);
  StoreBe64(Context->block + 56, Context->length);
  Compress(Context->state, Context->block, 1);
  for (unsigned i = 0; i < 8; ++i) {
    StoreBe32(Digest + 4 * i, Context->state[i]);
  }
  WipeBytes(Context, sizeof(*Context));
  return 0;
}

int sha256_digest_vec(UINTN Count, const UINT8 *const Address[], const UINTN Length[], UINT8 *Digest) {
  sha256_ctx Context;
  sha256_init(&Context);
  for (UINTN i = 0; i < Count; ++i) {
    sha256_update(&Context, Address[i], Length[i]);
  }
  return sha256_final(&Context, Digest);
}
