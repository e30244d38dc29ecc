// The built program in a real X window: each test starts its own Xvfb on a free
// display, runs `invar` with DISPLAY set for it alone, types through XTEST key events
// (xdotool) into the focused window and reads the window back with XGetImage. The
// report must equal the terminal run's byte for byte and the window must show the
// golden final screen pixel for pixel; the desktop's scale factor, full screen,
// German text and a server that goes away are checked on the same runs; under a
// window manager (openbox), closing the window, a window destroyed by another client,
// Alt+Enter round trips and maximising. Skipped only where Xvfb (or, for the window
// manager's tests, openbox and wmctrl) is missing.
#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/program_icon.h"
#include "gfx/builtin_data.h"
#include "tests/gfx/screen_picture.h"
#include "tests/support/program_window.h"

namespace {

using zv::test::Client;
using zv::test::runTool;
using zv::test::waitUntil;
using Clock = std::chrono::steady_clock;
using zv::test::read_file;

std::string golden(const std::string& name) { return read_file(std::string(ZV_GOLDEN_DIR) + "/" + name); }

// The PNG of a picture read back; empty when the read failed (the window went).
std::string pngOf(const std::vector<uint8_t>& rgb, int width, int height) {
  if (width <= 0 || height <= 0 || rgb.size() != static_cast<size_t>(width) * static_cast<size_t>(height) * 3) return {};
  return zvtest::encodePng(width, height, rgb);
}

// Keys (xdotool names) for each entry of point_half, with the line editor's keys on
// the way: each ends with Return and leaves the entry's value.
const std::vector<std::vector<std::string>> kPointHalfKeys = {
    {"9", "Escape", "1", "Return"},                 // 1
    {"1", "0", "Home", "Delete", "Return"},        // 0
    {"2", "1", "Left", "BackSpace", "End", "Return"},  // 1
    {"1", "Return"},                                // 1
    {"3", "2", "Left", "Left", "Delete", "Return"},  // 2
    {"0", "Return"}, {"0", "Return"}, {"0", "Return"}, {"3", "Return"}};
constexpr int kPointHalfPauses = 11;

// A run of the calculator in a window under its own Xvfb, typed key by key.
class WindowRun : public zv::test::ProgramWindow {
 public:
  explicit WindowRun(const char* driver = nullptr) : ProgramWindow(ZV_INVAR_BINARY, "invar"), driver_(driver) {}

  bool start(const std::function<void(Client&)>& before = {}) { return ProgramWindow::start(driver_, before); }
  std::string report() { return file("invar.txt"); }

  // Types every entry once the program asks for it: the entries' prompts stand on
  // text rows 4 to 12 of the 16-pixel VGA font, and a prompt is drawn only after the
  // entry before it has been taken, so the key queue never holds more than one entry.
  bool typeEntries(const std::vector<std::vector<std::string>>& entries) {
    for (size_t i = 0; i < entries.size(); ++i) {
      if (!waitUntil([&] { return rowShowsText(static_cast<int>(4 + i)); })) {
        ADD_FAILURE() << "entry " << i + 1 << " was not asked for";
        return false;
      }
      for (const std::string& name : entries[i])
        if (!key(name)) return false;
    }
    return true;
  }

  // The client area at the program's own size: a window scaled by the desktop's
  // factor, or a full screen showing the picture scaled and centred, is read back one
  // pixel per block (empty when a block is not uniform or the border is not black).
  std::vector<uint8_t> picture(int* width, int* height) {
    std::vector<uint8_t> rgb = client().capture(window(), width, height);
    if ((scale_ == 1 && offset_x_ == 0 && offset_y_ == 0) || rgb.empty()) return rgb;
    const int w = (*width - 2 * offset_x_) / scale_, h = (*height - 2 * offset_y_) / scale_;
    std::vector<uint8_t> small;
    small.reserve(static_cast<size_t>(std::max(w, 0)) * std::max(h, 0) * 3);
    for (int y = 0; y < *height; ++y) {
      for (int x = 0; x < *width; ++x) {
        const uint8_t* p = &rgb[(static_cast<size_t>(y) * *width + x) * 3];
        const int px = x - offset_x_, py = y - offset_y_;
        const bool inside = px >= 0 && py >= 0 && px < w * scale_ && py < h * scale_;
        const uint8_t* q = inside ? &rgb[(static_cast<size_t>(offset_y_ + py / scale_ * scale_) * *width +
                                          static_cast<size_t>(offset_x_ + px / scale_ * scale_)) * 3]
                                  : nullptr;
        if (inside ? std::memcmp(p, q, 3) != 0 : (p[0] | p[1] | p[2]) != 0) {
          *width = *height = 0;
          return {};
        }
        if (inside && py % scale_ == 0 && px % scale_ == 0) small.insert(small.end(), p, p + 3);
      }
    }
    *width = w;
    *height = h;
    return small;
  }

  // Alt+Enter, then waits for the program's window to have the size (a new window or
  // the same one restyled) and gives it the focus. A driver that makes a new window
  // for each switch restores the display mode before it destroys the full-screen
  // window, which is then for a moment a window of the mode's size in the corner of
  // the desktop: once a switch has shown such a driver, the window switched from is
  // never taken for the one switched to.
  bool switchTo(int width, int height) {
    const ::Window before = window();
    EXPECT_TRUE(key("alt+Return"));
    ::Window now = 0;
    const bool switched = waitUntil([&] {
      int w = 0, h = 0;
      now = client().find("invar");
      return now != 0 && !(replaces_window_ && now == before) && client().size(now, &w, &h) && w == width &&
             h == height;
    });
    EXPECT_TRUE(switched) << "no " << width << " x " << height << " window after Alt+Enter";
    if (switched) replaces_window_ = now != before;
    setWindow(now);
    return switched && focus();
  }

  // How the program's picture lies in the window: scaled, and centred with a border.
  void setView(int scale, int offset_x = 0, int offset_y = 0) {
    scale_ = scale;
    offset_x_ = offset_x;
    offset_y_ = offset_y;
  }

  // Whether the text row shows the code page 437 text, white on black in the VGA
  // font, starting at some column.
  bool rowReads(int row, const std::string& text) {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb = picture(&width, &height);
    const zv::FontInfo* font = zv::builtinFont(16);
    if (width != 640 || height != 480 || !font) return false;
    auto cellIs = [&](int column, unsigned char c) {
      for (int y = 0; y < 16; ++y) {
        const uint8_t bits = font->glyph_data[c * 16 + y];
        for (int x = 0; x < 8; ++x) {
          const size_t at = (static_cast<size_t>(row * 16 + y) * 640 + static_cast<size_t>(column * 8 + x)) * 3;
          if ((rgb[at] != 0) != (((bits >> x) & 1) != 0)) return false;
        }
      }
      return true;
    };
    for (int column = 0; column + static_cast<int>(text.size()) <= 80; ++column) {
      bool all = true;
      for (size_t i = 0; i < text.size() && all; ++i)
        all = cellIs(column + static_cast<int>(i), static_cast<unsigned char>(text[i]));
      if (all) return true;
    }
    return false;
  }

  bool rowShowsText(int row) {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb = picture(&width, &height);
    if (width != 640 || height != 480) return false;
    for (int y = row * 16; y < row * 16 + 16; ++y)
      for (int x = 0; x < 80 * 3; ++x)
        if (rgb[(static_cast<size_t>(y) * 640) * 3 + static_cast<size_t>(x)] != 0) return true;
    return false;
  }

  // Waits for the next pause: the program writes the report out before it waits for
  // a key, and every pause of the run has report text before it.
  bool nextPause() {
    size_t before = reported_;
    bool grown = waitUntil([&] {
      reported_ = report().size();
      return reported_ > before;
    });
    if (!grown) ADD_FAILURE() << "no pause after " << before << " bytes of report";
    return grown;
  }

  // The window's picture (as PNG) once it equals the expected one, else the last one
  // read after a while.
  std::string settledPicture(const std::string& expected) {
    std::string seen;
    waitUntil([&] {
      int width = 0, height = 0;
      std::vector<uint8_t> rgb = picture(&width, &height);
      seen = pngOf(rgb, width, height);
      return seen == expected;
    }, 30);
    return seen;
  }

 private:
  size_t reported_ = 0;
  const char* driver_ = nullptr;
  int scale_ = 1, offset_x_ = 0, offset_y_ = 0;
  bool replaces_window_ = false;
};

// Takes the run through its pauses to the end: at each, at_pause may answer the pause
// itself (it returns true), else a space does. The run must end as the terminal's does.
void finishRun(WindowRun& run, const std::function<bool(int pause)>& at_pause = {}) {
  for (int pause = 1; pause <= kPointHalfPauses; ++pause) {
    ASSERT_TRUE(run.nextPause()) << "pause " << pause;
    if (!at_pause || !at_pause(pause)) {
      ASSERT_TRUE(run.key("space")) << "pause " << pause;
    }
  }
  EXPECT_EQ(run.program().wait(), 0);
  EXPECT_EQ(run.report(), golden("point_half.report"));
  EXPECT_EQ(run.errors(), "");
}

// The window is 640 × 480 at a scale of 1 and 1280 × 960 at 2; its picture at the final
// pause is the golden one, each pixel a scale × scale block. The driver is the
// search's first (DirectX) unless one is named.
TEST(X11Window, TypedRunWritesTheGoldenReportAndShowsTheGoldenScreen) {
  ZV_SKIP_WITHOUT_XVFB();
  const std::string png = golden("point_half.png");
  const struct {
    const char* driver;
    int scale;
  } cases[] = {{nullptr, 1}, {"GDI", 1}, {nullptr, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.driver ? c.driver : "search") + ", scale " + std::to_string(c.scale));
    WindowRun run(c.driver);
    // A desktop of 192 dpi scales the program by two, as Windows scales programs
    // that are not DPI-aware.
    ASSERT_TRUE(run.start([&](Client& client) {
      if (c.scale == 2) client.setResources("Xft.dpi:\t192\n");
    }));
    int width = 0, height = 0;
    ASSERT_TRUE(run.client().size(run.window(), &width, &height));
    EXPECT_EQ(width, 640 * c.scale);
    EXPECT_EQ(height, 480 * c.scale);
    // The window carries the program's own icon, the picture its icon files hold.
    const std::vector<long> icon = run.client().property(run.window(), "_NET_WM_ICON");
    const std::vector<uint32_t> drawn = zv::drawProgramIcon(32);
    EXPECT_TRUE(icon.size() == 2 + drawn.size() && icon[0] == 32 && icon[1] == 32 &&
                std::equal(drawn.begin(), drawn.end(), icon.begin() + 2,
                           [](uint32_t pixel, long item) { return pixel == static_cast<uint32_t>(item); }))
        << "_NET_WM_ICON of " << icon.size() << " items is not the program's icon";
    run.setView(c.scale);
    ASSERT_TRUE(run.typeEntries(kPointHalfKeys));
    finishRun(run, [&](int pause) {
      if (pause == kPointHalfPauses) {
        zv::test::expect_golden(std::string(ZV_GOLDEN_DIR) + "/point_half.png", run.settledPicture(png));
      }
      return false;
    });
  }
}

// Alt+Enter at the final pause: a full-screen window of the screen's size shows the
// picture scaled by two and centred on black (32 lines above and below); Alt+Enter
// again brings back a 640 × 480 window showing it as before.
TEST(X11Window, AltEnterShowsThePictureScaledOnTheWholeScreenAndBack) {
  ZV_SKIP_WITHOUT_XVFB();
  const std::string png = golden("point_half.png");
  WindowRun run;
  ASSERT_TRUE(run.start());
  ASSERT_TRUE(run.typeEntries(kPointHalfKeys));
  finishRun(run, [&](int pause) {
    if (pause != kPointHalfPauses) return false;
    if (run.switchTo(1280, 1024)) {
      run.setView(2, 0, 32);
      EXPECT_TRUE(run.settledPicture(png) == png) << "the full screen does not show the picture scaled and centred";
    }
    if (run.switchTo(640, 480)) {
      run.setView(1);
      EXPECT_TRUE(run.settledPicture(png) == png) << "the window does not show the picture after the switch back";
    }
    return false;
  });
}

// Text typed on a German layout, where "ö" has a key of its own (AC10), and on the US
// layout, where a spare keycode without a PC key is bound to it: the entry shows
// "Lösung" in code page 437. The entry is then cleared and the run goes on to the
// golden report.
TEST(X11Window, GermanTextReachesTheEntryInCodePage437) {
  ZV_SKIP_WITHOUT_XVFB();
  for (const char* layout : {"de", "us"}) {
    SCOPED_TRACE(layout);
    WindowRun run;
    ASSERT_TRUE(run.start());
    if (std::string(layout) == "de") {
      ASSERT_TRUE(runTool(run.server().display(), {"setxkbmap", "de"}));
    } else {
      ASSERT_TRUE(run.client().bindSpareKeycode(XK_odiaeresis));
    }
    ASSERT_TRUE(waitUntil([&] { return run.rowShowsText(4); }));
    ASSERT_TRUE(run.xdotool({"type", "L\xc3\xb6sung"}));
    EXPECT_TRUE(waitUntil([&] { return run.rowReads(4, "a11=? L\x94" "sung"); }, 10))
        << "the entry does not show L\\x94sung";
    ASSERT_TRUE(run.key("Escape"));
    if (std::string(layout) == "de") {
      // Dead keys compose with the next key as on Windows: ´ e gives é, ^ a gives â,
      // ^ and the space bar give the accent itself.
      for (const char* key : {"dead_acute", "e", "dead_circumflex", "a", "dead_circumflex", "space"})
        ASSERT_TRUE(run.key(key));
      EXPECT_TRUE(waitUntil([&] { return run.rowReads(4, "a11=? \x82\x83^"); }, 10))
          << "the entry does not show the composed characters";
      ASSERT_TRUE(run.key("Escape"));
    }
    ASSERT_TRUE(run.typeEntries(kPointHalfKeys));
    finishRun(run);
  }
}

// The server goes away while the program waits at its third pause: it ends at once
// with a status that is not 0, without a signal or a core, and its report holds all
// it had printed.
TEST(X11Window, LostServerEndsTheProgramWithTheReportWritten) {
  ZV_SKIP_WITHOUT_XVFB();
  WindowRun run;
  ASSERT_TRUE(run.start());
  ASSERT_TRUE(run.typeEntries(kPointHalfKeys));
  for (int pause = 1; pause <= 3; ++pause) {
    ASSERT_TRUE(run.nextPause()) << "pause " << pause;
    if (pause < 3) {
      ASSERT_TRUE(run.key("space"));
    }
  }
  const std::string printed = run.report();
  ASSERT_EQ(printed, golden("point_half.report").substr(0, printed.size()));
  run.disconnect();
  const auto killed = Clock::now();
  run.server().kill_now();
  const int status = run.program().wait(5);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - killed).count();
  std::printf("the program ended %lld ms after the server\n", static_cast<long long>(took));
  EXPECT_TRUE(run.program().exited()) << "still running 5 s after the server went away";
  EXPECT_NE(status, 0);
  EXPECT_EQ(run.program().end_signal(), 0);
  EXPECT_FALSE(run.program().dumped_core());
  EXPECT_EQ(run.report(), printed);
  EXPECT_EQ(run.errors(), "");
}

#define ZV_SKIP_WITHOUT_WINDOW_MANAGER()                                                              \
  do {                                                                                                \
    ZV_SKIP_WITHOUT_XVFB();                                                                           \
    if (!zv::test::onPath("openbox") || !zv::test::onPath("wmctrl"))                                  \
      GTEST_SKIP() << "openbox or wmctrl is not installed (apt-get install openbox wmctrl)";          \
  } while (false)

// openbox on the run's display, as a desktop user has a window manager. It is ready
// once it has run its start-up command: a window mapped earlier may be left alone.
class WindowManager {
 public:
  explicit WindowManager(WindowRun& run)
      : display_(run.server().display()),
        marker_(dir_.path() + "/started"),
        process_("/bin/sh", [this] {
          setenv("DISPLAY", display_.c_str(), 1);
          const int devnull = open("/dev/null", O_RDWR);
          dup2(devnull, 0);
          dup2(devnull, 1);
          dup2(devnull, 2);
        }, {"-c", "exec openbox --sm-disable --startup 'touch " + marker_ + "'"}) {}
  bool ready() { return waitUntil([&] { return access(marker_.c_str(), F_OK) == 0; }); }

 private:
  zv::test::TempDir dir_{false};
  std::string display_, marker_;
  zv::test::ChildProcess process_;
};

// Brings the run to a wait: the first `entries` entries typed and the next one asked
// for, or (pause > 0) every entry typed and the run at that pause.
void bringTo(WindowRun& run, int entries, int pause) {
  const std::vector<std::vector<std::string>> typed(kPointHalfKeys.begin(), kPointHalfKeys.begin() + entries);
  ASSERT_TRUE(run.typeEntries(typed));
  if (pause == 0) {
    ASSERT_TRUE(waitUntil([&] { return run.rowShowsText(4 + entries); }));
    return;
  }
  for (int p = 1; p <= pause; ++p) {
    ASSERT_TRUE(run.nextPause()) << "pause " << p;
    if (p < pause) {
      ASSERT_TRUE(run.key("space"));
    }
  }
}

// The window closed at an entry or a pause, by the frame's close button (the window
// manager's close, as wmctrl asks for it), by Alt+F4, or destroyed by another client.
// A close ends the run with status 0 and a destroyed window with status 1, each at
// once, and the report holds exactly what was printed before that wait.
TEST(DesktopWindow, ClosingOrDestroyingTheWindowEndsTheRunWithTheReportKept) {
  ZV_SKIP_WITHOUT_WINDOW_MANAGER();
  enum How { close_button, alt_f4, destroyed };
  const struct {
    const char* name;
    How how;
    int entries, pause;
    int status;
  } cases[] = {{"close button at the first entry", close_button, 0, 0, 0},
               {"Alt+F4 at the first pause", alt_f4, 9, 1, 0},
               {"destroyed at an entry", destroyed, 2, 0, 1},
               {"destroyed at the second pause", destroyed, 9, 2, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WindowRun run;
    WindowManager manager(run);
    ASSERT_TRUE(manager.ready());
    ASSERT_TRUE(run.start());
    bringTo(run, c.entries, c.pause);
    const std::string printed = run.report();
    ASSERT_EQ(printed, golden("point_half.report").substr(0, printed.size()));
    const std::string id = std::to_string(run.window());
    switch (c.how) {
      case close_button: ASSERT_TRUE(runTool(run.server().display(), {"wmctrl", "-i", "-c", id})); break;
      case alt_f4: ASSERT_TRUE(run.key("alt+F4")); break;
      case destroyed: ASSERT_TRUE(run.xdotool({"windowclose", id})); break;
    }
    EXPECT_EQ(run.program().wait(5), c.status) << "not ended 5 s after the request";
    EXPECT_EQ(run.program().end_signal(), 0);
    EXPECT_EQ(run.report(), printed);
    EXPECT_EQ(run.errors(), "");
  }
}

// Five Alt+Enter round trips per driver, with and without a window manager: the
// window comes back each time where it was, at its size; then maximising (asked of
// the window manager as its maximise button does) is the switch to full screen, and
// the window manager cannot resize the window.
TEST(DesktopWindow, AltEnterRoundTripsKeepThePlaceAndMaximisingIsFullScreen) {
  ZV_SKIP_WITHOUT_WINDOW_MANAGER();
  for (const char* driver : {"DirectX", "GDI"}) {
    for (bool managed : {false, true}) {
      SCOPED_TRACE(std::string(driver) + (managed ? " under openbox" : " without a window manager"));
      WindowRun run(driver);
      std::unique_ptr<WindowManager> manager;
      if (managed) {
        manager = std::make_unique<WindowManager>(run);
        ASSERT_TRUE(manager->ready());
      }
      ASSERT_TRUE(run.start());
      ASSERT_TRUE(waitUntil([&] { return run.rowShowsText(4); }));
      int x0 = 0, y0 = 0;
      ASSERT_TRUE(run.client().origin(run.window(), &x0, &y0));
      auto placedAsBefore = [&] {
        int x = 0, y = 0, width = 0, height = 0;
        const bool same = waitUntil([&] {
          return run.client().origin(run.window(), &x, &y) && run.client().size(run.window(), &width, &height) &&
                 x == x0 && y == y0 && width == 640 && height == 480;
        }, 5);
        EXPECT_TRUE(same) << "window at " << x << "," << y << " (" << width << " x " << height << "), was at "
                          << x0 << "," << y0;
        return same;
      };
      for (int trip = 1; trip <= 5; ++trip) {
        SCOPED_TRACE("round trip " + std::to_string(trip));
        ASSERT_TRUE(run.switchTo(1280, 1024));
        ASSERT_TRUE(run.switchTo(640, 480));
        ASSERT_TRUE(placedAsBefore());
      }
      if (!managed) continue;
      const std::string id = std::to_string(run.window());
      ASSERT_TRUE(runTool(run.server().display(), {"xdotool", "windowsize", id, "800", "600"}));
      // WM_NORMAL_HINTS: flags, 4 unused, minimum width and height, maximum width and height.
      const std::vector<long> hints = run.client().property(run.window(), "WM_NORMAL_HINTS");
      ASSERT_GE(hints.size(), 9u);
      EXPECT_EQ(std::vector<long>(hints.begin() + 5, hints.begin() + 9), (std::vector<long>{640, 480, 640, 480}));
      ASSERT_TRUE(placedAsBefore());
      ASSERT_TRUE(runTool(run.server().display(), {"wmctrl", "-i", "-r", id, "-b", "add,maximized_vert,maximized_horz"}));
      EXPECT_TRUE(waitUntil([&] {
        int w = 0, h = 0;
        const ::Window now = run.client().find("invar");
        return now != 0 && run.client().size(now, &w, &h) && w == 1280 && h == 1024;
      })) << "maximising did not switch to full screen";
      run.setWindow(run.client().find("invar"));
      ASSERT_TRUE(run.focus());
      ASSERT_TRUE(run.switchTo(640, 480));
      placedAsBefore();
    }
  }
}

}  // namespace
