// The cubic, its roots and the invariant elements: the values known for its example
// matrices, and the mathematical truth of every reported point and line for random
// matrices.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "calculator/cubic.h"
#include "calculator/invariants.h"
#include "calculator/state.h"

namespace zv {
namespace {

CalculatorState matrix(std::initializer_list<double> m) {
  CalculatorState s{};
  double* fields[] = {&s.a11, &s.a12, &s.a13, &s.a21, &s.a22, &s.a23, &s.a31, &s.a32, &s.a33};
  int i = 0;
  for (double v : m) *fields[i++] = v;
  return s;
}

void solve(CalculatorState& s) {
  form_cubic(s);
  reduce_cubic(s);
  form_discriminant(s);
  solve_cubic(s);
}

TEST(Cubic, ExampleMatrices) {
  struct Case {
    std::initializer_list<double> m;
    double a, b, c, p, q, D, n;
    double roots[3];
  };
  const Case cases[] = {
      {{1, 0, 0, 0, 1, 0, 0, 0, 1}, -3, 3, -1, 0, 0, 0, 3, {1, 1, 1}},
      {{1, 0, 0, 0, 2, 0, 0, 0, 3}, -6, 11, -6, -1, 0, -1.0 / 27, 3, {3, 1, 2}},
      {{0, -1, 0, 1, 0, 0, 0, 0, 1}, -1, 1, -1, 2.0 / 3, -20.0 / 27, 4.0 / 27, 1, {1, 0, 0}},
      {{2, 1, 0, 0, 2, 0, 0, 0, 1}, -5, 8, -4, -1.0 / 3, 2.0 / 27, 0, 3, {1, 2, 2}},
  };
  for (const Case& c : cases) {
    CalculatorState s = matrix(c.m);
    solve(s);
    EXPECT_EQ(s.a, c.a);
    EXPECT_EQ(s.b, c.b);
    EXPECT_EQ(s.c, c.c);
    EXPECT_NEAR(s.p, c.p, 1e-14);
    EXPECT_NEAR(s.q, c.q, 1e-14);
    EXPECT_NEAR(s.D, c.D, 1e-14);
    ASSERT_EQ(s.n, c.n);
    for (int k = 1; k <= static_cast<int>(c.n); ++k) EXPECT_NEAR(s.root[k], c.roots[k - 1], 1e-7) << k;
  }
}

// The discriminant is zero within its rounding noise, whatever the matrix's scale.
TEST(Cubic, DiscriminantSnapping) {
  for (double scale : {1e-20, 1e-5, 1.0, 1e5, 1e20}) {
    // (2,1,0)(0,2,0)(0,0,1): an exact double root; its D is rounding noise.
    CalculatorState s = matrix({2 * scale, scale, 0, 0, 2 * scale, 0, 0, 0, scale});
    solve(s);
    EXPECT_EQ(s.D, 0) << scale;
    // Eigenvalues 1, 1.001, 4 at that scale: D is small but no noise.
    s = matrix({1.002 * scale, -3 * scale, 2.998 * scale, 0.001 * scale, scale, -0.001 * scale, 0.001 * scale,
                -3 * scale, 3.999 * scale});
    solve(s);
    EXPECT_LT(s.D, 0) << scale;
  }
  CalculatorState s{};
  s.q = NAN;
  form_discriminant(s);
  EXPECT_EQ(s.D, 0);
}

TEST(Cubic, CubeRootIsThePowerWithTheRoundedExponent) {
  EXPECT_EQ(cube_root(64), 3.9999999999999996);
  EXPECT_EQ(cube_root(-8), -std::pow(8.0, CUBE_ROOT_EXPONENT));
  EXPECT_FALSE(std::signbit(cube_root(-0.0)));  // the cube root of -0 is +0
}

TEST(Invariants, ExampleRoots) {
  // (1,0,1)(1,2,0)(0,0,3), root 3: the point (0.5, 0.5).
  CalculatorState s = matrix({1, 0, 1, 1, 2, 0, 0, 0, 3});
  solve(s);
  ASSERT_EQ(s.n, 3);
  int k3 = 0;
  for (int k = 1; k <= 3; ++k)
    if (std::fabs(s.root[k] - 3) < 1e-9) k3 = k;
  ASSERT_EQ(k3, 1);
  EXPECT_EQ(invariant_element(s, 1), FirstCoordinate::rows12);
  EXPECT_NEAR(s.coord1[1], 0.5, 1e-12);
  EXPECT_NEAR(s.coord2[1], 0.5, 1e-12);
  for (int k = 2; k <= 3; ++k) {
    form_diagonal(s, k);
    form_minors(s, k);
    EXPECT_EQ(solve_first_coordinate(s, k), FirstCoordinate::improper) << k;
  }

  // (1,0,0)(0,2,0)(1,1,3): roots 3, 1, 2; root 2 gives x = -0 from rows 1 and 3.
  s = matrix({1, 0, 0, 0, 2, 0, 1, 1, 3});
  solve(s);
  form_diagonal(s, 3);
  form_minors(s, 3);
  EXPECT_EQ(s.diag2[3], 0);
  EXPECT_EQ(s.minor12[3], 0);
  EXPECT_EQ(solve_first_coordinate(s, 3), FirstCoordinate::rows13);
  EXPECT_EQ(s.coord1[3], 0);
  EXPECT_TRUE(std::signbit(s.coord1[3]));
  solve_second_coordinate(s, 3);
  EXPECT_NEAR(s.coord2[3], -1, 1e-12);
  form_diagonal(s, 2);
  form_minors(s, 2);
  EXPECT_EQ(solve_first_coordinate(s, 2), FirstCoordinate::rows23);
  EXPECT_NEAR(s.coord1[2], -2, 1e-12);
  solve_second_coordinate(s, 2);
  EXPECT_TRUE(std::signbit(s.coord2[2]) && s.coord2[2] == 0);
}

TEST(Invariants, CofactorsAreAllFormedFromTheEnteredMatrix) {
  CalculatorState s = matrix({2, 3, 5, 7, 11, 13, 17, 19, 23});
  replace_by_cofactors(s);
  // Each cofactor by its definition, from the original entries.
  EXPECT_EQ(s.a11, 11 * 23 - 13 * 19);
  EXPECT_EQ(s.a12, -(7 * 23 - 13 * 17));
  EXPECT_EQ(s.a13, 7 * 19 - 11 * 17);
  EXPECT_EQ(s.a21, -(3 * 23 - 5 * 19));
  EXPECT_EQ(s.a22, 2 * 23 - 5 * 17);
  EXPECT_EQ(s.a23, -(2 * 19 - 3 * 17));
  EXPECT_EQ(s.a31, 3 * 13 - 5 * 11);
  EXPECT_EQ(s.a32, -(2 * 13 - 5 * 7));
  EXPECT_EQ(s.a33, 2 * 11 - 3 * 7);
}

// M * v for v = (x, y, 1) (or the transpose when asked).
void apply(const double m[9], bool transpose, double x, double y, double out[3]) {
  const double v[3] = {x, y, 1};
  for (int i = 0; i < 3; ++i) {
    out[i] = 0;
    for (int j = 0; j < 3; ++j) out[i] += (transpose ? m[j * 3 + i] : m[i * 3 + j]) * v[j];
  }
}

double norm(const double m[9]) {
  double n = 0;
  for (int i = 0; i < 9; ++i) n = std::max(n, std::fabs(m[i]));
  return n;
}

// The discriminant before snapping, to recognise the runs where a tiny but non-zero
// discriminant was deliberately taken as a double root.
double raw_discriminant(const CalculatorState& s) { return (s.q * s.q) / 4 + ((s.p * s.p) * s.p) / 27; }

// Random matrices: small integers, fractions, and ill-conditioned ones whose entries
// span six orders of magnitude. Every reported point and line must be invariant.
TEST(Invariants, ReportedPointsAndLinesAreInvariant) {
  std::mt19937_64 rng(77);
  std::uniform_int_distribution<int> small(-9, 9);
  std::uniform_real_distribution<double> real(-10, 10);
  int points = 0, lines = 0;
  for (int trial = 0; trial < 1000; ++trial) {
    double m[9];
    const int kind = trial % 3;
    for (double& v : m) v = kind == 0 ? small(rng) : real(rng);
    if (kind == 2)
      for (double& v : m) v *= std::pow(10.0, std::uniform_int_distribution<int>(-3, 3)(rng));
    CalculatorState s = matrix({m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8]});
    solve(s);
    // The number of real roots follows the sign of the snapped discriminant.
    ASSERT_EQ(s.n, s.D > 0 ? 1 : 3) << trial;
    if (s.D == 0 && raw_discriminant(s) != 0) continue;
    // Tolerances relative to the matrix's size: tight for well-conditioned inputs,
    // looser where the entries' spread costs digits.
    const double tolerance = kind == 2 ? 1e-5 : 1e-8;
    const double scale = norm(m);
    for (int k = 1; k <= static_cast<int>(s.n); ++k) {
      form_diagonal(s, k);
      form_minors(s, k);
      if (solve_first_coordinate(s, k) == FirstCoordinate::improper) continue;
      solve_second_coordinate(s, k);
      const double x = s.coord1[k], y = s.coord2[k], lambda = s.root[k];
      if (!std::isfinite(x) || !std::isfinite(y) || std::max(std::fabs(x), std::fabs(y)) > 1e6) continue;
      double image[3];
      apply(m, false, x, y, image);
      const double size = std::max({1.0, std::fabs(x), std::fabs(y)}) * (scale + std::fabs(lambda));
      EXPECT_NEAR(image[0], lambda * x, tolerance * size) << trial << " root " << k;
      EXPECT_NEAR(image[1], lambda * y, tolerance * size) << trial << " root " << k;
      EXPECT_NEAR(image[2], lambda, tolerance * size) << trial << " root " << k;
      ++points;
    }

    const double det = (m[0] * (m[4] * m[8] - m[5] * m[7]) + m[1] * (m[5] * m[6] - m[3] * m[8])) +
                       m[2] * (m[3] * m[7] - m[4] * m[6]);
    if (std::fabs(det) < 1e-3 * scale * scale * scale) continue;
    replace_by_cofactors(s);
    solve(s);
    ASSERT_EQ(s.n, s.D > 0 ? 1 : 3) << trial;
    if (s.D == 0 && raw_discriminant(s) != 0) continue;
    for (int k = 1; k <= static_cast<int>(s.n); ++k) {
      form_diagonal(s, k);
      form_minors(s, k);
      if (solve_first_coordinate(s, k) == FirstCoordinate::improper) continue;
      solve_second_coordinate(s, k);
      const double u = s.coord1[k], v = s.coord2[k], mu = s.root[k];
      if (!std::isfinite(u) || !std::isfinite(v) || std::max(std::fabs(u), std::fabs(v)) > 1e6) continue;
      if (std::fabs(mu) < 1e-6 * scale * scale) continue;
      // The line u x + v y + 1 = 0 is mapped onto itself: M^T (u, v, 1) = (det / mu) (u, v, 1).
      double image[3];
      apply(m, true, u, v, image);
      const double factor = det / mu;
      const double size = std::max({1.0, std::fabs(u), std::fabs(v)}) * (scale + std::fabs(factor));
      EXPECT_NEAR(image[0], factor * u, tolerance * size) << trial << " line " << k;
      EXPECT_NEAR(image[1], factor * v, tolerance * size) << trial << " line " << k;
      EXPECT_NEAR(image[2], factor, tolerance * size) << trial << " line " << k;
      ++lines;
    }
  }
  // Most random matrices have finite invariant elements: the checks above ran.
  EXPECT_GT(points, 500);
  EXPECT_GT(lines, 300);
}

}  // namespace
}  // namespace zv
