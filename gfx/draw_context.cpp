// The drawing context and its pixel routines for 1, 2 and 4 bytes per pixel. The
// fills and copies come in a plain form and an 8-byte-at-a-time form; the latter is
// taken when the processor reports the feature (tested once) unless tests force the
// plain form. Both forms give identical pixels.
#include "gfx/draw_context.h"

#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "gfx/screen_state.h"
#include "runtime/runtime.h"

namespace zv {

namespace {

// The row table lives here, not in the context area: that area is plain memory that
// a runtime reset frees without running destructors.
std::vector<uint8_t*> row_storage;
bool plain_forced = false;

// ---- plain routines -------------------------------------------------------------

void putPixel8(uint8_t* row, int32_t x, uint32_t colour) { row[x] = static_cast<uint8_t>(colour); }
uint32_t getPixel8(const uint8_t* row, int32_t x) { return row[x]; }
void fillPixels8(uint8_t* row, int32_t x, int32_t count, uint32_t colour) {
  for (int32_t i = 0; i < count; ++i) row[x + i] = static_cast<uint8_t>(colour);
}
void copyPixels8(uint8_t* destination, const uint8_t* source, int32_t count) {
  for (int32_t i = 0; i < count; ++i) destination[i] = source[i];
}

void putPixel16(uint8_t* row, int32_t x, uint32_t colour) {
  const auto value = static_cast<uint16_t>(colour);
  std::memcpy(row + 2 * x, &value, 2);
}
uint32_t getPixel16(const uint8_t* row, int32_t x) {
  uint16_t value;
  std::memcpy(&value, row + 2 * x, 2);
  return value;
}
void fillPixels16(uint8_t* row, int32_t x, int32_t count, uint32_t colour) {
  for (int32_t i = 0; i < count; ++i) putPixel16(row, x + i, colour);
}

void putPixel32(uint8_t* row, int32_t x, uint32_t colour) { std::memcpy(row + 4 * x, &colour, 4); }
uint32_t getPixel32(const uint8_t* row, int32_t x) {
  uint32_t value;
  std::memcpy(&value, row + 4 * x, 4);
  return value;
}
void fillPixels32(uint8_t* row, int32_t x, int32_t count, uint32_t colour) {
  for (int32_t i = 0; i < count; ++i) putPixel32(row, x + i, colour);
}

void copyBytes(uint8_t* destination, const uint8_t* source, size_t bytes) {
  std::memmove(destination, source, bytes);
}
void copyPixels16(uint8_t* destination, const uint8_t* source, int32_t count) {
  copyBytes(destination, source, static_cast<size_t>(count) * 2);
}
void copyPixels32(uint8_t* destination, const uint8_t* source, int32_t count) {
  copyBytes(destination, source, static_cast<size_t>(count) * 4);
}

// Byte lane k of entry b is 0xFF where bit k of b is set; lane 0 lies at the lowest
// address, so one 8-byte store writes the row's 8 pixels in order.
constexpr std::array<uint64_t, 256> LANE_MASKS = [] {
  std::array<uint64_t, 256> masks{};
  for (int b = 0; b < 256; ++b)
    for (int k = 0; k < 8; ++k)
      if ((b >> k) & 1) {
        const int lane = std::endian::native == std::endian::little ? k : 7 - k;
        masks[b] |= uint64_t{0xFF} << (8 * lane);
      }
  return masks;
}();

// The 8 one-byte pixels of every bitmap row in one pair of colours, kept for the
// pair drawn last: text is drawn in long runs of one pair, and a row then costs one
// load and one store.
const uint64_t* bytePixelRows(uint32_t on, uint32_t off) {
  static struct {
    uint32_t on = 0, off = 0;
    bool filled = false;
    std::array<uint64_t, 256> rows;
  } cache;
  on &= 0xFF;
  off &= 0xFF;
  if (!cache.filled || cache.on != on || cache.off != off) {
    constexpr uint64_t SPREAD = 0x0101010101010101u;
    const uint64_t on8 = SPREAD * on, off8 = SPREAD * off;
    for (int b = 0; b < 256; ++b) cache.rows[b] = (LANE_MASKS[b] & on8) | (~LANE_MASKS[b] & off8);
    cache.on = on;
    cache.off = off;
    cache.filled = true;
  }
  return cache.rows.data();
}

// Bitmaps side by side, a pixel row at a time: each framebuffer row is written from
// left to right in one pass.
template <class Pixel>
void storeBitmaps(uint8_t* const* rows, int32_t count, int32_t x, const uint8_t* const* bitmaps,
                  int32_t n, uint32_t on, uint32_t off) {
  for (int32_t j = 0; j < count; ++j) {
    uint8_t* out = rows[j] + sizeof(Pixel) * static_cast<size_t>(x);
    for (int32_t i = 0; i < n; ++i, out += 8 * sizeof(Pixel)) {
      const uint8_t bits = bitmaps[i][j];
      Pixel pixels[8];
      for (int k = 0; k < 8; ++k) pixels[k] = static_cast<Pixel>(((bits >> k) & 1) ? on : off);
      std::memcpy(out, pixels, sizeof pixels);
    }
  }
}

// Component by component, as the blend is defined.
uint32_t blendPlain(uint32_t s, uint32_t d) {
  const int32_t a = static_cast<int32_t>(s >> 24);
  uint32_t result = s & 0xFF000000u;
  for (int shift = 0; shift < 24; shift += 8) {
    const int32_t sc = static_cast<int32_t>((s >> shift) & 0xFF);
    const int32_t dc = static_cast<int32_t>((d >> shift) & 0xFF);
    const int32_t c = dc + (((sc - dc) * a) >> 8);
    result |= static_cast<uint32_t>(c) << shift;
  }
  return result;
}
void putBlendPlain(uint8_t* row, int32_t x, uint32_t colour) {
  putPixel32(row, x, blendPlain(colour, getPixel32(row, x)));
}
void fillBlendPlain(uint8_t* row, int32_t x, int32_t count, uint32_t colour) {
  for (int32_t i = 0; i < count; ++i) putBlendPlain(row, x + i, colour);
}

// ---- 8 bytes at a time ----------------------------------------------------------

// Stores the 64-bit pattern over count bytes from p; pattern repeats every 8 bytes.
void fillPattern(uint8_t* p, size_t bytes, uint64_t pattern) {
  size_t i = 0;
  for (; i + 8 <= bytes; i += 8) std::memcpy(p + i, &pattern, 8);
  for (; i < bytes; ++i) p[i] = static_cast<uint8_t>(pattern >> (8 * (i % 8)));
}

void fillPixels8Fast(uint8_t* row, int32_t x, int32_t count, uint32_t colour) {
  if (count > 0) std::memset(row + x, static_cast<int>(colour & 0xFF), static_cast<size_t>(count));
}
void copyPixels8Fast(uint8_t* destination, const uint8_t* source, int32_t count) {
  if (count > 0) copyBytes(destination, source, static_cast<size_t>(count));
}
void fillPixels16Fast(uint8_t* row, int32_t x, int32_t count, uint32_t colour) {
  if (count <= 0) return;
  fillPattern(row + 2 * x, static_cast<size_t>(count) * 2, 0x0001000100010001ull * (colour & 0xFFFF));
}
void fillPixels32Fast(uint8_t* row, int32_t x, int32_t count, uint32_t colour) {
  if (count <= 0) return;
  fillPattern(row + 4 * x, static_cast<size_t>(count) * 4, 0x0000000100000001ull * colour);
}

// Red and blue in one multiply, green in another; exact per component because the
// low field's floored result never carries into the high one.
uint32_t blendPacked(uint32_t s, uint32_t d) {
  const uint32_t a = s >> 24;
  const uint32_t rb = ((((s & 0xFF00FFu) - (d & 0xFF00FFu)) * a >> 8) + (d & 0xFF00FFu)) & 0xFF00FFu;
  const uint32_t g = ((((s & 0xFF00u) - (d & 0xFF00u)) * a >> 8) + (d & 0xFF00u)) & 0xFF00u;
  return rb | g | (s & 0xFF000000u);
}
void putBlendFast(uint8_t* row, int32_t x, uint32_t colour) {
  putPixel32(row, x, blendPacked(colour, getPixel32(row, x)));
}
void fillBlendFast(uint8_t* row, int32_t x, int32_t count, uint32_t colour) {
  for (int32_t i = 0; i < count; ++i) putBlendFast(row, x + i, colour);
}

bool detectFastPixels() {
#if defined(__x86_64__)
  return true;  // SSE2 is part of x86-64
#elif defined(__i386__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("sse2");
#else
  return true;  // 64-bit moves need no feature bit elsewhere
#endif
}

void rebuild(DrawContext* c, const ScreenState* s) {
  std::memset(static_cast<void*>(c), 0, sizeof *c);
  c->screen_id = s->id;
  c->saved_viewport_width = s->width;
  c->saved_viewport_height = s->height;
  row_storage.assign(static_cast<size_t>(s->height), nullptr);
  c->row_table = row_storage.data();
  c->row_table_capacity = s->height;
  c->foreground = s->depth == 8 ? 15u : s->colour_mask;
  c->background = s->colour_mask & 0xFF000000u;
  c->flags = DRAW_RETARGET_SCREEN;
  c->active_page = 0;
  setTargetScreen(c);
}

}  // namespace

bool processorHasFastPixels() {
  static const bool has = detectFastPixels();
  return has;
}

void forcePlainPixelRoutines(bool plain) { plain_forced = plain; }

uint32_t blendPixel(uint32_t source, uint32_t destination) { return blendPlain(source, destination); }

DrawContext* getDrawContext() {
  auto* c = static_cast<DrawContext*>(context_area(AREA_DRAWING, sizeof(DrawContext)));
  const ScreenState* s = currentScreen();
  if (c && s && c->screen_id != s->id) rebuild(c, s);
  return c;
}

void pointRowsAtActivePage(DrawContext* c) {
  const ScreenState* s = currentScreen();
  if (!c || !s || c->active_page < 0 || c->active_page >= s->page_count) return;
  uint8_t* page = s->pages[c->active_page];
  const int32_t rows = c->row_table_capacity < s->height ? c->row_table_capacity : s->height;
  for (int32_t i = 0; i < rows; ++i) c->row_table[i] = page + static_cast<size_t>(i) * s->pitch;
}

void setTargetScreen(DrawContext* c) {
  const ScreenState* s = currentScreen();
  if (!c || !s || !(c->flags & (DRAW_RETARGET_SCREEN | DRAW_TARGET_IMAGE))) return;
  c->viewport_x = c->saved_viewport_x;
  c->viewport_y = c->saved_viewport_y;
  c->viewport_width = c->saved_viewport_width;
  c->viewport_height = c->saved_viewport_height;
  c->target_bytes_per_pixel = s->bytes_per_pixel;
  c->target_pitch = s->pitch;
  c->last_target = nullptr;
  pointRowsAtActivePage(c);
  selectPixelRoutines(s->bytes_per_pixel);
  c->flags &= ~(DRAW_RETARGET_SCREEN | DRAW_TARGET_IMAGE);
}

bool putBitmaps8(const DrawContext* c, uint8_t* const* rows, int32_t count, int32_t x,
                 const uint8_t* const* bitmaps, int32_t n, uint32_t on, uint32_t off) {
  if (c->put_pixel == putPixel8) {
    const uint64_t* pixels = bytePixelRows(on, off);
    for (int32_t j = 0; j < count; ++j) {
      uint8_t* out = rows[j] + x;
      for (int32_t i = 0; i < n; ++i) std::memcpy(out + 8 * i, &pixels[bitmaps[i][j]], 8);
    }
  } else if (c->put_pixel == putPixel16) {
    storeBitmaps<uint16_t>(rows, count, x, bitmaps, n, on, off);
  } else if (c->put_pixel == putPixel32) {
    storeBitmaps<uint32_t>(rows, count, x, bitmaps, n, on, off);
  } else {
    return false;
  }
  return true;
}

void selectPixelRoutines(int32_t bytes_per_pixel, bool blend) {
  auto* c = static_cast<DrawContext*>(context_area(AREA_DRAWING, sizeof(DrawContext)));
  if (!c) return;
  const bool fast = processorHasFastPixels() && !plain_forced;
  if (ScreenState* s = currentScreen()) setStateFlags(s, SCREEN_FAST_PIXELS, fast);
  switch (bytes_per_pixel) {
    case 1:
      c->put_pixel = putPixel8;
      c->get_pixel = getPixel8;
      c->fill_pixels = fast ? fillPixels8Fast : fillPixels8;
      c->copy_pixels = fast ? copyPixels8Fast : copyPixels8;
      break;
    case 2:
      c->put_pixel = putPixel16;
      c->get_pixel = getPixel16;
      c->fill_pixels = fast ? fillPixels16Fast : fillPixels16;
      c->copy_pixels = copyPixels16;
      break;
    case 4:
      c->get_pixel = getPixel32;
      c->copy_pixels = copyPixels32;
      if (blend) {
        c->put_pixel = fast ? putBlendFast : putBlendPlain;
        c->fill_pixels = fast ? fillBlendFast : fillBlendPlain;
      } else {
        c->put_pixel = putPixel32;
        c->fill_pixels = fast ? fillPixels32Fast : fillPixels32;
      }
      break;
    default:
      break;
  }
}

}  // namespace zv
