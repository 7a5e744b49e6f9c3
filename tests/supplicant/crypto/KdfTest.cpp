// The IEEE 802.11 PRF and KDF, PBKDF2 and the pass-phrase mapping beyond the
// vector suite (CryptoSuiteTest): exact output extents, the assembled inputs
// and length fields, masking, and the input limits.
#include <crypto/Kdf.h>

#include "CryptoTestSupport.h"

using namespace crypto_vectors;

namespace {

constexpr UINT8 Fence = 0xee;

template <class Table>
const auto &Named(const Table &Vectors, const std::string &Name) {
  for (const auto &V : Vectors) {
    if (Name == V.Name) {
      return V;
    }
  }
  ADD_FAILURE() << "no vector " << Name;
  return Vectors[0];
}

Bytes Prf(const Bytes &Key, const std::string &Label, const Bytes &Data, UINTN OutLength, size_t Room) {
  Bytes Out(Room, Fence);
  prf_sha1(Key.data(), Key.size(), Label.data(), Label.size(), Data.data(), Data.size(), Out.data(), OutLength);
  return Out;
}

class KdfVectorTest : public CryptoPathTest {};

TEST_P(KdfVectorTest, PrfMatchesAnnexJAndWritesWholeBlocks) {
  for (const PrfVector &V : PrfVectors) {
    const Bytes Expected = FromHex(V.OutHex);
    const size_t Written = (V.OutLength + 19) / 20 * 20;
    ASSERT_EQ(Expected.size(), Written) << V.Name;
    const Bytes Out = Prf(FromHex(V.KeyHex), V.Label, FromHex(V.DataHex), V.OutLength, Written + 8);
    EXPECT_EQ(Bytes(Out.begin(), Out.begin() + Written), Expected) << V.Name;
    EXPECT_EQ(Bytes(Out.begin() + Written, Out.end()), Bytes(8, Fence)) << V.Name << " wrote past its blocks";
  }
}

TEST_P(KdfVectorTest, KdfBitsMatchesReferenceAndMasksTheLastOctet) {
  for (const KdfVector &V : KdfVectors) {
    const Bytes Key = FromHex(V.KeyHex), Data = FromHex(V.DataHex), Expected = FromHex(V.OutHex);
    Bytes Out(Expected.size() + 8, Fence);
    EXPECT_EQ(kdf_sha256_bits(Key.data(), Key.size(), V.Label, Data.data(), Data.size(), Out.data(),
                              (INTN)V.OutBits),
              0);
    EXPECT_EQ(Bytes(Out.begin(), Out.begin() + Expected.size()), Expected) << V.Name;
    EXPECT_EQ(Bytes(Out.begin() + Expected.size(), Out.end()), Bytes(8, Fence)) << V.Name;
    if (V.OutBits % 8 == 0) {
      Bytes Octets(Expected.size() + 8, Fence);
      kdf_sha256(Key.data(), Key.size(), V.Label, Data.data(), Data.size(), Octets.data(), (INTN)(V.OutBits / 8));
      EXPECT_EQ(Octets, Out) << V.Name << " in octets";
    }
  }
}

INSTANTIATE_CRYPTO_PATHS(KdfVectorTest);

TEST(Prf, InputLimitIs768OctetsAndOutputLimitIs256Blocks) {
  const Bytes Key(16, 1);
  const std::string Label = "label";
  const Bytes Fits(PRF_SHA1_MAX_INPUT - Label.size() - 2, 2);
  const Bytes TooLong(Fits.size() + 1, 2);
  const Bytes Accepted = Prf(Key, Label, Fits, 20, 20);
  EXPECT_NE(Accepted, Bytes(20, 0));
  EXPECT_NE(Accepted, Bytes(20, Fence));
  EXPECT_EQ(Prf(Key, Label, TooLong, 40, 48), [] {
    Bytes Expected(40, 0);
    Expected.resize(48, Fence);
    return Expected;
  }());
  const Bytes Small(4, 3);
  EXPECT_NE(Prf(Key, Label, Small, 256 * 20, 256 * 20), Bytes(256 * 20, 0));
  EXPECT_EQ(Prf(Key, Label, Small, 256 * 20 + 1, 257 * 20), Bytes(257 * 20, 0));
}

TEST(Kdf, OctetFormWritesExactlyTheOutLength) {
  const KdfVector &V = Named(KdfVectors, "ptk-384");
  const Bytes Key = FromHex(V.KeyHex), Data = FromHex(V.DataHex), Expected = FromHex(V.OutHex);
  Bytes Out(64, Fence);
  kdf_sha256(Key.data(), Key.size(), V.Label, Data.data(), Data.size(), Out.data(), 48);
  EXPECT_EQ(Bytes(Out.begin(), Out.begin() + 48), Expected);
  EXPECT_EQ(Bytes(Out.begin() + 48, Out.end()), Bytes(16, Fence));
  for (INTN Length : {0, -5}) {
    Bytes None(8, Fence);
    kdf_sha256(Key.data(), Key.size(), V.Label, Data.data(), Data.size(), None.data(), Length);
    EXPECT_EQ(None, Bytes(8, Fence));
  }
}

TEST(Kdf, RequestsBeyondTheLengthFieldOrInputBufferAreRefused) {
  const Bytes Key(32, 9), Data(16, 1);
  // 8191 octets is the most the 16-bit length field can describe.
  Bytes Large(8192, Fence);
  kdf_sha256(Key.data(), Key.size(), "L", Data.data(), Data.size(), Large.data(), 8191);
  EXPECT_NE(Bytes(Large.begin(), Large.begin() + 32), Bytes(32, 0));
  EXPECT_EQ(Large[8191], Fence);
  kdf_sha256(Key.data(), Key.size(), "L", Data.data(), Data.size(), Large.data(), 8192);
  EXPECT_EQ(Large, Bytes(8192, 0));

  Bytes Out(8, Fence);
  EXPECT_EQ(kdf_sha256_bits(Key.data(), Key.size(), "L", Data.data(), Data.size(), Out.data(), 65536), -1);
  EXPECT_EQ(Out, Bytes(8, Fence));

  // Counter (2) + label (1) + data + length (2) must fit 1024 octets.
  const Bytes Fits(KDF_SHA256_MAX_INPUT - 5, 4), TooLong(KDF_SHA256_MAX_INPUT - 4, 4);
  EXPECT_EQ(kdf_sha256_bits(Key.data(), Key.size(), "L", Fits.data(), Fits.size(), Out.data(), 64), 0);
  EXPECT_NE(Out, Bytes(8, Fence));
  Out.assign(8, Fence);
  EXPECT_EQ(kdf_sha256_bits(Key.data(), Key.size(), "L", TooLong.data(), TooLong.size(), Out.data(), 64), -1);
  EXPECT_EQ(Out, Bytes(8, Fence));
  kdf_sha256(Key.data(), Key.size(), "L", TooLong.data(), TooLong.size(), Out.data(), 8);
  EXPECT_EQ(Out, Bytes(8, 0));
}

TEST(Psk, PassphraseAndSsidLimits) {
  const std::string Ssid32(32, 's'), Ssid33(33, 's'), Pass63(63, 'x'), Pass64(64, 'x');
  Bytes Psk(32, Fence);
  EXPECT_EQ(psk_from_passphrase(Pass64.data(), Pass64.size(), "IEEE", 4, Psk.data()), 0);
  EXPECT_EQ(psk_from_passphrase("password", 8, Ssid33.data(), Ssid33.size(), Psk.data()), 0);
  EXPECT_EQ(Psk, Bytes(32, Fence));
  EXPECT_EQ(psk_from_passphrase(Pass63.data(), Pass63.size(), Ssid32.data(), Ssid32.size(), Psk.data()), 1);
  EXPECT_EQ(Psk, FromHex(Named(PskVectors, "limits-63-32").PskHex));
}

TEST(Pbkdf2, IterationCountsOfOneOrLessGiveU1) {
  Bytes One(20), Zero(20);
  pbkdf2_sha1_block("password", 8, "salt", 4, 1, 1, One.data());
  pbkdf2_sha1_block("password", 8, "salt", 4, 0, 1, Zero.data());
  EXPECT_EQ(One, FromHex(Named(Pbkdf2Vectors, "rfc6070-1").BlockHex));
  EXPECT_EQ(Zero, One);
}

TEST(ShiftRightBits, ShiftsABigEndianString) {
  Bytes Two = {0x80, 0x00};
  shift_right_bits(Two.data(), Two.size(), 7);
  EXPECT_EQ(Two, (Bytes{0x01, 0x00}));

  Bytes Three = {0xab, 0xcd, 0xef};
  shift_right_bits(Three.data(), Three.size(), 4);
  EXPECT_EQ(Three, (Bytes{0x0a, 0xbc, 0xde}));

  Bytes One = {0xff};
  shift_right_bits(One.data(), One.size(), 1);
  EXPECT_EQ(One, (Bytes{0x7f}));
}

TEST(ShiftRightBits, CountsOutsideOneToSevenLeaveTheBuffer) {
  for (UINTN Bits : {0u, 8u, 100u}) {
    Bytes Buffer = {0x12, 0x34};
    shift_right_bits(Buffer.data(), Buffer.size(), Bits);
    EXPECT_EQ(Buffer, (Bytes{0x12, 0x34})) << Bits;
  }
}

}  // namespace
