// glscreen, the program that draws its screen with OpenGL, started as a child process
// on Windows: its window must show the framebuffer's page pixel for pixel, and Escape
// typed into it or a close request posted to it must end it with status 0. Only
// Win32 calls: the window is the child's visible one, its pixels come from its device
// context, the key goes in by SendInput.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/gfx/win32/typing.h"
#include "tests/gfx/win32/window_access.h"
#include "tests/support/glscreen_picture.h"

namespace zvtest {
namespace {

// The program as a child; ended by force if the test leaves it running.
class Child {
 public:
  explicit Child(std::string command) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    started_ = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info_);
  }
  ~Child() {
    if (!started_) return;
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info_.hProcess, 2);
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
  }
  bool started() const { return started_; }
  HWND window() const { return programWindow(info_.dwProcessId); }
  // The exit status, or -1 when the program has not ended within half a minute.
  long exitStatus() const {
    DWORD status = 0;
    if (WaitForSingleObject(info_.hProcess, 30000) != WAIT_OBJECT_0 || !GetExitCodeProcess(info_.hProcess, &status))
      return -1;
    return static_cast<long>(status);
  }

 private:
  PROCESS_INFORMATION info_{};
  bool started_ = false;
};

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
