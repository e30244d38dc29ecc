// The screen-mode statement of the graphics screen.
#pragma once

#include <cstdint>

namespace zv {

// Selects a screen mode (mode 0: the text console). Returns the error number: 1
// when no window driver can present the mode, and the console stays on the text
// backend.
int32_t setScreenMode(int32_t mode, int32_t depth, int32_t pages, int32_t flags, int32_t refresh_rate);

}  // namespace zv
