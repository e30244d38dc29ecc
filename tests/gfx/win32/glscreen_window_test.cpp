// glscreen, the program that draws its screen with OpenGL, started as a child process
// on Windows: its window must show the framebuffer's page pixel for pixel, and Escape
// typed into it or a close request posted to it must end it with status 0. Only
// Win32 calls: the window is the child's visible one, its pixels come from its device
// context, the key goes in by SendInput.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/gfx/win32/child_program.h"
#include "tests/gfx/win32/typing.h"
#include "tests/gfx/win32/window_access.h"
#include "tests/support/glscreen_picture.h"

namespace zvtest {
namespace {

struct Ending {
  const char* name;
  void (*end)(HWND window);
};

class GlScreenWindowTest : public ::testing::TestWithParam<Ending> {};

TEST_P(GlScreenWindowTest, ShowsTheFramebufferAndEnds) {
  const std::vector<uint32_t> expected = zv::test::glscreenPicture();
  Child program(std::string("\"") + ZV_GLSCREEN_BINARY + "\"");
  ASSERT_TRUE(program.started()) << "cannot start " << ZV_GLSCREEN_BINARY << ": error " << GetLastError();
  HWND window = nullptr;
  ASSERT_TRUE(waitFor([&] { return (window = program.window()) != nullptr; }));
  int32_t width = 0, height = 0;
  std::vector<uint32_t> shown;
  // The first frames may not have reached the window yet.
  waitFor([&] { return (shown = clientPixels(window, &width, &height)) == expected; });
  EXPECT_EQ(width, glscreen::WIDTH);
  EXPECT_EQ(height, glscreen::HEIGHT);
  EXPECT_TRUE(shown == expected) << "the window does not show the framebuffer";
  GetParam().end(window);
  EXPECT_EQ(program.exitStatus(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    GlScreen, GlScreenWindowTest,
    ::testing::Values(Ending{"Escape",
                             [](HWND window) {
                               waitFor([&] {
                                 if (GetForegroundWindow() != window) SetForegroundWindow(window);
                                 return GetForegroundWindow() == window;
                               });
                               sendKey(VK_ESCAPE, 1, true);
                               sendKey(VK_ESCAPE, 1, false);
                             }},
                      Ending{"CloseRequest", [](HWND window) { PostMessageA(window, WM_CLOSE, 0, 0); }}),
    [](const ::testing::TestParamInfo<Ending>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zvtest
