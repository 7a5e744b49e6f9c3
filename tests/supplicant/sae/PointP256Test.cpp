// Group-19 point arithmetic against mbedtls: random scalars and points, the
// boundary scalars, the exceptional cases of addition, and published
// known answers (RFC 6979, RFC 5903) checked against both.
#include <random>

#include "EccTestSupport.h"
#include "PointP256.h"

namespace sae_test {
namespace {

constexpr char MAX_256[] = "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF";

int TestRandom(void *Context, unsigned char *Out, size_t Length) {
  auto *Generator = static_cast<std::mt19937_64 *>(Context);
  for (size_t Index = 0; Index < Length; ++Index) {
    Out[Index] = static_cast<unsigned char>((*Generator)());
  }
  return 0;
}

struct PointObjects {
  PointObjects() {
    EXPECT_EQ(mbedtls_ecp_group_load(&Group, MBEDTLS_ECP_DP_SECP256R1), 0);
  }
  ~PointObjects() { mbedtls_ecp_group_free(&Group); }
  mbedtls_ecp_group Group = {};
};

class PointP256Test : public SaeLayerTest<PointObjects> {
 protected:
  mbedtls_ecp_group *Group() { return &Objects().Group; }
  std::mt19937_64 *Generator() { return &Generator_; }

  std::vector<UINT8> RandomBytes(size_t Length = 32) {
    std::vector<UINT8> Bytes(Length);
    for (UINT8 &Byte : Bytes) {
      Byte = static_cast<UINT8>(Generator_());
    }
    return Bytes;
  }

  // A point of the group with a random discrete logarithm, from mbedtls.
  void RandomPoint(mbedtls_ecp_point *P) {
    BigNum K;
    ASSERT_EQ(mbedtls_ecp_gen_privkey(Group(), K, TestRandom, &Generator_), 0);
    ASSERT_EQ(mbedtls_ecp_mul(Group(), P, K, &Group()->G, TestRandom, &Generator_), 0);
  }

  // The affine mbedtls point in projective form with a random Z, so that
  // the arithmetic never sees only Z = 1.
  p256::Point Convert(const mbedtls_ecp_point *P) {
    std::vector<UINT8> X(32), Y(32);
    EXPECT_EQ(mbedtls_mpi_cmp_int(PointZ(P), 1), 0);
    EXPECT_EQ(mbedtls_mpi_write_binary(PointX(P), X.data(), 32), 0);
    EXPECT_EQ(mbedtls_mpi_write_binary(PointY(P), Y.data(), 32), 0);
    const p256::Point Affine = p256::FromAffine(p256::FromBytes(X.data()), p256::FromBytes(Y.data()));
    return p256::Rescale(Affine, p256::NonZeroFromBytes(RandomBytes().data()));
  }

  // "INF" for the point at infinity, else x and y in hex.
  static std::string Describe(const p256::Point &P) {
    p256::Element X, Y;
    if (p256::ToAffine(P, &X, &Y) == 1) {
      return "INF";
    }
    UINT8 XBytes[32], YBytes[32];
    p256::ToBytes(X, XBytes);
    p256::ToBytes(Y, YBytes);
    BigNum XNumber, YNumber;
    EXPECT_EQ(bignum_from_bytes(XNumber, XBytes, 32), 0);
    EXPECT_EQ(bignum_from_bytes(YNumber, YBytes, 32), 0);
    return ToHex(XNumber) + "," + ToHex(YNumber);
  }
  static std::string Describe(const mbedtls_ecp_point *P) {
    if (mbedtls_mpi_cmp_int(PointZ(P), 0) == 0) {
      return "INF";
    }
    return ToHex(PointX(P)) + "," + ToHex(PointY(P));
  }

  // K * P computed by mbedtls for any K >= 0: K is reduced modulo the order
  // first, since mbedtls takes only 1 <= K < n.
  std::string ExpectedMultiple(const mbedtls_mpi *K, const mbedtls_ecp_point *P) {
    BigNum Reduced;
    EcPoint R;
    EXPECT_EQ(mbedtls_mpi_mod_mpi(Reduced, K, &Group()->N), 0);
    if (mbedtls_mpi_cmp_int(Reduced, 0) == 0) {
      return "INF";
    }
    EXPECT_EQ(mbedtls_ecp_mul(Group(), R, Reduced, P, TestRandom, &Generator_), 0);
    return Describe(R.Get());
  }

  std::string OwnMultiple(const mbedtls_mpi *K, const mbedtls_ecp_point *P) {
    UINT8 Scalar[32];
    EXPECT_EQ(mbedtls_mpi_write_binary(K, Scalar, 32), 0);
    return Describe(p256::Multiply(Scalar, Convert(P)));
  }

  std::string Sum(const mbedtls_ecp_point *P, const mbedtls_ecp_point *Q) {
    BigNum One;
    SetInt(One, 1);
    EcPoint R;
    EXPECT_EQ(mbedtls_ecp_muladd(Group(), R, One, P, One, Q), 0);
    return Describe(R.Get());
  }

 private:
  std::mt19937_64 Generator_{19};
};

TEST_F(PointP256Test, MultiplicationAgreesWithMbedtlsOnRandomScalarsAndPoints) {
  for (int Round = 0; Round < 200; ++Round) {
    EcPoint P;
    RandomPoint(P);
    BigNum K;
    const std::vector<UINT8> Scalar = RandomBytes();
    ASSERT_EQ(bignum_from_bytes(K, Scalar.data(), Scalar.size()), 0);
    ASSERT_EQ(OwnMultiple(K, P), ExpectedMultiple(K, P)) << "k = " << ToHex(K);
  }
}

TEST_F(PointP256Test, PortableProductsGiveTheSameMultiples) {
  // The suite runs on whichever product the processor allows; this runs the
  // portable one against mbedtls as well.
  PortableProductsScope Portable;
  for (int Round = 0; Round < 40; ++Round) {
    EcPoint P;
    RandomPoint(P);
    BigNum K;
    const std::vector<UINT8> Scalar = RandomBytes();
    ASSERT_EQ(bignum_from_bytes(K, Scalar.data(), Scalar.size()), 0);
    EXPECT_EQ(OwnMultiple(K, P), ExpectedMultiple(K, P)) << "k = " << ToHex(K);
  }
}

TEST_F(PointP256Test, BoundaryScalarsActAsTheirResidueModuloTheOrder) {
  BigNum Zero, One, Two, Order, OrderMinusOne, OrderPlusOne, Max;
  SetInt(Zero, 0);
  SetInt(One, 1);
  SetInt(Two, 2);
  SetHex(Order, P256_N);
  ASSERT_EQ(bignum_sub_int(OrderMinusOne, Order, 1), 0);
  ASSERT_EQ(bignum_add_int(OrderPlusOne, Order, 1), 0);
  SetHex(Max, MAX_256);
  const mbedtls_mpi *Scalars[] = {Zero, One, Two, OrderMinusOne, Order, OrderPlusOne, Max};
  for (int Round = 0; Round < 3; ++Round) {
    EcPoint P;
    RandomPoint(P);
    for (const mbedtls_mpi *K : Scalars) {
      EXPECT_EQ(OwnMultiple(K, P), ExpectedMultiple(K, P)) << "k = " << ToHex(K);
    }
  }
  // Without mbedtls: 0 and n give infinity, n - 1 the negative, n + 1 the point.
  EcPoint P;
  RandomPoint(P);
  EXPECT_EQ(OwnMultiple(Zero, P), "INF");
  EXPECT_EQ(OwnMultiple(Order, P), "INF");
  EXPECT_EQ(OwnMultiple(OrderPlusOne, P), Describe(P.Get()));
  EXPECT_EQ(Describe(p256::Negate(Convert(P))), OwnMultiple(OrderMinusOne, P));
}

TEST_F(PointP256Test, AdditionIsCompleteForEqualOppositeAndInfinity) {
  const p256::Point Infinity = p256::Infinity();
  for (int Round = 0; Round < 100; ++Round) {
    EcPoint P, Q;
    RandomPoint(P);
    RandomPoint(Q);
    // Two different representations of the same point, as a scalar
    // multiplication would meet them.
    const p256::Point First = Convert(P), Second = Convert(P);
    EXPECT_EQ(Describe(p256::Add(First, Convert(Q))), Sum(P, Q));
    EXPECT_EQ(Describe(p256::Add(First, Second)), Sum(P, P));
    EXPECT_EQ(Describe(p256::Double(First)), Sum(P, P));
    EXPECT_EQ(Describe(p256::Add(First, p256::Negate(Second))), "INF");
    EXPECT_EQ(Describe(p256::Add(First, Infinity)), Describe(P.Get()));
    EXPECT_EQ(Describe(p256::Add(Infinity, Second)), Describe(P.Get()));
    if (HasFailure()) {
      return;
    }
  }
  EXPECT_EQ(Describe(p256::Add(Infinity, Infinity)), "INF");
  EXPECT_EQ(Describe(p256::Double(Infinity)), "INF");
  // Any (0 : Y : 0) is infinity, the negated one included.
  EXPECT_EQ(Describe(p256::Add(p256::Negate(Infinity), Infinity)), "INF");
}

TEST_F(PointP256Test, SaeCombinationWithATermAtInfinity) {
  BigNum Order;
  SetHex(Order, P256_N);
  UINT8 OrderBytes[32];
  ASSERT_EQ(mbedtls_mpi_write_binary(Order, OrderBytes, 32), 0);
  EcPoint Pwe, Element;
  RandomPoint(Pwe);
  RandomPoint(Element);
  BigNum Rand, Scalar;
  const std::vector<UINT8> RandBytes = RandomBytes(), ScalarBytes = RandomBytes();
  ASSERT_EQ(bignum_from_bytes(Rand, RandBytes.data(), 32), 0);
  ASSERT_EQ(bignum_from_bytes(Scalar, ScalarBytes.data(), 32), 0);
  // The first term at infinity (a scalar of n): rand * element.
  const p256::Point FirstTermZero = p256::Add(p256::Multiply(OrderBytes, Convert(Pwe)), Convert(Element));
  EXPECT_EQ(Describe(p256::Multiply(RandBytes.data(), FirstTermZero)), ExpectedMultiple(Rand, Element));
  // The sum at infinity (element = -scalar * PWE): the result is infinity.
  const p256::Point Product = p256::Multiply(ScalarBytes.data(), Convert(Pwe));
  const p256::Point SumZero = p256::Add(Product, p256::Negate(Product));
  EXPECT_EQ(Describe(SumZero), "INF");
  EXPECT_EQ(Describe(p256::Multiply(RandBytes.data(), SumZero)), "INF");
}

// Q = d * G with the published answers; mbedtls must agree as well.
struct KnownMultiple {
  const char *Source;
  const char *D;
  const char *X;
  const char *Y;  // empty where only x is published
};
constexpr KnownMultiple KNOWN_MULTIPLES[] = {
    {"RFC 6979 A.2.5 public key", "C9AFA9D845BA75166B5C215767B1D6934E50C3DB36E89B127B8A622B120F6721",
     "60FED4BA255A9D31C961EB74C6356D68C049B8923B61FA6CE669622E60F29FB6",
     "7903FE1008B8BC99A41AE9E95628BC64F2F1B20C2D7E9F5177A3C294D4462299"},
    {"RFC 5903 8.1 g^i", "C88F01F510D9AC3F70A292DAA2316DE544E9AAB8AFE84049C62A9C57862D1433",
     "DAD0B65394221CF9B051E1FECA5787D098DFE637FC90B9EF945D0C3772581180",
     "5271A0461CDB8252D61F1C456FA3E59AB1F45B33ACCF5F58389E0577B8990BB3"},
    {"RFC 5903 8.1 g^r", "C6EF9C5D78AE012A011164ACB397CE2088685D8F06BF9BE0B283AB46476BEE53",
     "D12DFB5289C8D4F81208B70270398C342296970A0BCCB74C736FC7554494BF63",
     "56FBF3CA366CC23E8157854C13C58D6AAC23F046ADA30F8353E74F33039872AB"},
};
// RFC 5903 8.1: the x coordinate of g^(ir), the shared secret.
constexpr char RFC5903_SHARED_X[] = "D6840F6B42F6EDAFD13116E0E12565202FEF8E9ECE7DCE03812464D04B9442DE";

TEST_F(PointP256Test, PublishedMultiplesOfTheBasePoint) {
  for (const KnownMultiple &Vector : KNOWN_MULTIPLES) {
    SCOPED_TRACE(Vector.Source);
    BigNum D;
    SetHex(D, Vector.D);
    const std::string Expected = std::string(Vector.X) + "," + Vector.Y;
    EXPECT_EQ(ExpectedMultiple(D, &Group()->G), Expected) << "mbedtls";
    EXPECT_EQ(OwnMultiple(D, &Group()->G), Expected);
  }
  // Each side multiplies the other's public value by its own secret.
  BigNum I, R;
  SetHex(I, KNOWN_MULTIPLES[1].D);
  SetHex(R, KNOWN_MULTIPLES[2].D);
  EcPoint Gi, Gr;
  ASSERT_EQ(mbedtls_ecp_mul(Group(), Gi, I, &Group()->G, TestRandom, Generator()), 0);
  ASSERT_EQ(mbedtls_ecp_mul(Group(), Gr, R, &Group()->G, TestRandom, Generator()), 0);
  for (const auto &[Secret, Public] : {std::pair{I.Get(), Gr.Get()}, std::pair{R.Get(), Gi.Get()}}) {
    EXPECT_EQ(ExpectedMultiple(Secret, Public).substr(0, 64), RFC5903_SHARED_X) << "mbedtls";
    EXPECT_EQ(OwnMultiple(Secret, Public).substr(0, 64), RFC5903_SHARED_X);
  }
}

TEST_F(PointP256Test, CurveMembershipAndInversion) {
  EcPoint P;
  RandomPoint(P);
  p256::Element X, Y;
  ASSERT_EQ(p256::ToAffine(Convert(P), &X, &Y), 0);
  EXPECT_EQ(p256::IsOnCurve(X, Y), 1);
  EXPECT_EQ(p256::IsOnCurve(Y, X), 0);
  EXPECT_EQ(p256::IsOnCurve(X, p256::Add(Y, Y)), 0);
  // The inverse times the value is one; zero has the inverse zero.
  for (int Round = 0; Round < 20; ++Round) {
    const p256::Element Value = p256::NonZeroFromBytes(RandomBytes().data());
    UINT8 Product[32];
    p256::ToBytes(p256::Mul(Value, p256::Inverse(Value)), Product);
    EXPECT_EQ(Product[31], 1);
    EXPECT_EQ(std::vector<UINT8>(Product, Product + 31), std::vector<UINT8>(31, 0));
  }
  EXPECT_EQ(p256::IsEqual(p256::Inverse(p256::Element{}), p256::Element{}), 1);
}

}  // namespace
}  // namespace sae_test
