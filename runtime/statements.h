// Screen statements of the runtime: clear screen, sleep, locate, text view, width.
#pragma once

#include <cstdint>

namespace zv {

constexpr int32_t CLEAR_DEFAULT = -65536;  // clear screen without an argument

void clear_screen(int32_t mode);

// n = -1 waits until a key is hit; otherwise sleeps n ms, returning early on a key
// for n >= 100.
void sleep_statement(int32_t milliseconds);

// Text view rows, counted from 1.
void view_rows(int32_t* top, int32_t* bottom);
// The view print statement: top + bottom * 65536, or 0 when rejected.
int32_t set_view_rows(int32_t top, int32_t bottom, int32_t move_cursor);
int32_t reset_view();
// The raw view rows, counted from 0, -1 when not set; the graphics screen sets them.
int32_t view_top_raw();
int32_t view_bottom_raw();
void set_view_rows_raw(int32_t top, int32_t bottom);

int32_t locate_statement(int32_t row, int32_t column, int32_t visibility, int32_t* previous_state);
int32_t locate(int32_t row, int32_t column, int32_t visibility);

int32_t width_statement(int32_t columns, int32_t rows);

}  // namespace zv
