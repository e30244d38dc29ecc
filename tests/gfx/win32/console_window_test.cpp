// The calculator started as a desktop starts it, with a console made for it alone or
// with none: once its graphics window shows, no console window stands beside it, and
// a close request still ends the run with status 0. Only Win32 calls: console windows
// are the visible top-level windows of the console's window class.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <set>
#include <string>

#include "tests/gfx/win32/child_program.h"
#include "tests/gfx/win32/typing.h"

namespace zvtest {
namespace {

// The visible console windows on the desktop (Windows' and Wine's class names).
std::set<HWND> consoleWindows() {
  std::set<HWND> found;
  EnumWindows(
      [](HWND candidate, LPARAM context) -> BOOL {
        char name[64] = "";
        GetClassNameA(candidate, name, sizeof name);
        const bool console = std::strcmp(name, "ConsoleWindowClass") == 0 || std::strcmp(name, "WineConsoleClass") == 0;
        if (console && IsWindowVisible(candidate)) reinterpret_cast<std::set<HWND>*>(context)->insert(candidate);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

struct Start {
  const char* name;
  DWORD creation_flags;
};

class ConsoleWindowTest : public ::testing::TestWithParam<Start> {};

TEST_P(ConsoleWindowTest, OnlyTheGraphicsWindowShows) {
  const std::set<HWND> before = consoleWindows();
  Child program(std::string("\"") + ZV_INVAR_BINARY + "\"", GetParam().creation_flags);
  ASSERT_TRUE(program.started()) << "cannot start " << ZV_INVAR_BINARY << ": error " << GetLastError();
  HWND window = nullptr;
  ASSERT_TRUE(waitFor([&] { return (window = program.window()) != nullptr; })) << "no graphics window";
  EXPECT_TRUE(waitFor([&] { return consoleWindows() == before; })) << "a console window stands beside the window";
  EXPECT_TRUE(IsWindowVisible(window));
  PostMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(program.exitStatus(), 0);
}

INSTANTIATE_TEST_SUITE_P(Desktop, ConsoleWindowTest,
                         ::testing::Values(Start{"NewConsole", CREATE_NEW_CONSOLE},
                                           Start{"NoConsole", DETACHED_PROCESS}),
                         [](const ::testing::TestParamInfo<Start>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zvtest
