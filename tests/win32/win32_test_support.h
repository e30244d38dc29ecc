// Shared set-up of the Win32 layer's tests: a fresh virtual desktop per test, a
// window class whose procedure records every message it gets, and helpers that
// take the calling thread's messages.
#pragma once

#include "platform/win32/virtual_desktop.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <mutex>
#include <vector>

namespace zv::win32test {

struct Seen {
  HWND window;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
  bool operator==(const Seen&) const = default;
};

// Every message the recording procedure got, on whatever thread.
class MessageLog {
 public:
  void add(const Seen& seen) {
    std::lock_guard<std::mutex> hold(lock_);
    seen_.push_back(seen);
  }
  std::vector<Seen> take() {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<Seen> all;
    all.swap(seen_);
    return all;
  }
  std::vector<UINT> messages() {
    std::vector<UINT> list;
    for (const Seen& s : take()) list.push_back(s.message);
    return list;
  }

 private:
  std::mutex lock_;
  std::vector<Seen> seen_;
};

inline MessageLog& log() {
  static MessageLog l;
  return l;
}

inline LRESULT recordingProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  log().add(Seen{window, message, wparam, lparam});
  return DefWindowProcA(window, message, wparam, lparam);
}

inline constexpr const char* kClassName = "zvlayertest";

// Takes every message waiting for the calling thread without dispatching it;
// WM_PAINT (which stays until validated) is validated when taken.
inline std::vector<MSG> takeMessages(HWND filter = nullptr) {
  std::vector<MSG> all;
  MSG msg;
  while (PeekMessageA(&msg, filter, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_PAINT) ValidateRect(msg.hwnd, nullptr);
    all.push_back(msg);
  }
  return all;
}

// Takes, translates and dispatches every waiting message.
inline void pump(HWND filter = nullptr) {
  MSG msg;
  while (PeekMessageA(&msg, filter, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

class Win32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    zv::vdesk::enable(1024, 768, 32);
    WNDCLASSA wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = recordingProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = kClassName;
    ASSERT_NE(RegisterClassA(&wc), 0);
    log().take();
  }

  void TearDown() override {
    for (const auto& info : zv::vdesk::windows()) DestroyWindow(info.window);
    takeMessages();
    UnregisterClassA(kClassName, GetModuleHandleA(nullptr));
    zv::vdesk::disable();
    log().take();
  }

  // A visible, captioned window whose client area is width × height, made
  // foreground; its start-up messages are taken.
  HWND makeWindow(int width = 640, int height = 480, DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                  DWORD ex_style = 0) {
    RECT r{0, 0, width, height};
    AdjustWindowRectEx(&r, style, FALSE, ex_style);
    HWND window = CreateWindowExA(ex_style, kClassName, "test", style | WS_VISIBLE, 100, 50, r.right - r.left,
                                  r.bottom - r.top, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    EXPECT_NE(window, nullptr);
    SetForegroundWindow(window);
    takeMessages();
    log().take();
    return window;
  }
};

}  // namespace zv::win32test
