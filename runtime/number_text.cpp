// Number-to-text conversion: the digits of %g (std::to_chars with a precision is
// defined to give exactly the text of printf's %.*g, without locale or allocation,
// and much faster), with the exponent widened to three digits and fixed texts for
// infinities and NaNs, so that every host prints the same bytes.
#include "runtime/number_text.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace zv {

namespace {

// Widens a two-digit exponent ("e+16" to "e+016") in place; text has room for one
// more byte. Returns the new length.
int widen_exponent(char* text, int length) {
  char* e = static_cast<char*>(std::memchr(text, 'e', static_cast<size_t>(length)));
  if (!e) return length;
  char* digits = e + 2;  // after the sign
  int count = static_cast<int>(text + length - digits);
  if (count >= 3) return length;
  std::memmove(digits + 1, digits, static_cast<size_t>(count) + 1);  // with the NUL
  digits[0] = '0';
  return length + 1;
}

const char* non_finite_text(double value) {
  if (std::isinf(value)) return std::signbit(value) ? "-1.#INF" : "1.#INF";
  return std::signbit(value) ? "-1.#IND" : "1.#QNAN";
}

}  // namespace

const char* number_to_text(double value, char* buffer, int32_t digits, uint32_t flags) {
  buffer[0] = '\0';
  if (digits < 1) return nullptr;
  const bool blank = (flags & NUMBER_LEADING_BLANK) != 0;
  char* start = buffer + (blank ? 1 : 0);
  // The conversion may use digits + 8 characters, terminator excluded.
  const int bound = digits + 8;
  int length;
  if (std::isfinite(value)) {
    const auto [end, error] =
        std::to_chars(start, start + bound - 1, value, std::chars_format::general, digits);
    if (error != std::errc{} || end == start) {
      buffer[0] = '\0';
      return nullptr;
    }
    length = static_cast<int>(end - start);
    *end = '\0';
    // The widened text must fit the bound as well; the buffer has a byte to spare.
    length = widen_exponent(start, length);
    if (length >= bound) {
      buffer[0] = '\0';
      return nullptr;
    }
  } else {
    const char* text = non_finite_text(value);
    length = static_cast<int>(std::strlen(text));
    if (length >= bound) return nullptr;
    std::memcpy(start, text, static_cast<size_t>(length) + 1);
  }
  if (start[length - 1] == '.') start[--length] = '\0';
  if (blank && start[0] != '-') {
    buffer[0] = ' ';
    return buffer;
  }
  return start;
}

}  // namespace zv
