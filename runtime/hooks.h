// The console hooks table: the 27 operations through which every screen and keyboard
// action of the runtime is routed. The graphics screen fills all slots when a mode is
// set; an empty slot is served by the console backend (the text console).
#pragma once

#include <cstdint>
#include <utility>

#include "runtime/strings.h"

namespace zv {

struct ConsoleHooks {
  // 0: a temporary string: empty (no key), one byte, or 255 and a scan code.
  StringDesc* (*inkey)();
  // 1: the next key code, waiting for one.
  int32_t (*get_key)();
  // 2: non-zero when a key is waiting; the argument is ignored.
  int32_t (*key_hit)(int32_t ignored);
  // 3: clear the screen; -65536 (0xFFFF0000) is the call without argument.
  void (*clear_screen)(int32_t mode);
  // 4: set colours; flags 0x01 foreground not given, 0x02 background not given.
  int32_t (*colour)(int32_t foreground, int32_t background, int32_t flags);
  // 5: move the cursor (0 leaves a coordinate), visibility 0 hide, 1 show, -1 leave;
  //    returns the previous state (bit 16 set when the cursor was visible).
  int32_t (*locate)(int32_t row, int32_t column, int32_t visibility);
  // 6: change the text size; returns the previous size.
  int32_t (*width)(int32_t columns, int32_t rows);
  // 7, 8: cursor column and row, counted from 1.
  int32_t (*get_column)();
  int32_t (*get_row)();
  // 9: cursor column and row, counted from 1 (either output may be null).
  void (*get_position)(int32_t* column, int32_t* row);
  // 10: text size in cells (either output may be null).
  void (*get_size)(int32_t* columns, int32_t* rows);
  // 11: draw bytes at the cursor, control bytes interpreted; flags 8 with length 0
  //     carries out a pending line wrap.
  void (*print_buffer)(const uint8_t* text, int32_t length, int32_t flags);
  // 12: as 11 for 16-bit characters.
  void (*print_buffer_wide)(const uint16_t* text, int32_t length, int32_t flags);
  // 13: simple line reader with a block cursor.
  char* (*read_string)(char* buffer, int32_t length);
  // 14: -1 while the key of the scan code is down, else 0.
  int32_t (*key_state)(int32_t scan_code);
  // 15, 16: mouse.
  int32_t (*get_mouse)(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip);
  int32_t (*set_mouse)(int32_t x, int32_t y, int32_t cursor, int32_t clip);
  // 17, 18: palette port emulation.
  int32_t (*port_in)(int32_t port);
  int32_t (*port_out)(int32_t port, int32_t value);
  // 19: called after the text view's rows changed.
  void (*view_update)();
  // 20: the prompt sequence of the input statement; 0, or 4 when no line was read.
  int32_t (*line_input)(StringDesc* prompt, StringDesc* dest, int32_t dest_length, int32_t fill,
                        int32_t question, int32_t line_end);
  // 21: as 20 with wide strings.
  int32_t (*line_input_wide)(StringDesc* prompt, StringDesc* dest, int32_t dest_length,
                             int32_t fill, int32_t question, int32_t line_end);
  // 22: character or colours of a text cell (1-based).
  int32_t (*read_screen_cell)(int32_t column, int32_t row, int32_t flag);
  // 23: wait n milliseconds, or -1 until a key is hit.
  void (*sleep)(int32_t milliseconds);
  // 24: 0 when input comes from the keyboard.
  int32_t (*is_redirected)(int32_t input);
  // 25, 26: pages.
  int32_t (*copy_page)(int32_t source, int32_t destination);
  int32_t (*set_pages)(int32_t work, int32_t visible);
};

static_assert(sizeof(ConsoleHooks) == 27 * sizeof(void*), "the hooks table has 27 slots");

// The runtime's table (all empty until a graphics mode fills it).
ConsoleHooks& console_hooks_table();

// The text console backend's complete table; every slot is set.
const ConsoleHooks& text_console_hooks();

// The console backend that serves every empty slot: the text console unless another
// complete table was put in its place (test consoles do that, so that they stay in
// place while mode setting fills and clears the hooks table). Null restores the
// text console.
const ConsoleHooks& console_backend();
void set_console_backend(const ConsoleHooks* backend);

// Besides the table: how the line editor waits between two tests of the key-hit slot.
// A screen whose keyboard can tell when a key arrives registers a wait together with
// its key-hit slot; the wait returns once that slot would answer non-zero. While any
// other key-hit slot serves, the editor sleeps the step between two tests.
using KeyHitWait = void (*)(int32_t step_ms);
void set_key_hit_wait(int32_t (*key_hit)(int32_t), KeyHitWait wait);
void wait_for_key_hit(int32_t step_ms);

// Calls a slot of the hooks table, or the console backend's version when it is empty:
//   call_hook<&ConsoleHooks::print_buffer>(bytes, n, 0);
template <auto Slot, class... Args>
decltype(auto) call_hook(Args&&... args) {
  auto fn = console_hooks_table().*Slot;
  if (!fn) fn = console_backend().*Slot;
  return fn(std::forward<Args>(args)...);
}

}  // namespace zv
