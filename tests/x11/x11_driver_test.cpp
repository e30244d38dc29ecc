// The GDI and OpenGL drivers on the X11 backend, in this process, against an Xvfb of its own: what
// a window manager, the pointer, the desktop's panels and the screen saver do reaches
// the screen as on Windows. Keys and pointer come through XTEST (xdotool), the close
// request as a window manager sends it. Skipped only where Xvfb or xdotool is missing.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "gfx/screen_mode.h"
#include "gfx/win32/window.h"
#include "tests/gfx/win32/driver_test_support.h"
#include "tests/support/x11_client.h"
#include "tests/support/xvfb.h"

namespace {

using namespace zvtest::drivers;
using zv::test::Client;

constexpr char kTitle[] = "x11test";
constexpr int32_t KEY_CLOSE_REQUEST = 27647;

// The server outlives every test: the layer keeps its connection to the end of the
// process, and a server gone before it would end the process as a lost display does.
zv::test::Xvfb* g_server = nullptr;
int g_initial_saver_timeout = -1;

class X11Driver : public zvtest::DriverListTest {
 protected:
  static void SetUpTestSuite() {
    if (g_server || !zv::test::onPath("Xvfb") || !zv::test::onPath("xdotool")) return;
    g_server = new zv::test::Xvfb;
    // The layer opens the display at its first use, which comes after this.
    if (g_server->ready()) setenv("DISPLAY", g_server->display().c_str(), 1);
    Client client(g_server->display());
    g_initial_saver_timeout = client.screenSaverTimeout();
  }

  void SetUp() override {
    if (!g_server) GTEST_SKIP() << "Xvfb or xdotool is not installed (apt-get install xvfb xdotool)";
    ASSERT_TRUE(g_server->ready()) << "Xvfb did not report a display";
    client_ = std::make_unique<Client>(g_server->display(), false);
    ASSERT_TRUE(client_->connected());
    DriverListTest::SetUp();
    list_[0] = &zv::gdiWindowDriver();
    zv::setWindowTitle(kTitle, sizeof kTitle - 1);
    zv::inputState().hwheel = 0;
    // The pointer starts outside the window, so that the window sees it come in.
    ASSERT_TRUE(xdotool({"mousemove", "3", "3"}));
    ASSERT_EQ(zv::setScreenSize(640, 480, 8, 1, 0, 0), 0);
    ASSERT_TRUE(waitFor([&] { return (window_ = client_->find(kTitle)) != 0; })) << "no window titled " << kTitle;
    ASSERT_TRUE(waitFor([&] {
      if (client_->focused() == window_) return true;
      xdotool({"windowfocus", std::to_string(window_)});
      return client_->focused() == window_;
    }));
    drain();
  }

  bool xdotool(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "xdotool");
    return zv::test::runTool(g_server->display(), arguments);
  }

  Input drain() {
    return drainInput([&] { xdotool({"key", "F12"}); });
  }

  std::unique_ptr<Client> client_;
  ::Window window_ = 0;
};

// The window manager's close button: the close request's key code and event, and the
// window stays.
TEST_F(X11Driver, CloseRequestPushesItsKeyAndEventAndTheWindowStays) {
  client_->sendDelete(window_);
  const Input input = drain();
  EXPECT_EQ(input.keys, std::vector<int32_t>{KEY_CLOSE_REQUEST});
  EXPECT_EQ(eventTypes(input.events), std::vector<int32_t>{zv::EVENT_CLOSE_REQUEST});
  EXPECT_EQ(client_->find(kTitle), window_);
  EXPECT_NE(zv::currentScreen(), nullptr);
}

// The title in UTF-8 (from Windows-1252) and in Latin-1, the class icon as a 32 x 32
// picture for the taskbar.
TEST_F(X11Driver, WindowCarriesItsTitleAndIcon) {
  ASSERT_TRUE(SetWindowTextA(zv::windowState().window, "L\xf6sung \x80"));
  ASSERT_TRUE(waitFor([&] { return client_->property(window_, "_NET_WM_NAME").size() == 11; }));
  const std::vector<long> utf8 = client_->property(window_, "_NET_WM_NAME");
  EXPECT_EQ(std::string(utf8.begin(), utf8.end()), "L\xc3\xb6sung \xe2\x82\xac");
  const std::vector<long> latin1 = client_->property(window_, "WM_NAME");
  EXPECT_EQ(std::string(latin1.begin(), latin1.end()), "L\xf6sung ?");
  const std::vector<long> icon = client_->property(window_, "_NET_WM_ICON");
  ASSERT_EQ(icon.size(), 2u + 32 * 32);
  EXPECT_EQ(icon[0], 32);
  EXPECT_EQ(icon[1], 32);
  EXPECT_EQ(static_cast<uint32_t>(icon[2 + 16 * 32 + 16]), 0xFFFFFFFFu) << "the middle of the icon";
}

// Pointer motion, the three buttons, the two extra ones and both wheels (X buttons 1 to
// 9), each as the event the window procedure makes of its message.
TEST_F(X11Driver, PointerActionsArriveAsMouseEvents) {
  struct Step {
    std::vector<std::string> xdotool;
    std::vector<EventRecord> events;
  };
  const std::string window = std::to_string(window_);
  const Step steps[] = {
      {{"mousemove", "--window", window, "100", "50"}, {{zv::EVENT_MOUSE_ENTER, 0, 0}}},
      {{"mousemove_relative", "10", "5"}, {{zv::EVENT_MOUSE_MOVE, 110, 55}}},
      {{"click", "1"}, {{zv::EVENT_BUTTON_DOWN, 1, 0}, {zv::EVENT_BUTTON_UP, 1, 0}}},
      {{"click", "3"}, {{zv::EVENT_BUTTON_DOWN, 2, 0}, {zv::EVENT_BUTTON_UP, 2, 0}}},
      {{"click", "2"}, {{zv::EVENT_BUTTON_DOWN, 4, 0}, {zv::EVENT_BUTTON_UP, 4, 0}}},
      {{"click", "8"}, {{zv::EVENT_BUTTON_DOWN, 8, 0}, {zv::EVENT_BUTTON_UP, 8, 0}}},
      {{"click", "9"}, {{zv::EVENT_BUTTON_DOWN, 16, 0}, {zv::EVENT_BUTTON_UP, 16, 0}}},
      {{"click", "4"}, {{zv::EVENT_WHEEL, 1, 0}}},
      {{"click", "5"}, {{zv::EVENT_WHEEL, 0, 0}}},
      {{"click", "7"}, {{zv::EVENT_HORIZONTAL_WHEEL, 1, 0}}},
      {{"click", "6"}, {{zv::EVENT_HORIZONTAL_WHEEL, 0, 0}}},
      {{"mousemove", "5", "5"}, {{zv::EVENT_MOUSE_LEAVE, 0, 0}}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.xdotool[0] + " " + step.xdotool[1]);
    ASSERT_TRUE(xdotool(step.xdotool));
    EXPECT_EQ(drain().events, step.events);
  }
}

// The OpenGL driver's 640 x 480 full screen on the 1280 x 1024 server: the frame the
// program draws (black with one white pixel at (10, 10)) shows scaled by two and
// centred, 32 lines above and below, and the pointer over that pixel's block reads
// as (10, 10).
TEST_F(X11Driver, OpenGlFullScreenIsScaledAndCentredAsThePointerIs) {
  list_[0] = &zv::openGlWindowDriver();
  ASSERT_EQ(zv::setScreenSize(640, 480, 32, 1, zv::SCREEN_FLAG_OPENGL | zv::SCREEN_FLAG_FULL_SCREEN, 0), 0);
  HMODULE gl = LoadLibraryA("opengl32.dll");
  ASSERT_NE(gl, nullptr);
  const auto function = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(gl, name)); };
  const auto clearColor = reinterpret_cast<void (*)(float, float, float, float)>(function("glClearColor"));
  const auto clear = reinterpret_cast<void (*)(unsigned)>(function("glClear"));
  const auto enable = reinterpret_cast<void (*)(unsigned)>(function("glEnable"));
  const auto disable = reinterpret_cast<void (*)(unsigned)>(function("glDisable"));
  const auto scissor = reinterpret_cast<void (*)(int, int, int, int)>(function("glScissor"));
  ASSERT_TRUE(clearColor && clear && enable && disable && scissor);
  constexpr unsigned kColourBuffer = 0x4000, kScissorTest = 0x0C11;
  const zv::WindowDriver* driver = zv::currentScreen()->driver;
  const auto drawFrame = [&] {
    clearColor(0, 0, 0, 1);
    clear(kColourBuffer);
    enable(kScissorTest);
    scissor(10, 480 - 11, 1, 1);  // OpenGL counts rows from the bottom
    clearColor(1, 1, 1, 1);
    clear(kColourBuffer);
    disable(kScissorTest);
    driver->present();
    driver->pumpEvents();
  };
  // White exactly on the block of (10, 10): x 20-21, y 32 + 20-21.
  const auto scaledAndCentred = [&] {
    int width = 0, height = 0;
    const std::vector<uint8_t> rgb = client_->capture(client_->find(kTitle), &width, &height);
    if (width != 1280 || height != 1024 || rgb.empty()) return false;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
        const uint8_t v = x >= 20 && x < 22 && y >= 52 && y < 54 ? 0xFF : 0;
        if (p[0] != v || p[1] != v || p[2] != v) return false;
      }
    }
    return true;
  };
  EXPECT_TRUE(waitFor([&] {
    drawFrame();
    return scaledAndCentred();
  })) << "the full screen does not show the frame scaled by two and centred";
  ASSERT_TRUE(xdotool({"mousemove", "21", "53"}));
  EventRecord last{};
  EXPECT_TRUE(waitFor([&] {
    driver->pumpEvents();
    for (const zv::ScreenEvent& e : takeEvents())
      if (e.type == zv::EVENT_MOUSE_MOVE) last = {e.type, e.data[0], e.data[1]};
    return last == EventRecord{zv::EVENT_MOUSE_MOVE, 10, 10};
  })) << "the pointer reads as " << last;
  FreeLibrary(gl);
}

// A clip rectangle holds the pointer inside the window; without one it goes anywhere,
// and SetCursorPos puts it where the program says.
TEST_F(X11Driver, ClipCursorConfinesThePointerToTheWindow) {
  const RECT client_area = zv::clientRectOnScreen(zv::windowState().window);
  ASSERT_TRUE(ClipCursor(&client_area));
  ASSERT_TRUE(xdotool({"mousemove", "3", "3"}));
  int x = -1, y = -1;
  ASSERT_TRUE(client_->pointer(&x, &y));
  EXPECT_TRUE(x >= client_area.left && x < client_area.right && y >= client_area.top && y < client_area.bottom)
      << "pointer at " << x << ", " << y;
  ASSERT_TRUE(ClipCursor(nullptr));
  ASSERT_TRUE(xdotool({"mousemove", "3", "3"}));
  ASSERT_TRUE(client_->pointer(&x, &y));
  EXPECT_EQ(x, 3);
  EXPECT_EQ(y, 3);
  // The program moves the pointer itself.
  ASSERT_TRUE(SetCursorPos(200, 100));
  ASSERT_TRUE(waitFor([&] { return client_->pointer(&x, &y) && x == 200 && y == 100; })) << x << ", " << y;
}

// The screen saver is off while the screen is open and comes back as it was.
TEST_F(X11Driver, ScreenSaverIsOffWhileTheScreenIsOpen) {
  ASSERT_GT(g_initial_saver_timeout, 0) << "the server starts with its screen saver off";
  EXPECT_EQ(client_->screenSaverTimeout(), 0);
  zv::closeScreenAtExit();
  EXPECT_EQ(client_->screenSaverTimeout(), g_initial_saver_timeout);
}

// The desktop's panels: the work area the window manager announces, whole screen
// without one.
TEST_F(X11Driver, WorkAreaIsWhatTheDesktopLeavesFree) {
  RECT area{};
  ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0));
  EXPECT_EQ(area.right - area.left, 1280);
  EXPECT_EQ(area.bottom - area.top, 1024);
  client_->setWorkArea(0, 24, 1280, 1000);
  ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0));
  EXPECT_EQ(area.top, 24);
  EXPECT_EQ(area.bottom, 1024);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  ASSERT_TRUE(GetMonitorInfoA(MonitorFromWindow(zv::windowState().window, MONITOR_DEFAULTTONEAREST), &info));
  EXPECT_EQ(info.rcWork.top, 24);
  EXPECT_EQ(info.rcMonitor.top, 0);
  client_->setWorkArea(0, 0, 1280, 1024);
}

}  // namespace
