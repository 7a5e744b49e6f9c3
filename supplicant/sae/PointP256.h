// Points of the group-19 curve y^2 = x^3 - 3x + b over the fixed-size field
// of FieldP256.h.
//
// Points are homogeneous projective (X : Y : Z) with x = X / Z, y = Y / Z;
// Z = 0 is the point at infinity. Addition uses the complete formulas of
// Renes, Costello and Batina (2016): one sequence of field operations that
// is right for every pair of inputs, equal points, opposite points and
// infinity included, so nothing branches on a point. Doubling goes through
// Jacobian coordinates, whose doubling is complete on this curve (it has no
// point of order 2). The scalar multiplication runs the same instructions
// and memory accesses for every 256-bit scalar.
#pragma once
#include <uefi/Base.h>

#include "FieldP256.h"

namespace p256 {

constexpr UINTN SCALAR_BYTES = 32;

struct Point {
  Element X;
  Element Y;
  Element Z;
};

// (0 : 1 : 0).
Point Infinity();
// (x : y : 1).
Point FromAffine(const Element &X, const Element &Y);
// The same point with every coordinate multiplied by a non-zero Factor: a
// fresh representation, for blinding.
Point Rescale(const Point &P, const Element &Factor);
// x and y of P, with 0 returned; for the point at infinity x = y = 0 and 1
// is returned.
UINT8 ToAffine(const Point &P, Element *X, Element *Y);
// 1 when (X, Y) satisfies the curve equation, else 0.
UINT8 IsOnCurve(const Element &X, const Element &Y);

Point Add(const Point &P, const Point &Q);
Point Double(const Point &P);
Point Negate(const Point &P);

// Scalar * P for any 32-byte big-endian Scalar, values from the group order
// up included (they act as their residue modulo the order).
Point Multiply(const UINT8 *Scalar, const Point &P);

}  // namespace p256
