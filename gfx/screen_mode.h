// Mode setting: the table of numbered screen modes, the screen-mode and screen-size
// statements, the window title, and the core that takes an open screen down, builds
// the new one, finds a window driver for it and routes the console hooks to it.
#pragma once

#include <cstdint>

#include "gfx/builtin_data.h"
#include "runtime/hooks.h"

namespace zv {

struct ScreenModeInfo {
  uint16_t width;          // 0: the mode does not exist
  uint16_t height;         // framebuffer rows
  uint8_t depth;           // bits per pixel: 1, 2, 4 or 8 in the table
  uint8_t scanline_size;   // window rows per framebuffer row
  uint8_t page_count;      // default number of pages
  uint16_t palette_colours; // the built-in default palette: 2, 16, 64 or 256 colours
  uint8_t font_height;      // the built-in 8-wide font: 8, 14 or 16 rows
  uint16_t text_columns, text_rows;  // wide enough for any screen opened by size
  float aspect;            // 0: (height / width) * 4/3
};

constexpr int32_t SCREEN_MODE_COUNT = 21;

// The record of mode 1-21 (empty records for modes 3-6), or null outside 1-21.
const ScreenModeInfo* screenModeInfo(int32_t mode);

// Screen flags of the mode requests.
constexpr int32_t SCREEN_FLAG_FULL_SCREEN = 0x01;
constexpr int32_t SCREEN_FLAG_OPENGL = 0x02;
constexpr int32_t SCREEN_FLAG_NO_SWITCH = 0x04;
constexpr int32_t SCREEN_FLAG_NO_FRAME = 0x08;
constexpr int32_t SCREEN_FLAG_SHAPED = 0x10;  // implies NO_SWITCH and NO_FRAME
constexpr int32_t SCREEN_FLAG_ALPHA = 0x40;
constexpr int32_t SCREEN_FLAG_HIGH_PRIORITY = 0x80;
constexpr int32_t SCREEN_FLAGS_NULL = -1;  // no window: the Null driver only
constexpr int32_t SCREEN_FLAGS_CLOSING = INT32_MIN;  // internal: the screen is shut down

constexpr int32_t WINDOW_TITLE_SIZE = 128;

// The screen-mode statement. Mode 0 closes the graphics screen and gives the console
// back to the text console (80x25, cleared). Returns the error number: 1 for a mode
// above 21 (negative ones too) or an empty record, and 1 when no driver could be
// started (no screen is then open and the text console serves); otherwise 0, and the
// screen column is 0.
int32_t setScreenMode(int32_t mode, int32_t depth, int32_t page_count, int32_t flags,
                      int32_t refresh_rate);

// setScreenMode(mode, 0, 0, 0, 0), then selects the pages unless both are negative.
int32_t setScreenModePages(int32_t mode, int32_t active_page, int32_t visible_page);

// A screen of any size: width and height positive, depth 1, 2, 4, 8, 15, 16, 24 or 32;
// one page, the 256-colour palette, the 8x8 font, a text grid of width/8 x height/8.
// Returns the error number (1 for bad arguments or when no driver starts).
int32_t setScreenSize(int32_t width, int32_t height, int32_t depth, int32_t page_count,
                      int32_t flags, int32_t refresh_rate);

// The window-title statement: at most 127 bytes; the open screen's driver hears it at
// once. A title set before the first mode set is the one the driver opens with.
void setWindowTitle(const char* text, int32_t length);
// The current title (empty until set or built at the first mode set).
const char* windowTitle();

// Chooses the driver by name in place of the ZVGFX environment variable; null or ""
// goes back to the variable. "null" (any case) selects the window-less screen.
void setScreenDriverName(const char* name);

// Run at process exit once a mode set succeeded: closes an open screen and leaves the
// console alone.
void closeScreenAtExit();

// The core of mode setting; info null (or a record of width 0) with mode 0 closes
// the screen. Returns the error number.
int32_t applyScreenMode(const ScreenModeInfo* info, int32_t mode_number, int32_t depth,
                        int32_t page_count, int32_t refresh_rate, int32_t flags);

// The hooks table that an open graphics screen installs, slot by slot. The null
// screen leaves the keyboard slots (inkey, get key, key hit, key state, sleep,
// is-redirected) empty, so that the text console's keyboard serves it.
const ConsoleHooks& graphicsConsoleHooks();

}  // namespace zv
