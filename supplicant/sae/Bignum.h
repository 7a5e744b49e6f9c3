// Big-number operations of the SAE layer over mbedtls_mpi.
//
// One calling shape for everything: the result comes first, and every
// operation returns 0 on success and -1 on failure (mbedtls error codes are
// folded). Results may alias arguments. A number is initialised with
// bignum_init before first use and released with bignum_free; a zero-filled
// mbedtls_mpi also counts as an empty number.
#pragma once

#include <uefi/Base.h>

#include "mbedtls/bignum.h"

void bignum_init(mbedtls_mpi *X);
// Releases the limbs (mbedtls clears them first). X may be initialised again.
void bignum_free(mbedtls_mpi *X);

// X = Length bytes read as an unsigned big-endian number.
int bignum_from_bytes(mbedtls_mpi *X, const UINT8 *Bytes, UINTN Length);
// Writes X big-endian in exactly Length bytes, zero-filled on the left; fails
// when X needs more.
int bignum_to_bytes(const mbedtls_mpi *X, UINT8 *Buffer, UINTN Length);

int bignum_copy(mbedtls_mpi *R, const mbedtls_mpi *A);
int bignum_add(mbedtls_mpi *R, const mbedtls_mpi *A, const mbedtls_mpi *B);
int bignum_add_int(mbedtls_mpi *R, const mbedtls_mpi *A, int N);
int bignum_sub(mbedtls_mpi *R, const mbedtls_mpi *A, const mbedtls_mpi *B);
int bignum_sub_int(mbedtls_mpi *R, const mbedtls_mpi *A, int N);
// R = A mod M with 0 <= R < M.
int bignum_mod(mbedtls_mpi *R, const mbedtls_mpi *A, const mbedtls_mpi *M);
int bignum_add_mod(mbedtls_mpi *R, const mbedtls_mpi *A, const mbedtls_mpi *B, const mbedtls_mpi *M);
int bignum_mul_mod(mbedtls_mpi *R, const mbedtls_mpi *A, const mbedtls_mpi *B, const mbedtls_mpi *M);
// R = A^E mod M (M odd).
int bignum_exp_mod(mbedtls_mpi *R, const mbedtls_mpi *A, const mbedtls_mpi *E, const mbedtls_mpi *M);
int bignum_shift_right(mbedtls_mpi *X, UINTN Bits);
// X = Y when Flag is set, unchanged otherwise, with the same memory accesses
// either way. Any non-zero Flag counts as set.
int bignum_cond_assign(mbedtls_mpi *X, const mbedtls_mpi *Y, UINT8 Flag);

// -1, 0 or 1 as A <, =, > B.
int bignum_cmp(const mbedtls_mpi *A, const mbedtls_mpi *B);
int bignum_cmp_int(const mbedtls_mpi *A, int N);
// Significant bits (0 for zero) and (bits + 7) / 8.
int bignum_bits(const mbedtls_mpi *A);
int bignum_bytes(const mbedtls_mpi *A);
// Bit Index of A; 0 beyond the stored limbs.
int bignum_get_bit(const mbedtls_mpi *A, UINTN Index);

// Legendre symbol (A | P) for an odd prime P: 1, 0 or -1. A failing step
// also gives -1, so a failure reads as a non-residue.
int bignum_legendre(const mbedtls_mpi *A, const mbedtls_mpi *P);
// The same with a failure kept apart from a non-residue: 0 with the symbol
// in *Symbol, or -1 when a step failed.
int bignum_legendre_checked(const mbedtls_mpi *A, const mbedtls_mpi *P, int *Symbol);
// R = A^((P + 1) / 4) mod P, a square root of A when A is a residue and
// P = 3 mod 4 (true for the P-256 prime).
//
// For the P-256 prime and 0 <= A < 2^256 both run on the fixed-size field
// of FieldP256.h (no allocation, no failure, operand-independent timing);
// other numbers take one mbedtls exponentiation.
int bignum_sqrt_mod(mbedtls_mpi *R, const mbedtls_mpi *A, const mbedtls_mpi *P);

// Owns one big number for the length of a scope: initialised on
// construction, released on every path out. Converts to the mbedtls pointer
// so it can be handed to the operations above.
class BigNum {
 public:
  BigNum() { bignum_init(&Value_); }
  ~BigNum() { bignum_free(&Value_); }
  BigNum(const BigNum &) = delete;
  BigNum &operator=(const BigNum &) = delete;

  mbedtls_mpi *Get() { return &Value_; }
  const mbedtls_mpi *Get() const { return &Value_; }
  operator mbedtls_mpi *() { return &Value_; }
  operator const mbedtls_mpi *() const { return &Value_; }

 private:
  mbedtls_mpi Value_;
};
