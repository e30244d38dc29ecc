// Conversion of a double to its printed text: the given number of significant
// digits, no trailing zeros, a blank in place of a plus sign when asked, exponents
// with at least three digits, and the texts 1.#INF, -1.#INF, -1.#IND, 1.#QNAN.
#pragma once

#include <cstdint>

namespace zv {

constexpr int32_t DOUBLE_DIGITS = 16;
constexpr int32_t SINGLE_DIGITS = 7;
constexpr uint32_t NUMBER_LEADING_BLANK = 1;

// buffer holds at least digits + 9 bytes. Returns the NUL-terminated text inside
// the buffer (its first or second byte), or null for an empty result (a count
// below 1, or a text that does not fit in digits + 8 characters). Never allocates.
const char* number_to_text(double value, char* buffer, int32_t digits, uint32_t flags);

}  // namespace zv
