// HMAC beyond the vector suite (CryptoSuiteTest): RFC 2202 and RFC 4231
// through the other entry points (message-first, element lists), the
// five-element limit and truncation.
#include <crypto/Hmac.h>

#include "CryptoTestSupport.h"

using namespace crypto_vectors;

namespace {

struct HmacCase {
  Bytes Key, Data, Mac;
  explicit HmacCase(const HmacVector &V) : Key(FromHex(V.KeyHex)), Data(FromHex(V.DataHex)), Mac(FromHex(V.MacHex)) {}
  // The computed MAC cut to the expected length (truncated test cases).
  Bytes Cut(const Bytes &Full) const { return Bytes(Full.begin(), Full.begin() + Mac.size()); }
};

// The message as three elements (the middle one empty when short).
struct ThreeElements {
  const UINT8 *Address[3];
  UINTN Length[3];
  explicit ThreeElements(const Bytes &Data) {
    const UINTN First = Data.size() / 2;
    Address[0] = Data.data();
    Length[0] = First;
    Address[1] = Data.data() + First;
    Length[1] = Data.size() > 40 ? 7 : 0;
    Address[2] = Data.data() + First + Length[1];
    Length[2] = Data.size() - First - Length[1];
  }
};

class HmacVectors : public CryptoPathTest {};

TEST_P(HmacVectors, Sha1MatchesRfc2202InEveryForm) {
  for (const HmacVector &V : HmacSha1Vectors) {
    const HmacCase C(V);
    Bytes Mac(20), MicMac(20), VecMac(20);
    EXPECT_EQ(hmac_sha1(C.Key.data(), C.Key.size(), C.Data.data(), C.Data.size(), Mac.data()), 0);
    EXPECT_EQ(C.Cut(Mac), C.Mac) << V.Name;
    EXPECT_EQ(mic_hmac_sha1(C.Data.data(), C.Data.size(), C.Key.data(), C.Key.size(), MicMac.data()), 0);
    EXPECT_EQ(C.Cut(MicMac), C.Mac) << V.Name << " (message first)";
    const ThreeElements List(C.Data);
    EXPECT_EQ(hmac_sha1_vec(C.Key.data(), C.Key.size(), 3, List.Address, List.Length, VecMac.data()), 0);
    EXPECT_EQ(C.Cut(VecMac), C.Mac) << V.Name << " (three elements)";
  }
}

TEST_P(HmacVectors, Sha256MatchesRfc4231InEveryForm) {
  for (const HmacVector &V : HmacSha256Vectors) {
    const HmacCase C(V);
    Bytes Mac(32), VecMac(32);
    hmac_sha256(C.Key.data(), C.Key.size(), C.Data.data(), C.Data.size(), Mac.data());
    EXPECT_EQ(C.Cut(Mac), C.Mac) << V.Name;
    const ThreeElements List(C.Data);
    hmac_sha256_vec(C.Key.data(), C.Key.size(), 3, List.Address, List.Length, VecMac.data());
    EXPECT_EQ(C.Cut(VecMac), C.Mac) << V.Name << " (three elements)";
  }
}

INSTANTIATE_CRYPTO_PATHS(HmacVectors);

template <size_t N>
const HmacVector &Named(const HmacVector (&Table)[N], const std::string &Name) {
  for (const HmacVector &V : Table) {
    if (Name == V.Name) {
      return V;
    }
  }
  ADD_FAILURE() << "no vector " << Name;
  return Table[0];
}

TEST(Hmac, ZeroElementsGiveTheMacOfTheEmptyMessage) {
  const HmacCase Sha1Empty(Named(HmacSha1Vectors, "empty-message"));
  const HmacCase Sha256Empty(Named(HmacSha256Vectors, "empty-message"));
  Bytes Sha1Mac(20), Sha256Mac(32);
  EXPECT_EQ(hmac_sha1_vec(Sha1Empty.Key.data(), Sha1Empty.Key.size(), 0, nullptr, nullptr, Sha1Mac.data()), 0);
  hmac_sha256_vec(Sha256Empty.Key.data(), Sha256Empty.Key.size(), 0, nullptr, nullptr, Sha256Mac.data());
  EXPECT_EQ(Sha1Mac, Sha1Empty.Mac);
  EXPECT_EQ(Sha256Mac, Sha256Empty.Mac);
}

TEST(Hmac, SixElementsAreRefusedWithoutWritingTheMac) {
  const UINT8 Key[4] = {1, 2, 3, 4};
  const UINT8 Octet = 0x5a;
  const UINT8 *Address[6] = {&Octet, &Octet, &Octet, &Octet, &Octet, &Octet};
  const UINTN Length[6] = {1, 1, 1, 1, 1, 1};
  Bytes Sha1Mac(20, 0xee), Sha256Mac(32, 0xee);
  EXPECT_EQ(hmac_sha1_vec(Key, sizeof(Key), 6, Address, Length, Sha1Mac.data()), -1);
  hmac_sha256_vec(Key, sizeof(Key), 6, Address, Length, Sha256Mac.data());
  EXPECT_EQ(Sha1Mac, Bytes(20, 0xee));
  EXPECT_EQ(Sha256Mac, Bytes(32, 0xee));
  // Five is still fine.
  EXPECT_EQ(hmac_sha1_vec(Key, sizeof(Key), 5, Address, Length, Sha1Mac.data()), 0);
  EXPECT_NE(Sha1Mac, Bytes(20, 0xee));
}

TEST(Hmac, TruncatedSha1WritesOnlyTheOctetsAskedFor) {
  const HmacCase C(Named(HmacSha1Vectors, "rfc2202-1"));
  Bytes Mac(32, 0xee);
  hmac_sha1_trunc(C.Key.data(), C.Key.size(), C.Data.data(), C.Data.size(), Mac.data(), 16);
  EXPECT_EQ(Bytes(Mac.begin(), Mac.begin() + 16), Bytes(C.Mac.begin(), C.Mac.begin() + 16));
  EXPECT_EQ(Bytes(Mac.begin() + 16, Mac.end()), Bytes(16, 0xee));

  Mac.assign(32, 0xee);
  hmac_sha1_trunc(C.Key.data(), C.Key.size(), C.Data.data(), C.Data.size(), Mac.data(), 25);
  EXPECT_EQ(Bytes(Mac.begin(), Mac.begin() + 20), C.Mac);
  EXPECT_EQ(Bytes(Mac.begin() + 20, Mac.end()), Bytes(12, 0xee));

  for (INTN Length : {0, -1}) {
    Mac.assign(32, 0xee);
    hmac_sha1_trunc(C.Key.data(), C.Key.size(), C.Data.data(), C.Data.size(), Mac.data(), Length);
    EXPECT_EQ(Mac, Bytes(32, 0xee)) << "mac length " << Length;
  }
}

TEST(Hmac, LongKeysAreOnlyRead) {
  const HmacCase C(Named(HmacSha256Vectors, "rfc4231-6"));
  const Bytes KeyBefore = C.Key;
  Bytes Mac(32);
  hmac_sha256(C.Key.data(), C.Key.size(), C.Data.data(), C.Data.size(), Mac.data());
  EXPECT_EQ(C.Key, KeyBefore);
  EXPECT_EQ(Mac, C.Mac);
}

}  // namespace
