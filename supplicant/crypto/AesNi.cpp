// AES block encryption and decryption with the AES-NI round instructions.
// The schedules already hold the round keys in the order and form the
// instructions want (the decryption schedule is the equivalent inverse
// cipher's), so both directions are a plain chain of rounds.
#include "AesBlock.h"
#include "X86Intrinsics.h"

namespace {

CRYPTO_TARGET_AES inline __m128i LoadRoundKey(const UINT32 *RoundKeys, unsigned Round) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i *>(RoundKeys + 4 * Round));
}

}  // namespace

CRYPTO_TARGET_AES void AesEncryptNi(const UINT32 *RoundKeys, unsigned Rounds, const UINT8 *In, UINT8 *Out) {
  __m128i State = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(In)), LoadRoundKey(RoundKeys, 0));
  for (unsigned Round = 1; Round < Rounds; ++Round) {
    State = _mm_aesenc_si128(State, LoadRoundKey(RoundKeys, Round));
  }
  State = _mm_aesenclast_si128(State, LoadRoundKey(RoundKeys, Rounds));
  _mm_storeu_si128(reinterpret_cast<__m128i *>(Out), State);
}

CRYPTO_TARGET_AES void AesDecryptNi(const UINT32 *RoundKeys, unsigned Rounds, const UINT8 *In, UINT8 *Out) {
  __m128i State = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(In)), LoadRoundKey(RoundKeys, 0));
  for (unsigned Round = 1; Round < Rounds; ++Round) {
    State = _mm_aesdec_si128(State, LoadRoundKey(RoundKeys, Round));
  }
  State = _mm_aesdeclast_si128(State, LoadRoundKey(RoundKeys, Rounds));
  _mm_storeu_si128(reinterpret_cast<__m128i *>(Out), State);
}
