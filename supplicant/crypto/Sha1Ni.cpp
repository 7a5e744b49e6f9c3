// SHA-1 block compression with the SHA extensions. Four rounds per
// SHA1RNDS4; the message schedule runs four words at a time with
// SHA1MSG1/SHA1MSG2, and the E term is folded in by SHA1NEXTE.
#include "CryptoUtil.h"
#include "ShaCompress.h"
#include "X86Intrinsics.h"

namespace {

struct Sha1Lanes {
  __m128i Abcd;      // A in the top lane
  __m128i E;         // E + W for the next four rounds
  __m128i Previous;  // ABCD before the last four rounds (source of the next E)
  __m128i W[4];      // ring of four-word message groups; groups 0-3 loaded first
  __m128i SavedAbcd;
  __m128i SavedE;
};

// Message group G (0..19): groups 0-3 are the block, later ones are
// W[G] = msg2(msg1(W[G-4], W[G-3]) ^ W[G-2], W[G-1]).
template <int G>
CRYPTO_TARGET_SHA inline __attribute__((always_inline)) __m128i MessageGroup(Sha1Lanes &L) {
  if constexpr (G >= 4) {
    const __m128i Partial = _mm_xor_si128(_mm_sha1msg1_epu32(L.W[G % 4], L.W[(G + 1) % 4]), L.W[(G + 2) % 4]);
    L.W[G % 4] = _mm_sha1msg2_epu32(Partial, L.W[(G + 3) % 4]);
  }
  return L.W[G % 4];
}

template <int G>
CRYPTO_TARGET_SHA inline __attribute__((always_inline)) void FourRounds(Sha1Lanes &L) {
  const __m128i W = MessageGroup<G>(L);
  __m128i EPlusW;
  if constexpr (G == 0) {
    EPlusW = _mm_add_epi32(L.E, W);
  } else {
    EPlusW = _mm_sha1nexte_epu32(L.Previous, W);
  }
  L.Previous = L.Abcd;
  L.Abcd = _mm_sha1rnds4_epu32(L.Abcd, EPlusW, G / 5);
}

// The 80 rounds of one block on each of the lanes, four rounds of each in
// turn, so that independent blocks overlap in the pipeline.
template <int G, typename... Lanes>
CRYPTO_TARGET_SHA inline __attribute__((always_inline)) void AllRounds(Lanes &...L) {
  (FourRounds<G>(L), ...);
  if constexpr (G + 1 < 20) {
    AllRounds<G + 1>(L...);
  }
}

CRYPTO_TARGET_SHA inline __attribute__((always_inline)) void BeginBlock(Sha1Lanes &L) {
  L.SavedAbcd = L.Abcd;
  L.SavedE = L.E;
}

CRYPTO_TARGET_SHA inline __attribute__((always_inline)) void EndBlock(Sha1Lanes &L) {
  L.E = _mm_sha1nexte_epu32(L.Previous, L.SavedE);
  L.Abcd = _mm_add_epi32(L.Abcd, L.SavedAbcd);
}

// One block on each lane; their message groups 0-3 must be loaded.
template <typename... Lanes>
CRYPTO_TARGET_SHA inline __attribute__((always_inline)) void CompressLoaded(Lanes &...L) {
  (BeginBlock(L), ...);
  AllRounds<0>(L...);
  (EndBlock(L), ...);
}

// Five state words as the two registers: A..D with A in the top lane, and E
// in the top lane of the other.
CRYPTO_TARGET_SHA inline __m128i AbcdOf(const UINT32 Words[5]) {
  return _mm_set_epi32((int)Words[0], (int)Words[1], (int)Words[2], (int)Words[3]);
}
CRYPTO_TARGET_SHA inline __m128i EOf(const UINT32 Words[5]) { return _mm_set_epi32((int)Words[4], 0, 0, 0); }
CRYPTO_TARGET_SHA inline void StoreWords(__m128i Abcd, __m128i E, UINT32 Words[5]) {
  _mm_storeu_si128(reinterpret_cast<__m128i *>(Words), _mm_shuffle_epi32(Abcd, 0x1b));
  Words[4] = (UINT32)_mm_extract_epi32(E, 3);
}

// One PBKDF2 chain in registers: the two saved HMAC states, U and T.
struct Pbkdf2Lanes {
  __m128i InnerAbcd, InnerE, OuterAbcd, OuterE;
  __m128i UAbcd, UE, TAbcd, TE;
};

// The HMAC message block of a 20-octet digest (Abcd, E): the digest words in
// groups 0 and 1 (the word after E is the padding bit), 672 message bits in
// the last word of group 3.
CRYPTO_TARGET_SHA inline __attribute__((always_inline)) void LoadDigestBlock(Sha1Lanes &L, __m128i Abcd, __m128i E) {
  const __m128i TopLane = _mm_set_epi32(-1, 0, 0, 0);
  L.W[0] = Abcd;
  L.W[1] = _mm_or_si128(_mm_and_si128(E, TopLane), _mm_set_epi32(0, (int)0x80000000, 0, 0));
  L.W[2] = _mm_setzero_si128();
  L.W[3] = _mm_set_epi32(0, 0, 0, (64 + 20) * 8);
}

CRYPTO_TARGET_SHA inline __attribute__((always_inline)) void StartFrom(Sha1Lanes &L, __m128i Abcd, __m128i E) {
  L.Abcd = Abcd;
  L.E = E;
}

}  // namespace

CRYPTO_TARGET_SHA void Sha1CompressShaNi(UINT32 State[5], const UINT8 *Blocks, UINTN BlockCount) {
  // Reverses all 16 octets: big-endian message words land in lanes 3..0.
  const __m128i ByteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  Sha1Lanes L;
  L.Abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(State)), 0x1b);
  L.E = _mm_set_epi32((int)State[4], 0, 0, 0);
  for (; BlockCount != 0; --BlockCount, Blocks += 64) {
    for (int Group = 0; Group < 4; ++Group) {
      L.W[Group] =
          _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(Blocks + 16 * Group)), ByteSwap);
    }
    CompressLoaded(L);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i *>(State), _mm_shuffle_epi32(L.Abcd, 0x1b));
  State[4] = (UINT32)_mm_extract_epi32(L.E, 3);
}

CRYPTO_TARGET_SHA void Sha1Pbkdf2PairShaNi(SHA1_PBKDF2_CHAIN Chains[2], UINTN Rounds) {
  Pbkdf2Lanes C[2];
  for (int Index = 0; Index < 2; ++Index) {
    C[Index] = {AbcdOf(Chains[Index].Inner), EOf(Chains[Index].Inner), AbcdOf(Chains[Index].Outer),
                EOf(Chains[Index].Outer),    AbcdOf(Chains[Index].U),     EOf(Chains[Index].U),
                AbcdOf(Chains[Index].T),     EOf(Chains[Index].T)};
  }
  // Each iteration is two phases, the inner and the outer compression, on
  // the one copy of the two-lane rounds: the inner phase starts from the
  // inner state over U, the outer one from the outer state over the inner
  // digest.
  Sha1Lanes First, Second;
  First.Abcd = C[0].UAbcd;
  First.E = C[0].UE;
  Second.Abcd = C[1].UAbcd;
  Second.E = C[1].UE;
  for (UINTN Phase = 0; Phase < 2 * Rounds; ++Phase) {
    const bool Outer = (Phase & 1) != 0;
    LoadDigestBlock(First, First.Abcd, First.E);
    LoadDigestBlock(Second, Second.Abcd, Second.E);
    StartFrom(First, Outer ? C[0].OuterAbcd : C[0].InnerAbcd, Outer ? C[0].OuterE : C[0].InnerE);
    StartFrom(Second, Outer ? C[1].OuterAbcd : C[1].InnerAbcd, Outer ? C[1].OuterE : C[1].InnerE);
    CompressLoaded(First, Second);
    if (Outer) {
      C[0].TAbcd = _mm_xor_si128(C[0].TAbcd, First.Abcd);
      C[0].TE = _mm_xor_si128(C[0].TE, First.E);
      C[1].TAbcd = _mm_xor_si128(C[1].TAbcd, Second.Abcd);
      C[1].TE = _mm_xor_si128(C[1].TE, Second.E);
    }
  }
  if (Rounds != 0) {
    C[0].UAbcd = First.Abcd;
    C[0].UE = First.E;
    C[1].UAbcd = Second.Abcd;
    C[1].UE = Second.E;
  }
  for (int Index = 0; Index < 2; ++Index) {
    StoreWords(C[Index].UAbcd, C[Index].UE, Chains[Index].U);
    StoreWords(C[Index].TAbcd, C[Index].TE, Chains[Index].T);
  }
  crypto_util::Wipe(C);
  crypto_util::Wipe(First);
  crypto_util::Wipe(Second);
}
