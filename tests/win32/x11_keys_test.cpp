// X key events as PC keys: the scan code of each XKB key name measured on Xvfb, the
// virtual key of a position whatever the layout's keysym, the active layout's
// character (German "ö", AltGr, dead keys, a keycode a test tool borrowed), and AltGr
// the whole way into the window's messages on the virtual desktop.
#include "platform/win32/x11/x11_keys.h"

#include "platform/win32/backend.h"
#include "tests/win32/win32_test_support.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace zv::win32test {
namespace {

using zv::win32::kLayoutCharacter;
using zv::win32::kNoCharacter;
namespace x11 = zv::win32::x11;

// An XKB key name as the server gives it: four bytes, zero-padded, not terminated.
x11::ScanCode position(const char* name) {
  char bytes[4] = {};
  std::memcpy(bytes, name, std::min<size_t>(std::strlen(name), 4));
  return x11::scanOfKeyName(bytes);
}

TEST(X11KeyNames, GiveThePcScanCodesOfTheirPositions) {
  struct Case {
    const char* name;
    uint8_t scan;
    bool extended;
  };
  const Case cases[] = {
      {"ESC", 0x01, false}, {"AE12", 0x0D, false}, {"AC10", 0x27, false}, {"TLDE", 0x29, false},
      {"LSGT", 0x56, false}, {"FK12", 0x58, false}, {"KPEN", 0x1C, true},  {"RCTL", 0x1D, true},
      {"PRSC", 0x37, true},  {"RALT", 0x38, true},  {"HOME", 0x47, true},  {"DELE", 0x53, true},
      {"COMP", 0x5D, true},  {"LVL3", 0, false},    {"I120", 0, false},    {"", 0, false}};
  for (const Case& c : cases) {
    x11::ScanCode got = position(c.name);
    EXPECT_EQ(got.scan, c.scan) << c.name;
    EXPECT_EQ(got.extended, c.extended) << c.name;
  }
  // Names fill all four bytes without a terminating zero.
  EXPECT_EQ(x11::scanOfKeyName("AE01AE02").scan, 0x02);
}

struct KeyCase {
  const char* what;
  const char* position;  // XKB name, "" for a keycode without one
  unsigned long keysym;
  const char* text;
  uint16_t vk;
  uint8_t scan;
  bool extended;
  int character;
};

TEST(X11KeyEvents, GiveTheUsVirtualKeyOfThePositionAndTheLayoutsCharacter) {
  const KeyCase cases[] = {
      {"a", "AC01", 'a', "a", 'A', 0x1E, false, 'a'},
      {"Shift+a", "AC01", 'A', "A", 'A', 0x1E, false, 'A'},
      {"Ctrl+a", "AC01", 'a', "\x01", 'A', 0x1E, false, 0x01},
      {"German y (AB01)", "AB01", 'y', "y", 'Z', 0x2C, false, 'y'},
      {"German \xf6 (AC10)", "AC10", 0xf6, "\xf6", VK_OEM_1, 0x27, false, 0xF6},
      {"German \xdf (AE11)", "AE11", 0xdf, "\xdf", VK_OEM_MINUS, 0x0C, false, 0xDF},
      {"AltGr+e: euro, nothing from Latin-1", "AD03", 0x20ac, "", 'E', 0x12, false, 0x80},
      {"\xf6 through a borrowed keycode", "", 0xf6, "\xf6", VK_OEM_8, 0, false, 0xF6},
      {"a through a borrowed keycode", "", 'a', "a", 'A', 0, false, 'a'},
      {"Return: the US layout's rules", "RTRN", 0xff0d, "\r", VK_RETURN, 0x1C, false, kLayoutCharacter},
      {"keypad Enter", "KPEN", 0xff8d, "\r", VK_RETURN, 0x1C, true, kLayoutCharacter},
      {"Delete gives no 0x7f", "DELE", 0xffff, "\x7f", VK_DELETE, 0x53, true, kLayoutCharacter},
      {"Left", "LEFT", 0xff51, "", VK_LEFT, 0x4B, true, kLayoutCharacter},
      {"keypad 7, Num Lock on", "KP7", 0xffb7, "7", VK_NUMPAD7, 0x47, false, kLayoutCharacter},
      {"keypad 7, Num Lock off", "KP7", 0xff95, "", VK_HOME, 0x47, false, kLayoutCharacter},
      // The keypad, Num Lock on and off, on the us and de layouts: the decimal key is
      // VK_DECIMAL with the layout's point or comma, VK_DELETE without Num Lock.
      {"us keypad decimal", "KPDL", 0xffae, ".", VK_DECIMAL, 0x53, false, '.'},
      {"de keypad decimal (KP_Separator)", "KPDL", 0xffac, ",", VK_DECIMAL, 0x53, false, ','},
      {"keypad decimal, Num Lock off", "KPDL", 0xff9f, "", VK_DELETE, 0x53, false, kLayoutCharacter},
      {"keypad comma through a borrowed keycode", "", 0xffac, ",", VK_DECIMAL, 0, false, ','},
      {"Pause shares Num Lock's scan", "PAUS", 0xff13, "", VK_PAUSE, 0x45, false, kLayoutCharacter},
      {"Num Lock", "NMLK", 0xff7f, "", VK_NUMLOCK, 0x45, false, kLayoutCharacter},
      {"F1", "FK01", 0xffbe, "", VK_F1, 0x3B, false, kLayoutCharacter},
      {"dead acute", "AE12", 0xfe51, "", VK_OEM_PLUS, 0x0D, false, zv::win32::kDeadKey + 0xB4},
      {"dead circumflex", "TLDE", 0xfe52, "", VK_OEM_3, 0x29, false, zv::win32::kDeadKey + '^'},
      {"dead caron: no accent in 1252", "AE12", 0xfe5a, "", VK_OEM_PLUS, 0x0D, false, kNoCharacter},
      {"a character 1252 lacks", "AC01", 0x100263a, "", 'A', 0x1E, false, kNoCharacter},
      {"right Ctrl", "RCTL", 0xffe4, "", VK_RCONTROL, 0x1D, true, kLayoutCharacter},
  };
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(c.what);
    x11::KeyInput input{position(c.position), c.keysym, c.text, static_cast<int>(std::strlen(c.text)), true};
    x11::KeyOutput out[2];
    ASSERT_EQ(x11::translateKeyEvent(input, out), 1);
    EXPECT_EQ(out[0].virtual_key, c.vk);
    EXPECT_EQ(out[0].scan, c.scan);
    EXPECT_EQ(out[0].extended, c.extended);
    EXPECT_TRUE(out[0].down);
    EXPECT_EQ(out[0].character, c.character);
  }
}

TEST(X11KeyEvents, LayoutCharactersAreWhatMapVirtualKeyAnswers) {
  struct Case {
    unsigned long keysym;
    int32_t expected;
  };
  const Case cases[] = {
      {'y', 'Y'},                                       // letters in capitals
      {'1', '1'},        {0xf6, 0xF6},                  // Latin-1 as it is
      {0xfe51, zv::win32::kDeadKey + 0xB4},             // dead acute: its spacing accent
      {0xfe52, zv::win32::kDeadKey + '^'},              // dead circumflex
      {0xff0d, -1},      {0xffb7, -1}, {0, -1},         // keys, not characters: US rules
      {0xffac, ','},     {0xffae, '.'},                 // the keypad's comma and point
      {0x6c1, 0},                                       // Cyrillic: nothing in 1252
  };
  for (const Case& c : cases) EXPECT_EQ(x11::layoutCharacterOfKeysym(c.keysym), c.expected) << c.keysym;
}

TEST(X11Titles, AreUtf8OfWindows1252) {
  char out[64];
  x11::utf8FromWindows1252("L\xf6sung \x80 \x93x\x94", out, sizeof out);
  EXPECT_STREQ(out, "L\xc3\xb6sung \xe2\x82\xac \xe2\x80\x9cx\xe2\x80\x9d");
  // Cut at a whole character when the room ends.
  x11::utf8FromWindows1252("ab\xf6", out, 4);
  EXPECT_STREQ(out, "ab");
  x11::utf8FromWindows1252(nullptr, out, sizeof out);
  EXPECT_STREQ(out, "");
}

// The whole way: an X key event's keys through the layer give the window the key
// messages of a PC keyboard and the layout's character.
class X11KeyMessages : public Win32Test {
 protected:
  void press(const char* at, unsigned long keysym, const char* text, bool down = true) {
    x11::KeyInput input{position(at), keysym, text, static_cast<int>(std::strlen(text)), down};
    x11::KeyOutput out[2];
    int count = x11::translateKeyEvent(input, out);
    for (int i = 0; i < count; ++i)
      zv::vdesk::key(out[i].virtual_key, out[i].scan, out[i].extended, out[i].down, out[i].character);
  }

  std::vector<Seen> dispatched(HWND window) {
    pump(window);
    return log().take();
  }
};

TEST_F(X11KeyMessages, AltGrCharacterIsAPlainCharacterNotASystemKey) {
  HWND window = makeWindow();
  press("RALT", 0xfe03, "");
  press("AD01", '@', "@");
  press("AD01", '@', "@", false);
  press("RALT", 0xfe03, "", false);
  std::vector<UINT> messages;
  WPARAM character = 0;
  for (const Seen& s : dispatched(window)) {
    messages.push_back(s.message);
    if (s.message == WM_CHAR) character = s.wparam;
  }
  EXPECT_EQ(messages, (std::vector<UINT>{WM_KEYDOWN, WM_KEYDOWN, WM_KEYDOWN, WM_CHAR, WM_KEYUP, WM_KEYUP, WM_KEYUP}));
  EXPECT_EQ(character, static_cast<WPARAM>('@'));
}

// ToAscii answers for the key just taken with the layout's character; the US layout
// has nothing for Ctrl+Alt+Q.
TEST_F(X11KeyMessages, ToAsciiOfTheKeyJustTakenIsTheLayoutsCharacter) {
  HWND window = makeWindow();
  press("RALT", 0xfe03, "");
  press("AD01", '@', "@");
  MSG msg{};
  while (PeekMessageA(&msg, window, 0, 0, PM_REMOVE) && !(msg.message == WM_KEYDOWN && msg.wParam == 'Q')) {
  }
  ASSERT_EQ(msg.wParam, static_cast<WPARAM>('Q'));
  BYTE state[256];
  ASSERT_TRUE(GetKeyboardState(state));
  WORD produced = 0;
  EXPECT_EQ(ToAscii('Q', 0x10, state, &produced, 0), 1);
  EXPECT_EQ(produced, '@');
  EXPECT_EQ(ToAscii('W', 0x11, state, &produced, 0), 0);  // not the key taken: US rules
  takeMessages();
  press("AD01", '@', "@", false);
  press("RALT", 0xfe03, "", false);
  takeMessages();
}

}  // namespace
}  // namespace zv::win32test
