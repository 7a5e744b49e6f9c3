// SHA-256 block compression with the SHA extensions. SHA256RNDS2 runs two
// rounds on the state split as ABEF / CDGH; the message schedule runs four
// words at a time with SHA256MSG1/SHA256MSG2.
#include "ShaCompress.h"
#include "X86Intrinsics.h"

namespace {

struct Sha256Lanes {
  __m128i Abef;
  __m128i Cdgh;
  __m128i W[4];  // ring of four-word message groups
};

// Message group G (0..15): groups 0-3 come from the block, later ones are
// W[G] = msg2(msg1(W[G-4], W[G-3]) + (W[G-2..G-1] shifted by one word), W[G-1]).
template <int G>
CRYPTO_TARGET_SHA inline __attribute__((always_inline)) __m128i MessageGroup(Sha256Lanes &L, const UINT8 *Block,
                                                                             __m128i ByteSwap) {
  if constexpr (G < 4) {
    L.W[G] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(Block + 16 * G)), ByteSwap);
  } else {
    const __m128i Sigma0Part = _mm_sha256msg1_epu32(L.W[G % 4], L.W[(G + 1) % 4]);
    const __m128i Sevens = _mm_alignr_epi8(L.W[(G + 3) % 4], L.W[(G + 2) % 4], 4);
    L.W[G % 4] = _mm_sha256msg2_epu32(_mm_add_epi32(Sigma0Part, Sevens), L.W[(G + 3) % 4]);
  }
  return L.W[G % 4];
}

template <int G>
CRYPTO_TARGET_SHA inline __attribute__((always_inline)) void FourRounds(Sha256Lanes &L, const UINT8 *Block,
                                                                        __m128i ByteSwap) {
  const __m128i W = MessageGroup<G>(L, Block, ByteSwap);
  const __m128i K = _mm_loadu_si128(reinterpret_cast<const __m128i *>(Sha256RoundConstants + 4 * G));
  const __m128i KPlusW = _mm_add_epi32(W, K);
  L.Cdgh = _mm_sha256rnds2_epu32(L.Cdgh, L.Abef, KPlusW);
  L.Abef = _mm_sha256rnds2_epu32(L.Abef, L.Cdgh, _mm_shuffle_epi32(KPlusW, 0x0e));
  if constexpr (G + 1 < 16) {
    FourRounds<G + 1>(L, Block, ByteSwap);
  }
}

}  // namespace

CRYPTO_TARGET_SHA void Sha256CompressShaNi(UINT32 State[8], const UINT8 *Blocks, UINTN BlockCount) {
  // Swaps the octets of every 32-bit word (big-endian message words).
  const __m128i ByteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  const __m128i Dcba = _mm_loadu_si128(reinterpret_cast<const __m128i *>(State));
  const __m128i Hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i *>(State + 4));
  const __m128i Cdab = _mm_shuffle_epi32(Dcba, 0xb1);
  const __m128i Efgh = _mm_shuffle_epi32(Hgfe, 0x1b);
  Sha256Lanes L;
  L.Abef = _mm_alignr_epi8(Cdab, Efgh, 8);
  L.Cdgh = _mm_blend_epi16(Efgh, Cdab, 0xf0);
  for (; BlockCount != 0; --BlockCount, Blocks += 64) {
    const __m128i SavedAbef = L.Abef;
    const __m128i SavedCdgh = L.Cdgh;
    FourRounds<0>(L, Blocks, ByteSwap);
    L.Abef = _mm_add_epi32(L.Abef, SavedAbef);
    L.Cdgh = _mm_add_epi32(L.Cdgh, SavedCdgh);
  }
  const __m128i Feba = _mm_shuffle_epi32(L.Abef, 0x1b);
  const __m128i Dchg = _mm_shuffle_epi32(L.Cdgh, 0xb1);
  _mm_storeu_si128(reinterpret_cast<__m128i *>(State), _mm_blend_epi16(Feba, Dchg, 0xf0));
  _mm_storeu_si128(reinterpret_cast<__m128i *>(State + 4), _mm_alignr_epi8(Dchg, Feba, 8));
}
