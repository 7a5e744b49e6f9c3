// HMAC-DRBG (SHA-256): CAVP-shaped known answers, a reference written from
// the SP 800-90A pseudocode for reseed and additional input, and the limits.
#include <crypto/Hmac.h>
#include <crypto/HmacDrbg.h>

#include "CryptoTestSupport.h"

using namespace crypto_vectors;

namespace {

// SP 800-90A section 10.1.2, written out directly over hmac_sha256.
class ReferenceDrbg {
 public:
  ReferenceDrbg(const Bytes &Entropy, const Bytes &Nonce, const Bytes &Personalization) {
    Key_.assign(32, 0x00);
    Value_.assign(32, 0x01);
    Update(Concat({Entropy, Nonce, Personalization}));
  }
  void Reseed(const Bytes &Entropy, const Bytes &Additional) { Update(Concat({Entropy, Additional})); }
  Bytes Generate(size_t Length, const Bytes &Additional) {
    if (!Additional.empty()) {
      Update(Additional);
    }
    Bytes Out;
    while (Out.size() < Length) {
      Value_ = Mac(Key_, Value_);
      Out.insert(Out.end(), Value_.begin(), Value_.end());
    }
    Out.resize(Length);
    Update(Additional);
    return Out;
  }

 private:
  static Bytes Concat(std::initializer_list<Bytes> Parts) {
    Bytes All;
    for (const Bytes &Part : Parts) {
      All.insert(All.end(), Part.begin(), Part.end());
    }
    return All;
  }
  static Bytes Mac(const Bytes &Key, const Bytes &Data) {
    Bytes Out(32);
    hmac_sha256(Key.data(), Key.size(), Data.data(), Data.size(), Out.data());
    return Out;
  }
  void Update(const Bytes &Provided) {
    Key_ = Mac(Key_, Concat({Value_, Bytes{0x00}, Provided}));
    Value_ = Mac(Key_, Value_);
    if (Provided.empty()) {
      return;
    }
    Key_ = Mac(Key_, Concat({Value_, Bytes{0x01}, Provided}));
    Value_ = Mac(Key_, Value_);
  }
  Bytes Key_, Value_;
};

Bytes Generate(hmac_drbg_state &State, size_t Length, const Bytes &Additional = {}) {
  Bytes Out(Length);
  EXPECT_EQ(hmac_drbg_generate(&State, Out.data(), Out.size(), Additional.data(), Additional.size()), 0);
  return Out;
}

TEST(HmacDrbg, MatchesCavpShapedKnownAnswers) {
  for (const DrbgVector &V : DrbgVectors) {
    const Bytes Entropy = FromHex(V.EntropyHex), Nonce = FromHex(V.NonceHex),
                Personalization = FromHex(V.PersonalizationHex);
    hmac_drbg_state State;
    ASSERT_EQ(hmac_drbg_instantiate(&State, Entropy.data(), Entropy.size(), Nonce.data(), Nonce.size(),
                                    Personalization.data(), Personalization.size()),
              0);
    Generate(State, DrbgOutputLength, FromHex(V.Additional1Hex));
    EXPECT_EQ(Generate(State, DrbgOutputLength, FromHex(V.Additional2Hex)), FromHex(V.OutputHex)) << V.Name;
    // The in-test reference agrees with the literal values too.
    ReferenceDrbg Reference(Entropy, Nonce, Personalization);
    Reference.Generate(DrbgOutputLength, FromHex(V.Additional1Hex));
    EXPECT_EQ(Reference.Generate(DrbgOutputLength, FromHex(V.Additional2Hex)), FromHex(V.OutputHex)) << V.Name;
    hmac_drbg_uninstantiate(&State);
  }
}

TEST(HmacDrbg, FollowsTheReferenceThroughReseedsAndOddLengths) {
  std::mt19937 Generator(11);
  for (int Trial = 0; Trial < 20; ++Trial) {
    const Bytes Entropy = RandomBytes(Generator, 32 + Trial), Nonce = RandomBytes(Generator, 16),
                Personalization = RandomBytes(Generator, Trial % 3 == 0 ? 0 : 20);
    hmac_drbg_state State;
    ASSERT_EQ(hmac_drbg_instantiate(&State, Entropy.data(), Entropy.size(), Nonce.data(), Nonce.size(),
                                    Personalization.data(), Personalization.size()),
              0);
    ReferenceDrbg Reference(Entropy, Nonce, Personalization);
    for (int Step = 0; Step < 4; ++Step) {
      const Bytes Additional = RandomBytes(Generator, (Trial + Step) % 2 ? 0 : 17);
      const size_t Length = 1 + Generator() % 100;
      ASSERT_EQ(Generate(State, Length, Additional), Reference.Generate(Length, Additional))
          << "trial " << Trial << " step " << Step;
      if (Step == 1) {
        const Bytes Fresh = RandomBytes(Generator, 48);
        ASSERT_EQ(hmac_drbg_reseed(&State, Fresh.data(), Fresh.size(), Additional.data(), Additional.size()), 0);
        Reference.Reseed(Fresh, Additional);
      }
    }
    hmac_drbg_uninstantiate(&State);
  }
}

TEST(HmacDrbg, DifferentSeedsDrawDifferentValues) {
  const Bytes EntropyA(32, 0x11), EntropyB(32, 0x12), Nonce(16, 0);
  hmac_drbg_state A, B;
  ASSERT_EQ(hmac_drbg_instantiate(&A, EntropyA.data(), 32, Nonce.data(), 16, nullptr, 0), 0);
  ASSERT_EQ(hmac_drbg_instantiate(&B, EntropyB.data(), 32, Nonce.data(), 16, nullptr, 0), 0);
  const Bytes FirstA = Generate(A, 32);
  EXPECT_NE(FirstA, Generate(B, 32));
  EXPECT_NE(FirstA, Generate(A, 32)) << "successive draws repeat";
}

TEST(HmacDrbg, RefusesShortEntropyOversizeRequestsAndOverdueReseeds) {
  const Bytes Entropy(32, 0x5a), Short(31, 0x5a);
  hmac_drbg_state State;
  EXPECT_EQ(hmac_drbg_instantiate(&State, Short.data(), Short.size(), nullptr, 0, nullptr, 0), -1);
  Bytes Out(16, 0xee);
  EXPECT_EQ(hmac_drbg_generate(&State, Out.data(), Out.size(), nullptr, 0), -1) << "uninstantiated";
  EXPECT_EQ(Out, Bytes(16, 0xee));

  ASSERT_EQ(hmac_drbg_instantiate(&State, Entropy.data(), Entropy.size(), nullptr, 0, nullptr, 0), 0);
  EXPECT_EQ(hmac_drbg_reseed(&State, Short.data(), Short.size(), nullptr, 0), -1);
  Bytes Large(HMAC_DRBG_MAX_REQUEST + 1, 0xee);
  EXPECT_EQ(hmac_drbg_generate(&State, Large.data(), Large.size(), nullptr, 0), -1);
  EXPECT_EQ(Large, Bytes(Large.size(), 0xee));
  EXPECT_EQ(hmac_drbg_generate(&State, Large.data(), HMAC_DRBG_MAX_REQUEST, nullptr, 0), 0);

  State.reseed_counter = HMAC_DRBG_RESEED_INTERVAL + 1;
  EXPECT_EQ(hmac_drbg_generate(&State, Out.data(), Out.size(), nullptr, 0), -1);
  EXPECT_EQ(Out, Bytes(16, 0xee));
  ASSERT_EQ(hmac_drbg_reseed(&State, Entropy.data(), Entropy.size(), nullptr, 0), 0);
  EXPECT_EQ(hmac_drbg_generate(&State, Out.data(), Out.size(), nullptr, 0), 0);
  EXPECT_EQ(State.reseed_counter, 2u);
}

TEST(HmacDrbg, UninstantiateWipesTheState) {
  const Bytes Entropy(32, 0x5a);
  hmac_drbg_state State;
  ASSERT_EQ(hmac_drbg_instantiate(&State, Entropy.data(), Entropy.size(), nullptr, 0, nullptr, 0), 0);
  hmac_drbg_uninstantiate(&State);
  const UINT8 *Raw = reinterpret_cast<const UINT8 *>(&State);
  EXPECT_EQ(Bytes(Raw, Raw + sizeof(State)), Bytes(sizeof(State), 0));
}

}  // namespace
