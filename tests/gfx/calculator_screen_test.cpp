// The whole calculator run on the in-memory graphics screen: a second thread plays
// the driver's update thread and types the nine entries and a key at every pause
// through postKey, under the driver's lock. The report must equal the terminal
// run's, the final text cells must show the end of the transcript and the final
// picture must equal the golden one; a picture of the screen after the entry dialogue
// is saved for people to look at.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "calculator/calculator.h"
#include "platform/platform.h"
#include "tests/gfx/mode_test_support.h"
#include "tests/gfx/screen_picture.h"
#include "tests/support/files.h"

namespace zvtest {
namespace {

using namespace zv;

// The program thread counts the pauses it enters: the test driver's open (called
// once the graphics hooks are in place) routes the sleep hook through this.
std::atomic<int> pauses_entered{0};

void countingSleep(int32_t milliseconds) {
  if (milliseconds == -1) pauses_entered.fetch_add(1);
  graphicsSleep(milliseconds);
}

WindowDriver pauseCountingDriver() {
  WindowDriver d = testDriver();
  d.open = [](const char*, int32_t, int32_t, int32_t, int32_t, int32_t) -> int32_t {
    console_hooks_table().sleep = countingSleep;
    return 0;
  };
  return d;
}

// The text the screen shows after the last clear of a scripted transcript: the
// lines printed since, the last 30 of them, as rows of the 80 x 30 grid.
std::vector<std::string> expectedFinalRows(const std::string& transcript) {
  std::string tail = transcript.substr(transcript.rfind("<CLS>") + 5);
  for (size_t at; (at = tail.find("<PAUSE>")) != std::string::npos;) tail.erase(at, 7);
  std::vector<std::string> lines;
  for (size_t start = 0;;) {
    const size_t end = tail.find("\r\n", start);
    lines.push_back(tail.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 2;
  }
  if (lines.size() > 30) lines.erase(lines.begin(), lines.end() - 30);
  for (std::string& line : lines) line = line.substr(0, line.find_last_not_of(' ') + 1);
  return lines;
}

class CalculatorScreenTest : public ModeTest {
 protected:
  // Waits, without holding the lock for long, until the predicate holds under it.
  template <class Predicate>
  static void waitUnderLock(Predicate ready) {
    for (;;) {
      {
        std::lock_guard<std::mutex> hold(driverLog().mutex);
        if (ready()) return;
      }
      sleep_ms(1);
    }
  }
};

TEST_F(CalculatorScreenTest, TheWholeRunDrawsIntoTheScreenAndWritesTheSameReport) {
  drivers_[0] = pauseCountingDriver();
  list_[1] = nullptr;
  pauses_entered = 0;
  const std::string golden = std::string(ZV_GOLDEN_DIR) + "/point_half";
  char* cwd = getcwd(nullptr, 0);
  const std::string picture = std::string(cwd ? cwd : ".") + "/calculator_after_entry.png";
  std::free(cwd);
  std::remove(picture.c_str());

  const std::vector<std::string> entries = {"1", "0", "1", "1", "2", "0", "0", "0", "3"};
  constexpr int PAUSES = 11;
  std::vector<uint8_t> snapshot_rgb;
  int32_t snapshot_width = 0;
  std::thread driver_thread([&] {
    // One key at a time, each once the queue is empty, so none is dropped.
    for (const std::string& entry : entries) {
      for (char c : entry + "\r") {
        waitUnderLock([] { return keysQueued() == 0; });
        post(static_cast<uint8_t>(c));
      }
    }
    for (int pause = 1; pause <= PAUSES; ++pause) {
      waitUnderLock([&] { return pauses_entered.load() >= pause; });
      std::lock_guard<std::mutex> hold(driverLog().mutex);
      if (pause == 1) {
        // The program waits at its first pause: the entries and the first cubic
        // are on the screen.
        const ScreenState* s = currentScreen();
        snapshot_width = s->width;
        snapshot_rgb = pageRgb(*s, s->visible_page);
        writePng(picture, *s, s->visible_page);
      }
      postKey(' ');
    }
  });
  std::string report;
  {
    test::TempDir dir;
    run_calculation();
    report = test::read_file(test::report_file(dir.path()));
  }
  driver_thread.join();

  EXPECT_EQ(report, test::read_file(golden + ".report"));
  EXPECT_EQ(pauses_entered.load(), PAUSES);

  const ScreenState* s = currentScreen();
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(s->text_columns, 80);
  ASSERT_EQ(s->text_rows, 30);
  const std::vector<std::string> expected = expectedFinalRows(test::read_file(golden + ".screen"));
  ASSERT_FALSE(expected.empty());
  for (size_t row = 0; row < 30; ++row) {
    std::string text;
    for (int32_t x = 0; x < 80; ++x)
      text.push_back(static_cast<char>(s->text_pages[0][row * 80 + x].code));
    text = text.substr(0, text.find_last_not_of(' ') + 1);
    EXPECT_EQ(text, row < expected.size() ? expected[row] : "") << "row " << row + 1;
  }
  EXPECT_NE(std::find(expected.begin(), expected.end(), " -Ende Geradenermittlung-"),
            expected.end());
  // The final screen is the picture every presentation of this run must show.
  test::expect_golden(golden + ".png", encodePng(s->width, s->height, pageRgb(*s, s->visible_page)));

  // The picture: the blank first row stays black, the first prompt's row below it
  // holds text pixels, and the file is a PNG of the whole screen.
  ASSERT_EQ(snapshot_width, 640);
  ASSERT_EQ(snapshot_rgb.size(), 640u * 480u * 3u);
  const auto lit_pixels = [&](size_t first_y) {
    int lit = 0;
    for (size_t y = first_y; y < first_y + 16; ++y)
      for (size_t x = 0; x < 640; ++x) lit += snapshot_rgb[(y * 640 + x) * 3] != 0;
    return lit;
  };
  EXPECT_EQ(lit_pixels(0), 0);
  EXPECT_GT(lit_pixels(16), 100);
  const std::string png = test::read_file(picture);
  ASSERT_GT(png.size(), 640u * 480u * 3u);
  EXPECT_EQ(png.substr(1, 3), "PNG");
}

}  // namespace
}  // namespace zvtest
