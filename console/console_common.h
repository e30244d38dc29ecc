// The parts of the text console backend that are the same on every host: key codes
// as the strings a key read gives, wide text printed as bytes, the plain line
// reader, redirected standard input as keys, the tracked cursor with its deferred
// wrap, the table of hooks, and the slots a text console serves alike everywhere
// (no mouse, no key states, no palette ports, one page).
#pragma once

#include <cstdint>
#include <deque>

#include "runtime/hooks.h"
#include "runtime/input.h"
#include "runtime/strings.h"
#include "runtime/text_window.h"

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

// The next byte of redirected standard input as a key code; -1 at its end, -2 when
// nothing is waiting (only without wait; has_data tells whether a read would not
// block). Each line end ("\r", "\n" or "\r\n") is one Enter (13): after_cr carries
// a carriage return over to the next read. Zero bytes are skipped.
int32_t console_redirected_key(bool& after_cr, bool wait, bool (*has_data)());

// Takes the oldest key of a queue that has one.
int32_t console_pop_key(std::deque<int32_t>& keys);

// The hooks each host's console file defines (see console_hooks below).
StringDesc* console_inkey();
int32_t console_get_key();
int32_t console_key_hit(int32_t ignored);
void console_clear_screen(int32_t mode);
int32_t console_colour(int32_t foreground, int32_t background, int32_t flags);
int32_t console_locate(int32_t row, int32_t column, int32_t visibility);
void console_print_buffer(const uint8_t* text, int32_t length, int32_t flags);
char* console_read_string(char* buffer, int32_t length);
int32_t console_line_input(StringDesc* prompt, StringDesc* dest, int32_t dest_length, int32_t fill,
                           int32_t question, int32_t line_end);
void console_sleep(int32_t milliseconds);
int32_t console_is_redirected(int32_t input);

// What follows works on a host's console state: its fields x, y (0-based cursor),
// deferred (text ended on the bottom-right cell, its wrap still to come),
// cursor_visible, foreground, background, requested_columns, requested_rows,
// in_line_input and after_cr, and the host's own screen_size(state, &columns, &rows),
// found with the state's type.

// The size the console prints in, with the tracked cursor brought inside it.
template <class State>
void console_window_of(State& c, int32_t* columns, int32_t* rows) {
  screen_size(c, columns, rows);
  if (c.x >= *columns) c.x = *columns - 1;
  if (c.y >= *rows) c.y = *rows - 1;
  if (c.x < 0) c.x = 0;
  if (c.y < 0) c.y = 0;
}

// Prints through p, whose data and operations the host has set, in the window of
// columns x rows from the tracked cursor (already inside it), and tracks the cursor
// on. Text that ends exactly on the bottom-right cell leaves its wrap pending: the
// window scrolls only once more is printed (or flags 8 asks for the wrap).
template <class State>
void console_print_from_cursor(State& c, TextWindowPrinter& p, int32_t columns, int32_t rows,
                               const uint8_t* text, int32_t length) {
  p.left = 0;
  p.top = 0;
  p.right = columns - 1;
  p.bottom = rows - 1;
  p.x = c.x;
  p.y = c.y;
  p.line_feed_returns = true;
  if (c.deferred) {
    c.deferred = false;
    p.x = p.left;
    if (++p.y > p.bottom) {
      p.scroll(&p, p.y - p.bottom);
      p.y = p.bottom;
    }
  }
  run_text_window_printer(p, text, length);
  if (p.x == p.left && p.y == p.bottom + 1) {
    c.deferred = true;
    p.x = p.right;
    p.y = p.bottom;
  } else if (p.y > p.bottom) {
    p.scroll(&p, p.y - p.bottom);
    p.y = p.bottom;
  }
  if (p.x >= 0) c.x = p.x;
  if (p.y >= 0) c.y = p.y;
}

// The home of a clear screen: top-left, no wrap pending.
template <class State>
void console_home(State& c) {
  c.x = c.y = 0;
  c.deferred = false;
}

// Sets the colours a colour statement gives (flags 0x01: no foreground, 0x02: no
// background); answers the pair before, background in the high half.
template <class State>
int32_t console_colour_of(State& c, int32_t foreground, int32_t background, int32_t flags) {
  int32_t previous = c.background * 65536 + c.foreground;
  if (!(flags & 0x01)) c.foreground = foreground & 15;
  if (!(flags & 0x02)) c.background = background & 15;
  return previous;
}

// Locate's move of the tracked cursor: row and column from 1, each limited to the
// window (0 or less leaves it); any pending wrap is dropped. Answers the cursor as it
// was, with bit 16 set when it was visible.
template <class State>
int32_t console_locate_of(State& c, int32_t row, int32_t column) {
  int32_t previous = (c.cursor_visible ? 0x10000 : 0) | ((c.y & 0xFF) << 8) | (c.x & 0xFF);
  int32_t columns = 0, rows = 0;
  console_window_of(c, &columns, &rows);
  if (row >= 1) c.y = (row < rows ? row : rows) - 1;
  if (column >= 1) c.x = (column < columns ? column : columns) - 1;
  c.deferred = false;
  return previous;
}

// Inkey on redirected standard input: the next key, 0 when none is waiting; its end
// finishes a line being edited (Enter) and is no key otherwise.
template <class State>
int32_t console_redirected_inkey(State& c, bool (*has_data)()) {
  int32_t k = console_redirected_key(c.after_cr, false, has_data);
  if (k > 0) return k;
  return k == -1 && c.in_line_input ? 13 : 0;
}

// A key read on redirected standard input; its end reads as Enter, so that no read
// waits for ever.
template <class State>
int32_t console_redirected_get_key(State& c, bool (*has_data)()) {
  int32_t k = console_redirected_key(c.after_cr, true, has_data);
  return k > 0 ? k : 13;
}

// The input statement's prompt sequence with the console marked as editing a line.
template <class State>
int32_t console_line_input_of(State& c, StringDesc* prompt, StringDesc* dest, int32_t dest_length, int32_t fill,
                              int32_t question, int32_t line_end) {
  bool outer = c.in_line_input;
  c.in_line_input = true;
  int32_t result = line_input_sequence(prompt, dest, dest_length, fill, question, line_end, 0);
  c.in_line_input = outer;
  return result;
}

// The slots that answer from a host's console state.
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

// The console's table of hooks (text_console_hooks() of runtime/hooks.h): the host's
// own, the slots that answer from the state ready() gives, and those served alike.
template <auto ready>
const ConsoleHooks& console_hooks() {
  static const ConsoleHooks hooks = {
      console_inkey, console_get_key, console_key_hit, console_clear_screen, console_colour, console_locate,
      [](int32_t columns, int32_t rows) { return console_width_of(ready(), columns, rows); },
      [] { return ready().x + 1; },
      [] { return ready().y + 1; },
      [](int32_t* column, int32_t* row) { console_position_of(ready(), column, row); },
      [](int32_t* columns, int32_t* rows) { console_size_of(ready(), columns, rows); },
      console_print_buffer,
      [](const uint16_t* text, int32_t length, int32_t flags) {
        console_print_wide(console_print_buffer, text, length, flags);
      },
      console_read_string, console_key_state, console_get_mouse, console_set_mouse, console_port_in,
      console_port_out, console_view_update, console_line_input,
      [](StringDesc* prompt, StringDesc* dest, int32_t dest_length, int32_t fill, int32_t question,
         int32_t line_end) {
        return wide_line_input(console_line_input, prompt, dest, dest_length, fill, question, line_end);
      },
      console_read_screen_cell, console_sleep, console_is_redirected, console_copy_page, console_set_pages,
  };
  return hooks;
}

}  // namespace zv
