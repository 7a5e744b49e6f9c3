// Elliptic-curve operations of the SAE layer: group creation by number,
// point arithmetic, encoding and decoding over mbedtls_ecp, the curve
// equation and point negation.
//
// The multiplications, additions and point checks run on the fixed-size
// arithmetic of PointP256.h (constant time, no allocation inside); mbedtls
// keeps the types at the interface and the encoding. mbedtls_ecc_init makes
// no group but 19, so mbedtls' own point arithmetic is never called and stays
// out of the image.
#include "Ecc.h"

#include <Library/MemoryAllocationLib.h>
#include <Library/PrintLib.h>

#include "../Random.h"
#include "ConstantTime.h"
#include "PointP256.h"
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

// X as exactly 32 big-endian bytes: false when negative or longer. Only the
// sign test looks at the value (it skips leading zero limbs); the copy
// depends on the number's allocated length.
bool FixedBytesFromNumber(const mbedtls_mpi *X, UINT8 *Bytes) {
  return X != nullptr && mbedtls_mpi_cmp_int(X, 0) >= 0 &&
         mbedtls_mpi_write_binary(X, Bytes, p256::ELEMENT_BYTES) == 0;
}

// A scalar the way mbedtls_ecp_mul takes it: 1 <= K < r. The range test
// looks at every byte whatever the value.
bool ReadScalar(const ECC_GROUP *Group, const mbedtls_mpi *K, UINT8 *Bytes) {
  UINT8 Order[p256::SCALAR_BYTES];
  if (!FixedBytesFromNumber(K, Bytes) || mbedtls_mpi_write_binary(&Group->Group.N, Order, sizeof(Order)) != 0) {
    return false;
  }
  UINT32 Any = 0;
  for (UINTN Index = 0; Index < p256::SCALAR_BYTES; ++Index) {
    Any |= Bytes[Index];
  }
  return (sae_ct::IsNonZero(Any) & sae_ct::IsLessBigEndian(Bytes, Order, sizeof(Order))) == 1;
}

// A point the way mbedtls_ecp_check_pubkey accepts it: Z = 1, both
// coordinates below p, on the curve. The point at infinity is refused.
bool ReadCurvePoint(const mbedtls_ecp_point *P, p256::Point *Out) {
  static constexpr UINT8 PRIME_BYTES[p256::ELEMENT_BYTES] = {
      0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  // The coordinates may be secret (the password element).
  SecretBuffer<p256::ELEMENT_BYTES> X;
  SecretBuffer<p256::ELEMENT_BYTES> Y;
  if (P == nullptr || mbedtls_mpi_cmp_int(PointZ(P), 1) != 0 || !FixedBytesFromNumber(PointX(P), X.Bytes) ||
      !FixedBytesFromNumber(PointY(P), Y.Bytes)) {
    return false;
  }
  const p256::Element XElement = p256::FromBytes(X.Bytes);
  const p256::Element YElement = p256::FromBytes(Y.Bytes);
  const UINT8 Valid = sae_ct::IsLessBigEndian(X.Bytes, PRIME_BYTES, sizeof(PRIME_BYTES)) &
                      sae_ct::IsLessBigEndian(Y.Bytes, PRIME_BYTES, sizeof(PRIME_BYTES)) &
                      p256::IsOnCurve(XElement, YElement);
  *Out = p256::FromAffine(XElement, YElement);
  return Valid == 1;
}

// R = P in affine form, or the zero point mbedtls uses for infinity.
int WritePoint(const p256::Point &P, mbedtls_ecp_point *R) {
  p256::Element X;
  p256::Element Y;
  if (p256::ToAffine(P, &X, &Y) == 1) {
    return Fold(mbedtls_ecp_set_zero(R));
  }
  SecretBuffer<p256::ELEMENT_BYTES> Bytes;
  p256::ToBytes(X, Bytes.Bytes);
  if (mbedtls_mpi_read_binary(PointX(R), Bytes.Bytes, sizeof(Bytes.Bytes)) != 0) {
    return -1;
  }
  p256::ToBytes(Y, Bytes.Bytes);
  if (mbedtls_mpi_read_binary(PointY(R), Bytes.Bytes, sizeof(Bytes.Bytes)) != 0) {
    return -1;
  }
  return Fold(mbedtls_mpi_lset(PointZ(R), 1));
}

// K * P on a fresh random representation of P: the blinding mbedtls draws
// through random_callback, drawn here from the same source.
p256::Point BlindedMultiply(const UINT8 *Scalar, const p256::Point &P) {
  SecretBuffer<p256::ELEMENT_BYTES> Random;
  random_callback(nullptr, Random.Bytes, sizeof(Random.Bytes));
  return p256::Multiply(Scalar, p256::Rescale(P, p256::NonZeroFromBytes(Random.Bytes)));
}

int MulP256(const ECC_GROUP *Group, mbedtls_ecp_point *R, const mbedtls_mpi *K, const mbedtls_ecp_point *P) {
  SecretBuffer<p256::SCALAR_BYTES> Scalar;
  p256::Point Base;
  if (!ReadScalar(Group, K, Scalar.Bytes) || !ReadCurvePoint(P, &Base)) {
    return -1;
  }
  return WritePoint(BlindedMultiply(Scalar.Bytes, Base), R);
}

int AddP256(mbedtls_ecp_point *R, const mbedtls_ecp_point *P, const mbedtls_ecp_point *Q) {
  p256::Point Left;
  p256::Point Right;
  if (!ReadCurvePoint(P, &Left) || !ReadCurvePoint(Q, &Right)) {
    return -1;
  }
  return WritePoint(p256::Add(Left, Right), R);
}

int MulSumP256(const ECC_GROUP *Group, mbedtls_ecp_point *R, const mbedtls_mpi *K, const mbedtls_mpi *M,
               const mbedtls_ecp_point *P, const mbedtls_ecp_point *Q) {
  SecretBuffer<p256::SCALAR_BYTES> Outer;
  SecretBuffer<p256::SCALAR_BYTES> Inner;
  p256::Point Base;
  p256::Point Addend;
  if (!ReadScalar(Group, K, Outer.Bytes) || !ReadScalar(Group, M, Inner.Bytes) || !ReadCurvePoint(P, &Base) ||
      !ReadCurvePoint(Q, &Addend)) {
    return -1;
  }
  // The sum stays projective: no inversion, and infinity (Q = -M P) simply
  // propagates to the result.
  const p256::Point Sum = p256::Add(BlindedMultiply(Inner.Bytes, Base), Addend);
  return WritePoint(BlindedMultiply(Outer.Bytes, Sum), R);
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
  return AddP256(R, P, Q);
}

int ecc_point_mul(ECC_GROUP *Group, mbedtls_ecp_point *R, const mbedtls_mpi *K, const mbedtls_ecp_point *P) {
  if (Group == nullptr) {
    return -1;
  }
  return MulP256(Group, R, K, P);
}

int ecc_point_mul_sum(ECC_GROUP *Group, mbedtls_ecp_point *R, const mbedtls_mpi *K, const mbedtls_mpi *M,
                      const mbedtls_ecp_point *P, const mbedtls_ecp_point *Q) {
  if (Group == nullptr || R == nullptr) {
    return -1;
  }
  return MulSumP256(Group, R, K, M, P, Q);
}

int ecc_point_is_infinity(const mbedtls_ecp_point *P) { return mbedtls_mpi_cmp_int(PointZ(P), 0) == 0 ? 1 : 0; }

int ecc_point_check(const ECC_GROUP *Group, const mbedtls_ecp_point *P) {
  if (Group == nullptr) {
    return -1;
  }
  p256::Point Checked;
  return ReadCurvePoint(P, &Checked) ? 0 : -1;
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
  if (bignum_sub(Negated, &Group->Group.P, PointY(P)) != 0) {
    return -1;
  }
  // (x, 0) is its own negative and infinity has no y to negate.
  if (bignum_cmp_int(PointY(P), 0) == 0 || ecc_point_is_infinity(P) == 1) {
    return -1;
  }
  return bignum_cond_assign(PointY(P), Negated, 1);
}

int random_callback(void * /*Context*/, unsigned char *Buffer, size_t Length) {
  random_bytes(Buffer, Length);
  return 0;
}
