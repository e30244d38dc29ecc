// What the window tests need of the desktop, asked through Win32 calls only, so that
// the same test runs against our Win32 layer (on its virtual desktop) and against
// Windows itself (Wine under Xvfb): keys go in by SendInput, the program's window is
// the visible one of this process, the display mode is what EnumDisplaySettingsA
// says, and the client area's pixels come from the window's device context (BitBlt
// into a DIB section).
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "tests/support/dib.h"

namespace zvtest {

// A key pressed or let go as the keyboard sends it: virtual key and scan code.
inline bool sendKey(WORD virtual_key, WORD scan, bool down) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = virtual_key;
  input.ki.wScan = scan;
  input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
  return SendInput(1, &input, sizeof(INPUT)) == 1;
}

// The visible window of a process (this one unless named; a program has one), or null.
inline HWND programWindow(DWORD process = GetCurrentProcessId()) {
  struct Search {
    DWORD process;
    HWND found;
  } search{process, nullptr};
  EnumWindows(
      [](HWND candidate, LPARAM context) -> BOOL {
        auto* search = reinterpret_cast<Search*>(context);
        DWORD owner = 0;
        GetWindowThreadProcessId(candidate, &owner);
        if (owner != search->process || !IsWindowVisible(candidate)) return TRUE;
        search->found = candidate;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The width of the display mode in force.
inline int32_t displayWidth() {
  DEVMODEA mode{};
  mode.dmSize = sizeof mode;
  return EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode) ? static_cast<int32_t>(mode.dmPelsWidth) : 0;
}

// Whether the display can switch to the mode: when its mode list has it (Xvfb alone
// lists only its own size; Wine's virtual desktop lists the usual modes; the tests
// choose the virtual desktop's).
inline bool displayOffersMode(int32_t width, int32_t height) {
  DEVMODEA mode{};
  mode.dmSize = sizeof mode;
  for (DWORD i = 0; EnumDisplaySettingsA(nullptr, i, &mode); ++i)
    if (static_cast<int32_t>(mode.dmPelsWidth) == width && static_cast<int32_t>(mode.dmPelsHeight) == height)
      return true;
  return false;
}

// The program's window is in front, frameless, covering the display mode's screen.
inline bool fullScreenWindowInFront(int32_t width, int32_t height) {
  HWND window = programWindow();
  RECT r{};
  if (!window || GetForegroundWindow() != window || !GetWindowRect(window, &r)) return false;
  const bool frameless = (GetWindowLongPtrA(window, GWL_STYLE) & WS_POPUP) != 0;
  return frameless && r.left == 0 && r.top == 0 && r.right == width && r.bottom == height;
}

// The window's client area as 0x00RRGGBB pixels, top row first.
inline std::vector<uint32_t> clientPixels(HWND window, int32_t* width, int32_t* height) {
  RECT client{};
  GetClientRect(window, &client);
  *width = client.right - client.left;
  *height = client.bottom - client.top;
  std::vector<uint32_t> pixels;
  if (*width <= 0 || *height <= 0) return pixels;
  const BITMAPINFO info = zv::test::bitmapInfo32(*width, *height);
  HDC screen = GetDC(window);
  HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (dib && bits) {
    HGDIOBJ previous = SelectObject(memory, dib);
    if (BitBlt(memory, 0, 0, *width, *height, screen, 0, 0, SRCCOPY)) {
      GdiFlush();
      const auto* p = static_cast<const uint32_t*>(bits);
      pixels.reserve(static_cast<size_t>(*width) * static_cast<size_t>(*height));
      for (size_t i = 0; i < static_cast<size_t>(*width) * static_cast<size_t>(*height); ++i)
        pixels.push_back(p[i] & 0xFFFFFF);
    }
    SelectObject(memory, previous);
    DeleteObject(dib);
  }
  DeleteDC(memory);
  ReleaseDC(window, screen);
  return pixels;
}

}  // namespace zvtest
