// The window layer shared by the window drivers: the one window that shows the
// graphics screen, its class, the update thread that presents frames and pumps the
// window's messages, window_lock that serialises that thread with the program's
// drawing, and the driver operations that do not depend on the presentation
// technique (lock, unlock, setColour, waitRetrace, readMouse, setMouse, setTitle,
// moveWindow and the common part of close). The window procedure (window_proc.cpp)
// keeps the input state and turns messages into key codes and events.
//
// A driver's open clears the WindowState, fills its four hooks and calls
// commonInitialise; the update thread runs the driver's thread hook, whose init hook
// creates the window through createWindow, so the window belongs to that thread and
// every message is handled there while the thread holds window_lock.
//
// Threads: fields that both threads read and write without a common lock are atomic
// (is_running, is_active, palette_changed and the mouse fields readMouse reports).
// Everything else of the window (handle, flags, title, presentation resources) is
// written by the update thread under window_lock, before the start-up handshake, or
// by the program thread after the update thread has ended; the program thread reads
// it under window_lock.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "gfx/win32/convert.h"

namespace zv {

// Driver flags (the screen flags word as the driver receives it).
constexpr int32_t WINDOW_FULL_SCREEN = 0x01;
constexpr int32_t WINDOW_OPENGL = 0x02;
constexpr int32_t WINDOW_NO_SWITCH = 0x04;
constexpr int32_t WINDOW_NO_FRAME = 0x08;
constexpr int32_t WINDOW_SHAPED = 0x10;
constexpr int32_t WINDOW_ON_TOP = 0x20;
constexpr int32_t WINDOW_HIGH_PRIORITY = 0x80;

// Windows versions as major * 256 + minor.
constexpr int32_t WINDOWS_VERSION_4_10 = 0x40A;
constexpr int32_t WINDOWS_VERSION_5_0 = 0x500;

constexpr int32_t CLASS_NAME_SIZE = 140;
constexpr int32_t CLASS_TITLE_CHARACTERS = 128;
constexpr UINT_PTR LEAVE_TIMER_ID = 2;
constexpr UINT LEAVE_TIMER_INTERVAL = 100;
constexpr int32_t NO_LAST_SCREEN_X = 65535;

// Event types the window procedure posts.
enum WindowEventType : int32_t {
  EVENT_KEY_DOWN = 1, EVENT_KEY_UP = 2, EVENT_KEY_REPEAT = 3, EVENT_MOUSE_MOVE = 4,
  EVENT_BUTTON_DOWN = 5, EVENT_BUTTON_UP = 6, EVENT_DOUBLE_CLICK = 7, EVENT_WHEEL = 8,
  EVENT_MOUSE_ENTER = 9, EVENT_MOUSE_LEAVE = 10, EVENT_FOCUS_GAINED = 11,
  EVENT_FOCUS_LOST = 12, EVENT_CLOSE_REQUEST = 13, EVENT_HORIZONTAL_WHEEL = 14,
};

// The optional USER32 entry points, looked up by name at initialisation.
using SetLayeredWindowAttributesFunction = BOOL(WINAPI*)(HWND, COLORREF, BYTE, DWORD);
using MonitorFromWindowFunction = HMONITOR(WINAPI*)(HWND, DWORD);
using MonitorFromPointFunction = HMONITOR(WINAPI*)(POINT, DWORD);
using FlashWindowExFunction = BOOL(WINAPI*)(FLASHWINFO*);
using TrackMouseEventFunction = BOOL(WINAPI*)(TRACKMOUSEEVENT*);
using GetMonitorInfoAFunction = BOOL(WINAPI*)(HMONITOR, MONITORINFO*);
using ChangeDisplaySettingsExAFunction = LONG(WINAPI*)(LPCSTR, DEVMODEA*, HWND, DWORD, LPVOID);

struct WindowState {
  int32_t version;          // major * 256 + minor
  HINSTANCE instance;
  WNDCLASSA window_class;
  HWND window;              // null while none exists
  PALETTEENTRY palette_entries[256];  // the device palette as setColour left it
  Converter converter;      // null when the framebuffer is shown as it is
  HMONITOR monitor;
  std::atomic<int32_t> is_running;
  std::atomic<int32_t> palette_changed;
  std::atomic<int32_t> is_active;
  int32_t width, height, depth, refresh_rate, flags;  // open's arguments; depth at least 8
  std::string title;
  char class_name[CLASS_NAME_SIZE];
  int32_t (*driver_init)();        // creates the window and the presentation resources
  void (*driver_exit)();           // releases them and destroys the window
  void (*driver_paint)();          // copies the whole current picture to the window
  DWORD (*driver_thread)(HANDLE start_event);  // body of the update thread
  std::atomic<int32_t> mouse_clip;
  SetLayeredWindowAttributesFunction SetLayeredWindowAttributes;
  MonitorFromWindowFunction MonitorFromWindow;
  MonitorFromPointFunction MonitorFromPoint;
  FlashWindowExFunction FlashWindowEx;
  TrackMouseEventFunction TrackMouseEvent;
  GetMonitorInfoAFunction GetMonitorInfoA;
  ChangeDisplaySettingsExAFunction ChangeDisplaySettingsExA;

  // Every field back to zero (what a driver's open does first).
  void clear();
};

// The input state, kept across opens.
struct InputState {
  BOOL saved_screensaver = FALSE;
  std::atomic<int32_t> cursor_visible{1};
  HANDLE update_thread = nullptr;             // the program thread's handle of it
  std::atomic<DWORD> update_thread_id{0};     // set by the update thread itself
  std::atomic<int32_t> mouse_buttons{0};  // 1 left, 2 right, 4 middle, 8 and 16 the extra buttons
  int32_t buttons_before = 0;
  std::atomic<int32_t> wheel{0}, hwheel{0};  // in notches
  std::atomic<int32_t> mouse_x{0}, mouse_y{0};  // client coordinates
  std::atomic<int32_t> mouse_in_client{0};
  int32_t last_screen_x = NO_LAST_SCREEN_X, last_screen_y = 0;
  std::atomic<int32_t> mouse_inside{0};  // between a mouse-enter and its mouse-leave event
  WCHAR* wide_buffer = nullptr;
  int32_t wide_capacity = 0;
  char* byte_buffer = nullptr;
  int32_t byte_capacity = 0;
  CRITICAL_SECTION window_lock;
  // Update cycles completed since the program started (for benchmarks and tests that
  // wait for a whole cycle).
  std::atomic<uint64_t> update_cycles{0};
  // Wakes the update thread (auto-reset; from open to close); set at most once per
  // cycle: update_requested says a wake is pending.
  HANDLE update_wake = nullptr;
  std::atomic<bool> update_requested{false};
};

WindowState& windowState();
InputState& inputState();

// An entry point of a module by name, as the function type wanted; null when the
// module lacks it. GetProcAddress gives a generic entry point; the detour through a
// function type without parameters keeps the compiler's function-cast check quiet.
template <class Function>
Function entryPoint(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// Called by a driver's open once its hooks are filled: version, optional entry
// points, monitor, screen saver off, window class; then (except with the OpenGL flag)
// window_lock and the update thread, waiting until its init hook succeeded or the
// thread ended. 0, or -1 when the thread could not be started or its init failed.
int32_t commonInitialise(const char* title, int32_t width, int32_t height, int32_t depth,
                         int32_t refresh_rate, int32_t flags);

// CreateWindowExA with the class and title, on top when asked, made the foreground
// window. 0, or -1 when the window could not be created.
int32_t createWindow(DWORD style, DWORD ex_style, int32_t x, int32_t y, int32_t width,
                     int32_t height);

// Takes and dispatches every message waiting for the window; how many there were.
int32_t pumpMessages();

// What the update loop tells a driver's cycle, and what the cycle answers.
constexpr uint32_t CYCLE_MAY_PRESENT = 1;  // in: a frame may be shown now
constexpr uint32_t CYCLE_AFTER_INPUT = 2;  // in: the window's messages were handled since the last cycle
constexpr uint32_t CYCLE_PRESENTED = 1;    // out: a frame was shown
constexpr uint32_t CYCLE_RETRY = 2;        // out: what is left to show failed; try again later

// The shortest time between two frames while the program draws on its own, which
// bounds presentation to about 100 frames a second; the first frames after a key are
// shown at once, so that typing is answered without delay.
constexpr int32_t UPDATE_PERIOD_MS = 10;
constexpr int32_t FRAMES_ANSWERING_A_KEY = 3;

// The update thread of the GDI and DirectDraw drivers: the set-up (whose failure
// releases what it made and ends the thread), the start signal, then while the
// window runs, under window_lock, the driver's cycle and the window's messages. In
// between it waits, without a timer while nothing is left to do, until the window's
// messages arrive, the program asks for a cycle (rows marked dirty, a palette
// change, a retrace, the exit) or a frame held back by the period falls due. The
// teardown, under the lock, at the end.
DWORD runUpdateThread(HANDLE start_event, int32_t (*set_up)(), void (*teardown)(),
                      uint32_t (*cycle)(uint32_t in));

// Wakes the update thread for a cycle (any thread; cheap when a wake is pending).
void requestUpdateCycle();

// The window's client area in screen coordinates.
RECT clientRectOnScreen(HWND window);

// Confines the cursor to the window's client area.
void confineCursor();

// Window_lock, from the drawing side.
void windowLock();
void windowUnlock();

// The shared driver operations.
void windowSetColour(int32_t index, int32_t red, int32_t green, int32_t blue);
void windowWaitRetrace();
int32_t windowReadMouse(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip);
void windowSetMouse(int32_t x, int32_t y, int32_t cursor, int32_t clip);
void windowSetTitle(const char* title);
int32_t windowMoveWindow(int32_t x, int32_t y);
// The close of the GDI and DirectDraw drivers; a second call does nothing.
void commonExit();

// What the drivers' window set-ups share: the monitor's device name and rectangle
// (false when the optional entry points cannot give them); the display-mode change to
// the window's size, depth and refresh rate for full screen, on the monitor's device
// when ChangeDisplaySettingsExA exists (a DISP_CHANGE_* value); and the top-left
// corner of a window of that outer size centred on the monitor, or on the primary
// screen when the monitor is null.
bool monitorInfo(MONITORINFOEXA* info);
LONG changeToFullScreenMode(const MONITORINFOEXA* monitor);
POINT centredPosition(const MONITORINFOEXA* monitor, int32_t outer_width, int32_t outer_height);

// The display modes whose bits per pixel match the depth, as a newly allocated array
// of width * 65536 + height; the count goes to the out parameter.
int32_t* listDisplayModes(int32_t depth, int32_t* count, bool (*matches)(int32_t bits, int32_t depth));

// Marks every framebuffer row of the open screen dirty.
void markAllLinesDirty();

// The window procedure of the class, and the leave timer of the fallback leave
// detection (used when TrackMouseEvent is missing).
LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
VOID CALLBACK leaveTimerProcedure(HWND window, UINT message, UINT_PTR id, DWORD time);

}  // namespace zv
