// The DirectX driver on the virtual desktop, ahead of GDI in the list: the display
// mode its full screen takes and where the picture lands in it, presentation while
// inactive, lost surfaces, a display mode changed from outside, the keyboard device,
// the retrace handshake, its mode list, and that every DirectDraw and DirectInput
// object it made is released again.
#include <algorithm>
#include <chrono>

#include "tests/gfx/win32/driver_test_support.h"
#include "tests/gfx/win32/typing.h"

namespace zvtest::drivers {
namespace {

// A framebuffer pixel as 0x00RRGGBB (16-bit fields at the top of their byte).
uint32_t framebufferColour(const zv::ScreenState& s, int32_t x, int32_t row) {
  const uint8_t* line = s.framebuffer + static_cast<size_t>(row) * s.pitch;
  if (s.bytes_per_pixel == 1) {
    const uint32_t bgr = s.palette[line[x]];
    return ((bgr & 0xFF) << 16) | (bgr & 0xFF00) | ((bgr >> 16) & 0xFF);
  }
  uint32_t v = 0;
  std::memcpy(&v, line + s.bytes_per_pixel * x, static_cast<size_t>(s.bytes_per_pixel));
  if (s.bytes_per_pixel == 4) return v & 0xFFFFFF;
  return ((v >> 11) << 19) | (((v >> 5) & 63) << 10) | ((v & 31) << 3);
}

// The colour a display of that depth shows for it: the channel's top bits, widened
// again by repeating them.
uint32_t shownAtDepth(uint32_t c, int32_t depth) {
  if (depth != 15 && depth != 16) return c;
  const auto channel = [](uint32_t v, int bits) {
    v >>= 8 - bits;
    return (v << (8 - bits)) | (v >> (2 * bits - 8));
  };
  return channel((c >> 16) & 0xFF, 5) << 16 | channel((c >> 8) & 0xFF, depth == 16 ? 6 : 5) << 8 |
         channel(c & 0xFF, 5);
}

// Whether the window shows the framebuffer from line y_offset on, black above.
bool showsPicture(HWND window, int32_t y_offset, int32_t depth) {
  int32_t width = 0, height = 0;
  const std::vector<uint32_t> pixels = vdesk::clientPixels(window, &width, &height);
  zv::lockScreen();
  const zv::ScreenState& s = *zv::currentScreen();
  bool right = width >= s.width && height >= y_offset + s.height;
  for (int32_t y = 0; right && y < y_offset; ++y) right = pixels[static_cast<size_t>(y) * width] == 0;
  // 1:1, black beside a screen narrower than the window.
  for (int32_t row = 0; right && row < s.height; ++row)
    for (int32_t x = 0; right && x < width; ++x)
      right = pixels[static_cast<size_t>(y_offset + row) * width + x] ==
              (x < s.width ? shownAtDepth(framebufferColour(s, x, row), depth) : 0);
  zv::unlockScreen(1, 0);
  return right;
}

bool pictureShown(int32_t y_offset = 0, int32_t depth = 32) {
  return waitFor([&] {
    const auto windows = vdesk::windows();
    return windows.size() == 1 && showsPicture(windows[0].window, y_offset, depth);
  });
}

// Wakes the update thread for that many more cycles, one after the other.
void cycles(uint64_t count) {
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t from = zv::inputState().update_cycles;
    zv::requestUpdateCycle();
    EXPECT_TRUE(waitFor([&] { return zv::inputState().update_cycles > from; }));
  }
}

class DirectXTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    directx_list_[0] = &zv::ddrawWindowDriver();
    directx_list_[1] = &zv::gdiWindowDriver();
    zv::setWindowDriverList(directx_list_);
  }
  void TearDown() override {
    DriverTest::TearDown();
    EXPECT_EQ(vdesk::directXObjects(), 0) << "a DirectDraw or DirectInput object was not released";
  }
  static std::string driverName() { return zv::currentScreen() ? zv::currentScreen()->driver->name : ""; }

  const zv::WindowDriver* directx_list_[3]{};
};

struct FullScreenCase {
  const char* name;
  int32_t width, height, depth;
  std::vector<vdesk::DisplayMode> modes;
  vdesk::DisplayMode expected;
  int32_t y_offset;
  DWORD flags;  // of the request that set the mode
};

void PrintTo(const FullScreenCase& c, std::ostream* out) { *out << c.name; }

class FullScreenModeTest : public DirectXTest, public ::testing::WithParamInterface<FullScreenCase> {};

TEST_P(FullScreenModeTest, TakesTheModeAndShowsThePictureInIt) {
  const FullScreenCase& c = GetParam();
  vdesk::setDisplayModes(c.modes);
  vdesk::clearDisplayModeRequests();
  openSize(c.width, c.height, c.depth, 0x01);
  EXPECT_EQ(driverName(), "DirectX");
  const vdesk::DisplayMode mode = vdesk::currentDisplayMode();
  EXPECT_EQ(std::vector<int32_t>({mode.width, mode.height, mode.bits}),
            std::vector<int32_t>({c.expected.width, c.expected.height, c.expected.bits}));
  const auto requests = vdesk::displayModeRequests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.back().flags, c.flags);
  const vdesk::WindowInfo window = info(theWindow());
  EXPECT_EQ(window.window_rect.right, c.expected.width);
  EXPECT_EQ(window.window_rect.bottom, c.expected.height);
  drawPattern(0x2468ACE0);
  EXPECT_TRUE(pictureShown(c.y_offset, c.expected.bits));
  zv::closeScreenAtExit();
  EXPECT_EQ(vdesk::currentDisplayMode().width, 1024);
}

const FullScreenCase full_screen_cases[] = {
    {"ega_height_centred_in_a_taller_mode", 640, 350, 8, {{640, 480, 8, 60}, {1024, 768, 32, 60}},
     {640, 480, 8, 60}, 65, 0},
    {"standard_vga_mode", 320, 200, 8, {{320, 200, 8, 70}, {1024, 768, 32, 60}}, {320, 200, 8, 70}, 0, 1},
    {"sixteen_bits_in_a_fifteen_bit_mode", 64, 240, 16, {{64, 240, 15, 60}, {1024, 768, 32, 60}},
     {64, 240, 15, 60}, 0, 0},
    {"thirty_two_bits_in_a_24_bit_mode", 64, 200, 32, {{64, 240, 24, 60}, {1024, 768, 32, 60}},
     {64, 240, 24, 60}, 20, 0},
};

INSTANTIATE_TEST_SUITE_P(Requests, FullScreenModeTest, ::testing::ValuesIn(full_screen_cases),
                         [](const auto& info) { return std::string(info.param.name); });

// A screen narrower than the smallest window: the picture 1:1 at the left, black
// beside it, as GDI shows it.
TEST_F(DirectXTest, NarrowScreenIsShownUnstretched) {
  openSize(61, 7, 32);
  ASSERT_EQ(driverName(), "DirectX");
  drawPattern(7);
  EXPECT_EQ(info(theWindow()).client_rect.right - info(theWindow()).client_rect.left, 106);
  EXPECT_TRUE(pictureShown());
}

TEST_F(DirectXTest, NoModeTallEnoughFailsOverToAWindow) {
  vdesk::setDisplayModes({{640, 200, 8, 60}, {1024, 768, 32, 60}});
  openSize(640, 300, 8, 0x01);
  EXPECT_EQ(driverName(), "DirectX");
  EXPECT_EQ(info(theWindow()).style & WS_CAPTION, static_cast<DWORD>(WS_CAPTION));
  EXPECT_EQ(vdesk::currentDisplayMode().width, 1024);
}

TEST_F(DirectXTest, InactiveFullScreenPresentsNothingAndKeepsTheDirtyRows) {
  vdesk::setDisplayModes({{640, 480, 8, 60}, {1024, 768, 32, 60}});
  openMode(18, 8, 0x01);
  drawPattern(1);
  ASSERT_TRUE(pictureShown(0, 8));
  vdesk::deactivateAll();
  ASSERT_TRUE(waitFor([] { return zv::windowState().is_active == 0; }));
  const HWND window = theWindow();
  const uint64_t presented = vdesk::presentedLines(window);
  drawPattern(2);
  cycles(3);
  EXPECT_EQ(vdesk::presentedLines(window), presented);
  zv::lockScreen();
  const zv::ScreenState& s = *zv::currentScreen();
  EXPECT_EQ(std::count(s.dirty_lines, s.dirty_lines + s.height, 1), s.height);
  zv::unlockScreen(1, 0);
  vdesk::activate(window);
  EXPECT_TRUE(pictureShown(0, 8));
}

// The client area starts centred; where the window was moved to is where it comes
// back after full screen.
TEST_F(DirectXTest, WindowKeepsItsPlaceAcrossFullScreen) {
  vdesk::setDisplayModes({{640, 480, 8, 60}, {1024, 768, 32, 60}});
  openMode(18);
  RECT client = info(theWindow()).client_rect;
  EXPECT_EQ(std::vector<LONG>({client.left, client.top}), std::vector<LONG>({192, 144}));
  zv::currentScreen()->driver->moveWindow(100, 50);
  client = info(theWindow()).client_rect;
  ASSERT_TRUE(zvtest::pressAltEnter(640));
  ASSERT_TRUE(zvtest::pressAltEnter(1024));
  ASSERT_TRUE(waitFor([] { return vdesk::windows().size() == 1 && !(vdesk::windows()[0].style & WS_POPUP); }));
  const RECT back = info(theWindow()).client_rect;
  EXPECT_EQ(std::vector<LONG>({back.left, back.top}), std::vector<LONG>({client.left, client.top}));
  EXPECT_TRUE(pictureShown());
}

TEST_F(DirectXTest, ShapedWindowRequestFallsBackToGdi) {
  openSize(64, 16, 8, 0x10);
  EXPECT_EQ(driverName(), "GDI");
  EXPECT_TRUE(info(theWindow()).layered);
}

struct SurfaceCase {
  const char* name;
  int32_t flags;
};

void PrintTo(const SurfaceCase& c, std::ostream* out) { *out << c.name; }

class LostSurfaceTest : public DirectXTest, public ::testing::WithParamInterface<SurfaceCase> {};

// Restored surfaces come back empty: only converting every row again brings the
// picture back. Idle cycles make no DirectDraw call; the loss is found by the next
// frame, here one changed row.
TEST_P(LostSurfaceTest, RestoredSurfacesShowTheWholePicture) {
  vdesk::setDisplayModes({{640, 480, 8, 60}, {1024, 768, 32, 60}});
  openMode(18, 8, GetParam().flags);
  drawPattern(3);
  const int32_t depth = GetParam().flags ? 8 : 32;
  ASSERT_TRUE(pictureShown(0, depth));
  const int32_t objects = vdesk::directXObjects();
  vdesk::loseSurfaces();
  cycles(3);
  zv::lockScreen();
  zv::markRowsDirty(zv::currentScreen(), 0, 0);
  zv::unlockScreen(1, 0);
  EXPECT_TRUE(pictureShown(0, depth));
  EXPECT_EQ(vdesk::directXObjects(), objects);
}

// Another program's display mode: the driver is made anew, retried while the
// desktop refuses the mode, and shows the whole picture once it is allowed.
TEST_P(LostSurfaceTest, DisplayModeChangedFromOutsideRecreatesTheDriver) {
  vdesk::setDisplayModes({{640, 480, 8, 60}, {800, 600, 32, 60}, {1024, 768, 32, 60}});
  const bool full_screen = GetParam().flags != 0;
  openMode(18, 8, GetParam().flags);
  drawPattern(4);
  const int32_t depth = full_screen ? 8 : 32;
  ASSERT_TRUE(pictureShown(0, depth));
  const int32_t objects = vdesk::directXObjects();
  vdesk::clearDisplayModeRequests();
  if (full_screen) vdesk::refuseDisplayChange(true);
  vdesk::changeDisplayModeFromOutside({800, 600, 32, 60});
  // Torn down (the old window may still show the picture meanwhile) ...
  EXPECT_TRUE(waitFor([] { return vdesk::directXObjects() == 0; }));
  if (full_screen) {
    // Each refused set-up walks the heights 480, 600, 768 and 1024.
    EXPECT_TRUE(waitFor([] { return vdesk::displayModeRequests().size() >= 8; }));
    vdesk::refuseDisplayChange(false);
    EXPECT_TRUE(waitFor([] { return vdesk::currentDisplayMode().width == 640; }));
  }
  // ... and made anew.
  EXPECT_TRUE(waitFor([&] { return vdesk::directXObjects() == objects; }));
  EXPECT_TRUE(pictureShown(0, depth));
}

INSTANTIATE_TEST_SUITE_P(Presentations, LostSurfaceTest,
                         ::testing::Values(SurfaceCase{"windowed", 0}, SurfaceCase{"full_screen", 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DirectXTest, KeyStatesComeFromTheKeyboardDevice) {
  openMode(18);
  EXPECT_TRUE(vdesk::keyboardAcquired());
  struct Key {
    uint16_t virtual_key;
    uint8_t scan;
    bool extended;
  };
  // An extended key shares its base scan code's entry.
  const Key keys[] = {{'A', 30, false}, {VK_LEFT, 0x4B, true}, {VK_RETURN, 0x1C, true}};
  // As the key-state hook reports it: -1 while held.
  const auto state = [](uint8_t scan) { return -zv::graphicsKeyState(scan); };
  for (int32_t round = 0; round < 2; ++round) {
    SCOPED_TRACE(round == 0 ? "acquired" : "acquisition taken away");
    if (round == 1) vdesk::takeKeyboardAcquisition();
    for (const Key& k : keys) {
      vdesk::key(k.virtual_key, k.scan, k.extended, true);
      EXPECT_TRUE(waitFor([&] { return state(k.scan) == 1; })) << int(k.scan);
      vdesk::key(k.virtual_key, k.scan, k.extended, false);
      EXPECT_TRUE(waitFor([&] { return state(k.scan) == 0; })) << int(k.scan);
    }
    EXPECT_TRUE(vdesk::keyboardAcquired());
  }
}

// The program thread waits for retraces while the update thread presents; the
// refresh rate is the monitor's.
TEST_F(DirectXTest, RetraceHandshakeWithTheUpdateThread) {
  vdesk::setDisplayModes({{640, 480, 8, 75}, {1024, 768, 32, 75}});
  openMode(18, 8, 0x01);
  EXPECT_EQ(zv::currentScreen()->refresh_rate, 75);
  for (uint32_t frame = 0; frame < 20; ++frame) {
    drawPattern(frame);
    zv::currentScreen()->driver->waitRetrace();
  }
  EXPECT_TRUE(pictureShown(0, 8));
}

TEST_F(DirectXTest, ModeListKeepsFifteenAndSixteenBitsApart) {
  vdesk::setDisplayModes({{640, 480, 15, 60}, {800, 600, 16, 60}, {800, 600, 16, 75},
                          {1024, 768, 32, 60}, {320, 200, 8, 70}});
  const std::pair<int32_t, std::vector<int32_t>> expectations[] = {
      {16, {800 * 65536 + 600}}, {15, {640 * 65536 + 480}}, {32, {1024 * 65536 + 768}},
      {8, {320 * 65536 + 200}},  {24, {}},
  };
  // Closed, and while GDI holds the screen, through a DirectDraw object of its own;
  // open, through the driver's.
  for (const zv::WindowDriver* holder : {static_cast<const zv::WindowDriver*>(nullptr), &zv::ddrawWindowDriver(),
                                         &zv::gdiWindowDriver()}) {
    if (holder) {
      directx_list_[0] = holder;
      openMode(18);
      ASSERT_EQ(driverName(), holder->name);
    }
    for (const auto& [depth, expected] : expectations) {
      int32_t count = -1;
      int32_t* modes = zv::ddrawWindowDriver().listModes(depth, &count);
      EXPECT_EQ(std::vector<int32_t>(modes, modes + count), expected)
          << "depth " << depth << " held by " << (holder ? holder->name : "none");
      std::free(modes);
    }
  }
}

// DirectX alone in the list: a missing entry point fails its open (the search then
// tries GDI).
TEST_F(DirectXTest, FailedOpensLeaveNothingBehind) {
  vdesk::setDisplayModes({{640, 480, 8, 60}, {1024, 768, 32, 60}});
  directx_list_[1] = nullptr;
  expectFailedOpens(
      {
          {"no DirectDrawCreate", 0x01, [](bool on) { vdesk::hideExport("ddraw", "DirectDrawCreate", on); }},
          {"no DirectInputCreateA", 0x01, [](bool on) { vdesk::hideExport("dinput", "DirectInputCreateA", on); }},
      },
      640, 480, 8);
}

// Without DirectDrawEnumerateExA the default device serves.
TEST_F(DirectXTest, DefaultDeviceWithoutEnumerateEx) {
  vdesk::setDisplayModes({{640, 480, 8, 60}, {1024, 768, 32, 60}});
  vdesk::hideExport("ddraw", "DirectDrawEnumerateExA", true);
  openMode(18, 8, 0x01);
  vdesk::hideExport("ddraw", "DirectDrawEnumerateExA", false);
  EXPECT_EQ(driverName(), "DirectX");
  EXPECT_EQ(vdesk::currentDisplayMode().width, 640);
}

// The update thread of either driver sleeps while nothing changes, wakes for a changed
// row, and shows a program that draws all the time about 100 times a second.
TEST_F(DirectXTest, UpdateThreadSleepsWhenIdleAndBoundsFramesWhenBusy) {
  for (const char* driver : {"DirectX", "GDI"}) {
    SCOPED_TRACE(driver);
    zv::setScreenDriverName(driver);
    openMode(18);
    ASSERT_EQ(driverName(), driver);
    drawPattern(5);
    ASSERT_TRUE(pictureShown());
    zv::sleep_ms(50);  // the cycles that follow the first messages are done
    const uint64_t idle_from = zv::inputState().update_cycles;
    zv::sleep_ms(300);
    EXPECT_LE(zv::inputState().update_cycles - idle_from, 1u) << "cycles while nothing changed";
    const uint64_t busy_from = zv::inputState().update_cycles;
    const uint64_t lines_from = vdesk::presentedLines(theWindow());
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    int32_t pattern = 6;
    while (std::chrono::steady_clock::now() < end) {
      drawPattern(pattern++);
      zv::sleep_ms(1);
    }
    // Every frame shows all 480 rows changed: 30 frames in 300 ms at most, each with
    // a cycle that learnt of the drawing early.
    EXPECT_LE((vdesk::presentedLines(theWindow()) - lines_from) / 480, 33u);
    EXPECT_LE(zv::inputState().update_cycles - busy_from, 70u);
    EXPECT_TRUE(pictureShown());
    zv::closeScreenAtExit();
  }
  zv::setScreenDriverName(nullptr);
}

}  // namespace

}  // namespace zvtest::drivers
