// Keyboard of the Win32 layer: key messages and their lParam bits as Windows
// delivers them, character messages from TranslateMessage, the thread's keyboard
// state changing only as messages are taken, the close paths through
// DefWindowProcA, and the US layout's MapVirtualKeyA and ToAscii answers.
#include "tests/win32/win32_test_support.h"

#include <string>

namespace zv::win32test {
namespace {

struct KeyEvent {
  uint16_t vk;
  uint8_t scan;
  bool extended, down;
};

struct Expected {
  UINT message;
  WPARAM wparam;
  uint32_t lparam;
};

struct KeyCase {
  std::string name;
  std::vector<KeyEvent> events;
  std::vector<Expected> messages;
};

class KeyMessages : public Win32Test, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(KeyMessages, CarryTheVirtualKeyAndTheLparamBitsOfWindows) {
  HWND window = makeWindow();
  for (const KeyEvent& e : GetParam().events) zv::vdesk::key(e.vk, e.scan, e.extended, e.down);
  std::vector<MSG> got = takeMessages();
  ASSERT_EQ(got.size(), GetParam().messages.size());
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i].hwnd, window);
    EXPECT_EQ(got[i].message, GetParam().messages[i].message);
    EXPECT_EQ(got[i].wParam, GetParam().messages[i].wparam);
    EXPECT_EQ(static_cast<uint32_t>(got[i].lParam), GetParam().messages[i].lparam);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layer, KeyMessages,
    ::testing::Values(
        KeyCase{"LetterA", {{'A', 0x1E, false, true}, {'A', 0x1E, false, false}},
                {{WM_KEYDOWN, 'A', 0x001E0001}, {WM_KEYUP, 'A', 0xC01E0001}}},
        KeyCase{"LeftHasTheExtendedBit", {{VK_LEFT, 0x4B, true, true}}, {{WM_KEYDOWN, VK_LEFT, 0x014B0001}}},
        KeyCase{"F1", {{VK_F1, 0x3B, false, true}}, {{WM_KEYDOWN, VK_F1, 0x003B0001}}},
        KeyCase{"KeypadEnter", {{VK_RETURN, 0x1C, true, true}}, {{WM_KEYDOWN, VK_RETURN, 0x011C0001}}},
        KeyCase{"ShiftA",
                {{VK_SHIFT, 0x2A, false, true}, {'A', 0x1E, false, true}},
                {{WM_KEYDOWN, VK_SHIFT, 0x002A0001}, {WM_KEYDOWN, 'A', 0x001E0001}}},
        KeyCase{"RightShiftKeepsItsScanCode", {{VK_RSHIFT, 0x36, false, true}}, {{WM_KEYDOWN, VK_SHIFT, 0x00360001}}},
        KeyCase{"AltAIsASystemKeyWithTheContextBit",
                {{VK_MENU, 0x38, false, true},
                 {'A', 0x1E, false, true},
                 {'A', 0x1E, false, false},
                 {VK_MENU, 0x38, false, false}},
                {{WM_SYSKEYDOWN, VK_MENU, 0x20380001},
                 {WM_SYSKEYDOWN, 'A', 0x201E0001},
                 {WM_SYSKEYUP, 'A', 0xE01E0001},
                 {WM_KEYUP, VK_MENU, 0xC0380001}}},
        KeyCase{"AltAloneIsSystemBothWays",
                {{VK_MENU, 0x38, false, true}, {VK_MENU, 0x38, false, false}},
                {{WM_SYSKEYDOWN, VK_MENU, 0x20380001}, {WM_SYSKEYUP, VK_MENU, 0xC0380001}}},
        KeyCase{"CtrlAltAIsNotASystemKey",
                {{VK_CONTROL, 0x1D, false, true}, {VK_MENU, 0x38, false, true}, {'A', 0x1E, false, true}},
                {{WM_KEYDOWN, VK_CONTROL, 0x001D0001},
                 {WM_KEYDOWN, VK_MENU, 0x20380001},
                 {WM_KEYDOWN, 'A', 0x201E0001}}},
        KeyCase{"F10IsASystemKey",
                {{VK_F10, 0x44, false, true}, {VK_F10, 0x44, false, false}},
                {{WM_SYSKEYDOWN, VK_F10, 0x00440001}, {WM_SYSKEYUP, VK_F10, 0xC0440001}}},
        KeyCase{"HeldKeyRepeatsWithBit30",
                {{'A', 0x1E, false, true}, {'A', 0x1E, false, true}, {'A', 0x1E, false, false}},
                {{WM_KEYDOWN, 'A', 0x001E0001}, {WM_KEYDOWN, 'A', 0x401E0001}, {WM_KEYUP, 'A', 0xC01E0001}}},
        KeyCase{"RightControlIsExtended", {{VK_RCONTROL, 0, false, true}}, {{WM_KEYDOWN, VK_CONTROL, 0x011D0001}}}),
    [](const auto& info) { return info.param.name; });

TEST_F(Win32Test, KeyboardStateChangesAsKeyMessagesAreTakenNotWhenInjected) {
  makeWindow();
  zv::vdesk::key(VK_SHIFT, 0x2A, false, true);
  zv::vdesk::key('A', 0x1E, false, true);
  zv::vdesk::key('A', 0x1E, false, false);
  zv::vdesk::key(VK_SHIFT, 0x2A, false, false);
  EXPECT_GE(GetKeyState(VK_SHIFT), 0);   // nothing taken yet
  EXPECT_GE(GetAsyncKeyState(VK_SHIFT), 0);  // the hardware released it again

  std::vector<std::pair<UINT, WPARAM>> seen;
  bool shift_down_at_a = false;
  bool a_down_at_char = false;
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    seen.emplace_back(msg.message, msg.wParam);
    if (msg.message == WM_KEYDOWN && msg.wParam == 'A') {
      shift_down_at_a = GetKeyState(VK_SHIFT) < 0 && GetKeyState(VK_LSHIFT) < 0;
    }
    if (msg.message == WM_CHAR) {
      BYTE state[256];
      GetKeyboardState(state);
      a_down_at_char = (state['A'] & 0x80) != 0;
    }
    TranslateMessage(&msg);
  }
  std::vector<std::pair<UINT, WPARAM>> expected = {
      {WM_KEYDOWN, VK_SHIFT}, {WM_KEYDOWN, 'A'}, {WM_CHAR, 'A'}, {WM_KEYUP, 'A'}, {WM_KEYUP, VK_SHIFT}};
  EXPECT_EQ(seen, expected);
  EXPECT_TRUE(shift_down_at_a);
  EXPECT_TRUE(a_down_at_char);
  EXPECT_GE(GetKeyState(VK_SHIFT), 0);
}

TEST_F(Win32Test, TranslateMessagePlacesTheCharacterNextWithTheSameLparam) {
  makeWindow();
  zv::vdesk::key('A', 0x1E, false, true);
  zv::vdesk::key('B', 0x30, false, true);
  zv::vdesk::key(VK_MENU, 0x38, false, true);
  zv::vdesk::key('A', 0x1E, false, true);
  zv::vdesk::key(VK_LEFT, 0x4B, true, true);
  std::vector<MSG> seen;
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    seen.push_back(msg);
    TranslateMessage(&msg);
  }
  std::vector<std::pair<UINT, WPARAM>> got;
  for (const MSG& m : seen) got.emplace_back(m.message, m.wParam);
  std::vector<std::pair<UINT, WPARAM>> expected = {
      {WM_KEYDOWN, 'A'},        {WM_CHAR, 'a'},    {WM_KEYDOWN, 'B'}, {WM_CHAR, 'b'}, {WM_SYSKEYDOWN, VK_MENU},
      {WM_SYSKEYDOWN, 'A'},     {WM_SYSCHAR, 'a'}, {WM_SYSKEYDOWN, VK_LEFT}};
  ASSERT_EQ(got, expected);
  EXPECT_EQ(seen[1].lParam, seen[0].lParam);
  EXPECT_EQ(seen[6].lParam, seen[5].lParam);
}

TEST_F(Win32Test, ACharacterFromTheDisplaysLayoutIsWhatTranslateMessageGives) {
  makeWindow();
  // A German "ö" as a display reports it: its own key, and the layout's character.
  zv::vdesk::key(VK_OEM_8, 0x60, false, true, 0xF6);
  zv::vdesk::key(VK_OEM_8, 0x60, false, false, 0xF6);
  zv::vdesk::key('A', 0x1E, false, true, -2);  // a layout that gives nothing for it
  zv::vdesk::key('B', 0x30, false, true);      // the US layout's answer
  std::vector<std::pair<UINT, WPARAM>> got;
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    got.emplace_back(msg.message, msg.wParam);
    TranslateMessage(&msg);
  }
  std::vector<std::pair<UINT, WPARAM>> expected = {
      {WM_KEYDOWN, VK_OEM_8}, {WM_CHAR, 0xF6}, {WM_KEYUP, VK_OEM_8}, {WM_KEYDOWN, 'A'}, {WM_KEYDOWN, 'B'}, {WM_CHAR, 'b'}};
  EXPECT_EQ(got, expected);
}

// Dead keys as a German layout reports them: TranslateMessage gives WM_DEADCHAR with
// the accent, then the composed character; a space gives the accent alone, and what
// does not compose gives both.
TEST_F(Win32Test, DeadKeysComposeWithTheNextCharacter) {
  constexpr int kAcute = 0x10000 + 0xB4, kCircumflex = 0x10000 + '^';
  struct Case {
    const char* what;
    std::vector<std::pair<uint16_t, int>> keys;  // virtual key and the layout's character
    std::vector<std::pair<UINT, WPARAM>> characters;
  };
  const Case cases[] = {
      {"acute e", {{VK_OEM_6, kAcute}, {'E', 'e'}}, {{WM_DEADCHAR, 0xB4}, {WM_CHAR, 0xE9}}},
      {"circumflex space", {{VK_OEM_5, kCircumflex}, {VK_SPACE, ' '}}, {{WM_DEADCHAR, '^'}, {WM_CHAR, '^'}}},
      {"circumflex a", {{VK_OEM_5, kCircumflex}, {'A', 'a'}}, {{WM_DEADCHAR, '^'}, {WM_CHAR, 0xE2}}},
      {"circumflex Shift+A", {{VK_OEM_5, kCircumflex}, {VK_SHIFT, -2}, {'A', 'A'}}, {{WM_DEADCHAR, '^'}, {WM_CHAR, 0xC2}}},
      {"circumflex x", {{VK_OEM_5, kCircumflex}, {'X', 'x'}}, {{WM_DEADCHAR, '^'}, {WM_CHAR, '^'}, {WM_CHAR, 'x'}}},
      {"acute twice", {{VK_OEM_6, kAcute}, {VK_OEM_6, kAcute}}, {{WM_DEADCHAR, 0xB4}, {WM_CHAR, 0xB4}, {WM_CHAR, 0xB4}}},
      {"US layout letter after an accent", {{VK_OEM_6, kAcute}, {'E', -1}}, {{WM_DEADCHAR, 0xB4}, {WM_CHAR, 0xE9}}},
  };
  makeWindow();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto& [vk, character] : c.keys) {
      const auto scan = static_cast<uint8_t>(MapVirtualKeyA(vk, MAPVK_VK_TO_VSC));
      zv::vdesk::key(vk, scan, false, true, character);
      zv::vdesk::key(vk, scan, false, false, character);
    }
    std::vector<std::pair<UINT, WPARAM>> got;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_CHAR || msg.message == WM_DEADCHAR) got.emplace_back(msg.message, msg.wParam);
      if (msg.message == WM_KEYDOWN && msg.wParam == c.keys[0].first) {
        EXPECT_EQ(MapVirtualKeyA(msg.wParam, MAPVK_VK_TO_CHAR) & 0x80000000u, 0x80000000u) << "a dead key";
      }
      TranslateMessage(&msg);
    }
    EXPECT_EQ(got, c.characters);
  }
}

TEST_F(Win32Test, AltF4GoesThroughDefWindowProcToClose) {
  HWND window = makeWindow();
  zv::vdesk::key(VK_MENU, 0x38, false, true);
  zv::vdesk::key(VK_F4, 0x3E, false, true);
  pump();
  std::vector<UINT> expected = {WM_SYSKEYDOWN, WM_SYSKEYDOWN, WM_SYSCOMMAND, WM_CLOSE, WM_DESTROY, WM_NCDESTROY};
  std::vector<Seen> seen = log().take();
  std::vector<UINT> messages;
  for (const Seen& s : seen) {
    if (s.message == WM_ACTIVATE || s.message == WM_SETCURSOR) continue;
    messages.push_back(s.message);
    if (s.message == WM_SYSCOMMAND) {
      EXPECT_EQ(s.wparam, static_cast<WPARAM>(SC_CLOSE));
    }
  }
  EXPECT_EQ(messages, expected);
  EXPECT_FALSE(IsWindow(window));
}

TEST_F(Win32Test, TheFrameCloseButtonSendsSysCommandCloseThenClose) {
  HWND window = makeWindow();
  zv::vdesk::requestClose(window);
  pump();
  EXPECT_EQ(log().messages(), (std::vector<UINT>{WM_SYSCOMMAND, WM_CLOSE, WM_DESTROY, WM_NCDESTROY}));
  EXPECT_FALSE(IsWindow(window));
}

// Keys go to the program while one of its windows has the focus, and each to the
// window that has it when the key is taken: the focus of the moment, not of the press.
TEST_F(Win32Test, KeysGoToTheFocusWindowWhenTheyAreTaken) {
  HWND first = makeWindow();
  makeWindow();  // has the focus while A is pressed
  zv::vdesk::key('A', 0x1E, false, true);
  zv::vdesk::activate(first);
  zv::vdesk::key('B', 0x30, false, true);
  zv::vdesk::deactivateAll();
  zv::vdesk::key('C', 0x2E, false, true);
  std::vector<std::pair<HWND, WPARAM>> keys;
  for (const MSG& m : takeMessages()) {
    if (m.message == WM_KEYDOWN) keys.emplace_back(m.hwnd, m.wParam);
  }
  EXPECT_EQ(keys, (std::vector<std::pair<HWND, WPARAM>>{{first, 'A'}, {first, 'B'}}));
}

// Alt+Enter replaces the window while the Enter press is handled: the releases queued
// meanwhile go to the window that has the focus when they are taken, or, with none,
// are dropped with the key state still applied. No key stays down either way.
TEST_F(Win32Test, KeysQueuedWhileTheWindowIsReplacedLeaveNoKeyDown) {
  for (const bool replaced : {true, false}) {
    SCOPED_TRACE(replaced ? "a new window takes the focus" : "no window left");
    HWND first = makeWindow();
    const std::pair<UINT, uint8_t> sequence[] = {{VK_MENU, 0x38}, {VK_RETURN, 0x1C}};
    for (const auto& [vk, scan] : sequence) zv::vdesk::key(static_cast<uint16_t>(vk), scan, false, true);
    for (const auto& [vk, scan] : sequence) zv::vdesk::key(static_cast<uint16_t>(vk), scan, false, false);
    zv::vdesk::key('A', 0x1E, false, true);
    HWND second = nullptr;
    std::vector<std::pair<HWND, UINT>> taken;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
      if (msg.message == WM_SYSKEYDOWN && msg.wParam == VK_RETURN) {
        DestroyWindow(first);
        if (replaced) {
          second = CreateWindowExA(0, kClassName, "second", WS_POPUP | WS_VISIBLE, 0, 0, 320, 200, nullptr, nullptr,
                                   GetModuleHandleA(nullptr), nullptr);
          ASSERT_NE(second, nullptr);
        }
        continue;
      }
      taken.emplace_back(msg.hwnd, msg.message);
      if (msg.message == WM_KEYDOWN && msg.wParam == 'A') {
        EXPECT_GE(GetKeyState(VK_MENU), 0);
        EXPECT_GE(GetKeyState(VK_RETURN), 0);
      }
    }
    std::vector<std::pair<HWND, UINT>> expected = {{first, WM_SYSKEYDOWN}};
    if (replaced) expected.insert(expected.end(), {{second, WM_KEYUP}, {second, WM_KEYUP}, {second, WM_KEYDOWN}});
    EXPECT_EQ(taken, expected);
    BYTE state[256];
    ASSERT_TRUE(GetKeyboardState(state));
    EXPECT_EQ(state[VK_MENU] & 0x80, 0);
    EXPECT_EQ(state[VK_RETURN] & 0x80, 0);
    if (second) DestroyWindow(second);
    takeMessages();
  }
}

TEST_F(Win32Test, SendInputDeliversKeysLikeTheKeyboard) {
  HWND window = makeWindow();
  INPUT inputs[3]{};
  inputs[0].type = INPUT_KEYBOARD;
  inputs[0].ki.wVk = VK_SHIFT;
  inputs[1].type = INPUT_KEYBOARD;
  inputs[1].ki.wScan = 0x4B;
  inputs[1].ki.dwFlags = KEYEVENTF_SCANCODE | KEYEVENTF_EXTENDEDKEY;
  inputs[2].type = INPUT_KEYBOARD;
  inputs[2].ki.wVk = VK_SHIFT;
  inputs[2].ki.dwFlags = KEYEVENTF_KEYUP;
  EXPECT_EQ(SendInput(3, inputs, sizeof(INPUT)), 3u);
  EXPECT_EQ(SendInput(1, inputs, sizeof(INPUT) - 1), 0u);
  std::vector<MSG> got = takeMessages();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].hwnd, window);
  EXPECT_EQ(static_cast<uint32_t>(got[0].lParam), 0x002A0001u);
  EXPECT_EQ(got[1].wParam, static_cast<WPARAM>(VK_LEFT));
  EXPECT_EQ(static_cast<uint32_t>(got[1].lParam), 0x014B0001u);
  EXPECT_EQ(got[2].message, static_cast<UINT>(WM_KEYUP));
}

TEST(Layout, MapVirtualKeyAnswersAsTheUsLayout) {
  struct Row {
    UINT code, type, answer;
  };
  const Row rows[] = {
      {'A', MAPVK_VK_TO_CHAR, 0x41},        {'1', MAPVK_VK_TO_CHAR, 0x31},
      {VK_RETURN, MAPVK_VK_TO_CHAR, 0x0D},  {VK_BACK, MAPVK_VK_TO_CHAR, 0x08},
      {VK_SPACE, MAPVK_VK_TO_CHAR, 0x20},   {VK_OEM_1, MAPVK_VK_TO_CHAR, 0x3B},
      {VK_OEM_PERIOD, MAPVK_VK_TO_CHAR, 0x2E}, {VK_DECIMAL, MAPVK_VK_TO_CHAR, 0x2E},
      {VK_ESCAPE, MAPVK_VK_TO_CHAR, 0x1B},  {VK_LEFT, MAPVK_VK_TO_CHAR, 0},
      {VK_F1, MAPVK_VK_TO_CHAR, 0},         {VK_OEM_MINUS, MAPVK_VK_TO_CHAR, '-'},
      {VK_LEFT, MAPVK_VK_TO_VSC, 0x4B},     {VK_F1, MAPVK_VK_TO_VSC, 0x3B},
      {'A', MAPVK_VK_TO_VSC, 0x1E},         {VK_RSHIFT, MAPVK_VK_TO_VSC, 0x36},
      {VK_SHIFT, MAPVK_VK_TO_VSC, 0x2A},    {VK_NUMPAD7, MAPVK_VK_TO_VSC, 0x47},
      {VK_RCONTROL, MAPVK_VK_TO_VSC_EX, 0xE01D}, {VK_DIVIDE, MAPVK_VK_TO_VSC_EX, 0xE035},
      {0x2A, MAPVK_VSC_TO_VK, VK_SHIFT},    {0x36, MAPVK_VSC_TO_VK, VK_SHIFT},
      {0x1E, MAPVK_VSC_TO_VK, 'A'},         {0x2A, MAPVK_VSC_TO_VK_EX, VK_LSHIFT},
      {0xE01D, MAPVK_VSC_TO_VK_EX, VK_RCONTROL}, {0xE04B, MAPVK_VSC_TO_VK_EX, VK_LEFT},
      {0x4B, MAPVK_VSC_TO_VK_EX, VK_LEFT},  {0x7F, MAPVK_VSC_TO_VK, 0}};
  for (const Row& row : rows) {
    EXPECT_EQ(MapVirtualKeyA(row.code, row.type), row.answer) << "code " << row.code << " type " << row.type;
  }
}

TEST(Layout, ToAsciiGivesTheCharacterOfTheModifiers) {
  struct Row {
    UINT vk;
    std::vector<UINT> held;  // keys down (top bit); VK_CAPITAL is toggled instead
    int result;
    WORD character;
  };
  const Row rows[] = {
      {'A', {}, 1, 0x61},
      {'A', {VK_SHIFT}, 1, 0x41},
      {'A', {VK_CAPITAL}, 1, 0x41},
      {'A', {VK_CAPITAL, VK_SHIFT}, 1, 0x61},
      {'A', {VK_CONTROL}, 1, 0x01},
      {'A', {VK_MENU}, 1, 0x61},
      {'A', {VK_CONTROL, VK_MENU}, 0, 0},
      {'1', {VK_SHIFT}, 1, '!'},
      {'2', {VK_CONTROL, VK_SHIFT}, 1, 0x00},
      {'2', {VK_CONTROL}, 0, 0},
      {VK_RETURN, {VK_CONTROL}, 1, 0x0A},
      {VK_OEM_4, {VK_CONTROL}, 1, 0x1B},
      {VK_OEM_7, {VK_SHIFT}, 1, '"'},
      {VK_NUMPAD5, {}, 1, '5'},
      {VK_LEFT, {}, 0, 0},
      {VK_F1, {}, 0, 0},
  };
  for (const Row& row : rows) {
    BYTE state[256] = {};
    for (UINT held : row.held) state[held] = held == VK_CAPITAL ? 0x01 : 0x80;
    WORD character = 0xFFFF;
    EXPECT_EQ(ToAscii(row.vk, MapVirtualKeyA(row.vk, MAPVK_VK_TO_VSC), state, &character, 0), row.result)
        << "vk " << row.vk;
    if (row.result == 1) {
      EXPECT_EQ(character, row.character) << "vk " << row.vk;
    }
  }
  BYTE state[256] = {};
  WORD character = 0;
  EXPECT_EQ(ToAscii('A', 0x1E | 0x8000, state, &character, 0), 0);  // a release gives nothing
}

}  // namespace
}  // namespace zv::win32test
