// Typing into the calculator's window, as hardware key events (SendInput): every key
// goes through the window's message queue, TranslateMessage, the window procedure
// and postKey as a real key would. Shared by the window tests and the window
// benchmarks; on our layer and on Windows alike, except the full-screen switch,
// which needs the virtual desktop's display modes.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "gfx/key_queue.h"
#include "gfx/win32/window.h"
#include "platform/platform.h"
#include "tests/gfx/win32/window_access.h"

namespace zvtest {

// Polls the condition every millisecond for up to a minute.
template <class Condition>
bool waitFor(Condition ready) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    zv::sleep_ms(1);
  }
  return true;
}

// The condition read under window_lock, where the update thread writes the key queue.
template <class Condition>
bool underWindowLock(Condition condition) {
  zv::windowLock();
  const bool result = condition();
  zv::windowUnlock();
  return result;
}

// Presses and releases the key of a digit, Enter ('\r') or the space bar.
inline void pressKey(char c) {
  uint16_t key = VK_SPACE;
  uint8_t scan = 0x39;
  if (c >= '1' && c <= '9') {
    key = static_cast<uint16_t>(c);
    scan = static_cast<uint8_t>(c - '1' + 2);
  } else if (c == '0') {
    key = '0';
    scan = 11;
  } else if (c == '\r') {
    key = VK_RETURN;
    scan = 0x1C;
  }
  sendKey(key, scan, true);
  sendKey(key, scan, false);
}

// Alt+Enter. When it switches to a display mode of the given width (0: no switch
// expected), the keys are let go once the new window is in front, as a person's
// fingers would: key messages are addressed to the window in front when they are typed.
inline bool pressAltEnter(int32_t new_display_width = 0) {
  sendKey(VK_MENU, 56, true);
  sendKey(VK_RETURN, 28, true);
  bool switched = true;
  if (new_display_width) {
    switched = waitFor([&] { return displayWidth() == new_display_width; }) && waitFor([] {
                 HWND window = programWindow();
                 return window && GetForegroundWindow() == window;
               });
  }
  sendKey(VK_RETURN, 28, false);
  sendKey(VK_MENU, 56, false);
  return switched;
}

// The program's window, once it exists and has the focus; null after a minute.
// Without a window manager nothing may give a new window the focus (under Xvfb); a
// person would click it.
inline HWND waitForProgramWindow() {
  HWND window = nullptr;
  waitFor([&] {
    window = programWindow();
    if (window && GetForegroundWindow() != window) SetForegroundWindow(window);
    return window && GetForegroundWindow() == window;
  });
  return window && GetForegroundWindow() == window ? window : nullptr;
}

inline uint64_t keysPostedSoFar() {
  zv::windowLock();
  const uint64_t posted = zv::keysPosted();
  zv::windowUnlock();
  return posted;
}

// Presses the key and waits until its code has reached the key queue and the
// condition holds (under window_lock).
template <class Condition>
bool pressAndWait(char c, Condition taken) {
  const uint64_t before = keysPostedSoFar();
  pressKey(c);
  return waitFor([&] { return underWindowLock([&] { return zv::keysPosted() > before && taken(); }); });
}

// Types each entry and Enter, each key once the one before has been read, so that
// none is dropped from a full queue.
inline bool typeEntries(const std::vector<std::string>& entries) {
  for (const std::string& entry : entries)
    for (char c : entry + "\r")
      if (!pressAndWait(c, [] { return zv::keysQueued() == 0; })) return false;
  return true;
}

// One key per pause. A pause takes the pressed flag, not the key, so each key waits
// until its pause has taken the flag.
inline bool typePauses(int pauses) {
  for (int pause = 1; pause <= pauses; ++pause)
    if (!pressAndWait(' ', [] { return zv::keyPressPending() == 0; })) return false;
  return true;
}

// When the program fell out of step: keeps it moving until it has finished, so that
// the caller can end and report.
inline void pressOnUntil(const std::atomic<bool>& finished) {
  while (!finished) {
    pressKey('\r');
    zv::sleep_ms(20);
  }
}

}  // namespace zvtest
