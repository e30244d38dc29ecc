// Console hooks of the graphics screen for colours, the palette-port emulation and
// pages. Everything that writes pixels, palette entries or dirty lines does so under
// the screen lock.
#include "gfx/screen_hooks.h"

#include <algorithm>
#include <cstring>

#include "gfx/draw_context.h"
#include "gfx/palette.h"
#include "gfx/screen_state.h"
#include "runtime/runtime.h"

namespace zv {

namespace {

// The palette ports: one index and one component position shared by reads and
// writes, as on the adapter; the shift walks 2, 10, 18 over red, green, blue.
struct PalettePorts {
  int32_t index = 0;
  uint32_t accumulator = 0;
  int32_t shift = 2;
};
PalettePorts ports;

int32_t paletteSize(const ScreenState* s) { return s->default_palette->colour_count; }

bool palettePortsUsable(const ScreenState* s) {
  return s && s->depth <= 8 && s->palette && s->default_palette;
}

// A colour value as a pixel of the screen's depth. Palette indices keep only the
// depth's bits, so drivers can take a 1-byte pixel as it is at depths 1, 2 and 4.
uint32_t reduceColour(const ScreenState* s, int32_t value) {
  const auto v = static_cast<uint32_t>(value);
  if (s->depth <= 8) return v & s->colour_mask;
  if (s->depth == 16) return (v & 0xFF) >> 3 | ((v >> 5) & 0x7E0) | ((v >> 8) & 0xF800);
  return v;
}

// 5-6-5 back to 0xFFRRGGBB; a colour that 5-6-5 holds exactly comes back unchanged.
uint32_t widen565(uint32_t c) {
  return 0xFF000000u | ((c & 0xF800) << 8) | ((c & 0x7E0) << 5) | ((c & 0x1F) << 3);
}

// A component triple arrived for a palette without 6-bit entries: the device colour
// changes and so does every pixel value associated with it.
void applyDeviceColour(ScreenState* s, int32_t device, uint32_t rgb) {
  lockScreen();
  s->device_palette[device] = rgb;
  const int32_t values = std::min(1 << s->depth, COLOUR_ASSOCIATION_SIZE);
  for (int32_t i = 0; i < values; ++i) {
    if (s->colour_association[i] != device) continue;
    s->palette[i] = rgb;
    if (s->driver && s->driver->setColour)
      s->driver->setColour(i, rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
  }
  markRowsDirty(s, 0, s->height - 1);
  unlockScreen(1, 0);
}

bool pageExists(const ScreenState* s, int32_t page) { return page >= 0 && page < s->page_count; }

}  // namespace

void resetPalettePorts() { ports = PalettePorts{}; }

int32_t colourHook(int32_t foreground, int32_t background, int32_t flags) {
  ScreenState* s = currentScreen();
  DrawContext* c = getDrawContext();
  if (!s || !c) return 0;
  int32_t previous;
  if (s->depth <= 8)
    previous = static_cast<int32_t>(c->background * 65536u + c->foreground);
  else if (s->depth == 16)
    previous = static_cast<int32_t>(widen565(c->foreground));
  else
    previous = static_cast<int32_t>(c->foreground);
  const bool has_foreground = !(flags & 0x01);
  const bool has_background = !(flags & 0x02);
  switch (s->mode_number) {
    case 1:
      if (has_background) paletteStatement((background & 3) - 4, 0, -1, -1);
      if (has_foreground) paletteStatement(0, foreground, -1, -1);
      break;
    case 7:
    case 8:
    case 9:
      if (has_foreground) c->foreground = static_cast<uint32_t>(foreground) & 15;
      if (has_background) paletteStatement(0, background, -1, -1);
      break;
    default:
      if (has_foreground) c->foreground = reduceColour(s, foreground);
      if (has_background) c->background = reduceColour(s, background);
      break;
  }
  return previous;
}

int32_t portOutHook(int32_t port, int32_t value) {
  ScreenState* s = currentScreen();
  if (!palettePortsUsable(s)) return -1;
  const int32_t size = paletteSize(s);
  switch (port) {
    case 0x3C7:
    case 0x3C8:
      ports.index = value & (size - 1);
      ports.accumulator = 0;
      ports.shift = 2;
      return 0;
    case 0x3C9:
      ports.accumulator += static_cast<uint32_t>(value & 63) << ports.shift;
      ports.shift += 8;
      if (ports.shift > 18) {
        if (size == 256)
          paletteStatement(ports.index, static_cast<int32_t>((ports.accumulator >> 2) & 0x3F3F3F), -1, -1);
        else
          applyDeviceColour(s, ports.index, ports.accumulator);
        ports.shift = 2;
        ports.accumulator = 0;
        ports.index = (ports.index + 1) & (size - 1);
      }
      return 0;
    default:
      return -1;
  }
}

int32_t portInHook(int32_t port) {
  ScreenState* s = currentScreen();
  if (port == 0x3DA) {
    if (s && s->driver && s->driver->waitRetrace) s->driver->waitRetrace();
    return 8;
  }
  if (port != 0x3C9 || !palettePortsUsable(s)) return -1;
  const int32_t size = paletteSize(s);
  const int32_t index = ports.index & (size - 1);
  const auto value = static_cast<int32_t>((s->palette[index] >> ports.shift) & 63);
  ports.shift += 8;
  if (ports.shift > 18) {
    ports.shift = 2;
    ports.index = (index + 1) & (size - 1);
  }
  return value;
}

int32_t setPagesHook(int32_t active, int32_t visible) {
  ScreenState* s = currentScreen();
  DrawContext* c = getDrawContext();
  if (!s || !c) return 0;
  const int32_t previous = c->active_page + 256 * s->visible_page;
  if (active < 0 && visible < 0) active = visible = 0;
  if (active >= 0 && active < s->page_count) {
    c->active_page = active;
    pointRowsAtActivePage(c);
  }
  if (visible >= 0 && visible < s->page_count && visible != s->visible_page) {
    lockScreen();
    s->visible_page = visible;
    s->framebuffer = s->pages[visible];
    markRowsDirty(s, 0, s->height - 1);
    unlockScreen(1, 0);
  }
  return previous;
}

int32_t copyPageHook(int32_t from, int32_t to) {
  ScreenState* s = currentScreen();
  DrawContext* c = getDrawContext();
  if (!s || !c) return set_error(ERR_ILLEGAL_CALL);
  if (s->driver && s->driver->present) {
    // The driver shows frames itself; there is nothing to copy, and the statement
    // reports error 1 as it always has.
    s->driver->present();
    if (s->driver->pumpEvents) s->driver->pumpEvents();
    return set_error(ERR_ILLEGAL_CALL);
  }
  if (from == -1) from = c->active_page;
  if (to == -1) to = s->visible_page;
  if (!pageExists(s, from) || !pageExists(s, to)) return set_error(ERR_ILLEGAL_CALL);
  if (from == to) return set_error(ERR_NONE);
  setTargetScreen(c);
  const int32_t x0 = std::clamp(c->viewport_x, 0, s->width);
  const int32_t y0 = std::clamp(c->viewport_y, 0, s->height);
  const int32_t x1 = std::clamp(c->viewport_x + c->viewport_width, x0, s->width);
  const int32_t y1 = std::clamp(c->viewport_y + c->viewport_height, y0, s->height);
  const size_t offset = static_cast<size_t>(x0) * s->bytes_per_pixel;
  lockScreen();
  for (int32_t y = y0; y < y1; ++y) {
    const size_t row = static_cast<size_t>(y) * s->pitch + offset;
    c->copy_pixels(s->pages[to] + row, s->pages[from] + row, x1 - x0);
  }
  if (s->text_pages && s->text_pages[from] && s->text_pages[to] && s->text_columns > 0 &&
      s->text_rows > 0)
    std::memcpy(s->text_pages[to], s->text_pages[from],
                static_cast<size_t>(s->text_columns) * s->text_rows * sizeof(TextCell));
  if (to == s->visible_page && y1 > y0) markRowsDirty(s, y0, y1 - 1);
  unlockScreen(1, 0);
  return set_error(ERR_NONE);
}

}  // namespace zv
