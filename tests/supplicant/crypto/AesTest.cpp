// AES, AES-CMAC and the RFC 3394 unwrap beyond the vector suite
// (CryptoSuiteTest): in-place blocks, exact unwrap extents, integrity
// failures and the refused key, round-count and length cases.
#include <crypto/Aes.h>
#include <crypto/AesCmac.h>
#include <crypto/AesKeyWrap.h>

#include "CryptoTestSupport.h"

using namespace crypto_vectors;

namespace {

constexpr UINT8 Fence = 0xee;
const Bytes InitialValue(8, 0xa6);

class AesVectorsTest : public CryptoPathTest {};

TEST_P(AesVectorsTest, ScheduleRoundsAndInPlaceBlocks) {
  for (const AesVector &V : AesVectors) {
    const Bytes Key = FromHex(V.KeyHex), Cipher = FromHex(V.CipherHex);
    aes_key_schedule Encrypt, Decrypt;
    const int Rounds = aes_set_encrypt_key(&Encrypt, Key.data(), Key.size() * 8);
    EXPECT_EQ(Rounds, (int)(Key.size() / 4 + 6)) << V.Name;
    EXPECT_EQ(aes_set_decrypt_key(&Decrypt, Key.data(), Key.size() * 8), Rounds) << V.Name;
    Bytes Block = FromHex(V.PlainHex);
    aes_encrypt_block(&Encrypt, Rounds, Block.data(), Block.data());
    EXPECT_EQ(Block, Cipher) << V.Name;
    aes_decrypt_block(&Decrypt, Rounds, Block.data(), Block.data());
    EXPECT_EQ(Block, FromHex(V.PlainHex)) << V.Name;
  }
}

TEST_P(AesVectorsTest, UnwrapMatchesRfc3394UpTo264Octets) {
  for (const UnwrapVector &V : UnwrapVectors) {
    const Bytes Kek = FromHex(V.KekHex), Wrapped = FromHex(V.WrappedHex);
    Bytes Out(Wrapped.size() + 8, Fence);
    aes_key_unwrap(Wrapped.data(), Wrapped.size(), Kek.data(), Out.data());
    EXPECT_EQ(Bytes(Out.begin(), Out.begin() + 8), InitialValue) << V.Name;
    EXPECT_EQ(Bytes(Out.begin() + 8, Out.begin() + Wrapped.size()), FromHex(V.KeyDataHex)) << V.Name;
    EXPECT_EQ(Bytes(Out.begin() + Wrapped.size(), Out.end()), Bytes(8, Fence)) << V.Name;
  }
}

TEST_P(AesVectorsTest, CorruptedWrapShowsAsAWrongIntegrityValue) {
  for (const UnwrapVector &V : UnwrapVectors) {
    const Bytes Kek = FromHex(V.KekHex), Good = FromHex(V.WrappedHex);
    for (size_t Position : {size_t(0), size_t(8), Good.size() - 1}) {
      Bytes Wrapped = Good;
      Wrapped[Position] ^= 0x40;
      Bytes Out(Wrapped.size());
      aes_key_unwrap(Wrapped.data(), Wrapped.size(), Kek.data(), Out.data());
      EXPECT_NE(Bytes(Out.begin(), Out.begin() + 8), InitialValue) << V.Name << " octet " << Position;
    }
  }
}

INSTANTIATE_CRYPTO_PATHS(AesVectorsTest);

TEST(Aes, KeyLengthsOtherThan128192256AreRefused) {
  const Bytes Key(32, 1);
  for (UINTN Bits : {0u, 64u, 127u, 129u, 160u, 512u}) {
    aes_key_schedule Schedule;
    EXPECT_EQ(aes_set_encrypt_key(&Schedule, Key.data(), Bits), 0) << Bits;
    EXPECT_EQ(aes_set_decrypt_key(&Schedule, Key.data(), Bits), 0) << Bits;
    EXPECT_EQ(Schedule.rounds, 0u);
  }
}

TEST(Aes, ARoundCountThatDoesNotMatchTheScheduleGivesZeros) {
  const Bytes Key(16, 1), Block(16, 2);
  aes_key_schedule Schedule;
  ASSERT_EQ(aes_set_encrypt_key(&Schedule, Key.data(), 128), 10);
  for (int Rounds : {0, 12, 14, 15, 100, -1}) {
    Bytes Out(16, Fence);
    aes_encrypt_block(&Schedule, Rounds, Block.data(), Out.data());
    EXPECT_EQ(Out, Bytes(16, 0)) << Rounds;
    Out.assign(16, Fence);
    aes_decrypt_block(&Schedule, Rounds, Block.data(), Out.data());
    EXPECT_EQ(Out, Bytes(16, 0)) << Rounds;
  }
}

TEST(AesCmac, UnsupportedKeyLengthGivesNoTag) {
  const Bytes Key(20, 1), Message(40, 2);
  Bytes Mac(16, Fence);
  UINTN MacLength = 99;
  mic_aes_cmac(Message.data(), Message.size(), Key.data(), Key.size(), Mac.data(), &MacLength);
  EXPECT_EQ(MacLength, 0u);
  EXPECT_EQ(Mac, Bytes(16, 0));
  Bytes K1(16, Fence), K2(16, Fence);
  aes_cmac_subkeys(Key.data(), Key.size(), K1.data(), K2.data());
  EXPECT_EQ(K1, Bytes(16, 0));
  EXPECT_EQ(K2, Bytes(16, 0));
}

TEST(AesKeyUnwrap, LengthsOutside16To264OrNotMultiplesOf8AreRefused) {
  const Bytes Kek(16, 7);
  const Bytes Input(AES_KEY_UNWRAP_MAX_INPUT + 16, 0x33);
  for (UINTN Length : {0u, 8u, 15u, 20u, 23u, 263u, 272u}) {
    Bytes Out(Input.size(), Fence);
    aes_key_unwrap(Input.data(), Length, Kek.data(), Out.data());
    EXPECT_EQ(Bytes(Out.begin(), Out.begin() + 8), Bytes(8, 0)) << Length;
    EXPECT_EQ(Bytes(Out.begin() + 8, Out.end()), Bytes(Out.size() - 8, Fence)) << Length << " wrote key data";
  }
}

}  // namespace
