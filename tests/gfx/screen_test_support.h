// Test doubles for the graphics screen: a window driver that opens without a window,
// locks a real mutex and records its calls, and builders of small screens the way
// mode setting builds them.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <mutex>
#include <vector>

#include "gfx/builtin_data.h"
#include "gfx/draw_context.h"
#include "gfx/screen_hooks.h"
#include "gfx/screen_state.h"
#include "gfx/window_driver.h"
#include "runtime/runtime.h"

namespace zvtest {

struct ColourCall {
  int32_t index, red, green, blue;
  bool operator==(const ColourCall&) const = default;
};

struct TestDriverLog {
  std::mutex mutex;
  int locks = 0;
  int unlocks = 0;
  int presents = 0;
  int pumps = 0;
  int retraces = 0;
  std::vector<ColourCall> colours;
};

inline TestDriverLog& driverLog() {
  static TestDriverLog log;
  return log;
}

inline zv::WindowDriver testDriver(bool with_present = false) {
  zv::WindowDriver d{};
  d.name = "Test";
  d.open = [](const char*, int32_t, int32_t, int32_t, int32_t, int32_t) -> int32_t { return 0; };
  d.lock = [] {
    driverLog().mutex.lock();
    ++driverLog().locks;
  };
  d.unlock = [] {
    ++driverLog().unlocks;
    driverLog().mutex.unlock();
  };
  d.setColour = [](int32_t i, int32_t r, int32_t g, int32_t b) {
    driverLog().colours.push_back({i, r, g, b});
  };
  d.waitRetrace = [] { ++driverLog().retraces; };
  if (with_present) {
    d.present = [] { ++driverLog().presents; };
    d.pumpEvents = [] { ++driverLog().pumps; };
  }
  return d;
}

struct ScreenShape {
  int32_t mode_number;
  int32_t width, height, depth, pages;
  int32_t palette_colours;
  int32_t scanline_size = 1;
  int32_t text_columns = 80, text_rows = 30;
};

constexpr ScreenShape MODE_18{18, 640, 480, 8, 1, 256};
constexpr ScreenShape MODE_12{12, 640, 480, 4, 1, 256};
constexpr ScreenShape MODE_9{9, 640, 350, 4, 2, 64, 1, 80, 25};
constexpr ScreenShape MODE_1{1, 320, 200, 2, 8, 16, 1, 40, 25};
constexpr ScreenShape MODE_11{11, 640, 480, 1, 1, 2};
constexpr ScreenShape DEPTH_16{-1, 64, 16, 16, 1, 256, 1, 8, 2};
constexpr ScreenShape DEPTH_32{-1, 64, 16, 32, 1, 256, 1, 8, 2};
constexpr ScreenShape PAGED_8{13, 40, 12, 8, 3, 256, 1, 5, 1};

// Resets the runtime and the driver log for each test and takes the screen down after.
class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    zv::runtime_exit();
    zv::runtime_constructor();
    zv::forcePlainPixelRoutines(false);
    zv::resetPalettePorts();
    clearLog();
  }
  void TearDown() override {
    zv::destroyScreenState(zv::currentScreen());
    zv::forcePlainPixelRoutines(false);
  }

  static void clearLog() {
    auto& log = driverLog();
    log.locks = log.unlocks = log.presents = log.pumps = log.retraces = 0;
    log.colours.clear();
  }

  // The mode-setting sequence with the test driver in place of the search.
  zv::ScreenState* build(const ScreenShape& shape, bool with_present = false) {
    zv::destroyScreenState(zv::currentScreen());
    driver_ = testDriver(with_present);
    zv::ScreenState* s = zv::createScreenState();
    EXPECT_NE(s, nullptr);
    s->mode_number = shape.mode_number;
    s->width = shape.width;
    s->height = shape.height;
    s->scanline_size = shape.scanline_size;
    s->default_palette = zv::builtinPalette(shape.palette_colours);
    s->font = zv::builtinFont(16);
    s->aspect = 1.0f;
    zv::normaliseScreenDepth(s, shape.depth);
    EXPECT_TRUE(zv::allocateScreenBuffers(s, shape.pages));
    zv::setCurrentScreen(s);
    zv::selectPixelRoutines(s->bytes_per_pixel);
    EXPECT_EQ(driver_.open("t", s->width, s->height * s->scanline_size, s->depth, 0, 0), 0);
    s->driver = &driver_;
    s->text_columns = shape.text_columns;
    s->text_rows = shape.text_rows;
    EXPECT_TRUE(zv::finishScreenBuild(s));
    return s;
  }

  static std::vector<uint8_t> dirty(const zv::ScreenState* s) {
    return {s->dirty_lines, s->dirty_lines + s->height * s->scanline_size};
  }
  static void clearDirty(zv::ScreenState* s) {
    std::fill(s->dirty_lines, s->dirty_lines + s->height * s->scanline_size, 0);
  }
  static int countDirty(const zv::ScreenState* s) {
    int n = 0;
    for (int32_t i = 0; i < s->height * s->scanline_size; ++i) n += s->dirty_lines[i];
    return n;
  }

  zv::WindowDriver driver_{};
};

}  // namespace zvtest
