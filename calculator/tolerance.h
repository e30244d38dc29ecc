// Every decision of the solver that depends on the size of a number, in one place.
//
// A matrix M and s*M are the same collineation, so no decision may compare a value
// with a fixed constant: each compares it with the rounding noise it carries, or
// with the scale of the current matrix (its largest entry, to the power of the
// value's degree in the entries). Fixed constants (1e-6 on the discriminant, 1e-8 on
// diagonal differences and minors, a12 != 0) decide wrong for small, large or nearly
// degenerate matrices; these rules decide as those did wherever they were right (the
// test against the fixed-threshold algorithm shows it).
#pragma once

#include <cmath>
#include <initializer_list>

#include "calculator/state.h"

namespace zv {

// Half a unit in the last place of a double: the relative error of one rounding.
constexpr double UNIT_ROUNDOFF = 0x1p-53;

// The discriminant is zero when it lies within NOISE_FACTOR times its first-order
// rounding bound (cubic_noise). The bound counts each rounding once; the
// factor covers the second-order terms and the rounding of the entered entries
// themselves (a decimal entry is a rounded double, so a matrix with an exactly
// repeated eigenvalue typically has a discriminant of that size, either sign).
// Eigenvalues 1e-4 apart give discriminants some 1e5 times above the bound.
constexpr double NOISE_FACTOR = 64;

// A diagonal difference (degree 1) or a minor (degree 2) is zero below RELATIVE_ZERO
// times the matrix scale to that degree, and so is a coefficient that would divide
// for the second coordinate. The roots carry at most ROOT_KEEP (relative) of error,
// so that noise is below 1e-12 of the scale; genuine values of a matrix whose
// eigenvalues are 1e-4 apart are above 1e-8. 1e-10 lies between, with room on both sides.
constexpr double RELATIVE_ZERO = 1e-10;

// A root of the closed formulas is kept (and printed as they give it) unless a
// Newton refinement on the exactly evaluated determinant moves it by more than
// ROOT_KEEP times its distance to the nearest other eigenvalue (real or complex):
// the invariant element's error is about the root's error over that distance, so a
// kept root leaves the element right to about 1e-8 (three roots 1e-4 apart amplify
// that some tenfold; the oracle test asks 1e-6), and the closed formulas are that
// accurate except where roots are close (they cancel) or the matrix is scaled far
// from 1. A double root (case b) enters the minors with its error times the scale,
// which must stay far below RELATIVE_ZERO: it is kept within DOUBLE_ROOT_KEEP times
// the matrix scale.
constexpr double ROOT_KEEP = 1e-8;
constexpr double DOUBLE_ROOT_KEEP = 1e-3 * RELATIVE_ZERO;

// The largest magnitude of an entry of the current matrix (a NaN entry is ignored;
// an infinite one makes the scale infinite).
inline double matrix_scale(const CalculatorState& s) {
  double scale = 0;
  for (double v : {s.a11, s.a12, s.a13, s.a21, s.a22, s.a23, s.a31, s.a32, s.a33}) scale = std::fmax(scale, std::fabs(v));
  return scale;
}

// First-order bounds of the rounding errors of p, q and D, from the magnitudes of
// the terms that formed a, b, c (from the current matrix), p, q and D.
struct CubicNoise {
  double p, q, D;
};

inline CubicNoise cubic_noise(const CalculatorState& s) {
  using std::fabs;
  const double u = UNIT_ROUNDOFF;
  // Each bound: the magnitudes of the terms times the number of roundings (one more
  // for the rounding of the entered entries), plus the errors carried in.
  const double mag_a = fabs(s.a11) + fabs(s.a22) + fabs(s.a33);
  const double mag_b = fabs(s.a13 * s.a31) + fabs(s.a23 * s.a32) + fabs(s.a12 * s.a21) + fabs(s.a11 * s.a33) +
                       fabs(s.a22 * s.a33) + fabs(s.a11 * s.a22);
  const double mag_c = fabs(s.a11) * (fabs(s.a22 * s.a33) + fabs(s.a23 * s.a32)) +
                       fabs(s.a12) * (fabs(s.a23 * s.a31) + fabs(s.a21 * s.a33)) +
                       fabs(s.a13) * (fabs(s.a21 * s.a32) + fabs(s.a22 * s.a31));
  const double err_a = 3 * u * mag_a;
  const double err_b = 8 * u * mag_b;
  const double err_c = 9 * u * mag_c;
  const double a = fabs(s.a), b = fabs(s.b);
  CubicNoise noise;
  noise.p = err_b + (2 * a / 3) * err_a + 4 * u * (b + a * a / 3);
  noise.q = (2 * a * a / 9 + b / 3) * err_a + err_c + (a / 3) * err_b + 8 * u * ((2 * a * a * a) / 27 + fabs(s.c) + b * a / 3);
  const double p = fabs(s.p), q = fabs(s.q);
  noise.D = (q / 2) * noise.q + (p * p / 9) * noise.p + 6 * u * (q * q / 4 + p * p * p / 27);
  return noise;
}

// True when D is to be taken as 0: not a number, or within NOISE_FACTOR times its
// noise bound. Where the bound overflows, D is left as the formulas give it.
inline bool discriminant_is_zero(const CalculatorState& s) {
  if (std::isnan(s.D)) return true;
  const double noise = cubic_noise(s).D;
  return std::isfinite(noise) && std::fabs(s.D) <= NOISE_FACTOR * noise;
}

// True when a zero discriminant is a triple root: p (and with it q) within its
// noise. The cube root of q's noise would otherwise split the root by the cube root
// of the rounding (about 1e-5 of the scale).
inline bool triple_root(const CalculatorState& s) {
  const double noise = cubic_noise(s).p;
  return s.p == 0 || (std::isfinite(noise) && std::fabs(s.p) <= NOISE_FACTOR * noise);
}

// True when v is zero relative to scale^degree (degree 1 or 2); a NaN is zero. The
// comparison divides instead of squaring, so that it holds where scale^2 overflows.
inline bool negligible(double v, double scale, int degree) {
  if (std::isnan(v)) return true;
  if (scale == 0) return v == 0;
  const double magnitude = degree == 2 ? std::fabs(v) / scale : std::fabs(v);
  return magnitude < RELATIVE_ZERO * scale;
}

}  // namespace zv
