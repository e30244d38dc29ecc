// The window driver table: the one interface through which the graphics screen
// reaches a window. A driver opens a window of the screen's size, shows the visible
// page with the current palette, feeds keys and events back through postKey and
// postEvent, and answers a few window requests. The core picks one driver at mode
// setting and afterwards only calls through its table.
//
// What the core guarantees a driver from a successful open until close:
//  - the ScreenState stays in place: framebuffer (the visible page), width, height,
//    pitch, bytes per pixel, depth, scanline size, palette, dirty lines, key states,
//    event queue, refresh rate, state flags, lock count;
//  - framebuffer rows are pitch = width * bytes per pixel bytes, one after another;
//    1 byte per pixel is a palette index (masked to the depth for depths 1, 2, 4),
//    2 bytes are 5-6-5 RGB (red in the top bits), 4 bytes are 0xAARRGGBB;
//  - the palette is 256 entries of 0x00BBGGRR, valid for depths up to 8, and every
//    change is also announced through setColour;
//  - dirty lines hold one byte per window row (height * scanline size); the core sets
//    entries of framebuffer rows it changed to 1, always inside lock, and the driver
//    clears an entry once it has shown that row;
//  - every program access to framebuffer, palette and dirty lines happens between
//    lock and unlock, and lock is never taken twice by the program (lockScreen nests);
//  - when the visible page changes, framebuffer points at the new page and all rows
//    are marked dirty.
// What the core expects: open returns 0 only when frames can be shown and accepts a
// close at once after a failure; lock/unlock exclude the driver's own presentation
// thread, which holds the same exclusion while it reads the framebuffer, palette and
// dirty lines and while it posts keys, writes key states or posts events; close stops
// that thread and releases the window before it returns, after which the core frees
// every screen buffer.
#pragma once

#include <cstdint>

namespace zv {

struct WindowDriver {
  // 0: the name the driver search compares, ignoring case ("DirectX", "GDI",
  //    "OpenGL", "Null").
  const char* name;

  // 1: called by mode setting during the driver search, after the whole ScreenState
  //    exists. Height is the mode height times the scanline size, depth the
  //    normalised depth (1, 2, 4, 8, 16, 32); the refresh rate is first the requested
  //    one, then 0. Returns 0 when the window can show frames, anything else on
  //    failure; may store the refresh rate in the ScreenState. Every listed driver
  //    has it; the Null driver has none and is never opened.
  int32_t (*open)(const char* title, int32_t width, int32_t height, int32_t depth,
                  int32_t refresh_rate, int32_t flags);

  // 2: called by mode setting right after a failed open, and when the screen is
  //    taken down (new mode, mode 0, exit) before any buffer is freed. Stops the
  //    presentation thread and releases the window. May be empty.
  void (*close)();

  // 3, 4: called by lockScreen when the nesting count goes 0 -> 1 and by
  //    unlockScreen when it returns to 0. Mutual exclusion with the presentation
  //    thread. Never empty (the Null driver's do nothing).
  void (*lock)();
  void (*unlock)();

  // 5: a palette entry changed (index 0-255, components 0-255); called under the
  //    screen lock by the palette operations, and for every entry after open at a
  //    mode set of depth up to 8. May be empty.
  void (*setColour)(int32_t index, int32_t red, int32_t green, int32_t blue);

  // 6: returns when the next frame begins; called on each read of port 0x3DA.
  //    May be empty.
  void (*waitRetrace)();

  // 7: called by the get mouse hook under the screen lock; 0 on success, non-zero
  //    when no mouse data can be given. May be empty (the hook reports error 1).
  int32_t (*readMouse)(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip);

  // 8: called by the set mouse hook under the screen lock; negative values keep
  //    the setting. May be empty (the hook reports error 1).
  void (*setMouse)(int32_t x, int32_t y, int32_t cursor, int32_t clip);

  // 9: called when the window title changes while a screen is open. May be empty.
  void (*setTitle)(const char* title);

  // 10: moves the window (0x80000000 keeps a coordinate) and returns the position
  //     before the move as y * 65536 + (x & 0xFFFF). No caller in this program.
  int32_t (*moveWindow)(int32_t x, int32_t y);

  // 11: a newly allocated array of *count entries width * 65536 + height of the
  //     display modes of the depth. No caller in this program.
  int32_t* (*listModes)(int32_t depth, int32_t* count);

  // 12, 13: called by the copy page hook instead of copying: the driver presents the
  //     frame itself, then processes pending window events. Both may be empty.
  void (*present)();
  void (*pumpEvents)();
};

static_assert(sizeof(WindowDriver) == 14 * sizeof(void*), "the driver table has 14 slots");

// The drivers in search order, ending with a null entry. The Win32 drivers join it
// in this order: "DirectX", "GDI", "OpenGL"; until they are built the list is empty.
const WindowDriver* const* windowDriverList();

// Puts another null-terminated list in the built-in list's place (tests and hosts
// that bring their own drivers); null restores the built-in list.
void setWindowDriverList(const WindowDriver* const* list);

// The window-less driver: lock and unlock do nothing, every other slot is empty.
// Taken only for the null screen (flags -1 or the driver name "null"), never searched;
// that screen's keyboard is the text console's.
const WindowDriver& nullWindowDriver();

}  // namespace zv
