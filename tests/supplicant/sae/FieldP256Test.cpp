// The fixed-size P-256 field against mbedtls big numbers: every operation is
// recomputed the slow, general way on random and boundary values.
#include <random>

#include "EccTestSupport.h"
#include "FieldP256.h"

namespace sae_test {
namespace {

constexpr char MAX_256[] = "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF";

struct FieldObjects {
  FieldObjects() {
    SetHex(P, P256_P);
    EXPECT_EQ(mbedtls_mpi_sub_int(Euler, P, 1), 0);
    EXPECT_EQ(mbedtls_mpi_shift_r(Euler, 1), 0);
    EXPECT_EQ(mbedtls_mpi_add_int(Root, P, 1), 0);
    EXPECT_EQ(mbedtls_mpi_shift_r(Root, 2), 0);
  }
  BigNum P;
  BigNum Euler;  // (p - 1) / 2
  BigNum Root;   // (p + 1) / 4
};

class FieldP256Test : public SaeLayerTest<FieldObjects> {
 protected:
  const mbedtls_mpi *P() { return Objects().P; }

  std::vector<UINT8> Bytes(const mbedtls_mpi *X) {
    std::vector<UINT8> Out(32);
    EXPECT_EQ(mbedtls_mpi_write_binary(X, Out.data(), Out.size()), 0);
    return Out;
  }

  p256::Element Element(const mbedtls_mpi *X) { return p256::FromBytes(Bytes(X).data()); }
  static p256::Element FieldInt(UINT8 Value) {
    UINT8 Big[32] = {};
    Big[31] = Value;
    return p256::FromBytes(Big);
  }

  // The element as a big number, for comparison with mbedtls results.
  void Read(const p256::Element &E, mbedtls_mpi *X) {
    UINT8 Out[32];
    p256::ToBytes(E, Out);
    ASSERT_EQ(mbedtls_mpi_read_binary(X, Out, sizeof Out), 0);
  }

  void ExpectEqual(const p256::Element &E, const mbedtls_mpi *Expected, const char *What) {
    BigNum Actual;
    Read(E, Actual);
    EXPECT_EQ(mbedtls_mpi_cmp_mpi(Actual, Expected), 0) << What << ": " << ToHex(Actual) << " != " << ToHex(Expected);
  }

  // Random values below p, led by the boundary values 0, 1, 2 and p - 1.
  std::vector<std::vector<UINT8>> Samples(size_t Count) {
    std::vector<std::vector<UINT8>> Values;
    for (int Small : {0, 1, 2}) {
      BigNum X;
      SetInt(X, Small);
      Values.push_back(Bytes(X));
    }
    BigNum PMinusOne;
    EXPECT_EQ(mbedtls_mpi_sub_int(PMinusOne, P(), 1), 0);
    Values.push_back(Bytes(PMinusOne));
    std::mt19937_64 Generator(256);
    while (Values.size() < Count) {
      std::vector<UINT8> Value(32);
      for (UINT8 &Byte : Value) {
        Byte = static_cast<UINT8>(Generator());
      }
      BigNum X;
      EXPECT_EQ(mbedtls_mpi_read_binary(X, Value.data(), Value.size()), 0);
      if (mbedtls_mpi_cmp_mpi(X, P()) < 0) {
        Values.push_back(Value);
      }
    }
    return Values;
  }
};

TEST_F(FieldP256Test, BytesRoundTripAndNumbersFromPUpAreReduced) {
  for (const auto &Value : Samples(64)) {
    UINT8 Out[32];
    p256::ToBytes(p256::FromBytes(Value.data()), Out);
    EXPECT_EQ(std::vector<UINT8>(Out, Out + 32), Value);
  }
  BigNum PPlusOne, Max, Expected;
  ASSERT_EQ(mbedtls_mpi_add_int(PPlusOne, P(), 1), 0);
  SetHex(Max, MAX_256);
  for (const mbedtls_mpi *Unreduced : {P(), static_cast<const mbedtls_mpi *>(PPlusOne), static_cast<const mbedtls_mpi *>(Max)}) {
    ASSERT_EQ(mbedtls_mpi_mod_mpi(Expected, Unreduced, P()), 0);
    ExpectEqual(Element(Unreduced), Expected, "reduced");
  }
}

TEST_F(FieldP256Test, AddSubAndMulAgreeWithBigNumbers) {
  const auto Values = Samples(40);
  BigNum A, B, Expected;
  for (const auto &Left : Values) {
    for (const auto &Right : Values) {
      ASSERT_EQ(mbedtls_mpi_read_binary(A, Left.data(), 32), 0);
      ASSERT_EQ(mbedtls_mpi_read_binary(B, Right.data(), 32), 0);
      const p256::Element X = p256::FromBytes(Left.data()), Y = p256::FromBytes(Right.data());

      ASSERT_EQ(mbedtls_mpi_add_mpi(Expected, A, B), 0);
      ASSERT_EQ(mbedtls_mpi_mod_mpi(Expected, Expected, P()), 0);
      ExpectEqual(p256::Add(X, Y), Expected, "sum");

      ASSERT_EQ(mbedtls_mpi_sub_mpi(Expected, A, B), 0);
      ASSERT_EQ(mbedtls_mpi_mod_mpi(Expected, Expected, P()), 0);
      ExpectEqual(p256::Sub(X, Y), Expected, "difference");

      ASSERT_EQ(mbedtls_mpi_mul_mpi(Expected, A, B), 0);
      ASSERT_EQ(mbedtls_mpi_mod_mpi(Expected, Expected, P()), 0);
      ExpectEqual(p256::Mul(X, Y), Expected, "product");
      if (HasFailure()) {
        return;
      }
    }
  }
}

TEST_F(FieldP256Test, LegendreAndSquareRootAgreeWithGeneralExponentiation) {
  BigNum Value, Power, Root, Square;
  int Residues = 0, NonResidues = 0;
  for (const auto &Sample : Samples(200)) {
    ASSERT_EQ(mbedtls_mpi_read_binary(Value, Sample.data(), 32), 0);
    ASSERT_EQ(mbedtls_mpi_exp_mod(Power, Value, Objects().Euler, P(), nullptr), 0);
    const int Expected = mbedtls_mpi_cmp_int(Power, 1) == 0 ? 1 : (mbedtls_mpi_cmp_int(Power, 0) == 0 ? 0 : -1);
    const p256::Element X = p256::FromBytes(Sample.data());
    EXPECT_EQ(p256::Legendre(X), Expected) << ToHex(Value);
    // The big-number layer takes the same path for this prime.
    EXPECT_EQ(bignum_legendre(Value, P()), Expected);
    (Expected == 1 ? Residues : NonResidues) += Expected != 0;

    ASSERT_EQ(mbedtls_mpi_exp_mod(Power, Value, Objects().Root, P(), nullptr), 0);
    ExpectEqual(p256::SquareRoot(X), Power, "root");
    ASSERT_EQ(bignum_sqrt_mod(Root, Value, P()), 0);
    EXPECT_EQ(mbedtls_mpi_cmp_mpi(Root, Power), 0);
    if (Expected == 1) {
      ASSERT_EQ(mbedtls_mpi_mul_mpi(Square, Root, Root), 0);
      ASSERT_EQ(mbedtls_mpi_mod_mpi(Square, Square, P()), 0);
      EXPECT_EQ(mbedtls_mpi_cmp_mpi(Square, Value), 0) << "root of a residue squares back";
    }
  }
  // Both kinds were seen, in roughly equal numbers.
  EXPECT_GT(Residues, 60);
  EXPECT_GT(NonResidues, 60);
}

TEST_F(FieldP256Test, NonZeroFactorIsValueModPMinusOnePlusOne) {
  BigNum PMinusOne, PMinusTwo, Max, Expected;
  ASSERT_EQ(mbedtls_mpi_sub_int(PMinusOne, P(), 1), 0);
  ASSERT_EQ(mbedtls_mpi_sub_int(PMinusTwo, P(), 2), 0);
  SetHex(Max, MAX_256);
  BigNum Zero;
  SetInt(Zero, 0);
  for (const mbedtls_mpi *Value : {static_cast<const mbedtls_mpi *>(Zero), static_cast<const mbedtls_mpi *>(PMinusTwo),
                                   static_cast<const mbedtls_mpi *>(PMinusOne), P(), static_cast<const mbedtls_mpi *>(Max)}) {
    ASSERT_EQ(mbedtls_mpi_mod_mpi(Expected, Value, PMinusOne), 0);
    ASSERT_EQ(mbedtls_mpi_add_int(Expected, Expected, 1), 0);
    ExpectEqual(p256::NonZeroFromBytes(Bytes(Value).data()), Expected, ToHex(Value).c_str());
  }
}

TEST_F(FieldP256Test, OnlyThePrimeAndNumbersThatFitAreTakenFromBigNumbers) {
  EXPECT_TRUE(p256::IsFieldPrime(P()));
  BigNum Order, PPlusTwo, Zero, Negated, Small, Wide;
  SetHex(Order, P256_N);
  ASSERT_EQ(mbedtls_mpi_add_int(PPlusTwo, P(), 2), 0);
  SetInt(Zero, 0);
  ASSERT_EQ(mbedtls_mpi_sub_mpi(Negated, Zero, P()), 0);
  ASSERT_LT(mbedtls_mpi_cmp_int(Negated, 0), 0);
  SetInt(Small, 23);
  for (const mbedtls_mpi *Other : {static_cast<const mbedtls_mpi *>(Order), static_cast<const mbedtls_mpi *>(PPlusTwo),
                                   static_cast<const mbedtls_mpi *>(Negated), static_cast<const mbedtls_mpi *>(Small)}) {
    EXPECT_FALSE(p256::IsFieldPrime(Other)) << ToHex(Other);
  }
  EXPECT_FALSE(p256::IsFieldPrime(nullptr));

  p256::Element Out = FieldInt(5);
  EXPECT_FALSE(p256::FromBignum(Negated, &Out));
  ASSERT_EQ(mbedtls_mpi_lset(Wide, 1), 0);
  ASSERT_EQ(mbedtls_mpi_shift_l(Wide, 256), 0);
  EXPECT_FALSE(p256::FromBignum(Wide, &Out));
  EXPECT_EQ(p256::IsEqual(Out, FieldInt(5)), 1) << "a refused number leaves the output alone";
  ASSERT_EQ(mbedtls_mpi_sub_int(Wide, Wide, 1), 0);
  ASSERT_TRUE(p256::FromBignum(Wide, &Out));
  BigNum Expected;
  ASSERT_EQ(mbedtls_mpi_mod_mpi(Expected, Wide, P()), 0);
  ExpectEqual(Out, Expected, "2^256 - 1");
}

TEST_F(FieldP256Test, MulxAdxAndPortableProductsAgree) {
  if (!p256::UsesMulxAdx()) {
    GTEST_SKIP() << "the processor has no BMI2 and ADX: only the portable product runs";
  }
  const auto Values = Samples(48);
  for (const auto &Left : Values) {
    const p256::Element X = p256::FromBytes(Left.data());
    for (const auto &Right : Values) {
      const p256::Element Y = p256::FromBytes(Right.data());
      const p256::Element Fast = p256::Mul(X, Y), FastSquare = p256::Sqr(X);
      p256::Element Portable, PortableSquare;
      {
        PortableProductsScope ForcedPortable;
        Portable = p256::Mul(X, Y);
        PortableSquare = p256::Sqr(X);
      }
      ASSERT_EQ(p256::IsEqual(Fast, Portable), 1);
      ASSERT_EQ(p256::IsEqual(FastSquare, PortableSquare), 1);
    }
  }
}

// The MULX squaring has a carry chain of its own (cross products doubled, the
// squares added): limbs at the edges of their carries, every combination
// below p, squared against the general product of mbedtls, then thousands of
// random squares against the portable squaring.
TEST_F(FieldP256Test, MulxAdxSquaringAgreesOnCarryEdgesAndRandomValues) {
  if (!p256::UsesMulxAdx()) {
    GTEST_SKIP() << "the processor has no BMI2 and ADX: only the portable squaring runs";
  }
  constexpr UINT64 EDGES[] = {0, 1, 0xFFFFFFFFull, 0x100000000ull, 0x8000000000000000ull, 0xFFFFFFFF00000001ull,
                              0xFFFFFFFFFFFFFFFEull, 0xFFFFFFFFFFFFFFFFull};
  BigNum Value, Expected;
  int Checked = 0;
  for (UINT64 L3 : EDGES) {
    for (UINT64 L2 : EDGES) {
      for (UINT64 L1 : EDGES) {
        for (UINT64 L0 : EDGES) {
          const UINT64 Limbs[4] = {L0, L1, L2, L3};
          std::vector<UINT8> Bytes(32);
          for (int Index = 0; Index < 32; ++Index) {
            Bytes[Index] = static_cast<UINT8>(Limbs[3 - Index / 8] >> (56 - 8 * (Index % 8)));
          }
          ASSERT_EQ(mbedtls_mpi_read_binary(Value, Bytes.data(), Bytes.size()), 0);
          if (mbedtls_mpi_cmp_mpi(Value, P()) >= 0) {
            continue;
          }
          ASSERT_EQ(mbedtls_mpi_mul_mpi(Expected, Value, Value), 0);
          ASSERT_EQ(mbedtls_mpi_mod_mpi(Expected, Expected, P()), 0);
          ExpectEqual(p256::Sqr(p256::FromBytes(Bytes.data())), Expected, ToHex(Value).c_str());
          ++Checked;
          if (HasFailure()) {
            return;
          }
        }
      }
    }
  }
  EXPECT_GT(Checked, 2500);
  // Squares of squares walk through values no list would name.
  p256::Element Fast = FieldInt(3), Portable = FieldInt(3);
  for (int Step = 0; Step < 20000; ++Step) {
    Fast = p256::Sqr(Fast);
    {
      PortableProductsScope ForcedPortable;
      Portable = p256::Sqr(Portable);
    }
    ASSERT_EQ(p256::IsEqual(Fast, Portable), 1) << "step " << Step;
  }
}

TEST_F(FieldP256Test, SelectAndEqualityLookAtWholeElements) {
  const p256::Element A = FieldInt(3), B = FieldInt(4);
  EXPECT_EQ(p256::IsEqual(p256::Select(1, A, B), A), 1);
  EXPECT_EQ(p256::IsEqual(p256::Select(0, A, B), B), 1);
  EXPECT_EQ(p256::IsEqual(A, B), 0);
  // Elements differing only in the highest limb are different.
  p256::Element High = A;
  High.Limb[3] ^= 1ull << 63;
  EXPECT_EQ(p256::IsEqual(A, High), 0);
}

}  // namespace
}  // namespace sae_test
