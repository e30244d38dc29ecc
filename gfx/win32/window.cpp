// The window layer shared by the window drivers: common initialisation with the
// update thread's start-up handshake, window creation, the message pump, window_lock
// and the driver operations that every driver shares, and the common exit.
#include "gfx/win32/window.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "gfx/key_queue.h"
#include "gfx/screen_state.h"

namespace zv {

namespace {

WindowState window_state;
InputState input_state;

DWORD WINAPI updateThreadEntry(LPVOID start_event) {
  input_state.update_thread_id = GetCurrentThreadId();
  return window_state.driver_thread(static_cast<HANDLE>(start_event));
}

void freeConversionBuffers() {
  std::free(input_state.wide_buffer);
  std::free(input_state.byte_buffer);
  input_state.wide_buffer = nullptr;
  input_state.byte_buffer = nullptr;
  input_state.wide_capacity = 0;
  input_state.byte_capacity = 0;
}

// window_lock exists while the update thread's driver is open.
bool haveWindowLock() { return window_state.is_running && input_state.update_thread; }

// True when the drawing side holds window_lock (the screen lock is taken).
bool drawingSideHoldsLock() {
  const ScreenState* s = currentScreen();
  return haveWindowLock() && s && s->lock_count != 0;
}

// Holds window_lock for the program thread unless its drawing side holds it already.
class ProgramSideLock {
 public:
  ProgramSideLock() : taken_(haveWindowLock() && !drawingSideHoldsLock()) {
    if (taken_) EnterCriticalSection(&input_state.window_lock);
  }
  ~ProgramSideLock() {
    if (taken_) LeaveCriticalSection(&input_state.window_lock);
  }
  ProgramSideLock(const ProgramSideLock&) = delete;
  ProgramSideLock& operator=(const ProgramSideLock&) = delete;

 private:
  bool taken_;
};

// Whether the update thread has something to show: rows marked dirty or a palette
// change. Under window_lock.
bool presentationWanted() {
  if (window_state.palette_changed) return true;
  const ScreenState* s = currentScreen();
  return s && s->dirty_lines && s->height > 0 &&
         std::memchr(s->dirty_lines, 1, static_cast<size_t>(s->height)) != nullptr;
}

}  // namespace

void WindowState::clear() {
  version = 0;
  instance = nullptr;
  std::memset(&window_class, 0, sizeof window_class);
  window = nullptr;
  std::memset(palette_entries, 0, sizeof palette_entries);
  converter = nullptr;
  monitor = nullptr;
  is_running = 0;
  palette_changed = 0;
  is_active = 0;
  width = height = depth = refresh_rate = flags = 0;
  title.clear();
  std::memset(class_name, 0, sizeof class_name);
  driver_init = nullptr;
  driver_exit = nullptr;
  driver_paint = nullptr;
  driver_thread = nullptr;
  mouse_clip = 0;
  SetLayeredWindowAttributes = nullptr;
  MonitorFromWindow = nullptr;
  MonitorFromPoint = nullptr;
  FlashWindowEx = nullptr;
  TrackMouseEvent = nullptr;
  GetMonitorInfoA = nullptr;
  ChangeDisplaySettingsExA = nullptr;
}

WindowState& windowState() { return window_state; }
InputState& inputState() { return input_state; }

int32_t commonInitialise(const char* title, int32_t width, int32_t height, int32_t depth,
                         int32_t refresh_rate, int32_t flags) {
  WindowState& w = window_state;
  InputState& in = input_state;

  // Without a display no window can open: fail before a thread starts, so that a run
  // on the terminal pays nothing for the drivers it tries.
  if (GetSystemMetrics(SM_CMONITORS) == 0) return -1;

  OSVERSIONINFOA version_info{};
  version_info.dwOSVersionInfoSize = sizeof version_info;
  if (GetVersionExA(&version_info))
    w.version = static_cast<int32_t>(version_info.dwMajorVersion * 256 + version_info.dwMinorVersion);

  if (HMODULE user32 = GetModuleHandleA("USER32")) {
    w.SetLayeredWindowAttributes =
        entryPoint<SetLayeredWindowAttributesFunction>(user32, "SetLayeredWindowAttributes");
    w.MonitorFromWindow = entryPoint<MonitorFromWindowFunction>(user32, "MonitorFromWindow");
    w.MonitorFromPoint = entryPoint<MonitorFromPointFunction>(user32, "MonitorFromPoint");
    w.FlashWindowEx = entryPoint<FlashWindowExFunction>(user32, "FlashWindowEx");
    w.TrackMouseEvent = entryPoint<TrackMouseEventFunction>(user32, "TrackMouseEvent");
    w.GetMonitorInfoA = entryPoint<GetMonitorInfoAFunction>(user32, "GetMonitorInfoA");
    w.ChangeDisplaySettingsExA =
        entryPoint<ChangeDisplaySettingsExAFunction>(user32, "ChangeDisplaySettingsExA");
  }

  w.monitor = nullptr;
  if (w.MonitorFromPoint) {
    POINT cursor{};
    GetCursorPos(&cursor);
    w.monitor = w.MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST);
  }

  in.cursor_visible = 1;
  in.last_screen_x = NO_LAST_SCREEN_X;
  // A new window has not seen the mouse enter yet, whatever the last one saw.
  in.mouse_inside = 0;
  w.mouse_clip = 0;

  in.saved_screensaver = FALSE;
  SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &in.saved_screensaver, 0);
  SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, FALSE, nullptr, 0);

  w.instance = GetModuleHandleA(nullptr);
  w.title = title ? title : "";
  static constexpr char class_prefix[] = "zvgfxclass_";
  std::memset(w.class_name, 0, sizeof w.class_name);
  std::memcpy(w.class_name, class_prefix, sizeof class_prefix - 1);
  std::strncpy(w.class_name + sizeof class_prefix - 1, w.title.c_str(), CLASS_TITLE_CHARACTERS);
  w.width = width;
  w.height = height;
  w.depth = depth;
  w.refresh_rate = refresh_rate;
  w.flags = flags;

  std::memset(&w.window_class, 0, sizeof w.window_class);
  w.window_class.lpfnWndProc = windowProcedure;
  w.window_class.hInstance = w.instance;
  w.window_class.hIcon = LoadIconA(w.instance, "ZV_PROGRAM_ICON");
  if (!w.window_class.hIcon) w.window_class.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  w.window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  w.window_class.lpszClassName = w.class_name;

  const bool opengl = (flags & WINDOW_OPENGL) != 0;
  w.window_class.style = opengl ? CS_DBLCLKS : CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
  RegisterClassA(&w.window_class);
  in.wheel = 0;
  in.mouse_buttons = 0;
  w.is_running = 1;
  freeConversionBuffers();
  in.update_thread = nullptr;
  if (opengl) return 0;

  HANDLE start_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (!start_event) return -1;
  if (!in.update_wake) in.update_wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (!in.update_wake) {
    CloseHandle(start_event);
    return -1;
  }
  in.update_requested = false;
  InitializeCriticalSection(&in.window_lock);
  DWORD thread_id = 0;
  HANDLE thread = CreateThread(nullptr, 0, updateThreadEntry, start_event, 0, &thread_id);
  if (!thread) {
    DeleteCriticalSection(&in.window_lock);
    CloseHandle(start_event);
    return -1;
  }
  // The thread signals the event once its init hook succeeded, or ends without.
  const HANDLE handles[2] = {start_event, thread};
  const DWORD woken = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
  CloseHandle(start_event);
  in.update_thread = thread;
  if (woken != WAIT_OBJECT_0) return -1;
  if (flags & WINDOW_HIGH_PRIORITY) SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL);
  return 0;
}

int32_t createWindow(DWORD style, DWORD ex_style, int32_t x, int32_t y, int32_t width,
                     int32_t height) {
  WindowState& w = window_state;
  HWND window = CreateWindowExA(ex_style, w.class_name, w.title.c_str(), style, x, y, width,
                                height, nullptr, nullptr, w.instance, nullptr);
  if (!window) return -1;
  w.window = window;
  if (w.flags & WINDOW_ON_TOP)
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSENDCHANGING | SWP_NOMOVE | SWP_NOSIZE);
  SetForegroundWindow(window);
  return 0;
}

int32_t pumpMessages() {
  MSG message;
  int32_t handled = 0;
  // The window can change while a message is handled (a fullscreen switch), so the
  // filter is read again for every message.
  while (window_state.window &&
         PeekMessageA(&message, window_state.window, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
    ++handled;
  }
  return handled;
}

DWORD runUpdateThread(HANDLE start_event, int32_t (*set_up)(), void (*teardown)(),
                      uint32_t (*cycle)(uint32_t in)) {
  using Clock = std::chrono::steady_clock;
  constexpr auto period = std::chrono::milliseconds(UPDATE_PERIOD_MS);
  InputState& in = input_state;
  if (set_up() != 0) {
    // Whatever the set-up made is released by its owner, this thread.
    teardown();
    return 1;
  }
  SetEvent(start_event);
  window_state.is_active = 1;
  Clock::time_point last_frame = Clock::now() - period;
  uint64_t keys_seen = keysPosted();
  int32_t answering_frames = 0;
  bool after_input = true;  // the first cycle looks at everything
  while (window_state.is_running) {
    // Wakes asked for until now are answered by this cycle; one asked for from here on
    // is new (the event first, so that no request is lost between the two).
    ResetEvent(in.update_wake);
    in.update_requested = false;
    EnterCriticalSection(&in.window_lock);
    const Clock::time_point now = Clock::now();
    const uint64_t keys = keysPosted();  // postKey runs on this thread, inside the lock
    if (keys != keys_seen) {
      keys_seen = keys;
      answering_frames = FRAMES_ANSWERING_A_KEY;
    }
    const bool may_present = answering_frames > 0 || now - last_frame >= period;
    const uint32_t done = cycle((may_present ? CYCLE_MAY_PRESENT : 0) | (after_input ? CYCLE_AFTER_INPUT : 0));
    const int32_t handled = pumpMessages();
    const bool held_back = !may_present && presentationWanted();
    LeaveCriticalSection(&in.window_lock);
    in.update_cycles.fetch_add(1, std::memory_order_relaxed);
    if (done & CYCLE_PRESENTED) {
      last_frame = now;
      if (answering_frames > 0) --answering_frames;
    }
    after_input = handled > 0;
    DWORD timeout = INFINITE;
    if (handled > 0) {
      // At once again: the key states follow the messages just handled, and keys
      // they posted are answered.
      timeout = 0;
    } else if (held_back || (done & CYCLE_RETRY)) {
      // Rounded up: a wait cut short would only look again and again until the time.
      const auto due = std::chrono::ceil<std::chrono::milliseconds>(last_frame + period - Clock::now());
      timeout = (done & CYCLE_RETRY) ? UPDATE_PERIOD_MS : static_cast<DWORD>(std::max<int64_t>(due.count(), 0));
    }
    // Frames held back wait for the period whatever the program draws meanwhile; its
    // wakes count again from the next cycle on.
    const DWORD wakes = held_back ? 0 : 1;
    if (window_state.is_running) MsgWaitForMultipleObjects(wakes, &in.update_wake, FALSE, timeout, QS_ALLINPUT);
  }
  // The window goes with the thread that owns it; the exit finds nothing left.
  EnterCriticalSection(&in.window_lock);
  teardown();
  LeaveCriticalSection(&in.window_lock);
  return 0;
}

void requestUpdateCycle() {
  InputState& in = input_state;
  if (in.update_wake && !in.update_requested.exchange(true)) SetEvent(in.update_wake);
}

RECT clientRectOnScreen(HWND window) {
  RECT client{};
  GetClientRect(window, &client);
  POINT top_left{client.left, client.top};
  POINT bottom_right{client.right, client.bottom};
  ClientToScreen(window, &top_left);
  ClientToScreen(window, &bottom_right);
  return RECT{top_left.x, top_left.y, bottom_right.x, bottom_right.y};
}

void confineCursor() {
  HWND window = window_state.window;
  if (!window) return;
  const RECT clip = clientRectOnScreen(window);
  ClipCursor(&clip);
}

void windowLock() { EnterCriticalSection(&input_state.window_lock); }
// The drawing side leaves the lock; what it drew or changed wakes the update thread.
void windowUnlock() {
  const bool wanted = presentationWanted();
  LeaveCriticalSection(&input_state.window_lock);
  if (wanted) requestUpdateCycle();
}

void windowSetColour(int32_t index, int32_t red, int32_t green, int32_t blue) {
  if (index < 0 || index > 255) return;
  PALETTEENTRY& entry = window_state.palette_entries[index];
  entry.peRed = static_cast<BYTE>(red);
  entry.peGreen = static_cast<BYTE>(green);
  entry.peBlue = static_cast<BYTE>(blue);
  entry.peFlags = PC_NOCOLLAPSE;
  window_state.palette_changed = 1;
}

void windowWaitRetrace() {
  const ScreenState* s = currentScreen();
  const int32_t rate = s ? s->refresh_rate.load() : 0;
  Sleep(rate > 0 ? static_cast<DWORD>(1000 / rate) : 16);
}

int32_t windowReadMouse(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip) {
  if (!window_state.is_active || !input_state.mouse_in_client) return -1;
  if (x) *x = input_state.mouse_x;
  if (y) *y = input_state.mouse_y;
  if (wheel) *wheel = input_state.wheel;
  if (buttons) *buttons = input_state.mouse_buttons;
  if (clip) *clip = window_state.mouse_clip;
  return 0;
}

void windowSetMouse(int32_t x, int32_t y, int32_t cursor, int32_t clip) {
  WindowState& w = window_state;
  InputState& in = input_state;
  ProgramSideLock hold;
  HWND window = w.window;
  if (x >= 0) {
    if (x > w.width - 1) x = w.width - 1;
    if (y > w.height - 1) y = w.height - 1;
    if (y < 0) y = 0;
    POINT at{x, y};
    if (!(w.flags & WINDOW_FULL_SCREEN) && window) ClientToScreen(window, &at);
    SetCursorPos(at.x, at.y);
    in.mouse_x = x;
    in.mouse_y = y;
  }
  if (cursor > 0 && !in.cursor_visible) {
    in.cursor_visible = 1;
    if (window) PostMessageA(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window), HTCLIENT);
  } else if (cursor == 0 && in.cursor_visible) {
    in.cursor_visible = 0;
    if (window) PostMessageA(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window), HTCLIENT);
  }
  if (clip == 0) {
    w.mouse_clip = 0;
    ClipCursor(nullptr);
  } else if (clip > 0) {
    w.mouse_clip = 1;
    confineCursor();
  }
}

void windowSetTitle(const char* title) {
  WindowState& w = window_state;
  if (!w.is_running) return;
  std::string text = title ? title : "";
  HWND window;
  // The window belongs to the update thread, which needs window_lock to handle the
  // title change: the lock is not held across SetWindowTextA.
  if (drawingSideHoldsLock()) {
    w.title = text;
    window = w.window;
    LeaveCriticalSection(&input_state.window_lock);
    if (window) SetWindowTextA(window, text.c_str());
    EnterCriticalSection(&input_state.window_lock);
  } else {
    {
      ProgramSideLock hold;
      w.title = text;
      window = w.window;
    }
    if (window) SetWindowTextA(window, text.c_str());
  }
}

int32_t windowMoveWindow(int32_t x, int32_t y) {
  WindowState& w = window_state;
  ProgramSideLock hold;
  if ((w.flags & WINDOW_FULL_SCREEN) || !w.window) return 0;
  RECT current{};
  GetWindowRect(w.window, &current);
  if (x == INT32_MIN) x = current.left;
  if (y == INT32_MIN) y = current.top;
  SetWindowPos(w.window, nullptr, x, y, current.right - current.left,
               current.bottom - current.top,
               SWP_ASYNCWINDOWPOS | SWP_NOOWNERZORDER | SWP_NOZORDER | SWP_NOSIZE);
  return static_cast<int32_t>((static_cast<uint32_t>(current.top) << 16) |
                              (static_cast<uint32_t>(current.left) & 0xFFFFu));
}

void commonExit() {
  WindowState& w = window_state;
  InputState& in = input_state;
  if (!w.is_running) return;
  w.is_running = 0;
  // The update thread needs window_lock to finish its cycle.
  ScreenState* s = currentScreen();
  if (s && s->lock_count != 0) {
    s->lock_count = 0;
    if (s->driver && s->driver->unlock) s->driver->unlock();
  }
  if (in.update_thread) {
    requestUpdateCycle();
    WaitForSingleObject(in.update_thread, INFINITE);
    CloseHandle(in.update_thread);
    in.update_thread = nullptr;
    in.update_thread_id = 0;
    DeleteCriticalSection(&in.window_lock);
  }
  if (in.update_wake) {
    CloseHandle(in.update_wake);
    in.update_wake = nullptr;
  }
  freeConversionBuffers();
  if (w.driver_exit) w.driver_exit();
  SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, static_cast<UINT>(in.saved_screensaver), nullptr, 0);
  UnregisterClassA(w.class_name, w.instance);
  if (w.mouse_clip) {
    ClipCursor(nullptr);
    w.mouse_clip = 0;
  }
}

bool monitorInfo(MONITORINFOEXA* info) {
  const WindowState& w = window_state;
  if (!w.GetMonitorInfoA || !w.monitor) return false;
  std::memset(info, 0, sizeof *info);
  info->cbSize = sizeof *info;
  return w.GetMonitorInfoA(w.monitor, reinterpret_cast<MONITORINFO*>(info)) != 0;
}

LONG changeToFullScreenMode(const MONITORINFOEXA* monitor) {
  const WindowState& w = window_state;
  DEVMODEA mode;
  std::memset(&mode, 0, sizeof mode);
  mode.dmSize = sizeof mode;
  mode.dmPelsWidth = static_cast<DWORD>(w.width);
  mode.dmPelsHeight = static_cast<DWORD>(w.height);
  mode.dmBitsPerPel = static_cast<DWORD>(w.depth);
  mode.dmDisplayFrequency = static_cast<DWORD>(w.refresh_rate);
  mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFREQUENCY;
  if (w.ChangeDisplaySettingsExA)
    return w.ChangeDisplaySettingsExA(monitor ? monitor->szDevice : nullptr, &mode, nullptr, CDS_FULLSCREEN, nullptr);
  return ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN);
}

POINT centredPosition(const MONITORINFOEXA* monitor, int32_t outer_width, int32_t outer_height) {
  if (monitor) {
    const RECT& area = monitor->rcMonitor;
    return POINT{area.left + ((area.right - area.left - outer_width) >> 1),
                 area.top + ((area.bottom - area.top - outer_height) >> 1)};
  }
  return POINT{(GetSystemMetrics(SM_CXSCREEN) - outer_width) >> 1, (GetSystemMetrics(SM_CYSCREEN) - outer_height) >> 1};
}

int32_t* listDisplayModes(int32_t depth, int32_t* count, bool (*matches)(int32_t bits, int32_t depth)) {
  int32_t* modes = nullptr;
  int32_t taken = 0;
  DEVMODEA mode;
  for (DWORD i = 0;; ++i) {
    std::memset(&mode, 0, sizeof mode);
    mode.dmSize = sizeof mode;
    if (!EnumDisplaySettingsA(nullptr, i, &mode)) break;
    if (!matches(static_cast<int32_t>(mode.dmBitsPerPel), depth)) continue;
    void* grown = std::realloc(modes, (static_cast<size_t>(taken) + 1) * sizeof(int32_t));
    if (!grown) break;
    modes = static_cast<int32_t*>(grown);
    modes[taken++] = static_cast<int32_t>(mode.dmPelsWidth * 65536 + mode.dmPelsHeight);
  }
  if (count) *count = taken;
  return modes;
}

void markAllLinesDirty() {
  ScreenState* s = currentScreen();
  if (s) markRowsDirty(s, 0, s->height - 1);
}

}  // namespace zv
