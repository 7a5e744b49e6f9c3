// Arithmetic modulo the group-19 prime p = 2^256 - 2^224 + 2^192 + 2^96 - 1
// in four fixed 64-bit limbs.
//
// It carries the password element's forty Legendre symbols per exchange and
// the point arithmetic of PointP256.h. Over mbedtls_mpi every operation
// would allocate and divide; here a Legendre symbol is a fixed addition
// chain of Montgomery multiplications, and nothing allocates, fails, or
// branches or reads memory depending on an operand.
#pragma once
#include <uefi/Base.h>

#include "mbedtls/bignum.h"

namespace p256 {

constexpr UINTN ELEMENT_BYTES = 32;

// A residue modulo p in Montgomery form (value * 2^256 mod p), limbs least
// significant first, always fully reduced.
struct Element {
  UINT64 Limb[4];
};

// True when P is this field's prime: the big-number layer takes the fast
// path only then.
bool IsFieldPrime(const mbedtls_mpi *P);

// The 32 big-endian bytes as a residue; values from p to 2^256 - 1 are
// reduced.
Element FromBytes(const UINT8 *Bytes);
// The residue written big-endian in 32 bytes, 0 <= value < p.
void ToBytes(const Element &A, UINT8 *Bytes);
// (value mod (p - 1)) + 1 of the 32 big-endian bytes: a factor from 1 to
// p - 1, never zero, as a blinding factor must be.
Element NonZeroFromBytes(const UINT8 *Bytes);
// A non-negative number below 2^256 as a residue; false for anything else.
bool FromBignum(const mbedtls_mpi *A, Element *R);

// Products take MULX/ADX code where the processor has BMI2 and ADX (probed
// once), else portable code; the results are the same.
Element Add(const Element &A, const Element &B);
Element Sub(const Element &A, const Element &B);
Element Mul(const Element &A, const Element &B);
Element Sqr(const Element &A);

// 1 when A equals B, else 0, looking at every limb.
UINT8 IsEqual(const Element &A, const Element &B);
// Flag (0 or 1) ? IfSet : IfClear, without a branch.
Element Select(UINT8 Flag, const Element &IfSet, const Element &IfClear);

// Euler's criterion A^((p - 1) / 2): 1 for a non-zero square, 0 for zero,
// -1 for a non-square.
int Legendre(const Element &A);
// A^((p + 1) / 4): a square root of A when A is a square (p = 3 mod 4).
Element SquareRoot(const Element &A);
// A^(p - 2): the inverse of a non-zero A, and 0 for 0.
Element Inverse(const Element &A);

// True when products currently take the MULX/ADX code (the processor has
// them and crypto_force_portable() is not in effect).
bool UsesMulxAdx();

}  // namespace p256
