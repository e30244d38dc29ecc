// The program thread draws (prints and scrolls, changes colours and the palette,
// sets titles and the mouse, changes mode, exits) while the GDI driver's update
// thread presents and keys and mouse moves arrive from a third thread. Under
// ThreadSanitizer this must run without a report; in every build the keys typed must
// reach the program and nothing may be left behind.
#include <atomic>
#include <thread>

#include "gfx/palette.h"
#include "runtime/hooks.h"
#include "runtime/print.h"
#include "runtime/statements.h"
#include "tests/gfx/win32/driver_test_support.h"

namespace zvtest::drivers {
namespace {

TEST_F(DriverTest, DrawingPresentingAndTypingAtOnce) {
  std::atomic<bool> typing{true};
  std::atomic<int32_t> typed{0};
  std::thread typist([&] {
    int32_t n = 0;
    while (typing) {
      const uint16_t letter = static_cast<uint16_t>('A' + n % 26);
      const uint8_t scans[26] = {30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                                 49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};
      vdesk::key(letter, scans[n % 26], false, true);
      vdesk::key(letter, scans[n % 26], false, false);
      vdesk::mouseMove(200 + n % 600, 150 + n % 400);
      ++n;
      typed = n;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });

  int32_t keys_read = 0;
  const std::string text = "Invariante Punkte der Kollineation, Zeile f\x81r Zeile bis ans Ende ";
  for (int32_t mode : {18, 12, 13, 18}) {
    ASSERT_EQ(zv::setScreenMode(mode, 8, 0, 0, 0), 0);
    for (int32_t round = 0; round < 200; ++round) {
      zv::call_hook<&zv::ConsoleHooks::colour>(round * 37 % 256, round % 3 == 0 ? 200 : 0, 0);
      zv::print_text(0, text.c_str(), round % 2 == 0 ? zv::PRINT_NEWLINE : zv::PRINT_NONE);
      if (round % 50 == 0) zv::clear_screen(0);
      if (round % 13 == 0) zv::locate(1 + round % 20, 1 + round % 30, -1);
      if (round % 7 == 0) zv::paletteStatement(round % 16, round % 64, -1, -1);
      if (round % 31 == 0) zv::setWindowTitle(round % 2 ? "eins" : "zwei", 4);
      if (round % 11 == 0) {
        int32_t x, y;
        zv::call_hook<&zv::ConsoleHooks::get_mouse>(&x, &y, nullptr, nullptr, nullptr);
        zv::call_hook<&zv::ConsoleHooks::set_mouse>(round % 3 == 0 ? -1 : round, round, round % 2, -1);
      }
      zv::lockScreen();
      while (zv::keysQueued() > 0) {
        zv::popKey();
        ++keys_read;
      }
      zv::unlockScreen(1, 0);
      if (round % 20 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
  }
  // The last screen gets keys until some arrived, then the program exits.
  EXPECT_TRUE(waitFor([&] {
    zv::lockScreen();
    while (zv::keysQueued() > 0) {
      zv::popKey();
      ++keys_read;
    }
    zv::unlockScreen(1, 0);
    return keys_read > 0;
  }));
  zv::closeScreenAtExit();
  typing = false;
  typist.join();
  EXPECT_GT(typed.load(), 0);
  EXPECT_TRUE(vdesk::windows().empty());
  EXPECT_EQ(zv::inputState().update_thread, nullptr);
}

}  // namespace
}  // namespace zvtest::drivers
