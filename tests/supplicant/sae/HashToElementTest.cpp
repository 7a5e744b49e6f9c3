// Hash-to-element against published answers: the simplified SWU map of
// P-256 (RFC 9380 Appendix J), the PT of the IEEE 802.11 example by the
// driver's code and by the access point's independent code, and the
// properties of the map and of PWE that no vector pins down.
#include <SaeAuthenticator.h>

#include "CommitConfirm.h"
#include "HashToElement.h"
#include "crypto/Hmac.h"
#include "PweReference.h"
#include "vectors/SaeH2eVectors.h"

namespace sae_test {
namespace {

using namespace sae_h2e_vectors;

class HashToElementTest : public TestSupport::HostEnvTest {
 protected:
  void SetUp() override {
    HostEnvTest::SetUp();
    // The layer runs without a driver: the support library's service-table
    // globals point at the environment itself.
    gST = ST();
    gBS = BS();
    LoadGroup19(Ctx_);
  }
  void TearDown() override {
    sae_clear(&Ctx_);
    gST = nullptr;
    gBS = nullptr;
    HostEnvTest::TearDown();
  }
  // The point (X, Y) of two 32-byte coordinates satisfies the curve.
  bool OnCurve(const UINT8 *X, const UINT8 *Y) {
    BigNum Bx, By;
    EcPoint P;
    return bignum_from_bytes(Bx, X, 32) == 0 && bignum_from_bytes(By, Y, 32) == 0 &&
           ecc_point_from_xy(Ctx_.Group, Bx, By, P) == 0 && ecc_point_check(Ctx_.Group, P) == 0;
  }
  static std::vector<UINT8> Text(const char *Value) { return std::vector<UINT8>(Value, Value + std::strlen(Value)); }

  SAE_CONTEXT Ctx_ = {};
};

TEST_F(HashToElementTest, MapToCurveMatchesRfc9380) {
  for (const MapVector &V : MapToCurveVectors) {
    UINT8 X[32], Y[32];
    sae_h2e_map_to_curve(FromHex(V.U).data(), X, Y);
    EXPECT_EQ(std::vector<UINT8>(X, X + 32), FromHex(V.X)) << V.U;
    EXPECT_EQ(std::vector<UINT8>(Y, Y + 32), FromHex(V.Y)) << V.U;
  }
}

TEST_F(HashToElementTest, MapGivesCurvePointsAtTheEdgesOfTheField) {
  // u = 0 takes the exceptional abscissa b / (Z a); the others the common
  // formula with either candidate abscissa.
  std::vector<std::string> Inputs = {std::string(64, '0'), std::string(63, '0') + "1",
                                     "ffffffff00000001000000000000000000000000fffffffffffffffffffffffe"};
  for (int Seed = 0; Seed < 20; ++Seed) {
    std::string Hex;
    for (int Index = 0; Index < 32; ++Index) {
      char Byte[3];
      std::snprintf(Byte, sizeof(Byte), "%02x", (Seed * 73 + Index * 151 + 7) & 0xff);
      Hex += Byte;
    }
    Hex[0] = '7';  // below p
    Inputs.push_back(Hex);
  }
  for (const std::string &U : Inputs) {
    UINT8 X[32], Y[32];
    std::vector<UINT8> Bytes = FromHex(U);
    sae_h2e_map_to_curve(Bytes.data(), X, Y);
    EXPECT_TRUE(OnCurve(X, Y)) << U;
    // The sign of y follows the parity of u.
    EXPECT_EQ(Y[31] & 1, Bytes[31] & 1) << U;
  }
}

TEST_F(HashToElementTest, PtOfTheStandardsExampleByDriverAndAccessPoint) {
  const PtVector &V = PtVectorWithIdentifier;
  const std::vector<UINT8> Ssid = Text(V.Ssid), Password = Text(V.Password), Identifier = Text(V.Identifier);
  UINT8 Pt[SAE_PT_LEN];
  ASSERT_EQ(sae_h2e_derive_pt(Ssid.data(), Ssid.size(), Password.data(), Password.size(), Identifier.data(),
                              Identifier.size(), Pt),
            0);
  EXPECT_EQ(std::vector<UINT8>(Pt, Pt + 32), FromHex(V.PtX));
  EXPECT_TRUE(OnCurve(Pt, Pt + 32));

  UINT8 ApPt[authenticator::SAE_PT_LEN];
  ASSERT_TRUE(authenticator::SaeDerivePt(Ssid.data(), Ssid.size(), Password.data(), Password.size(),
                                         Identifier.data(), Identifier.size(), ApPt));
  EXPECT_EQ(std::vector<UINT8>(ApPt, ApPt + 32), FromHex(V.PtX));
  EXPECT_EQ(std::vector<UINT8>(ApPt, ApPt + 64), std::vector<UINT8>(Pt, Pt + 64));

  // Without the identifier the password gives another PT; both sides agree
  // on it too.
  UINT8 Plain[SAE_PT_LEN];
  ASSERT_EQ(sae_h2e_derive_pt(Ssid.data(), Ssid.size(), Password.data(), Password.size(), nullptr, 0, Plain), 0);
  ASSERT_TRUE(authenticator::SaeDerivePt(Ssid.data(), Ssid.size(), Password.data(), Password.size(), nullptr, 0,
                                         ApPt));
  EXPECT_NE(std::vector<UINT8>(Plain, Plain + 32), FromHex(V.PtX));
  EXPECT_EQ(std::vector<UINT8>(ApPt, ApPt + 64), std::vector<UINT8>(Plain, Plain + 64));
}

TEST_F(HashToElementTest, PweIsValTimesPtWhicheverSideAsks) {
  const std::vector<UINT8> Ssid = Text("Pwe"), Password = Text("hash to element");
  UINT8 Pt[SAE_PT_LEN];
  ASSERT_EQ(sae_h2e_derive_pt(Ssid.data(), Ssid.size(), Password.data(), Password.size(), nullptr, 0, Pt), 0);
  const UINT8 MacA[6] = {0x02, 0, 0, 0, 0, 0x0A}, MacB[6] = {0x02, 0, 0, 0, 0, 0x0B};
  ASSERT_EQ(sae_h2e_derive_pwe(&Ctx_, Pt, MacA, MacB), 0);
  EcPoint First;
  ASSERT_EQ(mbedtls_ecp_copy(First, &Ctx_.Pwe), 0);
  EXPECT_EQ(ecc_point_check(Ctx_.Group, First), 0);
  // The same product by the group layer: val from its definition.
  const UINT8 Addresses[12] = {0x02, 0, 0, 0, 0, 0x0B, 0x02, 0, 0, 0, 0, 0x0A};
  const UINT8 Zeros[32] = {};
  UINT8 Hash[32];
  hmac_sha256(Zeros, sizeof(Zeros), Addresses, sizeof(Addresses), Hash);
  BigNum Val, OrderMinusOne, X, Y;
  EcPoint PtPoint, Expected;
  ASSERT_EQ(bignum_from_bytes(Val, Hash, 32), 0);
  ASSERT_EQ(bignum_sub_int(OrderMinusOne, &Ctx_.Order, 1), 0);
  ASSERT_EQ(bignum_mod(Val, Val, OrderMinusOne), 0);
  ASSERT_EQ(bignum_add_int(Val, Val, 1), 0);
  ASSERT_EQ(bignum_from_bytes(X, Pt, 32), 0);
  ASSERT_EQ(bignum_from_bytes(Y, Pt + 32, 32), 0);
  ASSERT_EQ(ecc_point_from_xy(Ctx_.Group, X, Y, PtPoint), 0);
  ASSERT_EQ(ecc_point_mul(Ctx_.Group, Expected, Val, PtPoint), 0);
  EXPECT_EQ(mbedtls_ecp_point_cmp(First, Expected), 0);
  ASSERT_EQ(sae_h2e_derive_pwe(&Ctx_, Pt, MacB, MacA), 0);
  EXPECT_EQ(mbedtls_ecp_point_cmp(First, &Ctx_.Pwe), 0) << "the order of the addresses matters";
  // Another pair of addresses, another element from the same PT.
  const UINT8 MacC[6] = {0x02, 0, 0, 0, 0, 0x0C};
  ASSERT_EQ(sae_h2e_derive_pwe(&Ctx_, Pt, MacA, MacC), 0);
  EXPECT_NE(mbedtls_ecp_point_cmp(First, &Ctx_.Pwe), 0);
  // A PT that is not a curve point gives no element and leaves PWE alone.
  EcPoint Held;
  ASSERT_EQ(mbedtls_ecp_copy(Held, &Ctx_.Pwe), 0);
  Pt[63] ^= 1;
  EXPECT_EQ(sae_h2e_derive_pwe(&Ctx_, Pt, MacA, MacB), -1);
  EXPECT_EQ(mbedtls_ecp_point_cmp(Held, &Ctx_.Pwe), 0);
}

}  // namespace
}  // namespace sae_test
