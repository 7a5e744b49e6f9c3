#include "Sha256.h"

#include "CpuFeatures.h"
#include "CryptoUtil.h"
#include "ShaCompress.h"
#include "X86Intrinsics.h"

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

// The schedule of one block: the 64 words, and each word plus its round
// constant (what a round adds). 16-byte aligned for the four-lane extension.
struct SHA256_SCHEDULE {
  alignas(16) UINT32 Words[64];
  alignas(16) UINT32 Addends[64];
};

inline __attribute__((always_inline)) __m128i Load4(const UINT32 *Words) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i *>(Words));
}

// Four lanes, each rotated right by Count bits.
template <int Count>
inline __attribute__((always_inline)) __m128i RotateLanesRight(__m128i V) {
  return _mm_or_si128(_mm_srli_epi32(V, Count), _mm_slli_epi32(V, 32 - Count));
}

inline __attribute__((always_inline)) __m128i SmallSigma0Lanes(__m128i V) {
  return _mm_xor_si128(_mm_xor_si128(RotateLanesRight<7>(V), RotateLanesRight<18>(V)), _mm_srli_epi32(V, 3));
}

inline __attribute__((always_inline)) __m128i SmallSigma1Lanes(__m128i V) {
  return _mm_xor_si128(_mm_xor_si128(RotateLanesRight<17>(V), RotateLanesRight<19>(V)), _mm_srli_epi32(V, 10));
}

// Words T to T + 3 (T a multiple of four from 16 on), four lanes at a time:
// W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16]. The last two lanes'
// W[t-2] and W[t-1] are the first two lanes' results, so s1 goes in twice:
// first of words T - 2 and T - 1 into lanes 0 and 1, then of the new lanes
// 0 and 1 into lanes 2 and 3 (s1 of zero is zero). Recent holds words T - 4
// to T - 1 and takes the new ones.
inline __attribute__((always_inline)) void ExtendSchedule(SHA256_SCHEDULE &S, __m128i &Recent, unsigned T) {
  const UINT32 *W = S.Words;
  __m128i Next = _mm_add_epi32(_mm_add_epi32(_mm_load_si128(reinterpret_cast<const __m128i *>(W + T - 16)),
                                             SmallSigma0Lanes(Load4(W + T - 15))),
                               Load4(W + T - 7));
  Next = _mm_add_epi32(Next, SmallSigma1Lanes(_mm_srli_si128(Recent, 8)));
  Next = _mm_add_epi32(Next, SmallSigma1Lanes(_mm_slli_si128(Next, 8)));
  Recent = Next;
  _mm_store_si128(reinterpret_cast<__m128i *>(S.Words + T), Next);
  _mm_store_si128(reinterpret_cast<__m128i *>(S.Addends + T), _mm_add_epi32(Next, Load4(Sha256RoundConstants + T)));
}

// Round J of eight, then the rest of the eight with the working variables
// rotated one place: only D (the new E) and H (the new A) change, so nothing
// is moved between rounds, and after eight they are back in place.
template <unsigned J>
inline __attribute__((always_inline)) void Rounds(UINT32 &A, UINT32 &B, UINT32 &C, UINT32 &D, UINT32 &E, UINT32 &F,
                                                  UINT32 &G, UINT32 &H, const UINT32 *Addends) {
  H += Addends[J];
  H += BigSigma1(E) + (G ^ (E & (F ^ G)));
  D += H;
  H += BigSigma0(A) + ((A & B) + (C & (A ^ B)));
  if constexpr (J + 1 < 8) {
    Rounds<J + 1>(H, A, B, C, D, E, F, G, Addends);
  }
}

}  // namespace

// Eight runs of eight rounds: a loop instead of 64 unrolled rounds, an eighth
// of the code. Runs 0 to 5 first extend the schedule by eight words, sixteen
// ahead of the rounds that take them, so the extension overlaps the rounds.
void Sha256CompressPortable(UINT32 State[8], const UINT8 *Blocks, UINTN BlockCount) {
  SHA256_SCHEDULE S;
  __m128i Recent = _mm_setzero_si128();
  for (; BlockCount != 0; --BlockCount, Blocks += 64) {
    for (unsigned i = 0; i < 16; ++i) {
      S.Words[i] = LoadBe32(Blocks + 4 * i);
    }
    for (unsigned T = 0; T < 16; T += 4) {
      Recent = _mm_load_si128(reinterpret_cast<const __m128i *>(S.Words + T));
      _mm_store_si128(reinterpret_cast<__m128i *>(S.Addends + T),
                      _mm_add_epi32(Recent, Load4(Sha256RoundConstants + T)));
    }
    UINT32 A = State[0], B = State[1], C = State[2], D = State[3];
    UINT32 E = State[4], F = State[5], G = State[6], H = State[7];
#pragma GCC unroll 1
    for (unsigned Run = 0; Run < 8; ++Run) {
      if (Run < 6) {
        ExtendSchedule(S, Recent, 16 + 8 * Run);
        ExtendSchedule(S, Recent, 20 + 8 * Run);
      }
      Rounds<0>(A, B, C, D, E, F, G, H, S.Addends + 8 * Run);
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
  Wipe(S);
  Wipe(Recent);
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
