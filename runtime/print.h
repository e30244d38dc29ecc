// The print statement: one item per call on a channel, then the action of the mask.
#pragma once

#include <cstdint>

#include "runtime/strings.h"

namespace zv {

constexpr uint32_t PRINT_NONE = 0;
constexpr uint32_t PRINT_NEWLINE = 1;
constexpr uint32_t PRINT_ZONE = 2;
constexpr uint32_t PRINT_NEWLINE_TOO = 4;  // a second bit that also ends the line
constexpr int32_t PRINT_ZONE_WIDTH = 14;

// Each returns the error number it leaves behind (also recorded as the last error).
int32_t print_newline(int32_t channel, uint32_t mask);
int32_t print_string(int32_t channel, StringDesc* text, uint32_t mask);  // releases a temporary
int32_t print_text(int32_t channel, const char* text, uint32_t mask);
int32_t print_double(int32_t channel, double value, uint32_t mask);
int32_t print_single(int32_t channel, float value, uint32_t mask);
int32_t print_zone(int32_t channel);

}  // namespace zv
