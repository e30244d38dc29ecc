// GDI32 of the Win32 layer: window device contexts, SetDIBitsToDevice (BI_RGB
// bitmaps of 8 bits with a colour table, 16 bits 5-5-5, 24 and 32 bits, top-down or
// bottom-up, clipped to the client area) into the backend's 0x00RRGGBB surface,
// palettes, and GetDeviceCaps.
#include "platform/win32/layer.h"

#include "common/pixel_rows.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace zv::win32 {
namespace {

DeviceContext g_screen_dc;

// The default palette: the twenty static colours.
Palette& defaultPalette() {
  static Palette* palette = [] {
    static const BYTE rgb[20][3] = {{0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},
                                    {0, 0, 128},     {128, 0, 128},   {0, 128, 128},   {192, 192, 192},
                                    {192, 220, 192}, {166, 202, 240}, {255, 251, 240}, {160, 160, 164},
                                    {128, 128, 128}, {255, 0, 0},     {0, 255, 0},     {255, 255, 0},
                                    {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
    auto* p = new Palette;
    for (const auto& c : rgb) p->entries.push_back(PALETTEENTRY{c[0], c[1], c[2], 0});
    return p;
  }();
  return *palette;
}

HPALETTE defaultPaletteHandle() { return reinterpret_cast<HPALETTE>(&defaultPalette()); }

// What a memory context holds before a DIB section is selected into it.
Bitmap g_default_bitmap;

DeviceContext* dcLocked(HDC handle) {
  if (!handle) return nullptr;
  if (handle == reinterpret_cast<HDC>(&g_screen_dc)) return &g_screen_dc;
  if (desktop().memory_dcs.count(handle)) return reinterpret_cast<DeviceContext*>(handle);
  for (Window* window : desktop().windows) {
    if (reinterpret_cast<HDC>(&window->dc) == handle) return &window->dc;
  }
  return nullptr;
}

Palette* paletteLocked(HPALETTE handle) {
  if (handle == defaultPaletteHandle()) return &defaultPalette();
  return desktop().gdi_objects.count(handle) ? reinterpret_cast<Palette*>(handle) : nullptr;
}

uint32_t nearestColour(const Palette& palette, uint32_t rgb) {
  uint32_t best = 0;
  int64_t best_distance = INT64_MAX;
  for (const PALETTEENTRY& e : palette.entries) {
    const int64_t dr = e.peRed - static_cast<int64_t>((rgb >> 16) & 0xFF);
    const int64_t dg = e.peGreen - static_cast<int64_t>((rgb >> 8) & 0xFF);
    const int64_t db = e.peBlue - static_cast<int64_t>(rgb & 0xFF);
    const int64_t distance = dr * dr + dg * dg + db * db;
    if (distance < best_distance) {
      best_distance = distance;
      best = static_cast<uint32_t>(e.peRed) << 16 | static_cast<uint32_t>(e.peGreen) << 8 | e.peBlue;
    }
  }
  return best;
}

}  // namespace

HDC windowDcLocked(Window* window) {
  // A common device context comes with default attributes each time it is taken; a
  // class of its own context keeps what was selected.
  if (!window->window_class || !(window->window_class->wc.style & (CS_OWNDC | CS_CLASSDC))) window->dc.palette = nullptr;
  return reinterpret_cast<HDC>(&window->dc);
}

// 5-5-5 pixels: each field widened to eight bits the way the screen shows it.
void rgb555Row(uint32_t* destination, const uint8_t* source, int32_t width) {
  for (int32_t x = 0; x < width; ++x) {
    uint32_t p = static_cast<uint32_t>(source[2 * x]) | static_cast<uint32_t>(source[2 * x + 1]) << 8;
    uint32_t r = (p >> 10) & 31, g = (p >> 5) & 31, b = p & 31;
    destination[x] = (r << 3 | r >> 2) << 16 | (g << 3 | g >> 2) << 8 | (b << 3 | b >> 2);
  }
}

void rgb24Row(uint32_t* destination, const uint8_t* source, int32_t width) {
  for (int32_t x = 0; x < width; ++x) {
    destination[x] = static_cast<uint32_t>(source[3 * x]) | static_cast<uint32_t>(source[3 * x + 1]) << 8 |
                     static_cast<uint32_t>(source[3 * x + 2]) << 16;
  }
}

}  // namespace zv::win32

using namespace zv::win32;

extern "C" {

HDC GetDC(HWND handle) {
  std::lock_guard<std::mutex> hold(userLock());
  if (!handle) return reinterpret_cast<HDC>(&g_screen_dc);
  Window* window = validWindowLocked(handle);
  if (!window) return nullptr;
  return windowDcLocked(window);
}

int ReleaseDC(HWND, HDC dc) {
  std::lock_guard<std::mutex> hold(userLock());
  return dcLocked(dc) ? 1 : 0;
}

int SetDIBitsToDevice(HDC dc, int x_dest, int y_dest, DWORD width, DWORD height, int x_source, int y_source,
                      UINT start_scan, UINT lines, const VOID* bits, const BITMAPINFO* info, UINT colour_use) {
  if (!bits || !info) return 0;
  const BITMAPINFOHEADER& header = info->bmiHeader;
  const int bpp = header.biBitCount;
  if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biWidth <= 0 || header.biHeight == 0 ||
      header.biCompression != BI_RGB || (bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) ||
      (colour_use != DIB_RGB_COLORS && colour_use != DIB_PAL_COLORS) || header.biHeight == INT32_MIN) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const bool top_down = header.biHeight < 0;
  const int64_t dib_height = std::abs(static_cast<int64_t>(header.biHeight));
  const int64_t dib_width = header.biWidth;
  if (start_scan >= dib_height) return 0;
  lines = static_cast<UINT>(std::min<int64_t>(lines, dib_height - start_scan));
  const size_t stride = static_cast<size_t>((dib_width * bpp + 31) / 32 * 4);

  std::lock_guard<std::mutex> hold(userLock());
  DeviceContext* context = dcLocked(dc);
  if (!context) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  Window* window = context->window;
  const Backend* backend = desktop().backend;
  if (!window || !backend || !window->native) return static_cast<int>(lines);  // nothing shows it

  uint32_t table[256] = {};
  if (bpp == 8) {
    size_t used = header.biClrUsed ? std::min<DWORD>(header.biClrUsed, 256) : 256;
    const auto* colours = reinterpret_cast<const uint8_t*>(info) + header.biSize;
    if (colour_use == DIB_RGB_COLORS) {
      for (size_t i = 0; i < used; ++i) {
        const uint8_t* q = colours + 4 * i;  // blue, green, red, reserved
        table[i] = static_cast<uint32_t>(q[2]) << 16 | static_cast<uint32_t>(q[1]) << 8 | q[0];
      }
      // A palettised display shows only the colours of the realised palette: each
      // colour becomes the nearest of the context's palette (the default one unless
      // the program selected its own into this context).
      if (backend->currentMode().bits == 8) {
        if (const Palette* palette = paletteLocked(context->palette ? context->palette : defaultPaletteHandle())) {
          for (size_t i = 0; i < used; ++i) table[i] = nearestColour(*palette, table[i]);
        }
      }
    } else {
      const Palette* palette = paletteLocked(context->palette ? context->palette : defaultPaletteHandle());
      for (size_t i = 0; i < used && palette; ++i) {
        WORD index = static_cast<WORD>(colours[2 * i] | colours[2 * i + 1] << 8);
        if (index < palette->entries.size()) {
          const PALETTEENTRY& e = palette->entries[index];
          table[i] = static_cast<uint32_t>(e.peRed) << 16 | static_cast<uint32_t>(e.peGreen) << 8 | e.peBlue;
        }
      }
    }
  }

  Surface surface;
  if (!backend->lockSurface(window->native, RECT{0, 0, 0, 0}, &surface)) return 0;
  backend->unlockSurface(window->native, RECT{0, 0, 0, 0});
  // Source columns that land inside the client area.
  int64_t column_first = std::max<int64_t>({x_source, 0, static_cast<int64_t>(x_source) - x_dest});
  int64_t column_end = std::min<int64_t>({static_cast<int64_t>(x_source) + width, dib_width,
                                          static_cast<int64_t>(x_source) + surface.width - x_dest});
  // Scan lines that are both supplied and inside the source rectangle. Scan numbers
  // count from the bitmap's first stored line: the top line of a top-down bitmap,
  // the bottom line of a bottom-up one (whose source y counts from the bottom).
  int64_t scan_first = std::max<int64_t>(start_scan, y_source);
  int64_t scan_end = std::min<int64_t>(static_cast<int64_t>(start_scan) + lines, static_cast<int64_t>(y_source) + height);
  if (column_first >= column_end) return static_cast<int>(lines);
  const auto count = static_cast<int32_t>(column_end - column_first);
  const int64_t x = x_dest + (column_first - x_source);
  const auto row_of = [&](int64_t scan) {
    return top_down ? y_dest + (scan - y_source) : y_dest + (static_cast<int64_t>(y_source) + height - 1 - scan);
  };
  // The rows go out in bands: a backend that shows a band while the next one is
  // converted overlaps its copy with ours.
  constexpr int64_t BAND_LINES = 160;
  for (int64_t band_first = scan_first; band_first < scan_end; band_first += BAND_LINES) {
    const int64_t band_end = std::min(band_first + BAND_LINES, scan_end);
    const int64_t top = std::max<int64_t>(std::min(row_of(band_first), row_of(band_end - 1)), 0);
    const int64_t bottom = std::min<int64_t>(std::max(row_of(band_first), row_of(band_end - 1)) + 1, surface.height);
    if (top >= bottom) continue;
    const RECT band{static_cast<LONG>(x), static_cast<LONG>(top), static_cast<LONG>(x + count),
                    static_cast<LONG>(bottom)};
    if (!backend->lockSurface(window->native, band, &surface)) break;
    for (int64_t scan = band_first; scan < band_end; ++scan) {
      const int64_t y = row_of(scan);
      if (y < 0 || y >= surface.height) continue;
      const uint8_t* source = static_cast<const uint8_t*>(bits) + static_cast<size_t>(scan - start_scan) * stride +
                              static_cast<size_t>(column_first) * static_cast<size_t>(bpp / 8);
      uint32_t* row = surface.pixels + static_cast<size_t>(y) * static_cast<size_t>(surface.stride) + x;
      auto* out = reinterpret_cast<uint8_t*>(row);
      switch (bpp) {
        case 8: zv::lookupRow32(out, source, count, table); break;
        case 16: rgb555Row(row, source, count); break;
        case 24: rgb24Row(row, source, count); break;
        default: zv::alphaClearRowVector(out, source, count, nullptr); break;
      }
    }
    window->presented_lines += static_cast<uint64_t>(bottom - top);
    backend->unlockSurface(window->native, band);
  }
  return static_cast<int>(lines);
}

HPALETTE CreatePalette(const LOGPALETTE* palette) {
  if (!palette || palette->palNumEntries == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* record = new Palette;
  record->entries.assign(palette->palPalEntry, palette->palPalEntry + palette->palNumEntries);
  std::lock_guard<std::mutex> hold(userLock());
  desktop().gdi_objects.insert(record);
  return reinterpret_cast<HPALETTE>(record);
}

UINT SetPaletteEntries(HPALETTE handle, UINT start, UINT count, const PALETTEENTRY* entries) {
  std::lock_guard<std::mutex> hold(userLock());
  Palette* palette = paletteLocked(handle);
  if (!palette || !entries || palette == &defaultPalette() || start >= palette->entries.size()) return 0;
  count = std::min<UINT>(count, static_cast<UINT>(palette->entries.size()) - start);
  std::copy(entries, entries + count, palette->entries.begin() + start);
  return count;
}

UINT GetPaletteEntries(HPALETTE handle, UINT start, UINT count, LPPALETTEENTRY entries) {
  std::lock_guard<std::mutex> hold(userLock());
  Palette* palette = paletteLocked(handle);
  if (!palette) return 0;
  auto size = static_cast<UINT>(palette->entries.size());
  if (!entries) return size;
  if (start >= size) return 0;
  count = std::min(count, size - start);
  std::copy(palette->entries.begin() + start, palette->entries.begin() + start + count, entries);
  return count;
}

HPALETTE SelectPalette(HDC dc, HPALETTE handle, BOOL) {
  std::lock_guard<std::mutex> hold(userLock());
  DeviceContext* context = dcLocked(dc);
  if (!context || !paletteLocked(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  HPALETTE previous = context->palette ? context->palette : defaultPaletteHandle();
  context->palette = handle == defaultPaletteHandle() ? nullptr : handle;
  return previous;
}

UINT RealizePalette(HDC dc) {
  std::lock_guard<std::mutex> hold(userLock());
  DeviceContext* context = dcLocked(dc);
  if (!context) return GDI_ERROR;
  Palette* palette = paletteLocked(context->palette ? context->palette : defaultPaletteHandle());
  return palette ? static_cast<UINT>(palette->entries.size()) : 0;
}

HDC CreateCompatibleDC(HDC) {
  auto* context = new DeviceContext;
  std::lock_guard<std::mutex> hold(userLock());
  desktop().memory_dcs.insert(context);
  return reinterpret_cast<HDC>(context);
}

BOOL DeleteDC(HDC dc) {
  std::lock_guard<std::mutex> hold(userLock());
  if (!desktop().memory_dcs.erase(dc)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  delete reinterpret_cast<DeviceContext*>(dc);
  return TRUE;
}

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT usage, VOID** bits, HANDLE section, DWORD) {
  if (bits) *bits = nullptr;
  const BITMAPINFOHEADER* header = info ? &info->bmiHeader : nullptr;
  if (!header || header->biSize < sizeof(BITMAPINFOHEADER) || header->biBitCount != 32 ||
      header->biCompression != BI_RGB || header->biWidth <= 0 || header->biWidth > 65536 || header->biHeight == 0 ||
      header->biHeight < -65536 || header->biHeight > 65536 || usage != DIB_RGB_COLORS || section) {
    SetLastError(ERROR_INVALID_PARAMETER);  // only what reading a window back needs
    return nullptr;
  }
  auto* bitmap = new Bitmap;
  bitmap->width = header->biWidth;
  bitmap->height = std::abs(header->biHeight);
  bitmap->top_down = header->biHeight < 0;
  bitmap->bits.assign(static_cast<size_t>(bitmap->width) * static_cast<size_t>(bitmap->height), 0);
  if (bits) *bits = bitmap->bits.data();
  std::lock_guard<std::mutex> hold(userLock());
  desktop().bitmaps.insert(bitmap);
  return reinterpret_cast<HBITMAP>(bitmap);
}

// Bitmaps into memory contexts; the previous one is answered.
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  std::lock_guard<std::mutex> hold(userLock());
  Desktop& d = desktop();
  const bool bitmap = d.bitmaps.count(object) || object == &g_default_bitmap;
  if (!d.memory_dcs.count(dc) || !bitmap) {
    SetLastError(ERROR_INVALID_HANDLE);
    return HGDI_ERROR;
  }
  auto* context = reinterpret_cast<DeviceContext*>(dc);
  Bitmap* previous = context->bitmap ? context->bitmap : &g_default_bitmap;
  context->bitmap = object == &g_default_bitmap ? nullptr : static_cast<Bitmap*>(object);
  return previous;
}

// A window's client area (as its surface holds it) copied into the DIB section of a
// memory context, clipped to both.
BOOL BitBlt(HDC destination, int x, int y, int width, int height, HDC source, int x_source, int y_source,
            DWORD rop) {
  std::lock_guard<std::mutex> hold(userLock());
  DeviceContext* to = dcLocked(destination);
  DeviceContext* from = dcLocked(source);
  if (!to || !from || rop != SRCCOPY || !to->bitmap || !from->window) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const Backend* backend = desktop().backend;
  Window* window = from->window;
  Surface surface{};
  if (!backend || !window->native || !backend->lockSurface(window->native, RECT{0, 0, 0, 0}, &surface)) return TRUE;
  Bitmap& b = *to->bitmap;
  // Clip the rectangle to the source surface and the destination bitmap.
  const int64_t left = std::max<int64_t>({0, -static_cast<int64_t>(x), -static_cast<int64_t>(x_source)});
  const int64_t top = std::max<int64_t>({0, -static_cast<int64_t>(y), -static_cast<int64_t>(y_source)});
  const int64_t right = std::min<int64_t>({width, static_cast<int64_t>(b.width) - x, surface.width - int64_t{x_source}});
  const int64_t bottom =
      std::min<int64_t>({height, static_cast<int64_t>(b.height) - y, surface.height - int64_t{y_source}});
  for (int64_t row = top; row < bottom; ++row) {
    const int64_t to_row = b.top_down ? y + row : b.height - 1 - (y + row);
    const uint32_t* in = surface.pixels + (y_source + row) * surface.stride + x_source + left;
    std::copy(in, in + (right - left), b.bits.begin() + to_row * b.width + x + left);
  }
  backend->unlockSurface(window->native, RECT{0, 0, 0, 0});
  return TRUE;
}

BOOL GdiFlush(void) { return TRUE; }

BOOL DeleteObject(HGDIOBJ object) {
  std::lock_guard<std::mutex> hold(userLock());
  Desktop& d = desktop();
  if (object == defaultPaletteHandle()) return TRUE;  // stock objects stay
  if (d.bitmaps.erase(object)) {
    for (const void* dc : d.memory_dcs) {
      auto* context = static_cast<DeviceContext*>(const_cast<void*>(dc));
      if (context->bitmap == object) context->bitmap = nullptr;
    }
    delete static_cast<Bitmap*>(object);
    return TRUE;
  }
  if (!d.gdi_objects.count(object)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  auto handle = static_cast<HPALETTE>(object);
  for (Window* window : d.windows) {
    if (window->dc.palette == handle) window->dc.palette = nullptr;
  }
  if (g_screen_dc.palette == handle) g_screen_dc.palette = nullptr;
  d.gdi_objects.erase(object);
  delete reinterpret_cast<Palette*>(object);
  return TRUE;
}

HGDIOBJ GetStockObject(int index) {
  return index == DEFAULT_PALETTE ? static_cast<HGDIOBJ>(defaultPaletteHandle()) : nullptr;
}

int GetDeviceCaps(HDC dc, int index) {
  std::lock_guard<std::mutex> hold(userLock());
  if (!dcLocked(dc)) return 0;
  const Backend* backend = desktop().backend;
  DisplayMode m = backend ? backend->currentMode() : DisplayMode{0, 0, 0, 0};
  switch (index) {
    case HORZRES: return m.width;
    case VERTRES: return m.height;
    case BITSPIXEL: return m.bits;
    case PLANES: return 1;
    case VREFRESH: return m.frequency;
    case NUMCOLORS: return m.bits <= 8 ? 1 << m.bits : -1;
    case SIZEPALETTE: return m.bits == 8 ? 256 : 0;
    case RASTERCAPS: return m.bits == 8 ? RC_PALETTE : 0;
    case LOGPIXELSX:
    case LOGPIXELSY: return 96;
    default: return 0;
  }
}

}  // extern "C"
