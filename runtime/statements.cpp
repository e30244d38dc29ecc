// Screen statements: clear screen, sleep, the text view, locate and width.
#include "runtime/statements.h"

#include "runtime/channel.h"
#include "runtime/file_channel.h"
#include "runtime/hooks.h"
#include "runtime/runtime.h"

namespace zv {

namespace {
// Rows of the text view, from 0; -1 when not set.
int32_t view_top = -1;
int32_t view_bottom = -1;

int32_t text_rows() {
  int32_t columns = 0, rows = 0;
  call_hook<&ConsoleHooks::get_size>(&columns, &rows);
  return rows;
}

int32_t text_columns() {
  int32_t columns = 0, rows = 0;
  call_hook<&ConsoleHooks::get_size>(&columns, &rows);
  return columns;
}
}  // namespace

void clear_screen(int32_t mode) {
  ChannelRecord* s = screen_record();
  call_hook<&ConsoleHooks::clear_screen>(mode);
  s->column = 0;
}

// Before a wait the files get what was printed into them, so that an interrupt
// while the program waits loses none of it.
void sleep_statement(int32_t milliseconds) {
  if (milliseconds == -1 || milliseconds > 0) flush_file_channels();
  call_hook<&ConsoleHooks::sleep>(milliseconds);
}

int32_t view_top_raw() { return view_top; }
int32_t view_bottom_raw() { return view_bottom; }
void set_view_rows_raw(int32_t top, int32_t bottom) {
  view_top = top;
  view_bottom = bottom;
}

void view_rows(int32_t* top, int32_t* bottom) {
  if (view_top < 0) view_top = 0;
  if (view_bottom < 0) {
    int32_t rows = text_rows();
    view_bottom = rows > 0 ? rows - 1 : 24;
  }
  if (top) *top = view_top + 1;
  if (bottom) *bottom = view_bottom + 1;
}

int32_t set_view_rows(int32_t top, int32_t bottom, int32_t move_cursor) {
  int32_t rows = text_rows();
  if (rows <= 0) rows = 25;
  int32_t current_top = 0, current_bottom = 0;
  view_rows(&current_top, &current_bottom);
  bool top_stays = top < 0, bottom_stays = bottom < 0;
  int32_t t = top > 0 ? top : (top == 0 ? 1 : current_top);
  int32_t b = bottom > 0 ? bottom : (bottom == 0 ? rows : current_bottom);
  if (b < t || t <= 0 || b <= 0 || t > rows || b > rows) return 0;
  if (!(top_stays && bottom_stays)) {
    view_top = t - 1;
    view_bottom = b - 1;
    call_hook<&ConsoleHooks::view_update>();
    if (move_cursor) locate(t, 1, -1);
  }
  return t + b * 65536;
}

int32_t reset_view() { return set_view_rows(0, 0, 1); }

int32_t locate_statement(int32_t row, int32_t column, int32_t visibility, int32_t* previous_state) {
  set_error(ERR_NONE);
  int32_t top = 0, bottom = 0;
  view_rows(&top, &bottom);
  int32_t columns = text_columns();
  if ((row != 0 && (row < top || row > bottom)) || (column != 0 && (column < 1 || column > columns))) {
    if (previous_state) *previous_state = 0;
    return set_error(ERR_ILLEGAL_CALL);
  }
  ChannelRecord* s = screen_record();
  int32_t state = call_hook<&ConsoleHooks::locate>(row, column, visibility);
  if (previous_state) *previous_state = state;
  if (column != 0) s->column = column - 1;
  return set_error(ERR_NONE);
}

int32_t locate(int32_t row, int32_t column, int32_t visibility) {
  int32_t state = 0;
  if (locate_statement(row, column, visibility, &state) != ERR_NONE)
    locate_statement(0, 0, visibility, &state);
  return state;
}

int32_t width_statement(int32_t columns, int32_t rows) {
  ChannelRecord* s = screen_record();
  int32_t result = call_hook<&ConsoleHooks::width>(columns, rows);
  if (columns > 0) s->width = columns;
  if (columns <= 0 && rows <= 0) return result;
  reset_view();
  return 0;
}

}  // namespace zv
