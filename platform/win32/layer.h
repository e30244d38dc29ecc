// Internal records of the Win32 layer, shared by its files: the desktop state
// (windows, classes, message queues, focus, cursor), guarded by one lock, and the
// helpers that the USER32 and GDI32 parts call into each other with.
//
// Locking: `userLock()` guards everything here. Functions named ...Locked expect it
// held. Window procedures, timer procedures and thread bodies always run without it.
#pragma once

#include "platform/win32/backend.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace zv::win32 {

struct Window;

struct Timer {
  HWND window;
  UINT_PTR id;
  UINT elapse;
  TIMERPROC proc;
  int64_t due_ms;
};

// A message sent from another thread, waiting for the owner's procedure to answer.
struct SentMessage {
  MSG msg;
  LRESULT result = 0;
  bool done = false;
};

// A queued message. A key-down from a backend may bring the character its keyboard
// layout gives (a Windows-1252 byte); TranslateMessage then uses it instead of the
// US layout's answer. Hardware input is addressed when it is taken out: a key to the
// thread's focus window of that moment, a mouse message to its window if that still
// exists; input without a window is dropped there, its key state still applied.
struct QueuedMessage {
  MSG msg;
  int character = kLayoutCharacter;
  bool input = false;
};

// The message queue and input state of one thread.
struct ThreadQueue {
  DWORD id = 0;
  std::deque<QueuedMessage> messages;  // posted and input messages, oldest first
  MSG last_key{};                      // the key-down last taken, and its character
  int last_key_character = kLayoutCharacter;
  std::deque<SentMessage*> sent;
  bool quit = false;
  int quit_code = 0;
  BYTE key_state[256] = {};         // as of the last key message taken from the queue
  Window* focus = nullptr;          // the thread's window that last had the focus
  int dead_accent = 0;              // the accent a dead key left for the next character, 0: none
  std::vector<Timer> timers;
  int invalid_windows = 0;          // visible windows of the thread with an update region
  std::condition_variable wake;
  // Set when a message arrives, reset when the thread looks at its queue; made by the
  // thread's first MsgWaitForMultipleObjects.
  HANDLE input_event = nullptr;
};

struct WindowClass {
  std::string name;
  ATOM atom = 0;
  WNDCLASSA wc{};
  int windows = 0;
};

// A 32-bit DIB section: 0x00RRGGBB pixels, rows top-down or bottom-up as created.
struct Bitmap {
  int32_t width = 0, height = 0;
  bool top_down = false;
  std::vector<uint32_t> bits;
};

struct DeviceContext {
  Window* window = nullptr;  // null: the screen, or a memory context
  HPALETTE palette = nullptr;
  Bitmap* bitmap = nullptr;  // a memory context's selected DIB section
};

struct Palette {
  std::vector<PALETTEENTRY> entries;
};

struct Window {
  WindowClass* window_class = nullptr;
  WNDPROC proc = nullptr;
  std::string title;
  DWORD style = 0, ex_style = 0;
  RECT window_rect{};        // screen coordinates
  RECT frame{};              // insets of the client area within window_rect
  DWORD owner = 0;           // thread id
  HINSTANCE instance = nullptr;
  bool visible = false;
  bool topmost = false;
  bool has_colour_key = false;
  COLORREF colour_key = 0;
  BYTE alpha = 255;
  bool invalid = false;
  RECT update{};             // client coordinates, valid while invalid
  bool destroying = false;
  NativeWindow* native = nullptr;
  DeviceContext dc;
  uint64_t presented_lines = 0;
  int32_t pixel_format = 0;  // SetPixelFormat's, 0 while none is set
  HWND handle() { return reinterpret_cast<HWND>(this); }
};

struct Desktop {
  const Backend* backend = nullptr;
  std::vector<Window*> windows;        // creation order
  std::vector<Window*> z_order;        // front is on top
  std::deque<std::unique_ptr<Window>> retired;  // destroyed windows, freed later
  std::vector<std::unique_ptr<WindowClass>> classes;
  ATOM next_atom = 0xC000;
  std::unordered_map<DWORD, ThreadQueue*> queues;
  std::unordered_set<const void*> gdi_objects;  // palettes
  std::unordered_set<const void*> memory_dcs, bitmaps;
  Window* foreground = nullptr;
  Window* capture = nullptr;
  Window* tracking = nullptr;          // TrackMouseEvent(TME_LEAVE)
  POINT cursor{0, 0};
  bool clipped = false;
  RECT clip{};
  HCURSOR cursor_shape = nullptr;
  int cursor_count = 0;                // ShowCursor's display count
  bool screen_saver = true;
  BYTE async_keys[256] = {};
  BYTE keyboard_device[256] = {};      // by scan code, +128 for extended keys (DirectInput's layout)
  bool alt_alone = false;              // Alt pressed and nothing else since
  struct {
    UINT message = 0;
    Window* window = nullptr;
    POINT at{};
    int64_t time_ms = 0;
    WORD xbutton = 0;
  } last_click;                        // for double clicks
  UINT double_click_ms = 500;
  std::condition_variable sent_done;
  std::atomic<void (*)()> poll_events{nullptr};  // the backend's, read without the lock
};

std::mutex& userLock();
Desktop& desktop();

// Milliseconds of a steady clock (GetTickCount's base).
int64_t nowMs();

// The calling thread's queue, created on first use. Lock held.
ThreadQueue* currentQueueLocked();
// Drops the calling thread's queue now (a thread of CreateThread at its end, before
// its handle is signalled); otherwise that happens when the thread's storage goes.
void releaseThreadQueue();
ThreadQueue* queueLocked(DWORD thread_id);  // null when the thread has ended or never used USER32
// Wakes the thread from GetMessageA and MsgWaitForMultipleObjects. Lock held.
void wakeQueueLocked(ThreadQueue* queue);

// The picture of a stock icon (LoadIconA with no module) or of one of the program's
// icons (program_resources.h), 32 x 32 pixels 0xAARRGGBB; null for any other handle.
const uint32_t* iconPixels(HICON icon);

// Live window of a handle, or null. Lock held.
Window* windowLocked(HWND window);
// The same for a handle a caller passed in: null sets ERROR_INVALID_WINDOW_HANDLE.
Window* validWindowLocked(HWND window);
Window* windowAtLocked(POINT screen_point);
RECT clientRectOnScreen(const Window* window);
// The window's device context as GetDC and BeginPaint hand it out. Lock held.
HDC windowDcLocked(Window* window);
// What the backend is told about a window it shows. Lock held.
NativeWindowDesc describeLocked(Window* window);

// Posting. Lock held; false when the target thread is gone.
bool postLocked(Window* window, UINT message, WPARAM wparam, LPARAM lparam);
bool postToThreadLocked(DWORD thread_id, HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                        int character = kLayoutCharacter);
// Hardware input for a thread's input queue (window: a mouse message's target; null
// for a key, which goes to the focus window of the moment it is taken).
bool postInputLocked(DWORD thread_id, HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                     int character = kLayoutCharacter);
void invalidateLocked(Window* window, const RECT* client_rect);
void validateLocked(Window* window);
void activateLocked(Window* window);          // null: focus leaves the program
void destroyWindowRecordLocked(Window* window);  // unlinks and frees, no messages
void setCursorPosLocked(int32_t x, int32_t y, bool from_hardware);

// ToAscii of the US layout, without the lock (TranslateMessage holds it).
int usToAscii(UINT virtual_key, UINT scan_code, const BYTE* key_state, LPWORD characters);

// A key's character through the thread's dead-key state, as TranslateMessage and
// ToAscii share it: character is a byte, or kDeadKey plus a dead key's accent. Answers
// -1 for a dead key (its accent in out[0], kept for the next character), else the
// count of characters in out: the composed one, or the accent and the character when
// they do not compose.
int deadKeyCharactersLocked(ThreadQueue* queue, int character, int out[2]);

// Applies a key or button message to the thread's keyboard state (at removal).
void applyKeyStateLocked(ThreadQueue* queue, const MSG& msg);

// The smallest window Windows lets an overlapped or sizeable window have (its
// minimum tracking size), frame included.
inline constexpr LONG kMinTrackWidth = 112, kMinTrackHeight = 27;
void applyMinimumSize(DWORD style, RECT* window_rect);

// Frame insets of a style (what AdjustWindowRectEx adds).
RECT frameInsets(DWORD style, DWORD ex_style, bool menu);

// 5-5-5 and 24-bit pixels as the screen's 0x00RRGGBB (gdi.cpp).
void rgb555Row(uint32_t* destination, const uint8_t* source, int32_t width);
void rgb24Row(uint32_t* destination, const uint8_t* source, int32_t width);

// The display mode changed: windows get WM_DISPLAYCHANGE, the cursor stays on the
// screen and every DirectDraw surface is lost (display.cpp). Lock held.
void displayModeChangedLocked();

// DirectDraw (ddraw.cpp): every surface lost. Lock held.
void loseSurfacesLocked();
// SetDisplayMode calls as they were made, for tests.
struct DisplayModeRequest {
  int32_t width, height, bits, frequency;
  DWORD flags;
};
std::vector<DisplayModeRequest> displayModeRequests();
void clearDisplayModeRequests();

// DirectInput (dinput.cpp): every keyboard device loses its acquisition; whether one
// is acquired. Without the lock.
void takeKeyboardAcquisition();
bool keyboardAcquired();

// Code pages and modules (kernel.cpp).
int charToWide(UINT code_page, unsigned char byte);  // code page 1252 or 437
void setExportHidden(const char* module, const char* name, bool hidden);

}  // namespace zv::win32
