// The cubic of the current matrix and its roots, in the evaluation orders that fix
// the printed digits.
#include "calculator/cubic.h"

#include <algorithm>
#include <cmath>

#include "calculator/tolerance.h"

namespace zv {

namespace {

// Double-double numbers (hi + lo, |lo| <= half an ulp of hi), enough to evaluate
// det(M - x I) where its terms cancel to far below their own size.
struct DoubleDouble {
  double hi, lo;
};

DoubleDouble two_sum(double a, double b) {
  const double s = a + b, bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

// Dekker's exact product (no fused multiply-add needed).
DoubleDouble two_product(double a, double b) {
  constexpr double SPLIT = 134217729.0;  // 2^27 + 1
  const double ta = SPLIT * a, ah = ta - (ta - a), al = a - ah;
  const double tb = SPLIT * b, bh = tb - (tb - b), bl = b - bh;
  const double p = a * b;
  return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

DoubleDouble operator+(DoubleDouble x, DoubleDouble y) {
  DoubleDouble s = two_sum(x.hi, y.hi);
  s.lo += x.lo + y.lo;
  return two_sum(s.hi, s.lo);
}
DoubleDouble operator-(DoubleDouble x) { return {-x.hi, -x.lo}; }
DoubleDouble operator-(DoubleDouble x, DoubleDouble y) { return x + (-y); }
DoubleDouble operator*(DoubleDouble x, DoubleDouble y) {
  DoubleDouble p = two_product(x.hi, y.hi);
  p.lo += x.hi * y.lo + x.lo * y.hi;
  return two_sum(p.hi, p.lo);
}
DoubleDouble dd(double v) { return {v, 0}; }

// det(M - x I) of the current matrix, and its derivative (in doubles: Newton needs
// the value accurate, the slope only roughly).
double shifted_determinant(const CalculatorState& s, double x, double* slope) {
  const DoubleDouble d1 = two_sum(s.a11, -x), d2 = two_sum(s.a22, -x), d3 = two_sum(s.a33, -x);
  const DoubleDouble det = d1 * (d2 * d3 - dd(s.a23) * dd(s.a32)) - dd(s.a12) * (dd(s.a21) * d3 - dd(s.a23) * dd(s.a31)) +
                           dd(s.a13) * (dd(s.a21) * dd(s.a32) - d2 * dd(s.a31));
  *slope = -((d2.hi * d3.hi - s.a23 * s.a32) + (d1.hi * d3.hi - s.a13 * s.a31) + (d1.hi * d2.hi - s.a12 * s.a21));
  return det.hi + det.lo;
}

// Newton's method on det(M - x I) from x; the start when it does not converge within
// `reach` of it or ends where the determinant is not smaller.
double refined(const CalculatorState& s, double x, double reach) {
  double slope = 0;
  const double start_value = std::fabs(shifted_determinant(s, x, &slope));
  double y = x;
  for (int i = 0; i < 8; ++i) {
    const double value = shifted_determinant(s, y, &slope);
    if (value == 0 || slope == 0 || !std::isfinite(value) || !std::isfinite(slope)) break;
    const double step = value / slope;
    y -= step;
    if (std::fabs(step) <= 2 * UNIT_ROUNDOFF * std::fabs(y)) break;
  }
  if (!std::isfinite(y) || !(std::fabs(y - x) < reach)) return x;
  if (!(std::fabs(shifted_determinant(s, y, &slope)) <= start_value)) return x;
  return y;
}

// The refined root where the formula's root is off by more than ROOT_KEEP of its
// distance to the nearest other eigenvalue.
void keep_or_refine(double& root, double better, double distance) {
  if (std::fabs(better - root) > ROOT_KEEP * distance) root = better;
}

// Polishes the roots that the closed formulas leave inaccurate: close roots (their
// formulas cancel) and roots next to a complex pair of small imaginary part. The
// double root of case b is a critical point, not a simple root: it follows from the
// trace, which is exactly the sum of the three roots.
void refine_roots(CalculatorState& s) {
  const double scale = matrix_scale(s);
  if (!std::isfinite(scale)) return;
  const int n = static_cast<int>(s.n);
  double largest = 0;
  for (int k = 1; k <= n; ++k) largest = std::fmax(largest, std::fabs(s.root[k]));
  if (!std::isfinite(largest) || largest == 0) return;
  if (n == 1) {
    // The complex pair z, z* lies at |root - z| = sqrt(|det'(root)|) from the root.
    const double better = refined(s, s.root[1], 1e-3 * largest);
    double slope = 0;
    shifted_determinant(s, better, &slope);
    keep_or_refine(s.root[1], better, std::sqrt(std::fabs(slope)));
    return;
  }
  if (s.D == 0) {
    const double gap = std::fabs(s.root[1] - s.root[2]);
    if (gap == 0) return;  // a triple root
    keep_or_refine(s.root[1], refined(s, s.root[1], gap / 2), gap);
    const double twice = (-s.a - s.root[1]) / 2;
    if (std::fabs(twice - s.root[2]) > DOUBLE_ROOT_KEEP * scale) s.root[2] = s.root[3] = twice;
    return;
  }
  double better[4], distance[4];
  for (int k = 1; k <= 3; ++k) {
    distance[k] = INFINITY;
    for (int j = 1; j <= 3; ++j)
      if (j != k) distance[k] = std::fmin(distance[k], std::fabs(s.root[j] - s.root[k]));
    better[k] = refined(s, s.root[k], distance[k] / 2);
  }
  for (int k = 1; k <= 3; ++k) keep_or_refine(s.root[k], better[k], distance[k]);
}

}  // namespace

void form_cubic(CalculatorState& s) {
  s.a = -((s.a22 + s.a11) + s.a33);
  double minors = (((s.a13 * s.a31 + s.a23 * s.a32) + s.a12 * s.a21) - s.a11 * s.a33 - s.a22 * s.a33) - s.a11 * s.a22;
  s.b = -minors;
  double det = (s.a11 * (s.a22 * s.a33 - s.a23 * s.a32) + s.a12 * (s.a23 * s.a31 - s.a21 * s.a33)) +
               s.a13 * (s.a21 * s.a32 - s.a22 * s.a31);
  s.c = -det;
}

void reduce_cubic(CalculatorState& s) {
  s.p = s.b - (s.a * s.a) / 3;
  s.q = (((2 * s.a) * s.a) * s.a) / 27 + (s.c - (s.b * s.a) / 3);
}

void form_discriminant(CalculatorState& s) {
  s.D = (s.q * s.q) / 4 + ((s.p * s.p) * s.p) / 27;
  if (discriminant_is_zero(s)) s.D = 0;
}

double cube_root(double w) {
  if (w < 0) return -std::pow(-w, CUBE_ROOT_EXPONENT);
  return std::pow(w, CUBE_ROOT_EXPONENT);
}

void solve_cubic(CalculatorState& s) {
  s.n = 0;
  if (s.D > 0) {  // one real root
    double w1 = (-s.q / 2) + std::sqrt(s.D);
    double cu = cube_root(w1);
    double w2 = (-s.q / 2) - std::sqrt(s.D);
    double cv = cube_root(w2);
    s.root[1] = (cv + cu) - s.a / 3;
    s.n = 1;
  }
  if (s.D == 0) {  // three real roots, two of them equal
    double w = -s.q / 2;
    double cu = triple_root(s) ? 0.0 : cube_root(w);
    double cv = cu;
    s.root[1] = (cv + cu) - s.a / 3;
    s.root[2] = (-(cv + cu)) / 2 - s.a / 3;
    s.root[3] = s.root[2];
    s.n = 3;
  }
  if (s.D < 0) {  // three distinct real roots
    double r = std::fabs(s.p);
    double t = (-s.q / 2) / std::sqrt(((r * r) * r) / 27);
    if (std::fabs(t) > 1) t = std::copysign(1.0, t);  // rounding past the double root
    double phi = std::atan2(std::sqrt(1 - t * t), t);
    double m = std::sqrt(r / 3);
    s.root[1] = std::cos(phi / 3) * (m * 2) - s.a / 3;
    s.root[2] = std::cos(phi / 3 - PI / 3) * (m * (-2)) - s.a / 3;
    s.root[3] = std::cos(PI / 3 + phi / 3) * (m * (-2)) - s.a / 3;
    s.n = 3;
  }
  refine_roots(s);
}

}  // namespace zv
