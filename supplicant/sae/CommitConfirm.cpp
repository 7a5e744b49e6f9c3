// The steps of the SAE commit and confirm exchange: secrets, own element,
// the peer's scalar and element, the shared secret, the keys and the
// confirm value.
#include "CommitConfirm.h"

#include <Library/BaseMemoryLib.h>
#include <Library/MemoryAllocationLib.h>

#include "../Random.h"
#include "SecretBuffer.h"
#include "crypto/Hmac.h"
#include "crypto/Kdf.h"

namespace {

constexpr UINTN RAND_MASK_ATTEMPTS = 100;
constexpr CHAR8 KeyLabel[] = "SAE KCK and PMK";
constexpr UINTN KEYSEED_LEN = SHA256_DIGEST_SIZE;

void ReleaseNumber(mbedtls_mpi *X) {
  bignum_free(X);
  bignum_init(X);
}

void ReleasePoint(mbedtls_ecp_point *P) {
  ecc_point_free(P);
  ecc_point_init(P);
}

// Rand and mask are drawn in whole bytes; bits above the order's length are
// shifted out (none for the 256-bit order).
void TrimToOrderBits(UINT8 *Buffer, UINTN Length, const mbedtls_mpi *Order) {
  UINTN Spare = static_cast<UINTN>(bignum_bits(Order)) % 8;
  if (Spare != 0) {
    shift_right_bits(Buffer, Length, 8 - Spare);
  }
}

bool IsBetweenOneAndOrder(const mbedtls_mpi *X, const mbedtls_mpi *Order) {
  return bignum_cmp_int(X, 1) > 0 && bignum_cmp(X, Order) < 0;
}

bool Remaining(const UINT8 *Cursor, const UINT8 *End, UINTN Needed) {
  return Cursor != nullptr && End != nullptr && Cursor <= End && static_cast<UINTN>(End - Cursor) >= Needed;
}

// x || y of P, each in Length bytes.
int WriteElement(const SAE_CONTEXT *Ctx, const mbedtls_ecp_point *P, UINT8 *Out, UINTN Length) {
  BigNum X;
  BigNum Y;
  if (ecc_point_to_xy(Ctx->Group, X, Y, P) != 0 || bignum_to_bytes(X, Out, Length) != 0 ||
      bignum_to_bytes(Y, Out + Length, Length) != 0) {
    return -1;
  }
  return 0;
}

bool SamePoint(const mbedtls_ecp_point *P, const mbedtls_ecp_point *Q) {
  return bignum_cmp(PointX(P), PointX(Q)) == 0 && bignum_cmp(PointY(P), PointY(Q)) == 0 && bignum_cmp(PointZ(P), PointZ(Q)) == 0;
}

}  // namespace

void sae_clear(SAE_CONTEXT *Ctx) {
  if (Ctx == nullptr) {
    return;
  }
  mbedtls_mpi *const Numbers[] = {&Ctx->Order, &Ctx->Prime,     &Ctx->Rand,
                                  &Ctx->Mask,  &Ctx->OwnScalar, &Ctx->PeerScalar};
  for (mbedtls_mpi *Number : Numbers) {
    ReleaseNumber(Number);
  }
  ecc_free(Ctx->Group);
  Ctx->Group = nullptr;
  mbedtls_ecp_point *const Points[] = {&Ctx->Pwe, &Ctx->OwnElement, &Ctx->PeerElement};
  for (mbedtls_ecp_point *Point : Points) {
    ReleasePoint(Point);
  }
  Ctx->OrderLen = 0;
  Ctx->PrimeLen = 0;
  Ctx->State = SAE_EXCHANGE_STATE::None;
}

int sae_get_rand_mask(SAE_CONTEXT *Ctx, mbedtls_mpi *Rand, mbedtls_mpi *Mask) {
  if (Ctx == nullptr || Ctx->OrderLen == 0) {
    return -1;
  }
  const UINTN Length = Ctx->OrderLen;
  const mbedtls_mpi *Order = &Ctx->Order;
  SecurePoolPtr<UINT8> RandBytes = SecurePoolPtr<UINT8>::Zeroed(Length);
  SecurePoolPtr<UINT8> MaskBytes = SecurePoolPtr<UINT8>::Zeroed(Length);
  if (!RandBytes || !MaskBytes) {
    return -1;
  }
  for (UINTN Attempt = 0; Attempt < RAND_MASK_ATTEMPTS; ++Attempt) {
    ZeroMem(RandBytes.Get(), Length);
    ZeroMem(MaskBytes.Get(), Length);
    random_bytes(RandBytes.Get(), Length);
    random_bytes(MaskBytes.Get(), Length);
    TrimToOrderBits(RandBytes.Get(), Length, Order);
    TrimToOrderBits(MaskBytes.Get(), Length, Order);
    BigNum Sum;
    if (bignum_from_bytes(Rand, RandBytes.Get(), Length) != 0 ||
        bignum_from_bytes(Mask, MaskBytes.Get(), Length) != 0 || bignum_add_mod(Sum, Rand, Mask, Order) != 0) {
      // Out of memory is not a bad draw: no further attempt.
      break;
    }
    if (IsBetweenOneAndOrder(Rand, Order) && IsBetweenOneAndOrder(Mask, Order) && bignum_cmp_int(Sum, 1) > 0) {
      return 0;
    }
    ReleaseNumber(Rand);
    ReleaseNumber(Mask);
  }
  ReleaseNumber(Rand);
  ReleaseNumber(Mask);
  return -1;
}

int sae_compute_element(SAE_CONTEXT *Ctx) {
  if (Ctx == nullptr || ecc_point_mul(Ctx->Group, &Ctx->OwnElement, &Ctx->Mask, &Ctx->Pwe) != 0 ||
      ecc_point_negate(Ctx->Group, &Ctx->OwnElement) != 0) {
    return -1;
  }
  return 0;
}

int sae_parse_peer_scalar(SAE_CONTEXT *Ctx, const UINT8 **Cursor, const UINT8 *End) {
  if (Ctx == nullptr || Cursor == nullptr) {
    return -1;
  }
  const UINTN Length = Ctx->PrimeLen;
  BigNum Scalar;
  if (Length == 0 || !Remaining(*Cursor, End, Length) || bignum_from_bytes(Scalar, *Cursor, Length) != 0 ||
      !IsBetweenOneAndOrder(Scalar, &Ctx->Order) || bignum_copy(&Ctx->PeerScalar, Scalar) != 0) {
    ReleaseNumber(&Ctx->PeerScalar);
    return -1;
  }
  *Cursor += Length;
  return 0;
}

int sae_parse_peer_element(SAE_CONTEXT *Ctx, const UINT8 *Cursor, const UINT8 *End) {
  if (Ctx == nullptr) {
    return -1;
  }
  ReleasePoint(&Ctx->PeerElement);
  const UINTN Length = Ctx->PrimeLen;
  BigNum X;
  BigNum Y;
  if (Length == 0 || !Remaining(Cursor, End, 2 * Length) || bignum_from_bytes(X, Cursor, Length) != 0 ||
      bignum_from_bytes(Y, Cursor + Length, Length) != 0 || bignum_cmp(X, &Ctx->Prime) >= 0 ||
      bignum_cmp(Y, &Ctx->Prime) >= 0 || ecc_point_from_xy(Ctx->Group, X, Y, &Ctx->PeerElement) != 0 ||
      ecc_point_check(Ctx->Group, &Ctx->PeerElement) != 0 || ecc_point_is_infinity(&Ctx->PeerElement) == 1) {
    ReleasePoint(&Ctx->PeerElement);
    return -1;
  }
  return 0;
}

int sae_derive_k(SAE_CONTEXT *Ctx, UINT8 *Out) {
  if (Ctx == nullptr || Out == nullptr || Ctx->PrimeLen == 0) {
    return -1;
  }
  // K = rand * (peer scalar * PWE + peer element).
  EcPoint K;
  BigNum X;
  BigNum Y;
  if (ecc_point_mul_sum(Ctx->Group, K, &Ctx->Rand, &Ctx->PeerScalar, &Ctx->Pwe, &Ctx->PeerElement) != 0 ||
      ecc_point_is_infinity(K) == 1 ||
      ecc_point_to_xy(Ctx->Group, X, Y, K) != 0 || bignum_to_bytes(X, Out, Ctx->PrimeLen) != 0) {
    return -1;
  }
  return 0;
}

int sae_derive_keys(SAE_CONTEXT *Ctx, const UINT8 *K) { return sae_derive_keys_with_salt(Ctx, K, nullptr, 0); }

int sae_derive_keys_with_salt(SAE_CONTEXT *Ctx, const UINT8 *K, const UINT8 *Salt, UINTN SaltLength) {
  if (Ctx == nullptr || K == nullptr || Ctx->PrimeLen == 0) {
    return -1;
  }
  static constexpr UINT8 ZeroKey[KEYSEED_LEN] = {};
  if (Salt == nullptr || SaltLength == 0) {
    Salt = ZeroKey;
    SaltLength = sizeof(ZeroKey);
  }
  const UINTN Length = Ctx->PrimeLen;
  SecretBuffer<KEYSEED_LEN> Keyseed;
  hmac_sha256(Salt, SaltLength, K, Length, Keyseed.Bytes);

  SecurePoolPtr<UINT8> ScalarSum = SecurePoolPtr<UINT8>::Zeroed(Length);
  BigNum Sum;
  SecretBuffer<SAE_KCK_LEN + SAE_PMK_LEN> Keys;
  if (!ScalarSum || bignum_add_mod(Sum, &Ctx->OwnScalar, &Ctx->PeerScalar, &Ctx->Order) != 0 ||
      bignum_to_bytes(Sum, ScalarSum.Get(), Length) != 0 ||
      kdf_sha256_bits(Keyseed.Bytes, KEYSEED_LEN, KeyLabel, ScalarSum.Get(), Length, Keys.Bytes,
                      8 * sizeof(Keys.Bytes)) != 0) {
    return -1;
  }
  CopyMem(Ctx->SaeKck, Keys.Bytes, SAE_KCK_LEN);
  CopyMem(Ctx->SaePmk, Keys.Bytes + SAE_KCK_LEN, SAE_PMK_LEN);
  return 0;
}

UINTN sae_compute_confirm(SAE_CONTEXT *Ctx, const UINT8 *SendConfirm, const mbedtls_mpi *ScalarA,
                          const mbedtls_ecp_point *ElementA, const mbedtls_mpi *ScalarB,
                          const mbedtls_ecp_point *ElementB, UINT8 *Out) {
  if (Ctx == nullptr || Ctx->Group == nullptr || Out == nullptr || SendConfirm == nullptr || Ctx->PrimeLen == 0) {
    return 0;
  }
  const UINTN Length = Ctx->PrimeLen;
  PoolPtr<UINT8> ScalarABytes = PoolPtr<UINT8>::Zeroed(Length);
  PoolPtr<UINT8> ElementABytes = PoolPtr<UINT8>::Zeroed(2 * Length);
  PoolPtr<UINT8> ScalarBBytes = PoolPtr<UINT8>::Zeroed(Length);
  PoolPtr<UINT8> ElementBBytes = PoolPtr<UINT8>::Zeroed(2 * Length);
  if (!ScalarABytes || !ElementABytes || !ScalarBBytes || !ElementBBytes ||
      bignum_to_bytes(ScalarA, ScalarABytes.Get(), Length) != 0 ||
      WriteElement(Ctx, ElementA, ElementABytes.Get(), Length) != 0 ||
      bignum_to_bytes(ScalarB, ScalarBBytes.Get(), Length) != 0 ||
      WriteElement(Ctx, ElementB, ElementBBytes.Get(), Length) != 0) {
    return 0;
  }
  const UINT8 *const Parts[] = {SendConfirm, ScalarABytes.Get(), ElementABytes.Get(), ScalarBBytes.Get(),
                                ElementBBytes.Get()};
  const UINTN PartLengths[] = {2, Length, 2 * Length, Length, 2 * Length};
  hmac_sha256_vec(Ctx->SaeKck, SAE_KCK_LEN, 5, Parts, PartLengths, Out);
  return SAE_CONFIRM_VALUE_LEN;
}

int sae_is_reflection(const SAE_CONTEXT *Ctx) {
  return bignum_cmp(&Ctx->PeerScalar, &Ctx->OwnScalar) == 0 && SamePoint(&Ctx->PeerElement, &Ctx->OwnElement) ? 1
                                                                                                               : 0;
}
