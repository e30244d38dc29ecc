// The table of operations behind the Win32 layer: what a windowing system (X11) or
// the in-memory virtual desktop of the tests provides, and the entry points through
// which it hands hardware input and window events back to the layer. The layer keeps
// every Win32 notion itself (classes, message queues, activation, keyboard state,
// cursor clip); a backend only shows native windows and their pixels, knows the
// screen and its modes, and reports what the user does.
//
// Rules for a backend:
// - Every operation is called with the layer's lock held, from any thread; it must
//   not call back into the layer (no Win32 call, no entry point below).
// - The entry points below take the layer's lock: call them from the backend's own
//   event thread, or from the thread of a test, never from inside an operation.
// - A null slot means "not supported": the layer then keeps the state on its own.
#pragma once

#include <windows.h>

#include <cstdint>

namespace zv::win32 {

struct NativeWindow;  // a backend's own record of one top-level window

struct DisplayMode {
  int32_t width, height, bits, frequency;
};

// A window's client area as the backend keeps it: 0x00RRGGBB pixels, row-major.
struct Surface {
  uint32_t* pixels;
  int32_t stride;  // in pixels
  int32_t width, height;
};

// What the layer asks for when it creates or changes a window.
struct NativeWindowDesc {
  HWND window;        // handed back in events
  const char* title;
  RECT window_rect;   // screen coordinates, frame included
  RECT client_rect;   // screen coordinates
  DWORD style, ex_style;
  const uint32_t* icon;  // the class icon, 32 x 32 pixels 0xAARRGGBB, or null
};

struct GlContext;  // a backend's own record of one rendering context

// One pixel format as a backend offers it: what DescribePixelFormat reports, and the
// multisample count that WGL_ARB_multisample adds.
struct GlFormat {
  PIXELFORMATDESCRIPTOR descriptor;
  int32_t samples;
  bool accelerated;
};

// OpenGL behind opengl32.dll and the pixel-format calls of GDI32. Formats are numbered
// from 1, as Win32 numbers them. Rendering calls (the OpenGL functions procAddress
// hands out) are made by the program on the thread where its context is current,
// without the layer's lock.
struct GlBackend {
  // Whether OpenGL can be had now (the display offers it); opengl32.dll loads only then.
  bool (*available)();
  // The WGL extensions the backend honours, blank-separated.
  const char* (*wglExtensions)();
  // The formats the layer chooses from (ChoosePixelFormat, wglChoosePixelFormatARB).
  int32_t (*formatCount)();
  bool (*format)(int32_t number, GlFormat* out);
  // Makes the window's client area a drawable of the format (once per window).
  bool (*setFormat)(NativeWindow* window, int32_t number);
  GlContext* (*createContext)(NativeWindow* window);
  // Both null: no context current on the calling thread any more.
  bool (*makeCurrent)(NativeWindow* window, GlContext* context);
  void (*deleteContext)(GlContext* context);
  bool (*swapBuffers)(NativeWindow* window);
  // The window is going away: its drawable goes with it.
  void (*releaseWindow)(NativeWindow* window);
  // An OpenGL function by name, null when the implementation has none.
  void* (*procAddress)(const char* name);
};

struct Backend {
  const char* name;

  // Windows. create answers null when the backend cannot (or, in tests, must not)
  // make the window; CreateWindowExA then fails.
  NativeWindow* (*createWindow)(const NativeWindowDesc& desc);
  void (*destroyWindow)(NativeWindow* window);
  void (*showWindow)(NativeWindow* window, bool visible);
  void (*placeWindow)(NativeWindow* window, const NativeWindowDesc& desc);  // new rectangles
  void (*setTitle)(NativeWindow* window, const char* title);
  void (*setTopmost)(NativeWindow* window, bool topmost);
  void (*setColourKey)(NativeWindow* window, bool keyed, uint32_t rgb);  // 0x00RRGGBB
  void (*raiseWindow)(NativeWindow* window);  // foreground: on top and focused

  // Presentation: the layer writes a band of the client area between lock and
  // unlock; unlock shows the rectangle given (client coordinates). Lock is told the
  // rectangle about to be written (empty when the caller only reads), so that a
  // backend whose showing goes on after unlock can wait until that part is free.
  bool (*lockSurface)(NativeWindow* window, const RECT& writing, Surface* surface);
  void (*unlockSurface)(NativeWindow* window, const RECT& changed);

  // Screen and display modes. setMode answers a DISP_CHANGE_* value; a null mode
  // restores the desktop's own mode; test only checks.
  DisplayMode (*desktopMode)();
  DisplayMode (*currentMode)();
  int32_t (*modeCount)();
  bool (*mode)(int32_t index, DisplayMode* out);
  LONG (*setMode)(const DisplayMode* mode, bool test);

  // Cursor: the layer keeps position and clip; these show them.
  void (*warpCursor)(int32_t x, int32_t y);
  void (*setCursorVisible)(bool visible);
  void (*setScreenSaver)(bool active);

  // Called at the start of PeekMessageA/GetMessageA without the lock, for backends
  // that read their events on the caller's thread; null when the backend has a
  // thread of its own.
  void (*pollEvents)();

  // Confines the pointer to the rectangle (screen coordinates); null: frees it.
  void (*clipCursor)(const RECT* clip);

  // The character the active keyboard layout gives the key at that position without
  // modifiers (MapVirtualKeyA's answer), a Windows-1252 byte with kDeadKey added for
  // a dead key; -1 leaves the key to the US layout's rules.
  int32_t (*layoutCharacter)(uint8_t scan, bool extended);

  // The part of the screen a desktop's panels leave to windows, in screen
  // coordinates; false (or a null slot): the whole screen.
  bool (*workArea)(RECT* area);

  // OpenGL for WGL; null: none (opengl32.dll cannot be loaded).
  const GlBackend* opengl;
};
inline constexpr int32_t kDeadKey = 0x10000;

// The backend of a real display, opened at the layer's first use: X11 when a
// display can be opened (DISPLAY set and the connection made), else none.
const Backend* openDisplayBackend();

// Makes a backend current (null: none, so CreateWindowExA fails). Existing windows
// are forgotten without messages; the cursor, clip, capture, focus and key state
// start afresh.
void installBackend(const Backend* backend);
const Backend* installedBackend();

// Entry points for backends: hardware input and window events.
// A key as the keyboard reports it: virtual key (generic or sided VK_SHIFT/VK_CONTROL/
// VK_MENU), PC set-1 scan code, the E0 prefix; it goes to the focus window's thread.
// character: what the backend's own keyboard layout makes of a key press, as a
// Windows-1252 byte that TranslateMessage turns into WM_CHAR/WM_SYSCHAR; or
// kLayoutCharacter to let the US layout (ToAscii) decide, or kNoCharacter; kDeadKey
// plus the accent's Windows-1252 byte for a dead key, which TranslateMessage composes
// with the next character.
inline constexpr int kLayoutCharacter = -1;
inline constexpr int kNoCharacter = -2;
void backendKey(uint16_t virtual_key, uint8_t scan, bool extended, bool down, int character = kLayoutCharacter);
void backendMouseMove(int32_t screen_x, int32_t screen_y);
void backendMouseButton(int32_t button, bool down);  // 0 left, 1 right, 2 middle, 3 x1, 4 x2
void backendMouseWheel(int32_t delta, bool horizontal);
void backendCloseRequest(HWND window);        // the frame's close button
void backendActivate(HWND window);            // null: focus left the program
void backendExpose(HWND window, const RECT* client_rect);  // null rectangle: all
void backendMaximize(HWND window);            // the window manager maximised it: WM_SIZE SIZE_MAXIMIZED
// The window manager moved the window: its client area's top left corner is now there
// (screen coordinates); the window keeps its size. WM_MOVE follows.
void backendWindowMoved(HWND window, int32_t client_x, int32_t client_y);

}  // namespace zv::win32
