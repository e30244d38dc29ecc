// The picture glscreen's window must show: the page it prints, printed here on a
// screen in memory, as 0x00RRGGBB pixels, top row first.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "examples/glscreen.h"
#include "gfx/screen_mode.h"
#include "gfx/screen_state.h"
#include "runtime/runtime.h"

namespace zv::test {

inline std::vector<uint32_t> glscreenPicture() {
  runtime_constructor();
  EXPECT_EQ(setScreenSize(glscreen::WIDTH, glscreen::HEIGHT, glscreen::DEPTH, 1, -1, 0), 0);
  glscreen::printPage();
  std::vector<uint32_t> picture;
  picture.reserve(static_cast<size_t>(glscreen::WIDTH) * glscreen::HEIGHT);
  lockScreen();
  const ScreenState* s = currentScreen();
  for (int y = 0; y < glscreen::HEIGHT; ++y)
    for (int x = 0; x < glscreen::WIDTH; ++x) {
      uint32_t pixel;
      std::memcpy(&pixel, s->framebuffer + static_cast<size_t>(y) * s->pitch + 4 * x, 4);
      picture.push_back(pixel & 0xFFFFFF);
    }
  unlockScreen(1, 0);
  closeScreenAtExit();
  return picture;
}

}  // namespace zv::test
