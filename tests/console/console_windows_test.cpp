// The console backend on the Windows console. Key events as it reads them: synthetic
// KEY_EVENT_RECORDs in, the key codes the program reads out (the translation rules
// themselves are the window drivers' and are tested there; these cases cover what
// the console adds: releases, lone modifiers, Unicode characters taken to code page
// 437 and the control-key state's extra bits that must not matter). Then the
// backend on a console of the test's own: what it prints is read back from the
// console's cells.
#include "console/console_windows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/console.h"
#include "runtime/hooks.h"
#include "runtime/runtime.h"
#include "runtime/strings.h"

namespace zv {
namespace {

KEY_EVENT_RECORD key(WORD virtual_key, WORD scan, wchar_t character, DWORD state, bool down = true) {
  KEY_EVENT_RECORD k{};
  k.bKeyDown = down ? TRUE : FALSE;
  k.wRepeatCount = 1;
  k.wVirtualKeyCode = virtual_key;
  k.wVirtualScanCode = scan;
  k.uChar.UnicodeChar = character;
  k.dwControlKeyState = state;
  return k;
}

TEST(ConsoleKeys, KeyEventsBecomeTheProgramsKeyCodes) {
  struct Case {
    const char* what;
    KEY_EVENT_RECORD event;
    int32_t expected;
  };
  const Case cases[] = {
      {"a", key('A', 0x1E, L'a', 0), 'a'},
      {"Shift+a", key('A', 0x1E, L'A', SHIFT_PRESSED), 'A'},
      {"a with Num Lock and Caps Lock on", key('A', 0x1E, L'A', NUMLOCK_ON | CAPSLOCK_ON), 'A'},
      {"Enter", key(VK_RETURN, 0x1C, L'\r', 0), 13},
      {"keypad Enter", key(VK_RETURN, 0x1C, L'\r', ENHANCED_KEY), 13},
      {"Escape", key(VK_ESCAPE, 0x01, 0x1B, 0), 27},
      {"Left", key(VK_LEFT, 0x4B, 0, ENHANCED_KEY), 0x4BFF},
      {"Ctrl+Left", key(VK_LEFT, 0x4B, 0, ENHANCED_KEY | LEFT_CTRL_PRESSED), 0x73FF},
      {"F1", key(VK_F1, 0x3B, 0, 0), 0x3BFF},
      {"Alt+F4", key(VK_F4, 0x3E, 0, LEFT_ALT_PRESSED), 0x6BFF},
      {"o umlaut of a German layout", key(VK_OEM_3, 0x27, L'\x00F6', 0), 0x94},
      {"a character code page 437 lacks", key(VK_OEM_3, 0x27, L'\x20AC', 0), -1},
      {"a key release", key('A', 0x1E, L'a', 0, false), -1},
      {"Shift alone", key(VK_SHIFT, 0x2A, 0, SHIFT_PRESSED), -1},
      // As Wine's console on a terminal gives them: Escape without its character,
      // Home and End (ESC [ H, ESC O F) without the extended bit, a sequence it
      // does not know (ESC [ 1 ~) as a key without virtual key, scan or character.
      {"Escape without its character", key(VK_ESCAPE, 0x01, 0, 0), 27},
      {"Home not marked extended", key(VK_HOME, 0x47, 0, 0), 0x47FF},
      {"End not marked extended", key(VK_END, 0x4F, 0, 0), 0x4FFF},
      {"Alt+Escape", key(VK_ESCAPE, 0x01, 0, LEFT_ALT_PRESSED), -1},
      {"a key without name", key(0, 0, 0, 0), -1},
  };
  for (const Case& c : cases) EXPECT_EQ(console_key_code(c.event), c.expected) << c.what;
}

// A console of the test's own, made once in place of the process's, with standard
// output and input pointed at it during each test. (It is kept to the end: under
// Wine, giving it up again cuts the test program off its own standard output.) Wine
// makes a working console only with a display, which the Windows suite has;
// elsewhere the tests are skipped.
class OwnConsole : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_out_ = GetStdHandle(STD_OUTPUT_HANDLE);
    saved_in_ = GetStdHandle(STD_INPUT_HANDLE);
    static const bool made = (FreeConsole(), AllocConsole() != 0);
    if (!made) GTEST_SKIP() << "no console could be made";
    out_ = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
    in_ = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, 0, nullptr);
    DWORD mode = 0;
    if (!GetConsoleMode(out_, &mode) || !GetConsoleMode(in_, &mode))
      GTEST_SKIP() << "the console made has no screen (Wine without a display)";
    SetStdHandle(STD_OUTPUT_HANDLE, out_);
    SetStdHandle(STD_INPUT_HANDLE, in_);
    runtime_constructor();
    console_reset();
    hooks().clear_screen(0);
  }
  void TearDown() override {
    console_reset();
    SetStdHandle(STD_OUTPUT_HANDLE, saved_out_);
    SetStdHandle(STD_INPUT_HANDLE, saved_in_);
    for (HANDLE h : {out_, in_})
      if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }

  static const ConsoleHooks& hooks() { return text_console_hooks(); }

  void print(const std::string& bytes) {
    hooks().print_buffer(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int32_t>(bytes.size()), 0);
  }

  SMALL_RECT window() const {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    GetConsoleScreenBufferInfo(out_, &info);
    return info.srWindow;
  }

  // The characters of a row of the visible window, from the column (both from 0).
  std::wstring cells(int row, int column, int count) const {
    std::wstring text(static_cast<size_t>(count), L'\0');
    const SMALL_RECT w = window();
    DWORD done = 0;
    ReadConsoleOutputCharacterW(out_, text.data(), static_cast<DWORD>(count),
                                COORD{static_cast<SHORT>(w.Left + column), static_cast<SHORT>(w.Top + row)}, &done);
    text.resize(done);
    return text;
  }

  WORD attribute(int row, int column) const {
    WORD value = 0;
    const SMALL_RECT w = window();
    DWORD done = 0;
    ReadConsoleOutputAttribute(out_, &value, 1,
                               COORD{static_cast<SHORT>(w.Left + column), static_cast<SHORT>(w.Top + row)}, &done);
    return value;
  }

  HANDLE out_ = INVALID_HANDLE_VALUE, in_ = INVALID_HANDLE_VALUE;

 private:
  HANDLE saved_out_ = nullptr, saved_in_ = nullptr;
};

TEST_F(OwnConsole, CodePage437InTheColoursAtTheLocatedPlace) {
  hooks().colour(14, 1, 0);
  hooks().locate(3, 5, -1);
  print("x\x94\xB0\x01");
  EXPECT_EQ(cells(2, 3, 5), L" x\x00F6\x2591\x263A");
  for (int column = 4; column < 8; ++column) EXPECT_EQ(attribute(2, column), 0x1E) << column;
  int32_t column = 0, row = 0;
  hooks().get_position(&column, &row);
  EXPECT_EQ(column, 9);
  EXPECT_EQ(row, 3);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  ASSERT_TRUE(GetConsoleScreenBufferInfo(out_, &info));
  EXPECT_EQ(info.dwCursorPosition.X - info.srWindow.Left, 8);
  EXPECT_EQ(info.dwCursorPosition.Y - info.srWindow.Top, 2);

  hooks().clear_screen(0);
  EXPECT_EQ(cells(2, 4, 4), L"    ");
  hooks().get_position(&column, &row);
  EXPECT_EQ(column * 100 + row, 101);
}

// A full bottom row waits for more text before the window scrolls; then everything
// moves up one row.
TEST_F(OwnConsole, TheBottomRowScrollsOnlyWhenMoreFollows) {
  const SMALL_RECT w = window();
  const int rows = w.Bottom - w.Top + 1, columns = w.Right - w.Left + 1;
  print("top");
  hooks().locate(rows, 1, -1);
  const std::string full(static_cast<size_t>(columns), '#');
  print(full);
  EXPECT_EQ(cells(rows - 1, 0, columns), std::wstring(static_cast<size_t>(columns), L'#'));
  EXPECT_EQ(cells(0, 0, 3), L"top");
  print("z");
  EXPECT_EQ(cells(rows - 2, 0, columns), std::wstring(static_cast<size_t>(columns), L'#'));
  EXPECT_EQ(cells(rows - 1, 0, 2), L"z ");
  EXPECT_NE(cells(0, 0, 3), L"top");
}

}  // namespace
}  // namespace zv
