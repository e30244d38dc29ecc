// The GDI driver on the virtual desktop: the picture it presents for every kind of
// framebuffer, the band it copies, the window it makes for each flag, the switch to
// full screen and back, its mode list, and the faults that make its open fail.
#include <cstring>

#include "gfx/palette.h"
#include "tests/gfx/win32/driver_test_support.h"
#include "tests/gfx/win32/typing.h"

namespace zvtest::drivers {
namespace {

// The colour that framebuffer pixel (x, row) should show, 0x00RRGGBB; 16-bit
// screens compare in the 5 bits per channel a 15-bit bitmap keeps.
uint32_t expectedColour(const zv::ScreenState& s, int32_t x, int32_t row) {
  const uint8_t* line = s.framebuffer + static_cast<size_t>(row) * s.pitch;
  switch (s.bytes_per_pixel) {
    case 1: {
      const uint32_t bgr = s.palette[line[x]];
      return ((bgr & 0xFF) << 16) | (bgr & 0xFF00) | ((bgr >> 16) & 0xFF);
    }
    case 2: {
      uint16_t v;
      std::memcpy(&v, line + 2 * x, 2);
      return ((v >> 11) << 10) | (((v >> 6) & 31) << 5) | (v & 31);
    }
    default: {
      uint32_t v;
      std::memcpy(&v, line + 4 * x, 4);
      return v & 0xFFFFFF;
    }
  }
}

uint32_t shownColour(const zv::ScreenState& s, uint32_t pixel) {
  if (s.bytes_per_pixel != 2) return pixel;
  return (((pixel >> 19) & 31) << 10) | (((pixel >> 11) & 31) << 5) | ((pixel >> 3) & 31);
}

// Pixels of the client area that differ from what the framebuffer should show.
int64_t wrongPixels(HWND window) {
  int32_t width = 0, height = 0;
  const std::vector<uint32_t> pixels = vdesk::clientPixels(window, &width, &height);
  zv::lockScreen();
  const zv::ScreenState& s = *zv::currentScreen();
  int64_t wrong = 0;
  const int32_t scan = s.scanline_size;
  if (width < s.width || height != s.height * scan) wrong = -1;
  // Beside a screen narrower than the smallest window: black.
  for (int32_t y = 0; wrong >= 0 && y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      wrong += shownColour(s, pixels[static_cast<size_t>(y) * width + x]) !=
               (x < s.width ? expectedColour(s, x, y / scan) : 0);
  zv::unlockScreen(1, 0);
  return wrong;
}

bool pictureShown(HWND window) {
  return waitFor([&] { return wrongPixels(window) == 0; });
}

struct PictureCase {
  const char* name;
  int32_t mode;  // 0: a screen of the size below
  int32_t width, height, depth;
};

const PictureCase picture_cases[] = {
    {"mode_18_handed_over_directly", 18, 0, 0, 8},
    {"width_641_padded_to_644", 0, 641, 12, 8},
    {"doubled_scanlines_of_four_bit_mode_8", 8, 0, 0, 8},
    {"sixteen_bit_shown_as_fifteen", 0, 64, 16, 16},
    {"sixteen_bit_odd_width", 0, 63, 9, 16},
    {"thirty_two_bit", 0, 64, 16, 32},
    {"thirty_two_bit_odd_width", 0, 61, 7, 32},
};

class GdiPictureTest : public DriverTest, public ::testing::WithParamInterface<PictureCase> {};

TEST_P(GdiPictureTest, EveryPixelShowsItsFramebufferColour) {
  const PictureCase& c = GetParam();
  if (c.mode) openMode(c.mode, c.depth);
  else openSize(c.width, c.height, c.depth);
  HWND window = theWindow();
  const zv::ScreenState& s = *zv::currentScreen();
  // The smallest client area of the window's style is 106 pixels wide, as on Windows.
  EXPECT_EQ(info(window).client_rect.right - info(window).client_rect.left, std::max(s.width, 106));
  EXPECT_EQ(info(window).client_rect.bottom - info(window).client_rect.top, s.height * s.scanline_size);
  drawPattern(0x5A5A5A5A);
  EXPECT_TRUE(pictureShown(window));
  drawPattern(0x13579BDF);
  EXPECT_TRUE(pictureShown(window));
}

INSTANTIATE_TEST_SUITE_P(Screens, GdiPictureTest, ::testing::ValuesIn(picture_cases),
                         [](const auto& info) { return std::string(info.param.name); });

// On a 256-colour desktop the window's device context comes with the default palette
// each time: every cycle, not only the one where the palette changed, shows the
// screen's own colours.
TEST_F(DriverTest, PalettisedDesktopShowsThePaletteInEveryCycle) {
  vdesk::enable(1024, 768, 8);
  openMode(18);
  HWND window = theWindow();
  drawPattern(0x5A5A5A5A);
  EXPECT_TRUE(pictureShown(window));
  drawPattern(0x13579BDF);
  EXPECT_TRUE(pictureShown(window));
}

TEST_F(DriverTest, OneBandFromTheFirstToTheLastDirtyRow) {
  openMode(18);
  HWND window = theWindow();
  // A cycle without a dirty row copies nothing.
  const uint64_t settled = vdesk::presentedLines(window);
  drainInput();
  EXPECT_EQ(vdesk::presentedLines(window), settled);

  zv::lockScreen();
  zv::markRowsDirty(zv::currentScreen(), 5, 5);
  zv::markRowsDirty(zv::currentScreen(), 100, 100);
  zv::unlockScreen(1, 0);
  drainInput();
  EXPECT_EQ(vdesk::presentedLines(window) - settled, 96u);

  // Doubled scanlines: rows 5 and 100 of mode 8 are window lines 10 to 201.
  openMode(8);
  window = theWindow();
  const uint64_t doubled = vdesk::presentedLines(window);
  zv::lockScreen();
  zv::markRowsDirty(zv::currentScreen(), 5, 5);
  zv::markRowsDirty(zv::currentScreen(), 100, 100);
  zv::unlockScreen(1, 0);
  drainInput();
  EXPECT_EQ(vdesk::presentedLines(window) - doubled, 192u);
}

// The window each flag asks for: frame with every box, no maximise box (0x04), no
// frame (0x08), on top (0x20), shaped (0x10: colour-keyed and frameless, the key black
// at 8 bits and magenta at 32, the picture shown as it is).
TEST_F(DriverTest, WindowFollowsTheFlags) {
  constexpr DWORD BOXES = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
  struct Case {
    int32_t flags, depth;
    DWORD style_mask, style;
    bool topmost, shaped;
    COLORREF key;
  };
  const Case cases[] = {
      {0x00, 8, BOXES, BOXES, false, false, 0},
      {0x04, 8, WS_MAXIMIZEBOX, 0, false, false, 0},
      {0x08, 8, WS_CAPTION | WS_POPUP, WS_POPUP, false, false, 0},
      {0x20, 8, 0, 0, true, false, 0},
      {0x10, 8, WS_CAPTION | WS_POPUP, WS_POPUP, false, true, 0x000000},
      {0x10, 32, WS_CAPTION | WS_POPUP, WS_POPUP, false, true, 0xFF00FF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("flags " + std::to_string(c.flags) + ", depth " + std::to_string(c.depth));
    openSize(128, 16, c.depth, c.flags);
    HWND window = theWindow();
    const vdesk::WindowInfo shown = info(window);
    EXPECT_EQ(shown.style & c.style_mask, c.style);
    EXPECT_EQ(shown.topmost, c.topmost);
    EXPECT_TRUE(shown.visible);
    EXPECT_EQ(shown.class_name, "zvgfxclass_drivertest");
    EXPECT_EQ(shown.layered, c.shaped);
    EXPECT_EQ(shown.has_colour_key, c.shaped);
    if (c.shaped) {
      EXPECT_EQ(shown.colour_key, c.key);
      drawPattern(0xFF00FF00);
      EXPECT_TRUE(pictureShown(window));
    }
    if (c.flags == 0) {
      // Centred on the desktop.
      EXPECT_EQ(shown.window_rect.left, (1024 - (shown.window_rect.right - shown.window_rect.left)) >> 1);
    }
  }
}

// The driver opened directly over a window-less screen, with arguments the mode
// statements never give: a title longer than the class name takes, the OpenGL flag.
TEST_F(DriverTest, DirectOpensCutLongTitlesInTheClassNameAndRefuseOpenGL) {
  ASSERT_EQ(zv::setScreenMode(18, 8, 0, -1, 0), 0);
  const zv::WindowDriver& gdi = zv::gdiWindowDriver();
  EXPECT_NE(gdi.open("gl", 640, 480, 16, 0, 0x02), 0);
  gdi.close();
  EXPECT_TRUE(vdesk::windows().empty());

  const std::string title(200, 'T');
  ASSERT_EQ(gdi.open(title.c_str(), 640, 480, 8, 0, 0), 0);
  const vdesk::WindowInfo window = info(theWindow());
  EXPECT_EQ(window.title, title);
  EXPECT_EQ(window.class_name, "zvgfxclass_" + title.substr(0, 128));
  gdi.close();
  EXPECT_TRUE(vdesk::windows().empty());
}

bool coversTheScreen(const vdesk::WindowInfo& window) {
  return window.window_rect.left == 0 && window.window_rect.top == 0 &&
         window.window_rect.right == 640 && window.window_rect.bottom == 480;
}

TEST_F(DriverTest, AltEnterSwitchesToFullScreenAndBack) {
  vdesk::setDisplayModes({{640, 480, 8, 60}, {640, 480, 32, 60}, {1024, 768, 32, 60}});
  openMode(18);
  HWND windowed = theWindow();
  // A changed palette entry must come along into the new window.
  zv::paletteStatement(1, 0x3F2010, -1, -1);
  drawPattern(7);
  ASSERT_TRUE(pictureShown(windowed));

  EXPECT_TRUE(zvtest::pressAltEnter(640));
  EXPECT_EQ(vdesk::currentDisplayMode().height, 480);
  HWND full = nullptr;
  ASSERT_TRUE(waitFor([&] {
    const auto windows = vdesk::windows();
    // The new window may reuse the old handle: it is known by its place and style.
    if (windows.size() != 1 || !coversTheScreen(windows[0]) || !(windows[0].style & WS_POPUP)) return false;
    full = windows[0].window;
    return true;
  }));
  EXPECT_TRUE(pictureShown(full));
  EXPECT_GE(vdesk::presentedLines(full), 480u);
  // Keys reach the new window.
  vdesk::requestClose(full);
  EXPECT_EQ(drainInput().keys, std::vector<int32_t>{27647});
  EXPECT_EQ(zv::currentScreen()->driver->moveWindow(10, 10), 0);
  EXPECT_TRUE(coversTheScreen(info(full)));

  EXPECT_TRUE(zvtest::pressAltEnter(1024));
  ASSERT_TRUE(waitFor([&] {
    const auto windows = vdesk::windows();
    return windows.size() == 1 && (windows[0].style & WS_CAPTION) == WS_CAPTION;
  }));
  EXPECT_TRUE(pictureShown(theWindow()));

  // Maximising the window switches as well.
  ASSERT_TRUE(PostMessageA(theWindow(), WM_SIZE, SIZE_MAXIMIZED, MAKELPARAM(1024, 768)));
  ASSERT_TRUE(waitFor([] { return vdesk::currentDisplayMode().width == 640; }));
  ASSERT_TRUE(waitFor([] {
    const auto windows = vdesk::windows();
    return windows.size() == 1 && coversTheScreen(windows[0]);
  }));
  EXPECT_TRUE(pictureShown(theWindow()));
}

TEST_F(DriverTest, TheNoSwitchFlagKeepsTheWindowAndPostsOnlyTheLeave) {
  vdesk::setDisplayModes({{640, 480, 8, 60}, {1024, 768, 32, 60}});
  openMode(18, 8, 0x04);
  HWND window = theWindow();
  const RECT client = info(window).client_rect;
  vdesk::mouseMove(client.left + 5, client.top + 5);
  EXPECT_EQ(eventTypes(drainInput().events), std::vector<int32_t>{9});
  zvtest::pressAltEnter();
  const Input input = drainInput();
  EXPECT_EQ(eventTypes(input.events), std::vector<int32_t>{10});
  EXPECT_TRUE(input.keys.empty());
  EXPECT_EQ(theWindow(), window);
  EXPECT_EQ(vdesk::currentDisplayMode().width, 1024);
}

TEST_F(DriverTest, FullScreenRequestOpensInTheDisplayMode) {
  // A display reporting a rate of 1 means its hardware default: no rate to wait by.
  for (int32_t frequency : {75, 1}) {
    vdesk::setDisplayModes({{640, 480, 8, frequency}, {1024, 768, 32, 60}});
    openMode(18, 8, 0x01);
    EXPECT_EQ(vdesk::currentDisplayMode().width, 640);
    EXPECT_TRUE(coversTheScreen(info(theWindow())));
    EXPECT_EQ(zv::currentScreen()->refresh_rate, frequency > 1 ? frequency : 0);
    zv::closeScreenAtExit();
    EXPECT_EQ(vdesk::currentDisplayMode().width, 1024);
    EXPECT_TRUE(vdesk::windows().empty());
  }
}

TEST_F(DriverTest, MissingOptionalEntryPointsHaveTheirFallbacks) {
  vdesk::setDisplayModes({{640, 480, 8, 60}, {1024, 768, 32, 60}});
  for (const char* name : {"MonitorFromPoint", "GetMonitorInfoA", "ChangeDisplaySettingsExA"}) {
    SCOPED_TRACE(name);
    vdesk::hideExport("USER32", name, true);
    openMode(18, 8, 0x01);
    EXPECT_EQ(vdesk::currentDisplayMode().width, 640);
    EXPECT_TRUE(coversTheScreen(info(theWindow())));
    openMode(18);
    EXPECT_EQ(vdesk::currentDisplayMode().width, 1024);
    const RECT outer = info(theWindow()).window_rect;
    EXPECT_EQ(outer.left, (1024 - (outer.right - outer.left)) >> 1);
    EXPECT_EQ(outer.top, (768 - (outer.bottom - outer.top)) >> 1);
    vdesk::hideExport("USER32", name, false);
  }
}

TEST_F(DriverTest, ModeListJoinsNeighbouringDepths) {
  vdesk::setDisplayModes({{640, 480, 15, 60}, {800, 600, 16, 60}, {800, 600, 16, 75},
                          {1024, 768, 24, 60}, {1280, 1024, 32, 60}, {320, 200, 8, 70}});
  struct Expectation {
    int32_t depth;
    std::vector<int32_t> modes;
  };
  const Expectation expectations[] = {
      {16, {640 * 65536 + 480, 800 * 65536 + 600, 800 * 65536 + 600}},
      {15, {640 * 65536 + 480, 800 * 65536 + 600, 800 * 65536 + 600}},
      {32, {1024 * 65536 + 768, 1280 * 65536 + 1024}},
      {8, {320 * 65536 + 200}},
      {4, {}},
  };
  for (const Expectation& e : expectations) {
    int32_t count = -1;
    int32_t* modes = zv::gdiWindowDriver().listModes(e.depth, &count);
    EXPECT_EQ(std::vector<int32_t>(modes, modes + count), e.modes) << "depth " << e.depth;
    EXPECT_EQ(modes == nullptr, e.modes.empty());
    std::free(modes);
  }
}

// Opens that fail for want of what the driver needs: a window, the colour key of a
// shaped window, a desktop.
TEST_F(DriverTest, FailedOpensLeaveNothingBehind) {
  expectFailedOpens(
      {
          {"window creation refused", 0, [](bool on) { vdesk::refuseWindowCreation(on); }},
          {"no SetLayeredWindowAttributes", 0x10,
           [](bool on) { vdesk::hideExport("USER32", "SetLayeredWindowAttributes", on); }},
          {"no desktop", 0, [](bool on) { on ? vdesk::disable() : vdesk::enable(1024, 768, 32); }},
      },
      64, 16, 8);
}

TEST_F(DriverTest, RefusedDisplayChangeFallsBackToAWindow) {
  vdesk::setDisplayModes({{640, 480, 8, 60}, {1024, 768, 32, 60}});
  vdesk::refuseDisplayChange(true);
  openMode(18, 8, 0x01);
  vdesk::refuseDisplayChange(false);
  const vdesk::WindowInfo window = info(theWindow());
  EXPECT_EQ(window.style & WS_CAPTION, static_cast<DWORD>(WS_CAPTION));
  EXPECT_EQ(vdesk::currentDisplayMode().width, 1024);
  // The window was made by the fallback pass, so moving it is possible.
  EXPECT_NE(zv::currentScreen()->driver->moveWindow(INT32_MIN, INT32_MIN), 0);
}

}  // namespace
}  // namespace zvtest::drivers
