// The parts of the text console backend that are the same on every host: key codes
// as the strings a key read gives, wide text printed as bytes, the plain line
// reader, and the slots a text console serves alike everywhere (no mouse, no key
// states, no palette ports, one page).
#pragma once

#include <cstdint>

#include "runtime/strings.h"

namespace zv {

using PrintBytes = void (*)(const uint8_t* text, int32_t length, int32_t flags);

// A temporary string: empty for no key (code 0 or less), one byte, or 255 and the
// extended code.
StringDesc* console_key_string(int32_t code);

// Prints 16-bit characters as bytes: those below 256 as they are, others as '?'
// (a surrogate pair as one).
void console_print_wide(PrintBytes print, const uint16_t* text, int32_t length, int32_t flags);

// A plain line reader: keys echoed, Backspace takes one back, Enter ends the line
// (and is stored in front of the terminating zero when there is room).
char* console_read_line(int32_t (*get_key)(), PrintBytes print, char* buffer, int32_t length);

// The slots that answer from a host's console state: its fields x, y (0-based cursor),
// requested_columns and requested_rows, and the host's own screen_size(state,
// &columns, &rows), found with the state's type.
template <class State>
int32_t console_width_of(State& c, int32_t columns, int32_t rows) {
  int32_t w = 0, h = 0;
  screen_size(c, &w, &h);
  if (columns > 0) c.requested_columns = columns;
  if (rows > 0) c.requested_rows = rows;
  return w | (h << 16);
}

template <class State>
void console_position_of(const State& c, int32_t* column, int32_t* row) {
  if (column) *column = c.x + 1;
  if (row) *row = c.y + 1;
}

template <class State>
void console_size_of(State& c, int32_t* columns, int32_t* rows) {
  int32_t w = 0, h = 0;
  screen_size(c, &w, &h);
  if (columns) *columns = w;
  if (rows) *rows = h;
}

int32_t console_key_state(int32_t scan_code);
int32_t console_get_mouse(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip);
int32_t console_set_mouse(int32_t x, int32_t y, int32_t cursor, int32_t clip);
int32_t console_port_in(int32_t port);
int32_t console_port_out(int32_t port, int32_t value);
void console_view_update();
int32_t console_read_screen_cell(int32_t column, int32_t row, int32_t flag);
int32_t console_copy_page(int32_t source, int32_t destination);
int32_t console_set_pages(int32_t work, int32_t visible);

}  // namespace zv
