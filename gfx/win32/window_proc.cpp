// The window procedure of the graphics window: keyboard messages become key codes
// for the key queue and key events, character messages code page 437 key codes,
// mouse messages mouse state and mouse events, window messages focus, close and
// repaint actions; Alt+Enter and maximising switch between window and full screen.
// It runs on the thread that owns the window while that thread holds window_lock,
// which is what postKey and the key-state table require. Also the leave timer of the
// fallback leave detection.
#include <cstdlib>
#include <cstring>

#include "gfx/key_queue.h"
#include "gfx/palette.h"
#include "gfx/screen_state.h"
#include "common/key_translation.h"
#include "gfx/win32/window.h"

namespace zv {

namespace {

constexpr LPARAM ALT_DOWN_BIT = LPARAM{1} << 29;
constexpr LPARAM PREVIOUS_STATE_BIT = LPARAM{1} << 30;
constexpr LPARAM EXTENDED_KEY_BIT = LPARAM{1} << 24;
constexpr DWORD MAPPED_DEAD_KEY = 0x80000000u;

void post(const ScreenEvent& event) {
  if (event.type != 0) postEvent(event);
}

ScreenEvent event(int32_t type, int32_t a = 0, int32_t b = 0, int32_t c = 0, int32_t d = 0) {
  return ScreenEvent{type, {a, b, c, d}};
}

bool down(const BYTE* keyboard_state, int virtual_key) {
  return (keyboard_state[virtual_key] & 0x80) != 0;
}

// Asks for a WM_MOUSELEAVE once the cursor leaves the client area: TrackMouseEvent
// when USER32 has it, else the leave timer.
void requestLeaveNotification(HWND window) {
  WindowState& w = windowState();
  if (w.TrackMouseEvent) {
    TRACKMOUSEEVENT request{};
    request.cbSize = sizeof request;  // 24 bytes on 64-bit Windows, which refuses 16
    request.dwFlags = TME_LEAVE;
    request.hwndTrack = window;
    w.TrackMouseEvent(&request);
  } else {
    SetTimer(window, LEAVE_TIMER_ID, LEAVE_TIMER_INTERVAL, leaveTimerProcedure);
  }
}

// The first message with the cursor inside while active turns the pending event into
// a mouse-enter event; then the pending event is posted.
void mouseEnterCheck(HWND window, ScreenEvent pending) {
  WindowState& w = windowState();
  InputState& in = inputState();
  if (!in.mouse_inside && w.is_active) {
    requestLeaveNotification(window);
    in.mouse_inside = 1;
    pending = event(EVENT_MOUSE_ENTER);
    if (w.mouse_clip) confineCursor();
  }
  post(pending);
}

void mouseMove(HWND window, LPARAM lparam, POINT cursor) {
  WindowState& w = windowState();
  InputState& in = inputState();
  const int32_t x = LOWORD(lparam);
  const int32_t y = HIWORD(lparam);
  in.mouse_x = x;
  in.mouse_y = y;
  ScreenEvent pending = event(EVENT_MOUSE_MOVE, x, y);
  if (in.last_screen_x == NO_LAST_SCREEN_X) {
    pending.type = 0;
  } else {
    const int32_t dx = cursor.x - in.last_screen_x;
    const int32_t dy = cursor.y - in.last_screen_y;
    pending.data[2] = dx;
    pending.data[3] = dy;
    if ((dx == 0 && dy == 0) || !w.is_active) pending.type = 0;
  }
  in.last_screen_x = cursor.x;
  in.last_screen_y = cursor.y;
  mouseEnterCheck(window, pending);
}

void buttonDown(HWND window, int32_t mask, bool double_click) {
  SetCapture(window);
  inputState().mouse_buttons |= mask;
  post(event(double_click ? EVENT_DOUBLE_CLICK : EVENT_BUTTON_DOWN, mask));
}

void buttonUp(HWND window, int32_t mask) {
  InputState& in = inputState();
  in.mouse_buttons &= ~mask;
  if (in.mouse_buttons == 0 && GetCapture() == window) ReleaseCapture();
  post(event(EVENT_BUTTON_UP, mask));
}

void extraButtonDown(HWND window, WPARAM wparam, bool double_click) {
  InputState& in = inputState();
  SetCapture(window);
  in.buttons_before = in.mouse_buttons;
  int32_t buttons = in.buttons_before;
  if (wparam & MK_XBUTTON1) buttons |= 8;
  if (wparam & MK_XBUTTON2) buttons |= 16;
  in.mouse_buttons = buttons;
  post(event(double_click ? EVENT_DOUBLE_CLICK : EVENT_BUTTON_DOWN, buttons & ~in.buttons_before));
}

void extraButtonUp(HWND window, WPARAM wparam) {
  InputState& in = inputState();
  in.buttons_before = in.mouse_buttons;
  int32_t buttons = in.buttons_before;
  if (!(wparam & MK_XBUTTON1)) buttons &= ~8;
  if (!(wparam & MK_XBUTTON2)) buttons &= ~16;
  in.mouse_buttons = buttons;
  if (buttons == 0 && GetCapture() == window) ReleaseCapture();
  post(event(EVENT_BUTTON_UP, in.buttons_before & ~buttons));
}

// One notch per message, by the sign of the delta in the high word.
void wheelStep(std::atomic<int32_t>& position, WPARAM wparam, int32_t type) {
  const int32_t signed_value = static_cast<int32_t>(static_cast<uint32_t>(wparam));
  position += signed_value >= 1 ? 1 : -1;
  post(event(type, position));
}

uint32_t modifierWord(const BYTE* keys, LPARAM lparam) {
  uint32_t modifiers = 0;
  if (down(keys, VK_SHIFT) || down(keys, VK_LSHIFT) || down(keys, VK_RSHIFT)) modifiers |= KEYMOD_SHIFT;
  if (down(keys, VK_CONTROL) || down(keys, VK_LCONTROL)) modifiers |= KEYMOD_LEFT_CTRL;
  if (down(keys, VK_RCONTROL)) modifiers |= KEYMOD_RIGHT_CTRL;
  if (down(keys, VK_MENU) || down(keys, VK_LMENU)) modifiers |= KEYMOD_LEFT_ALT;
  if (down(keys, VK_RMENU)) modifiers |= KEYMOD_RIGHT_ALT;
  if (lparam & EXTENDED_KEY_BIT) modifiers |= KEYMOD_EXTENDED;
  return modifiers;
}

LRESULT keyMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  const uint8_t scan = static_cast<uint8_t>((lparam >> 16) & 0xFF);
  const UINT virtual_key = LOWORD(wparam);
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  const uint32_t modifiers = modifierWord(keys, lparam);

  // A dead key gives no character, and asking ToAscii would spend the accent.
  uint8_t character = 0;
  if (!(MapVirtualKeyA(virtual_key, MAPVK_VK_TO_CHAR) & MAPPED_DEAD_KEY)) {
    WORD produced[2] = {0, 0};
    if (ToAscii(virtual_key, scan, keys, produced, 0) == 1) character = static_cast<uint8_t>(produced[0]);
  }
  const int32_t code = translateKey(character, scan, virtual_key, modifiers);

  int32_t type;
  if (message == WM_KEYUP) {
    type = EVENT_KEY_UP;
  } else {
    type = (lparam & PREVIOUS_STATE_BIT) ? EVENT_KEY_REPEAT : EVENT_KEY_DOWN;
    if (code > 255)
      for (int32_t repeat = LOWORD(lparam); repeat > 0; --repeat) postKey(code);
  }
  const ScreenEvent key_event =
      event(type, scanCodeOfVirtualKey(virtual_key), code >= 0 && code <= 255 ? code : 0);

  // F10 and Alt never open the system menu, and Alt+F4 is a close request only.
  if (virtual_key == VK_F10 || virtual_key == VK_MENU || code == KEY_CLOSE_REQUEST) return 0;
  post(key_event);
  return DefWindowProcA(window, message, wparam, lparam);
}

// Grows a conversion buffer to at least needed + 1 units; a buffer that cannot grow
// keeps its old room and is emptied.
template <class Unit>
bool growBuffer(Unit*& buffer, int32_t& capacity, int32_t needed) {
  if (needed < capacity) return true;
  void* grown = std::realloc(buffer, (static_cast<size_t>(needed) + 1) * sizeof(Unit));
  if (!grown) {
    if (buffer) buffer[0] = 0;
    return false;
  }
  buffer = static_cast<Unit*>(grown);
  capacity = needed + 1;
  return true;
}

// The ANSI character of a WM_CHAR as code page 437: through UTF-16, 0 when it cannot
// be converted.
int32_t characterCode(uint8_t character) {
  InputState& in = inputState();
  const char source = static_cast<char>(character);
  const int wide_length = MultiByteToWideChar(CP_ACP, 0, &source, 1, nullptr, 0);
  if (wide_length <= 0 || !growBuffer(in.wide_buffer, in.wide_capacity, wide_length)) return 0;
  if (MultiByteToWideChar(CP_ACP, 0, &source, 1, in.wide_buffer, in.wide_capacity) != wide_length)
    return 0;
  const int byte_length =
      WideCharToMultiByte(437, 0, in.wide_buffer, wide_length, nullptr, 0, nullptr, nullptr);
  if (byte_length <= 0 || !growBuffer(in.byte_buffer, in.byte_capacity, byte_length)) return 0;
  if (WideCharToMultiByte(437, 0, in.wide_buffer, wide_length, in.byte_buffer, in.byte_capacity,
                          nullptr, nullptr) != byte_length)
    return 0;
  return static_cast<uint8_t>(in.byte_buffer[0]);
}

LRESULT characterMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (wparam > 255) return DefWindowProcA(window, message, wparam, lparam);
  const int32_t code = wparam == 0 ? 0 : characterCode(static_cast<uint8_t>(wparam));
  for (int32_t repeat = LOWORD(lparam); repeat > 0; --repeat) postKey(code);
  return DefWindowProcA(window, message, wparam, lparam);
}

LRESULT activation(HWND window, WPARAM wparam) {
  WindowState& w = windowState();
  InputState& in = inputState();
  const bool minimised = HIWORD(wparam) != 0;
  const bool active = LOWORD(wparam) != WA_INACTIVE && !minimised;
  w.is_active = active ? 1 : 0;
  // The procedure runs on the update thread when there is one.
  if (in.update_thread_id != 0 && in.update_thread_id == GetCurrentThreadId() &&
      (w.flags & WINDOW_HIGH_PRIORITY))
    SetThreadPriority(GetCurrentThread(), active ? THREAD_PRIORITY_ABOVE_NORMAL : THREAD_PRIORITY_NORMAL);
  if (ScreenState* s = currentScreen()) {
    if (s->key_states) std::memset(s->key_states, 0, KEY_STATE_COUNT);
  }
  in.mouse_buttons = 0;
  markAllLinesDirty();
  if (!active && in.mouse_inside) {
    post(event(EVENT_MOUSE_LEAVE));
    in.mouse_inside = 0;
    KillTimer(window, LEAVE_TIMER_ID);
  }
  // Activation of a window that stays minimised is no focus change.
  if (!(LOWORD(wparam) != WA_INACTIVE && minimised))
    post(event(active ? EVENT_FOCUS_GAINED : EVENT_FOCUS_LOST));
  if (active && in.mouse_in_client) {
    mouseEnterCheck(window, event(0));
    return 0;
  }
  if (w.mouse_clip) {
    if (active) confineCursor();
    else ClipCursor(nullptr);
  }
  return 0;
}

// Destroys the window and its presentation resources and builds them again with the
// full-screen flag toggled; when that fails, once more in the previous mode.
LRESULT fullscreenSwitch(HWND window) {
  WindowState& w = windowState();
  InputState& in = inputState();
  if (in.mouse_inside) post(event(EVENT_MOUSE_LEAVE));
  if (w.flags & WINDOW_NO_SWITCH) return 0;
  w.monitor = w.MonitorFromWindow ? w.MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST) : nullptr;
  if (w.mouse_clip) ClipCursor(nullptr);
  if (w.driver_exit) w.driver_exit();
  w.flags ^= WINDOW_FULL_SCREEN;
  if (w.driver_init && w.driver_init() != 0) {
    if (w.driver_exit) w.driver_exit();
    w.flags ^= WINDOW_FULL_SCREEN;
    w.driver_init();
  }
  resendPalette();
  markAllLinesDirty();
  in.mouse_inside = 0;
  w.is_active = 1;
  return 0;
}

}  // namespace

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  WindowState& w = windowState();
  InputState& in = inputState();

  const RECT client_on_screen = clientRectOnScreen(window);
  POINT cursor{};
  GetCursorPos(&cursor);
  in.mouse_in_client = PtInRect(&client_on_screen, cursor) ? 1 : 0;

  switch (message) {
    case WM_SIZE:
      if (w.is_active && wparam == SIZE_MAXIMIZED) return fullscreenSwitch(window);
      break;
    case WM_ACTIVATE:
      return activation(window, wparam);
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);
      if (w.driver_paint) w.driver_paint();
      EndPaint(window, &paint);
      break;
    }
    case WM_CLOSE:
      postKey(KEY_CLOSE_REQUEST);
      post(event(EVENT_CLOSE_REQUEST));
      return 0;
    case WM_SETCURSOR:
      SetCursor(in.mouse_in_client && !in.cursor_visible ? nullptr : w.window_class.hCursor);
      return TRUE;
    case WM_DISPLAYCHANGE:
      if (w.driver_paint) w.driver_paint();
      markAllLinesDirty();
      break;
    case WM_KEYDOWN:
    case WM_KEYUP:
      return keyMessage(window, message, wparam, lparam);
    case WM_SYSKEYDOWN:
      if (!w.is_active) break;
      if (wparam == VK_RETURN && (lparam & ALT_DOWN_BIT)) return fullscreenSwitch(window);
      return keyMessage(window, message, wparam, lparam);
    case WM_CHAR:
      return characterMessage(window, message, wparam, lparam);
    case WM_MOUSEMOVE:
      mouseMove(window, lparam, cursor);
      break;
    case WM_LBUTTONDOWN: buttonDown(window, 1, false); break;
    case WM_LBUTTONDBLCLK: buttonDown(window, 1, true); break;
    case WM_LBUTTONUP: buttonUp(window, 1); break;
    case WM_RBUTTONDOWN: buttonDown(window, 2, false); break;
    case WM_RBUTTONDBLCLK: buttonDown(window, 2, true); break;
    case WM_RBUTTONUP: buttonUp(window, 2); break;
    case WM_MBUTTONDOWN: buttonDown(window, 4, false); break;
    case WM_MBUTTONDBLCLK: buttonDown(window, 4, true); break;
    case WM_MBUTTONUP: buttonUp(window, 4); break;
    case WM_MOUSEWHEEL:
      if (w.version >= WINDOWS_VERSION_4_10) wheelStep(in.wheel, wparam, EVENT_WHEEL);
      break;
    case WM_XBUTTONDOWN:
    case WM_XBUTTONDBLCLK:
      if (w.version >= WINDOWS_VERSION_5_0) extraButtonDown(window, wparam, message == WM_XBUTTONDBLCLK);
      break;
    case WM_XBUTTONUP:
      if (w.version >= WINDOWS_VERSION_5_0) extraButtonUp(window, wparam);
      break;
    case WM_MOUSEHWHEEL:
      if (w.version >= WINDOWS_VERSION_5_0) wheelStep(in.hwheel, wparam, EVENT_HORIZONTAL_WHEEL);
      break;
    case WM_MOVING:
      if (w.mouse_clip) ClipCursor(nullptr);
      break;
    case WM_MOUSELEAVE:
      if (!w.is_active) break;
      post(event(EVENT_MOUSE_LEAVE));
      in.mouse_inside = 0;
      return 0;
    case WM_USER:
      mouseEnterCheck(window, event(0));
      return 0;
    default:
      break;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

VOID CALLBACK leaveTimerProcedure(HWND window, UINT, UINT_PTR, DWORD) {
  const RECT client_on_screen = clientRectOnScreen(window);
  POINT cursor{};
  GetCursorPos(&cursor);
  if (PtInRect(&client_on_screen, cursor) && WindowFromPoint(cursor) == window) return;
  KillTimer(window, LEAVE_TIMER_ID);
  PostMessageA(window, WM_MOUSELEAVE, 0, 0);
}

}  // namespace zv
