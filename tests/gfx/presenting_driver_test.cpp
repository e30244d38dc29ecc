// A driver that presents the way a windowed driver does: its thread runs from open
// to close and every few milliseconds, under the driver's exclusion, reads the dirty
// rows of the framebuffer and clears their flags, reads the palette, the state flags
// and the driver reference, resends the palette now and then (as a full-screen
// switch does), stores a refresh rate and posts keys. Meanwhile the program prints,
// scrolls, changes colours and the palette, turns pages and changes mode. Under
// ThreadSanitizer this must run without a report; in every build the thread must
// only ever see its own table as the screen's driver and, at depths below 8, pixel
// values that fit the depth.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "gfx/palette.h"
#include "runtime/print.h"
#include "runtime/statements.h"
#include "tests/gfx/mode_test_support.h"

namespace zvtest {
namespace {

using namespace zv;

struct Presenter {
  std::mutex exclusion;
  std::thread thread;
  std::atomic<bool> running{false};
  const WindowDriver* table = nullptr;  // the driver the screen should name
  // Written by the presenting thread under the exclusion, read after the mode is closed.
  int cycles = 0, rows_shown = 0, foreign_driver = 0, pixels_too_deep = 0, keys = 0;
  uint32_t palette_sum = 0, flags_seen = 0;
};

Presenter& presenter() {
  static Presenter p;
  return p;
}

void presentOnce(Presenter& p) {
  std::lock_guard<std::mutex> hold(p.exclusion);
  ScreenState* s = currentScreen();
  if (!s) return;
  ++p.cycles;
  if (s->driver != p.table) ++p.foreign_driver;
  p.flags_seen |= s->state_flags;
  for (int32_t i = 0; i < 256; ++i) p.palette_sum += s->palette[i];
  const uint32_t limit = s->depth < 8 ? s->colour_mask : 0xFF;
  for (int32_t y = 0; y < s->height; ++y) {
    if (!s->dirty_lines[y]) continue;
    const uint8_t* row = s->framebuffer + static_cast<size_t>(y) * s->pitch;
    if (s->bytes_per_pixel == 1)
      for (int32_t x = 0; x < s->width; ++x) p.pixels_too_deep += row[x] > limit;
    s->dirty_lines[y] = 0;
    ++p.rows_shown;
  }
  if (p.cycles % 7 == 0) resendPalette();
  if (p.cycles % 5 == 0) s->refresh_rate = 60 + p.cycles % 30;
  if (p.cycles % 3 == 0 && keysQueued() < KEY_QUEUE_SIZE - 1) {
    postKey('a' + p.cycles % 26);
    ++p.keys;
  }
}

int32_t presenterOpen(const char*, int32_t, int32_t, int32_t, int32_t, int32_t) {
  Presenter& p = presenter();
  p.running = true;
  p.thread = std::thread([&p] {
    while (p.running.load()) {
      presentOnce(p);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  return 0;
}

void presenterClose() {
  Presenter& p = presenter();
  p.running = false;
  if (p.thread.joinable()) p.thread.join();
}

WindowDriver presentingDriver() {
  WindowDriver d{};
  d.name = "Presenter";
  d.open = presenterOpen;
  d.close = presenterClose;
  d.lock = [] { presenter().exclusion.lock(); };
  d.unlock = [] { presenter().exclusion.unlock(); };
  d.setColour = [](int32_t, int32_t, int32_t, int32_t) {};
  d.waitRetrace = [] {
    const ScreenState* s = currentScreen();
    std::this_thread::sleep_for(std::chrono::microseconds(s && s->refresh_rate > 0 ? 100 : 50));
  };
  return d;
}

class PresentingDriverTest : public ModeTest {};

TEST_F(PresentingDriverTest, TheProgramDrawsWhileTheDriverPresents) {
  drivers_[0] = presentingDriver();
  list_[1] = nullptr;
  Presenter& p = presenter();
  p.table = &drivers_[0];

  const std::string text = "Invariante Punkte der Kollineation, Zeile fuer Zeile bis ans Ende ";
  // Mode 12 (16 colours in one byte per pixel), mode 9 (two pages), mode 18 (256).
  for (int32_t mode : {12, 9, 18, 12}) {
    ASSERT_EQ(setScreenMode(mode, 0, 0, 0, 0), 0);
    ScreenState* s = currentScreen();
    ASSERT_NE(s, nullptr);
    for (int32_t round = 0; round < 400; ++round) {
      call_hook<&ConsoleHooks::colour>(round * 37 % 256, round % 3 == 0 ? 200 : 0, 0);
      print_text(0, text.c_str(), round % 2 == 0 ? PRINT_NEWLINE : PRINT_NONE);
      if (round % 50 == 0) clear_screen(round % 100 == 0 ? 0 : 2);
      if (round % 13 == 0) locate(1 + round % 20, 1 + round % 70, -1);
      if (round % 17 == 0) paletteStatement(round % 16, round % 64, -1, -1);
      if (round % 29 == 0 && s->page_count > 1)
        call_hook<&ConsoleHooks::set_pages>(round % 2, (round / 29) % 2);
      if (round % 41 == 0) call_hook<&ConsoleHooks::port_in>(0x3DA);
      while (popKey() != 0) {
      }
    }
    // Give the thread a few cycles on this mode's last picture.
    const int32_t cycles_before = [&] {
      std::lock_guard<std::mutex> hold(p.exclusion);
      return p.cycles;
    }();
    for (int wait = 0; wait < 2000; ++wait) {
      {
        std::lock_guard<std::mutex> hold(p.exclusion);
        if (p.cycles >= cycles_before + 3) break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  ASSERT_EQ(setScreenMode(0, 0, 0, 0, 0), 0);
  EXPECT_FALSE(p.thread.joinable());

  EXPECT_GT(p.cycles, 0);
  EXPECT_GT(p.rows_shown, 0);
  EXPECT_GT(p.keys, 0);
  EXPECT_EQ(p.foreign_driver, 0) << "the thread saw a screen that did not name its driver";
  EXPECT_EQ(p.pixels_too_deep, 0) << "a 1-byte pixel held bits above the screen's depth";
}

}  // namespace
}  // namespace zvtest
