// The cubic of the current matrix and its roots, in the evaluation orders that fix
// the printed digits.
#include "calculator/cubic.h"

#include <cmath>

namespace zv {

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
  if (!(std::fabs(s.D) >= DISC_EPS)) s.D = 0;
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
    double cu = cube_root(w);
    double cv = cu;
    s.root[1] = (cv + cu) - s.a / 3;
    s.root[2] = (-(cv + cu)) / 2 - s.a / 3;
    s.root[3] = s.root[2];
    s.n = 3;
  }
  if (s.D < 0) {  // three distinct real roots
    double r = std::fabs(s.p);
    double t = (-s.q / 2) / std::sqrt(((r * r) * r) / 27);
    double phi = std::atan2(std::sqrt(1 - t * t), t);
    double m = std::sqrt(r / 3);
    s.root[1] = std::cos(phi / 3) * (m * 2) - s.a / 3;
    s.root[2] = std::cos(phi / 3 - PI / 3) * (m * (-2)) - s.a / 3;
    s.root[3] = std::cos(PI / 3 + phi / 3) * (m * (-2)) - s.a / 3;
    s.n = 3;
  }
}

}  // namespace zv
