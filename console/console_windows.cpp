// The text console backend on the Windows console: the implementation of every
// console hook when no graphics screen is open.
//
// Output runs through the shared text-window printer. On a console the backend
// keeps its own cursor inside the console's visible window, writes each run of
// characters as their Unicode shapes (so code page 437 shows right whatever the
// console's code page) in the current colours, scrolls the window's rows itself and
// puts the console's cursor where its own one is. Output that is not a console gets
// the printed bytes as they are (the bell dropped), in binary mode, flushed before
// the program could wait.
//
// Keys come from ReadConsoleInputW and are turned into key codes by the window
// drivers' key translation, so a key gives the same code in a window and on the
// console. A pause takes the one key pressed after it began; keys typed ahead stay
// for line input. Redirected standard input is read byte by byte as on other hosts:
// is-redirected answers 1, key hit answers "waiting", and its end never blocks.
//
// Ctrl+C and Ctrl+Break end the run as an interrupt does on other hosts: the line
// being entered is ended on the console, the report is flushed and closed by the
// exit handlers, and the status is STATUS_CONTROL_C_EXIT, what Windows gives a
// console program that Ctrl+C ends.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <vector>

#include "console/console.h"
#include "console/console_common.h"
#include "console/console_windows.h"
#include "console/cp437.h"
#include "common/key_translation.h"
#include "platform/platform.h"
#include "runtime/file_channel.h"
#include "runtime/hooks.h"
#include "runtime/input.h"
#include "runtime/strings.h"
#include "runtime/text_window.h"

namespace zv {

namespace {

constexpr int32_t DEFAULT_COLUMNS = 80, DEFAULT_ROWS = 25;
constexpr DWORD KEY_MODIFIERS = KEYMOD_RIGHT_ALT | KEYMOD_LEFT_ALT | KEYMOD_RIGHT_CTRL |
                                KEYMOD_LEFT_CTRL | KEYMOD_SHIFT | KEYMOD_EXTENDED;
// How long the console's control handler leaves the program thread to end the run
// at its wait before it ends the process itself.
constexpr DWORD INTERRUPT_GRACE_MS = 1000;

struct Console {
  bool ready = false;
  HANDLE out = INVALID_HANDLE_VALUE, in = INVALID_HANDLE_VALUE;
  bool out_console = false, in_console = false;
  WORD saved_attributes = 0x07;
  bool colours_set = false, cursor_hidden = false;
  int32_t x = 0, y = 0;   // tracked cursor, from 0, inside the visible window
  bool deferred = false;  // text ended at the bottom-right cell; its wrap is pending
  bool cursor_visible = true;
  int32_t foreground = 7, background = 0;
  int32_t requested_columns = 0, requested_rows = 0;
  std::deque<int32_t> keys;  // translated, not yet consumed
  bool in_line_input = false;
  bool after_cr = false;  // redirected input: a line feed after a carriage return is one Enter
};

Console& state() {
  static Console console;
  return console;
}

bool is_console(HANDLE h) {
  DWORD mode = 0;
  return h != INVALID_HANDLE_VALUE && h != nullptr && GetConsoleMode(h, &mode) != 0;
}

WORD attributes(const Console& c) { return static_cast<WORD>(c.foreground | c.background << 4); }

void restore_at_exit() { console_restore_terminal(); }

// Ctrl+C or Ctrl+Break was pressed: set by the console's control handler (a thread
// of its own), which also sets the event that every console wait includes.
std::atomic<bool> interrupted{false};
HANDLE interrupt_event = nullptr;

// The console runs this on a thread of its own. The program thread ends the run at
// its next key read or wait (input_state); one that does not come to a console wait in
// time (its keys come from a window, or it reads redirected input) is ended from
// here, with the report's buffered bytes written first.
BOOL WINAPI on_console_control(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  interrupted.store(true);
  if (interrupt_event) SetEvent(interrupt_event);
  Sleep(INTERRUPT_GRACE_MS);
  flush_file_streams();
  ExitProcess(STATUS_CONTROL_C_EXIT);
}

Console& ready_state() {
  Console& c = state();
  if (c.ready) return c;
  c.ready = true;
  c.out = GetStdHandle(STD_OUTPUT_HANDLE);
  c.in = GetStdHandle(STD_INPUT_HANDLE);
  c.out_console = is_console(c.out);
  c.in_console = is_console(c.in);
  // Bytes as printed and as typed: no line-end translation, no end-of-file byte.
  if (!c.out_console) _setmode(_fileno(stdout), _O_BINARY);
  if (!c.in_console) _setmode(_fileno(stdin), _O_BINARY);
  if (c.out_console) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(c.out, &info)) {
      c.saved_attributes = info.wAttributes;
      c.x = info.dwCursorPosition.X - info.srWindow.Left;
      c.y = info.dwCursorPosition.Y - info.srWindow.Top;
    }
  }
  static bool registered = false;
  if (!registered) {
    registered = true;
    std::atexit(restore_at_exit);
    interrupt_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(on_console_control, TRUE);
  }
  return c;
}

// The console's visible window in buffer coordinates, or the default size.
SMALL_RECT visible_window(const Console& c) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (c.out_console && GetConsoleScreenBufferInfo(c.out, &info)) return info.srWindow;
  return SMALL_RECT{0, 0, DEFAULT_COLUMNS - 1, DEFAULT_ROWS - 1};
}

// The size the backend prints in: a requested size, limited on a console to what
// its window shows (the window keeps its own row count).
void screen_size(const Console& c, int32_t* columns, int32_t* rows) {
  const SMALL_RECT w = visible_window(c);
  const int32_t wc = w.Right - w.Left + 1, wr = w.Bottom - w.Top + 1;
  int32_t cols = c.requested_columns > 0 ? c.requested_columns : wc;
  int32_t lines = c.requested_rows > 0 ? c.requested_rows : wr;
  if (c.out_console) {
    if (cols > wc) cols = wc;
    lines = wr;
  }
  *columns = cols;
  *rows = lines;
}

void place_cursor(const Console& c) {
  if (!c.out_console) return;
  const SMALL_RECT w = visible_window(c);
  SetConsoleCursorPosition(c.out, COORD{static_cast<SHORT>(w.Left + c.x), static_cast<SHORT>(w.Top + c.y)});
}

// ---------------------------------------------------------------------------
// Output.

struct PrintTarget {
  Console* console;
  SMALL_RECT window;
};

// Fills the cells of the rectangle with spaces in the current colours.
void blank(const Console& c, const SMALL_RECT& area) {
  const DWORD width = static_cast<DWORD>(area.Right - area.Left + 1);
  DWORD done = 0;
  for (SHORT row = area.Top; row <= area.Bottom; ++row) {
    FillConsoleOutputCharacterW(c.out, L' ', width, COORD{area.Left, row}, &done);
    FillConsoleOutputAttribute(c.out, attributes(c), width, COORD{area.Left, row}, &done);
  }
}

bool printer_write(TextWindowPrinter* p, const uint8_t* bytes, int32_t length) {
  auto* target = static_cast<PrintTarget*>(p->data);
  Console& c = *target->console;
  if (!c.out_console) return true;
  std::vector<wchar_t> wide(static_cast<size_t>(length));
  for (int32_t i = 0; i < length; ++i) {
    const char32_t u = bytes[i] ? cp437_to_unicode(bytes[i]) : U' ';
    wide[static_cast<size_t>(i)] = static_cast<wchar_t>(u);  // all of code page 437 is in the BMP
  }
  const COORD at{static_cast<SHORT>(target->window.Left + p->x), static_cast<SHORT>(target->window.Top + p->y)};
  DWORD done = 0;
  WriteConsoleOutputCharacterW(c.out, wide.data(), static_cast<DWORD>(length), at, &done);
  FillConsoleOutputAttribute(c.out, attributes(c), static_cast<DWORD>(length), at, &done);
  return true;
}

void printer_scroll(TextWindowPrinter* p, int32_t rows) {
  auto* target = static_cast<PrintTarget*>(p->data);
  Console& c = *target->console;
  if (!c.out_console) return;
  const SMALL_RECT w = target->window;
  SMALL_RECT area{w.Left, static_cast<SHORT>(w.Top + p->top), static_cast<SHORT>(w.Left + p->right),
                  static_cast<SHORT>(w.Top + p->bottom)};
  CHAR_INFO fill{};
  fill.Char.UnicodeChar = L' ';
  fill.Attributes = attributes(c);
  // The rows below the count move up to the area's top, and the rows they leave are
  // filled. (Moving the whole area above its top would be the same on Windows, but
  // Wine refuses a destination outside the buffer.)
  SMALL_RECT below = area;
  below.Top = static_cast<SHORT>(area.Top + rows);
  if (below.Top <= below.Bottom) {
    ScrollConsoleScreenBufferW(c.out, &below, &area, COORD{area.Left, area.Top}, &fill);
    return;
  }
  blank(c, area);
}

void printer_bell(TextWindowPrinter* p) {
  if (static_cast<PrintTarget*>(p->data)->console->out_console) beep(800, 200);
}

void show_cursor(Console& c, bool visible) {
  CONSOLE_CURSOR_INFO info{};
  if (!GetConsoleCursorInfo(c.out, &info)) return;
  info.bVisible = visible ? TRUE : FALSE;
  SetConsoleCursorInfo(c.out, &info);
  c.cursor_hidden = !visible;
}

}  // namespace

void console_print_buffer(const uint8_t* text, int32_t length, int32_t flags) {
  Console& c = ready_state();
  if (!text || length < 0) length = 0;
  if (length == 0 && !(flags & 8)) return;
  if (!c.out_console) {
    // The bytes as printed, the bell dropped; the cursor is still tracked below.
    for (int32_t i = 0; i < length; ++i)
      if (text[i] != 7) std::fputc(text[i], stdout);
  }
  int32_t columns = 0, rows = 0;
  console_window_of(c, &columns, &rows);
  PrintTarget target{&c, visible_window(c)};
  TextWindowPrinter p{};
  p.data = &target;
  p.write = printer_write;
  p.scroll = printer_scroll;
  p.bell = printer_bell;
  console_print_from_cursor(c, p, columns, rows, text, length);
  place_cursor(c);
}

void console_clear_screen(int32_t mode) {
  Console& c = ready_state();
  if (mode == 1) return;  // the graphics viewport; a text console has none
  console_home(c);
  if (!c.out_console) return;
  blank(c, visible_window(c));
  place_cursor(c);
}

int32_t console_colour(int32_t foreground, int32_t background, int32_t flags) {
  Console& c = ready_state();
  int32_t previous = console_colour_of(c, foreground, background, flags);
  if (c.out_console && (flags & 0x03) != 0x03) {
    SetConsoleTextAttribute(c.out, attributes(c));
    c.colours_set = true;
  }
  return previous;
}

int32_t console_locate(int32_t row, int32_t column, int32_t visibility) {
  Console& c = ready_state();
  int32_t previous = console_locate_of(c, row, column);
  if (row >= 1 || column >= 1) place_cursor(c);
  if ((visibility == 0 && c.cursor_visible) || (visibility == 1 && !c.cursor_visible)) {
    c.cursor_visible = visibility == 1;
    if (c.out_console) show_cursor(c, c.cursor_visible);
  }
  return previous;
}

// ---------------------------------------------------------------------------
// Input.

namespace {

// At a key read or a wait of the program thread an interrupt ends the run: a line
// left unfinished on the console is ended, so that what comes after the program
// starts on a line of its own, and the exit handlers close the report.
void end_if_interrupted(Console& c) {
  if (!interrupted.load()) return;
  if (c.deferred)
    console_print_buffer(nullptr, 0, 8);
  else if (c.x != 0)
    console_print_buffer(reinterpret_cast<const uint8_t*>("\r\n"), 2, 0);
  std::fflush(stdout);
  std::exit(static_cast<int>(STATUS_CONTROL_C_EXIT));
}

// Takes the console's pending input events and keeps the keys they give. A console
// may read its terminal only for a wait on the input handle (Wine's on a Unix
// terminal does), so a zero wait comes first: polling alone would never see a key.
void take_console_events(Console& c) {
  WaitForSingleObject(c.in, 0);
  DWORD count = 0;
  while (GetNumberOfConsoleInputEvents(c.in, &count) && count > 0) {
    INPUT_RECORD records[32];
    DWORD read = 0;
    if (!ReadConsoleInputW(c.in, records, 32, &read) || read == 0) return;
    for (DWORD i = 0; i < read; ++i) {
      if (records[i].EventType != KEY_EVENT) continue;
      const int32_t code = console_key_code(records[i].Event.KeyEvent);
      const WORD repeat = records[i].Event.KeyEvent.wRepeatCount;
      for (WORD r = 0; code > 0 && r < (repeat ? repeat : 1); ++r) c.keys.push_back(code);
    }
  }
}

// Waits until a key is there, for at most the time (-1: no limit, 0: only what has
// arrived).
bool wait_for_key(Console& c, int32_t timeout_ms) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    take_console_events(c);
    if (!c.keys.empty()) return true;
    DWORD wait = INFINITE;
    if (timeout_ms >= 0) {
      const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start).count();
      if (spent >= timeout_ms) return false;
      wait = static_cast<DWORD>(timeout_ms - spent);
    }
    const HANDLE handles[2] = {c.in, interrupt_event};
    const DWORD count = interrupt_event ? 2 : 1;
    if (WaitForMultipleObjects(count, handles, FALSE, wait) == WAIT_FAILED) return false;
    end_if_interrupted(c);
  }
}

// True when a read of redirected standard input will not block: bytes buffered by
// the C stream, a file, a pipe with bytes in it or at its end.
bool stdin_has_data() {
#ifndef _UCRT
  if (stdin->_cnt > 0) return true;
#endif
  HANDLE h = GetStdHandle(STD_INPUT_HANDLE);
  if (GetFileType(h) != FILE_TYPE_PIPE) return true;
  DWORD available = 0;
  if (!PeekNamedPipe(h, nullptr, 0, nullptr, &available, nullptr)) return true;  // ended
  return available > 0;
}

// The state for the hooks that read keys or wait.
Console& input_state() {
  Console& c = ready_state();
  end_if_interrupted(c);
  return c;
}

}  // namespace

StringDesc* console_inkey() {
  Console& c = input_state();
  int32_t code = 0;
  if (c.in_console) {
    std::fflush(stdout);
    if (wait_for_key(c, 0)) code = console_pop_key(c.keys);
  } else {
    code = console_redirected_inkey(c, stdin_has_data);
  }
  return console_key_string(code);
}

int32_t console_get_key() {
  Console& c = input_state();
  std::fflush(stdout);
  if (c.in_console) return wait_for_key(c, -1) ? console_pop_key(c.keys) : 13;
  return console_redirected_get_key(c, stdin_has_data);
}

int32_t console_key_hit(int32_t) {
  Console& c = input_state();
  if (!c.in_console) return 1;  // redirected input is always "waiting"; nothing is consumed
  std::fflush(stdout);
  return wait_for_key(c, 0) ? 1 : 0;
}

void console_sleep(int32_t milliseconds) {
  Console& c = input_state();
  if (milliseconds < -1) return;
  std::fflush(stdout);
  if (milliseconds != -1 && milliseconds < 100) {
    sleep_ms(milliseconds);
    return;
  }
  if (!c.in_console) return;  // key hit answers "waiting": the pause is over at once
  // A pause counts only a key pressed after it began, and takes that key.
  FlushConsoleInputBuffer(c.in);
  c.keys.clear();
  if (wait_for_key(c, milliseconds)) console_pop_key(c.keys);
}

int32_t console_is_redirected(int32_t) {
  Console& c = ready_state();
  if (c.in_console) return 0;
  std::fflush(stdout);  // the runtime reads standard input next, which may wait
  return 1;
}

int32_t console_line_input(StringDesc* prompt, StringDesc* dest, int32_t dest_length, int32_t fill,
                           int32_t question, int32_t line_end) {
  return console_line_input_of(ready_state(), prompt, dest, dest_length, fill, question, line_end);
}

char* console_read_string(char* buffer, int32_t length) {
  return console_read_line(console_get_key, console_print_buffer, buffer, length);
}

int32_t console_key_code(const KEY_EVENT_RECORD& key) {
  if (!key.bKeyDown) return -1;
  // ASCII, control characters included, is the same in code page 437. A key whose
  // character is a control character of its own (Escape, Enter, Backspace, Tab) gives
  // it without Ctrl or Alt even where the console leaves it out (Wine's console on a
  // terminal sends Escape without its character).
  wchar_t character = key.uChar.UnicodeChar;
  constexpr DWORD CTRL_OR_ALT = KEYMOD_RIGHT_ALT | KEYMOD_LEFT_ALT | KEYMOD_RIGHT_CTRL | KEYMOD_LEFT_CTRL;
  if (character == 0 && !(key.dwControlKeyState & CTRL_OR_ALT)) {
    const UINT own = MapVirtualKeyW(key.wVirtualKeyCode, MAPVK_VK_TO_CHAR);
    if (own > 0 && own < 0x20) character = static_cast<wchar_t>(own);
  }
  const int32_t byte = character < 0x80 ? static_cast<int32_t>(character) : unicode_to_cp437(character);
  if (byte < 0) return -1;  // a character code page 437 does not have
  return translateKey(static_cast<uint8_t>(byte), static_cast<uint8_t>(key.wVirtualScanCode),
                      key.wVirtualKeyCode, key.dwControlKeyState & KEY_MODIFIERS);
}

const ConsoleHooks& text_console_hooks() { return console_hooks<ready_state>(); }

void console_reset() {
  console_restore_terminal();
  std::fflush(stdout);
  state() = Console{};
}

void console_flush() { std::fflush(stdout); }

void console_release_own_window() {
  const HWND window = GetConsoleWindow();
  DWORD processes[2];
  if (!window || !IsWindowVisible(window) || GetConsoleProcessList(processes, 2) != 1) return;
  console_flush();
  console_restore_terminal();
  if (!FreeConsole()) return;
  // The standard handles that were the console's are gone: the backend looks at them
  // again when it is next used.
  state().ready = false;
}

void console_restore_terminal() {
  Console& c = state();
  if (!c.ready || !c.out_console) return;
  if (c.colours_set) SetConsoleTextAttribute(c.out, c.saved_attributes);
  if (c.cursor_hidden) show_cursor(c, true);
  c.colours_set = false;
}

}  // namespace zv
