// The calculator against an exact oracle: the true eigen-elements of the entered
// matrix (and of its cofactor matrix) computed here in quadruple precision. One
// checker judges a report; a table of generated families must be right throughout,
// and over a broad corpus the report equals the literal algorithm's byte for byte
// except where the oracle shows the literal report wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "calculator/cubic.h"
#include "calculator/invariants.h"
#include "calculator/state.h"
#include "tests/calculator/literal_reference.h"

namespace zv {
namespace {

using Quad = __float128;
using Matrix = std::array<double, 9>;

// ---- Reports: what a run prints, as values -------------------------------------

struct Element {
  double root;
  bool improper;
  bool rows12;  // printed in the lines pass: the root line once more
  double x, y;
};
struct PassReport {
  double printed[6];  // a, b, c, p, q, D
  std::vector<Element> elements;
};
struct Report {
  PassReport points, lines;
};

CalculatorState load(const Matrix& m) {
  CalculatorState s{};
  s.a11 = m[0], s.a12 = m[1], s.a13 = m[2], s.a21 = m[3], s.a22 = m[4], s.a23 = m[5], s.a31 = m[6], s.a32 = m[7],
  s.a33 = m[8];
  return s;
}

PassReport run_pass(CalculatorState& s, bool literal_algorithm) {
  PassReport r;
  if (literal_algorithm) {
    literal::solve_cubic(s);
  } else {
    form_cubic(s);
    reduce_cubic(s);
    form_discriminant(s);
    solve_cubic(s);
  }
  const double values[6] = {s.a, s.b, s.c, s.p, s.q, s.D};
  std::copy(values, values + 6, r.printed);
  for (int k = 1; k <= static_cast<int>(s.n); ++k) {
    const FirstCoordinate from = literal_algorithm ? literal::invariant_element(s, k) : invariant_element(s, k);
    const bool improper = from == FirstCoordinate::improper;
    r.elements.push_back(
        {s.root[k], improper, from == FirstCoordinate::rows12, improper ? 0.0 : s.coord1[k], improper ? 0.0 : s.coord2[k]});
  }
  return r;
}

Report run(const Matrix& m, bool literal_algorithm) {
  CalculatorState s = load(m);
  Report r;
  r.points = run_pass(s, literal_algorithm);
  replace_by_cofactors(s);
  r.lines = run_pass(s, literal_algorithm);
  return r;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Equal printed texts: equal values bit for bit, the same improper messages and (in
// the lines pass) the same repeated root lines.
bool same_text(const PassReport& a, const PassReport& b, bool lines) {
  for (int i = 0; i < 6; ++i)
    if (!same_bits(a.printed[i], b.printed[i])) return false;
  if (a.elements.size() != b.elements.size()) return false;
  for (size_t k = 0; k < a.elements.size(); ++k) {
    const Element &e = a.elements[k], &f = b.elements[k];
    if (!same_bits(e.root, f.root) || e.improper != f.improper) return false;
    if (e.improper) continue;
    if (!same_bits(e.x, f.x) || !same_bits(e.y, f.y) || (lines && e.rows12 != f.rows12)) return false;
  }
  return true;
}
bool same_text(const Report& a, const Report& b) { return same_text(a.points, b.points, false) && same_text(a.lines, b.lines, true); }

// ---- The oracle -----------------------------------------------------------------

Quad qabs(Quad v) { return v < 0 ? -v : v; }
Quad qsqrt(Quad v) {
  if (v <= 0) return 0;
  Quad r = std::sqrt(static_cast<double>(v));
  if (r == 0 || !std::isfinite(static_cast<double>(r))) return 0;
  for (int i = 0; i < 3; ++i) r = (r + v / r) / 2;
  return r;
}

// Eigenvalues closer than MERGE (relative to the largest) are one repeated value:
// the double matrix of a repeated eigenvalue splits it by about the square root of
// its rounding. Gaps between MERGE and 1e-4 are outside what the calculator promises.
constexpr double MERGE = 1e-6;
constexpr double PROMISED_GAP = 1e-4;
constexpr double AGREE = 1e-6;

struct Cluster {
  Quad lambda;
  int multiplicity;
  bool improper, ambiguous;
  Quad x, y;
};
struct Truth {
  std::vector<Cluster> clusters;  // the real eigenvalues
  Quad largest;                   // the largest eigenvalue modulus
  bool outside_promise = false;
};

Truth eigen_elements(const Quad X[9]) {
  const Quad a = -(X[0] + X[4] + X[8]);
  const Quad b = X[0] * X[4] + X[0] * X[8] + X[4] * X[8] - X[1] * X[3] - X[2] * X[6] - X[5] * X[7];
  const Quad det = X[0] * (X[4] * X[8] - X[5] * X[7]) - X[1] * (X[3] * X[8] - X[5] * X[6]) +
                   X[2] * (X[3] * X[7] - X[4] * X[6]);
  const Quad c = -det;
  auto P = [&](Quad t) { return ((t + a) * t + b) * t + c; };
  auto dP = [&](Quad t) { return (3 * t + 2 * a) * t + b; };
  // One real root: Newton kept inside a bracket (all roots lie within 2 max(|a|, |b|^1/2, |c|^1/3)).
  const double bound = 2 * std::max({std::fabs(static_cast<double>(a)), std::sqrt(std::fabs(static_cast<double>(b))),
                                     std::cbrt(std::fabs(static_cast<double>(c)))}) + 1e-300;
  Quad lo = -bound * 1.01, hi = bound * 1.01, t = 0;
  for (int i = 0; i < 600 && hi - lo > Quad(1e-33) * qabs(t); ++i) {
    const Quad v = P(t);
    if (v == 0) break;
    (v < 0 ? lo : hi) = t;
    const Quad d = dP(t);
    Quad next = d != 0 ? t - v / d : lo;
    if (!(next > lo && next < hi) || i % 8 == 7) next = (lo + hi) / 2;
    t = next;
  }
  const Quad r1 = t;
  const Quad e = a + r1, f = b + r1 * e;  // x^2 + e x + f = P / (x - r1)
  const Quad disc = e * e - 4 * f;
  std::vector<Quad> real{r1};
  Quad largest = qabs(r1), imag = 0, re = 0;
  if (disc < 0) {
    re = -e / 2, imag = qsqrt(-disc) / 2;
    largest = std::max(largest, qsqrt(re * re + imag * imag));
  } else {
    const Quad sq = qsqrt(disc), half = -(e + (e < 0 ? -sq : sq)) / 2;
    real.push_back(half);
    real.push_back(half != 0 ? f / half : 0);
    for (Quad r : real) largest = std::max(largest, qabs(r));
  }
  Truth truth;
  truth.largest = largest;
  const Quad merge = MERGE * largest, promised = PROMISED_GAP * largest;
  if (disc < 0 && 2 * imag <= merge) real = {r1, re, re};  // a complex pair that is a double root
  if (disc < 0 && 2 * imag > merge && 2 * imag < promised) truth.outside_promise = true;
  std::sort(real.begin(), real.end());
  for (size_t i = 0; i + 1 < real.size(); ++i) {
    const Quad gap = real[i + 1] - real[i];
    if (gap > merge && gap < promised) truth.outside_promise = true;
  }
  Quad scale = 0;
  for (int i = 0; i < 9; ++i) scale = std::max(scale, qabs(X[i]));
  for (size_t i = 0; i < real.size();) {
    size_t j = i + 1;
    Quad sum = real[i];
    while (j < real.size() && real[j] - real[j - 1] <= merge) sum += real[j++];
    Cluster cl{sum / static_cast<int>(j - i), static_cast<int>(j - i), false, false, 0, 0};
    const Quad l = cl.lambda;
    const Quad r[3][3] = {{X[0] - l, X[1], X[2]}, {X[3], X[4] - l, X[5]}, {X[6], X[7], X[8] - l}};
    Quad best[3] = {0, 0, 0}, best_norm = -1;
    for (int p = 0; p < 3; ++p)
      for (int q = p + 1; q < 3; ++q) {
        const Quad v[3] = {r[p][1] * r[q][2] - r[p][2] * r[q][1], r[p][2] * r[q][0] - r[p][0] * r[q][2],
                           r[p][0] * r[q][1] - r[p][1] * r[q][0]};
        const Quad n = std::max({qabs(v[0]), qabs(v[1]), qabs(v[2])});
        if (n > best_norm) best_norm = n, std::copy(v, v + 3, best);
      }
    if (best_norm <= Quad(1e-8) * scale * scale) {
      cl.improper = true;  // a line (or the plane) of fixed elements
    } else {
      const Quad third = qabs(best[2]) / best_norm;
      cl.improper = third <= Quad(1e-15);  // at infinity
      cl.ambiguous = third > Quad(1e-15) && third < Quad(1e-8);
      if (!cl.improper) cl.x = best[0] / best[2], cl.y = best[1] / best[2];
    }
    truth.clusters.push_back(cl);
    i = j;
  }
  return truth;
}

std::string describe(const char* what, int k, double got, Quad want) {
  char text[160];
  std::snprintf(text, sizeof text, "%s %d: %.16g, exact %.16g", what, k, got, static_cast<double>(want));
  return text;
}

// "" when every printed root and element agrees with the truth, else the first disagreement.
std::string judge(const PassReport& r, const Truth& t) {
  std::vector<Quad> want;
  for (const Cluster& c : t.clusters)
    for (int i = 0; i < c.multiplicity; ++i) want.push_back(c.lambda);
  if (want.size() != r.elements.size())
    return "real roots: " + std::to_string(r.elements.size()) + ", exact " + std::to_string(want.size());
  std::vector<double> got;
  for (const Element& e : r.elements) got.push_back(e.root);
  std::sort(got.begin(), got.end());
  const Quad tolerance = AGREE * t.largest;
  for (size_t i = 0; i < got.size(); ++i)
    if (!(qabs(got[i] - want[i]) <= tolerance)) return describe("root", static_cast<int>(i + 1), got[i], want[i]);
  for (size_t k = 0; k < r.elements.size(); ++k) {
    const Element& e = r.elements[k];
    const Cluster* near = &t.clusters[0];
    for (const Cluster& c : t.clusters)
      if (qabs(c.lambda - e.root) < qabs(near->lambda - e.root)) near = &c;
    if (near->ambiguous) continue;
    const int n = static_cast<int>(k + 1);
    if (near->improper != e.improper)
      return std::string("element ") + std::to_string(n) + (e.improper ? ": improper, exact finite" : ": finite, exact improper");
    if (e.improper) continue;
    const Quad size = std::max({Quad(1), qabs(near->x), qabs(near->y)});
    if (!(qabs(e.x - near->x) <= AGREE * size)) return describe("first coordinate", n, e.x, near->x);
    if (!(qabs(e.y - near->y) <= AGREE * size)) return describe("second coordinate", n, e.y, near->y);
  }
  return "";
}

struct Verdict {
  std::string points, lines;
  bool outside_promise;
  bool right() const { return points.empty() && lines.empty(); }
};

Verdict judge(const Matrix& m, const Report& r) {
  Quad X[9], A[9];
  for (int i = 0; i < 9; ++i) X[i] = m[i];
  const Truth points = eigen_elements(X);
  // The cofactor matrix (not transposed), exactly as the lines pass forms it.
  const int rows[3][2] = {{1, 2}, {0, 2}, {0, 1}};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const int r0 = rows[i][0], r1 = rows[i][1], c0 = rows[j][0], c1 = rows[j][1];
      const Quad minor = X[r0 * 3 + c0] * X[r1 * 3 + c1] - X[r0 * 3 + c1] * X[r1 * 3 + c0];
      A[i * 3 + j] = (i + j) % 2 ? -minor : minor;
    }
  const Truth lines = eigen_elements(A);
  return {judge(r.points, points), judge(r.lines, lines), points.outside_promise || lines.outside_promise};
}

std::string show(const Matrix& m) {
  std::string text;
  for (double v : m) {
    char t[32];
    std::snprintf(t, sizeof t, "%.17g ", v);
    text += t;
  }
  return text;
}

// ---- Generated families -----------------------------------------------------------

using Rng = std::mt19937_64;
int uniform(Rng& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
double real(Rng& rng, double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }

// P and its inverse, integer and unimodular: two random elementary row operations
// (small, so that the entries stay near the eigenvalues' size).
void unimodular(Rng& rng, long long P[9], long long Pinv[9]) {
  for (int i = 0; i < 9; ++i) P[i] = Pinv[i] = i % 4 == 0;
  for (int step = 0; step < 2; ++step) {
    const int from = uniform(rng, 0, 2), to = (from + uniform(rng, 1, 2)) % 3, factor = uniform(rng, -2, 2);
    for (int c = 0; c < 3; ++c) P[to * 3 + c] += factor * P[from * 3 + c];  // row `to` += factor row `from`
    for (int r = 0; r < 3; ++r) Pinv[r * 3 + from] -= factor * Pinv[r * 3 + to];  // column op undoes it
  }
}

// P J P^-1 for an upper triangular J, in quadruple precision, rounded once.
Matrix similar(Rng& rng, const Quad J[9]) {
  long long P[9], Pinv[9];
  unimodular(rng, P, Pinv);
  Matrix m;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      Quad sum = 0;
      for (int k = 0; k < 3; ++k)
        for (int l = 0; l < 3; ++l) sum += Quad(P[i * 3 + k]) * J[k * 3 + l] * Quad(Pinv[l * 3 + j]);
      m[i * 3 + j] = static_cast<double>(sum);
    }
  return m;
}

Matrix integers(Rng& rng, int range) {
  Matrix m;
  for (double& v : m) v = uniform(rng, -range, range);
  return m;
}

Matrix jordan(Rng& rng) {
  const int l = uniform(rng, -9, 9), mu = uniform(rng, -9, 9);
  const int kind = uniform(rng, 0, 3);  // a Jordan block, a homology, a 3-block, a scalar matrix
  Quad J[9] = {Quad(l), Quad(kind == 0 || kind == 2), 0, 0, Quad(l), Quad(kind == 2), 0, 0, Quad(kind >= 2 ? l : mu)};
  return similar(rng, J);
}

Matrix close_eigenvalues(Rng& rng) {
  const Quad l = real(rng, 0.5, 5) * (uniform(rng, 0, 1) ? 1 : -1);
  const Quad gap = l * std::pow(10.0, real(rng, -4, -2));
  const bool three = uniform(rng, 0, 2) == 0;  // all three close, or two and a distant one
  const Quad J[9] = {l, Quad(uniform(rng, -1, 1)), Quad(uniform(rng, -1, 1)), 0, l + gap, Quad(uniform(rng, -1, 1)),
                     0, 0, three ? l + 2 * gap : Quad(real(rng, -9, 9))};
  return similar(rng, J);
}

Matrix rotation(Rng& rng) {
  const double angle = std::pow(10.0, real(rng, -3, -0.7)) * (uniform(rng, 0, 1) ? 1 : -1);
  const double cx = real(rng, -10, 10), cy = real(rng, -10, 10), c = std::cos(angle), s = std::sin(angle);
  return {c, -s, cx - c * cx + s * cy, s, c, cy - s * cx - c * cy, 0, 0, 1};
}

Matrix affine(Rng& rng) {
  Matrix m = integers(rng, 999);
  m[6] = m[7] = 0;
  return m;
}

// Three-decimal entries whose third row repeats the second's first and third entries
// times a one-decimal factor: the cofactor A12 and other minors vanish in exact
// decimal arithmetic, and leave rounding noise in doubles.
Matrix vanishing_minors(Rng& rng) {
  Matrix m;
  for (double& v : m) v = uniform(rng, -3000, 3000) / 1000.0;
  const double factor = uniform(rng, -30, 30) / 10.0;
  m[6] = factor * m[3], m[8] = factor * m[5];
  if (uniform(rng, 0, 1)) std::swap(m[7], m[1]);
  return m;
}

Matrix scaled(Rng& rng) {
  Matrix (*bases[])(Rng&) = {jordan, close_eigenvalues, rotation, affine, vanishing_minors};
  Matrix m = bases[uniform(rng, 0, 4)](rng);
  const double s = std::pow(10.0, uniform(rng, -20, 20));
  for (double& v : m) v *= s;
  return m;
}

struct Family {
  const char* name;
  int count;
  Matrix (*make)(Rng&);
};

const Family FAMILIES[] = {
    {"scaled by 1e-20 ... 1e20", 400, scaled},
    {"small rotations about random centres", 300, rotation},
    {"close eigenvalues", 300, close_eigenvalues},
    {"integer affine maps up to 999", 300, affine},
    {"Jordan blocks by integer similarity", 300, jordan},
    {"decimal matrices with vanishing minors", 300, vanishing_minors},
};

TEST(Oracle, EveryFamilyIsRight) {
  Rng rng(21);
  for (const Family& family : FAMILIES) {
    int judged = 0;
    for (int i = 0; i < family.count; ++i) {
      const Matrix m = family.make(rng);
      const Verdict v = judge(m, run(m, false));
      if (v.outside_promise) continue;
      ++judged;
      EXPECT_TRUE(v.right()) << family.name << ": " << show(m) << "\n points: " << v.points << "\n lines: " << v.lines;
    }
    // Most generated matrices are ones the promise covers (a close pair may come out
    // below 1e-4 of a larger third eigenvalue).
    EXPECT_GE(judged, family.count * 8 / 10) << family.name;
  }
}

// Matrices that a student types, each wrong in the fixed-threshold report and right now.
TEST(Oracle, TheIssuesExamples) {
  const Matrix examples[] = {
      {0.3, -0.3, 0.1, 0.1, 0.1, -0.1, 0.1, -0.3, 0.3},
      {0.9961946980917455, -0.08715574274765817, 0.26907783205948343, 0.08715574274765817, 0.9961946980917455,
       -0.16289557977055313, 0, 0, 1},
      {1.002, -3, 2.998, 0.001, 1, -0.001, 0.001, -3, 3.999},
      {300, 100, 200, 100, 300, -100, 0, 0, 100},
      {10001, -10000, 9999, 1, 10000, -1, 1, -10000, 19999},
      {1, -1, 2, 0.7, 2, 0.1, 0.21, -1, 0.03},
  };
  for (const Matrix& m : examples) {
    EXPECT_FALSE(judge(m, run(m, true)).right()) << show(m);
    const Verdict v = judge(m, run(m, false));
    EXPECT_TRUE(v.right()) << show(m) << "\n points: " << v.points << "\n lines: " << v.lines;
  }
  // The 30 degree rotation about (2, 3) times 1e52: no definite point from a root that is not a number.
  const double c = std::cos(PI / 6), s = std::sin(PI / 6);
  Matrix huge = {c, -s, 2 - 2 * c + 3 * s, s, c, 3 - 2 * s - 3 * c, 0, 0, 1};
  for (double& v : huge) v *= 1e52;
  const Report r = run(huge, false);
  for (const Element& e : r.points.elements) EXPECT_TRUE(std::isfinite(e.root) || e.improper || std::isnan(e.x));
}

// The corpus: the report equals the literal algorithm's wherever that one is right.
TEST(Oracle, CorpusEqualsTheLiteralAlgorithmWhereverItIsRight) {
  Rng rng(1);
  constexpr int COUNT = 12000;
  int changed = 0;
  for (int i = 0; i < COUNT; ++i) {
    Matrix m;
    switch (i % 5) {
      case 0: m = integers(rng, 9); break;
      case 1: for (double& v : m) v = uniform(rng, -36, 36) / 4.0; break;
      case 2: for (double& v : m) v = uniform(rng, -9999, 9999) / 1000.0; break;
      case 3: for (double& v : m) v = uniform(rng, 0, 2) ? 0.0 : uniform(rng, -9, 9); break;
      default: m = integers(rng, 9), m[6] = m[7] = 0, m[8] = uniform(rng, 0, 1) ? 1 : m[8]; break;
    }
    const Report literal = run(m, true), now = run(m, false);
    if (same_text(literal, now)) continue;
    ++changed;
    const Verdict before = judge(m, literal), after = judge(m, now);
    EXPECT_FALSE(before.right()) << "changed a right report: " << show(m);
    if (!before.outside_promise) {
      EXPECT_TRUE(after.right()) << show(m) << "\n points: " << after.points << "\n lines: " << after.lines;
    }
  }
  std::printf("corpus: %d matrices, %d reports changed\n", COUNT, changed);
}

}  // namespace
}  // namespace zv
