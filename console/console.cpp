// The text console backend on a POSIX terminal: the implementation of every
// console hook when no graphics screen is open.
//
// Output runs through the shared text-window printer. The backend tracks the
// cursor itself and wraps at the terminal width. On a terminal the cursor moves,
// clears, colours and cursor visibility are ANSI sequences and the bytes go out as
// UTF-8; a copy of the screen's cells is kept so that the screen can be drawn again
// when the program is continued after a stop. A terminal whose TERM is "dumb" gets
// no sequences at all: the printed bytes as they are, in UTF-8, the bell kept.
// Standard output that is not a terminal gets no sequences either: the printed
// bytes are passed on as they are (the bell dropped), converted to UTF-8 when the
// locale's character set is UTF-8 and left as code page 437 otherwise, so a
// captured transcript holds exactly what the program printed.
//
// Output to a terminal is written at the end of every operation, so that echo is
// immediate. Output that is not a terminal is held back and written when the
// buffer is full, before the program could wait (a key read, a sleep, standard
// input with nothing ready), at exit and on a signal that ends the process.
//
// Input from a terminal is read in raw mode (non-canonical, no echo) only while a
// key is being read; the modes are put back at once afterwards, at exit and on the
// signals that end or stop the process. Keys typed meanwhile wait in the terminal
// driver or, once decoded, in the backend's own queue. A pause takes the one key
// pressed after it began. Redirected standard input never blocks at its end.
#include <fcntl.h>
#include <langinfo.h>
#include <limits.h>
#include <locale.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdio_ext.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/console_common.h"
#include "console/cp437.h"
#include "console/key_decoder.h"
#include "platform/platform.h"
#include "runtime/hooks.h"
#include "runtime/input.h"
#include "runtime/strings.h"
#include "runtime/text_window.h"

namespace zv {

namespace {

constexpr int32_t ESCAPE_TIME_OUT_MS = 100;  // a lone escape is the Escape key after this
constexpr int32_t DEFAULT_COLUMNS = 80, DEFAULT_ROWS = 25;
constexpr int32_t READ_CHUNK = 64;  // bytes taken from the terminal at a time
constexpr size_t PENDING_MAX = 16384;  // output held back from a non-terminal
constexpr int64_t CELLS_MAX = 1 << 22;  // a larger terminal keeps no cell copy
constexpr int SIGNAL_WRITE_WAIT_MS = 100;  // how long a handler waits for a slow reader

// What the signal handlers and the exit handler need: plain data only, valid
// before any constructor has run and after every destructor.
struct TerminalModes {
  termios saved;  // the modes before raw mode
  termios raw;
  volatile sig_atomic_t raw_active;     // raw modes are set (or being set)
  volatile sig_atomic_t cursor_hidden;  // the program hid the terminal's cursor
  volatile sig_atomic_t colours_set;    // the program changed the terminal's colours
  volatile sig_atomic_t resumed;        // continued after a stop: the screen is drawn again
  int raw_depth;                        // nesting of raw sessions
  bool handlers_installed;
  bool exit_handler_registered;
};
TerminalModes modes;

// Output held back from standard output that is not a terminal; plain data too,
// so that the exit handler and a handler of a signal that ends the process can
// write it out. Bytes are copied in first and counted in length afterwards.
struct PendingOutput {
  char data[PENDING_MAX];
  volatile sig_atomic_t length;
  volatile sig_atomic_t writing;  // the program is writing the bytes out itself
  volatile sig_atomic_t broken;   // standard output is gone: nothing more is written
  volatile sig_atomic_t direct;   // the exit handler has run: output goes out at once
};
PendingOutput pending;

struct Console {
  bool ready = false;
  bool out_tty = false, in_tty = false;
  bool ansi = false;  // a terminal that takes escape sequences (TERM is not "dumb")
  bool held = false;  // output waits in the pending buffer
  bool utf8 = false;  // output (and terminal input) in UTF-8
  int32_t x = 0, y = 0;  // tracked cursor, from 0
  bool deferred = false;  // text ended at the bottom-right cell; its wrap is pending
  bool cursor_visible = true;
  int32_t foreground = 7, background = 0;
  int32_t requested_columns = 0, requested_rows = 0;
  // Where the terminal's own cursor is; wrap_pending: it sits on the last column
  // with the terminal's automatic wrap still to come.
  int32_t device_x = 0, device_y = 0;
  bool wrap_pending = false;
  int32_t terminal_columns = DEFAULT_COLUMNS, terminal_rows = DEFAULT_ROWS;
  std::string out;  // output gathered by the current operation
  // The screen's cells as drawn (terminals with sequences only), row by row: the
  // byte | (foreground | background << 4) << 8.
  std::vector<uint16_t> cells;
  int32_t cells_columns = 0, cells_rows = 0;
  bool screen_known = false;  // the program cleared the screen: its rows are the terminal's
  int32_t line_top = 0;       // the row where the line being entered began
  // Input.
  std::deque<int32_t> keys;  // decoded, not yet consumed
  KeyDecoder decoder;
  std::chrono::steady_clock::time_point last_byte{};
  bool input_ended = false;
  bool in_line_input = false;
  bool after_cr = false;  // redirected input: a line feed after a carriage return is one Enter
};

Console& state() {
  static Console console;
  return console;
}

// ---------------------------------------------------------------------------
// Terminal modes, signals and exit.

void write_sequence_raw(const char* text, size_t length) {
  while (length > 0) {
    ssize_t n = write(STDOUT_FILENO, text, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    length -= static_cast<size_t>(n);
  }
}

// Async-signal-safe: only tcsetattr and write.
void restore_visuals() {
  if (modes.cursor_hidden) write_sequence_raw("\x1b[?25h", 6);
  if (modes.colours_set) write_sequence_raw("\x1b[0m", 4);
}

void apply_modes(const termios& t) {
  while (tcsetattr(STDIN_FILENO, TCSANOW, &t) != 0 && errno == EINTR) {
  }
}

// For a signal that ends the process: the held-back output is written, unless the
// program was writing it itself (some of it may be out already, and nothing is
// written twice). A reader that takes nothing for a while is not waited for, and
// a closed pipe only fails the write.
void write_pending_at_signal() {
  if (pending.writing || pending.broken || pending.length <= 0) return;
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
  const char* data = pending.data;
  size_t left = static_cast<size_t>(pending.length);
  while (left > 0) {
    pollfd p{STDOUT_FILENO, POLLOUT, 0};
    if (poll(&p, 1, SIGNAL_WRITE_WAIT_MS) <= 0 || !(p.revents & POLLOUT)) break;
    ssize_t n = write(STDOUT_FILENO, data, left < PIPE_BUF ? left : PIPE_BUF);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    data += n;
    left -= static_cast<size_t>(n);
  }
  pending.length = 0;
}

void on_signal(int sig) {
  int saved_errno = errno;
  if (sig == SIGCONT) {
    // Back from a stop: the shell has put its own modes back and written on the
    // screen; the next key read or output draws the screen again.
    if (modes.raw_active) apply_modes(modes.raw);
    if (modes.cursor_hidden) write_sequence_raw("\x1b[?25l", 6);
    modes.resumed = 1;
    errno = saved_errno;
    return;
  }
  if (sig != SIGTSTP) write_pending_at_signal();
  if (modes.raw_active) apply_modes(modes.saved);
  if (modes.cursor_hidden) write_sequence_raw("\x1b[?25h", 6);
  if (modes.colours_set) write_sequence_raw("\x1b[0m", 4);
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  if (sig == SIGTSTP) {
    // Stop with the default action, then take the signal back on continuing.
    struct sigaction ours {};
    sigaction(SIGTSTP, &default_action, &ours);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(SIGTSTP);
    sigaction(SIGTSTP, &ours, nullptr);
    errno = saved_errno;
    return;
  }
  modes.raw_active = 0;
  sigaction(sig, &default_action, nullptr);
  raise(sig);  // delivered with the default action once the handler returns
  errno = saved_errno;
}

void flush_pending();

void restore_at_exit() {
  flush_pending();
  pending.direct = 1;  // what later exit handlers print goes out at once
  console_restore_terminal();
}

// Registers the exit handler once per process and installs the signal handlers; a
// signal the program has given its own disposition (or ignores) is left alone.
void install_handlers() {
  if (!modes.exit_handler_registered) {
    modes.exit_handler_registered = true;
    std::atexit(restore_at_exit);
  }
  if (modes.handlers_installed) return;
  modes.handlers_installed = true;
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGCONT}) {
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) != 0) continue;
    if ((old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL) continue;
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(sig, &sa, nullptr);
  }
}

void enter_raw() {
  Console& c = state();
  if (!c.in_tty) return;
  if (modes.raw_depth++ > 0) return;
  install_handlers();
  termios t{};
  if (tcgetattr(STDIN_FILENO, &t) != 0) return;
  termios r = t;
  r.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ECHONL | IEXTEN));
  r.c_iflag &= static_cast<tcflag_t>(~(ICRNL | INLCR | IGNCR | IXON | ISTRIP));
  r.c_cc[VMIN] = 0;
  r.c_cc[VTIME] = 0;
  modes.saved = t;
  modes.raw = r;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  modes.raw_active = 1;  // from here on a signal puts the saved modes back
  std::atomic_signal_fence(std::memory_order_seq_cst);
  apply_modes(r);
}

void restore_modes() {
  if (modes.raw_active) {
    apply_modes(modes.saved);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    modes.raw_active = 0;
  }
}

void leave_raw() {
  if (modes.raw_depth <= 0) return;
  if (--modes.raw_depth > 0) return;
  restore_modes();
}

// Raw mode for the lifetime of the object (nested sessions share one).
struct RawSession {
  RawSession() { enter_raw(); }
  ~RawSession() { leave_raw(); }
  RawSession(const RawSession&) = delete;
  RawSession& operator=(const RawSession&) = delete;
};

// ---------------------------------------------------------------------------
// Set-up and sizes.

// The character set that the name of the environment's character locale declares:
// 1 UTF-8, 0 another (the C and POSIX locales included), -1 not declared.
int declared_utf8() {
  const char* name = nullptr;
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    name = environment_variable(variable);
    if (name && *name) break;
  }
  if (!name || !*name || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0) return 0;
  const char* dot = std::strchr(name, '.');
  if (!dot) return -1;
  const size_t length = std::strcspn(dot + 1, "@");
  const bool utf8 = (length == 5 && strncasecmp(dot + 1, "UTF-8", 5) == 0) ||
                    (length == 4 && strncasecmp(dot + 1, "UTF8", 4) == 0);
  return utf8 ? 1 : 0;
}

bool locale_is_utf8() {
  // A name that declares its character set is taken at its word: loading the
  // locale's tables costs more than a short scripted run does otherwise.
  if (const int declared = declared_utf8(); declared >= 0) return declared == 1;
  // Asked of a locale object of its own, so the program's locale stays untouched.
  locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
  if (!loc) return false;
  const char* codeset = nl_langinfo_l(CODESET, loc);
  bool utf8 = codeset && (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0);
  freelocale(loc);
  return utf8;
}

// A terminal that cannot take escape sequences.
bool terminal_is_dumb() {
  const char* term = environment_variable("TERM");
  return term && std::strcmp(term, "dumb") == 0;
}

// Standard error that goes to the same file as standard output: output held back
// would come out after what the program writes to standard error meanwhile.
bool stderr_shares_stdout() {
  struct stat out {}, err {};
  return fstat(STDOUT_FILENO, &out) == 0 && fstat(STDERR_FILENO, &err) == 0 && out.st_dev == err.st_dev &&
         out.st_ino == err.st_ino;
}

void screen_size(Console& c, int32_t* columns, int32_t* rows);
void draw_again(Console& c);

Console& ready_state() {
  Console& c = state();
  if (c.ready) {
    if (modes.resumed) draw_again(c);
    return c;
  }
  c.ready = true;
  c.out_tty = isatty(STDOUT_FILENO) != 0;
  c.in_tty = isatty(STDIN_FILENO) != 0;
  c.ansi = c.out_tty && !terminal_is_dumb();
  c.held = !c.out_tty && !stderr_shares_stdout();
  // Terminals are taken to speak UTF-8 whatever the locale says.
  c.utf8 = c.out_tty || locale_is_utf8();
  c.decoder.set_utf8(c.utf8);
  install_handlers();
  modes.resumed = 0;
  // Where the terminal's cursor is, is not known: the bottom row is the safe guess,
  // since every line feed there becomes a real one (a scroll or a move down).
  int32_t columns = 0, rows = 0;
  screen_size(c, &columns, &rows);
  c.y = c.device_y = rows - 1;
  return c;
}

void terminal_size(const Console& c, int32_t* columns, int32_t* rows) {
  *columns = DEFAULT_COLUMNS;
  *rows = DEFAULT_ROWS;
  if (!c.out_tty) return;
  winsize ws{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
    *columns = ws.ws_col;
    *rows = ws.ws_row;
  }
}

// The size the backend prints in: a requested size, limited on a terminal to what
// the terminal shows (a terminal keeps its own row count).
void screen_size(Console& c, int32_t* columns, int32_t* rows) {
  int32_t tc = 0, tr = 0;
  terminal_size(c, &tc, &tr);
  c.terminal_columns = tc;
  c.terminal_rows = tr;
  int32_t w = c.requested_columns > 0 ? c.requested_columns : tc;
  int32_t h = c.requested_rows > 0 ? c.requested_rows : tr;
  if (c.out_tty) {
    if (w > tc) w = tc;
    h = tr;
  }
  *columns = w;
  *rows = h;
}

// ---------------------------------------------------------------------------
// Output.

// Writes all bytes to standard output. A closed pipe must not end the process, so
// SIGPIPE is held back for the write and a SIGPIPE it raised is taken away.
bool write_all(const char* data, size_t size) {
  sigset_t pipe_set, previous, pending;
  sigemptyset(&pipe_set);
  sigaddset(&pipe_set, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_set, &previous);
  sigemptyset(&pending);
  sigpending(&pending);
  bool pipe_was_pending = sigismember(&pending, SIGPIPE) == 1;
  bool broken = false;
  while (size > 0) {
    ssize_t n = write(STDOUT_FILENO, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{STDOUT_FILENO, POLLOUT, 0};
      if (poll(&p, 1, 1000) > 0) continue;
      break;
    }
    broken = n < 0 && (errno == EPIPE || errno == EBADF || errno == EIO);
    break;
  }
  if (!pipe_was_pending) {
    timespec zero{};
    while (sigtimedwait(&pipe_set, nullptr, &zero) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return !broken;
}

// Writes the held-back output out.
void flush_pending() {
  if (pending.length <= 0) return;
  pending.writing = 1;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (!pending.broken && !write_all(pending.data, static_cast<size_t>(pending.length))) pending.broken = 1;
  pending.length = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  pending.writing = 0;
}

void hold(const char* data, size_t size) {
  if (pending.broken) return;
  // Text printed through the C streams meanwhile goes out in its place.
  if (__fpending(stdout) > 0) {
    flush_pending();
    std::fflush(stdout);
  }
  if (static_cast<size_t>(pending.length) + size > PENDING_MAX) flush_pending();
  if (size > PENDING_MAX) {
    if (!write_all(data, size)) pending.broken = 1;
    return;
  }
  std::memcpy(pending.data + pending.length, data, size);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  pending.length = pending.length + static_cast<sig_atomic_t>(size);
}

// Ends an operation's output: held back, or written at once to a terminal.
void finish_output(Console& c) {
  if (c.out.empty()) return;
  if (c.held && !pending.direct) {
    hold(c.out.data(), c.out.size());
  } else {
    flush_pending();
    std::fflush(stdout);  // keeps order with anything printed through the C streams
    if (!pending.broken && !write_all(c.out.data(), c.out.size())) pending.broken = 1;
  }
  c.out.clear();
}

void append_char(Console& c, uint8_t byte) {
  if (c.utf8) {
    char u[4];
    c.out.append(u, static_cast<size_t>(cp437_to_utf8(byte, u)));
  } else {
    c.out.push_back(static_cast<char>(byte));
  }
}

void append_csi(Console& c, int32_t count, char final_byte) {
  c.out += "\x1b[";
  if (count != 1) c.out += std::to_string(count);
  c.out.push_back(final_byte);
}

void append_colours(Console& c, int32_t foreground, int32_t background) {
  // The PC's colour order (blue before red) against the terminal's.
  static constexpr int ansi[8] = {0, 4, 2, 6, 1, 5, 3, 7};
  int fg = foreground < 8 ? 30 + ansi[foreground] : 90 + ansi[foreground - 8];
  int bg = background < 8 ? 40 + ansi[background] : 100 + ansi[background - 8];
  c.out += "\x1b[" + std::to_string(fg) + ";" + std::to_string(bg) + "m";
}

// Moves the terminal's cursor to the cell, relative to where it is. A terminal
// that has lost rows since keeps its cursor on its last one.
void move_device(Console& c, int32_t to_x, int32_t to_y) {
  if (c.device_y >= c.terminal_rows) c.device_y = c.terminal_rows - 1;
  if (c.wrap_pending) {
    c.out.push_back('\r');
    c.device_x = 0;
    c.wrap_pending = false;
  }
  if (to_y < c.device_y)
    append_csi(c, c.device_y - to_y, 'A');
  else if (to_y > c.device_y)
    append_csi(c, to_y - c.device_y, 'B');
  c.device_y = to_y;
  if (to_x != c.device_x) {
    if (to_x == 0)
      c.out.push_back('\r');
    else if (to_x < c.device_x)
      append_csi(c, c.device_x - to_x, 'D');
    else
      append_csi(c, to_x - c.device_x, 'C');
  }
  c.device_x = to_x;
}

// The terminal's cursor after `count` characters written at its column.
void advance_device(Console& c, int32_t count) {
  c.device_x += count;
  if (c.device_x >= c.terminal_columns) {
    c.device_x = c.terminal_columns - 1;
    c.wrap_pending = true;
  }
}

// ---------------------------------------------------------------------------
// The copy of the screen's cells.

uint16_t blank_cell(const Console& c) {
  return static_cast<uint16_t>(' ' | (c.foreground | c.background << 4) << 8);
}

// Gives the copy the window's size; what fits of the old contents stays. A window
// too large for a copy gets none.
void size_cells(Console& c, int32_t columns, int32_t rows) {
  if (columns == c.cells_columns && rows == c.cells_rows) return;
  if (columns <= 0 || rows <= 0 || static_cast<int64_t>(columns) * rows > CELLS_MAX) {
    c.cells.clear();
    c.cells_columns = c.cells_rows = 0;
    return;
  }
  std::vector<uint16_t> cells(static_cast<size_t>(columns) * static_cast<size_t>(rows), blank_cell(c));
  for (int32_t y = 0; y < rows && y < c.cells_rows; ++y)
    for (int32_t x = 0; x < columns && x < c.cells_columns; ++x)
      cells[static_cast<size_t>(y * columns + x)] = c.cells[static_cast<size_t>(y * c.cells_columns + x)];
  c.cells.swap(cells);
  c.cells_columns = columns;
  c.cells_rows = rows;
}

void store_cells(Console& c, int32_t x, int32_t y, const uint8_t* bytes, int32_t length) {
  if (y < 0 || y >= c.cells_rows || x < 0) return;
  uint16_t attribute = static_cast<uint16_t>(blank_cell(c) & 0xFF00);
  uint16_t* row = c.cells.data() + static_cast<size_t>(y) * static_cast<size_t>(c.cells_columns);
  for (int32_t i = 0; i < length && x + i < c.cells_columns; ++i) row[x + i] = attribute | bytes[i];
}

// Rows 0 to bottom move up by the count; the rows that come in are blank.
void scroll_cells(Console& c, int32_t rows, int32_t bottom) {
  if (bottom >= c.cells_rows) bottom = c.cells_rows - 1;
  if (bottom < 0 || rows <= 0) return;
  if (rows > bottom + 1) rows = bottom + 1;
  auto width = static_cast<size_t>(c.cells_columns);
  auto first = c.cells.begin();
  std::copy(first + static_cast<ptrdiff_t>(rows * width), first + static_cast<ptrdiff_t>((bottom + 1) * width),
            first);
  std::fill(first + static_cast<ptrdiff_t>((bottom + 1 - rows) * width),
            first + static_cast<ptrdiff_t>((bottom + 1) * width), blank_cell(c));
}

bool blank_byte(uint16_t cell) { return (cell & 0xFF) == ' ' || (cell & 0xFF) == 0; }

bool row_is_blank(const Console& c, int32_t y) {
  const uint16_t* row = c.cells.data() + static_cast<size_t>(y) * static_cast<size_t>(c.cells_columns);
  return std::all_of(row, row + c.cells_columns, blank_byte);
}

// Writes row y of the copy with the terminal's cursor at the row's start. Without
// colours the blanks at its end are left out; `colours` is the pair in force
// (-1 when not known).
void paint_row(Console& c, int32_t y, int32_t* colours) {
  const uint16_t* row = c.cells.data() + static_cast<size_t>(y) * static_cast<size_t>(c.cells_columns);
  int32_t n = c.cells_columns;
  if (!modes.colours_set)
    while (n > 0 && blank_byte(row[n - 1])) --n;
  for (int32_t i = 0; i < n; ++i) {
    int32_t pair = row[i] >> 8;
    if (modes.colours_set && pair != *colours) {
      append_colours(c, pair & 15, pair >> 4);
      *colours = pair;
    }
    append_char(c, static_cast<uint8_t>(row[i] & 0xFF));
  }
  advance_device(c, n);
}

// Draws the screen again after the program was continued: meanwhile the shell has
// written on the terminal and may have scrolled it. A screen the program cleared is
// drawn whole at the rows the program put it on. Otherwise the rows of the line
// being entered (or the cursor's row) are drawn again from the line the terminal's
// cursor is on, which from then on stands for the rows they had.
void draw_again(Console& c) {
  modes.resumed = 0;
  if (!c.ansi) return;
  int32_t columns = 0, rows = 0;
  console_window_of(c, &columns, &rows);
  size_cells(c, columns, rows);
  if (c.cells.empty()) return;
  int32_t colours = -1;
  if (modes.colours_set) c.out += "\x1b[0m";
  c.wrap_pending = false;
  if (c.screen_known) {
    c.out += "\x1b[H\x1b[2J";
    c.device_x = c.device_y = 0;
    for (int32_t y = 0; y < rows; ++y) {
      move_device(c, 0, y);
      paint_row(c, y, &colours);
    }
  } else {
    int32_t first = c.in_line_input ? std::clamp(c.line_top, 0, c.y) : c.y;
    int32_t last = c.y;
    for (int32_t y = rows - 1; y > c.y; --y) {
      if (!row_is_blank(c, y)) {
        last = y;
        break;
      }
    }
    c.out.push_back('\r');
    for (int32_t y = first; y <= last; ++y) {
      if (y > first) c.out += "\r\n";
      if (modes.colours_set && colours != -1) {
        c.out += "\x1b[0m";  // the line is erased in the terminal's own colours
        colours = -1;
      }
      c.out += "\x1b[K";
      c.device_x = 0;
      c.device_y = y;
      c.wrap_pending = false;
      paint_row(c, y, &colours);
    }
  }
  if (modes.colours_set) append_colours(c, c.foreground, c.background);
  if (!c.cursor_visible) c.out += "\x1b[?25l";
  if (!c.deferred) move_device(c, c.x, c.y);
  finish_output(c);
}

// ---------------------------------------------------------------------------
// Printing.

bool printer_write(TextWindowPrinter* p, const uint8_t* bytes, int32_t length) {
  Console& c = *static_cast<Console*>(p->data);
  if (!c.ansi) return true;  // the bytes went out as they were
  store_cells(c, p->x, p->y, bytes, length);
  move_device(c, p->x, p->y);
  for (int32_t i = 0; i < length; ++i) append_char(c, bytes[i]);
  advance_device(c, length);
  return true;
}

// A terminal scrolls when a line feed is written on its bottom row.
void printer_scroll(TextWindowPrinter* p, int32_t rows) {
  Console& c = *static_cast<Console*>(p->data);
  if (!c.ansi || rows <= 0) return;
  if (rows > p->bottom + 1) rows = p->bottom + 1;
  scroll_cells(c, rows, p->bottom);
  c.line_top = std::max(c.line_top - rows, -1);  // above the window once scrolled away
  move_device(c, c.wrap_pending ? 0 : c.device_x, p->bottom);
  if (c.device_x != 0) c.out.push_back('\r');
  c.out.append(static_cast<size_t>(rows), '\n');
  c.device_x = 0;
  c.device_y = p->bottom;
}

void printer_bell(TextWindowPrinter* p) {
  Console& c = *static_cast<Console*>(p->data);
  if (c.ansi) c.out.push_back('\a');
}

// No escape sequences: the bytes as printed. A terminal still rings the bell.
void pass_through(Console& c, const uint8_t* text, int32_t length) {
  for (int32_t i = 0; i < length; ++i) {
    uint8_t b = text[i];
    if (b == 7) {
      if (c.out_tty) c.out.push_back('\a');
      continue;
    }
    if (b == 8 || b == 9 || b == 10 || b == 13)
      c.out.push_back(static_cast<char>(b));
    else
      append_char(c, b);
  }
}

}  // namespace

void console_print_buffer(const uint8_t* text, int32_t length, int32_t flags) {
  Console& c = ready_state();
  if (!text || length < 0) length = 0;
  if (length == 0 && !(flags & 8)) return;
  int32_t columns = 0, rows = 0;
  console_window_of(c, &columns, &rows);
  if (c.ansi) size_cells(c, columns, rows);
  // Without sequences the printer only tracks the cursor.
  if (!c.ansi) pass_through(c, text, length);
  TextWindowPrinter p{};
  p.data = &c;
  p.write = printer_write;
  p.scroll = printer_scroll;
  p.bell = printer_bell;
  console_print_from_cursor(c, p, columns, rows, text, length);
  if (c.ansi && !c.deferred) move_device(c, c.x, c.y);
  finish_output(c);
}

void console_clear_screen(int32_t mode) {
  Console& c = ready_state();
  if (mode == 1) return;  // the graphics viewport; a text console has none
  console_home(c);
  if (!c.ansi) return;
  c.out += "\x1b[H\x1b[2J";
  c.device_x = c.device_y = 0;
  c.wrap_pending = false;
  int32_t columns = 0, rows = 0;
  screen_size(c, &columns, &rows);
  size_cells(c, columns, rows);
  std::fill(c.cells.begin(), c.cells.end(), blank_cell(c));  // the terminal clears in the background colour
  c.screen_known = true;
  c.line_top = 0;
  finish_output(c);
}

int32_t console_colour(int32_t foreground, int32_t background, int32_t flags) {
  Console& c = ready_state();
  int32_t previous = console_colour_of(c, foreground, background, flags);
  if (c.ansi && (flags & 0x03) != 0x03) {
    append_colours(c, c.foreground, c.background);
    modes.colours_set = 1;
    finish_output(c);
  }
  return previous;
}

int32_t console_locate(int32_t row, int32_t column, int32_t visibility) {
  Console& c = ready_state();
  int32_t previous = console_locate_of(c, row, column);
  bool moved = row >= 1 || column >= 1;
  if (c.ansi && moved) move_device(c, c.x, c.y);
  if (visibility == 0 && c.cursor_visible) {
    c.cursor_visible = false;
    if (c.ansi) {
      c.out += "\x1b[?25l";
      modes.cursor_hidden = 1;
    }
  } else if (visibility == 1 && !c.cursor_visible) {
    c.cursor_visible = true;
    if (c.ansi) c.out += "\x1b[?25h";
  }
  finish_output(c);
  return previous;
}

// ---------------------------------------------------------------------------
// Input.

namespace {

int64_t elapsed_ms(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since)
      .count();
}

void decode(Console& c, const uint8_t* bytes, ssize_t count) {
  int32_t keys[DECODED_KEYS_MAX];
  for (ssize_t i = 0; i < count; ++i) {
    int32_t n = c.decoder.feed(bytes[i], keys);
    for (int32_t k = 0; k < n; ++k) c.keys.push_back(keys[k]);
  }
  c.last_byte = std::chrono::steady_clock::now();
}

// An unfinished sequence with no byte after it for the time-out becomes its keys.
void expire_sequence(Console& c) {
  if (!c.decoder.pending()) return;
  if (!c.input_ended && elapsed_ms(c.last_byte) < ESCAPE_TIME_OUT_MS) return;
  int32_t keys[DECODED_KEYS_MAX];
  int32_t n = c.decoder.time_out(keys);
  for (int32_t k = 0; k < n; ++k) c.keys.push_back(keys[k]);
}

// Takes what the terminal has sent, waiting up to the time (-1: no limit).
void read_terminal(Console& c, int32_t timeout_ms) {
  pollfd p{STDIN_FILENO, POLLIN, 0};
  int r = poll(&p, 1, timeout_ms);
  if (r < 0) {
    if (errno != EINTR && errno != EAGAIN) c.input_ended = true;
    return;
  }
  if (r == 0) return;
  if (p.revents & POLLIN) {
    uint8_t buffer[READ_CHUNK];
    ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n > 0) {
      decode(c, buffer, n);
      return;
    }
    if (n == 0 || (errno != EINTR && errno != EAGAIN)) c.input_ended = true;
    return;
  }
  if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) c.input_ended = true;
}

// Waits until a key is decoded, for at most the time (-1: no limit, 0: only what
// has arrived). False when none came or the terminal's input has ended.
bool wait_for_key(Console& c, int32_t timeout_ms) {
  auto start = std::chrono::steady_clock::now();
  for (;;) {
    if (modes.resumed) draw_again(c);  // continued after a stop while waiting
    if (!c.keys.empty()) return true;
    expire_sequence(c);
    if (!c.keys.empty()) return true;
    if (c.input_ended) return false;
    int64_t wait = -1;
    if (timeout_ms >= 0) {
      wait = timeout_ms - elapsed_ms(start);
      if (wait < 0) wait = 0;
    }
    if (c.decoder.pending()) {
      int64_t left = ESCAPE_TIME_OUT_MS - elapsed_ms(c.last_byte);
      if (left < 0) left = 0;
      if (wait < 0 || left < wait) wait = left;
    }
    read_terminal(c, static_cast<int32_t>(wait));
    if (!c.keys.empty()) return true;
    if (timeout_ms >= 0 && elapsed_ms(start) >= timeout_ms) {
      expire_sequence(c);
      return !c.keys.empty();
    }
  }
}

bool stdin_has_data() {
#if defined(__GLIBC__)
  if (stdin->_IO_read_ptr < stdin->_IO_read_end) return true;  // already buffered
#endif
  pollfd p{STDIN_FILENO, POLLIN, 0};
  return poll(&p, 1, 0) > 0;  // data, end of input or a bad descriptor: getc will not block
}

}  // namespace

StringDesc* console_inkey() {
  Console& c = ready_state();
  int32_t code = 0;
  if (c.in_tty) {
    RawSession raw;
    flush_pending();  // in raw mode already: a key pressed on seeing the output is not echoed
    if (wait_for_key(c, 0))
      code = console_pop_key(c.keys);
    else if (c.input_ended && c.in_line_input)
      code = 13;  // the end of the input finishes the line being edited
  } else {
    code = console_redirected_inkey(c, stdin_has_data);
  }
  return console_key_string(code);
}

int32_t console_get_key() {
  Console& c = ready_state();
  if (c.in_tty) {
    RawSession raw;
    flush_pending();
    return wait_for_key(c, -1) ? console_pop_key(c.keys) : 13;
  }
  if (!stdin_has_data()) flush_pending();
  return console_redirected_get_key(c, stdin_has_data);
}

int32_t console_key_hit(int32_t) {
  Console& c = ready_state();
  if (!c.in_tty) return 1;  // redirected input is always "waiting"; nothing is consumed
  RawSession raw;
  flush_pending();
  return wait_for_key(c, 0) || c.input_ended ? 1 : 0;
}

void console_sleep(int32_t milliseconds) {
  Console& c = ready_state();
  if (milliseconds < -1) return;
  if (milliseconds != -1 && milliseconds < 100) {
    if (milliseconds > 0) flush_pending();
    sleep_ms(milliseconds);
    return;
  }
  if (!c.in_tty) return;  // key hit answers "waiting": the pause is over at once
  // A pause counts only a key pressed after it began, and takes that key: so one
  // press passes one pause, and nothing typed at a pause is left for the shell.
  // Earlier keys are dropped before raw mode is entered, so that a key pressed
  // once the terminal shows raw mode is never lost; held-back output goes out only
  // then, so that a key pressed on seeing it counts too.
  while (tcflush(STDIN_FILENO, TCIFLUSH) != 0 && errno == EINTR) {
  }
  c.keys.clear();
  c.decoder.reset();
  RawSession raw;
  flush_pending();
  if (wait_for_key(c, milliseconds)) console_pop_key(c.keys);
}

int32_t console_is_redirected(int32_t) {
  Console& c = ready_state();
  if (c.in_tty) return 0;
  // The runtime reads standard input next, which waits when nothing is ready.
  if (!stdin_has_data()) flush_pending();
  return 1;
}

int32_t console_line_input(StringDesc* prompt, StringDesc* dest, int32_t dest_length, int32_t fill,
                           int32_t question, int32_t line_end) {
  Console& c = ready_state();
  RawSession raw;  // for the whole line: keys typed between two polls are not echoed
  int32_t outer_top = c.line_top;
  // The prompt starts on the cursor's row, or on the next one when a wrap is
  // pending (a scroll then brings that row up like any other).
  int32_t columns = 0, rows = 0;
  console_window_of(c, &columns, &rows);
  c.line_top = c.deferred ? c.y + 1 : c.y;
  int32_t result = console_line_input_of(c, prompt, dest, dest_length, fill, question, line_end);
  c.line_top = outer_top;
  return result;
}

char* console_read_string(char* buffer, int32_t length) {
  ready_state();
  RawSession raw;
  return console_read_line(console_get_key, console_print_buffer, buffer, length);
}

const ConsoleHooks& text_console_hooks() { return console_hooks<ready_state>(); }

void console_reset() {
  flush_pending();
  console_restore_terminal();
  modes.raw_depth = 0;
  modes.handlers_installed = false;  // the dispositions are looked at again
  modes.resumed = 0;
  pending.broken = 0;
  state() = Console{};
}

void console_flush() { flush_pending(); }

void console_release_own_window() {}

void console_restore_terminal() {
  restore_modes();
  restore_visuals();
  modes.cursor_hidden = 0;
  modes.colours_set = 0;
}

}  // namespace zv
