// Elliptic-curve layer: group 19 against the published P-256 parameters,
// point arithmetic against known multiples of the base point, encoding,
// negation, and pool exhaustion at every allocation.
#include <random>

#include "EccTestSupport.h"

namespace sae_test {
namespace {

// Published multiples k * G of the P-256 base point.
struct Multiple {
  const char *K;
  const char *X;
  const char *Y;
};
constexpr Multiple BASE_POINT_MULTIPLES[] = {
    {"01", P256_GX, P256_GY},
    {"02", "7CF27B188D034F7E8A52380304B51AC3C08969E277F21B35A60B48FC47669978",
     "07775510DB8ED040293D9AC69F7430DBBA7DADE63CE982299E04B79D227873D1"},
    {"03", "5ECBE4D1A6330A44C8F7EF951D4BF165E6C6B721EFADA985FB41661BC6E7FD6C",
     "8734640C4998FF7E374B06CE1A64A2ECD82AB036384FB83D9A79B127A27D5032"},
    {"05", "51590B7A515140D2D784C85608668FDFEF8C82FD1F5BE52421554A0DC3D033ED",
     "E0C17DA8904A727D8AE1BF36BF8A79260D012F00D4D80888D1D0BB44FDA16DA4"},
    {"018EBBB95EED0E13", "339150844EC15234807FE862A86BE77977DBFB3AE3D96F4C22795513AEAAB82F",
     "B1C14DDFDC8EC1B2583F51E85A5EB3A155840F2034730E9B5ADA38B674336A21"},
    // r - 1: the negative of G.
    {"FFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632550", P256_GX,
     "B01CBD1C01E58065711814B583F061E9D431CCA994CEA1313449BF97C840AE0A"},
};

struct CurveObjects {
  CurveObjects() {
    SetHex(Gx, P256_GX);
    SetHex(Gy, P256_GY);
  }
  EcGroup Group;
  BigNum Gx, Gy;
  EcPoint G;
};

class EccTest : public SaeLayerTest<CurveObjects> {
 protected:
  void SetUp() override {
    SaeLayerTest::SetUp();
    Objects().Group = EcGroup::Create(SAE_GROUP_P256);
    ASSERT_TRUE(Objects().Group);
    ASSERT_EQ(ecc_point_from_xy(Group(), Gx(), Gy(), G()), 0);
  }
  ECC_GROUP *Group() { return Objects().Group; }
  mbedtls_mpi *Gx() { return Objects().Gx; }
  mbedtls_mpi *Gy() { return Objects().Gy; }
  mbedtls_ecp_point *G() { return Objects().G; }

  void ExpectPoint(const mbedtls_ecp_point *Point, const char *X, const char *Y) {
    BigNum Px, Py;
    ASSERT_EQ(ecc_point_to_xy(Group(), Px, Py, Point), 0);
    EXPECT_EQ(ToHex(Px), X);
    EXPECT_EQ(ToHex(Py), Y);
  }
};

TEST_F(EccTest, Group19HasThePublishedP256Parameters) {
  BigNum Prime, Order, A, B, PMinusThree;
  ASSERT_EQ(ecc_get_prime(Group(), Prime), 0);
  ASSERT_EQ(ecc_get_order(Group(), Order), 0);
  ASSERT_EQ(ecc_get_a(Group(), A), 0);
  ASSERT_EQ(ecc_get_b(Group(), B), 0);
  EXPECT_EQ(ToHex(Prime), P256_P);
  EXPECT_EQ(ToHex(Order), P256_N);
  EXPECT_EQ(ToHex(A), P256_A);
  EXPECT_EQ(ToHex(B), P256_B);
  ASSERT_EQ(bignum_sub_int(PMinusThree, Prime, 3), 0);
  EXPECT_EQ(bignum_cmp(A, PMinusThree), 0);
  EXPECT_EQ(bignum_bytes(Prime), 32);
  EXPECT_EQ(bignum_bytes(Order), 32);
  EXPECT_EQ(ecc_point_check(Group(), G()), 0);
}

TEST_F(EccTest, OtherGroupsAreRefusedOnTheConsole) {
  for (int Number : {20, 0, 21, 255}) {
    Env().ConOut().Clear();
    EXPECT_EQ(mbedtls_ecc_init(static_cast<UINT8>(Number)), nullptr);
    EXPECT_EQ(ConOutText(), "\r\nmbedtls_ecc_init: no available ecc type: " + std::to_string(Number) + " \n");
  }
}

TEST_F(EccTest, GettersRefuseMissingArguments) {
  BigNum X;
  EXPECT_EQ(ecc_get_prime(nullptr, X), -1);
  EXPECT_EQ(ecc_get_order(Group(), nullptr), -1);
  EXPECT_EQ(ecc_get_a(nullptr, X), -1);
  EXPECT_EQ(ecc_get_b(Group(), nullptr), -1);
  EcPoint P;
  EXPECT_EQ(ecc_point_from_xy(nullptr, Gx(), Gy(), P), -1);
  EXPECT_EQ(ecc_point_from_xy(Group(), Gx(), nullptr, P), -1);
  EXPECT_EQ(ecc_point_to_xy(Group(), X, nullptr, G()), -1);
  EXPECT_EQ(ecc_point_to_xy(Group(), nullptr, X, G()), -1);
  ecc_free(nullptr);
}

TEST_F(EccTest, ScalarMultiplicationGivesThePublishedMultiples) {
  for (const Multiple &Vector : BASE_POINT_MULTIPLES) {
    SCOPED_TRACE(Vector.K);
    BigNum K;
    SetHex(K, Vector.K);
    EcPoint R;
    ASSERT_EQ(ecc_point_mul(Group(), R, K, G()), 0);
    ExpectPoint(R, Vector.X, Vector.Y);
    EXPECT_EQ(ecc_point_check(Group(), R), 0);
  }
}

TEST_F(EccTest, ResultsMayOverwriteTheirOperands) {
  BigNum Two, Three;
  SetInt(Two, 2);
  SetInt(Three, 3);
  EcPoint P;
  ASSERT_EQ(mbedtls_ecp_copy(P, G()), 0);
  ASSERT_EQ(ecc_point_mul(Group(), P, Two, P), 0);  // P = 2G
  ExpectPoint(P, BASE_POINT_MULTIPLES[1].X, BASE_POINT_MULTIPLES[1].Y);
  ASSERT_EQ(ecc_point_add(Group(), P, P, G()), 0);  // P = 3G
  ExpectPoint(P, BASE_POINT_MULTIPLES[2].X, BASE_POINT_MULTIPLES[2].Y);
  EcPoint TwoG;
  ASSERT_EQ(ecc_point_mul(Group(), TwoG, Two, G()), 0);
  ASSERT_EQ(ecc_point_add(Group(), P, TwoG, P), 0);  // P = 5G
  ExpectPoint(P, BASE_POINT_MULTIPLES[3].X, BASE_POINT_MULTIPLES[3].Y);
}

TEST_F(EccTest, MultiplicationOfAnotherPointAndBlindingDoNotChangeTheResult) {
  // 5 * (3G) = 15G = 3 * (5G); each multiplication draws blinding values of
  // its own from the driver's random source.
  BigNum Three, Five;
  SetInt(Three, 3);
  SetInt(Five, 5);
  EcPoint ThreeG, FiveG, First, Second;
  ASSERT_EQ(ecc_point_mul(Group(), ThreeG, Three, G()), 0);
  ASSERT_EQ(ecc_point_mul(Group(), First, Five, ThreeG), 0);
  ASSERT_EQ(ecc_point_mul(Group(), FiveG, Five, G()), 0);
  ASSERT_EQ(ecc_point_mul(Group(), Second, Three, FiveG), 0);
  EXPECT_EQ(mbedtls_ecp_point_cmp(First, Second), 0);
  EXPECT_EQ(ecc_point_check(Group(), First), 0);
}

TEST_F(EccTest, MultiplicationRefusesScalarsOutsideTheOrder) {
  BigNum Zero, Order;
  SetInt(Zero, 0);
  SetHex(Order, P256_N);
  EcPoint R;
  EXPECT_EQ(ecc_point_mul(Group(), R, Zero, G()), -1);
  EXPECT_EQ(ecc_point_mul(Group(), R, Order, G()), -1);
}

TEST_F(EccTest, MultiplicationTakesWhatMbedtlsTakesAndAgreesWithIt) {
  // Random scalars and points against mbedtls_ecp_mul on the same group.
  std::mt19937_64 Generator(1905);
  auto Random = [](void *Context, unsigned char *Out, size_t Length) {
    for (size_t Index = 0; Index < Length; ++Index) {
      Out[Index] = static_cast<unsigned char>((*static_cast<std::mt19937_64 *>(Context))());
    }
    return 0;
  };
  mbedtls_ecp_group *Raw = &Group()->Group;
  for (int Round = 0; Round < 20; ++Round) {
    BigNum K, Base;
    EcPoint P, Own, Reference;
    ASSERT_EQ(mbedtls_ecp_gen_privkey(Raw, Base, Random, &Generator), 0);
    ASSERT_EQ(mbedtls_ecp_gen_privkey(Raw, K, Random, &Generator), 0);
    ASSERT_EQ(mbedtls_ecp_mul(Raw, P, Base, &Raw->G, Random, &Generator), 0);
    ASSERT_EQ(mbedtls_ecp_mul(Raw, Reference, K, P, Random, &Generator), 0);
    ASSERT_EQ(ecc_point_mul(Group(), Own, K, P), 0);
    EXPECT_EQ(mbedtls_ecp_point_cmp(Own, Reference), 0);
  }

  // What mbedtls refuses is refused: scalars outside 1 .. r - 1, and points
  // that are not affine points of the curve with coordinates below p.
  BigNum One, Negative, Wide, Prime, Two;
  SetInt(One, 1);
  SetInt(Negative, -5);
  SetHex(Wide, std::string("01") + std::string(64, '0'));
  SetHex(Prime, P256_P);
  SetInt(Two, 2);
  EcPoint R;
  EXPECT_EQ(ecc_point_mul(Group(), R, Negative, G()), -1);
  EXPECT_EQ(ecc_point_mul(Group(), R, Wide, G()), -1);
  EcPoint Infinity, OffCurve, Unreduced, NotAffine;
  ASSERT_EQ(mbedtls_ecp_set_zero(Infinity), 0);
  ASSERT_EQ(ecc_point_from_xy(Group(), Gx(), One, OffCurve), 0);
  ASSERT_EQ(ecc_point_from_xy(Group(), Prime, Gy(), Unreduced), 0);
  ASSERT_EQ(mbedtls_ecp_copy(NotAffine, G()), 0);
  ASSERT_EQ(mbedtls_mpi_lset(PointZ(NotAffine.Get()), 2), 0);
  for (const mbedtls_ecp_point *Bad : {Infinity.Get(), OffCurve.Get(), Unreduced.Get(), NotAffine.Get()}) {
    EXPECT_NE(mbedtls_ecp_check_pubkey(Raw, Bad), 0) << "mbedtls refuses it too";
    EXPECT_EQ(ecc_point_check(Group(), Bad), -1);
    EXPECT_EQ(ecc_point_mul(Group(), R, Two, Bad), -1);
    EXPECT_EQ(ecc_point_add(Group(), R, G(), Bad), -1);
  }
}

TEST_F(EccTest, SharedSecretCombinationMatchesTheStepByStepComputation) {
  // K * (M * P + Q) against mbedtls: M * P, then + Q, then K times the sum.
  mbedtls_ecp_group *Raw = &Group()->Group;
  BigNum K, M, Three, One;
  SetHex(K, BASE_POINT_MULTIPLES[4].K);
  SetHex(M, "C9AFA9D845BA75166B5C215767B1D6934E50C3DB36E89B127B8A622B120F6721");
  SetInt(Three, 3);
  SetInt(One, 1);
  EcPoint Q, Product, Sum, Expected, Own;
  ASSERT_EQ(ecc_point_mul(Group(), Q, Three, G()), 0);
  ASSERT_EQ(mbedtls_ecp_muladd(Raw, Sum, M, G(), One, Q), 0);
  ASSERT_EQ(mbedtls_ecp_mul(Raw, Expected, K, Sum, random_callback, nullptr), 0);
  ASSERT_EQ(ecc_point_mul_sum(Group(), Own, K, M, G(), Q), 0);
  EXPECT_EQ(mbedtls_ecp_point_cmp(Own, Expected), 0);

  // Q = -(M * P): the sum, and so the result, is infinity.
  ASSERT_EQ(ecc_point_mul(Group(), Product, M, G()), 0);
  ASSERT_EQ(ecc_point_negate(Group(), Product), 0);
  ASSERT_EQ(ecc_point_mul_sum(Group(), Own, K, M, G(), Product), 0);
  EXPECT_EQ(ecc_point_is_infinity(Own), 1);
  // Q = M * P: the sum doubles.
  ASSERT_EQ(ecc_point_negate(Group(), Product), 0);
  ASSERT_EQ(mbedtls_ecp_muladd(Raw, Sum, M, G(), One, Product), 0);
  ASSERT_EQ(mbedtls_ecp_mul(Raw, Expected, K, Sum, random_callback, nullptr), 0);
  ASSERT_EQ(ecc_point_mul_sum(Group(), Own, K, M, G(), Product), 0);
  EXPECT_EQ(mbedtls_ecp_point_cmp(Own, Expected), 0);

  BigNum Zero, Order;
  SetInt(Zero, 0);
  SetHex(Order, P256_N);
  EcPoint Infinity;
  ASSERT_EQ(mbedtls_ecp_set_zero(Infinity), 0);
  EXPECT_EQ(ecc_point_mul_sum(Group(), Own, Zero, M, G(), Q), -1);
  EXPECT_EQ(ecc_point_mul_sum(Group(), Own, K, Order, G(), Q), -1);
  EXPECT_EQ(ecc_point_mul_sum(Group(), Own, K, M, G(), Infinity), -1);
  EXPECT_EQ(ecc_point_mul_sum(nullptr, Own, K, M, G(), Q), -1);
}

TEST_F(EccTest, AdditionMatchesKnownSumsAndReachesInfinity) {
  BigNum Two, Three;
  SetInt(Two, 2);
  SetInt(Three, 3);
  EcPoint TwoG, ThreeG, Sum, Doubled;
  ASSERT_EQ(ecc_point_mul(Group(), TwoG, Two, G()), 0);
  ASSERT_EQ(ecc_point_mul(Group(), ThreeG, Three, G()), 0);
  ASSERT_EQ(ecc_point_add(Group(), Sum, TwoG, ThreeG), 0);
  ExpectPoint(Sum, BASE_POINT_MULTIPLES[3].X, BASE_POINT_MULTIPLES[3].Y);
  ASSERT_EQ(ecc_point_add(Group(), Doubled, G(), G()), 0);
  ExpectPoint(Doubled, BASE_POINT_MULTIPLES[1].X, BASE_POINT_MULTIPLES[1].Y);

  EcPoint MinusG, Zero;
  ASSERT_EQ(mbedtls_ecp_copy(MinusG, G()), 0);
  ASSERT_EQ(ecc_point_negate(Group(), MinusG), 0);
  ASSERT_EQ(ecc_point_add(Group(), Zero, G(), MinusG), 0);
  EXPECT_EQ(ecc_point_is_infinity(Zero), 1);
  // Infinity is no affine point: it cannot be an operand.
  EXPECT_EQ(ecc_point_add(Group(), Sum, Zero, G()), -1);
}

TEST_F(EccTest, InfinityEncodesAsZeroCoordinates) {
  EcPoint Infinity;
  ASSERT_EQ(mbedtls_ecp_set_zero(Infinity), 0);
  EXPECT_EQ(ecc_point_is_infinity(Infinity), 1);
  EXPECT_EQ(ecc_point_is_infinity(G()), 0);
  BigNum X, Y;
  SetInt(X, 9);
  SetInt(Y, 9);
  ASSERT_EQ(ecc_point_to_xy(Group(), X, Y, Infinity), 0);
  EXPECT_EQ(bignum_cmp_int(X, 0), 0);
  EXPECT_EQ(bignum_cmp_int(Y, 0), 0);
  EXPECT_EQ(ecc_point_check(Group(), Infinity), -1);
}

TEST_F(EccTest, NegationFlipsYAndRefusesYZeroAndInfinity) {
  ASSERT_EQ(ecc_point_negate(Group(), G()), 0);
  ExpectPoint(G(), P256_GX, BASE_POINT_MULTIPLES[5].Y);
  EXPECT_EQ(ecc_point_check(Group(), G()), 0);

  // (x, 0) with Z = 1: negation fails and keeps the point.
  BigNum Zero;
  SetInt(Zero, 0);
  EcPoint YZero;
  ASSERT_EQ(ecc_point_from_xy(Group(), Gx(), Zero, YZero), 0);
  EXPECT_EQ(ecc_point_negate(Group(), YZero), -1);
  ExpectPoint(YZero, P256_GX, std::string(64, '0').c_str());

  EcPoint Infinity;
  ASSERT_EQ(mbedtls_ecp_set_zero(Infinity), 0);
  EXPECT_EQ(ecc_point_negate(Group(), Infinity), -1);
  EXPECT_EQ(ecc_point_is_infinity(Infinity), 1);
}

TEST_F(EccTest, DecodedPointsAreCheckedOnlyByPointCheck) {
  BigNum Prime, One;
  SetHex(Prime, P256_P);
  SetInt(One, 1);
  EcPoint OffCurve;
  ASSERT_EQ(ecc_point_from_xy(Group(), Gx(), One, OffCurve), 0);
  EXPECT_EQ(ecc_point_check(Group(), OffCurve), -1);

  // A coordinate equal to p is no valid coordinate.
  EcPoint Unreduced;
  ASSERT_EQ(ecc_point_from_xy(Group(), Prime, Gy(), Unreduced), 0);
  EXPECT_EQ(ecc_point_check(Group(), Unreduced), -1);

  // A coordinate longer than p does not fit the encoding.
  BigNum TooLong;
  SetHex(TooLong, std::string("01") + P256_GX);
  EcPoint P;
  EXPECT_EQ(ecc_point_from_xy(Group(), TooLong, Gy(), P), -1);
}

TEST_F(EccTest, CurveEquationHoldsForTheBasePoint) {
  BigNum Prime, RightSide, YSquared;
  SetHex(Prime, P256_P);
  ASSERT_EQ(ecc_curve_y2(Group(), Prime, Gx(), RightSide), 0);
  ASSERT_EQ(bignum_mul_mod(YSquared, Gy(), Gy(), Prime), 0);
  EXPECT_EQ(bignum_cmp(RightSide, YSquared), 0);
  // And in place, over x itself.
  ASSERT_EQ(ecc_curve_y2(Group(), Prime, Gx(), Gx()), 0);
  EXPECT_EQ(bignum_cmp(Gx(), YSquared), 0);
  EXPECT_EQ(ecc_curve_y2(nullptr, Prime, Gy(), RightSide), -1);
}

TEST_F(EccTest, GroupCreationSurvivesPoolExhaustionAtEveryAllocation) {
  UINT64 Allocations = FailEachAllocation([] {
    EcGroup Created = EcGroup::Create(SAE_GROUP_P256);
    return static_cast<bool>(Created);
  });
  EXPECT_GE(Allocations, 2u);  // the record and a
  EXPECT_EQ(ConOutText(), "");
}

TEST_F(EccTest, PointMultiplicationSurvivesPoolExhaustionAtEveryAllocation) {
  // SAE never multiplies the base point, so the point is 2G. Group 19's
  // multiplication allocates only the result's coordinates (and the group
  // its record and a): every allocation is failed in turn.
  BigNum Two, K;
  SetInt(Two, 2);
  SetHex(K, BASE_POINT_MULTIPLES[4].K);
  EcPoint TwoG;
  ASSERT_EQ(ecc_point_mul(Group(), TwoG, Two, G()), 0);
  UINT64 Allocations = FailEachAllocation([&] {
    EcGroup Fresh = EcGroup::Create(SAE_GROUP_P256);
    EcPoint R;
    BigNum X, Y;
    return Fresh && ecc_point_mul(Fresh, R, K, TwoG) == 0 && ecc_point_to_xy(Fresh, X, Y, R) == 0 &&
           ecc_point_check(Fresh, R) == 0;
  });
  EXPECT_GE(Allocations, 4u);  // record, a, the result's x and y
}

}  // namespace
}  // namespace sae_test
