// Montgomery arithmetic modulo the P-256 prime in four 64-bit limbs.
#include "FieldP256.h"

#include "SecretBuffer.h"

namespace p256 {
namespace {

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

// 2^256 mod p (Montgomery form of 1) is 2^256 - p, the two's complement of p.
constexpr Element MontgomeryOne() {
  Element One = {};
  SubLimbs(Element{}, PRIME, One);
  return One;
}

// 2^512 mod p, by doubling 2^256 mod p another 256 times: multiplying by it
// brings a plain number into Montgomery form.
constexpr Element MontgomerySquare() {
  Element Value = MontgomeryOne();
  for (int Step = 0; Step < 256; ++Step) {
    Value = AddModPrime(Value, Value);
  }
  return Value;
}

constexpr Element ONE = MontgomeryOne();
constexpr Element RR = MontgomerySquare();
constexpr Element PRIME_MINUS_ONE = {{PRIME.Limb[0] - 1, PRIME.Limb[1], PRIME.Limb[2], PRIME.Limb[3]}};

// Big-endian bytes to limbs, no reduction.
Element LimbsFromBytes(const UINT8 *Bytes) {
  Element Raw;
  for (int Index = 0; Index < 4; ++Index) {
    UINT64 Limb = 0;
    for (int Byte = 0; Byte < 8; ++Byte) {
      Limb = (Limb << 8) | Bytes[(3 - Index) * 8 + Byte];
    }
    Raw.Limb[Index] = Limb;
  }
  return Raw;
}

Element SqrTimes(Element A, UINTN Times) {
  while (Times-- > 0) {
    A = Sqr(A);
  }
  return A;
}

// Both exponents below are runs of one bits with zeros between them. The
// powers A^(2^k - 1) for k = 1, 2, 4, ..., 32 are built first (each from the
// one before: square k/2 times, multiply); an exponent is then a list of
// steps "square this often, multiply by this run".
constexpr UINTN RUN_COUNT = 6;  // k = 1, 2, 4, 8, 16, 32
constexpr UINT8 NO_RUN = 0xFF;

struct CHAIN_STEP {
  UINT16 Squarings;
  UINT8 Run;  // index of k, or NO_RUN
};

// (p - 1) / 2 = (2^32 - 1) * 2^223 + 2^191 + (2^95 - 1), the last run of 95
// ones taken as 32 + 32 + 16 + 8 + 4 + 2 + 1.
constexpr CHAIN_STEP EULER_CHAIN[] = {{0, 5}, {32, 0}, {128, 5}, {32, 5}, {16, 4}, {8, 3}, {4, 2}, {2, 1}, {1, 0}};
// (p + 1) / 4 = (2^32 - 1) * 2^222 + 2^190 + 2^94.
constexpr CHAIN_STEP ROOT_CHAIN[] = {{0, 5}, {32, 0}, {96, 0}, {94, NO_RUN}};
// p - 2 = (2^32 - 1) * 2^224 + 2^192 + (2^94 - 1) * 4 + 1, the run of 94
// ones taken as 32 + 32 + 16 + 8 + 4 + 2.
constexpr CHAIN_STEP INVERSE_CHAIN[] = {{0, 5}, {32, 0}, {128, 5}, {32, 5}, {16, 4}, {8, 3}, {4, 2}, {2, 1}, {2, 0}};

template <UINTN StepCount>
Element Power(const Element &A, const CHAIN_STEP (&Chain)[StepCount]) {
  Element Runs[RUN_COUNT];
  Runs[0] = A;
  for (UINTN Index = 1; Index < RUN_COUNT; ++Index) {
    Runs[Index] = Mul(SqrTimes(Runs[Index - 1], UINTN{1} << (Index - 1)), Runs[Index - 1]);
  }
  // The first step starts from one: no squaring, a multiplication by its run
  // is a copy.
  Element Result = Runs[Chain[0].Run];
  for (UINTN Index = 1; Index < StepCount; ++Index) {
    Result = SqrTimes(Result, Chain[Index].Squarings);
    if (Chain[Index].Run != NO_RUN) {
      Result = Mul(Result, Runs[Chain[Index].Run]);
    }
  }
  return Result;
}

}  // namespace

bool IsFieldPrime(const mbedtls_mpi *P) {
  UINT8 Bytes[ELEMENT_BYTES];
  if (P == nullptr || mbedtls_mpi_cmp_int(P, 0) <= 0 || mbedtls_mpi_bitlen(P) != 8 * ELEMENT_BYTES ||
      mbedtls_mpi_write_binary(P, Bytes, sizeof(Bytes)) != 0) {
    return false;
  }
  Element Value = LimbsFromBytes(Bytes);
  for (int Index = 0; Index < 4; ++Index) {
    if (Value.Limb[Index] != PRIME.Limb[Index]) {
      return false;
    }
  }
  return true;
}

Element FromBytes(const UINT8 *Bytes) {
  // Any 256-bit number times R^2 < 2^256 * p: one Montgomery product brings it
  // below p.
  return Mul(LimbsFromBytes(Bytes), RR);
}

Element NonZeroFromBytes(const UINT8 *Bytes) {
  // Below 2^256 < 2 (p - 1), so one conditional subtraction of p - 1 is the
  // whole reduction; adding 1 afterwards cannot carry out of 256 bits.
  const Element Raw = LimbsFromBytes(Bytes);
  Element Reduced;
  const UINT64 Borrow = SubLimbs(Raw, PRIME_MINUS_ONE, Reduced);
  Element Factor = SelectByMask(MaskFromBit(Borrow), Raw, Reduced);
  AddLimbs(Factor, Element{{1, 0, 0, 0}}, Factor);
  return Mul(Factor, RR);
}

void ToBytes(const Element &A, UINT8 *Bytes) {
  const Element Plain = Mul(A, Element{{1, 0, 0, 0}});
  for (int Index = 0; Index < 4; ++Index) {
    for (int Byte = 0; Byte < 8; ++Byte) {
      Bytes[(3 - Index) * 8 + Byte] = static_cast<UINT8>(Plain.Limb[Index] >> (56 - 8 * Byte));
    }
  }
}

bool FromBignum(const mbedtls_mpi *A, Element *R) {
  // The number may be a secret (a candidate x, a residue).
  SecretBuffer<ELEMENT_BYTES> Bytes;
  if (A == nullptr || R == nullptr || mbedtls_mpi_cmp_int(A, 0) < 0 ||
      mbedtls_mpi_write_binary(A, Bytes.Bytes, sizeof(Bytes.Bytes)) != 0) {
    return false;
  }
  *R = FromBytes(Bytes.Bytes);
  return true;
}

Element Add(const Element &A, const Element &B) { return AddModPrime(A, B); }

Element Sub(const Element &A, const Element &B) {
  Element Difference;
  const UINT64 Borrow = SubLimbs(A, B, Difference);
  // Went below zero: add p back.
  AddLimbs(Difference, SelectByMask(MaskFromBit(Borrow), PRIME, Element{}), Difference);
  return Difference;
}

Element Mul(const Element &A, const Element &B) { return MulModPrime(A, B); }

Element Sqr(const Element &A) { return SqrModPrime(A); }

UINT8 IsEqual(const Element &A, const Element &B) {
  UINT64 Difference = 0;
  for (int Index = 0; Index < 4; ++Index) {
    Difference |= A.Limb[Index] ^ B.Limb[Index];
  }
  Difference = Opaque(Difference);
  return static_cast<UINT8>(1 ^ ((Difference | (0 - Difference)) >> 63));
}

Element Select(UINT8 Flag, const Element &IfSet, const Element &IfClear) {
  return SelectByMask(MaskFromBit(Flag), IfSet, IfClear);
}

int Legendre(const Element &A) {
  const Element Euler = Power(A, EULER_CHAIN);
  const int IsOne = IsEqual(Euler, ONE);
  const int IsZero = IsEqual(Euler, Element{});
  // 1, 0 or -1 without a branch on the answer.
  return 2 * IsOne + IsZero - 1;
}

Element SquareRoot(const Element &A) { return Power(A, ROOT_CHAIN); }

Element Inverse(const Element &A) { return Power(A, INVERSE_CHAIN); }

}  // namespace p256
