// The fixed-threshold algorithm (1e-6 on the discriminant, 1e-8 on diagonal
// differences and minors, the exact test a12 != 0), kept only as the reference of the test that shows the
// calculator's reports equal to it wherever it is right.
#pragma once

#include <cmath>

#include "calculator/cubic.h"
#include "calculator/invariants.h"
#include "calculator/state.h"

namespace zv::literal {

constexpr double DISC_EPS = 1e-06;
constexpr double ZERO_EPS = 1e-08;

inline double snap(double v) { return std::fabs(v) >= ZERO_EPS ? v : 0.0; }

inline void solve_cubic(CalculatorState& s) {
  form_cubic(s);  // a, b, c, p, q are printed values, the same in both algorithms
  reduce_cubic(s);
  s.D = (s.q * s.q) / 4 + ((s.p * s.p) * s.p) / 27;
  if (!(std::fabs(s.D) >= DISC_EPS)) s.D = 0;
  s.n = 0;
  if (s.D > 0) {
    const double cu = cube_root((-s.q / 2) + std::sqrt(s.D)), cv = cube_root((-s.q / 2) - std::sqrt(s.D));
    s.root[1] = (cv + cu) - s.a / 3;
    s.n = 1;
  }
  if (s.D == 0) {
    const double cu = cube_root(-s.q / 2), cv = cu;
    s.root[1] = (cv + cu) - s.a / 3;
    s.root[2] = (-(cv + cu)) / 2 - s.a / 3;
    s.root[3] = s.root[2];
    s.n = 3;
  }
  if (s.D < 0) {
    const double r = std::fabs(s.p);
    const double t = (-s.q / 2) / std::sqrt(((r * r) * r) / 27);
    const double phi = std::atan2(std::sqrt(1 - t * t), t), m = std::sqrt(r / 3);
    s.root[1] = std::cos(phi / 3) * (m * 2) - s.a / 3;
    s.root[2] = std::cos(phi / 3 - PI / 3) * (m * (-2)) - s.a / 3;
    s.root[3] = std::cos(PI / 3 + phi / 3) * (m * (-2)) - s.a / 3;
    s.n = 3;
  }
}

// The invariant element of root k, as the calculator's invariant-element procedure.
inline FirstCoordinate invariant_element(CalculatorState& s, int k) {
  const double lambda = s.root[k];
  const double d1 = snap(s.a11 - lambda), d2 = snap(s.a22 - lambda), d3 = snap(s.a33 - lambda);
  s.diag1[k] = d1, s.diag2[k] = d2, s.diag3[k] = d3;
  const double m12 = snap(d2 * d1 - s.a21 * s.a12), m13 = snap(s.a32 * d1 - s.a31 * s.a12),
               m23 = snap(s.a32 * s.a21 - d2 * s.a31);
  FirstCoordinate from;
  if (std::fabs(m12) >= ZERO_EPS)
    s.coord1[k] = (s.a23 * s.a12 - s.a13 * d2) / m12, from = FirstCoordinate::rows12;
  else if (std::fabs(m13) >= ZERO_EPS)
    s.coord1[k] = (d3 * s.a12 - s.a32 * s.a13) / m13, from = FirstCoordinate::rows13;
  else if (std::fabs(m23) >= ZERO_EPS)
    s.coord1[k] = (d3 * d2 - s.a32 * s.a23) / m23, from = FirstCoordinate::rows23;
  else
    return FirstCoordinate::improper;
  const double x = s.coord1[k];
  if (s.a12 != 0 && !std::isnan(s.a12))
    s.coord2[k] = -(x * d1 + s.a13) / s.a12;
  else if (std::fabs(d2) >= ZERO_EPS)
    s.coord2[k] = -(x * s.a21 + s.a23) / d2;
  else
    s.coord2[k] = -(x * s.a31 + d3) / s.a32;
  return from;
}

}  // namespace zv::literal
