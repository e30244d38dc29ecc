// The calculator's shared state: the current matrix, the cubic and its roots, and
// the nine per-root arrays (index 0 unused; never cleared between roots or passes).
#pragma once

namespace zv {

constexpr double PI = 3.141592653589793;
constexpr double CUBE_ROOT_EXPONENT = 0.3333333333333333;  // the double nearest 1/3

struct CalculatorState {
  double a11, a12, a13, a21, a22, a23, a31, a32, a33;
  double a, b, c;  // x^3 + a x^2 + b x + c
  double p, q;     // y^3 + p y + q
  double D;        // discriminant, snapped
  double root[4];
  double n;  // number of real roots: 1 or 3
  double diag1[4], diag2[4], diag3[4];
  double minor12[4], minor13[4], minor23[4];
  double coord1[4], coord2[4];
};

static_assert(CUBE_ROOT_EXPONENT == 6004799503160661.0 / 18014398509481984.0,
              "the cube-root exponent is the double 0x3FD5555555555555");

}  // namespace zv
