// Big-number operations of the SAE layer: thin wrappers over mbedtls_mpi that
// fold mbedtls error codes to -1, plus the Legendre symbol and the square
// root modulo a prime p = 3 mod 4.
#include "Bignum.h"

#include "FieldP256.h"
#include "SecretBuffer.h"

namespace {

int Fold(int MbedtlsResult) { return MbedtlsResult == 0 ? 0 : -1; }

int Sign(int Comparison) { return Comparison < 0 ? -1 : (Comparison > 0 ? 1 : 0); }

}  // namespace

void bignum_init(mbedtls_mpi *X) { mbedtls_mpi_init(X); }

void bignum_free(mbedtls_mpi *X) { mbedtls_mpi_free(X); }

int bignum_from_bytes(mbedtls_mpi *X, const UINT8 *Bytes, UINTN Length) {
  return Fold(mbedtls_mpi_read_binary(X, Bytes, Length));
}

int bignum_to_bytes(const mbedtls_mpi *X, UINT8 *Buffer, UINTN Length) {
  return Fold(mbedtls_mpi_write_binary(X, Buffer, Length));
}

int bignum_copy(mbedtls_mpi *R, const mbedtls_mpi *A) { return Fold(mbedtls_mpi_copy(R, A)); }

int bignum_add(mbedtls_mpi *R, const mbedtls_mpi *A, const mbedtls_mpi *B) {
  return Fold(mbedtls_mpi_add_mpi(R, A, B));
}

int bignum_add_int(mbedtls_mpi *R, const mbedtls_mpi *A, int N) {
  return Fold(mbedtls_mpi_add_int(R, A, N));
}

int bignum_sub(mbedtls_mpi *R, const mbedtls_mpi *A, const mbedtls_mpi *B) {
  return Fold(mbedtls_mpi_sub_mpi(R, A, B));
}

int bignum_sub_int(mbedtls_mpi *R, const mbedtls_mpi *A, int N) {
  return Fold(mbedtls_mpi_sub_int(R, A, N));
}

int bignum_mod(mbedtls_mpi *R, const mbedtls_mpi *A, const mbedtls_mpi *M) {
  return Fold(mbedtls_mpi_mod_mpi(R, A, M));
}

int bignum_add_mod(mbedtls_mpi *R, const mbedtls_mpi *A, const mbedtls_mpi *B, const mbedtls_mpi *M) {
  int Result = mbedtls_mpi_add_mpi(R, A, B);
  if (Result == 0) {
    Result = mbedtls_mpi_mod_mpi(R, R, M);
  }
  return Fold(Result);
}

int bignum_mul_mod(mbedtls_mpi *R, const mbedtls_mpi *A, const mbedtls_mpi *B, const mbedtls_mpi *M) {
  int Result = mbedtls_mpi_mul_mpi(R, A, B);
  if (Result == 0) {
    Result = mbedtls_mpi_mod_mpi(R, R, M);
  }
  return Fold(Result);
}

int bignum_exp_mod(mbedtls_mpi *R, const mbedtls_mpi *A, const mbedtls_mpi *E, const mbedtls_mpi *M) {
  // Into a fresh number first: the output may be the same object as the
  // base or the modulus, which mbedtls does not allow.
  BigNum Result;
  if (mbedtls_mpi_exp_mod(Result, A, E, M, nullptr) != 0) {
    return -1;
  }
  return bignum_copy(R, Result);
}

int bignum_shift_right(mbedtls_mpi *X, UINTN Bits) { return Fold(mbedtls_mpi_shift_r(X, Bits)); }

int bignum_cond_assign(mbedtls_mpi *X, const mbedtls_mpi *Y, UINT8 Flag) {
  // mbedtls wants exactly 0 or 1 (its sign selection breaks on other values);
  // reduce without a branch so the choice stays invisible.
  UINT8 Bit = static_cast<UINT8>((Flag | static_cast<UINT8>(0u - Flag)) >> 7);
  return Fold(mbedtls_mpi_safe_cond_assign(X, Y, Bit));
}

int bignum_cmp(const mbedtls_mpi *A, const mbedtls_mpi *B) { return Sign(mbedtls_mpi_cmp_mpi(A, B)); }

int bignum_cmp_int(const mbedtls_mpi *A, int N) { return Sign(mbedtls_mpi_cmp_int(A, N)); }

int bignum_bits(const mbedtls_mpi *A) { return static_cast<int>(mbedtls_mpi_bitlen(A)); }

int bignum_bytes(const mbedtls_mpi *A) { return static_cast<int>(mbedtls_mpi_size(A)); }

int bignum_get_bit(const mbedtls_mpi *A, UINTN Index) { return mbedtls_mpi_get_bit(A, Index); }

int bignum_legendre(const mbedtls_mpi *A, const mbedtls_mpi *P) {
  int Symbol = -1;
  return bignum_legendre_checked(A, P, &Symbol) == 0 ? Symbol : -1;
}

int bignum_legendre_checked(const mbedtls_mpi *A, const mbedtls_mpi *P, int *Symbol) {
  p256::Element Value;
  if (p256::IsFieldPrime(P) && p256::FromBignum(A, &Value)) {
    *Symbol = p256::Legendre(Value);
    return 0;
  }
  // Euler's criterion: A^((P - 1) / 2) is 1 for a residue, P - 1 for a
  // non-residue and 0 for a multiple of P.
  BigNum Exponent;
  BigNum Power;
  if (bignum_sub_int(Exponent, P, 1) != 0 || bignum_shift_right(Exponent, 1) != 0 ||
      bignum_exp_mod(Power, A, Exponent, P) != 0) {
    return -1;
  }
  *Symbol = bignum_cmp_int(Power, 1) == 0 ? 1 : (bignum_cmp_int(Power, 0) == 0 ? 0 : -1);
  return 0;
}

int bignum_sqrt_mod(mbedtls_mpi *R, const mbedtls_mpi *A, const mbedtls_mpi *P) {
  p256::Element Value;
  if (p256::IsFieldPrime(P) && p256::FromBignum(A, &Value)) {
    SecretBuffer<p256::ELEMENT_BYTES> Root;
    p256::ToBytes(p256::SquareRoot(Value), Root.Bytes);
    return bignum_from_bytes(R, Root.Bytes, sizeof(Root.Bytes));
  }
  // (P + 1) / 4: the bits of P + 1 above bit 1.
  BigNum Exponent;
  if (bignum_add_int(Exponent, P, 1) != 0 || bignum_shift_right(Exponent, 2) != 0) {
    return -1;
  }
  return bignum_exp_mod(R, A, Exponent, P);
}
