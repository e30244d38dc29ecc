// Every decision of the solver that depends on the size of a number, in one place.
//
// A matrix M and s*M are the same collineation, so no decision may compare a value
// with a fixed constant: each compares it with the rounding noise it carries, or
// with the scale of the current matrix (its largest entry, to the power of the
// value's degree in the entries). The literal constants of the description (1e-6 on
// the discriminant, 1e-8 on diagonal differences and minors, a12 != 0) decide wrong
// for small, large or nearly degenerate matrices; these rules decide as they do
// wherever they were right (the test against the literal algorithm shows it).
#pragma once

#include <cmath>
#include <initializer_list>

#include "calculator/state.h"

namespace zv {

// Half a unit in the last place of a double: the relative error of one rounding.
constexpr double UNIT_ROUNDOFF = 0x1p-53;

// The discriminant is zero when it lies within NOISE_FACTOR times its first-order
// rounding bound (discriminant_noise). The bound counts each rounding once; the
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
// ROOT_KEEP times the largest root: well-separated roots are already that accurate,
// and a root that is off by more would spoil the invariant element of a root 1e-4
// away (the element's error is the root's error over the distance).
constexpr double ROOT_KEEP = 1e-13;

// The largest magnitude of an entry of the current matrix (a NaN entry is ignored;
// an infinite one makes the scale infinite).
inline double matrix_scale(const CalculatorState& s) {
  double scale = 0;
  for (double v : {s.a11, s.a12, s.a13, s.a21, s.a22, s.a23, s.a31, s.a32, s.a33}) scale = std::fmax(scale, std::fabs(v));
  return scale;
}

// The first-order bound of the rounding error of D, from the magnitudes of the terms
// that formed a, b, c (from the current matrix), p, q and D.
inline double discriminant_noise(const CalculatorState& s) {
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
  const double err_p = err_b + (2 * a / 3) * err_a + 4 * u * (b + a * a / 3);
  const double err_q = (2 * a * a / 9 + b / 3) * err_a + err_c + (a / 3) * err_b +
                       8 * u * ((2 * a * a * a) / 27 + fabs(s.c) + b * a / 3);
  const double p = fabs(s.p), q = fabs(s.q);
  return (q / 2) * err_q + (p * p / 9) * err_p + 6 * u * (q * q / 4 + p * p * p / 27);
}

// True when D is to be taken as 0: not a number, or within the noise bound.
inline bool discriminant_is_zero(const CalculatorState& s) {
  if (std::isnan(s.D)) return true;
  const double noise = discriminant_noise(s);
  // Where the bound overflows the discriminant is left as the formulas give it.
  return std::isfinite(noise) && std::fabs(s.D) <= NOISE_FACTOR * noise;
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
