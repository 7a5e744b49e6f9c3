// Big-number operations: fixed-length encoding, the number theory SAE builds
// on, and constant-time assignment.
#include "EccTestSupport.h"

namespace sae_test {
namespace {

struct PrimeObjects {
  PrimeObjects() { SetHex(P, P256_P); }
  BigNum P;
};

class BignumTest : public SaeLayerTest<PrimeObjects> {
 protected:
  mbedtls_mpi *P() { return Objects().P; }
};

TEST_F(BignumTest, ToBytesPadsOnTheLeftAndRefusesShortFields) {
  BigNum One;
  SetInt(One, 1);
  UINT8 Field[32];
  memset(Field, 0xAA, sizeof Field);
  ASSERT_EQ(bignum_to_bytes(One, Field, sizeof Field), 0);
  for (int i = 0; i < 31; ++i) {
    EXPECT_EQ(Field[i], 0) << "byte " << i;
  }
  EXPECT_EQ(Field[31], 1);

  UINT8 Short[31];
  EXPECT_EQ(bignum_to_bytes(P(), Short, sizeof Short), -1);
  EXPECT_EQ(bignum_bytes(P()), 32);
}

TEST_F(BignumTest, LegendreSymbolOfZeroASquareAndMinusOne) {
  BigNum Zero, Square, PMinusOne;
  SetInt(Zero, 0);
  SetHex(Square, P256_GX);
  ASSERT_EQ(bignum_mul_mod(Square, Square, Square, P()), 0);
  ASSERT_EQ(bignum_sub_int(PMinusOne, P(), 1), 0);
  EXPECT_EQ(bignum_legendre(Zero, P()), 0);
  EXPECT_EQ(bignum_legendre(Square, P()), 1);
  // p = 3 mod 4, so -1 is not a square.
  EXPECT_EQ(bignum_legendre(PMinusOne, P()), -1);
}

TEST_F(BignumTest, LegendreFailureReadsAsNonResidue) {
  BigNum Even, Four;
  SetInt(Even, 10);  // exponentiation refuses an even modulus
  SetInt(Four, 4);
  EXPECT_EQ(bignum_legendre(Four, Even), -1);
}

TEST_F(BignumTest, SquareRootOfFourIsTwo) {
  BigNum Four, Root;
  SetInt(Four, 4);
  ASSERT_EQ(bignum_sqrt_mod(Root, Four, P()), 0);
  EXPECT_EQ(bignum_cmp_int(Root, 2), 0);
}

TEST_F(BignumTest, SquareRootOfASquareIsPlusOrMinusTheRoot) {
  BigNum X, Square, Root, Negated;
  SetHex(X, P256_GY);
  ASSERT_EQ(bignum_mul_mod(Square, X, X, P()), 0);
  ASSERT_EQ(bignum_sqrt_mod(Root, Square, P()), 0);
  ASSERT_EQ(bignum_sub(Negated, P(), X), 0);
  EXPECT_TRUE(bignum_cmp(Root, X) == 0 || bignum_cmp(Root, Negated) == 0) << ToHex(Root);
  // The result may be written over the input.
  ASSERT_EQ(bignum_sqrt_mod(Square, Square, P()), 0);
  EXPECT_EQ(bignum_cmp(Square, Root), 0);
}

TEST_F(BignumTest, CondAssignTakesTheValueOnlyWhenFlagged) {
  BigNum X, Y;
  SetInt(X, 7);
  SetHex(Y, P256_N);
  ASSERT_EQ(bignum_cond_assign(X, Y, 0), 0);
  EXPECT_EQ(bignum_cmp_int(X, 7), 0);
  ASSERT_EQ(bignum_cond_assign(X, Y, 1), 0);
  EXPECT_EQ(bignum_cmp(X, Y), 0);
  // Any other non-zero flag counts as set, sign included.
  BigNum Negative;
  SetInt(Negative, -5);
  ASSERT_EQ(bignum_cond_assign(X, Negative, 0x80), 0);
  EXPECT_EQ(bignum_cmp_int(X, -5), 0);
}

TEST_F(BignumTest, ExhaustedPoolFailsWithoutLeaking) {
  // A small prime (23 = 3 mod 4) keeps the number of allocations low.
  BigNum SmallPrime, Four;
  SetInt(SmallPrime, 23);
  SetInt(Four, 4);
  UINT64 Allocations = FailEachAllocation([&] {
    BigNum Root;
    return bignum_sqrt_mod(Root, Four, SmallPrime) == 0 && bignum_legendre(Root, SmallPrime) == 1 &&
           bignum_cmp_int(Root, 2) == 0;
  });
  EXPECT_GT(Allocations, 3u);
}

TEST_F(BignumTest, ExponentiationNeverReportsSuccessWithoutItsResult) {
  // Every allocation of a full-size exponentiation fails once in turn; a
  // failure must be reported, never a stale result given as success.
  BigNum Prime, Base, Exponent, Expected;
  SetHex(Prime, P256_P);
  SetHex(Base, P256_GX);
  ASSERT_EQ(bignum_sub_int(Exponent, Prime, 1), 0);
  ASSERT_EQ(bignum_shift_right(Exponent, 1), 0);
  ASSERT_EQ(bignum_exp_mod(Expected, Base, Exponent, Prime), 0);
  UINT64 Allocations = FailEachAllocation([&] {
    BigNum Result;
    if (bignum_exp_mod(Result, Base, Exponent, Prime) != 0) {
      return false;
    }
    EXPECT_EQ(bignum_cmp(Result, Expected), 0);
    return true;
  });
  EXPECT_GT(Allocations, 3u);
}

}  // namespace
}  // namespace sae_test
