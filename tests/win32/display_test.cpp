// Screen services of the Win32 layer: display modes (change, refusal, restore,
// enumeration), system metrics, the monitor, the screen saver, and the record
// layouts the drivers rely on.
#include "tests/win32/win32_test_support.h"

#include <cstring>

namespace zv::win32test {
namespace {

static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(DEVMODEA) == 156);
static_assert(offsetof(DEVMODEA, dmBitsPerPel) == 104);
static_assert(offsetof(DEVMODEA, dmDisplayFrequency) == 120);
static_assert(sizeof(MONITORINFOEXA) == 72);
static_assert(sizeof(TRACKMOUSEEVENT) == 24);
static_assert(sizeof(OSVERSIONINFOA) == 148);
static_assert(sizeof(PALETTEENTRY) == 4 && sizeof(RGBQUAD) == 4);
static_assert(sizeof(INPUT) == 40 && sizeof(MSG) == 48 && sizeof(CRITICAL_SECTION) == 40);

DEVMODEA modeRecord(DWORD width, DWORD height, DWORD bits, DWORD frequency) {
  DEVMODEA mode;
  std::memset(&mode, 0, sizeof mode);
  mode.dmSize = sizeof mode;
  mode.dmPelsWidth = width;
  mode.dmPelsHeight = height;
  mode.dmBitsPerPel = bits;
  mode.dmDisplayFrequency = frequency;
  mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFREQUENCY;
  return mode;
}

using Display = Win32Test;

TEST_F(Display, ListedModesAreEnumeratedInOrderThenTheListEnds) {
  const std::vector<zv::vdesk::DisplayMode> modes = {{640, 480, 8, 60}, {640, 480, 32, 60}, {800, 600, 16, 75}};
  zv::vdesk::setDisplayModes(modes);
  DEVMODEA mode;
  for (DWORD i = 0; i < modes.size(); ++i) {
    mode.dmSize = sizeof mode;
    ASSERT_TRUE(EnumDisplaySettingsA(nullptr, i, &mode));
    EXPECT_EQ(static_cast<int32_t>(mode.dmPelsWidth), modes[i].width);
    EXPECT_EQ(static_cast<int32_t>(mode.dmPelsHeight), modes[i].height);
    EXPECT_EQ(static_cast<int32_t>(mode.dmBitsPerPel), modes[i].bits);
    EXPECT_EQ(static_cast<int32_t>(mode.dmDisplayFrequency), modes[i].frequency);
    EXPECT_EQ(mode.dmSize, sizeof mode);
  }
  EXPECT_FALSE(EnumDisplaySettingsA(nullptr, 3, &mode));
  ASSERT_TRUE(EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode));
  EXPECT_EQ(mode.dmPelsWidth, 1024u);
  EXPECT_EQ(mode.dmBitsPerPel, 32u);
}

TEST_F(Display, AListedModeBecomesCurrentAndARestoreReturnsToTheDesktopMode) {
  HWND window = makeWindow();
  zv::vdesk::setDisplayModes({{640, 480, 32, 60}, {800, 600, 32, 60}});
  DEVMODEA mode = modeRecord(640, 480, 32, 60);
  EXPECT_EQ(ChangeDisplaySettingsA(&mode, CDS_TEST), DISP_CHANGE_SUCCESSFUL);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);  // a test changes nothing
  EXPECT_EQ(ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN), DISP_CHANGE_SUCCESSFUL);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 640);
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 480);
  EXPECT_EQ(zv::vdesk::currentDisplayMode().width, 640);
  bool announced = false;
  for (const MSG& m : takeMessages()) {
    if (m.message == WM_DISPLAYCHANGE && m.hwnd == window) {
      announced = m.wParam == 32 && LOWORD(m.lParam) == 640 && HIWORD(m.lParam) == 480;
    }
  }
  EXPECT_TRUE(announced);

  DEVMODEA unlisted = modeRecord(320, 200, 8, 60);
  EXPECT_EQ(ChangeDisplaySettingsA(&unlisted, CDS_FULLSCREEN), DISP_CHANGE_BADMODE);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 640);
  DEVMODEA other_rate = modeRecord(800, 600, 32, 85);
  EXPECT_EQ(ChangeDisplaySettingsA(&other_rate, CDS_FULLSCREEN), DISP_CHANGE_BADMODE);

  EXPECT_EQ(ChangeDisplaySettingsA(nullptr, 0), DISP_CHANGE_SUCCESSFUL);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
  DEVMODEA registry;
  registry.dmSize = sizeof registry;
  ASSERT_TRUE(EnumDisplaySettingsA(nullptr, ENUM_REGISTRY_SETTINGS, &registry));
  EXPECT_EQ(registry.dmPelsHeight, 768u);
}

TEST_F(Display, ARefusedChangeFailsAndKeepsTheMode) {
  zv::vdesk::setDisplayModes({{640, 480, 32, 60}});
  zv::vdesk::refuseDisplayChange(true);
  DEVMODEA mode = modeRecord(640, 480, 32, 60);
  EXPECT_EQ(ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN), DISP_CHANGE_FAILED);
  auto change_ex = reinterpret_cast<LONG (*)(LPCSTR, DEVMODEA*, HWND, DWORD, LPVOID)>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("USER32"), "ChangeDisplaySettingsExA")));
  ASSERT_NE(change_ex, nullptr);
  EXPECT_EQ(change_ex("\\\\.\\DISPLAY1", &mode, nullptr, CDS_FULLSCREEN, nullptr), DISP_CHANGE_FAILED);
  EXPECT_EQ(zv::vdesk::currentDisplayMode().width, 1024);
  zv::vdesk::refuseDisplayChange(false);
  EXPECT_EQ(change_ex("\\\\.\\DISPLAY1", &mode, nullptr, CDS_FULLSCREEN, nullptr), DISP_CHANGE_SUCCESSFUL);
  EXPECT_EQ(change_ex("\\\\.\\DISPLAY7", &mode, nullptr, CDS_FULLSCREEN, nullptr), DISP_CHANGE_BADPARAM);
  EXPECT_EQ(zv::vdesk::currentDisplayMode().width, 640);
}

TEST_F(Display, TheMonitorCoversTheScreen) {
  HWND window = makeWindow();
  HMONITOR monitor = MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST);
  ASSERT_NE(monitor, nullptr);
  EXPECT_EQ(MonitorFromPoint(POINT{5000, 5000}, MONITOR_DEFAULTTONEAREST), monitor);
  EXPECT_EQ(MonitorFromPoint(POINT{5000, 5000}, MONITOR_DEFAULTTONULL), nullptr);
  MONITORINFOEXA info;
  std::memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  ASSERT_TRUE(GetMonitorInfoA(monitor, &info));
  EXPECT_EQ(info.rcMonitor.right, 1024);
  EXPECT_EQ(info.rcMonitor.bottom, 768);
  EXPECT_EQ(info.dwFlags, static_cast<DWORD>(MONITORINFOF_PRIMARY));
  EXPECT_STREQ(info.szDevice, "\\\\.\\DISPLAY1");
  info.cbSize = 12;
  EXPECT_FALSE(GetMonitorInfoA(monitor, &info));
}

TEST_F(Display, TheScreenSaverSettingIsKept) {
  BOOL active = FALSE;
  ASSERT_TRUE(SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &active, 0));
  EXPECT_TRUE(active);
  EXPECT_TRUE(SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, FALSE, nullptr, 0));
  EXPECT_FALSE(zv::vdesk::screenSaverActive());
  SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &active, 0);
  EXPECT_FALSE(active);
}

TEST_F(Display, AdjustWindowRectGivesTheFrameOfTheStyle) {
  struct Row {
    DWORD style;
    RECT outer;
  };
  const Row rows[] = {
      {WS_POPUP, {0, 0, 640, 480}},
      {WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, {-3, -22, 643, 483}},
      {WS_OVERLAPPEDWINDOW, {-4, -23, 644, 484}},
  };
  for (const Row& row : rows) {
    RECT r{0, 0, 640, 480};
    ASSERT_TRUE(AdjustWindowRect(&r, row.style, FALSE));
    EXPECT_EQ(r.left, row.outer.left);
    EXPECT_EQ(r.top, row.outer.top);
    EXPECT_EQ(r.right, row.outer.right);
    EXPECT_EQ(r.bottom, row.outer.bottom);
    // A window of that outer size has the asked-for client area.
    HWND window = CreateWindowExA(0, kClassName, "", row.style, 0, 0, r.right - r.left, r.bottom - r.top, nullptr,
                                  nullptr, nullptr, nullptr);
    RECT client;
    ASSERT_TRUE(GetClientRect(window, &client));
    EXPECT_EQ(client.right, 640);
    EXPECT_EQ(client.bottom, 480);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    EXPECT_EQ(origin.x, -r.left);
    EXPECT_EQ(origin.y, -r.top);
    DestroyWindow(window);
  }
}

}  // namespace
}  // namespace zv::win32test
