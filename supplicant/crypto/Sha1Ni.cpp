// SHA-1 block compression with the SHA extensions. Four rounds per
// SHA1RNDS4; the message schedule runs four words at a time with
// SHA1MSG1/SHA1MSG2, and the E term is folded in by SHA1NEXTE.
#include "ShaCompress.h"
#include "X86Intrinsics.h"

namespace {

struct Sha1Lanes {
  __m128i Abcd;      // A in the top lane
  __m128i E;         // E + W for the next four rounds
  __m128i Previous;  // ABCD before the last four rounds (source of the next E)
  __m128i W[4];      // ring of four-word message groups
};

// Message group G (0..19): groups 0-3 come from the block, later ones are
// W[G] = msg2(msg1(W[G-4], W[G-3]) ^ W[G-2], W[G-1]).
template <int G>
CRYPTO_TARGET_SHA inline __attribute__((always_inline)) __m128i MessageGroup(Sha1Lanes &L, const UINT8 *Block,
                                                                             __m128i ByteSwap) {
  if constexpr (G < 4) {
    L.W[G] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(Block + 16 * G)), ByteSwap);
  } else {
    const __m128i Partial = _mm_xor_si128(_mm_sha1msg1_epu32(L.W[G % 4], L.W[(G + 1) % 4]), L.W[(G + 2) % 4]);
    L.W[G % 4] = _mm_sha1msg2_epu32(Partial, L.W[(G + 3) % 4]);
  }
  return L.W[G % 4];
}

template <int G>
CRYPTO_TARGET_SHA inline __attribute__((always_inline)) void FourRounds(Sha1Lanes &L, const UINT8 *Block,
                                                                        __m128i ByteSwap) {
  const __m128i W = MessageGroup<G>(L, Block, ByteSwap);
  __m128i EPlusW;
  if constexpr (G == 0) {
    EPlusW = _mm_add_epi32(L.E, W);
  } else {
    EPlusW = _mm_sha1nexte_epu32(L.Previous, W);
  }
  L.Previous = L.Abcd;
  L.Abcd = _mm_sha1rnds4_epu32(L.Abcd, EPlusW, G / 5);
  if constexpr (G + 1 < 20) {
    FourRounds<G + 1>(L, Block, ByteSwap);
  }
}

}  // namespace

CRYPTO_TARGET_SHA void Sha1CompressShaNi(UINT32 State[5], const UINT8 *Blocks, UINTN BlockCount) {
  // Reverses all 16 octets: big-endian message words land in lanes 3..0.
  const __m128i ByteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  Sha1Lanes L;
  L.Abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(State)), 0x1b);
  L.E = _mm_set_epi32((int)State[4], 0, 0, 0);
  for (; BlockCount != 0; --BlockCount, Blocks += 64) {
    const __m128i SavedAbcd = L.Abcd;
    const __m128i SavedE = L.E;
    FourRounds<0>(L, Blocks, ByteSwap);
    L.E = _mm_sha1nexte_epu32(L.Previous, SavedE);
    L.Abcd = _mm_add_epi32(L.Abcd, SavedAbcd);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i *>(State), _mm_shuffle_epi32(L.Abcd, 0x1b));
  State[4] = (UINT32)_mm_extract_epi32(L.E, 3);
}
