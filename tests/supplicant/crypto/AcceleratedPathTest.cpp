// The SHA-NI and AES-NI code against the portable code on random inputs of
// many lengths: results must be bit-identical. Skipped where the processor
// lacks the extensions (the vector suites still run the portable path).
#include <crypto/Aes.h>
#include <crypto/AesCmac.h>
#include <crypto/AesKeyWrap.h>
#include <crypto/Hmac.h>
#include <crypto/Kdf.h>

#include <functional>

#include "CryptoTestSupport.h"

namespace {

// Runs Compute once on each path and returns both results.
std::pair<Bytes, Bytes> BothPaths(const std::function<Bytes()> &Compute) {
  crypto_force_portable(false);
  Bytes Accelerated = Compute();
  crypto_force_portable(true);
  Bytes Portable = Compute();
  crypto_force_portable(false);
  return {Accelerated, Portable};
}

TEST(AcceleratedPath, ReportsWhatThisProcessorOffers) {
  crypto_force_portable(false);
  const bool Sha = crypto_cpu_has_sha(), Aes = crypto_cpu_has_aes();
  RecordProperty("sha_extensions", Sha ? "yes" : "no");
  RecordProperty("aes_ni", Aes ? "yes" : "no");
  crypto_force_portable(true);
  EXPECT_FALSE(crypto_cpu_has_sha());
  EXPECT_FALSE(crypto_cpu_has_aes());
  crypto_force_portable(false);
  EXPECT_EQ(crypto_cpu_has_sha(), Sha);
}

TEST(AcceleratedPath, ShaDigestsAreIdentical) {
  if (!crypto_cpu_has_sha()) {
    GTEST_SKIP() << "no SHA extensions on this processor";
  }
  std::mt19937 Generator(1);
  for (size_t Length = 0; Length < 600; Length += 1 + Length / 8) {
    const Bytes Message = RandomBytes(Generator, Length);
    auto [Sha1Fast, Sha1Slow] = BothPaths([&] {
      Bytes Digest(20);
      const UINT8 *Address[1] = {Message.data()};
      const UINTN Lengths[1] = {Message.size()};
      sha1_digest_vec(1, Address, Lengths, Digest.data());
      return Digest;
    });
    ASSERT_EQ(Sha1Fast, Sha1Slow) << "SHA-1 of " << Length;
    auto [Sha256Fast, Sha256Slow] = BothPaths([&] {
      Bytes Digest(32);
      const UINT8 *Address[1] = {Message.data()};
      const UINTN Lengths[1] = {Message.size()};
      sha256_digest_vec(1, Address, Lengths, Digest.data());
      return Digest;
    });
    ASSERT_EQ(Sha256Fast, Sha256Slow) << "SHA-256 of " << Length;
  }
}

TEST(AcceleratedPath, Pbkdf2IsIdentical) {
  if (!crypto_cpu_has_sha()) {
    GTEST_SKIP() << "no SHA extensions on this processor";
  }
  std::mt19937 Generator(2);
  // Pass phrases up to 80 octets (keys above 64 are hashed first).
  for (int Trial = 0; Trial < 10; ++Trial) {
    const Bytes Passphrase = RandomBytes(Generator, 8 + Trial * 8), Salt = RandomBytes(Generator, 1 + Trial * 4);
    auto [Fast, Slow] = BothPaths([&] {
      Bytes Block(20);
      pbkdf2_sha1_block(Passphrase.data(), Passphrase.size(), Salt.data(), Salt.size(), 1000 + Trial, 1 + Trial,
                        Block.data());
      return Block;
    });
    ASSERT_EQ(Fast, Slow) << "trial " << Trial;
  }
}

// The PSK runs its two blocks as one interleaved pair of chains: the IEEE
// 802.11 vectors on both paths, then random pass phrases and SSIDs.
TEST(AcceleratedPath, PskFromPassphraseIsIdentical) {
  for (const crypto_vectors::PskVector &Vector : crypto_vectors::PskVectors) {
    SCOPED_TRACE(Vector.Name);
    auto [Fast, Slow] = BothPaths([&] {
      Bytes Psk(32);
      EXPECT_EQ(psk_from_passphrase(Vector.Passphrase, strlen(Vector.Passphrase), Vector.Ssid, strlen(Vector.Ssid),
                                    Psk.data()),
                1);
      return Psk;
    });
    EXPECT_EQ(Fast, FromHex(Vector.PskHex));
    EXPECT_EQ(Slow, FromHex(Vector.PskHex));
  }
  if (!crypto_cpu_has_sha()) {
    GTEST_SKIP() << "no SHA extensions on this processor";
  }
  std::mt19937 Generator(3);
  for (int Trial = 0; Trial < 8; ++Trial) {
    const Bytes Passphrase = RandomBytes(Generator, 8 + Trial * 7), Ssid = RandomBytes(Generator, 1 + Trial * 4);
    auto [Fast, Slow] = BothPaths([&] {
      Bytes Psk(32);
      psk_from_passphrase(Passphrase.data(), Passphrase.size(), Ssid.data(), Ssid.size(), Psk.data());
      return Psk;
    });
    ASSERT_EQ(Fast, Slow) << "trial " << Trial;
  }
}

TEST(AcceleratedPath, AesBlocksCmacAndUnwrapAreIdentical) {
  if (!crypto_cpu_has_aes()) {
    GTEST_SKIP() << "no AES-NI on this processor";
  }
  std::mt19937 Generator(3);
  for (size_t KeyLength : {16, 24, 32}) {
    for (int Trial = 0; Trial < 50; ++Trial) {
      const Bytes Key = RandomBytes(Generator, KeyLength), Block = RandomBytes(Generator, 16);
      auto [Fast, Slow] = BothPaths([&] {
        aes_key_schedule Encrypt, Decrypt;
        const int Rounds = aes_set_encrypt_key(&Encrypt, Key.data(), KeyLength * 8);
        aes_set_decrypt_key(&Decrypt, Key.data(), KeyLength * 8);
        Bytes Out(32);
        aes_encrypt_block(&Encrypt, Rounds, Block.data(), Out.data());
        aes_decrypt_block(&Decrypt, Rounds, Block.data(), Out.data() + 16);
        return Out;
      });
      ASSERT_EQ(Fast, Slow) << KeyLength << "-octet key, trial " << Trial;
    }
  }
  for (size_t Length = 0; Length < 200; Length += 3) {
    const Bytes Key = RandomBytes(Generator, 16), Message = RandomBytes(Generator, Length);
    auto [Fast, Slow] = BothPaths([&] {
      Bytes Mac(16);
      UINTN MacLength = 0;
      mic_aes_cmac(Message.data(), Message.size(), Key.data(), Key.size(), Mac.data(), &MacLength);
      return Mac;
    });
    ASSERT_EQ(Fast, Slow) << "CMAC of " << Length;
  }
  for (size_t Length = 16; Length <= AES_KEY_UNWRAP_MAX_INPUT; Length += 8) {
    const Bytes Kek = RandomBytes(Generator, 16), Wrapped = RandomBytes(Generator, Length);
    auto [Fast, Slow] = BothPaths([&] {
      Bytes Out(Length);
      aes_key_unwrap(Wrapped.data(), Wrapped.size(), Kek.data(), Out.data());
      return Out;
    });
    ASSERT_EQ(Fast, Slow) << "unwrap of " << Length;
  }
}

}  // namespace
