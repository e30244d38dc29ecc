// Fuzz target for the line editor: arbitrary keys (ordinary, editing and unknown
// extended codes, Enter and line feed among them) on a small scripted screen, from
// an arbitrary cursor position, in console and graphics form. The script always
// ends with Enter. The edited line must match a screen-free model of the keys and
// the cursor must stay on the screen.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/hooks.h"
#include "runtime/input.h"
#include "runtime/runtime.h"
#include "runtime/statements.h"
#include "runtime/strings.h"
#include "tests/fuzz/fuzz_target.h"
#include "tests/support/scripted_console.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

zv::test::ScriptedConsole* current = nullptr;

// The editor stops on Enter, which ends every script: asking for more is a fault.
int32_t key_hit(int32_t) {
  check(!current->keys.empty());
  return 1;
}

void silent_beep(int32_t, int32_t) {}

constexpr int32_t EDITING_KEYS[] = {zv::EDITOR_KEY_HOME, zv::EDITOR_KEY_UP,    zv::EDITOR_KEY_LEFT,
                                    zv::EDITOR_KEY_RIGHT, zv::EDITOR_KEY_END,  zv::EDITOR_KEY_DOWN,
                                    zv::EDITOR_KEY_DELETE, 8, 9, 27};

int32_t key_code(uint8_t value, uint8_t kind) {
  switch (kind & 3) {
    case 0: return value;                                       // any byte, 10 and 13 included
    case 1: return EDITING_KEYS[value % (sizeof EDITING_KEYS / sizeof EDITING_KEYS[0])];
    case 2: return value * 256 + 255;                           // any extended key
    default: return 32 + value % 224;                           // a character
  }
}

// What the keys do to the text, without a screen.
std::string model(std::string text, const std::vector<int32_t>& keys, int32_t width) {
  size_t cursor = text.size();
  const size_t w = static_cast<size_t>(width);
  for (int32_t key : keys) {
    if (key == 13 || key == 10) break;
    if (key == zv::EDITOR_KEY_CLOSE) return std::string();
    if (key == 8) {
      if (cursor > 0) text.erase(--cursor, 1);
    } else if (key == 9 || (key >= 32 && key <= 255)) {
      size_t count = key == 9 ? ((cursor + 8) & ~size_t{7}) - cursor : 1;
      size_t room = static_cast<size_t>(zv::LINE_EDITOR_MAX) - text.size();
      if (count > room) count = room;
      text.insert(cursor, count, key == 9 ? ' ' : static_cast<char>(key));
      cursor += count;
    } else if (key == 27) {
      text.clear();
      cursor = 0;
    } else if (key == zv::EDITOR_KEY_HOME) {
      cursor = 0;
    } else if (key == zv::EDITOR_KEY_END) {
      cursor = text.size();
    } else if (key == zv::EDITOR_KEY_LEFT) {
      if (cursor > 0) --cursor;
    } else if (key == zv::EDITOR_KEY_RIGHT) {
      if (cursor < text.size()) ++cursor;
    } else if (key == zv::EDITOR_KEY_UP) {
      if (cursor >= w) cursor -= w;
    } else if (key == zv::EDITOR_KEY_DOWN) {
      if (cursor + w <= text.size()) cursor += w;
    } else if (key == zv::EDITOR_KEY_DELETE) {
      if (cursor < text.size()) text.erase(cursor, 1);
    }
  }
  return text;
}

}  // namespace

ZV_FUZZ_TARGET(line_editor) {
  if (size < 5) return 0;
  zv::test::ScriptedConsole console;
  console.columns = 1 + data[0] % 20;
  console.rows = 1 + data[1] % 5;
  console.column = data[2] % console.columns;
  console.row = data[3] % console.rows;
  const int32_t graphics = (data[4] >> 7) & 1;
  size_t at = 5;
  std::string initial;
  for (size_t n = data[4] % 8; n > 0 && at < size; --n) initial.push_back(static_cast<char>(data[at++]));
  std::vector<int32_t> keys;
  for (; at + 1 < size; at += 2) keys.push_back(key_code(data[at], data[at + 1]));
  keys.push_back(13);
  for (int32_t k : keys) console.press(k);

  zv::test::install(console);
  current = &console;
  zv::console_hooks_table().key_hit = key_hit;
  zv::BeepFunction previous_beep = zv::set_line_editor_beep(silent_beep);
  zv::set_view_rows_raw(-1, -1);

  zv::StringDesc line{};
  check(zv::assign_string(&line, initial.data(), static_cast<int32_t>(initial.size())));
  check(zv::line_editor(&line, graphics) == &line);
  const int32_t length = zv::string_length(&line);
  check(length >= 0 && length <= zv::LINE_EDITOR_MAX);
  check(length <= static_cast<int32_t>(initial.size() + 8 * keys.size()));
  std::string edited(line.data ? line.data : "", static_cast<size_t>(length));
  if (length > 0) check(line.data[length] == '\0');
  check(edited == model(initial, keys, console.columns));
  check(console.column >= 0 && console.column < console.columns);
  check(console.row >= 0 && console.row < console.rows);

  zv::free_string(&line);
  zv::set_line_editor_beep(previous_beep);
  zv::set_view_rows_raw(-1, -1);
  zv::test::uninstall();
  current = nullptr;
  // A close request stays noted for the rest of the run: the next input starts afresh.
  if (zv::close_requested()) {
    zv::runtime_exit();
    zv::runtime_constructor();
  }
  return 0;
}
