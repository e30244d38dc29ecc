// Number-to-text: the worked examples, the digit-count switch, flags, non-finite
// values, and a differential test against the C library's %g.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "runtime/number_text.h"

namespace zv {
namespace {

std::string text(double v, int32_t digits = DOUBLE_DIGITS, uint32_t flags = NUMBER_LEADING_BLANK) {
  char buffer[64];
  const char* t = number_to_text(v, buffer, digits, flags);
  return t ? std::string(t) : std::string("<empty>");
}

struct Example {
  double value;
  const char* expected;
};

TEST(NumberText, DoubleExamples) {
  const Example examples[] = {
      {1, " 1"},
      {0, " 0"},
      {-0.0, "-0"},
      {-0.5, "-0.5"},
      {100, " 100"},
      {12345.678, " 12345.678"},
      {1.0 / 3, " 0.3333333333333333"},
      {2.0 / 3, " 0.6666666666666666"},
      {0.1 + 0.2, " 0.3"},
      {std::sqrt(2.0), " 1.414213562373095"},
      {1e15, " 1000000000000000"},
      {1e16, " 1e+016"},
      {123456789012345678.0, " 1.234567890123457e+017"},
      {1e20, " 1e+020"},
      {0.0001, " 0.0001"},
      {0.00001, " 1e-005"},
      {-1.5e-7, "-1.5e-007"},
      {std::numeric_limits<double>::max(), " 1.797693134862316e+308"},
      {std::numeric_limits<double>::denorm_min(), " 4.940656458412465e-324"},
      {1e100, " 1e+100"},
      {-2.5e-300, "-2.5e-300"},
  };
  for (const Example& e : examples) EXPECT_EQ(text(e.value), e.expected) << e.expected;
}

TEST(NumberText, SingleExamples) {
  const Example examples[] = {
      {1, " 1"},
      {static_cast<double>(1.0f / 3), " 0.3333333"},
      {static_cast<double>(3.14159265f), " 3.141593"},
      {static_cast<double>(16777217.0f), " 1.677722e+007"},
      {static_cast<double>(100000000.0f), " 1e+008"},
      {-2.5, "-2.5"},
      {1000000, " 1000000"},
      {10000000, " 1e+007"},
      {static_cast<double>(0.1f), " 0.1"},
  };
  for (const Example& e : examples) EXPECT_EQ(text(e.value, SINGLE_DIGITS), e.expected) << e.expected;
}

TEST(NumberText, NonFiniteTexts) {
  const double inf = std::numeric_limits<double>::infinity();
  const double qnan = std::numeric_limits<double>::quiet_NaN();
  volatile double zero = 0.0;
  EXPECT_EQ(text(inf), " 1.#INF");
  EXPECT_EQ(text(-inf), "-1.#INF");
  EXPECT_EQ(text(zero / zero), "-1.#IND");  // the NaN of an invalid operation has its sign set
  EXPECT_EQ(text(qnan), " 1.#QNAN");
  EXPECT_EQ(text(-qnan), "-1.#IND");
  EXPECT_EQ(text(inf, SINGLE_DIGITS), " 1.#INF");
}

TEST(NumberText, FlagsAndDigitCounts) {
  EXPECT_EQ(text(1, DOUBLE_DIGITS, 0), "1");
  EXPECT_EQ(text(-1, DOUBLE_DIGITS, 0), "-1");
  EXPECT_EQ(text(1.0 / 3, 3), " 0.333");
  EXPECT_EQ(text(123456, 3), " 1.23e+005");
  EXPECT_EQ(text(0.5, 1), " 0.5");
  EXPECT_EQ(text(1, 0), "<empty>");
  EXPECT_EQ(text(1, -5), "<empty>");
  // Only bit 0 of the flags counts.
  EXPECT_EQ(text(2, DOUBLE_DIGITS, 0xFFFFFFFEu), "2");
}

TEST(NumberText, EmptyResultClearsTheBuffer) {
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(number_to_text(1, buffer, 0, NUMBER_LEADING_BLANK), nullptr);
  EXPECT_EQ(buffer[0], '\0');
}

// The C library's text with the exponent widened to three digits, as a reference;
// the fixed texts for values that are not finite.
std::string reference(double v, int digits) {
  char raw[64];
  if (std::isinf(v))
    std::strcpy(raw, v < 0 ? "-1.#INF" : "1.#INF");
  else if (std::isnan(v))
    std::strcpy(raw, std::signbit(v) ? "-1.#IND" : "1.#QNAN");
  else
    std::snprintf(raw, sizeof raw, "%.*g", digits, v);
  std::string s = raw;
  size_t e = s.find('e');
  if (e != std::string::npos && s.size() - (e + 2) < 3) s.insert(e + 2, "0");
  if (!s.empty() && s.back() == '.') s.pop_back();
  if (s[0] != '-') s.insert(0, " ");
  return s;
}

TEST(NumberText, MatchesTheCLibraryOnRandomDoubles) {
  std::mt19937_64 rng(20261209);
  int non_finite = 0;
  for (int i = 0; i < 1000000; ++i) {
    double v;
    switch (i % 8) {
      case 0: {  // any bit pattern
        uint64_t bits = rng();
        std::memcpy(&v, &bits, sizeof v);
        break;
      }
      case 1: {  // subnormals
        uint64_t bits = rng() & 0x800FFFFFFFFFFFFFull;
        std::memcpy(&v, &bits, sizeof v);
        break;
      }
      case 2: v = std::ldexp(static_cast<double>(rng() % 1000000) - 500000, static_cast<int>(rng() % 60) - 30); break;
      case 3: v = std::ldexp(1.0 + static_cast<double>(rng() >> 11) * 0x1p-53, 1000 + static_cast<int>(rng() % 23)); break;
      case 4: v = std::ldexp(1.0, -1074 + static_cast<int>(rng() % 60)); break;
      case 5: {  // a few steps from a power of ten, where the digit count turns over
        const double power = std::pow(10.0, static_cast<int>(rng() % 629) - 320);
        v = power;
        for (int steps = static_cast<int>(rng() % 7) - 3; steps != 0; steps += steps < 0 ? 1 : -1)
          v = std::nextafter(v, steps < 0 ? 0.0 : HUGE_VAL);
        if (rng() & 1) v = -v;
        break;
      }
      case 6: {  // infinities and NaNs of either sign, with any payload
        uint64_t bits = (rng() | 0x7FF0000000000000ull) & (rng() % 4 == 0 ? 0xFFF0000000000000ull : ~0ull);
        std::memcpy(&v, &bits, sizeof v);
        break;
      }
      default: v = (i % 16 == 7) ? -0.0 : static_cast<double>(static_cast<int64_t>(rng() % 2000000000)) / 1000.0; break;
    }
    non_finite += !std::isfinite(v);
    ASSERT_EQ(text(v, 16), reference(v, 16)) << v;
    ASSERT_EQ(text(v, 7), reference(v, 7)) << v;
  }
  EXPECT_GT(non_finite, 100000);
}

}  // namespace
}  // namespace zv
