// Elliptic-curve operations of the SAE layer: group creation by number,
// point arithmetic, encoding and decoding over mbedtls_ecp, the curve
// equation and point negation.
#include "Ecc.h"

#include <Library/MemoryAllocationLib.h>
#include <Library/PrintLib.h>

#include "../Random.h"
#include "SecretBuffer.h"

namespace {

int Fold(int MbedtlsResult) { return MbedtlsResult == 0 ? 0 : -1; }

// Ample for an uncompressed point (2n + 1 = 65 bytes for P-256). The
// coordinates may be secret (the password element, the shared point), so the
// buffer is cleared on the way out.
constexpr UINTN POINT_BUFFER_SIZE = 2048;

// Copies one constant of the group; -1 when the group or the target is missing.
int CopyConstant(const ECC_GROUP *Group, const mbedtls_mpi mbedtls_ecp_group::*Constant, mbedtls_mpi *X) {
  if (Group == nullptr || X == nullptr) {
    return -1;
  }
  return bignum_copy(X, &(Group->Group.*Constant));
}

// a = p - 3, made by clearing the two low bits of p (P-256's p ends in
// binary ...11). mbedtls leaves a empty for this curve.
int SetCoefficientA(mbedtls_ecp_group *Group) {
  mbedtls_mpi_init(&Group->A);
  if (mbedtls_mpi_copy(&Group->A, &Group->P) != 0 || mbedtls_mpi_set_bit(&Group->A, 0, 0) != 0 ||
      mbedtls_mpi_set_bit(&Group->A, 1, 0) != 0) {
    return -1;
  }
  return 0;
}

}  // namespace

ECC_GROUP *mbedtls_ecc_init(UINT8 GroupNumber) {
  auto *Group = static_cast<ECC_GROUP *>(AllocateZeroPool(sizeof(ECC_GROUP)));
  if (Group == nullptr) {
    return nullptr;
  }
  mbedtls_ecp_group_init(&Group->Group);
  if (GroupNumber != SAE_GROUP_P256) {
    AsciiPrint("\r\nmbedtls_ecc_init: no available ecc type: %d \n", static_cast<int>(GroupNumber));
    FreePool(Group);
    return nullptr;
  }
  // A group whose a could not be set would answer the curve equation
  // wrongly: nothing is returned rather than that.
  if (mbedtls_ecp_group_load(&Group->Group, MBEDTLS_ECP_DP_SECP256R1) != 0 || SetCoefficientA(&Group->Group) != 0) {
    ecc_free(Group);
    return nullptr;
  }
  return Group;
}

void ecc_free(ECC_GROUP *Group) {
  if (Group == nullptr) {
    return;
  }
  // The loaded curve's constants are static and mbedtls does not free them;
  // a is ours.
  mbedtls_mpi_free(&Group->Group.A);
  mbedtls_ecp_group_free(&Group->Group);
  FreePool(Group);
}

int ecc_get_prime(const ECC_GROUP *Group, mbedtls_mpi *X) {
  return CopyConstant(Group, &mbedtls_ecp_group::P, X);
}

int ecc_get_order(const ECC_GROUP *Group, mbedtls_mpi *X) {
  return CopyConstant(Group, &mbedtls_ecp_group::N, X);
}

int ecc_get_a(const ECC_GROUP *Group, mbedtls_mpi *X) {
  return CopyConstant(Group, &mbedtls_ecp_group::A, X);
}

int ecc_get_b(const ECC_GROUP *Group, mbedtls_mpi *X) {
  return CopyConstant(Group, &mbedtls_ecp_group::B, X);
}

void ecc_point_init(mbedtls_ecp_point *P) { mbedtls_ecp_point_init(P); }

void ecc_point_free(mbedtls_ecp_point *P) { mbedtls_ecp_point_free(P); }

int ecc_point_add(ECC_GROUP *Group, mbedtls_ecp_point *R, const mbedtls_ecp_point *P, const mbedtls_ecp_point *Q) {
  if (Group == nullptr) {
    return -1;
  }
  BigNum One;
  if (mbedtls_mpi_lset(One, 1) != 0) {
    return -1;
  }
  return Fold(mbedtls_ecp_muladd(&Group->Group, R, One, P, One, Q));
}

int ecc_point_mul(ECC_GROUP *Group, mbedtls_ecp_point *R, const mbedtls_mpi *K, const mbedtls_ecp_point *P) {
  if (Group == nullptr) {
    return -1;
  }
  return Fold(mbedtls_ecp_mul(&Group->Group, R, K, P, random_callback, nullptr));
}

int ecc_point_is_infinity(const mbedtls_ecp_point *P) { return mbedtls_mpi_cmp_int(&P->Z, 0) == 0 ? 1 : 0; }

int ecc_point_check(const ECC_GROUP *Group, const mbedtls_ecp_point *P) {
  if (Group == nullptr) {
    return -1;
  }
  return Fold(mbedtls_ecp_check_pubkey(&Group->Group, P));
}

int ecc_point_from_xy(const ECC_GROUP *Group, const mbedtls_mpi *X, const mbedtls_mpi *Y, mbedtls_ecp_point *P) {
  if (Group == nullptr || X == nullptr || Y == nullptr || P == nullptr) {
    return -1;
  }
  UINTN Length = mbedtls_mpi_size(&Group->Group.P);
  SecretBuffer<POINT_BUFFER_SIZE> Encoded;
  Encoded.Bytes[0] = 0x04;
  if (bignum_to_bytes(X, Encoded.Bytes + 1, Length) != 0 ||
      bignum_to_bytes(Y, Encoded.Bytes + 1 + Length, Length) != 0) {
    return -1;
  }
  // mbedtls error codes are negative: passed on as they are.
  return mbedtls_ecp_point_read_binary(&Group->Group, P, Encoded.Bytes, 2 * Length + 1);
}

int ecc_point_to_xy(const ECC_GROUP *Group, mbedtls_mpi *X, mbedtls_mpi *Y, const mbedtls_ecp_point *P) {
  if (Group == nullptr || X == nullptr || Y == nullptr || P == nullptr) {
    return -1;
  }
  UINTN Length = mbedtls_mpi_size(&Group->Group.P);
  SecretBuffer<POINT_BUFFER_SIZE> Encoded;
  size_t Written = 0;
  if (mbedtls_ecp_point_write_binary(&Group->Group, P, MBEDTLS_ECP_PF_UNCOMPRESSED, &Written, Encoded.Bytes,
                                     2 * Length + 1) != 0) {
    return -1;
  }
  if (bignum_from_bytes(X, Encoded.Bytes + 1, Length) != 0 ||
      bignum_from_bytes(Y, Encoded.Bytes + 1 + Length, Length) != 0) {
    return -1;
  }
  return 0;
}

int ecc_curve_y2(const ECC_GROUP *Group, const mbedtls_mpi *Prime, const mbedtls_mpi *X, mbedtls_mpi *R) {
  BigNum A;
  BigNum B;
  BigNum Sum;
  if (ecc_get_a(Group, A) != 0 || ecc_get_b(Group, B) != 0 || Prime == nullptr || X == nullptr || R == nullptr) {
    return -1;
  }
  // ((x^2 mod p) + a) * x + b, reduced twice instead of after every step:
  // the same value as x^3 + a*x + b mod p for three long divisions, not five.
  // Built in a temporary so that R may alias X or Prime.
  if (bignum_mul_mod(Sum, X, X, Prime) != 0 || bignum_add(Sum, Sum, A) != 0 ||
      bignum_mul_mod(Sum, Sum, X, Prime) != 0 || bignum_add_mod(Sum, Sum, B, Prime) != 0) {
    return -1;
  }
  return bignum_copy(R, Sum);
}

int ecc_point_negate(const ECC_GROUP *Group, mbedtls_ecp_point *P) {
  if (Group == nullptr || P == nullptr) {
    return -1;
  }
  BigNum Negated;
  if (bignum_sub(Negated, &Group->Group.P, &P->Y) != 0) {
    return -1;
  }
  // (x, 0) is its own negative and infinity has no y to negate.
  if (bignum_cmp_int(&P->Y, 0) == 0 || ecc_point_is_infinity(P) == 1) {
    return -1;
  }
  return bignum_cond_assign(&P->Y, Negated, 1);
}

int random_callback(void * /*Context*/, unsigned char *Buffer, size_t Length) {
  random_bytes(Buffer, Length);
  return 0;
}
