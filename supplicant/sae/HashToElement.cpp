// Hash-to-element on the fixed-size P-256 field.
//
// The map evaluates both candidate abscissas, both curve equations, one
// Legendre symbol and one square root for every input, and chooses with
// masks; the inversions are the field's fixed exponentiation by p - 2.
// PT = P1 + P2 is an affine addition on the same field, with the doubling
// case chosen without a branch as well; val * PT is the group's scalar
// multiplication.
#include "HashToElement.h"

#include <Library/BaseMemoryLib.h>

#include "ConstantTime.h"
#include "FieldP256.h"
#include "PointP256.h"
#include "SecretBuffer.h"
#include "crypto/Hkdf.h"
#include "crypto/Hmac.h"

namespace {

using p256::Element;
using p256::ELEMENT_BYTES;

constexpr UINTN MAC_ADDRESS_LEN = 6;
// len = olen(p) + floor(olen(p) / 2): 128 bits above p keep the bias of
// the reduction negligible.
constexpr UINTN EXPANDED_LEN = ELEMENT_BYTES + ELEMENT_BYTES / 2;
constexpr CHAR8 LabelU1[] = "SAE Hash to Element u1 P1";
constexpr CHAR8 LabelU2[] = "SAE Hash to Element u2 P2";

// b of P-256; a is p - 3.
constexpr UINT8 CurveB[ELEMENT_BYTES] = {0x5a, 0xc6, 0x35, 0xd8, 0xaa, 0x3a, 0x93, 0xe7, 0xb3, 0xeb, 0xbd,
                                         0x55, 0x76, 0x98, 0x86, 0xbc, 0x65, 0x1d, 0x06, 0xb0, 0xcc, 0x53,
                                         0xb0, 0xf6, 0x3b, 0xce, 0x3c, 0x3e, 0x27, 0xd2, 0x60, 0x4b};
// 2^256 mod p: folds the upper part of an expanded value into the field.
constexpr UINT8 TwoTo256[ELEMENT_BYTES] = {0x00, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0xfe, 0xff, 0xff, 0xff,
                                           0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00, 0x00,
                                           0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01};

Element Small(UINT8 Value) {
  UINT8 Bytes[ELEMENT_BYTES] = {};
  Bytes[ELEMENT_BYTES - 1] = Value;
  return p256::FromBytes(Bytes);
}

Element Negate(const Element &A) { return p256::Sub(Element{}, A); }

struct Curve {
  Element A;
  Element B;
  Element Z;
  Element MinusBOverA;  // -b / a
  Element BOverZA;      // b / (Z * a), the abscissa when Z^2 u^4 + Z u^2 is 0
};

Curve LoadCurve() {
  Curve C;
  C.A = Negate(Small(3));
  C.B = p256::FromBytes(CurveB);
  C.Z = Negate(Small(10));
  C.MinusBOverA = Negate(p256::Mul(C.B, p256::Inverse(C.A)));
  C.BOverZA = p256::Mul(C.B, p256::Inverse(p256::Mul(C.Z, C.A)));
  return C;
}

// x^3 + a*x + b.
Element RightSide(const Curve &C, const Element &X) {
  return p256::Add(p256::Mul(p256::Add(p256::Sqr(X), C.A), X), C.B);
}

UINT8 Parity(const Element &A) {
  SecretBuffer<ELEMENT_BYTES> Bytes;
  p256::ToBytes(A, Bytes.Bytes);
  return Bytes.Bytes[ELEMENT_BYTES - 1] & 1;
}

struct AffinePoint {
  Element X;
  Element Y;
};

AffinePoint MapToCurve(const Curve &C, const Element &U) {
  const Element ZU2 = p256::Mul(C.Z, p256::Sqr(U));
  const Element Denominator = p256::Add(p256::Sqr(ZU2), ZU2);  // Z^2 u^4 + Z u^2
  const UINT8 Exceptional = p256::IsEqual(Denominator, Element{});
  const Element X1 = p256::Select(Exceptional, C.BOverZA,
                                  p256::Mul(C.MinusBOverA, p256::Add(Small(1), p256::Inverse(Denominator))));
  const Element X2 = p256::Mul(ZU2, X1);
  const Element Gx1 = RightSide(C, X1);
  const Element Gx2 = RightSide(C, X2);
  // Zero counts as a square.
  const UINT8 Gx1IsSquare = static_cast<UINT8>(1 ^ sae_ct::IsEqual(p256::Legendre(Gx1), -1));
  AffinePoint P;
  P.X = p256::Select(Gx1IsSquare, X1, X2);
  const Element Root = p256::SquareRoot(p256::Select(Gx1IsSquare, Gx1, Gx2));
  // sgn0: y takes the parity of u.
  P.Y = p256::Select(static_cast<UINT8>(Parity(U) ^ Parity(Root)), Negate(Root), Root);
  return P;
}

// P + Q on the curve; the doubling formula is chosen by mask when the
// abscissas meet. Sets *Infinity when the sum is the point at infinity.
AffinePoint AddPoints(const Curve &C, const AffinePoint &P, const AffinePoint &Q, UINT8 *Infinity) {
  const UINT8 SameX = p256::IsEqual(P.X, Q.X);
  *Infinity = static_cast<UINT8>(SameX & p256::IsEqual(p256::Add(P.Y, Q.Y), Element{}));
  const Element Tangent = p256::Add(p256::Mul(Small(3), p256::Sqr(P.X)), C.A);
  const Element Numerator = p256::Select(SameX, Tangent, p256::Sub(Q.Y, P.Y));
  const Element Denominator = p256::Select(SameX, p256::Add(P.Y, P.Y), p256::Sub(Q.X, P.X));
  const Element Lambda = p256::Mul(Numerator, p256::Inverse(Denominator));
  AffinePoint R;
  R.X = p256::Sub(p256::Sub(p256::Sqr(Lambda), P.X), Q.X);
  R.Y = p256::Sub(p256::Mul(Lambda, p256::Sub(P.X, R.X)), P.Y);
  return R;
}

// u = HKDF-Expand(seed, Label, 48) mod p, the 48 bytes read as hi || lo
// with u = hi * 2^256 + lo.
int ExpandToField(const UINT8 *Seed, const CHAR8 *Label, UINTN LabelLength, Element *U) {
  SecretBuffer<EXPANDED_LEN> Expanded;
  if (hkdf_sha256_expand(Seed, SHA256_DIGEST_SIZE, reinterpret_cast<const UINT8 *>(Label), LabelLength,
                         Expanded.Bytes, EXPANDED_LEN) != 0) {
    return -1;
  }
  SecretBuffer<ELEMENT_BYTES> High;
  CopyMem(High.Bytes + ELEMENT_BYTES - (EXPANDED_LEN - ELEMENT_BYTES), Expanded.Bytes, EXPANDED_LEN - ELEMENT_BYTES);
  const Element Upper = p256::Mul(p256::FromBytes(High.Bytes), p256::FromBytes(TwoTo256));
  *U = p256::Add(Upper, p256::FromBytes(Expanded.Bytes + EXPANDED_LEN - ELEMENT_BYTES));
  return 0;
}

}  // namespace

void sae_h2e_map_to_curve(const UINT8 *U, UINT8 *X, UINT8 *Y) {
  const AffinePoint P = MapToCurve(LoadCurve(), p256::FromBytes(U));
  p256::ToBytes(P.X, X);
  p256::ToBytes(P.Y, Y);
}

int sae_h2e_derive_pt(const UINT8 *Ssid, UINTN SsidLength, const UINT8 *Password, UINTN PasswordLength,
                      const UINT8 *Identifier, UINTN IdentifierLength, UINT8 *Pt) {
  const UINT8 *Ikm[] = {Password, Identifier};
  const UINTN IkmLength[] = {PasswordLength, Identifier != nullptr ? IdentifierLength : 0};
  SecretBuffer<SHA256_DIGEST_SIZE> Seed;
  hkdf_sha256_extract(Ssid, SsidLength, 2, Ikm, IkmLength, Seed.Bytes);
  const Curve C = LoadCurve();
  Element U1;
  Element U2;
  if (ExpandToField(Seed.Bytes, LabelU1, sizeof(LabelU1) - 1, &U1) != 0 ||
      ExpandToField(Seed.Bytes, LabelU2, sizeof(LabelU2) - 1, &U2) != 0) {
    ZeroMem(Pt, SAE_PT_LEN);
    return -1;
  }
  UINT8 Infinity = 0;
  const AffinePoint Sum = AddPoints(C, MapToCurve(C, U1), MapToCurve(C, U2), &Infinity);
  p256::ToBytes(Sum.X, Pt);
  p256::ToBytes(Sum.Y, Pt + ELEMENT_BYTES);
  // P1 = -P2 needs u1 and u2 to collide on the map: never in practice.
  if (Infinity != 0) {
    SecureZeroMem(Pt, SAE_PT_LEN);
    return -1;
  }
  return 0;
}

int sae_h2e_derive_pwe(SAE_CONTEXT *Ctx, const UINT8 *Pt, const UINT8 *OwnAddress, const UINT8 *PeerAddress) {
  if (Ctx == nullptr || Ctx->Group == nullptr || Ctx->PrimeLen != ELEMENT_BYTES || Pt == nullptr) {
    return -1;
  }
  // val depends on the addresses alone: public, so the big-number layer may
  // take it.
  const bool OwnFirst = CompareMem(OwnAddress, PeerAddress, MAC_ADDRESS_LEN) >= 0;
  const UINT8 *Addresses[] = {OwnFirst ? OwnAddress : PeerAddress, OwnFirst ? PeerAddress : OwnAddress};
  const UINTN AddressLengths[] = {MAC_ADDRESS_LEN, MAC_ADDRESS_LEN};
  static constexpr UINT8 ZeroKey[SHA256_DIGEST_SIZE] = {};
  UINT8 Hash[SHA256_DIGEST_SIZE];
  hmac_sha256_vec(ZeroKey, sizeof(ZeroKey), 2, Addresses, AddressLengths, Hash);
  BigNum Val;
  BigNum OrderMinusOne;
  UINT8 ValBytes[ELEMENT_BYTES];
  BigNum X;
  BigNum Y;
  EcPoint PtPoint;
  if (bignum_from_bytes(Val, Hash, sizeof(Hash)) != 0 || bignum_sub_int(OrderMinusOne, &Ctx->Order, 1) != 0 ||
      bignum_mod(Val, Val, OrderMinusOne) != 0 || bignum_add_int(Val, Val, 1) != 0 ||
      bignum_to_bytes(Val, ValBytes, sizeof(ValBytes)) != 0 || bignum_from_bytes(X, Pt, ELEMENT_BYTES) != 0 ||
      bignum_from_bytes(Y, Pt + ELEMENT_BYTES, ELEMENT_BYTES) != 0 ||
      ecc_point_from_xy(Ctx->Group, X, Y, PtPoint) != 0 || ecc_point_check(Ctx->Group, PtPoint) != 0) {
    return -1;
  }
  // The group's own scalar multiplication (val is public, but the constant
  // time costs nothing here); 1 <= val < r, so the product is never
  // infinity.
  const p256::Point Product =
      p256::Multiply(ValBytes, p256::FromAffine(p256::FromBytes(Pt), p256::FromBytes(Pt + ELEMENT_BYTES)));
  Element ProductX;
  Element ProductY;
  p256::ToAffine(Product, &ProductX, &ProductY);
  SecretBuffer<SAE_PT_LEN> PweBytes;
  p256::ToBytes(ProductX, PweBytes.Bytes);
  p256::ToBytes(ProductY, PweBytes.Bytes + ELEMENT_BYTES);
  EcPoint Pwe;
  if (bignum_from_bytes(X, PweBytes.Bytes, ELEMENT_BYTES) != 0 ||
      bignum_from_bytes(Y, PweBytes.Bytes + ELEMENT_BYTES, ELEMENT_BYTES) != 0 ||
      ecc_point_from_xy(Ctx->Group, X, Y, Pwe) != 0 || ecc_point_check(Ctx->Group, Pwe) != 0) {
    return -1;
  }
  mbedtls_ecp_point Held = Ctx->Pwe;
  Ctx->Pwe = *Pwe.Get();
  *Pwe.Get() = Held;
  return 0;
}
