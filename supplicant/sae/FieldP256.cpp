// Montgomery arithmetic modulo the P-256 prime in four 64-bit limbs.
#include "FieldP256.h"

#include "FieldP256Core.h"

#include "SecretBuffer.h"

#include "crypto/CpuFeatures.h"

namespace p256 {
namespace core {
#if defined(__x86_64__)
// Kept out of line here too: every product outside the inline chains shares
// these two copies.
__attribute__((noinline)) Element MulMulxAdxCall(const Element &A, const Element &B) { return MulMulxAdx(A, B); }

__attribute__((noinline)) Element SqrMulxAdxCall(const Element &A) { return SqrMulxAdx(A); }
#endif
}  // namespace core

using namespace core;
namespace {

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

template <class Field>
Element SqrTimes(Element A, UINTN Times) {
  while (Times-- > 0) {
    A = Field::Sqr(A);
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

// The squarings run inline (they are nearly all of the work); the few
// multiplications by a run are calls.
template <class Field>
Element PowerWith(const Element &A, const CHAIN_STEP *Chain, UINTN StepCount) {
  using Products = typename Field::Compact;
  Element Runs[RUN_COUNT];
  Runs[0] = A;
  for (UINTN Index = 1; Index < RUN_COUNT; ++Index) {
    Runs[Index] = Products::Mul(SqrTimes<Field>(Runs[Index - 1], UINTN{1} << (Index - 1)), Runs[Index - 1]);
  }
  // The first step starts from one: no squaring, a multiplication by its run
  // is a copy.
  Element Result = Runs[Chain[0].Run];
  for (UINTN Index = 1; Index < StepCount; ++Index) {
    Result = SqrTimes<Field>(Result, Chain[Index].Squarings);
    if (Chain[Index].Run != NO_RUN) {
      Result = Products::Mul(Result, Runs[Chain[Index].Run]);
    }
  }
  return Result;
}

// Which product the processor allows; crypto_force_portable() makes tests
// and benchmarks take the portable one.
enum class MULTIPLIER : UINT8 { Portable, MulxAdx };
MULTIPLIER ChosenMultiplier() {
#if defined(__x86_64__)
  if (crypto_cpu_has_mulx_adx()) {
    return MULTIPLIER::MulxAdx;
  }
#endif
  return MULTIPLIER::Portable;
}

// The chain on whichever products the processor allows, chosen once.
Element Power(const Element &A, const CHAIN_STEP *Chain, UINTN StepCount) {
#if defined(__x86_64__)
  if (ChosenMultiplier() == MULTIPLIER::MulxAdx) {
    return PowerWith<MulxAdxArithmetic>(A, Chain, StepCount);
  }
#endif
  return PowerWith<PortableArithmetic>(A, Chain, StepCount);
}

template <UINTN StepCount>
Element Power(const Element &A, const CHAIN_STEP (&Chain)[StepCount]) {
  return Power(A, Chain, StepCount);
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

Element Sub(const Element &A, const Element &B) { return SubModPrime(A, B); }

Element Mul(const Element &A, const Element &B) {
#if defined(__x86_64__)
  if (ChosenMultiplier() == MULTIPLIER::MulxAdx) {
    return MulxAdxCalls::Mul(A, B);
  }
#endif
  return MulModPrime(A, B);
}

Element Sqr(const Element &A) {
#if defined(__x86_64__)
  if (ChosenMultiplier() == MULTIPLIER::MulxAdx) {
    return MulxAdxCalls::Sqr(A);
  }
#endif
  return SqrModPrime(A);
}

bool UsesMulxAdx() { return ChosenMultiplier() == MULTIPLIER::MulxAdx; }

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
