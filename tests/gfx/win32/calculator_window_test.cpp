// The whole calculator in-process in a window of the virtual desktop, presented by
// each window driver in turn. A test thread types the nine entries and one key per pause as
// hardware key events, so every key goes through the window's message queue,
// TranslateMessage, the window procedure and postKey as a real key would. The report
// must equal the terminal run's byte for byte, and the window's client area after the
// last section must show the golden picture of the final screen pixel for pixel. On
// the way the window switches to full screen and back while the program runs.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/environment.h"
#include "calculator/calculator.h"
#include "gfx/key_queue.h"
#include "gfx/screen_hooks.h"
#include "gfx/screen_mode.h"
#include "gfx/screen_state.h"
#include "gfx/window_driver.h"
#include "runtime/runtime.h"
#include "tests/gfx/screen_picture.h"
#include "tests/gfx/win32/typing.h"
#include "tests/support/files.h"

#ifndef _WIN32
#include "platform/win32/virtual_desktop.h"
#endif

namespace zvtest {
namespace {

using namespace zv;

// Each driver that exists runs the whole test; its name comes first in the search.
class CalculatorWindowTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    runtime_exit();
    runtime_constructor();
    closeScreenAtExit();
    resetKeyQueue();
    resetPalettePorts();
    setWindowDriverList(nullptr);
    setScreenDriverName(GetParam());
    setWindowTitle("", 0);  // no title of an earlier test: the program's name
    const char* variable = std::getenv("ZVGFX");
    had_variable_ = variable != nullptr;
    if (variable) saved_variable_ = variable;
    zv::test::unset_env("ZVGFX");
#ifndef _WIN32
    zv::vdesk::enable(1280, 1024);
    zv::vdesk::setDisplayModes({{640, 480, 8, 60}, {1280, 1024, 32, 60}});
#endif
  }
  void TearDown() override {
    closeScreenAtExit();
    setScreenDriverName(nullptr);
#ifndef _WIN32
    EXPECT_EQ(zv::vdesk::directXObjects(), 0) << "a DirectDraw or DirectInput object was not released";
    zv::vdesk::disable();
#endif
    resetKeyQueue();
    if (had_variable_) zv::test::set_env("ZVGFX", saved_variable_.c_str());
  }

 private:
  bool had_variable_ = false;
  std::string saved_variable_;
};

TEST_P(CalculatorWindowTest, TypedThroughTheWindowTheRunWritesTheReportAndShowsTheFinalScreen) {
  const std::string golden = std::string(ZV_GOLDEN_DIR) + "/point_half";
  const std::vector<std::string> entries = {"1", "0", "1", "1", "2", "0", "0", "0", "3"};
  constexpr int PAUSES = 11;
  std::atomic<bool> finished{false};
  bool typed_in_step = false;
  // Between the entries and the pauses the window goes to full screen and back: a
  // 640 x 480 display mode becomes current and one frameless window covers it. On
  // Windows only a display that lists the mode can switch (Wine's virtual desktop
  // does, Xvfb alone does not); elsewhere the run stays windowed.
  const bool switches = displayOffersMode(640, 480);
  const int32_t desktop_width = displayWidth();
  bool full_screen_seen = false;
  const auto fullScreenAndBack = [&] {
    if (!switches) return true;
    if (!pressAltEnter(640)) return false;
    full_screen_seen = waitFor([] { return fullScreenWindowInFront(640, 480); });
    return pressAltEnter(desktop_width);
  };
  HWND window = nullptr;
  std::thread typist([&] {
    typed_in_step = waitForProgramWindow() != nullptr && typeEntries(entries) && fullScreenAndBack() &&
                    typePauses(PAUSES);
    if (!typed_in_step) pressOnUntil(finished);
  });

  std::string report;
  {
    test::TempDir dir;
    run_calculation();
    report = test::read_file(test::report_file(dir.path()));
  }
  finished = true;
  typist.join();
  ASSERT_TRUE(typed_in_step);
  EXPECT_EQ(full_screen_seen, switches);
  RecordProperty("full_screen", full_screen_seen ? "seen" : "not switched");
  EXPECT_EQ(report, test::read_file(golden + ".report"));

  // The window stays until the screen is closed; once the update thread has shown
  // every dirty line, its client area is the final screen.
  window = programWindow();  // the window shown after the return from full screen
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(displayWidth(), desktop_width);
  ASSERT_TRUE(waitFor([] {
    return underWindowLock([] {
      const ScreenState* s = currentScreen();
      for (int32_t y = 0; s && y < s->height; ++y)
        if (s->dirty_lines[y]) return false;
      return s != nullptr;
    });
  }));
  const char* driver = nullptr;
  underWindowLock([&] { return (driver = currentScreen()->driver->name) != nullptr; });
  EXPECT_STREQ(driver, GetParam());
  int32_t width = 0, height = 0;
  const std::vector<uint32_t> pixels = clientPixels(window, &width, &height);
  ASSERT_EQ(width, 640);
  ASSERT_EQ(height, 480);
  std::vector<uint8_t> rgb;
  rgb.reserve(pixels.size() * 3);
  for (uint32_t p : pixels) rgb.insert(rgb.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
  test::expect_golden(golden + ".png", encodePng(width, height, rgb));

  char title[64] = {}, class_name[64] = {};
  GetWindowTextA(window, title, sizeof title);
  EXPECT_STREQ(title, "test_drivers");
  GetClassNameA(window, class_name, sizeof class_name);
  EXPECT_STREQ(class_name, "zvgfxclass_test_drivers");

  // A close request reaches the program as the close key, and the window stays.
  while (underWindowLock([] { return popKey() != 0; })) {
  }
  ASSERT_TRUE(PostMessageA(window, WM_CLOSE, 0, 0));
  EXPECT_TRUE(waitFor([] { return underWindowLock([] { return popKey() == 27647; }); }));
  EXPECT_TRUE(IsWindow(window) && IsWindowVisible(window));
}

INSTANTIATE_TEST_SUITE_P(Drivers, CalculatorWindowTest, ::testing::Values("DirectX", "GDI"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

}  // namespace
}  // namespace zvtest
