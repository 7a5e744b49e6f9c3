// The P-256 field's arithmetic as inline functions, for FieldP256.cpp and for
// the point formulas, whose inner loops should not pay a call per field
// operation. Not an interface of its own: FieldP256.h is.
#pragma once
#include <uefi/Base.h>

#include "FieldP256.h"

namespace p256::core {

__extension__ typedef unsigned __int128 UINT128;

constexpr Element PRIME = {{0xFFFFFFFFFFFFFFFFull, 0x00000000FFFFFFFFull, 0, 0xFFFFFFFF00000001ull}};

// Hides a mask from the optimiser so that selections stay arithmetic (not
// needed, and not possible, while the constants are computed).
constexpr UINT64 Opaque(UINT64 Value) {
  if (!__builtin_is_constant_evaluated()) {
    __asm__("" : "+r"(Value));
  }
  return Value;
}

// 0 for Bit 0, all ones for Bit 1.
constexpr UINT64 MaskFromBit(UINT64 Bit) { return Opaque(0 - (Bit & 1)); }

// A + B + Carry; Carry (0 or 1) becomes the carry out. The compilers' carry
// builtins give plain add-with-carry chains, which 128-bit sums do not
// reliably become; constant evaluation takes the 128-bit sum.
constexpr UINT64 AddWithCarry(UINT64 A, UINT64 B, UINT64 &Carry) {
  if (!__builtin_is_constant_evaluated()) {
#if defined(__clang__)
    unsigned long long CarryOut = 0;
    const UINT64 Sum = __builtin_addcll(A, B, Carry, &CarryOut);
    Carry = CarryOut;
    return Sum;
#elif defined(__GNUC__) && defined(__x86_64__)
    unsigned long long Sum = 0;
    Carry = __builtin_ia32_addcarryx_u64(static_cast<unsigned char>(Carry), A, B, &Sum);
    return Sum;
#endif
  }
  const UINT128 Wide = static_cast<UINT128>(A) + B + Carry;
  Carry = static_cast<UINT64>(Wide >> 64);
  return static_cast<UINT64>(Wide);
}

// A - B - Borrow; Borrow (0 or 1) becomes the borrow out.
constexpr UINT64 SubWithBorrow(UINT64 A, UINT64 B, UINT64 &Borrow) {
  if (!__builtin_is_constant_evaluated()) {
#if defined(__clang__)
    unsigned long long BorrowOut = 0;
    const UINT64 Difference = __builtin_subcll(A, B, Borrow, &BorrowOut);
    Borrow = BorrowOut;
    return Difference;
#elif defined(__GNUC__) && defined(__x86_64__)
    unsigned long long Difference = 0;
    Borrow = __builtin_ia32_sbb_u64(static_cast<unsigned char>(Borrow), A, B, &Difference);
    return Difference;
#endif
  }
  const UINT128 Wide = static_cast<UINT128>(A) - B - Borrow;
  Borrow = static_cast<UINT64>(Wide >> 64) & 1;
  return static_cast<UINT64>(Wide);
}

// Out = A + B over the four limbs; the carry out (0 or 1).
constexpr UINT64 AddLimbs(const Element &A, const Element &B, Element &Out) {
  UINT64 Carry = 0;
#pragma GCC unroll 4
  for (int Index = 0; Index < 4; ++Index) {
    Out.Limb[Index] = AddWithCarry(A.Limb[Index], B.Limb[Index], Carry);
  }
  return Carry;
}

// Out = A - B over the four limbs; the borrow out (0 or 1).
constexpr UINT64 SubLimbs(const Element &A, const Element &B, Element &Out) {
  UINT64 Borrow = 0;
#pragma GCC unroll 4
  for (int Index = 0; Index < 4; ++Index) {
    Out.Limb[Index] = SubWithBorrow(A.Limb[Index], B.Limb[Index], Borrow);
  }
  return Borrow;
}

constexpr Element SelectByMask(UINT64 Mask, const Element &IfSet, const Element &IfClear) {
  Element Result = {};
#pragma GCC unroll 4
  for (int Index = 0; Index < 4; ++Index) {
    Result.Limb[Index] = (IfSet.Limb[Index] & Mask) | (IfClear.Limb[Index] & ~Mask);
  }
  return Result;
}

// Value + CarryLimb * 2^256 (below 2p, so CarryLimb is 0 or 1) reduced
// below p by one conditional subtraction.
constexpr Element ReduceOnce(const Element &Value, UINT64 CarryLimb) {
  Element Difference = {};
  const UINT64 Borrow = SubLimbs(Value, PRIME, Difference);
  // Below p only when the subtraction borrowed and there was no carry limb.
  return SelectByMask(MaskFromBit(Borrow & (CarryLimb ^ 1)), Value, Difference);
}

constexpr Element AddModPrime(const Element &A, const Element &B) {
  Element Sum = {};
  const UINT64 Carry = AddLimbs(A, B, Sum);
  return ReduceOnce(Sum, Carry);
}

struct WIDE_PRODUCT {
  UINT64 Low;
  UINT64 High;
};

constexpr WIDE_PRODUCT MulWide(UINT64 A, UINT64 B) {
  const UINT128 Wide = static_cast<UINT128>(A) * B;
  return {static_cast<UINT64>(Wide), static_cast<UINT64>(Wide >> 64)};
}

// T[Offset .. Offset + 4] += A * Word, where the sum is known to fit. The low
// and high halves of the four products go in as two carry chains.
constexpr void MulAccumulateRow(const Element &A, UINT64 Word, UINT64 *T, int Offset) {
  WIDE_PRODUCT Products[4] = {};
#pragma GCC unroll 4
  for (int Index = 0; Index < 4; ++Index) {
    Products[Index] = MulWide(A.Limb[Index], Word);
  }
  UINT64 Carry = 0;
#pragma GCC unroll 4
  for (int Index = 0; Index < 4; ++Index) {
    T[Offset + Index] = AddWithCarry(T[Offset + Index], Products[Index].Low, Carry);
  }
  T[Offset + 4] = AddWithCarry(T[Offset + 4], 0, Carry);
  Carry = 0;
#pragma GCC unroll 4
  for (int Index = 0; Index < 4; ++Index) {
    T[Offset + Index + 1] = AddWithCarry(T[Offset + Index + 1], Products[Index].High, Carry);
  }
}

// T * 2^-256 mod p for a 512-bit T below p * 2^256, fully reduced.
//
// -p^-1 mod 2^64 is 1, so the multiple of p that clears limb i is that limb
// itself, m. The prime's shape makes m * p cheap: its lowest limb 2^64 - 1
// turns m at limb i into m * 2^64, which with the second limb 2^32 - 1 makes
// m * 2^96 in all; the third limb is zero; only the top limb
// 2^64 - 2^32 + 1 needs a multiplication.
constexpr Element ReduceWide(UINT64 (&T)[8]) {
  constexpr UINT64 PRIME_TOP = 0xFFFFFFFF00000001ull;
  UINT64 Pending = 0;  // carry out of the previous round's highest limb
#pragma GCC unroll 4
  for (int Round = 0; Round < 4; ++Round) {
    const UINT64 M = T[Round];
    const WIDE_PRODUCT Top = MulWide(M, PRIME_TOP);
    UINT64 Carry = 0;
    T[Round + 1] = AddWithCarry(T[Round + 1], M << 32, Carry);
    T[Round + 2] = AddWithCarry(T[Round + 2], M >> 32, Carry);
    T[Round + 3] = AddWithCarry(T[Round + 3], Top.Low, Carry);
    T[Round + 4] = AddWithCarry(T[Round + 4], Top.High, Carry);
    UINT64 PendingCarry = 0;
    T[Round + 4] = AddWithCarry(T[Round + 4], Pending, PendingCarry);
    Pending = Carry + PendingCarry;
  }
  // (T + m p) / 2^256 < 2p: the pending carry is the 257th bit.
  return ReduceOnce(Element{{T[4], T[5], T[6], T[7]}}, Pending);
}

constexpr Element MulModPrime(const Element &A, const Element &B) {
  UINT64 T[8] = {};
#pragma GCC unroll 4
  for (int Row = 0; Row < 4; ++Row) {
    MulAccumulateRow(A, B.Limb[Row], T, Row);
  }
  return ReduceWide(T);
}

// The six distinct cross products once, doubled by a shift of the whole
// sum, then the four squares added in.
constexpr Element SqrModPrime(const Element &A) {
  UINT64 T[8] = {};
  const WIDE_PRODUCT Cross01 = MulWide(A.Limb[0], A.Limb[1]);
  const WIDE_PRODUCT Cross02 = MulWide(A.Limb[0], A.Limb[2]);
  const WIDE_PRODUCT Cross03 = MulWide(A.Limb[0], A.Limb[3]);
  const WIDE_PRODUCT Cross12 = MulWide(A.Limb[1], A.Limb[2]);
  const WIDE_PRODUCT Cross13 = MulWide(A.Limb[1], A.Limb[3]);
  const WIDE_PRODUCT Cross23 = MulWide(A.Limb[2], A.Limb[3]);
  // Limbs 1 to 6 of a0 (a1 a2 a3) + a1 (a2 a3) * 2^64 + a2 a3 * 2^128.
  UINT64 Carry = 0;
  T[1] = Cross01.Low;
  T[2] = AddWithCarry(Cross01.High, Cross02.Low, Carry);
  T[3] = AddWithCarry(Cross02.High, Cross03.Low, Carry);
  T[4] = AddWithCarry(Cross03.High, 0, Carry);
  Carry = 0;
  T[3] = AddWithCarry(T[3], Cross12.Low, Carry);
  T[4] = AddWithCarry(T[4], Cross12.High, Carry);
  T[5] = AddWithCarry(Cross13.High, 0, Carry);
  Carry = 0;
  T[4] = AddWithCarry(T[4], Cross13.Low, Carry);
  T[5] = AddWithCarry(T[5], Cross23.Low, Carry);
  T[6] = AddWithCarry(Cross23.High, 0, Carry);
  T[7] = T[6] >> 63;
#pragma GCC unroll 5
  for (int Index = 6; Index > 1; --Index) {
    T[Index] = (T[Index] << 1) | (T[Index - 1] >> 63);
  }
  T[1] <<= 1;
  Carry = 0;
#pragma GCC unroll 4
  for (int Index = 0; Index < 4; ++Index) {
    const WIDE_PRODUCT Square = MulWide(A.Limb[Index], A.Limb[Index]);
    T[2 * Index] = AddWithCarry(T[2 * Index], Square.Low, Carry);
    T[2 * Index + 1] = AddWithCarry(T[2 * Index + 1], Square.High, Carry);
  }
  return ReduceWide(T);
}

constexpr Element SubModPrime(const Element &A, const Element &B) {
  Element Difference = {};
  const UINT64 Borrow = SubLimbs(A, B, Difference);
  // Went below zero: add p back.
  AddLimbs(Difference, SelectByMask(MaskFromBit(Borrow), PRIME, Element{}), Difference);
  return Difference;
}

// A / 2 mod p: an odd A is made even by adding p, and the 257-bit sum is
// halved.
constexpr Element HalveModPrime(const Element &A) {
  const Element Addend = SelectByMask(MaskFromBit(A.Limb[0] & 1), PRIME, Element{});
  Element Sum = {};
  const UINT64 Carry = AddLimbs(A, Addend, Sum);
  Element Half = {};
#pragma GCC unroll 3
  for (int Index = 0; Index < 3; ++Index) {
    Half.Limb[Index] = (Sum.Limb[Index] >> 1) | (Sum.Limb[Index + 1] << 63);
  }
  Half.Limb[3] = (Sum.Limb[3] >> 1) | (Carry << 63);
  return Half;
}

#if defined(__x86_64__)
// The Montgomery product with MULX (a product that leaves the flags alone)
// and ADCX/ADOX (two independent carry chains), on processors that have
// BMI2 and ADX. Same algorithm as MulModPrime, interleaved row by row: each
// row adds A * B[i] to the accumulator, each reduction clears its lowest
// limb. Between the steps the accumulator stays below 2p * 2^64 and so fits
// its five limbs.

// T0..T4 += A * Word. Starting both chains from a cleared flag register, the
// low halves go in along the carry flag, the high halves along the overflow
// flag; the last carry folds into T4.
inline __attribute__((always_inline)) void AccumulateRowMulx(const Element &A, UINT64 Word, UINT64 &T0, UINT64 &T1,
                                                              UINT64 &T2, UINT64 &T3, UINT64 &T4) {
  UINT64 Low;
  UINT64 High;
  __asm__(
      "xorl %k[Low], %k[Low]\n\t"
      "mulxq %[A0], %[Low], %[High]\n\t"
      "adcxq %[Low], %[T0]\n\t"
      "adoxq %[High], %[T1]\n\t"
      "mulxq %[A1], %[Low], %[High]\n\t"
      "adcxq %[Low], %[T1]\n\t"
      "adoxq %[High], %[T2]\n\t"
      "mulxq %[A2], %[Low], %[High]\n\t"
      "adcxq %[Low], %[T2]\n\t"
      "adoxq %[High], %[T3]\n\t"
      "mulxq %[A3], %[Low], %[High]\n\t"
      "adcxq %[Low], %[T3]\n\t"
      "adoxq %[High], %[T4]\n\t"
      "movl $0, %k[Low]\n\t"
      "adcxq %[Low], %[T4]"
      : [T0] "+r"(T0), [T1] "+r"(T1), [T2] "+r"(T2), [T3] "+r"(T3), [T4] "+r"(T4), [Low] "=&r"(Low),
        [High] "=&r"(High)
      : "d"(Word), [A0] "m"(A.Limb[0]), [A1] "m"(A.Limb[1]), [A2] "m"(A.Limb[2]), [A3] "m"(A.Limb[3])
      : "cc");
}

// Adds m * p to T0..T5 with m = T0 (which it clears, so T0 is left out):
// m * 2^96 at T1 and T2, and m * (2^64 - 2^32 + 1) = m * 2^64 - m * 2^32 + m
// at T3 and T4, found by a two-limb subtraction instead of a product. T5
// receives the carry.
inline __attribute__((always_inline)) void ReduceStepMulx(UINT64 M, UINT64 &T1, UINT64 &T2, UINT64 &T3, UINT64 &T4,
                                                           UINT64 &T5) {
  UINT64 Shifted;
  UINT64 High;
  UINT64 TopLow;
  UINT64 TopHigh;
  __asm__(
      "movq %[M], %[Shifted]\n\t"
      "shlq $32, %[Shifted]\n\t"
      "movq %[M], %[High]\n\t"
      "shrq $32, %[High]\n\t"
      "movq %[M], %[TopLow]\n\t"
      "subq %[Shifted], %[TopLow]\n\t"
      "movq %[M], %[TopHigh]\n\t"
      "sbbq %[High], %[TopHigh]\n\t"
      "addq %[Shifted], %[T1]\n\t"
      "adcq %[High], %[T2]\n\t"
      "adcq %[TopLow], %[T3]\n\t"
      "adcq %[TopHigh], %[T4]\n\t"
      "movl $0, %k[T5]\n\t"
      "adcq $0, %[T5]"
      : [T1] "+r"(T1), [T2] "+r"(T2), [T3] "+r"(T3), [T4] "+r"(T4), [T5] "=&r"(T5), [Shifted] "=&r"(Shifted),
        [High] "=&r"(High), [TopLow] "=&r"(TopLow), [TopHigh] "=&r"(TopHigh)
      : [M] "r"(M)
      : "cc");
}

// The value (Carry : R3 R2 R1 R0) below 2p, reduced below p: R - p is kept
// unless it borrows out of the carry limb. The selection is by conditional
// moves, whose timing does not depend on the condition.
inline __attribute__((always_inline)) Element ReduceOnceX64(UINT64 R0, UINT64 R1, UINT64 R2, UINT64 R3, UINT64 Carry) {
  UINT64 S0, S1, S2, S3;
  __asm__(
      "movq %[R0], %[S0]\n\t"
      "movq %[R1], %[S1]\n\t"
      "movq %[R2], %[S2]\n\t"
      "movq %[R3], %[S3]\n\t"
      "subq $-1, %[S0]\n\t"
      "sbbq %[P1], %[S1]\n\t"
      "sbbq $0, %[S2]\n\t"
      "sbbq %[P3], %[S3]\n\t"
      "sbbq $0, %[Carry]\n\t"
      "cmovcq %[R0], %[S0]\n\t"
      "cmovcq %[R1], %[S1]\n\t"
      "cmovcq %[R2], %[S2]\n\t"
      "cmovcq %[R3], %[S3]"
      : [S0] "=&r"(S0), [S1] "=&r"(S1), [S2] "=&r"(S2), [S3] "=&r"(S3), [Carry] "+r"(Carry)
      : [R0] "r"(R0), [R1] "r"(R1), [R2] "r"(R2), [R3] "r"(R3), [P1] "m"(PRIME.Limb[1]), [P3] "m"(PRIME.Limb[3])
      : "cc");
  return {{S0, S1, S2, S3}};
}

inline __attribute__((always_inline)) Element AddModPrimeX64(const Element &A, const Element &B) {
  UINT64 R0 = A.Limb[0], R1 = A.Limb[1], R2 = A.Limb[2], R3 = A.Limb[3], Carry;
  __asm__(
      "xorl %k[Carry], %k[Carry]\n\t"
      "addq %[B0], %[R0]\n\t"
      "adcq %[B1], %[R1]\n\t"
      "adcq %[B2], %[R2]\n\t"
      "adcq %[B3], %[R3]\n\t"
      "adcq $0, %[Carry]"
      : [R0] "+r"(R0), [R1] "+r"(R1), [R2] "+r"(R2), [R3] "+r"(R3), [Carry] "=&r"(Carry)
      : [B0] "m"(B.Limb[0]), [B1] "m"(B.Limb[1]), [B2] "m"(B.Limb[2]), [B3] "m"(B.Limb[3])
      : "cc");
  return ReduceOnceX64(R0, R1, R2, R3, Carry);
}

// A - B, and p added back under a mask made from the borrow.
inline __attribute__((always_inline)) Element SubModPrimeX64(const Element &A, const Element &B) {
  UINT64 R0 = A.Limb[0], R1 = A.Limb[1], R2 = A.Limb[2], R3 = A.Limb[3], Mask, Low, Top;
  __asm__(
      "subq %[B0], %[R0]\n\t"
      "sbbq %[B1], %[R1]\n\t"
      "sbbq %[B2], %[R2]\n\t"
      "sbbq %[B3], %[R3]\n\t"
      "sbbq %[Mask], %[Mask]\n\t"
      "movl $0xFFFFFFFF, %k[Low]\n\t"
      "andq %[Mask], %[Low]\n\t"
      "movq %[P3], %[Top]\n\t"
      "andq %[Mask], %[Top]\n\t"
      "addq %[Mask], %[R0]\n\t"
      "adcq %[Low], %[R1]\n\t"
      "adcq $0, %[R2]\n\t"
      "adcq %[Top], %[R3]"
      : [R0] "+r"(R0), [R1] "+r"(R1), [R2] "+r"(R2), [R3] "+r"(R3), [Mask] "=&r"(Mask), [Low] "=&r"(Low),
        [Top] "=&r"(Top)
      : [B0] "m"(B.Limb[0]), [B1] "m"(B.Limb[1]), [B2] "m"(B.Limb[2]), [B3] "m"(B.Limb[3]),
        [P3] "m"(PRIME.Limb[3])
      : "cc");
  return {{R0, R1, R2, R3}};
}

// A / 2 mod p: p is added under a mask made from A's low bit, then the
// 257-bit sum is shifted down.
inline __attribute__((always_inline)) Element HalveModPrimeX64(const Element &A) {
  UINT64 R0 = A.Limb[0], R1 = A.Limb[1], R2 = A.Limb[2], R3 = A.Limb[3], Mask, Low, Top, Carry;
  __asm__(
      "movq %[R0], %[Mask]\n\t"
      "andq $1, %[Mask]\n\t"
      "negq %[Mask]\n\t"
      "movl $0xFFFFFFFF, %k[Low]\n\t"
      "andq %[Mask], %[Low]\n\t"
      "movq %[P3], %[Top]\n\t"
      "andq %[Mask], %[Top]\n\t"
      "xorl %k[Carry], %k[Carry]\n\t"
      "addq %[Mask], %[R0]\n\t"
      "adcq %[Low], %[R1]\n\t"
      "adcq $0, %[R2]\n\t"
      "adcq %[Top], %[R3]\n\t"
      "adcq $0, %[Carry]\n\t"
      "shrdq $1, %[R1], %[R0]\n\t"
      "shrdq $1, %[R2], %[R1]\n\t"
      "shrdq $1, %[R3], %[R2]\n\t"
      "shrdq $1, %[Carry], %[R3]"
      : [R0] "+r"(R0), [R1] "+r"(R1), [R2] "+r"(R2), [R3] "+r"(R3), [Mask] "=&r"(Mask), [Low] "=&r"(Low),
        [Top] "=&r"(Top), [Carry] "=&r"(Carry)
      : [P3] "m"(PRIME.Limb[3])
      : "cc");
  return {{R0, R1, R2, R3}};
}

inline __attribute__((always_inline)) Element MulMulxAdx(const Element &A, const Element &B) {
  // The accumulator's five limbs move up one register per row; the sixth
  // takes the reduction's carry.
  UINT64 T0 = 0, T1 = 0, T2 = 0, T3 = 0, T4 = 0, T5 = 0;
  AccumulateRowMulx(A, B.Limb[0], T0, T1, T2, T3, T4);
  ReduceStepMulx(T0, T1, T2, T3, T4, T5);
  AccumulateRowMulx(A, B.Limb[1], T1, T2, T3, T4, T5);
  ReduceStepMulx(T1, T2, T3, T4, T5, T0);
  AccumulateRowMulx(A, B.Limb[2], T2, T3, T4, T5, T0);
  ReduceStepMulx(T2, T3, T4, T5, T0, T1);
  AccumulateRowMulx(A, B.Limb[3], T3, T4, T5, T0, T1);
  ReduceStepMulx(T3, T4, T5, T0, T1, T2);
  return ReduceOnceX64(T4, T5, T0, T1, T2);
}


// T0..T7 = A^2: the six distinct cross products once, doubled, then the four
// squares added in; ten products instead of sixteen. The partial sums fit
// their limbs at every step (the cross products of a0 and a1 stay below
// 2^384, all six below 2^448). Three statements rather than one: with ten
// outputs and four memory operands an unoptimised build runs out of
// registers.
inline __attribute__((always_inline)) void SquareMulx(const Element &A, UINT64 &T0, UINT64 &T1, UINT64 &T2,
                                                       UINT64 &T3, UINT64 &T4, UINT64 &T5, UINT64 &T6,
                                                       UINT64 &T7) {
  UINT64 Low;
  UINT64 High;
  UINT64 Carry;
  __asm__(
      // a0 (a1 a2 a3) at limbs 1 to 4.
      "movq %[A0], %%rdx\n\t"
      "mulxq %[A1], %[T1], %[T2]\n\t"
      "mulxq %[A2], %[Low], %[T3]\n\t"
      "addq %[Low], %[T2]\n\t"
      "mulxq %[A3], %[Low], %[T4]\n\t"
      "adcq %[Low], %[T3]\n\t"
      "adcq $0, %[T4]\n\t"
      // a1 (a2 a3) at limbs 3 to 5: low halves along the carry flag, high
      // halves along the overflow flag; T7 is the zero both chains end in.
      "movq %[A1], %%rdx\n\t"
      "xorl %k[T7], %k[T7]\n\t"
      "mulxq %[A2], %[Low], %[High]\n\t"
      "adcxq %[Low], %[T3]\n\t"
      "adoxq %[High], %[T4]\n\t"
      "mulxq %[A3], %[Low], %[T5]\n\t"
      "adcxq %[Low], %[T4]\n\t"
      "adoxq %[T7], %[T5]\n\t"
      "adcxq %[T7], %[T5]\n\t"
      // a2 a3 at limbs 5 and 6.
      "movq %[A2], %%rdx\n\t"
      "mulxq %[A3], %[Low], %[T6]\n\t"
      "addq %[Low], %[T5]\n\t"
      "adcq $0, %[T6]\n\t"
      // Doubled, the top bit going to limb 7.
      "addq %[T1], %[T1]\n\t"
      "adcq %[T2], %[T2]\n\t"
      "adcq %[T3], %[T3]\n\t"
      "adcq %[T4], %[T4]\n\t"
      "adcq %[T5], %[T5]\n\t"
      "adcq %[T6], %[T6]\n\t"
      "adcq $0, %[T7]"
      : [T1] "=&r"(T1), [T2] "=&r"(T2), [T3] "=&r"(T3), [T4] "=&r"(T4), [T5] "=&r"(T5), [T6] "=&r"(T6),
        [T7] "=&r"(T7), [Low] "=&r"(Low), [High] "=&r"(High)
      : [A0] "m"(A.Limb[0]), [A1] "m"(A.Limb[1]), [A2] "m"(A.Limb[2]), [A3] "m"(A.Limb[3])
      : "rdx", "cc");
  // a0^2 and a1^2 at limbs 0 and 2; the carry out of limb 3 is kept.
  __asm__(
      "movq %[A0], %%rdx\n\t"
      "mulxq %%rdx, %[T0], %[High]\n\t"
      "addq %[High], %[T1]\n\t"
      "movq %[A1], %%rdx\n\t"
      "mulxq %%rdx, %[Low], %[High]\n\t"
      "adcq %[Low], %[T2]\n\t"
      "adcq %[High], %[T3]\n\t"
      "movl $0, %k[Carry]\n\t"
      "adcq $0, %[Carry]"
      : [T0] "=&r"(T0), [T1] "+r"(T1), [T2] "+r"(T2), [T3] "+r"(T3), [Low] "=&r"(Low), [High] "=&r"(High),
        [Carry] "=&r"(Carry)
      : [A0] "m"(A.Limb[0]), [A1] "m"(A.Limb[1])
      : "rdx", "cc");
  // a2^2 and a3^2 at limbs 4 and 6, from that carry on.
  __asm__(
      "btq $0, %[Carry]\n\t"
      "movq %[A2], %%rdx\n\t"
      "mulxq %%rdx, %[Low], %[High]\n\t"
      "adcq %[Low], %[T4]\n\t"
      "adcq %[High], %[T5]\n\t"
      "movq %[A3], %%rdx\n\t"
      "mulxq %%rdx, %[Low], %[High]\n\t"
      "adcq %[Low], %[T6]\n\t"
      "adcq %[High], %[T7]"
      : [T4] "+r"(T4), [T5] "+r"(T5), [T6] "+r"(T6), [T7] "+r"(T7), [Low] "=&r"(Low), [High] "=&r"(High)
      : [A2] "m"(A.Limb[2]), [A3] "m"(A.Limb[3]), [Carry] "r"(Carry)
      : "rdx", "cc");
}

// A^2 in Montgomery form: the low half of the square is reduced as in
// MulMulxAdx (into the limbs above it, which start from zero), then the high
// half is added. (T + m p) / 2^256 < 2p, so one conditional subtraction ends
// it.
inline __attribute__((always_inline)) Element SqrMulxAdx(const Element &A) {
  UINT64 T0, T1, T2, T3, T4, T5, T6, T7;
  SquareMulx(A, T0, T1, T2, T3, T4, T5, T6, T7);
  UINT64 R0 = 0, R1, R2, R3, Carry;
  ReduceStepMulx(T0, T1, T2, T3, R0, R1);
  ReduceStepMulx(T1, T2, T3, R0, R1, R2);
  ReduceStepMulx(T2, T3, R0, R1, R2, R3);
  ReduceStepMulx(T3, R0, R1, R2, R3, Carry);
  __asm__(
      "addq %[T4], %[R0]\n\t"
      "adcq %[T5], %[R1]\n\t"
      "adcq %[T6], %[R2]\n\t"
      "adcq %[T7], %[R3]\n\t"
      "adcq $0, %[Carry]"
      : [R0] "+r"(R0), [R1] "+r"(R1), [R2] "+r"(R2), [R3] "+r"(R3), [Carry] "+r"(Carry)
      : [T4] "r"(T4), [T5] "r"(T5), [T6] "r"(T6), [T7] "r"(T7)
      : "cc");
  return ReduceOnceX64(R0, R1, R2, R3, Carry);
}

#endif

// The two implementations of the field operations the point formulas use,
// as their type parameter: the choice is made once per point operation or
// scalar multiplication.
// The portable products stay calls (each is a few hundred instructions);
// additions and subtractions are inlined. The portable form needs no
// compact variant: it is one already.
struct PortableArithmetic {
  static Element Mul(const Element &A, const Element &B) { return MulModPrime(A, B); }
  static Element Sqr(const Element &A) { return SqrModPrime(A); }
  static inline __attribute__((always_inline)) Element Add(const Element &A, const Element &B) {
    return AddModPrime(A, B);
  }
  static inline __attribute__((always_inline)) Element Sub(const Element &A, const Element &B) {
    return SubModPrime(A, B);
  }
  static inline __attribute__((always_inline)) Element Half(const Element &A) { return HalveModPrime(A); }
  using Compact = PortableArithmetic;
};

#if defined(__x86_64__)
// The MULX products as calls (FieldP256.cpp), for the formulas whose size
// matters more than a few cycles per product.
Element MulMulxAdxCall(const Element &A, const Element &B);
Element SqrMulxAdxCall(const Element &A);

struct MulxAdxCalls;

// Inlined whole: each is a few dozen instructions, and a call would move the
// limbs through memory. Only the chains that run most (the doublings of the
// scalar multiplication, the squarings of the exponentiations) take the
// products inline; the rest call MulMulxAdxCall and SqrMulxAdxCall (Compact):
// one copy of each product instead of one per use.
struct MulxAdxArithmetic {
  static inline __attribute__((always_inline)) Element Mul(const Element &A, const Element &B) {
    return MulMulxAdx(A, B);
  }
  static inline __attribute__((always_inline)) Element Sqr(const Element &A) { return SqrMulxAdx(A); }
  static inline __attribute__((always_inline)) Element Add(const Element &A, const Element &B) {
    return AddModPrimeX64(A, B);
  }
  static inline __attribute__((always_inline)) Element Sub(const Element &A, const Element &B) {
    return SubModPrimeX64(A, B);
  }
  static inline __attribute__((always_inline)) Element Half(const Element &A) { return HalveModPrimeX64(A); }
  using Compact = MulxAdxCalls;
};

struct MulxAdxCalls : MulxAdxArithmetic {
  static Element Mul(const Element &A, const Element &B) { return MulMulxAdxCall(A, B); }
  static Element Sqr(const Element &A) { return SqrMulxAdxCall(A); }
  using Compact = MulxAdxCalls;
};
#endif

// Additions and subtractions for formulas shared by both products: on x86-64
// the sequences above (baseline instructions, every such processor has them),
// elsewhere the C forms.
struct LinearArithmetic {
  static inline __attribute__((always_inline)) Element Add(const Element &A, const Element &B) {
#if defined(__x86_64__)
    return AddModPrimeX64(A, B);
#else
    return AddModPrime(A, B);
#endif
  }
  static inline __attribute__((always_inline)) Element Sub(const Element &A, const Element &B) {
#if defined(__x86_64__)
    return SubModPrimeX64(A, B);
#else
    return SubModPrime(A, B);
#endif
  }
};

}  // namespace p256::core
