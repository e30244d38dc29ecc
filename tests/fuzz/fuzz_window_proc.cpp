// Fuzz target for the window procedure: arbitrary sequences of key, character and
// mouse messages with arbitrary wParam and lParam, handed to the procedure of a
// window on the virtual desktop. Nothing may crash, the key queue must hold what the
// character messages pushed (at most 15 codes), and every message may post at most
// one event into the event ring, whose indexes stay inside it. The virtual desktop
// exists where our own Win32 layer is built, that is everywhere but Windows.
#ifndef _WIN32
#include <cstdlib>

#include <windows.h>

#include "gfx/key_queue.h"
#include "gfx/screen_state.h"
#include "gfx/win32/window.h"
#include "platform/win32/virtual_desktop.h"
#include "tests/fuzz/fuzz_target.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

constexpr UINT MESSAGES[] = {
    WM_KEYDOWN,     WM_KEYUP,        WM_SYSKEYDOWN,   WM_CHAR,          WM_MOUSEMOVE,
    WM_LBUTTONDOWN, WM_LBUTTONUP,    WM_LBUTTONDBLCLK, WM_RBUTTONDOWN,  WM_RBUTTONUP,
    WM_MBUTTONDOWN, WM_MBUTTONUP,    WM_MOUSEWHEEL,   WM_XBUTTONDOWN,   WM_XBUTTONUP,
    WM_XBUTTONDBLCLK, WM_MOUSEHWHEEL, WM_MOUSELEAVE,  WM_USER,
};

uint32_t take32(const uint8_t*& data, size_t& size) {
  uint32_t value = 0;
  for (int i = 0; i < 4 && size > 0; ++i, --size) value = value << 8 | *data++;
  return value;
}

void exitHook() {
  zv::WindowState& w = zv::windowState();
  if (w.window) DestroyWindow(w.window);
  w.window = nullptr;
}

int32_t eventsHeld(const zv::ScreenState& s) {
  return (s.event_tail - s.event_head + zv::EVENT_QUEUE_SIZE) % zv::EVENT_QUEUE_SIZE;
}

}  // namespace

ZV_FUZZ_TARGET(window_proc) {
  static const bool desktop = [] {
    zv::vdesk::enable(800, 600, 32);
    return true;
  }();
  (void)desktop;
  if (size < 2) return 0;

  // A screen in memory and the window layer without an update thread: the window
  // belongs to this thread, which stands in for the update thread.
  zv::ScreenState* s = zv::createScreenState();
  s->width = 64;
  s->height = 16;
  s->scanline_size = 1;
  zv::normaliseScreenDepth(s, 8);
  check(zv::allocateScreenBuffers(s, 1));
  zv::setCurrentScreen(s);
  zv::resetKeyQueue();

  zv::WindowState& w = zv::windowState();
  w.clear();
  w.driver_exit = exitHook;
  const int32_t flags = zv::WINDOW_OPENGL | zv::WINDOW_NO_SWITCH | (data[0] & zv::WINDOW_HIGH_PRIORITY);
  check(zv::commonInitialise("fuzz", 64, 16, 8, 0, flags) == 0);
  check(zv::createWindow(WS_OVERLAPPED | WS_VISIBLE, 0, 10, 10, 100, 60) == 0);
  zv::pumpMessages();  // activation and first paint
  w.is_active = data[1] & 1;
  ++data;
  --size;
  ++data;
  --size;

  while (size >= 4) {
    const UINT message = MESSAGES[*data % (sizeof MESSAGES / sizeof MESSAGES[0])];
    const uint8_t repeat = data[1];
    const uint8_t shape = data[2];
    data += 3;
    size -= 3;
    // Mostly the small values that key and character messages carry.
    WPARAM wparam = take32(data, size);
    if (shape & 1) wparam &= 0xFF;
    else if (shape & 2) wparam &= 0xFFFF;
    // The repeat count (low word) stays small, so that a message pushes few keys.
    const LPARAM lparam = static_cast<LPARAM>((take32(data, size) & 0xFFFF0000u) | repeat);

    const int32_t keys_before = zv::keysQueued();
    const int32_t events_before = eventsHeld(*s);
    zv::windowProcedure(w.window, message, wparam, lparam);

    const int32_t keys_after = zv::keysQueued();
    check(keys_after >= 0 && keys_after < zv::KEY_QUEUE_SIZE);
    if (message == WM_CHAR) {
      const int32_t pushed = wparam > 255 ? 0 : repeat;
      check(keys_after == (keys_before + pushed < 15 ? keys_before + pushed : 15));
    } else if (message != WM_KEYDOWN && message != WM_SYSKEYDOWN) {
      check(keys_after == keys_before);
    }
    check(s->event_head >= 0 && s->event_head < zv::EVENT_QUEUE_SIZE);
    check(s->event_tail >= 0 && s->event_tail < zv::EVENT_QUEUE_SIZE);
    const int32_t events_after = eventsHeld(*s);
    check(events_after == events_before ||
          events_after == (events_before < zv::EVENT_QUEUE_SIZE - 1 ? events_before + 1 : events_before));
  }

  zv::pumpMessages();
  zv::commonExit();
  check(!IsWindow(w.window) && w.window == nullptr);
  zv::destroyScreenState(s);
  zv::resetKeyQueue();
  return 0;
}

#endif  // _WIN32
