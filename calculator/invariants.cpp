// Invariant elements of a root and the cofactor matrix.
#include "calculator/invariants.h"

#include <cmath>

namespace zv {

double snap_to_zero(double v) { return std::fabs(v) >= ZERO_EPS ? v : 0.0; }

void form_diagonal(CalculatorState& s, int k) {
  double lambda = s.root[k];
  s.diag1[k] = snap_to_zero(s.a11 - lambda);
  s.diag2[k] = snap_to_zero(s.a22 - lambda);
  s.diag3[k] = snap_to_zero(s.a33 - lambda);
}

void form_minors(CalculatorState& s, int k) {
  s.minor12[k] = snap_to_zero(s.diag2[k] * s.diag1[k] - s.a21 * s.a12);
  s.minor13[k] = snap_to_zero(s.a32 * s.diag1[k] - s.a31 * s.a12);
  s.minor23[k] = snap_to_zero(s.a32 * s.a21 - s.diag2[k] * s.a31);
}

FirstCoordinate solve_first_coordinate(CalculatorState& s, int k) {
  const double d2 = s.diag2[k], d3 = s.diag3[k];
  if (std::fabs(s.minor12[k]) >= ZERO_EPS) {
    s.coord1[k] = (s.a23 * s.a12 - s.a13 * d2) / s.minor12[k];
    return FirstCoordinate::rows12;
  }
  if (std::fabs(s.minor13[k]) >= ZERO_EPS) {
    s.coord1[k] = (d3 * s.a12 - s.a32 * s.a13) / s.minor13[k];
    return FirstCoordinate::rows13;
  }
  if (std::fabs(s.minor23[k]) >= ZERO_EPS) {
    s.coord1[k] = (d3 * d2 - s.a32 * s.a23) / s.minor23[k];
    return FirstCoordinate::rows23;
  }
  return FirstCoordinate::improper;
}

void solve_second_coordinate(CalculatorState& s, int k) {
  const double x = s.coord1[k];
  // An exact test: any non-zero a12 divides; a value that is not a number counts as zero.
  if (s.a12 != 0 && !std::isnan(s.a12))
    s.coord2[k] = -(x * s.diag1[k] + s.a13) / s.a12;
  else if (std::fabs(s.diag2[k]) >= ZERO_EPS)
    s.coord2[k] = -(x * s.a21 + s.a23) / s.diag2[k];
  else
    s.coord2[k] = -(x * s.a31 + s.diag3[k]) / s.a32;
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
