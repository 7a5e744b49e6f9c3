// HKDF-SHA-256 against RFC 5869 test cases 1 to 3: the extract step, the
// expansion to lengths that end inside a block, the IKM given in pieces,
// and the output limit.
#include <crypto/Hkdf.h>

#include "CryptoTestSupport.h"
#include "vectors/SaeH2eVectors.h"

using namespace sae_h2e_vectors;

namespace {

constexpr UINT8 Fence = 0xee;

class HkdfTest : public CryptoPathTest {};

TEST_P(HkdfTest, ExtractAndExpandMatchRfc5869) {
  for (const HkdfVector &V : HkdfVectors) {
    const Bytes Ikm = FromHex(V.Ikm), Salt = FromHex(V.Salt), Info = FromHex(V.Info);
    const UINT8 *Address[] = {Ikm.data()};
    const UINTN Length[] = {Ikm.size()};
    UINT8 Prk[SHA256_DIGEST_SIZE];
    hkdf_sha256_extract(Salt.data(), Salt.size(), 1, Address, Length, Prk);
    EXPECT_EQ(Bytes(Prk, Prk + sizeof(Prk)), FromHex(V.Prk)) << V.Okm;
    Bytes Okm(V.Length + 8, Fence);
    ASSERT_EQ(hkdf_sha256_expand(Prk, sizeof(Prk), Info.data(), Info.size(), Okm.data(), V.Length), 0);
    EXPECT_EQ(Bytes(Okm.begin(), Okm.begin() + V.Length), FromHex(V.Okm));
    EXPECT_EQ(Bytes(Okm.begin() + V.Length, Okm.end()), Bytes(8, Fence)) << "wrote past the output";
    // A shorter expansion is a prefix of the longer one.
    Bytes Short(11);
    ASSERT_EQ(hkdf_sha256_expand(Prk, sizeof(Prk), Info.data(), Info.size(), Short.data(), Short.size()), 0);
    EXPECT_EQ(Short, Bytes(Okm.begin(), Okm.begin() + 11));
  }
}

TEST_P(HkdfTest, IkmInPiecesIsTheSameAsWhole) {
  const HkdfVector &V = HkdfVectors[1];
  const Bytes Ikm = FromHex(V.Ikm), Salt = FromHex(V.Salt);
  for (size_t Split : {size_t(0), size_t(1), size_t(33), Ikm.size()}) {
    const UINT8 *Address[] = {Ikm.data(), Ikm.data() + Split};
    const UINTN Length[] = {Split, Ikm.size() - Split};
    UINT8 Prk[SHA256_DIGEST_SIZE];
    hkdf_sha256_extract(Salt.data(), Salt.size(), 2, Address, Length, Prk);
    EXPECT_EQ(Bytes(Prk, Prk + sizeof(Prk)), FromHex(V.Prk)) << "split at " << Split;
  }
}

TEST_P(HkdfTest, RefusesMoreThan255Blocks) {
  const Bytes Prk(SHA256_DIGEST_SIZE, 0x42);
  Bytes Out(HKDF_SHA256_MAX_OUTPUT + 1, Fence);
  EXPECT_EQ(hkdf_sha256_expand(Prk.data(), Prk.size(), nullptr, 0, Out.data(), Out.size()), -1);
  EXPECT_EQ(Out, Bytes(Out.size(), Fence)) << "a refused expansion wrote output";
  EXPECT_EQ(hkdf_sha256_expand(Prk.data(), Prk.size(), nullptr, 0, Out.data(), HKDF_SHA256_MAX_OUTPUT), 0);
}

INSTANTIATE_CRYPTO_PATHS(HkdfTest);

}  // namespace
