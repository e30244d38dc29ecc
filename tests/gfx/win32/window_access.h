// What the window tests need of the desktop, asked through Win32 calls, so that the
// same test runs against our Win32 layer (on its virtual desktop) and against
// Windows itself (Wine under Xvfb): keys go in by SendInput and the program's window
// is the one in front. The client area's pixels come from the window's device
// context (BitBlt into a DIB section) on Windows; our layer has no BitBlt, so there
// the virtual desktop hands them over.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#ifndef _WIN32
#include "platform/win32/virtual_desktop.h"
#endif

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

// The window's client area as 0x00RRGGBB pixels, top row first.
inline std::vector<uint32_t> clientPixels(HWND window, int32_t* width, int32_t* height) {
#ifdef _WIN32
  RECT client{};
  GetClientRect(window, &client);
  *width = client.right - client.left;
  *height = client.bottom - client.top;
  std::vector<uint32_t> pixels;
  if (*width <= 0 || *height <= 0) return pixels;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = *width;
  info.bmiHeader.biHeight = -*height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
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
#else
  return zv::vdesk::clientPixels(window, width, height);
#endif
}

}  // namespace zvtest
