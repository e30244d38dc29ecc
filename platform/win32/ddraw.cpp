// DirectDraw of the Win32 layer: the DirectDraw object (IDirectDraw, IDirectDraw2),
// surfaces, palettes and clippers as reference-counted objects over the backend.
//
// The screen is the backend's current display mode. The primary surface stands for
// it: what is written to it (Blt, or Lock and Unlock) is shown in the windows it
// reaches, converted to the backend's 0x00RRGGBB pixels: the window of its clipper,
// else the window of an exclusive cooperative level, else every visible window under
// the rectangle. Windowed, the primary keeps no pixels of its own (a blit goes
// straight into the window); with an exclusive level, or once locked, it has a buffer
// of the display mode's size and format. Off-screen surfaces are plain memory.
//
// Every display-mode change loses every surface; the primary can be restored only in
// the mode it was made in (DDERR_WRONGMODE otherwise). Restoring gives the memory
// back cleared, as hardware that lost its video memory would.
#include "platform/win32/com_object.h"
#include "platform/win32/layer.h"

#include "common/pixel_rows.h"

#include <ddraw.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
#include <vector>

namespace zv::win32 {
namespace {

// The display device a secondary-device enumeration names, and DirectDrawCreate accepts.
constexpr GUID kDisplayDevice = {0x7A3C5E21, 0x94B0, 0x4D2F, {0x8E, 0x61, 0x3D, 0x0C, 0x52, 0xA9, 0x17, 0x44}};

// A pixel layout of surfaces and display modes.
struct Layout {
  int32_t bits = 0;       // bits per pixel; 15-bit modes use 16
  int32_t depth = 0;      // 8, 15, 16, 24 or 32
  DWORD red = 0, green = 0, blue = 0;
  int32_t bytes() const { return bits / 8; }
  bool palettised() const { return depth == 8; }
  bool operator==(const Layout&) const = default;
};

bool layoutOfDepth(int32_t depth, Layout* out) {
  switch (depth) {
    case 8: *out = Layout{8, 8, 0, 0, 0}; return true;
    case 15: *out = Layout{16, 15, 0x7C00, 0x03E0, 0x001F}; return true;
    case 16: *out = Layout{16, 16, 0xF800, 0x07E0, 0x001F}; return true;
    case 24: *out = Layout{24, 24, 0xFF0000, 0x00FF00, 0x0000FF}; return true;
    case 32: *out = Layout{32, 32, 0xFF0000, 0x00FF00, 0x0000FF}; return true;
    default: return false;
  }
}

bool layoutOfFormat(const DDPIXELFORMAT& f, Layout* out) {
  if (f.dwFlags & DDPF_PALETTEINDEXED8) return f.dwRGBBitCount == 8 && layoutOfDepth(8, out);
  if (!(f.dwFlags & DDPF_RGB)) return false;
  const int32_t depth = f.dwRGBBitCount == 16 && f.dwGBitMask == 0x3E0 ? 15 : static_cast<int32_t>(f.dwRGBBitCount);
  return depth != 8 && layoutOfDepth(depth, out) && out->red == f.dwRBitMask && out->green == f.dwGBitMask &&
         out->blue == f.dwBBitMask;
}

void describeLayout(const Layout& layout, DDPIXELFORMAT* f) {
  std::memset(f, 0, sizeof *f);
  f->dwSize = sizeof *f;
  f->dwFlags = layout.palettised() ? DDPF_RGB | DDPF_PALETTEINDEXED8 : DDPF_RGB;
  f->dwRGBBitCount = static_cast<DWORD>(layout.bits);
  f->dwRBitMask = layout.red;
  f->dwGBitMask = layout.green;
  f->dwBBitMask = layout.blue;
}

DisplayMode currentModeLocked() {
  const Backend* backend = desktop().backend;
  return backend ? backend->currentMode() : DisplayMode{0, 0, 0, 0};
}

bool sameMode(const DisplayMode& a, const DisplayMode& b) {
  return a.width == b.width && a.height == b.height && a.bits == b.bits;
}

// 5-6-5 pixels: each field widened to eight bits the way the screen shows it.
void rgb565Row(uint32_t* destination, const uint8_t* source, int32_t width) {
  for (int32_t x = 0; x < width; ++x) {
    uint32_t p = static_cast<uint32_t>(source[2 * x]) | static_cast<uint32_t>(source[2 * x + 1]) << 8;
    uint32_t r = (p >> 11) & 31, g = (p >> 5) & 63, b = p & 31;
    destination[x] = (r << 3 | r >> 2) << 16 | (g << 2 | g >> 4) << 8 | (b << 3 | b >> 2);
  }
}

// One row of a layout as the screen's 0x00RRGGBB pixels; table: the palette's colours.
void rowToScreen(const Layout& layout, uint32_t* destination, const uint8_t* source, int32_t width,
                 const uint32_t* table) {
  auto* out = reinterpret_cast<uint8_t*>(destination);
  switch (layout.depth) {
    case 8: zv::lookupRow32(out, source, width, table); break;
    case 15: rgb555Row(destination, source, width); break;
    case 16: rgb565Row(destination, source, width); break;
    case 24: rgb24Row(destination, source, width); break;
    default: zv::alphaClearRowVector(out, source, width, nullptr); break;
  }
}

RECT intersect(const RECT& a, const RECT& b) {
  RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
  if (r.left >= r.right || r.top >= r.bottom) r = RECT{0, 0, 0, 0};
  return r;
}

bool isEmpty(const RECT& r) { return r.left >= r.right || r.top >= r.bottom; }

bool inside(const RECT& r, int32_t width, int32_t height) {
  return r.left >= 0 && r.top >= 0 && r.right <= width && r.bottom <= height && r.left < r.right && r.top < r.bottom;
}

class Clipper final : public ComObject<IDirectDrawClipper> {
 public:
  HRESULT STDMETHODCALLTYPE SetHWnd(DWORD flags, HWND window) override {
    if (flags != 0) return DDERR_INVALIDPARAMS;
    std::lock_guard<std::mutex> hold(userLock());
    window_ = window;
    return DD_OK;
  }
  HWND windowLocked() const { return window_; }

 private:
  HWND window_ = nullptr;
};

class DirectDraw;
class DDSurface;

class DDPalette final : public ComObject<IDirectDrawPalette> {
 public:
  explicit DDPalette(const PALETTEENTRY* entries) {
    if (entries) std::copy(entries, entries + 256, entries_);
  }
  HRESULT STDMETHODCALLTYPE SetEntries(DWORD flags, DWORD start, DWORD count, LPPALETTEENTRY entries) override;

  // The colours as the screen shows them, 0x00RRGGBB. Lock held.
  void screenTableLocked(uint32_t* table) const {
    for (int32_t i = 0; i < 256; ++i) {
      const PALETTEENTRY& e = entries_[i];
      table[i] = static_cast<uint32_t>(e.peRed) << 16 | static_cast<uint32_t>(e.peGreen) << 8 | e.peBlue;
    }
  }

 private:
  PALETTEENTRY entries_[256] = {};
};

// Guarded by the layer's lock.
struct DirectDrawState {
  std::vector<DDSurface*> surfaces;  // every live surface
  DirectDraw* exclusive = nullptr;   // the object with the exclusive level
  HWND exclusive_window = nullptr;
  std::vector<DisplayModeRequest> requests;
};

DirectDrawState& state() {
  static DirectDrawState* s = new DirectDrawState;
  return *s;
}

class DDSurface final : public ComObject<IDirectDrawSurface> {
 public:
  DDSurface(bool primary, const Layout& layout, int32_t width, int32_t height, DWORD caps, const DisplayMode& mode)
      : primary_(primary), layout_(layout), width_(width), height_(height), caps_(caps), mode_(mode) {
    pitch_ = (width * layout.bytes() + 3) & ~3;
    std::lock_guard<std::mutex> hold(userLock());
    state().surfaces.push_back(this);
  }
  ~DDSurface() override {
    IDirectDrawClipper* clipper;
    IDirectDrawPalette* palette;
    {
      std::lock_guard<std::mutex> hold(userLock());
      auto& all = state().surfaces;
      all.erase(std::remove(all.begin(), all.end(), this), all.end());
      clipper = clipper_;
      palette = palette_;
    }
    if (clipper) clipper->Release();
    if (palette) palette->Release();
  }

  // Memory for the pixels, cleared. False when there is none to be had. Lock held.
  // A rectangle of the surface scaled to width x height (nearest pixel), rows packed.
  std::vector<uint8_t> stretchedLocked(const RECT& from, int32_t width, int32_t height) const {
    const auto bytes = static_cast<size_t>(layout_.bytes());
    std::vector<uint8_t> out(static_cast<size_t>(width) * static_cast<size_t>(height) * bytes);
    const int64_t from_width = from.right - from.left, from_height = from.bottom - from.top;
    for (int32_t y = 0; y < height; ++y) {
      const int64_t source_y = from.top + y * from_height / height;
      const uint8_t* row = pixels_.get() + static_cast<size_t>(source_y) * static_cast<size_t>(pitch_);
      uint8_t* target = out.data() + static_cast<size_t>(y) * static_cast<size_t>(width) * bytes;
      for (int32_t x = 0; x < width; ++x) {
        const int64_t source_x = from.left + x * from_width / width;
        std::memcpy(target + static_cast<size_t>(x) * bytes, row + static_cast<size_t>(source_x) * bytes, bytes);
      }
    }
    return out;
  }

  bool allocateLocked() {
    if (pixels_) return true;
    const size_t size = static_cast<size_t>(pitch_) * static_cast<size_t>(height_);
    pixels_.reset(new (std::nothrow) uint8_t[size]());
    return pixels_ != nullptr;
  }

  HRESULT STDMETHODCALLTYPE Blt(LPRECT destination_rect, IDirectDrawSurface* source, LPRECT source_rect, DWORD flags,
                                LPDDBLTFX effects) override;

  HRESULT STDMETHODCALLTYPE GetPixelFormat(LPDDPIXELFORMAT format) override {
    if (!format || format->dwSize != sizeof(DDPIXELFORMAT)) return DDERR_INVALIDPARAMS;
    describeLayout(layout_, format);
    return DD_OK;
  }

  HRESULT STDMETHODCALLTYPE IsLost() override {
    std::lock_guard<std::mutex> hold(userLock());
    return lost_ ? DDERR_SURFACELOST : DD_OK;
  }

  HRESULT STDMETHODCALLTYPE Lock(LPRECT rect, LPDDSURFACEDESC description, DWORD, HANDLE) override {
    if (!description || description->dwSize != sizeof(DDSURFACEDESC)) return DDERR_INVALIDPARAMS;
    std::lock_guard<std::mutex> hold(userLock());
    if (lost_) return DDERR_SURFACELOST;
    if (locked_) return DDERR_SURFACEBUSY;
    RECT area = rect ? *rect : RECT{0, 0, width_, height_};
    if (!inside(area, width_, height_)) return DDERR_INVALIDRECT;
    if (!allocateLocked()) return DDERR_OUTOFMEMORY;
    locked_ = true;
    locked_rect_ = area;
    fillDescription(description);
    description->lpSurface = pixels_.get() + static_cast<size_t>(area.top) * static_cast<size_t>(pitch_) +
                             static_cast<size_t>(area.left) * static_cast<size_t>(layout_.bytes());
    return DD_OK;
  }

  HRESULT STDMETHODCALLTYPE Unlock(LPVOID) override {
    std::lock_guard<std::mutex> hold(userLock());
    if (!locked_) return DDERR_NOTLOCKED;
    locked_ = false;
    if (primary_ && !lost_) showLocked(locked_rect_);
    return DD_OK;
  }

  HRESULT STDMETHODCALLTYPE Restore() override {
    std::lock_guard<std::mutex> hold(userLock());
    if (!lost_) return DD_OK;
    if (primary_ && !sameMode(mode_, currentModeLocked())) return DDERR_WRONGMODE;
    lost_ = false;
    if (pixels_) std::memset(pixels_.get(), 0, static_cast<size_t>(pitch_) * static_cast<size_t>(height_));
    return DD_OK;
  }

  HRESULT STDMETHODCALLTYPE SetClipper(IDirectDrawClipper* clipper) override {
    if (clipper) clipper->AddRef();
    IDirectDrawClipper* old;
    {
      std::lock_guard<std::mutex> hold(userLock());
      old = clipper_;
      clipper_ = static_cast<Clipper*>(clipper);
    }
    if (old) old->Release();
    return DD_OK;
  }

  HRESULT STDMETHODCALLTYPE SetPalette(IDirectDrawPalette* palette) override {
    if (!layout_.palettised()) return DDERR_NOTPALETTIZED;
    if (palette) palette->AddRef();
    IDirectDrawPalette* old;
    {
      std::lock_guard<std::mutex> hold(userLock());
      old = palette_;
      palette_ = static_cast<DDPalette*>(palette);
      if (primary_ && pixels_ && !lost_) showLocked(RECT{0, 0, width_, height_});
    }
    if (old) old->Release();
    return DD_OK;
  }

  void fillDescription(DDSURFACEDESC* d) const {
    const DWORD size = d->dwSize;
    std::memset(d, 0, sizeof *d);
    d->dwSize = size;
    d->dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT;
    d->dwWidth = static_cast<DWORD>(width_);
    d->dwHeight = static_cast<DWORD>(height_);
    d->lPitch = pitch_;
    describeLayout(layout_, &d->ddpfPixelFormat);
    d->ddsCaps.dwCaps = caps_;
  }

  void loseLocked() { lost_ = true; }
  bool usesPaletteLocked(const DDPalette* palette) const { return palette_ == palette; }
  bool isPrimary() const { return primary_; }

  // Shows the rectangle of the primary's own pixels. Lock held.
  void showLocked(const RECT& rect) {
    if (!pixels_) return;
    const RECT area = intersect(rect, RECT{0, 0, width_, height_});
    if (isEmpty(area)) return;
    const uint8_t* start = pixels_.get() + static_cast<size_t>(area.top) * static_cast<size_t>(pitch_) +
                           static_cast<size_t>(area.left) * static_cast<size_t>(layout_.bytes());
    showOnScreenLocked(start, pitch_, layout_, area);
  }

  // Shows pixels of a layout at a rectangle of the screen in the windows the primary
  // reaches; each window's client area is clipped out of it. Lock held.
  void showOnScreenLocked(const uint8_t* pixels, int32_t pitch, const Layout& layout, const RECT& screen) const;

 private:
  friend class DirectDraw;
  friend class DDPalette;

  // The windows the primary's picture reaches. Lock held.
  std::vector<Window*> targetsLocked() const;

  const bool primary_;
  const Layout layout_;
  const int32_t width_, height_;
  const DWORD caps_;
  const DisplayMode mode_;  // the display mode the primary was made in
  int32_t pitch_ = 0;
  std::unique_ptr<uint8_t[]> pixels_;
  bool lost_ = false;
  bool locked_ = false;
  RECT locked_rect_{};
  Clipper* clipper_ = nullptr;
  DDPalette* palette_ = nullptr;
};

std::vector<Window*> DDSurface::targetsLocked() const {
  std::vector<Window*> targets;
  if (clipper_) {
    if (Window* window = windowLocked(clipper_->windowLocked())) targets.push_back(window);
    return targets;
  }
  if (state().exclusive) {
    if (Window* window = windowLocked(state().exclusive_window)) targets.push_back(window);
    return targets;
  }
  for (Window* window : desktop().windows)
    if (window->visible) targets.push_back(window);
  return targets;
}

void DDSurface::showOnScreenLocked(const uint8_t* pixels, int32_t pitch, const Layout& layout,
                                   const RECT& screen) const {
  const Backend* backend = desktop().backend;
  if (!backend) return;
  uint32_t table[256] = {};
  if (layout.palettised() && palette_) palette_->screenTableLocked(table);
  std::vector<uint32_t> row(static_cast<size_t>(screen.right - screen.left));
  for (Window* window : targetsLocked()) {
    if (!window->native) continue;
    const RECT client = clientRectOnScreen(window);
    const RECT area = intersect(screen, client);
    if (isEmpty(area)) continue;
    Surface surface;
    if (!backend->lockSurface(window->native, RECT{area.left - client.left, area.top - client.top,
                                                   area.right - client.left, area.bottom - client.top},
                              &surface))
      continue;
    const int32_t x = area.left - client.left;
    const int32_t count = std::min<int32_t>(area.right - area.left, surface.width - x);
    RECT changed{0, 0, 0, 0};
    uint64_t written = 0;
    for (LONG y = area.top; y < area.bottom && count > 0; ++y) {
      const LONG line = y - client.top;
      if (line < 0 || line >= surface.height) continue;
      const uint8_t* source = pixels + static_cast<ptrdiff_t>(y - screen.top) * pitch +
                              static_cast<ptrdiff_t>(area.left - screen.left) * layout.bytes();
      rowToScreen(layout, row.data(), source, count, table);
      uint32_t* target = surface.pixels + static_cast<size_t>(line) * static_cast<size_t>(surface.stride) + x;
      // Rows that already show these pixels are left alone, so the backend is asked
      // to show only what changed.
      const size_t bytes = static_cast<size_t>(count) * sizeof(uint32_t);
      if (std::memcmp(target, row.data(), bytes) == 0) continue;
      std::memcpy(target, row.data(), bytes);
      if (written++ == 0) changed = RECT{x, line, x + count, line + 1};
      changed.bottom = line + 1;
    }
    window->presented_lines += written;
    backend->unlockSurface(window->native, changed);
  }
}

HRESULT DDPalette::SetEntries(DWORD flags, DWORD start, DWORD count, LPPALETTEENTRY entries) {
  if (flags != 0 || !entries || start > 256 || count > 256 - start) return DDERR_INVALIDPARAMS;
  std::lock_guard<std::mutex> hold(userLock());
  std::copy(entries, entries + count, entries_ + start);
  // A palette in use by the screen changes its colours at once.
  for (DDSurface* surface : state().surfaces)
    if (surface->isPrimary() && surface->usesPaletteLocked(this) && !surface->lost_)
      surface->showLocked(RECT{0, 0, surface->width_, surface->height_});
  return DD_OK;
}

HRESULT DDSurface::Blt(LPRECT destination_rect, IDirectDrawSurface* source_interface, LPRECT source_rect,
                       DWORD flags, LPDDBLTFX effects) {
  auto* source = static_cast<DDSurface*>(source_interface);
  const bool fill = (flags & DDBLT_COLORFILL) != 0;
  if (fill ? (!effects || effects->dwSize != sizeof(DDBLTFX)) : !source) return DDERR_INVALIDPARAMS;
  std::lock_guard<std::mutex> hold(userLock());
  if (lost_ || (!fill && source->lost_)) return DDERR_SURFACELOST;
  if (locked_ || (!fill && source->locked_)) return DDERR_SURFACEBUSY;

  RECT to = destination_rect ? *destination_rect : RECT{0, 0, width_, height_};
  RECT from{0, 0, 0, 0};
  std::vector<uint8_t> stretched;  // the source rectangle at the destination's size, when they differ
  int32_t stretched_width = 0;
  if (!fill) {
    if (!(source->layout_ == layout_)) return DDERR_INVALIDPIXELFORMAT;
    from = source_rect ? *source_rect : RECT{0, 0, source->width_, source->height_};
    if (!inside(from, source->width_, source->height_)) return DDERR_INVALIDRECT;
    if (from.right - from.left != to.right - to.left || from.bottom - from.top != to.bottom - to.top) {
      // Rectangles of different sizes: DirectDraw stretches in software.
      if (to.right <= to.left || to.bottom <= to.top) return DDERR_INVALIDRECT;
      if (!source->pixels_ && !source->allocateLocked()) return DDERR_OUTOFMEMORY;
      stretched_width = to.right - to.left;
      stretched = source->stretchedLocked(from, stretched_width, to.bottom - to.top);
      from = RECT{0, 0, to.right - to.left, to.bottom - to.top};
    }
  }
  // Clipping: a clipper's window bounds what a blit to the primary reaches; without
  // one the rectangle must lie on the surface.
  RECT bounds{0, 0, width_, height_};
  if (clipper_) {
    Window* window = windowLocked(clipper_->windowLocked());
    if (!window) return DDERR_INVALIDPARAMS;
    if (primary_) bounds = clientRectOnScreen(window);
  } else if (!inside(to, width_, height_)) {
    return DDERR_INVALIDRECT;
  }
  const RECT clipped = intersect(to, bounds);
  if (isEmpty(clipped)) return DD_OK;
  from.left += clipped.left - to.left;
  from.top += clipped.top - to.top;
  to = clipped;
  const int32_t width = to.right - to.left;
  const int32_t bytes = layout_.bytes();

  if (fill) {
    if (primary_ && !allocateLocked()) return DDERR_OUTOFMEMORY;
    if (!pixels_) return DDERR_GENERIC;
    const RECT area = intersect(to, RECT{0, 0, width_, height_});
    for (LONG y = area.top; y < area.bottom; ++y) {
      uint8_t* out = pixels_.get() + static_cast<size_t>(y) * static_cast<size_t>(pitch_) +
                     static_cast<size_t>(area.left) * static_cast<size_t>(bytes);
      for (LONG x = area.left; x < area.right; ++x, out += bytes) std::memcpy(out, &effects->dwFillColor, bytes);
    }
    if (primary_) showLocked(area);
    return DD_OK;
  }

  if (!source->pixels_ && !source->allocateLocked()) return DDERR_OUTOFMEMORY;
  const int32_t from_pitch = stretched.empty() ? source->pitch_ : stretched_width * bytes;
  const uint8_t* from_base = stretched.empty() ? source->pixels_.get() : stretched.data();
  const uint8_t* from_pixels = from_base + static_cast<size_t>(from.top) * static_cast<size_t>(from_pitch) +
                               static_cast<size_t>(from.left) * static_cast<size_t>(bytes);
  if (primary_ && !pixels_) {
    // Windowed: straight into the windows, through the primary's palette.
    showOnScreenLocked(from_pixels, from_pitch, layout_, to);
    return DD_OK;
  }
  if (!pixels_ && !allocateLocked()) return DDERR_OUTOFMEMORY;
  for (LONG y = 0; y < to.bottom - to.top; ++y) {
    uint8_t* out = pixels_.get() + static_cast<size_t>(to.top + y) * static_cast<size_t>(pitch_) +
                   static_cast<size_t>(to.left) * static_cast<size_t>(bytes);
    std::memmove(out, from_pixels + static_cast<ptrdiff_t>(y) * from_pitch, static_cast<size_t>(width) * bytes);
  }
  if (primary_) showLocked(to);
  return DD_OK;
}

class DirectDraw final : public ComObject<IDirectDraw>, public IDirectDraw2 {
 public:
  ~DirectDraw() override {
    std::lock_guard<std::mutex> hold(userLock());
    releaseExclusiveLocked();
    restoreModeLocked();
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return DDERR_INVALIDPARAMS;
    if (IsEqualGUID(riid, IID_IDirectDraw2)) {
      *object = static_cast<IDirectDraw2*>(this);
    } else if (IsEqualGUID(riid, IID_IDirectDraw)) {
      *object = static_cast<IDirectDraw*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return DD_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ComObject<IDirectDraw>::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return ComObject<IDirectDraw>::Release(); }

  HRESULT STDMETHODCALLTYPE CreateClipper(DWORD flags, IDirectDrawClipper** clipper, IUnknown* outer) override {
    if (!clipper || flags != 0) return DDERR_INVALIDPARAMS;
    if (outer) return CLASS_E_NOAGGREGATION;
    *clipper = new (std::nothrow) Clipper;
    return *clipper ? DD_OK : DDERR_OUTOFMEMORY;
  }

  HRESULT STDMETHODCALLTYPE CreatePalette(DWORD flags, LPPALETTEENTRY entries, IDirectDrawPalette** palette,
                                          IUnknown* outer) override {
    if (!palette || !(flags & DDPCAPS_8BIT)) return DDERR_INVALIDPARAMS;
    if (outer) return CLASS_E_NOAGGREGATION;
    *palette = new (std::nothrow) DDPalette(entries);
    return *palette ? DD_OK : DDERR_OUTOFMEMORY;
  }

  HRESULT STDMETHODCALLTYPE CreateSurface(LPDDSURFACEDESC d, IDirectDrawSurface** surface, IUnknown* outer) override {
    if (!surface || !d || d->dwSize != sizeof(DDSURFACEDESC) || !(d->dwFlags & DDSD_CAPS)) return DDERR_INVALIDPARAMS;
    if (outer) return CLASS_E_NOAGGREGATION;
    *surface = nullptr;
    DisplayMode mode;
    bool exclusive;
    {
      std::lock_guard<std::mutex> hold(userLock());
      if (level_ == 0) return DDERR_NOCOOPERATIVELEVELSET;
      mode = currentModeLocked();
      exclusive = state().exclusive == this;
    }
    Layout layout;
    if (!layoutOfDepth(mode.bits, &layout)) return DDERR_GENERIC;
    const DWORD caps = d->ddsCaps.dwCaps;
    DDSurface* made;
    if (caps & DDSCAPS_PRIMARYSURFACE) {
      if (d->dwFlags & (DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT)) return DDERR_INVALIDPARAMS;
      made = new (std::nothrow) DDSurface(true, layout, mode.width, mode.height, caps | DDSCAPS_VIDEOMEMORY, mode);
      // With the exclusive level the primary is the screen's memory.
      if (exclusive) made = withMemory(made);
    } else {
      if ((d->dwFlags & (DDSD_WIDTH | DDSD_HEIGHT)) != (DDSD_WIDTH | DDSD_HEIGHT) || d->dwWidth == 0 ||
          d->dwHeight == 0 || d->dwWidth > 16384 || d->dwHeight > 16384)
        return DDERR_INVALIDPARAMS;
      if ((d->dwFlags & DDSD_PIXELFORMAT) && !layoutOfFormat(d->ddpfPixelFormat, &layout))
        return DDERR_INVALIDPIXELFORMAT;
      const DWORD memory = caps & DDSCAPS_VIDEOMEMORY ? 0 : DDSCAPS_SYSTEMMEMORY;
      made = new (std::nothrow) DDSurface(false, layout, static_cast<int32_t>(d->dwWidth),
                                          static_cast<int32_t>(d->dwHeight), caps | memory, mode);
      made = withMemory(made);
    }
    if (!made) return DDERR_OUTOFMEMORY;
    *surface = made;
    return DD_OK;
  }

  HRESULT STDMETHODCALLTYPE EnumDisplayModes(DWORD flags, LPDDSURFACEDESC filter, LPVOID context,
                                             LPDDENUMMODESCALLBACK callback) override {
    if (!callback || (filter && filter->dwSize != sizeof(DDSURFACEDESC))) return DDERR_INVALIDPARAMS;
    std::vector<DisplayMode> modes;
    {
      std::lock_guard<std::mutex> hold(userLock());
      const Backend* backend = desktop().backend;
      DisplayMode m;
      for (int32_t i = 0; backend && backend->mode(i, &m); ++i) {
        const bool listed = std::any_of(modes.begin(), modes.end(), [&](const DisplayMode& seen) {
          return sameMode(seen, m) && (!(flags & DDEDM_REFRESHRATES) || seen.frequency == m.frequency);
        });
        if (!listed) modes.push_back(m);
      }
    }
    // The callback runs without the layer's lock: it may call anything.
    for (const DisplayMode& m : modes) {
      Layout layout;
      if (!layoutOfDepth(m.bits, &layout)) continue;
      DDSURFACEDESC d;
      std::memset(&d, 0, sizeof d);
      d.dwSize = sizeof d;
      d.dwFlags = DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT | DDSD_REFRESHRATE;
      d.dwWidth = static_cast<DWORD>(m.width);
      d.dwHeight = static_cast<DWORD>(m.height);
      d.lPitch = (m.width * layout.bytes() + 3) & ~3;
      d.dwRefreshRate = (flags & DDEDM_REFRESHRATES) ? static_cast<DWORD>(m.frequency) : 0;
      describeLayout(layout, &d.ddpfPixelFormat);
      if (filter && !matches(*filter, d)) continue;
      if (callback(&d, context) == DDENUMRET_CANCEL) break;
    }
    return DD_OK;
  }

  HRESULT STDMETHODCALLTYPE GetMonitorFrequency(LPDWORD frequency) override {
    if (!frequency) return DDERR_INVALIDPARAMS;
    std::lock_guard<std::mutex> hold(userLock());
    const DisplayMode mode = currentModeLocked();
    if (mode.frequency <= 1) return DDERR_UNSUPPORTED;  // the hardware's default: not known
    *frequency = static_cast<DWORD>(mode.frequency);
    return DD_OK;
  }

  HRESULT STDMETHODCALLTYPE RestoreDisplayMode() override {
    std::lock_guard<std::mutex> hold(userLock());
    restoreModeLocked();
    return DD_OK;
  }

  HRESULT STDMETHODCALLTYPE SetCooperativeLevel(HWND window, DWORD flags) override {
    const bool exclusive = (flags & DDSCL_EXCLUSIVE) != 0;
    if (exclusive != ((flags & DDSCL_FULLSCREEN) != 0) || (exclusive && (flags & DDSCL_NORMAL)) ||
        (!exclusive && !(flags & DDSCL_NORMAL)))
      return DDERR_INVALIDPARAMS;
    std::lock_guard<std::mutex> hold(userLock());
    if (window && !windowLocked(window)) return DDERR_INVALIDPARAMS;
    if (exclusive) {
      if (!window) return DDERR_NOHWND;
      if (state().exclusive && state().exclusive != this) return DDERR_EXCLUSIVEMODEALREADYSET;
      state().exclusive = this;
      state().exclusive_window = window;
    } else {
      releaseExclusiveLocked();
    }
    level_ = flags;
    return DD_OK;
  }

  HRESULT STDMETHODCALLTYPE SetDisplayMode(DWORD width, DWORD height, DWORD bits, DWORD refresh_rate,
                                           DWORD flags) override {
    if (flags & ~static_cast<DWORD>(DDSDM_STANDARDVGAMODE)) return DDERR_INVALIDPARAMS;
    if ((flags & DDSDM_STANDARDVGAMODE) && (width != 320 || height != 200 || bits != 8)) return DDERR_INVALIDPARAMS;
    HWND cover = nullptr;
    {
      std::lock_guard<std::mutex> hold(userLock());
      Desktop& d = desktop();
      const DisplayMode wanted{static_cast<int32_t>(width), static_cast<int32_t>(height), static_cast<int32_t>(bits),
                               static_cast<int32_t>(refresh_rate)};
      // The latest requests only: a program retrying for hours must not grow the list.
      auto& requests = state().requests;
      if (requests.size() >= 4096) requests.erase(requests.begin(), requests.begin() + 2048);
      requests.push_back(DisplayModeRequest{wanted.width, wanted.height, wanted.bits, wanted.frequency, flags});
      if (state().exclusive && state().exclusive != this) return DDERR_NOEXCLUSIVEMODE;
      Layout layout;
      if (!d.backend || !layoutOfDepth(wanted.bits, &layout)) return DDERR_INVALIDMODE;
      const DisplayMode before = d.backend->currentMode();
      if (d.backend->setMode(&wanted, false) != DISP_CHANGE_SUCCESSFUL) return DDERR_INVALIDMODE;
      mode_set_ = true;
      if (!sameMode(before, d.backend->currentMode())) displayModeChangedLocked();
      if (state().exclusive == this) cover = state().exclusive_window;
    }
    // The exclusive window covers the new screen, as the display's owner.
    if (cover) SetWindowPos(cover, nullptr, 0, 0, static_cast<int>(width), static_cast<int>(height),
                            SWP_NOZORDER | SWP_NOACTIVATE);
    return DD_OK;
  }

  HRESULT STDMETHODCALLTYPE WaitForVerticalBlank(DWORD flags, HANDLE) override {
    if (flags == DDWAITVB_BLOCKBEGINEVENT) return DDERR_UNSUPPORTED;
    if (flags != DDWAITVB_BLOCKBEGIN && flags != DDWAITVB_BLOCKEND) return DDERR_INVALIDPARAMS;
    int32_t frequency;
    {
      std::lock_guard<std::mutex> hold(userLock());
      frequency = currentModeLocked().frequency;
    }
    if (frequency <= 1) frequency = 60;
    // Frames begin at whole multiples of the period on the steady clock.
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::nanoseconds(1000000000LL / frequency);
    const auto since = Clock::now().time_since_epoch();
    std::this_thread::sleep_until(Clock::time_point((since / period + 1) * period));
    return DD_OK;
  }

 private:
  // The surface with its memory, or null (and the surface gone) when there is none.
  static DDSurface* withMemory(DDSurface* surface) {
    if (!surface) return nullptr;
    bool allocated;
    {
      std::lock_guard<std::mutex> hold(userLock());
      allocated = surface->allocateLocked();
    }
    if (allocated) return surface;
    surface->Release();
    return nullptr;
  }

  static bool matches(const DDSURFACEDESC& filter, const DDSURFACEDESC& mode) {
    if ((filter.dwFlags & DDSD_WIDTH) && filter.dwWidth != mode.dwWidth) return false;
    if ((filter.dwFlags & DDSD_HEIGHT) && filter.dwHeight != mode.dwHeight) return false;
    if ((filter.dwFlags & DDSD_PIXELFORMAT) &&
        filter.ddpfPixelFormat.dwRGBBitCount != mode.ddpfPixelFormat.dwRGBBitCount)
      return false;
    return !(filter.dwFlags & DDSD_REFRESHRATE) || filter.dwRefreshRate == mode.dwRefreshRate;
  }

  void releaseExclusiveLocked() {
    if (state().exclusive != this) return;
    state().exclusive = nullptr;
    state().exclusive_window = nullptr;
  }

  void restoreModeLocked() {
    if (!mode_set_) return;
    mode_set_ = false;
    Desktop& d = desktop();
    if (!d.backend) return;
    const DisplayMode before = d.backend->currentMode();
    if (d.backend->setMode(nullptr, false) == DISP_CHANGE_SUCCESSFUL && !sameMode(before, d.backend->currentMode()))
      displayModeChangedLocked();
  }

  DWORD level_ = 0;        // the cooperative level's flags; 0 before it is set
  bool mode_set_ = false;  // this object changed the display mode
};

}  // namespace

std::atomic<int32_t>& liveComObjects() {
  static std::atomic<int32_t> live{0};
  return live;
}

void loseSurfacesLocked() {
  for (DDSurface* surface : state().surfaces) surface->loseLocked();
}

std::vector<DisplayModeRequest> displayModeRequests() {
  std::lock_guard<std::mutex> hold(userLock());
  return state().requests;
}

void clearDisplayModeRequests() {
  std::lock_guard<std::mutex> hold(userLock());
  state().requests.clear();
}

}  // namespace zv::win32

using namespace zv::win32;

extern "C" {

HRESULT WINAPI DirectDrawCreate(GUID* device, LPDIRECTDRAW* object, IUnknown* outer) {
  if (!object) return DDERR_INVALIDPARAMS;
  *object = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  if (device && device != DDCREATE_EMULATIONONLY && device != DDCREATE_HARDWAREONLY &&
      !IsEqualGUID(*device, kDisplayDevice))
    return DDERR_INVALIDDIRECTDRAWGUID;
  if (!installedBackend()) return DDERR_GENERIC;  // no display to draw on
  auto* made = new (std::nothrow) DirectDraw;
  if (!made) return DDERR_OUTOFMEMORY;
  *object = static_cast<IDirectDraw*>(made);
  return DD_OK;
}

HRESULT WINAPI DirectDrawEnumerateExA(LPDDENUMCALLBACKEXA callback, LPVOID context, DWORD flags) {
  if (!callback) return DDERR_INVALIDPARAMS;
  if (!installedBackend()) return DD_OK;
  char description[] = "Primary Display Driver";
  char name[] = "display";
  if (!callback(nullptr, description, name, context, nullptr)) return DD_OK;
  if (flags & DDENUM_ATTACHEDSECONDARYDEVICES) {
    GUID device = kDisplayDevice;
    char device_description[] = "Display 1";
    char device_name[] = "\\\\.\\DISPLAY1";
    callback(&device, device_description, device_name, context, MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY));
  }
  return DD_OK;
}

}  // extern "C"
