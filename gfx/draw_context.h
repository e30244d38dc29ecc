// The drawing context: the active page, the drawing colours, the viewport and the
// row table of the current target, with the pixel routines chosen for its bytes per
// pixel. One per process, in the runtime's context area for the graphics screen;
// rebuilt lazily whenever the open screen's id differs from the one it was built for.
#pragma once

#include <cstdint>

namespace zv {

struct ScreenState;

using PutPixelFn = void (*)(uint8_t* row, int32_t x, uint32_t colour);
using GetPixelFn = uint32_t (*)(const uint8_t* row, int32_t x);
using FillPixelsFn = void (*)(uint8_t* row, int32_t x, int32_t count, uint32_t colour);
// Copies count pixels; the stretches may overlap when the destination lies below
// the source (a scroll moves a whole band of rows up in one call).
using CopyPixelsFn = void (*)(uint8_t* destination, const uint8_t* source, int32_t count);

// Context flags.
constexpr uint32_t DRAW_RETARGET_SCREEN = 0x01;  // target must be re-pointed at the screen
constexpr uint32_t DRAW_TARGET_IMAGE = 0x02;
constexpr uint32_t DRAW_VIEWPORT_SET = 0x10;

// Lives in zero-filled plain memory, so it holds no owning members: the row table
// belongs to this module and the context keeps only a pointer to it.
struct DrawContext {
  int32_t screen_id;
  int32_t active_page;
  uint8_t** row_table;            // one pointer per row of the target
  int32_t row_table_capacity;
  int32_t target_bytes_per_pixel, target_pitch;
  void* last_target;              // the image drawn to last, null for the screen
  float pen_x, pen_y;
  int32_t viewport_x, viewport_y, viewport_width, viewport_height;
  int32_t saved_viewport_x, saved_viewport_y, saved_viewport_width, saved_viewport_height;
  float window_coordinates[4];
  uint32_t foreground, background;
  PutPixelFn put_pixel;
  GetPixelFn get_pixel;
  FillPixelsFn fill_pixels;
  CopyPixelsFn copy_pixels;
  uint32_t flags;
};

// The context, rebuilt first when the open screen is not the one it was built for:
// cleared, saved viewport = whole screen, a row table of height entries, foreground
// 15 in depth 8 and the colour mask otherwise, background = colour mask & 0xFF000000,
// active page 0, target the screen with the plain routines. Without a screen the
// context is returned as it is. Null only when the context area cannot be allocated.
DrawContext* getDrawContext();

// Points the context at the screen when flags 0x01 or 0x02 ask for it: viewport from
// the saved one, bytes per pixel and pitch from the screen, row i at the active
// page + i * pitch, pixel routines for the screen's bytes per pixel.
void setTargetScreen(DrawContext* context);

// Points every row of the row table at the active page (after a page change).
void pointRowsAtActivePage(DrawContext* context);

// Fills the context's routine slots for 1, 2 or 4 bytes per pixel; blend (honoured
// only for 4 bytes) takes the alpha-blending put and fill. The 8-byte-at-a-time
// variants are taken when the processor has them and they are not forced off; the
// open screen's state flag 0x1000000 records the choice.
void selectPixelRoutines(int32_t bytes_per_pixel, bool blend = false);

// Draws n bitmaps 8 pixels wide side by side from pixel x of each of the count rows,
// bitmap i at x + 8 * i; each has one byte per row (bit 0 leftmost): on where a bit
// is set, off elsewhere. Only where the context's put routine is a plain store;
// returns false otherwise (the blend), and the caller puts pixel by pixel.
bool putBitmaps8(const DrawContext* context, uint8_t* const* rows, int32_t count, int32_t x,
                 const uint8_t* const* bitmaps, int32_t n, uint32_t on, uint32_t off);

// Tests force the plain routines with true; the default is false.
void forcePlainPixelRoutines(bool plain);
// Whether the processor offers the 8-byte variants (tested once).
bool processorHasFastPixels();

// The blend of source s over destination d: red/blue and green move towards s by
// alpha/256 of the difference, the alpha byte becomes s's.
uint32_t blendPixel(uint32_t source, uint32_t destination);

}  // namespace zv
