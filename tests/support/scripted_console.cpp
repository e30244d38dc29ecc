// The scripted test console behind the hooks table.
#include "tests/support/scripted_console.h"

#include "runtime/hooks.h"
#include "runtime/input.h"
#include "runtime/runtime.h"
#include "runtime/strings.h"

namespace zv::test {

namespace {

ScriptedConsole* active = nullptr;

void advance(ScriptedConsole& c, uint8_t byte) {
  switch (byte) {
    case '\r': c.column = 0; return;
    case '\n':
      if (c.row < c.rows - 1) ++c.row;
      return;
    case 7: ++c.beeps; return;
    case 8:
      if (c.column > 0) --c.column;
      return;
    case 9: c.column = (c.column + 8) & ~7; break;
    default: ++c.column; break;
  }
  if (c.column >= c.columns) {
    c.column = 0;
    if (c.row < c.rows - 1) ++c.row;
  }
}

StringDesc* sc_inkey() {
  if (active->keys.empty()) return temp_from_literal("", 0);
  int32_t code = active->keys.front();
  active->keys.pop_front();
  char bytes[2];
  if (code >= 256) {
    bytes[0] = static_cast<char>(255);
    bytes[1] = static_cast<char>(code >> 8);
    return temp_from_copy(bytes, 2);
  }
  bytes[0] = static_cast<char>(code);
  return temp_from_copy(bytes, 1);
}

int32_t sc_get_key() {
  if (active->keys.empty()) return 0;
  int32_t code = active->keys.front();
  active->keys.pop_front();
  return code;
}

int32_t sc_key_hit(int32_t) { return active->keys.empty() ? 0 : 1; }

void sc_clear_screen(int32_t) {
  ++active->clears;
  active->column = active->row = 0;
  active->log += "<CLS>";
}

int32_t sc_locate(int32_t row, int32_t column, int32_t visibility) {
  int32_t previous = (active->cursor_visible ? 0x10000 : 0) | (active->row << 8) | active->column;
  if (row > 0) active->row = row - 1;
  if (column > 0) active->column = column - 1;
  if (visibility == 0) active->cursor_visible = false;
  if (visibility == 1) active->cursor_visible = true;
  return previous;
}

int32_t sc_width(int32_t columns, int32_t rows) {
  int32_t previous = active->columns | (active->rows << 16);
  if (columns > 0) active->columns = columns;
  if (rows > 0) active->rows = rows;
  return previous;
}

int32_t sc_get_column() { return active->column + 1; }
int32_t sc_get_row() { return active->row + 1; }

void sc_get_position(int32_t* column, int32_t* row) {
  if (column) *column = active->column + 1;
  if (row) *row = active->row + 1;
}

void sc_get_size(int32_t* columns, int32_t* rows) {
  if (columns) *columns = active->columns;
  if (rows) *rows = active->rows;
}

void sc_print_buffer(const uint8_t* text, int32_t length, int32_t) {
  for (int32_t i = 0; i < length; ++i) {
    active->output.push_back(static_cast<char>(text[i]));
    active->log.push_back(static_cast<char>(text[i]));
    advance(*active, text[i]);
  }
}

int32_t sc_line_input(StringDesc* prompt, StringDesc* dest, int32_t dest_length, int32_t fill,
                      int32_t question, int32_t line_end) {
  return line_input_sequence(prompt, dest, dest_length, fill, question, line_end, 0);
}

void sc_sleep(int32_t milliseconds) {
  if (milliseconds != -1) return;
  ++active->pauses;
  active->log += "<PAUSE>";
  if (active->at_pause) active->at_pause();
  if (!active->keys.empty() && active->keys.front() == KEY_CLOSE) note_close_request();
  if (active->pause_consumes_key && !active->keys.empty()) active->keys.pop_front();
}

int32_t sc_is_redirected(int32_t) { return active->redirected ? 1 : 0; }

}  // namespace

void ScriptedConsole::type(const std::string& text) {
  for (unsigned char c : text) keys.push_back(c);
}

void install(ScriptedConsole& console) {
  active = &console;
  // The console stands in for the text console backend, so that it keeps serving
  // while mode setting fills or clears the hooks table. The slots it does not serve
  // stay the text console's.
  static ConsoleHooks h;
  h = text_console_hooks();
  h.inkey = sc_inkey;
  h.get_key = sc_get_key;
  h.key_hit = sc_key_hit;
  h.clear_screen = sc_clear_screen;
  h.locate = sc_locate;
  h.width = sc_width;
  h.get_column = sc_get_column;
  h.get_row = sc_get_row;
  h.get_position = sc_get_position;
  h.get_size = sc_get_size;
  h.print_buffer = sc_print_buffer;
  h.line_input = sc_line_input;
  h.sleep = sc_sleep;
  h.is_redirected = sc_is_redirected;
  console_hooks_table() = ConsoleHooks{};
  set_console_backend(&h);
}

void uninstall() {
  console_hooks_table() = ConsoleHooks{};
  set_console_backend(nullptr);
  active = nullptr;
}

}  // namespace zv::test
