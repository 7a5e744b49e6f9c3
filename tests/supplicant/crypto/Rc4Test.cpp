// RC4 beyond the RFC 6229 vectors of the suite (CryptoSuiteTest):
// continuation across calls, separate buffers and the empty cases.
#include <crypto/Rc4.h>

#include "CryptoTestSupport.h"

using namespace crypto_vectors;

namespace {

Bytes Keystream(const Bytes &Key, size_t Skip, size_t Length) {
  rc4_state State;
  rc4_set_key(&State, Key.size(), Key.data());
  Bytes Discard(Skip, 0);
  rc4_crypt(&State, Discard.size(), Discard.data(), Discard.data());
  Bytes Out(Length, 0);
  rc4_crypt(&State, Out.size(), Out.data(), Out.data());
  return Out;
}

TEST(Rc4, SuccessiveCallsContinueTheKeystream) {
  const Bytes Key = {1, 2, 3, 4, 5};
  const Bytes Whole = Keystream(Key, 0, 256);
  rc4_state State;
  rc4_set_key(&State, Key.size(), Key.data());
  Bytes Pieces(256, 0);
  rc4_crypt(&State, 100, Pieces.data(), Pieces.data());
  rc4_crypt(&State, 156, Pieces.data() + 100, Pieces.data() + 100);
  EXPECT_EQ(Pieces, Whole);
}

TEST(Rc4, DecryptionIsEncryptionAndSeparateBuffersWork) {
  const Bytes Key = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 9, 8, 7, 6, 5, 4};
  std::mt19937 Generator(5);
  const Bytes Plain = RandomBytes(Generator, 77);
  Bytes Cipher(Plain.size()), Back(Plain.size());
  rc4_state State;
  rc4_set_key(&State, Key.size(), Key.data());
  rc4_crypt(&State, Plain.size(), Plain.data(), Cipher.data());
  rc4_set_key(&State, Key.size(), Key.data());
  rc4_crypt(&State, Cipher.size(), Cipher.data(), Back.data());
  EXPECT_EQ(Back, Plain);
  EXPECT_NE(Cipher, Plain);
}

TEST(Rc4, ZeroLengthLeavesOutputAndState) {
  const Bytes Key = {1, 2, 3};
  rc4_state State, Before;
  rc4_set_key(&State, Key.size(), Key.data());
  rc4_crypt(&State, 10, Bytes(10).data(), Bytes(10).data());
  Before = State;
  UINT8 Octet = 0x42;
  rc4_crypt(&State, 0, &Octet, &Octet);
  EXPECT_EQ(Octet, 0x42);
  EXPECT_EQ(memcmp(&State, &Before, sizeof(State)), 0);
}

TEST(Rc4, EmptyKeyLeavesTheIdentityPermutation) {
  rc4_state State;
  rc4_set_key(&State, 0, nullptr);
  for (UINT32 i = 0; i < 256; ++i) {
    ASSERT_EQ(State.S[i], i);
  }
  EXPECT_EQ(State.x, 0u);
  EXPECT_EQ(State.y, 0u);
}

}  // namespace
