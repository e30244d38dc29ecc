// The record of the open graphics screen and its buffers: pixel pages, palettes,
// dirty lines, colour association, text-cell pages, key states and the event queue;
// the builders that allocate and free them for mode setting, and the screen lock.
//
// Threads: the program thread writes framebuffer, palette, dirty lines and state
// flags only between lockScreen and unlockScreen; the driver's update thread reads
// them, clears dirty lines and writes the key states only inside the driver's
// exclusion, which is the same lock. The driver reference is stored before the
// driver's open starts its thread and cleared only after its close stopped it. The
// event queue is guarded by its own semaphore. The refresh rate is the one field a
// driver writes on its own thread outside the program's lock, so it is atomic.
#pragma once

#include <atomic>
#include <cstdint>
#include <semaphore>

#include "gfx/builtin_data.h"
#include "gfx/window_driver.h"

namespace zv {

// One text position of a page: the printed byte's code and its colours as
// framebuffer pixel values.
struct TextCell {
  uint16_t code;
  uint16_t reserved;
  uint32_t foreground;
  uint32_t background;
};
static_assert(sizeof(TextCell) == 12);

// One record of the event ring: a type and four fields whose meaning the type gives.
struct ScreenEvent {
  int32_t type;
  int32_t data[4];
};
static_assert(sizeof(ScreenEvent) == 20);

constexpr int32_t KEY_STATE_COUNT = 128;
constexpr int32_t EVENT_QUEUE_SIZE = 128;
constexpr int32_t CONVERTER_SCRATCH_SIZE = 2048;
constexpr int32_t PAGE_ALIGNMENT = 16;

// State flags.
constexpr uint32_t SCREEN_DEFERRED_SCROLL = 0x04;
constexpr uint32_t SCREEN_ALPHA_PRIMITIVES = 0x08;
constexpr uint32_t SCREEN_HIGH_PRIORITY = 0x20;
constexpr uint32_t SCREEN_FAST_PIXELS = 0x1000000;  // the vector unit is used (pixel routines, converters)
constexpr uint32_t SCREEN_OPENGL = 0x20000000;

struct ScreenState {
  int32_t id;
  int32_t mode_number;            // 1-21, or -1 for a screen opened by size
  uint8_t** pages;                // page_count pages of height * pitch bytes, 16-aligned
  int32_t page_count;
  int32_t visible_page;
  uint8_t* framebuffer;           // pages[visible_page]
  int32_t width, height;
  int32_t depth;                  // 1, 2, 4, 8, 16 or 32
  int32_t bytes_per_pixel;        // 1, 2 or 4
  int32_t pitch;                  // bytes_per_pixel * width
  uint32_t* device_palette;       // 256 x 0x00BBGGRR: the colours the default palette offers
  uint32_t* palette;              // 256 x 0x00BBGGRR: the colour of each pixel value
  uint8_t* colour_association;    // 16 entries: device palette index of each pixel value
  uint8_t* dirty_lines;           // height * scanline_size bytes, 1 = row changed
  const WindowDriver* driver;
  uint32_t colour_mask;           // 2^depth - 1, 0xFFFF or 0xFFFFFFFF
  const PaletteInfo* default_palette;
  int32_t scanline_size;          // 1, or 2 for line doubling
  int32_t cursor_column, cursor_row;
  const FontInfo* font;
  int32_t text_columns, text_rows;
  float aspect;
  uint8_t* key_states;            // KEY_STATE_COUNT bytes, one per scan code
  std::atomic<int32_t> refresh_rate;  // set by the driver, 0 until it does
  TextCell** text_pages;          // one text_columns * text_rows array per page
  ScreenEvent* event_queue;       // EVENT_QUEUE_SIZE records
  int32_t event_head, event_tail;
  std::binary_semaphore* event_lock;
  uint32_t state_flags;
  int32_t lock_count;
};

// The open screen, or null.
ScreenState* currentScreen();
void setCurrentScreen(ScreenState* screen);

// The pixel-format converters' scratch table (CONVERTER_SCRATCH_SIZE bytes), allocated
// with each screen's buffers and freed with them; null without a screen.
uint8_t* converterScratch();

// Builders, in the order mode setting uses them:
//   createScreenState, fill mode number/size/scanline/aspect, normaliseScreenDepth,
//   allocateScreenBuffers, setCurrentScreen, state flags, selectPixelRoutines, driver
//   search (which stores the driver), default palette and font, text grid size,
//   finishScreenBuild; and destroyScreenState after the driver's close.

// A zero-filled record with the next screen id (ids start at 1).
ScreenState* createScreenState();

// Depth 15/16 -> 16 (mask 0xFFFF), 24/32 -> 32 (mask 0xFFFFFFFF), any other d keeps
// its value with mask 2^d - 1; sets bytes per pixel and pitch from width.
void normaliseScreenDepth(ScreenState* screen, int32_t depth);

// Allocates the pages (not cleared), visible page 0, dirty lines, palette, device
// palette, colour association, key states, event queue and its semaphore, and the
// converter scratch table. Width, height, pitch and scanline size must be set.
// Returns false when memory runs out; what was allocated is freed again.
bool allocateScreenBuffers(ScreenState* screen, int32_t page_count);

// Re-creates the text-cell arrays (text_columns * text_rows per page, zero-filled)
// and fills the active page's array with blanks in the given colours.
bool resetTextCellPages(ScreenState* screen, int32_t active_page, uint32_t foreground,
                        uint32_t background);

// Fills every row of every page with the pixel value.
void clearScreenPages(ScreenState* screen, uint32_t colour);

// The end of a mode set once the driver is stored: for depths up to 8 the palette is
// reset to the mode's default (the driver hears every entry), the drawing context is
// rebuilt for this screen, the text-cell pages are created and every page is cleared
// to the background colour. The screen must be the current one.
bool finishScreenBuild(ScreenState* screen);

// Frees every buffer and the record (the driver must be closed already); clears the
// current-screen reference when it is this screen.
void destroyScreenState(ScreenState* screen);

// The screen lock. lockScreen calls the driver's lock when the count goes 0 -> 1.
// unlockScreen marks framebuffer rows first..last dirty when the drawing context's
// active page is visible (last < 0: the last row, first < 0: row 0; (1, 0) marks
// nothing), then calls the driver's unlock when the count returns to 0. Without a
// screen both do nothing.
void lockScreen();
void unlockScreen(int32_t first_row, int32_t last_row);

// Sets the state flags of the mask to on or off. The driver's thread reads the flags
// under its lock, so a change is made under the screen lock; a call that changes
// nothing takes no lock.
void setStateFlags(ScreenState* screen, uint32_t mask, bool on);

// Sets dirty-line entries first..last (clamped to the framebuffer rows) to 1.
void markRowsDirty(ScreenState* screen, int32_t first_row, int32_t last_row);

}  // namespace zv
