// Fuzz target: key sequences on the virtual desktop with the focus window destroyed,
// replaced or left alone between the keys, and messages taken (and translated) at
// arbitrary points. However the keys and the windows interleave, once every key is
// released and every message taken, the thread's keyboard state holds no key down and
// no message is left for a window that is gone. Where our own Win32 layer is built
// (not on Windows).
#ifndef _WIN32
#include <cstdlib>
#include <vector>

#include <windows.h>

#include "platform/win32/virtual_desktop.h"
#include "tests/fuzz/fuzz_target.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

LRESULT CALLBACK plainProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(window, message, wparam, lparam);
}

// Keys a sequence presses: modifiers (sided and generic), letters, Enter, an
// extended key, F10, and a dead key's accent.
struct Key {
  uint16_t vk;
  uint8_t scan;
  bool extended;
  int character;
};
constexpr Key KEYS[] = {{VK_MENU, 0x38, false, -1},   {VK_RMENU, 0x38, true, -2},  {VK_SHIFT, 0x2A, false, -1},
                        {VK_CONTROL, 0x1D, false, -1}, {'A', 0x1E, false, -1},      {'E', 0x12, false, 'e'},
                        {VK_RETURN, 0x1C, false, -1}, {VK_LEFT, 0x4B, true, -1},    {VK_F10, 0x44, false, -1},
                        {VK_OEM_6, 0x0D, false, 0x10000 + 0xB4}};
constexpr size_t KEY_COUNT = sizeof KEYS / sizeof KEYS[0];

HWND makeWindow() {
  return CreateWindowExA(0, "zvfuzzkeys", "", WS_POPUP | WS_VISIBLE, 0, 0, 64, 32, nullptr, nullptr, nullptr, nullptr);
}

void takeAll(bool translate) {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    check(msg.hwnd == nullptr || IsWindow(msg.hwnd));
    if (msg.message == WM_PAINT) ValidateRect(msg.hwnd, nullptr);  // it stays until validated
    if (translate) TranslateMessage(&msg);
  }
}

}  // namespace

ZV_FUZZ_TARGET(key_sequences) {
  zv::vdesk::enable(640, 480, 32);
  WNDCLASSA wc{};
  wc.lpfnWndProc = plainProc;
  wc.lpszClassName = "zvfuzzkeys";
  RegisterClassA(&wc);
  HWND window = makeWindow();
  check(window != nullptr);
  bool held[KEY_COUNT] = {};
  // Each byte: bits 0-3 a key (or, past the table, an action), bit 4 press or release.
  for (size_t i = 0; i < size; ++i) {
    const uint8_t byte = data[i];
    const size_t index = byte & 0x0F;
    if (index < KEY_COUNT) {
      const Key& key = KEYS[index];
      const bool down = (byte & 0x10) != 0;
      zv::vdesk::key(key.vk, key.scan, key.extended, down, key.character);
      held[index] = down;
      continue;
    }
    switch (index - KEY_COUNT) {
      case 0:  // the window replaced, as a switch to full screen does
        if (window) DestroyWindow(window);
        window = makeWindow();
        break;
      case 1:  // the window gone
        if (window) DestroyWindow(window);
        window = nullptr;
        break;
      case 2: takeAll((byte & 0x20) != 0); break;
      default: {  // one message taken
        MSG msg;
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) break;
        if (msg.message == WM_PAINT) ValidateRect(msg.hwnd, nullptr);
        if (byte & 0x20) TranslateMessage(&msg);
        break;
      }
    }
  }
  if (!window) window = makeWindow();
  for (size_t k = 0; k < KEY_COUNT; ++k) {
    if (held[k]) zv::vdesk::key(KEYS[k].vk, KEYS[k].scan, KEYS[k].extended, false, KEYS[k].character);
  }
  takeAll(true);
  BYTE state[256];
  check(GetKeyboardState(state) != FALSE);
  for (int vk = 0; vk < 256; ++vk) check((state[vk] & 0x80) == 0);
  DestroyWindow(window);
  takeAll(false);
  UnregisterClassA("zvfuzzkeys", nullptr);
  zv::vdesk::disable();
  return 0;
}
#endif  // _WIN32
