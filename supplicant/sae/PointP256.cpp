// Complete projective point arithmetic and constant-time scalar
// multiplication on the group-19 curve.
#include "PointP256.h"

#include <Library/BaseMemoryLib.h>

#include "FieldP256Core.h"

namespace p256 {
using namespace core;
namespace {

// The curve's b in Montgomery form (b * 2^256 mod p), b being
// 5AC635D8 AA3A93E7 B3EBBD55 769886BC 651D06B0 CC53B0F6 3BCE3C3E 27D2604B.
constexpr Element CURVE_B = {{0xD89CDF6229C4BDDFull, 0xACF005CD78843090ull, 0xE5A220ABF7212ED6ull,
                              0xDC30061D04874834ull}};
// 1 in Montgomery form, 2^256 mod p.
constexpr Element ONE = {{1, 0xFFFFFFFF00000000ull, 0xFFFFFFFFFFFFFFFFull, 0x00000000FFFFFFFEull}};

// Fixed windows of five bits in signed (Booth) form: digits from -16 to 16,
// so a table of 1P to 16P and a negation cover every window. 52 windows
// span 260 bits, enough for any 256-bit scalar, and the top digit is never
// negative.
constexpr UINTN WINDOW_BITS = 5;
constexpr UINTN TABLE_POINTS = 16;
constexpr UINTN DIGIT_COUNT = 52;

struct BOOTH_DIGIT {
  UINT32 Magnitude;  // 0 to 16
  UINT8 Negative;    // 0 or 1
};

// 1 when A equals B, else 0, without a comparison the compiler could branch on.
UINT8 IsEqualSmall(UINT32 A, UINT32 B) {
  return static_cast<UINT8>((Opaque(static_cast<UINT64>(A ^ B)) - 1) >> 63);
}

// Bits 5i - 1 to 5i + 4 of the scalar (bit -1 being 0), from limbs least
// significant first. Which limbs are read depends only on i.
UINT32 WindowBits(const UINT64 (&Limbs)[4], UINTN Digit) {
  if (Digit == 0) {
    return static_cast<UINT32>((Limbs[0] << 1) & 0x3F);
  }
  const UINTN Low = WINDOW_BITS * Digit - 1;
  const UINTN Index = Low / 64;
  const UINTN Shift = Low % 64;
  UINT64 Bits = Index < 4 ? Limbs[Index] >> Shift : 0;
  if (Shift > 64 - (WINDOW_BITS + 1) && Index + 1 < 4) {
    Bits |= Limbs[Index + 1] << (64 - Shift);
  }
  return static_cast<UINT32>(Bits & 0x3F);
}

// The six window bits b4 b3 b2 b1 b0 b-1 stand for
// -16 b4 + 8 b3 + 4 b2 + 2 b1 + b0 + b-1. For b4 = 1 the magnitude is that of
// the complemented window, (63 - w + 1) / 2.
BOOTH_DIGIT Recode(UINT32 Window) {
  const UINT32 Negative = Window >> 5;
  const UINT32 Folded = (Window ^ (0u - Negative)) & 0x3F;
  return {(Folded + 1) >> 1, static_cast<UINT8>(Negative)};
}

void LimbsFromScalar(const UINT8 *Scalar, UINT64 (&Limbs)[4]) {
  for (UINTN Index = 0; Index < 4; ++Index) {
    UINT64 Limb = 0;
    for (UINTN Byte = 0; Byte < 8; ++Byte) {
      Limb = (Limb << 8) | Scalar[(3 - Index) * 8 + Byte];
    }
    Limbs[Index] = Limb;
  }
}

Point SelectPoint(UINT8 Flag, const Point &IfSet, const Point &IfClear) {
  const UINT64 Mask = MaskFromBit(Flag);
  return {SelectByMask(Mask, IfSet.X, IfClear.X), SelectByMask(Mask, IfSet.Y, IfClear.Y),
          SelectByMask(Mask, IfSet.Z, IfClear.Z)};
}

// Magnitude * P from the table (infinity for 0), negated for a negative
// digit; every entry is read whatever the digit.
Point Lookup(const Point (&Table)[TABLE_POINTS], BOOTH_DIGIT Digit) {
  Point Result = Infinity();
  for (UINTN Index = 0; Index < TABLE_POINTS; ++Index) {
    Result = SelectPoint(IsEqualSmall(Digit.Magnitude, static_cast<UINT32>(Index + 1)), Table[Index], Result);
  }
  Result.Y = SelectByMask(MaskFromBit(Digit.Negative), SubModPrime(Element{}, Result.Y), Result.Y);
  return Result;
}

// Jacobian coordinates (X : Y : Z), x = X / Z^2, y = Y / Z^3, for the runs of
// doublings between two additions: a doubling there costs 3 products and 5
// squarings instead of 11 and 2 by b. The curve has no point of order 2, so
// the doubling below is right for every point; infinity is kept as
// (1 : 1 : 0), which it maps to itself.
struct JacobianPoint {
  Element X;
  Element Y;
  Element Z;
};

template <class Field>
Element Triple(const Element &A) { return Field::Add(Field::Add(A, A), A); }

// Doubling with a = -3 (Bernstein and Lange's "dbl-2001-b"), given
// Delta = Z^2: alpha = 3 (X - Delta)(X + Delta), X3 = alpha^2 - 8 X Y^2,
// Z3 = 2 Y Z, Y3 = alpha (4 X Y^2 - X3) - 8 Y^4. Built on (2Y)^2 = 4 Y^2,
// which gives 4 X Y^2 as one product and 8 Y^4 as half its square, with
// fewer additions than from Y^2.
template <class Field>
JacobianPoint DoubleJacobian(const JacobianPoint &P, const Element &Delta) {
  const Element TwoY = Field::Add(P.Y, P.Y);
  const Element FourYSquared = Field::Sqr(TwoY);
  const Element FourBeta = Field::Mul(P.X, FourYSquared);
  const Element Alpha = Triple<Field>(Field::Mul(Field::Sub(P.X, Delta), Field::Add(P.X, Delta)));
  const Element X3 = Field::Sub(Field::Sqr(Alpha), Field::Add(FourBeta, FourBeta));
  const Element Z3 = Field::Mul(TwoY, P.Z);
  const Element EightYFourth = Field::Half(Field::Sqr(FourYSquared));
  const Element Y3 = Field::Sub(Field::Mul(Alpha, Field::Sub(FourBeta, X3)), EightYFourth);
  return {X3, Y3, Z3};
}

// 2^Times P, given Z^2 of P: the run of doublings between two additions of
// the scalar multiplication, with every product inline. Nearly all of a
// multiplication's work is here.
template <class Field>
JacobianPoint DoubleRun(const JacobianPoint &P, const Element &ZSquared, UINTN Times) {
  JacobianPoint Doubled = DoubleJacobian<Field>(P, ZSquared);
  for (UINTN Step = 1; Step < Times; ++Step) {
    Doubled = DoubleJacobian<Field>(Doubled, Field::Sqr(Doubled.Z));
  }
  return Doubled;
}

// The field as the remaining formulas use it, one implementation's products
// chosen once per point operation. These formulas run a fifth as often as
// the doublings: they exist once and call the products, where the doubling
// runs have a copy per implementation. Additions and subtractions are the
// same for both and inline.
struct FIELD {
  Element (*Mul)(const Element &A, const Element &B);
  Element (*Sqr)(const Element &A);
  JacobianPoint (*DoubleRun)(const JacobianPoint &P, const Element &ZSquared, UINTN Times);

  static inline __attribute__((always_inline)) Element Add(const Element &A, const Element &B) {
    return LinearArithmetic::Add(A, B);
  }
  static inline __attribute__((always_inline)) Element Sub(const Element &A, const Element &B) {
    return LinearArithmetic::Sub(A, B);
  }
};

constexpr FIELD PORTABLE_FIELD = {PortableArithmetic::Mul, PortableArithmetic::Sqr,
                                  DoubleRun<PortableArithmetic>};
#if defined(__x86_64__)
constexpr FIELD MULX_ADX_FIELD = {MulMulxAdxCall, SqrMulxAdxCall, DoubleRun<MulxAdxArithmetic>};
#endif

// The products the processor allows.
const FIELD &ChosenField() {
#if defined(__x86_64__)
  if (UsesMulxAdx()) {
    return MULX_ADX_FIELD;
  }
#endif
  return PORTABLE_FIELD;
}

// Renes-Costello-Batina, algorithm 4 (complete addition, a = -3): 12
// multiplications, 2 by b. The steps keep the paper's order and names.
Point AddPoints(const FIELD &Field, const Point &P, const Point &Q) {
  Element T0 = Field.Mul(P.X, Q.X);
  Element T1 = Field.Mul(P.Y, Q.Y);
  Element T2 = Field.Mul(P.Z, Q.Z);
  Element T3 = Field.Add(P.X, P.Y);
  Element T4 = Field.Add(Q.X, Q.Y);
  T3 = Field.Mul(T3, T4);
  T4 = Field.Add(T0, T1);
  T3 = Field.Sub(T3, T4);
  T4 = Field.Add(P.Y, P.Z);
  Element X3 = Field.Add(Q.Y, Q.Z);
  T4 = Field.Mul(T4, X3);
  X3 = Field.Add(T1, T2);
  T4 = Field.Sub(T4, X3);
  X3 = Field.Add(P.X, P.Z);
  Element Y3 = Field.Add(Q.X, Q.Z);
  X3 = Field.Mul(X3, Y3);
  Y3 = Field.Add(T0, T2);
  Y3 = Field.Sub(X3, Y3);
  Element Z3 = Field.Mul(CURVE_B, T2);
  X3 = Field.Sub(Y3, Z3);
  Z3 = Field.Add(X3, X3);
  X3 = Field.Add(X3, Z3);
  Z3 = Field.Sub(T1, X3);
  X3 = Field.Add(T1, X3);
  Y3 = Field.Mul(CURVE_B, Y3);
  T1 = Field.Add(T2, T2);
  T2 = Field.Add(T1, T2);
  Y3 = Field.Sub(Y3, T2);
  Y3 = Field.Sub(Y3, T0);
  T1 = Field.Add(Y3, Y3);
  Y3 = Field.Add(T1, Y3);
  T1 = Field.Add(T0, T0);
  T0 = Field.Add(T1, T0);
  T0 = Field.Sub(T0, T2);
  T1 = Field.Mul(T4, Y3);
  T2 = Field.Mul(T0, Y3);
  Y3 = Field.Mul(X3, Z3);
  Y3 = Field.Add(Y3, T2);
  X3 = Field.Mul(T3, X3);
  X3 = Field.Sub(X3, T1);
  Z3 = Field.Mul(T4, Z3);
  T1 = Field.Mul(T3, T0);
  Z3 = Field.Add(Z3, T1);
  return {X3, Y3, Z3};
}

// (X Z : Y Z^2 : Z) for a homogeneous point; (1 : 1 : 0) for infinity. Z^2
// is handed back for the first doubling.
JacobianPoint ToJacobian(const FIELD &Field, const Point &P, Element *ZSquared) {
  *ZSquared = Field.Sqr(P.Z);
  const UINT64 AtInfinity = MaskFromBit(IsEqual(P.Z, Element{}));
  return {SelectByMask(AtInfinity, ONE, Field.Mul(P.X, P.Z)),
          SelectByMask(AtInfinity, ONE, Field.Mul(P.Y, *ZSquared)), P.Z};
}

// (X Z : Y : Z^3); infinity (1 : 1 : 0) becomes (0 : 1 : 0).
Point FromJacobian(const FIELD &Field, const JacobianPoint &P) {
  const Element ZSquared = Field.Sqr(P.Z);
  return {Field.Mul(P.X, P.Z), P.Y, Field.Mul(ZSquared, P.Z)};
}

// 2^Times P for a homogeneous point, by way of Jacobian coordinates.
Point DoublePoint(const FIELD &Field, const Point &P, UINTN Times) {
  Element ZSquared;
  const JacobianPoint Jacobian = ToJacobian(Field, P, &ZSquared);
  return FromJacobian(Field, Field.DoubleRun(Jacobian, ZSquared, Times));
}

// Table[i] = (i + 1) * P: even multiples by doubling, odd ones by adding P.
void BuildTable(const FIELD &Field, const Point &P, Point (&Table)[TABLE_POINTS]) {
  Table[0] = P;
  for (UINTN Index = 1; Index < TABLE_POINTS; ++Index) {
    const UINTN Multiple = Index + 1;
    Table[Index] = Multiple % 2 == 0 ? DoublePoint(Field, Table[Multiple / 2 - 1], 1)
                                     : AddPoints(Field, Table[Index - 1], P);
  }
}

}  // namespace

Point Infinity() { return {Element{}, ONE, Element{}}; }

Point FromAffine(const Element &X, const Element &Y) { return {X, Y, ONE}; }

Point Rescale(const Point &P, const Element &Factor) {
  return {Mul(P.X, Factor), Mul(P.Y, Factor), Mul(P.Z, Factor)};
}

UINT8 ToAffine(const Point &P, Element *X, Element *Y) {
  // The inverse of 0 comes out as 0, so infinity needs no case of its own.
  const Element ZInverse = Inverse(P.Z);
  *X = Mul(P.X, ZInverse);
  *Y = Mul(P.Y, ZInverse);
  return IsEqual(P.Z, Element{});
}

UINT8 IsOnCurve(const Element &X, const Element &Y) {
  // x^3 - 3x + b as ((x^2 - 3) x) + b, the 3 subtracted one x at a time.
  const Element XCubed = Mul(Sqr(X), X);
  const Element RightSide = Add(Sub(Sub(Sub(XCubed, X), X), X), CURVE_B);
  return IsEqual(Sqr(Y), RightSide);
}

Point Add(const Point &P, const Point &Q) { return AddPoints(ChosenField(), P, Q); }

Point Double(const Point &P) { return DoublePoint(ChosenField(), P, 1); }

Point Multiply(const UINT8 *Scalar, const Point &P) {
  const FIELD &Field = ChosenField();
  UINT64 Limbs[4];
  LimbsFromScalar(Scalar, Limbs);
  Point Table[TABLE_POINTS];
  BuildTable(Field, P, Table);
  Point Result = Lookup(Table, Recode(WindowBits(Limbs, DIGIT_COUNT - 1)));
  for (UINTN Digit = DIGIT_COUNT - 1; Digit-- > 0;) {
    Result = AddPoints(Field, DoublePoint(Field, Result, WINDOW_BITS),
                       Lookup(Table, Recode(WindowBits(Limbs, Digit))));
  }
  // The limbs and the table tell the scalar: not left on the stack.
  SecureZeroMem(Limbs, sizeof(Limbs));
  SecureZeroMem(Table, sizeof(Table));
  return Result;
}

Point Negate(const Point &P) { return {P.X, Sub(Element{}, P.Y), P.Z}; }

}  // namespace p256
