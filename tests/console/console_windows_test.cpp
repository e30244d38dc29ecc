// Key events of the Windows console as the console backend reads them: synthetic
// KEY_EVENT_RECORDs in, the key codes the program reads out. The translation rules
// themselves are the window drivers' and are tested there; these cases cover what
// the console adds: releases, lone modifiers, Unicode characters taken to code page
// 437 and the control-key state's extra bits (lock keys) that must not matter.
#include "console/console_windows.h"

#include <gtest/gtest.h>

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
  };
  for (const Case& c : cases) EXPECT_EQ(console_key_code(c.event), c.expected) << c.what;
}

}  // namespace
}  // namespace zv
