// The whole calculator in-process in a window of the virtual desktop, presented by
// the GDI driver. A test thread types the nine entries and one key per pause as
// hardware key events, so every key goes through the window's message queue,
// TranslateMessage, the window procedure and postKey as a real key would. The report
// must equal the terminal run's byte for byte, and the window's client area after the
// last section must show the golden picture of the final screen pixel for pixel.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "calculator/calculator.h"
#include "gfx/screen_hooks.h"
#include "gfx/screen_mode.h"
#include "gfx/screen_state.h"
#include "gfx/window_driver.h"
#include "runtime/runtime.h"
#include "tests/gfx/screen_picture.h"
#include "tests/gfx/win32/typing.h"
#include "tests/support/files.h"

namespace zvtest {
namespace {

using namespace zv;

class CalculatorWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime_exit();
    runtime_constructor();
    closeScreenAtExit();
    resetKeyQueue();
    resetPalettePorts();
    setWindowDriverList(nullptr);
    setScreenDriverName(nullptr);
    const char* variable = std::getenv("ZVGFX");
    had_variable_ = variable != nullptr;
    if (variable) saved_variable_ = variable;
    unsetenv("ZVGFX");
    vdesk::enable(1280, 1024);
  }
  void TearDown() override {
    closeScreenAtExit();
    vdesk::disable();
    resetKeyQueue();
    if (had_variable_) setenv("ZVGFX", saved_variable_.c_str(), 1);
  }

 private:
  bool had_variable_ = false;
  std::string saved_variable_;
};

TEST_F(CalculatorWindowTest, TypedThroughTheWindowTheRunWritesTheReportAndShowsTheFinalScreen) {
  const std::string golden = std::string(ZV_GOLDEN_DIR) + "/point_half";
  const std::vector<std::string> entries = {"1", "0", "1", "1", "2", "0", "0", "0", "3"};
  constexpr int PAUSES = 11;
  std::atomic<bool> finished{false};
  bool typed_in_step = false;
  HWND window = nullptr;
  std::thread typist([&] {
    window = waitForProgramWindow();
    typed_in_step = window && typeEntries(entries) && typePauses(PAUSES);
    if (!typed_in_step) pressOnUntil(finished);
  });

  std::string report;
  {
    test::TempDir dir;
    run_calculation();
    report = test::read_file(dir.path() + "/invar.txt");
  }
  finished = true;
  typist.join();
  ASSERT_TRUE(typed_in_step);
  EXPECT_EQ(report, test::read_file(golden + ".report"));

  // The window stays until the screen is closed; once the update thread has shown
  // every dirty line, its client area is the final screen.
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(waitFor([] {
    return underWindowLock([] {
      const ScreenState* s = currentScreen();
      for (int32_t y = 0; s && y < s->height; ++y)
        if (s->dirty_lines[y]) return false;
      return s != nullptr;
    });
  }));
  int32_t width = 0, height = 0;
  const std::vector<uint32_t> pixels = vdesk::clientPixels(window, &width, &height);
  ASSERT_EQ(width, 640);
  ASSERT_EQ(height, 480);
  std::vector<uint8_t> rgb;
  rgb.reserve(pixels.size() * 3);
  for (uint32_t p : pixels) rgb.insert(rgb.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
  test::expect_golden(golden + ".png", encodePng(width, height, rgb));

  vdesk::WindowInfo info;
  ASSERT_TRUE(vdesk::windowInfo(window, &info));
  EXPECT_EQ(info.title, "test_drivers");
  EXPECT_EQ(info.class_name, "zvgfxclass_test_drivers");
}

}  // namespace
}  // namespace zvtest
