// The "DirectX" window driver: presents the framebuffer through DirectDraw surfaces
// and reads the keyboard through DirectInput, both loaded at run time from
// "ddraw.dll" and "dinput.dll". Windowed, the update thread converts the dirty rows
// into an off-screen surface in system memory and blits it into the client area
// through a clipper; full screen, it takes the display exclusively, sets the nearest
// display mode that is at least as tall as the picture and converts straight into
// the primary surface, centred vertically. Lost surfaces are restored, and a display
// mode changed by someone else leads to a complete re-creation. Window, messages,
// the update thread's lock and the shared operations are the layer of window.h.
#define DIRECTINPUT_VERSION 0x0300

#include <windows.h>

#ifdef _WIN32
#include <initguid.h>  // defines the DirectX GUIDs used here in this file
#endif
#include <ddraw.h>
#include <dinput.h>

#include <atomic>
#include <cstdlib>
#include <algorithm>
#include <cstring>

#include "gfx/screen_state.h"
#include "gfx/win32/drivers.h"
#include "gfx/win32/window.h"

namespace zv {

namespace {

using DirectDrawCreateFunction = HRESULT(WINAPI*)(GUID*, LPDIRECTDRAW*, IUnknown*);
using DirectInputCreateAFunction = HRESULT(WINAPI*)(HINSTANCE, DWORD, LPDIRECTINPUTA*, LPUNKNOWN);

constexpr DWORD FRAMED_STYLE = WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD EXCLUSIVE_LEVEL = DDSCL_FULLSCREEN | DDSCL_ALLOWREBOOT | DDSCL_EXCLUSIVE;
constexpr int32_t MODE_HEIGHTS[] = {240, 480, 600, 768, 1024};
constexpr int32_t KEY_OBJECTS = 256;
constexpr DWORD RECREATE_INTERVAL_MS = 300;
constexpr DWORD RETRACE_WAIT_MS = 20;
// Restore-and-retry rounds of one cycle's lock or blit; the next cycle tries again.
constexpr int32_t LOST_SURFACE_ATTEMPTS = 3;

struct DirectDrawDriver {
  HMODULE ddraw_module = nullptr, dinput_module = nullptr;
  IDirectDraw2* ddraw = nullptr;
  IDirectDrawSurface* primary_surface = nullptr;
  IDirectDrawSurface* back_surface = nullptr;  // the primary itself when full screen
  IDirectDrawPalette* dd_palette = nullptr;
  IDirectDrawClipper* clipper = nullptr;
  IDirectInputA* dinput = nullptr;
  IDirectInputDeviceA* keyboard = nullptr;
  // The windowed client area's top-left corner on the screen: centred by open, kept
  // across teardowns. (The client area, not the frame, so that a picture that just
  // fits the screen is wholly on it.)
  int32_t window_x = 0, window_y = 0;
  int32_t y_offset = 0;
  // Lives from open to close, so that waitRetrace on the program thread never meets
  // a closed handle while the update thread re-creates everything else.
  HANDLE vsync_event = nullptr;
  std::atomic<int32_t> vsync_requested{0};
  DIDATAFORMAT key_format{};
  DIOBJECTDATAFORMAT key_objects[KEY_OBJECTS]{};
};

DirectDrawDriver dd;

bool fullScreen() { return (windowState().flags & WINDOW_FULL_SCREEN) != 0; }

template <class Object>
void release(Object*& object) {
  if (object) object->Release();
  object = nullptr;
}

// The partner depth tried when a mode of the depth itself is not offered; 0 for none.
int32_t partnerDepth(int32_t depth) {
  switch (depth) {
    case 16: return 15;
    case 15: return 16;
    case 24: return 32;
    case 32: return 24;
    default: return 0;
  }
}

// The destination depth of a surface format: 16 bits with a 5-bit green field are 15.
int32_t formatDepth(const DDPIXELFORMAT& format) {
  const int32_t bits = static_cast<int32_t>(format.dwRGBBitCount);
  return bits == 16 && format.dwGBitMask == 0x3E0 ? 15 : bits;
}

struct DeviceSearch {
  HMONITOR monitor;
  GUID device;
  bool found;
};

BOOL WINAPI findDevice(GUID* guid, LPSTR, LPSTR, LPVOID context, HMONITOR monitor) {
  auto* search = static_cast<DeviceSearch*>(context);
  if (guid && monitor == search->monitor) {
    search->device = *guid;
    search->found = true;
    return FALSE;
  }
  return TRUE;
}

// Sets the first mode that takes the picture: the height itself, then each taller
// standard height, each with the depth and then its partner. The mode's height, or 0.
int32_t setDisplayMode() {
  const WindowState& w = windowState();
  int32_t height = w.height;
  for (;;) {
    const DWORD flags = w.width == 320 && height == 200 && w.depth == 8 ? DDSDM_STANDARDVGAMODE : 0;
    const DWORD width = static_cast<DWORD>(w.width), rate = static_cast<DWORD>(w.refresh_rate);
    if (SUCCEEDED(dd.ddraw->SetDisplayMode(width, static_cast<DWORD>(height), static_cast<DWORD>(w.depth), rate,
                                           flags)))
      return height;
    const int32_t partner = partnerDepth(w.depth);
    if (partner && SUCCEEDED(dd.ddraw->SetDisplayMode(width, static_cast<DWORD>(height),
                                                      static_cast<DWORD>(partner), rate, flags)))
      return height;
    int32_t next = 0;
    for (int32_t candidate : MODE_HEIGHTS) {
      if (candidate > height) {
        next = candidate;
        break;
      }
    }
    if (next == 0) return 0;
    height = next;
  }
}

void fillKeyFormat() {
  for (int32_t i = 0; i < KEY_OBJECTS; ++i) {
    DIOBJECTDATAFORMAT& object = dd.key_objects[i];
    object.pguid = &GUID_Key;
    object.dwOfs = static_cast<DWORD>(i);
    object.dwType = static_cast<DWORD>(i * 256) | DIDFT_OPTIONAL | DIDFT_BUTTON;
    object.dwFlags = 0;
  }
  dd.key_format.dwSize = sizeof(DIDATAFORMAT);
  dd.key_format.dwObjSize = sizeof(DIOBJECTDATAFORMAT);
  dd.key_format.dwFlags = DIDF_RELAXIS;
  dd.key_format.dwDataSize = KEY_OBJECTS;
  dd.key_format.dwNumObjs = KEY_OBJECTS;
  dd.key_format.rgodf = dd.key_objects;
}

// Creates the window and every DirectDraw and DirectInput object; -1 at the first
// step that fails, leaving what was made for the teardown.
int32_t ddrawSetUp() {
  WindowState& w = windowState();
  w.converter = nullptr;
  dd.ddraw = nullptr;
  dd.primary_surface = dd.back_surface = nullptr;
  dd.dd_palette = nullptr;
  dd.clipper = nullptr;
  dd.dinput = nullptr;
  dd.keyboard = nullptr;

  dd.ddraw_module = LoadLibraryA("ddraw.dll");
  dd.dinput_module = LoadLibraryA("dinput.dll");
  if (!dd.ddraw_module || !dd.dinput_module) return -1;
  const auto direct_draw_create = entryPoint<DirectDrawCreateFunction>(dd.ddraw_module, "DirectDrawCreate");
  const auto enumerate = entryPoint<LPDIRECTDRAWENUMERATEEXA>(dd.ddraw_module, "DirectDrawEnumerateExA");
  const auto direct_input_create = entryPoint<DirectInputCreateAFunction>(dd.dinput_module, "DirectInputCreateA");

  DeviceSearch search{w.monitor, {}, false};
  if (fullScreen() && w.monitor && enumerate) enumerate(findDevice, &search, DDENUM_ATTACHEDSECONDARYDEVICES);
  if (!direct_draw_create) return -1;
  IDirectDraw* first = nullptr;
  if (FAILED(direct_draw_create(search.found ? &search.device : nullptr, &first, nullptr)) || !first) return -1;
  const HRESULT asked = first->QueryInterface(IID_IDirectDraw2, reinterpret_cast<void**>(&dd.ddraw));
  first->Release();
  if (FAILED(asked)) {
    dd.ddraw = nullptr;
    return -1;
  }
  if (!direct_input_create || FAILED(direct_input_create(w.instance, 0x300, &dd.dinput, nullptr))) {
    dd.dinput = nullptr;
    return -1;
  }

  if (!fullScreen()) {
    DWORD style = WS_POPUP | WS_VISIBLE;
    if (!(w.flags & WINDOW_NO_FRAME)) style = FRAMED_STYLE | ((w.flags & WINDOW_NO_SWITCH) ? 0 : WS_MAXIMIZEBOX);
    RECT outer{0, 0, w.width, w.height};
    AdjustWindowRect(&outer, style, FALSE);
    // window_x, window_y place the client area; the frame goes around it.
    if (createWindow(style, 0, dd.window_x + outer.left, dd.window_y + outer.top, outer.right - outer.left,
                     outer.bottom - outer.top) != 0)
      return -1;
    if (FAILED(dd.ddraw->SetCooperativeLevel(w.window, DDSCL_NORMAL))) return -1;
    if (FAILED(dd.ddraw->CreateClipper(0, &dd.clipper, nullptr)) || FAILED(dd.clipper->SetHWnd(0, w.window)))
      return -1;
    dd.y_offset = 0;
  } else {
    if (createWindow(WS_POPUP | WS_VISIBLE, 0, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)) != 0)
      return -1;
    if (FAILED(dd.ddraw->SetCooperativeLevel(w.window, EXCLUSIVE_LEVEL))) return -1;
    const int32_t mode_height = setDisplayMode();
    if (mode_height == 0) return -1;
    dd.y_offset = (mode_height - w.height) >> 1;
  }

  DDSURFACEDESC description;
  std::memset(&description, 0, sizeof description);
  description.dwSize = sizeof description;
  description.dwFlags = DDSD_CAPS;
  description.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  if (FAILED(dd.ddraw->CreateSurface(&description, &dd.primary_surface, nullptr))) return -1;
  if (!fullScreen()) {
    if (FAILED(dd.primary_surface->SetClipper(dd.clipper))) return -1;
    std::memset(&description, 0, sizeof description);
    description.dwSize = sizeof description;
    description.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
    description.dwWidth = static_cast<DWORD>(w.width);
    description.dwHeight = static_cast<DWORD>(w.height);
    description.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
    if (FAILED(dd.ddraw->CreateSurface(&description, &dd.back_surface, nullptr))) return -1;
  } else {
    dd.back_surface = dd.primary_surface;
  }

  DDPIXELFORMAT format;
  std::memset(&format, 0, sizeof format);
  format.dwSize = sizeof format;
  if (FAILED(dd.primary_surface->GetPixelFormat(&format)) || !(format.dwFlags & DDPF_RGB)) return -1;
  const int32_t depth = formatDepth(format);
  if (depth == 8) {
    if (FAILED(dd.ddraw->CreatePalette(DDPCAPS_8BIT | DDPCAPS_ALLOW256, w.palette_entries, &dd.dd_palette, nullptr)))
      return -1;
    dd.primary_surface->SetPalette(dd.dd_palette);
    w.palette_changed = 0;
  }
  const bool exchanged = ((depth == 15 || depth == 16) && format.dwRBitMask == 0x1F) ||
                         (depth > 23 && format.dwRBitMask == 0xFF);
  ScreenState* s = currentScreen();
  if (!s) return -1;
  w.converter = selectConverter(*s, depth, depth != 8 && exchanged ? 1 : 0);
  if (!w.converter) return -1;

  // 0 and 1 stand for the hardware's default rate: not a rate to wait by.
  DWORD frequency = 0;
  dd.ddraw->GetMonitorFrequency(&frequency);
  s->refresh_rate = frequency > 1 ? static_cast<int32_t>(frequency) : 0;

  fillKeyFormat();
  if (FAILED(dd.dinput->CreateDevice(GUID_SysKeyboard, &dd.keyboard, nullptr))) {
    dd.keyboard = nullptr;
    return -1;
  }
  if (FAILED(dd.keyboard->SetDataFormat(&dd.key_format)) || FAILED(dd.keyboard->Acquire())) return -1;
  return 0;
}

// Releases everything the set-up made (whatever part of it was made), restores the
// display mode and destroys the window.
void ddrawTeardown() {
  WindowState& w = windowState();
  if (!fullScreen() && w.window) {
    POINT client{0, 0};
    ClientToScreen(w.window, &client);
    dd.window_x = client.x;
    dd.window_y = client.y;
  }
  if (dd.keyboard) dd.keyboard->Unacquire();
  release(dd.keyboard);
  release(dd.dinput);
  if (dd.ddraw) {
    if (fullScreen() && dd.primary_surface) {
      DDBLTFX fill;
      std::memset(&fill, 0, sizeof fill);
      fill.dwSize = sizeof fill;
      fill.dwFillColor = 0;
      dd.primary_surface->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fill);
    }
    if (dd.back_surface != dd.primary_surface) release(dd.back_surface);
    dd.back_surface = nullptr;
    release(dd.primary_surface);
    release(dd.dd_palette);
    release(dd.clipper);
    if (fullScreen()) {
      dd.ddraw->RestoreDisplayMode();
      if (w.window) dd.ddraw->SetCooperativeLevel(w.window, DDSCL_NORMAL);
    }
    release(dd.ddraw);
  }
  if (w.window) {
    DestroyWindow(w.window);
    w.window = nullptr;
  }
  w.converter = nullptr;
  if (dd.ddraw_module) FreeLibrary(dd.ddraw_module);
  if (dd.dinput_module) FreeLibrary(dd.dinput_module);
  dd.ddraw_module = dd.dinput_module = nullptr;
}

// The display mode was lost: everything is made anew, every 300 ms until the set-up
// succeeds or the driver closes. window_lock (held once by the update thread) is
// left during the pauses, so the program draws on meanwhile.
void recreate() {
  WindowState& w = windowState();
  InputState& in = inputState();
  for (;;) {
    ddrawTeardown();
    LeaveCriticalSection(&in.window_lock);
    Sleep(RECREATE_INTERVAL_MS);
    EnterCriticalSection(&in.window_lock);
    if (!w.is_running) return;
    if (ddrawSetUp() == 0) break;
  }
  markAllLinesDirty();
  if (w.FlashWindowEx) {
    FLASHWINFO flash{};
    flash.cbSize = sizeof flash;
    flash.hwnd = w.window;
    flash.dwFlags = FLASHW_STOP;
    w.FlashWindowEx(&flash);
  }
}

// Restores lost surfaces; a display mode changed from outside means re-creation.
// Restored memory is empty, so every row is converted again.
void restoreLostSurfaces() {
  for (int32_t attempt = 0; attempt < LOST_SURFACE_ATTEMPTS; ++attempt) {
    if (!dd.primary_surface || dd.primary_surface->IsLost() != DDERR_SURFACELOST) return;
    if (dd.back_surface && dd.back_surface != dd.primary_surface) dd.back_surface->Restore();
    const HRESULT restored = dd.primary_surface->Restore();
    if (restored == DDERR_WRONGMODE) {
      recreate();
      return;
    }
    markAllLinesDirty();
  }
}

void ddrawPaint() {
  WindowState& w = windowState();
  if (fullScreen()) return;  // the picture is in the primary surface already
  for (int32_t attempt = 0; attempt < LOST_SURFACE_ATTEMPTS; ++attempt) {
    restoreLostSurfaces();
    if (!dd.primary_surface || !dd.back_surface || !w.window) return;
    // The picture 1:1 at the client area's top left: a client area wider than the
    // screen (the system's minimum window width) shows black beside it, unstretched.
    const RECT client = clientRectOnScreen(w.window);
    const LONG width = std::min<LONG>(w.width, client.right - client.left);
    const LONG height = std::min<LONG>(w.height, client.bottom - client.top);
    if (width <= 0 || height <= 0) return;
    RECT destination{client.left, client.top, client.left + width, client.top + height};
    RECT source{0, 0, width, height};
    if (dd.primary_surface->Blt(&destination, dd.back_surface, &source, DDBLT_WAIT, nullptr) != DDERR_SURFACELOST)
      return;
  }
}

// One cycle's picture: palette, the dirty rows into the surface, then the paint.
// The dirty flags are cleared only when the rows reached the surface. A cycle that
// has nothing to show makes no DirectDraw call (every call keeps some systems' command
// threads busy for a while), except that after the window's messages (a display
// change, a repaint) it looks for lost surfaces; what the window lost meanwhile comes
// back through WM_PAINT.
uint32_t presentFrame(uint32_t in) {
  WindowState& w = windowState();
  ScreenState* s = currentScreen();
  if (!s || !s->dirty_lines) return 0;
  const int32_t scan = s->scanline_size > 1 ? s->scanline_size : 1;
  const int32_t flags = s->height * scan < w.height ? s->height * scan : w.height;
  const auto anyDirty = [&] { return std::memchr(s->dirty_lines, 1, static_cast<size_t>(flags)) != nullptr; };
  bool changed = anyDirty() || (w.palette_changed && dd.dd_palette);
  if (!changed) {
    if (!(in & CYCLE_AFTER_INPUT)) return 0;
    restoreLostSurfaces();  // a restore marks every row dirty
    if (!anyDirty()) return 0;
  }
  if (!(in & CYCLE_MAY_PRESENT)) return 0;  // the update loop comes back when the period has passed
  changed = false;
  if (w.palette_changed && dd.dd_palette) {
    dd.dd_palette->SetEntries(0, 0, 256, w.palette_entries);
    w.palette_changed = 0;
    changed = true;
  }
  DDSURFACEDESC description;
  HRESULT locked = DDERR_SURFACELOST;
  for (int32_t attempt = 0; attempt < LOST_SURFACE_ATTEMPTS && locked == DDERR_SURFACELOST; ++attempt) {
    restoreLostSurfaces();
    if (!dd.back_surface) return 0;
    // A restore or a re-creation marks every row dirty.
    changed = changed || anyDirty();
    std::memset(&description, 0, sizeof description);
    description.dwSize = sizeof description;
    locked = dd.back_surface->Lock(nullptr, &description, DDLOCK_WAIT, nullptr);
  }
  if (SUCCEEDED(locked)) {
    auto* surface = static_cast<uint8_t*>(description.lpSurface);
    if (w.converter) w.converter(*s, surface + static_cast<ptrdiff_t>(description.lPitch) * dd.y_offset,
                                 description.lPitch);
    dd.back_surface->Unlock(description.lpSurface);
    std::memset(s->dirty_lines, 0, static_cast<size_t>(flags));
  }
  if (changed) ddrawPaint();
  return SUCCEEDED(locked) ? CYCLE_PRESENTED : CYCLE_RETRY;
}

// The key states from the keyboard device: a key's entry is set while its scan code
// or its extended form (scan code + 128) is down. A device that lost its acquisition
// is acquired again and the states stay as they were.
void readKeyboard() {
  ScreenState* s = currentScreen();
  if (!dd.keyboard || !s || !s->key_states) return;
  BYTE keys[KEY_OBJECTS];
  const HRESULT read = dd.keyboard->GetDeviceState(sizeof keys, keys);
  if (read == DIERR_INPUTLOST || read == DIERR_NOTACQUIRED) {
    dd.keyboard->Acquire();
    return;
  }
  if (FAILED(read)) return;
  for (int32_t i = 0; i < KEY_STATE_COUNT; ++i) s->key_states[i] = ((keys[i] | keys[i + 128]) & 0x80) ? 1 : 0;
}

// One update cycle: the retrace handshake, then (unless an inactive full screen, which
// waits for its activation) the frame presented and, while active, the keyboard read.
uint32_t ddrawCycle(uint32_t in) {
  const WindowState& w = windowState();
  if (dd.vsync_requested) {
    WaitForSingleObject(dd.vsync_event, RETRACE_WAIT_MS);
    dd.vsync_requested = 0;
  }
  if (!w.is_active && fullScreen()) return 0;
  const uint32_t done = presentFrame(in);
  if (w.is_active) readKeyboard();
  return done;
}

DWORD ddrawThread(HANDLE start_event) {
  return runUpdateThread(start_event, ddrawSetUp, ddrawTeardown, ddrawCycle);
}

int32_t ddrawOpen(const char* title, int32_t width, int32_t height, int32_t depth, int32_t refresh_rate,
                  int32_t flags) {
  WindowState& w = windowState();
  w.clear();
  if (flags & (WINDOW_OPENGL | WINDOW_SHAPED)) return -1;
  w.driver_init = ddrawSetUp;
  w.driver_exit = ddrawTeardown;
  w.driver_paint = ddrawPaint;
  w.driver_thread = ddrawThread;
  dd.window_x = (GetSystemMetrics(SM_CXSCREEN) - width) >> 1;
  dd.window_y = (GetSystemMetrics(SM_CYSCREEN) - height) >> 1;
  dd.vsync_requested = 0;
  if (!dd.vsync_event) dd.vsync_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!dd.vsync_event) return -1;
  return commonInitialise(title, width, height, depth < 8 ? 8 : depth, refresh_rate, flags);
}

void ddrawClose() {
  commonExit();
  if (dd.vsync_event) CloseHandle(dd.vsync_event);
  dd.vsync_event = nullptr;
}

// Waits for the next retrace and lets the update thread present right after it.
// The DirectDraw object is taken under window_lock with a reference of its own,
// since the update thread may replace it at any time.
void ddrawWaitRetrace() {
  if (!dd.vsync_event) return;
  ResetEvent(dd.vsync_event);
  windowLock();
  dd.vsync_requested = 1;
  IDirectDraw2* ddraw = dd.ddraw;
  if (ddraw) ddraw->AddRef();
  windowUnlock();
  requestUpdateCycle();
  if (ddraw) {
    ddraw->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, nullptr);
    ddraw->Release();
  } else {
    windowWaitRetrace();
  }
  SetEvent(dd.vsync_event);
}

struct ModeList {
  int32_t depth;
  int32_t* modes;
  int32_t count;
};

HRESULT WINAPI collectMode(LPDDSURFACEDESC mode, LPVOID context) {
  auto* list = static_cast<ModeList*>(context);
  if (formatDepth(mode->ddpfPixelFormat) != list->depth) return DDENUMRET_OK;
  void* grown = std::realloc(list->modes, (static_cast<size_t>(list->count) + 1) * sizeof(int32_t));
  if (!grown) return DDENUMRET_CANCEL;
  list->modes = static_cast<int32_t*>(grown);
  list->modes[list->count++] = static_cast<int32_t>(mode->dwWidth * 65536 + mode->dwHeight);
  return DDENUMRET_OK;
}

// The display modes of exactly that depth (15 and 16 bits apart), from the open
// driver's DirectDraw object or a temporary one on the default device.
int32_t* ddrawListModes(int32_t depth, int32_t* count) {
  if (count) *count = 0;
  IDirectDraw2* ddraw = nullptr;
  HMODULE module = nullptr;
  if (windowState().is_running && inputState().update_thread) {
    windowLock();
    ddraw = dd.ddraw;
    if (ddraw) ddraw->AddRef();
    windowUnlock();
  }
  // Closed, or another driver holds the screen: an object of our own.
  if (!ddraw && (module = LoadLibraryA("ddraw.dll"))) {
    const auto create = entryPoint<DirectDrawCreateFunction>(module, "DirectDrawCreate");
    IDirectDraw* first = nullptr;
    if (create && SUCCEEDED(create(nullptr, &first, nullptr)) && first) {
      if (FAILED(first->QueryInterface(IID_IDirectDraw2, reinterpret_cast<void**>(&ddraw)))) ddraw = nullptr;
      first->Release();
    }
  }
  ModeList list{depth, nullptr, 0};
  if (ddraw && FAILED(ddraw->EnumDisplayModes(DDEDM_STANDARDVGAMODES, nullptr, &list, collectMode))) {
    std::free(list.modes);
    list = ModeList{depth, nullptr, 0};
  }
  if (ddraw) ddraw->Release();
  if (module) FreeLibrary(module);
  if (count) *count = list.count;
  return list.modes;
}

const WindowDriver ddraw_driver = {
    "DirectX",        ddrawOpen,        ddrawClose,      windowLock,     windowUnlock,
    windowSetColour,  ddrawWaitRetrace, windowReadMouse, windowSetMouse, windowSetTitle,
    windowMoveWindow, ddrawListModes,   nullptr,         nullptr,
};

}  // namespace

const WindowDriver& ddrawWindowDriver() { return ddraw_driver; }

}  // namespace zv
