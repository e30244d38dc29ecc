// The window procedure as the program sees it: keys, characters, buttons and window
// requests given to the GDI window on the virtual desktop, and the key codes and
// events that come out of them.
#include <climits>

#include "tests/gfx/win32/driver_test_support.h"

namespace zvtest::drivers {
namespace {

// One thing done to the window: a hardware key, a posted message, or the frame's
// close button.
struct Action {
  enum Kind { key, message, close } kind;
  uint32_t a = 0;   // virtual key, or message
  uint32_t b = 0;   // scan code, or wParam
  intptr_t c = 0;   // extended (key), or lParam
  bool down = false;
  int character = -1;  // a key's character from the display's own layout (-1: the US one's)
};

Action press(uint16_t vk, uint8_t scan, bool extended = false) {
  return {Action::key, vk, scan, extended, true};
}
Action release(uint16_t vk, uint8_t scan, bool extended = false) {
  return {Action::key, vk, scan, extended, false};
}
// A key press that the display's keyboard layout gives a character of its own.
Action pressGiving(uint16_t vk, uint8_t scan, int character) {
  return {Action::key, vk, scan, false, true, character};
}
Action message(UINT msg, WPARAM wparam, LPARAM lparam) {
  return {Action::message, msg, static_cast<uint32_t>(wparam), lparam, false};
}
Action closeButton() { return {Action::close}; }

constexpr LPARAM keyLParam(int32_t repeat, int32_t scan, bool extended) {
  return repeat | (scan << 16) | (extended ? 1 << 24 : 0);
}

struct InputCase {
  const char* name;
  std::vector<Action> actions;
  std::vector<int32_t> keys;
  std::vector<EventRecord> events;  // type, first two fields
};

std::ostream& operator<<(std::ostream& out, const InputCase& c) { return out << c.name; }

constexpr uint8_t SCAN_ALT = 56, SCAN_F4 = 62, SCAN_F10 = 68, SCAN_LEFT = 75, SCAN_A = 30,
                  SCAN_SHIFT = 42, SCAN_CONTROL = 29, SCAN_Q = 16;

const InputCase input_cases[] = {
    {"close_button_is_a_key_and_an_event", {closeButton()}, {27647}, {{13, 0, 0}}},
    {"alt_f4_is_the_close_key_without_key_event",
     {press(VK_MENU, SCAN_ALT), press(VK_F4, SCAN_F4), release(VK_F4, SCAN_F4),
      release(VK_MENU, SCAN_ALT)},
     {27647},
     {}},
    {"f10_pushes_its_code_and_posts_nothing",
     {press(VK_F10, SCAN_F10), release(VK_F10, SCAN_F10)},
     {17663},
     {}},
    {"alt_alone_posts_nothing", {press(VK_MENU, SCAN_ALT), release(VK_MENU, SCAN_ALT)}, {}, {}},
    {"extended_key_down_pushes_once_and_up_pushes_nothing",
     {press(VK_LEFT, SCAN_LEFT, true), release(VK_LEFT, SCAN_LEFT, true)},
     {0x4BFF},
     {{1, SCAN_LEFT, 0}, {2, SCAN_LEFT, 0}}},
    {"held_key_repeats_with_type_3",
     {press(VK_LEFT, SCAN_LEFT, true), press(VK_LEFT, SCAN_LEFT, true),
      press(VK_LEFT, SCAN_LEFT, true), release(VK_LEFT, SCAN_LEFT, true)},
     {0x4BFF, 0x4BFF, 0x4BFF},
     {{1, SCAN_LEFT, 0}, {3, SCAN_LEFT, 0}, {3, SCAN_LEFT, 0}, {2, SCAN_LEFT, 0}}},
    {"counted_repeat_pushes_once_per_repeat",
     {message(WM_KEYDOWN, VK_LEFT, keyLParam(3, SCAN_LEFT, true))},
     {0x4BFF, 0x4BFF, 0x4BFF},
     {{1, SCAN_LEFT, 0}}},
    {"character_key_comes_through_its_character_message",
     {press('A', SCAN_A), release('A', SCAN_A)},
     {'a'},
     {{1, SCAN_A, 'a'}, {2, SCAN_A, 'a'}}},
    {"shift_held_while_the_key_is_handled",
     {press(VK_SHIFT, SCAN_SHIFT), press('A', SCAN_A), release('A', SCAN_A),
      release(VK_SHIFT, SCAN_SHIFT)},
     {'A'},
     {{1, SCAN_SHIFT, 0}, {1, SCAN_A, 'A'}, {2, SCAN_A, 'A'}, {2, SCAN_SHIFT, 0}}},
    // AltGr is left Ctrl with right Alt; the layout's character wins over the Alt code.
    {"altgr_character_of_the_layout_is_the_character",
     {press(VK_LCONTROL, SCAN_CONTROL), press(VK_RMENU, SCAN_ALT, true), pressGiving('Q', SCAN_Q, '@'),
      release('Q', SCAN_Q), release(VK_RMENU, SCAN_ALT, true), release(VK_LCONTROL, SCAN_CONTROL)},
     {'@'},
     {{1, SCAN_CONTROL, 0}, {1, SCAN_Q, '@'}, {2, SCAN_Q, '@'}, {2, SCAN_CONTROL, 0}}},
    // A German layout's dead acute, then e: one character, code page 437's e acute.
    {"dead_key_and_letter_make_one_character",
     {pressGiving(VK_OEM_6, 13, 0x10000 + 0xB4), release(VK_OEM_6, 13), press('E', 18), release('E', 18)},
     {0x82},
     {{1, 27, 0}, {2, 27, 0}, {1, 18, 'e'}, {2, 18, 'e'}}},
    {"character_0_pushes_0", {message(WM_CHAR, 0, 1)}, {0}, {}},
    {"ansi_character_becomes_code_page_437", {message(WM_CHAR, 0xF6, 1)}, {0x94}, {}},
    {"character_repeat_count", {message(WM_CHAR, 'x', 2)}, {'x', 'x'}, {}},
    {"character_above_255_is_ignored", {message(WM_CHAR, 0x1234, 1)}, {}, {}},
    {"left_button_press_and_release",
     {message(WM_LBUTTONDOWN, MK_LBUTTON, 0), message(WM_LBUTTONUP, 0, 0)},
     {},
     {{5, 1, 0}, {6, 1, 0}}},
    {"double_click_of_the_right_button",
     {message(WM_RBUTTONDBLCLK, MK_RBUTTON, 0)},
     {},
     {{7, 2, 0}}},
    {"extra_buttons_report_the_changed_ones",
     {message(WM_XBUTTONDOWN, MK_XBUTTON1, 0),
      message(WM_XBUTTONDOWN, MK_XBUTTON1 | MK_XBUTTON2, 0),
      message(WM_XBUTTONUP, MK_XBUTTON2, 0), message(WM_XBUTTONUP, 0, 0)},
     {},
     {{5, 8, 0}, {5, 16, 0}, {6, 8, 0}, {6, 16, 0}}},
    {"wheel_moves_one_notch_per_message_by_its_sign",
     {message(WM_MOUSEWHEEL, static_cast<WPARAM>(240) << 16, 0),
      message(WM_MOUSEWHEEL, static_cast<WPARAM>(120) << 16, 0),
      message(WM_MOUSEWHEEL, static_cast<WPARAM>(static_cast<uint32_t>(-120) << 16), 0),
      message(WM_MOUSEHWHEEL, static_cast<WPARAM>(static_cast<uint32_t>(-120) << 16), 0)},
     {},
     {{8, 1, 0}, {8, 2, 0}, {8, 1, 0}, {14, -1, 0}}},
};

class WindowInputTest : public DriverTest, public ::testing::WithParamInterface<InputCase> {};

TEST_P(WindowInputTest, KeysAndEvents) {
  const InputCase& c = GetParam();
  openMode(18);
  HWND window = theWindow();
  for (const Action& action : c.actions) {
    switch (action.kind) {
      case Action::key:
        vdesk::key(static_cast<uint16_t>(action.a), static_cast<uint8_t>(action.b), action.c != 0,
                   action.down, action.character);
        break;
      case Action::message:
        ASSERT_TRUE(PostMessageA(window, action.a, action.b, action.c));
        break;
      case Action::close:
        vdesk::requestClose(window);
        break;
    }
  }
  const Input input = drainInput();
  EXPECT_EQ(input.keys, c.keys);
  EXPECT_EQ(input.events, c.events);
  // Nothing of it closes the window.
  EXPECT_EQ(theWindow(), window);
  EXPECT_TRUE(IsWindow(window));
}

INSTANTIATE_TEST_SUITE_P(Messages, WindowInputTest, ::testing::ValuesIn(input_cases),
                         [](const auto& info) { return std::string(info.param.name); });

// Mouse presence, with TrackMouseEvent and with the leave timer in its place.
class MousePresenceTest : public DriverTest, public ::testing::WithParamInterface<bool> {};

TEST_P(MousePresenceTest, EnterMoveReadAndLeave) {
  const bool hide_tracking = GetParam();
  if (hide_tracking) vdesk::hideExport("USER32", "TrackMouseEvent", true);
  openMode(18);
  const vdesk::WindowInfo window = info(theWindow());
  const RECT client = window.client_rect;

  // The first move posts no move event; the window is active, so the mouse enters.
  vdesk::mouseMove(client.left + 10, client.top + 20);
  EXPECT_EQ(eventTypes(drainInput().events), std::vector<int32_t>{9});
  vdesk::mouseMove(client.left + 13, client.top + 24);
  EXPECT_EQ(drainInput().events, (std::vector<EventRecord>{{4, 13, 24}}));

  int32_t x = -5, y = -5, wheel = -5, buttons = -5, clip = -5;
  EXPECT_EQ(underLock([&](const zv::WindowDriver& d) { return d.readMouse(&x, &y, &wheel, &buttons, &clip); }), 0);
  EXPECT_EQ(x, 13);
  EXPECT_EQ(y, 24);
  EXPECT_EQ(buttons, 0);
  EXPECT_EQ(clip, 0);

  // Outside the client area: a leave event, and no mouse data.
  vdesk::mouseMove(client.right + 50, client.bottom + 50);
  ASSERT_TRUE(waitFor([] { return eventTypes(drainInput().events) == std::vector<int32_t>{10}; }));
  x = -5;
  EXPECT_EQ(underLock([&](const zv::WindowDriver& d) { return d.readMouse(&x, &y, &wheel, &buttons, &clip); }), -1);
  EXPECT_EQ(x, -5);
  vdesk::hideExport("USER32", "TrackMouseEvent", false);
}

INSTANTIATE_TEST_SUITE_P(LeaveDetection, MousePresenceTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "timer" : "track_mouse_event"; });

TEST_F(DriverTest, FocusChangesPostEventsAndStopMouseData) {
  openMode(18);
  HWND window = theWindow();
  const RECT client = info(window).client_rect;
  vdesk::mouseMove(client.left + 1, client.top + 1);
  drainInput();
  vdesk::deactivateAll();
  // No window of the program has the keyboard now: wait for the events themselves.
  std::vector<int32_t> types;
  waitFor([&] {
    for (const zv::ScreenEvent& e : takeEvents()) types.push_back(e.type);
    return types.size() >= 2;
  });
  EXPECT_EQ(types, (std::vector<int32_t>{10, 12}));
  int32_t x = 0, y = 0, wheel = 0, buttons = 0, clip = 0;
  EXPECT_EQ(underLock([&](const zv::WindowDriver& d) { return d.readMouse(&x, &y, &wheel, &buttons, &clip); }), -1);
  vdesk::activate(window);
  // Active again with the cursor inside: focus, then the mouse enters.
  EXPECT_EQ(eventTypes(drainInput().events), (std::vector<int32_t>{11, 9}));
}

TEST_F(DriverTest, HighPriorityUpdateThreadDropsToNormalWithoutFocus) {
  openMode(18, 8, 0x80);
  HANDLE thread = zv::inputState().update_thread;
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_ABOVE_NORMAL);
  vdesk::deactivateAll();
  EXPECT_TRUE(waitFor([&] { return GetThreadPriority(thread) == THREAD_PRIORITY_NORMAL; }));
  vdesk::activate(theWindow());
  EXPECT_TRUE(waitFor([&] { return GetThreadPriority(thread) == THREAD_PRIORITY_ABOVE_NORMAL; }));
}

TEST_F(DriverTest, SetMouseWithoutPositionStillAppliesCursorAndClip) {
  openMode(18);
  const RECT client = info(theWindow()).client_rect;
  vdesk::mouseMove(client.left + 30, client.top + 40);
  drainInput();
  underLock([](const zv::WindowDriver& d) {
    d.setMouse(-1, 7, 0, 1);
    return 0;
  });
  drainInput();
  EXPECT_EQ(vdesk::cursor().x, client.left + 30);
  EXPECT_EQ(vdesk::cursor().y, client.top + 40);
  EXPECT_EQ(vdesk::cursorShape(), nullptr) << "the cursor is hidden over the client area";
  RECT clip{};
  ASSERT_TRUE(vdesk::cursorClip(&clip));
  EXPECT_EQ(clip.left, client.left);
  EXPECT_EQ(clip.top, client.top);
  EXPECT_EQ(clip.right, client.right);
  EXPECT_EQ(clip.bottom, client.bottom);
  int32_t x, y, wheel, buttons, reported_clip = 0;
  EXPECT_EQ(underLock([&](const zv::WindowDriver& d) { return d.readMouse(&x, &y, &wheel, &buttons, &reported_clip); }), 0);
  EXPECT_EQ(reported_clip, 1);

  // A position is clamped to the client area; clip 0 releases the cursor.
  underLock([](const zv::WindowDriver& d) {
    d.setMouse(5000, -3, 1, 0);
    return 0;
  });
  drainInput();
  EXPECT_EQ(vdesk::cursor().x, client.left + 639);
  EXPECT_EQ(vdesk::cursor().y, client.top);
  EXPECT_FALSE(vdesk::cursorClip(&clip));
  EXPECT_NE(vdesk::cursorShape(), nullptr);
}

TEST_F(DriverTest, MoveWindowKeepsAGivenCoordinateAndAnswersTheOldPosition) {
  openMode(18);
  HWND window = theWindow();
  const RECT before = info(window).window_rect;
  const int32_t answer = zv::currentScreen()->driver->moveWindow(100, INT32_MIN);
  EXPECT_EQ(answer, before.top * 65536 + (before.left & 0xFFFF));
  ASSERT_TRUE(waitFor([&] { return info(window).window_rect.left == 100; }));
  EXPECT_EQ(info(window).window_rect.top, before.top);
  EXPECT_EQ(info(window).window_rect.right - 100, before.right - before.left);
}

TEST_F(DriverTest, TitleChangesWhileTheDrawingSideHoldsTheLock) {
  openMode(18);
  HWND window = theWindow();
  zv::lockScreen();
  zv::setWindowTitle("Invarianten", 11);
  zv::unlockScreen(1, 0);
  EXPECT_EQ(info(window).title, "Invarianten");
  zv::setWindowTitle("frei", 4);
  EXPECT_EQ(info(window).title, "frei");
  // The window keeps working afterwards.
  vdesk::requestClose(window);
  EXPECT_EQ(drainInput().keys, std::vector<int32_t>{27647});
}

TEST_F(DriverTest, ASecondCloseIsHarmless) {
  ASSERT_TRUE(vdesk::screenSaverActive());
  openMode(18);
  EXPECT_FALSE(vdesk::screenSaverActive());
  const zv::WindowDriver* driver = zv::currentScreen()->driver;
  driver->close();
  EXPECT_TRUE(vdesk::windows().empty());
  EXPECT_TRUE(vdesk::screenSaverActive());
  EXPECT_EQ(zv::inputState().update_thread, nullptr);
  driver->close();
  EXPECT_TRUE(vdesk::windows().empty());
  EXPECT_TRUE(vdesk::screenSaverActive());
}

TEST_F(DriverTest, CloseWhileTheDrawingSideHoldsTheLock) {
  openMode(18);
  zv::lockScreen();
  zv::currentScreen()->driver->close();
  EXPECT_EQ(zv::currentScreen()->lock_count, 0);
  EXPECT_TRUE(vdesk::windows().empty());
}

}  // namespace
}  // namespace zvtest::drivers
