#include "Sha1.h"

#include "CpuFeatures.h"
#include "CryptoUtil.h"
#include "ShaCompress.h"
#include "X86Intrinsics.h"

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

// The schedule of one block: the 80 words, and each word plus its stage's
// constant (what a step adds). 16-byte aligned for the four-lane extension.
struct SHA1_SCHEDULE {
  alignas(16) UINT32 Words[80];
  alignas(16) UINT32 Addends[80];
};

// Four lanes, each rotated left by one bit.
inline __attribute__((always_inline)) __m128i RotateLanesLeft1(__m128i V) {
  return _mm_or_si128(_mm_slli_epi32(V, 1), _mm_srli_epi32(V, 31));
}

// Words T to T + 3 (T a multiple of four from 16 on), four lanes at a time:
// W[t] = rotl1(W[t-3] ^ W[t-8] ^ W[t-14] ^ W[t-16]). The last lane's
// W[t-3] is the first lane's result, folded in afterwards (the rotation
// distributes over exclusive or). Recent holds words T - 4 to T - 1 and
// takes the new ones: the chain from one extension to the next stays in a
// register. The stages change at multiples of four, so the four words share
// a constant.
inline __attribute__((always_inline)) void ExtendSchedule(SHA1_SCHEDULE &S, __m128i &Recent, unsigned T) {
  const UINT32 *W = S.Words;
  const __m128i Older = _mm_xor_si128(
      _mm_xor_si128(_mm_load_si128(reinterpret_cast<const __m128i *>(W + T - 16)),
                    _mm_loadu_si128(reinterpret_cast<const __m128i *>(W + T - 14))),
      _mm_load_si128(reinterpret_cast<const __m128i *>(W + T - 8)));
  // W[t-3], W[t-2], W[t-1] and 0.
  __m128i Next = RotateLanesLeft1(_mm_xor_si128(Older, _mm_srli_si128(Recent, 4)));
  Next = _mm_xor_si128(Next, RotateLanesLeft1(_mm_slli_si128(Next, 12)));
  Recent = Next;
  _mm_store_si128(reinterpret_cast<__m128i *>(S.Words + T), Next);
  _mm_store_si128(reinterpret_cast<__m128i *>(S.Addends + T),
                  _mm_add_epi32(Next, _mm_set1_epi32(static_cast<int>(StageConstant[T / 20]))));
}

// The first sixteen addends, from the block's own words; Recent takes words
// 12 to 15.
inline __attribute__((always_inline)) void StartSchedule(SHA1_SCHEDULE &S, __m128i &Recent) {
  for (unsigned T = 0; T < 16; T += 4) {
    Recent = _mm_load_si128(reinterpret_cast<const __m128i *>(S.Words + T));
    _mm_store_si128(reinterpret_cast<__m128i *>(S.Addends + T),
                    _mm_add_epi32(Recent, _mm_set1_epi32(static_cast<int>(StageConstant[0]))));
  }
}

// One step; the caller rotates the variables.
template <unsigned Stage>
inline __attribute__((always_inline)) void Step(UINT32 A, UINT32 &B, UINT32 C, UINT32 D, UINT32 &E, UINT32 Addend) {
  E += Addend;
  E += StageFunction<Stage>(B, C, D);
  E += RotateLeft32(A, 5);
  B = RotateLeft32(B, 30);
}

// Five steps: the variables come back to their places.
template <unsigned Stage>
inline __attribute__((always_inline)) void FiveSteps(UINT32 &A, UINT32 &B, UINT32 &C, UINT32 &D, UINT32 &E,
                                                     const UINT32 *Addends) {
  Step<Stage>(A, B, C, D, E, Addends[0]);
  Step<Stage>(E, A, B, C, D, Addends[1]);
  Step<Stage>(D, E, A, B, C, Addends[2]);
  Step<Stage>(C, D, E, A, B, Addends[3]);
  Step<Stage>(B, C, D, E, A, Addends[4]);
}

// The twenty steps of one stage as four runs of five. Run r first extends
// the schedule by words 16 + 4r to 19 + 4r: sixteen runs cover words 16 to
// 79, always ahead of the steps that take them, and the extension's own
// chain overlaps the steps. A loop of runs instead of 80 unrolled steps: a
// quarter of the code, no more instructions per block.
template <unsigned Stage>
inline __attribute__((always_inline)) void StageSteps(UINT32 &A, UINT32 &B, UINT32 &C, UINT32 &D, UINT32 &E,
                                                      SHA1_SCHEDULE &S, __m128i &Recent) {
#pragma GCC unroll 1
  for (unsigned Run = 4 * Stage; Run < 4 * Stage + 4; ++Run) {
    ExtendSchedule(S, Recent, 16 + 4 * Run);
    FiveSteps<Stage>(A, B, C, D, E, S.Addends + 5 * Run);
  }
}

// The one block of an HMAC-SHA1 over a 20-octet message after the 64-octet
// key block: the message words, the padding bit, then 672 message bits.
void SetDigestBlock(UINT32 *W, const UINT32 Digest[5]) {
  for (unsigned i = 0; i < 5; ++i) {
    W[i] = Digest[i];
  }
  W[5] = 0x80000000;
  for (unsigned i = 6; i < 15; ++i) {
    W[i] = 0;
  }
  W[15] = (64 + 20) * 8;
}

// State = Start compressed over the block whose words 0 to 15 are in S (the
// one copy of the 80 steps; State may be Start).
void CompressWords(const UINT32 Start[5], SHA1_SCHEDULE &S, UINT32 State[5]) {
  __m128i Recent;
  StartSchedule(S, Recent);
  UINT32 A = Start[0], B = Start[1], C = Start[2], D = Start[3], E = Start[4];
  StageSteps<0>(A, B, C, D, E, S, Recent);
  StageSteps<1>(A, B, C, D, E, S, Recent);
  StageSteps<2>(A, B, C, D, E, S, Recent);
  StageSteps<3>(A, B, C, D, E, S, Recent);
  State[0] = Start[0] + A;
  State[1] = Start[1] + B;
  State[2] = Start[2] + C;
  State[3] = Start[3] + D;
  State[4] = Start[4] + E;
  Wipe(Recent);
}

}  // namespace

void Sha1CompressPortable(UINT32 State[5], const UINT8 *Blocks, UINTN BlockCount) {
  SHA1_SCHEDULE Schedule;
  for (; BlockCount != 0; --BlockCount, Blocks += 64) {
    for (unsigned i = 0; i < 16; ++i) {
      Schedule.Words[i] = LoadBe32(Blocks + 4 * i);
    }
    CompressWords(State, Schedule, State);
  }
  Wipe(Schedule);
}

Sha1CompressFn Sha1Compressor() {
  return crypto_cpu_has_sha() ? Sha1CompressShaNi : Sha1CompressPortable;
}

void Sha1Pbkdf2PairPortable(SHA1_PBKDF2_CHAIN Chains[2], UINTN Rounds) {
  // The chains' compressions alternate, so that each one starts while the
  // other's last steps are still in flight.
  SHA1_SCHEDULE Schedule;
  UINT32 Inner[2][5];
  for (UINTN Round = 0; Round < Rounds; ++Round) {
    for (unsigned Chain = 0; Chain < 2; ++Chain) {
      SetDigestBlock(Schedule.Words, Chains[Chain].U);
      CompressWords(Chains[Chain].Inner, Schedule, Inner[Chain]);
    }
    for (unsigned Chain = 0; Chain < 2; ++Chain) {
      SHA1_PBKDF2_CHAIN &C = Chains[Chain];
      SetDigestBlock(Schedule.Words, Inner[Chain]);
      CompressWords(C.Outer, Schedule, C.U);
      for (unsigned i = 0; i < 5; ++i) {
        C.T[i] ^= C.U[i];
      }
    }
  }
  Wipe(Schedule);
  Wipe(Inner);
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
