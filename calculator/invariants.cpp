// Invariant elements of a root and the cofactor matrix.
#include "calculator/invariants.h"

#include <cmath>

#include "calculator/tolerance.h"

namespace zv {

double snap_to_zero(double v, double scale, int degree) { return negligible(v, scale, degree) ? 0.0 : v; }

void form_diagonal(CalculatorState& s, int k) {
  const double lambda = s.root[k], scale = matrix_scale(s);
  s.diag1[k] = snap_to_zero(s.a11 - lambda, scale, 1);
  s.diag2[k] = snap_to_zero(s.a22 - lambda, scale, 1);
  s.diag3[k] = snap_to_zero(s.a33 - lambda, scale, 1);
}

void form_minors(CalculatorState& s, int k) {
  const double scale = matrix_scale(s);
  s.minor12[k] = snap_to_zero(s.diag2[k] * s.diag1[k] - s.a21 * s.a12, scale, 2);
  s.minor13[k] = snap_to_zero(s.a32 * s.diag1[k] - s.a31 * s.a12, scale, 2);
  s.minor23[k] = snap_to_zero(s.a32 * s.a21 - s.diag2[k] * s.a31, scale, 2);
}

namespace {

// The first pair of rows whose (snapped) minor can divide, as Cramer's rule takes them.
FirstCoordinate first_pair(const CalculatorState& s, int k) {
  if (s.minor12[k] != 0) return FirstCoordinate::rows12;
  if (s.minor13[k] != 0) return FirstCoordinate::rows13;
  if (s.minor23[k] != 0) return FirstCoordinate::rows23;
  return FirstCoordinate::improper;
}

}  // namespace

FirstCoordinate solve_first_coordinate(CalculatorState& s, int k) {
  const double d2 = s.diag2[k], d3 = s.diag3[k];
  const FirstCoordinate from = first_pair(s, k);
  double x = 0;
  switch (from) {
    case FirstCoordinate::rows12: x = (s.a23 * s.a12 - s.a13 * d2) / s.minor12[k]; break;
    case FirstCoordinate::rows13: x = (d3 * s.a12 - s.a32 * s.a13) / s.minor13[k]; break;
    case FirstCoordinate::rows23: x = (d3 * d2 - s.a32 * s.a23) / s.minor23[k]; break;
    case FirstCoordinate::improper: return from;
  }
  // A root that is not a finite number has no definite point; coordinates that are
  // not numbers themselves are printed as they come.
  if (!std::isfinite(s.root[k]) && std::isfinite(x)) return FirstCoordinate::improper;
  s.coord1[k] = x;
  return from;
}

void solve_second_coordinate(CalculatorState& s, int k) {
  const double x = s.coord1[k], scale = matrix_scale(s);
  const double d1 = s.diag1[k], d2 = s.diag2[k], d3 = s.diag3[k];
  // The first equation whose coefficient of y is not zero relative to the matrix.
  if (!negligible(s.a12, scale, 1)) {
    s.coord2[k] = -(x * d1 + s.a13) / s.a12;
  } else if (d2 != 0) {
    s.coord2[k] = -(x * s.a21 + s.a23) / d2;
  } else if (!negligible(s.a32, scale, 1)) {
    s.coord2[k] = -(x * s.a31 + d3) / s.a32;
  } else {
    // No single equation can: y by Cramer's rule from the pair of rows that gave x.
    switch (first_pair(s, k)) {
      case FirstCoordinate::rows12: s.coord2[k] = (s.a13 * s.a21 - d1 * s.a23) / s.minor12[k]; break;
      case FirstCoordinate::rows13: s.coord2[k] = (s.a13 * s.a31 - d1 * d3) / s.minor13[k]; break;
      default: s.coord2[k] = (s.a23 * s.a31 - s.a21 * d3) / s.minor23[k]; break;
    }
  }
}

FirstCoordinate invariant_element(CalculatorState& s, int k) {
  form_diagonal(s, k);
  form_minors(s, k);
  const FirstCoordinate from = solve_first_coordinate(s, k);
  if (from != FirstCoordinate::improper) solve_second_coordinate(s, k);
  return from;
}

void replace_by_cofactors(CalculatorState& s) {
  const double A11 = s.a33 * s.a22 - s.a23 * s.a32;
  const double A12 = s.a23 * s.a31 - s.a33 * s.a21;
  const double A13 = s.a32 * s.a21 - s.a22 * s.a31;
  const double A21 = s.a13 * s.a32 - s.a33 * s.a12;
  const double A22 = s.a33 * s.a11 - s.a13 * s.a31;
  const double A23 = s.a12 * s.a31 - s.a32 * s.a11;
  const double A31 = s.a23 * s.a12 - s.a13 * s.a22;
  const double A32 = s.a13 * s.a21 - s.a23 * s.a11;
  const double A33 = s.a22 * s.a11 - s.a12 * s.a21;
  s.a11 = A11, s.a12 = A12, s.a13 = A13;
  s.a21 = A21, s.a22 = A22, s.a23 = A23;
  s.a31 = A31, s.a32 = A32, s.a33 = A33;
}

}  // namespace zv
