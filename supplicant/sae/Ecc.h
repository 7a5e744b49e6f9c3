// Elliptic-curve operations of the SAE layer over mbedtls_ecp.
//
// Groups are created by their IANA number (the finite cyclic group of
// IEEE 802.11 SAE); only group 19, NIST P-256, exists. Same calling shape as
// the big numbers: result first, 0 on success, -1 (or another negative
// value) on failure.
#pragma once

#include <uefi/Base.h>

#include "Bignum.h"
#include "MbedtlsPoint.h"

// The one group SAE supports: secp256r1.
constexpr UINT8 SAE_GROUP_P256 = 19;

// A group in pool memory of its own. Its coefficient a is held explicitly as
// p - 3 so that the curve equation can be evaluated from the group alone.
struct ECC_GROUP {
  mbedtls_ecp_group Group;
};

// Creates group GroupNumber; NULL when the pool is exhausted or the group is
// not supported (that case is reported on the console).
ECC_GROUP *mbedtls_ecc_init(UINT8 GroupNumber);
// Releases everything the group holds, then the record. NULL is ignored.
void ecc_free(ECC_GROUP *Group);

// Copy p, the order r, a or b of the group into X; -1 when either is NULL.
int ecc_get_prime(const ECC_GROUP *Group, mbedtls_mpi *X);
int ecc_get_order(const ECC_GROUP *Group, mbedtls_mpi *X);
int ecc_get_a(const ECC_GROUP *Group, mbedtls_mpi *X);
int ecc_get_b(const ECC_GROUP *Group, mbedtls_mpi *X);

// Points: projective X, Y, Z; Z = 0 is the point at infinity. A zero-filled
// mbedtls_ecp_point also counts as an empty point.
void ecc_point_init(mbedtls_ecp_point *P);
void ecc_point_free(mbedtls_ecp_point *P);

// R = P + Q. Both must be affine points of the curve.
int ecc_point_add(ECC_GROUP *Group, mbedtls_ecp_point *R, const mbedtls_ecp_point *P, const mbedtls_ecp_point *Q);
// R = K * P with 1 <= K < r and P on the curve, blinded through
// random_callback.
int ecc_point_mul(ECC_GROUP *Group, mbedtls_ecp_point *R, const mbedtls_mpi *K, const mbedtls_ecp_point *P);
// R = K * (M * P + Q) with 1 <= K, M < r and P, Q on the curve: the SAE
// shared secret in one call. M * P + Q may be infinity; R is then infinity.
int ecc_point_mul_sum(ECC_GROUP *Group, mbedtls_ecp_point *R, const mbedtls_mpi *K, const mbedtls_mpi *M,
                      const mbedtls_ecp_point *P, const mbedtls_ecp_point *Q);
// 1 when P is the point at infinity, else 0.
int ecc_point_is_infinity(const mbedtls_ecp_point *P);
// 0 when P is an affine point of the curve (coordinates below p), else -1.
int ecc_point_check(const ECC_GROUP *Group, const mbedtls_ecp_point *P);
// P = (X, Y) with Z = 1; the point is not checked against the curve. -1 for
// a NULL argument or a coordinate longer than p, else the decoder's result.
int ecc_point_from_xy(const ECC_GROUP *Group, const mbedtls_mpi *X, const mbedtls_mpi *Y, mbedtls_ecp_point *P);
// X, Y = affine coordinates of P. The point at infinity comes out as
// (0, 0) with success: callers that must refuse it test it first.
int ecc_point_to_xy(const ECC_GROUP *Group, mbedtls_mpi *X, mbedtls_mpi *Y, const mbedtls_ecp_point *P);
// R = X^3 + a*X + b mod Prime.
int ecc_curve_y2(const ECC_GROUP *Group, const mbedtls_mpi *Prime, const mbedtls_mpi *X, mbedtls_mpi *R);
// P = -P = (x, p - y). Fails, leaving P alone, for y = 0 or infinity.
int ecc_point_negate(const ECC_GROUP *Group, mbedtls_ecp_point *P);

// The random callback handed to mbedtls_ecp_mul: fills Buffer from the
// driver's random-byte source. The context is ignored; always 0.
int random_callback(void *Context, unsigned char *Buffer, size_t Length);

// Owns one point for the length of a scope.
class EcPoint {
 public:
  EcPoint() { ecc_point_init(&Value_); }
  ~EcPoint() { ecc_point_free(&Value_); }
  EcPoint(const EcPoint &) = delete;
  EcPoint &operator=(const EcPoint &) = delete;

  mbedtls_ecp_point *Get() { return &Value_; }
  const mbedtls_ecp_point *Get() const { return &Value_; }
  operator mbedtls_ecp_point *() { return &Value_; }
  operator const mbedtls_ecp_point *() const { return &Value_; }

 private:
  mbedtls_ecp_point Value_;
};

// Owns one group (or none); releases it with ecc_free. Movable.
class EcGroup {
 public:
  EcGroup() = default;
  explicit EcGroup(ECC_GROUP *Group) : Group_(Group) {}
  static EcGroup Create(UINT8 GroupNumber) { return EcGroup(mbedtls_ecc_init(GroupNumber)); }
  ~EcGroup() { ecc_free(Group_); }
  EcGroup(const EcGroup &) = delete;
  EcGroup &operator=(const EcGroup &) = delete;
  EcGroup(EcGroup &&Other) : Group_(Other.Release()) {}
  EcGroup &operator=(EcGroup &&Other) {
    if (this != &Other) {
      ecc_free(Group_);
      Group_ = Other.Release();
    }
    return *this;
  }

  ECC_GROUP *Get() const { return Group_; }
  operator ECC_GROUP *() const { return Group_; }
  explicit operator bool() const { return Group_ != nullptr; }
  ECC_GROUP *Release() {
    ECC_GROUP *Group = Group_;
    Group_ = nullptr;
    return Group;
  }

 private:
  ECC_GROUP *Group_ = nullptr;
};
