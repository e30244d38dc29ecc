// The "GDI" window driver: presents the framebuffer through device-independent
// bitmaps. Every cycle its update thread copies the band from the first to the last
// dirty row with SetDIBitsToDevice, converting it first when the framebuffer's layout
// cannot be shown as it is (lines not a multiple of 4 bytes, 16-bit pixels, which a
// BI_RGB bitmap takes as 5-5-5, shaped 32-bit windows, doubled scanlines). Windowed
// or full screen by a display-mode change; shaped windows are colour-keyed layered
// windows. Everything window-related is the shared layer of window.h.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "gfx/screen_state.h"
#include "gfx/win32/drivers.h"
#include "common/key_translation.h"
#include "gfx/win32/window.h"

namespace zv {

namespace {

// The bitmap header with its colour table and four spare bytes.
struct GdiBitmapInfo {
  BITMAPINFOHEADER header;
  RGBQUAD colours[256];
  uint8_t spare[4];
};
static_assert(sizeof(GdiBitmapInfo) == 1068);

constexpr DWORD FULL_SCREEN_STYLE = WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
constexpr DWORD FRAMED_STYLE = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr COLORREF SHAPED_KEY_PALETTISED = 0x000000;
constexpr COLORREF SHAPED_KEY_DIRECT = 0xFF00FF;

struct GdiState {
  std::unique_ptr<GdiBitmapInfo> bitmap_info;
  std::unique_ptr<uint8_t[]> conversion_buffer;
  int32_t line_length = 0;       // of conversion_buffer
  HPALETTE palette = nullptr;
  bool display_changed = false;  // the display mode is ours to restore
};

GdiState gdi;

BITMAPINFO* bitmapInfo() { return reinterpret_cast<BITMAPINFO*>(gdi.bitmap_info.get()); }

int32_t scanlineSize(const ScreenState& s) { return s.scanline_size > 1 ? s.scanline_size : 1; }

void copyPaletteToBitmap() {
  const WindowState& w = windowState();
  for (int32_t i = 0; i < 256; ++i) {
    RGBQUAD& colour = gdi.bitmap_info->colours[i];
    colour.rgbRed = w.palette_entries[i].peRed;
    colour.rgbGreen = w.palette_entries[i].peGreen;
    colour.rgbBlue = w.palette_entries[i].peBlue;
    colour.rgbReserved = 0;
  }
}

// Chooses the converter and allocates its buffer. False when the combination has no
// converter or memory runs out.
bool chooseConverter(const ScreenState& s) {
  WindowState& w = windowState();
  const bool doubled = scanlineSize(s) > 1;
  const bool aligned = w.width % 4 == 0 && !doubled;
  bool wanted = false;
  Converter converter = nullptr;
  if (w.depth == 8) {
    wanted = !aligned;
    if (wanted) converter = selectConverter(s, 8, 0);
  } else if (w.depth == 16) {
    wanted = true;
    converter = selectConverter(s, 15, 0);
  } else {
    wanted = !aligned;
    if (wanted) converter = selectConverter(s, 32, 0);
  }
  if (wanted && !converter) return false;
  // The colour key of a shaped window must not meet a pixel's alpha byte.
  if ((w.flags & WINDOW_SHAPED) && w.depth == 32) converter = selectAlphaClearingCopy(s);
  w.converter = converter;
  if (!converter) return true;
  gdi.line_length = (s.pitch + 3) & ~3;
  const size_t size = static_cast<size_t>(gdi.line_length) * static_cast<size_t>(w.height);
  gdi.conversion_buffer.reset(new (std::nothrow) uint8_t[size]());
  return gdi.conversion_buffer != nullptr;
}

int32_t gdiSetUp() {
  WindowState& w = windowState();
  gdi.bitmap_info.reset();
  gdi.conversion_buffer.reset();
  gdi.line_length = 0;
  gdi.palette = nullptr;
  w.converter = nullptr;

  MONITORINFOEXA monitor{};
  const bool have_monitor = monitorInfo(&monitor);

  DWORD style, ex_style = 0;
  int32_t x, y, outer_width, outer_height;
  if (w.flags & WINDOW_FULL_SCREEN) {
    if (changeToFullScreenMode(have_monitor ? &monitor : nullptr) != DISP_CHANGE_SUCCESSFUL) return -1;
    gdi.display_changed = true;
    style = FULL_SCREEN_STYLE;
    x = have_monitor ? monitor.rcMonitor.left : 0;
    y = have_monitor ? monitor.rcMonitor.top : 0;
    outer_width = w.width;
    outer_height = w.height;
  } else {
    if (w.flags & WINDOW_NO_FRAME) style = WS_POPUP;
    else style = FRAMED_STYLE | ((w.flags & WINDOW_NO_SWITCH) ? 0 : WS_MAXIMIZEBOX);
    if (w.flags & WINDOW_SHAPED) {
      if (w.version < WINDOWS_VERSION_5_0) return -1;
      ex_style = WS_EX_LAYERED;
    }
    RECT outer{0, 0, w.width, w.height};
    AdjustWindowRect(&outer, style, FALSE);
    outer_width = outer.right - outer.left;
    outer_height = outer.bottom - outer.top;
    const POINT at = centredPosition(have_monitor ? &monitor : nullptr, outer_width, outer_height);
    x = at.x;
    y = at.y;
    style |= WS_VISIBLE;
  }

  if (createWindow(style, ex_style, x, y, outer_width, outer_height) != 0) return -1;

  if (w.flags & WINDOW_SHAPED) {
    if (!w.SetLayeredWindowAttributes) return -1;
    w.SetLayeredWindowAttributes(w.window, w.depth > 8 ? SHAPED_KEY_DIRECT : SHAPED_KEY_PALETTISED,
                                 0, LWA_COLORKEY);
  }

  gdi.bitmap_info.reset(new (std::nothrow) GdiBitmapInfo());
  if (!gdi.bitmap_info) return -1;
  BITMAPINFOHEADER& header = gdi.bitmap_info->header;
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = w.width;
  header.biHeight = -w.height;  // top-down: line 0 at the top
  header.biPlanes = 1;
  header.biBitCount = static_cast<WORD>(w.depth);
  header.biCompression = BI_RGB;
  header.biClrUsed = 256;
  copyPaletteToBitmap();

  ScreenState* s = currentScreen();
  if (!s || !chooseConverter(*s)) return -1;

  HDC dc = GetDC(w.window);
  // 0 and 1 stand for the hardware's default rate: not a rate to wait by.
  const int rate = GetDeviceCaps(dc, VREFRESH);
  s->refresh_rate = rate > 1 ? rate : 0;
  const size_t palette_size = sizeof(LOGPALETTE) + 255 * sizeof(PALETTEENTRY);
  std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[palette_size]());
  if (block) {
    LOGPALETTE* logical = reinterpret_cast<LOGPALETTE*>(block.get());
    logical->palVersion = 0x300;
    logical->palNumEntries = 256;
    std::memcpy(logical->palPalEntry, w.palette_entries, sizeof w.palette_entries);
    gdi.palette = CreatePalette(logical);
  }
  ReleaseDC(w.window, dc);
  return 0;
}

void gdiTeardown() {
  WindowState& w = windowState();
  gdi.conversion_buffer.reset();
  gdi.bitmap_info.reset();
  w.converter = nullptr;
  if (gdi.display_changed) {
    ChangeDisplaySettingsA(nullptr, 0);
    gdi.display_changed = false;
  }
  if (w.window) {
    DestroyWindow(w.window);
    w.window = nullptr;
  }
  if (gdi.palette) {
    DeleteObject(gdi.palette);
    gdi.palette = nullptr;
  }
}

// The picture of window line 0 on: the converted lines, or the framebuffer.
const uint8_t* pictureSource(const ScreenState& s) {
  return windowState().converter ? gdi.conversion_buffer.get() : s.framebuffer;
}

void gdiPaint() {
  WindowState& w = windowState();
  const ScreenState* s = currentScreen();
  if (!s || !w.window || !gdi.bitmap_info) return;
  HDC dc = GetDC(w.window);
  if (gdi.palette) {
    SelectPalette(dc, gdi.palette, FALSE);
    RealizePalette(dc);
  }
  SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(w.width), static_cast<DWORD>(w.height), 0, 0, 0,
                    static_cast<UINT>(w.height), pictureSource(*s), bitmapInfo(), DIB_RGB_COLORS);
  ReleaseDC(w.window, dc);
}

// One cycle's presentation: the palette when it changed, then the band from the first
// to the last dirty framebuffer row, each row on scanline-size window lines. The
// dirty flags are cleared whether or not anything was copied. Nothing to show, no
// GDI call.
uint32_t presentChanges() {
  WindowState& w = windowState();
  ScreenState* s = currentScreen();
  if (!s || !s->dirty_lines) return 0;
  const int32_t scan = scanlineSize(*s);
  const int32_t rows = s->height < w.height / scan ? s->height : w.height / scan;
  const int32_t flags = s->height * scan < w.height ? s->height * scan : w.height;
  const bool dirty = flags > 0 && std::memchr(s->dirty_lines, 1, static_cast<size_t>(flags)) != nullptr;
  if (!dirty && !w.palette_changed) return 0;
  if (w.window && gdi.bitmap_info) {
    HDC dc = GetDC(w.window);
    if (w.palette_changed) {
      copyPaletteToBitmap();
      if (gdi.palette) SetPaletteEntries(gdi.palette, 0, 256, w.palette_entries);
    }
    // The window's device context comes with the default palette each time: on a
    // palettised display ours is selected and realised again in every cycle.
    if (gdi.palette && (w.palette_changed || (GetDeviceCaps(dc, RASTERCAPS) & RC_PALETTE))) {
      SelectPalette(dc, gdi.palette, FALSE);
      RealizePalette(dc);
    }
    w.palette_changed = 0;
    int32_t top = 0;
    while (top < rows && !s->dirty_lines[top]) ++top;
    if (top < rows) {
      int32_t bottom = rows - 1;
      while (!s->dirty_lines[bottom]) --bottom;
      const int32_t first_line = top * scan;
      const int32_t count = (bottom - top + 1) * scan;
      const uint8_t* band;
      if (w.converter) {
        w.converter(*s, gdi.conversion_buffer.get(), gdi.line_length);
        band = gdi.conversion_buffer.get() + static_cast<size_t>(gdi.line_length) * first_line;
      } else {
        band = s->framebuffer + static_cast<size_t>(s->pitch) * top;
      }
      SetDIBitsToDevice(dc, 0, first_line, static_cast<DWORD>(w.width), static_cast<DWORD>(count),
                        0, 0, 0, static_cast<UINT>(count), band, bitmapInfo(), DIB_RGB_COLORS);
      if (w.version < WINDOWS_VERSION_5_0) {
        const RECT copied{0, first_line, w.width, first_line + count};
        InvalidateRect(w.window, &copied, FALSE);
      }
    }
    ReleaseDC(w.window, dc);
  }
  std::memset(s->dirty_lines, 0, static_cast<size_t>(flags));
  return CYCLE_PRESENTED;
}

// One update cycle: the changed rows presented when a frame may be shown, then the
// key states refreshed while the window is active.
uint32_t gdiCycle(uint32_t in) {
  const uint32_t done = (in & CYCLE_MAY_PRESENT) ? presentChanges() : 0;
  if (!windowState().is_active) return done;
  BYTE keys[256];
  ScreenState* s = currentScreen();
  if (s && s->key_states && GetKeyboardState(keys)) refreshKeyStates(keys, s->key_states);
  return done;
}

DWORD gdiThread(HANDLE start_event) {
  return runUpdateThread(start_event, gdiSetUp, gdiTeardown, gdiCycle);
}

int32_t gdiOpen(const char* title, int32_t width, int32_t height, int32_t depth,
                int32_t refresh_rate, int32_t flags) {
  WindowState& w = windowState();
  w.clear();
  if (flags & WINDOW_OPENGL) return -1;
  w.driver_init = gdiSetUp;
  w.driver_exit = gdiTeardown;
  w.driver_paint = gdiPaint;
  w.driver_thread = gdiThread;
  return commonInitialise(title, width, height, depth < 8 ? 8 : depth, refresh_rate, flags);
}

// The display modes of a depth; 15 and 16 bits, and 24 and 32 bits, count as one.
int32_t* gdiListModes(int32_t depth, int32_t* count) {
  return listDisplayModes(depth, count, [](int32_t bits, int32_t wanted) {
    return bits == wanted || (bits == 15 && wanted == 16) || (bits == 16 && wanted == 15) ||
           (bits == 24 && wanted == 32) || (bits == 32 && wanted == 24);
  });
}

const WindowDriver gdi_driver = {
    "GDI",          gdiOpen,          commonExit,       windowLock,      windowUnlock,
    windowSetColour, windowWaitRetrace, windowReadMouse, windowSetMouse, windowSetTitle,
    windowMoveWindow, gdiListModes,    nullptr,          nullptr,
};

}  // namespace

const WindowDriver& gdiWindowDriver() { return gdi_driver; }

}  // namespace zv
