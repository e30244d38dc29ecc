// The text console backend on a POSIX terminal: the implementation of every
// console hook when no graphics screen is open.
//
// Output runs through the shared text-window printer. The backend tracks the
// cursor itself and wraps at the terminal width. On a terminal the cursor moves,
// clears, colours and cursor visibility are ANSI sequences and the bytes go out as
// UTF-8. Standard output that is not a terminal gets no sequences at all: the
// printed bytes are passed on as they are (the bell dropped), converted to UTF-8
// when the locale's character set is UTF-8 and left as code page 437 otherwise, so
// a captured transcript holds exactly what the program printed.
//
// Input from a terminal is read in raw mode (non-canonical, no echo) only while a
// key is being read; the modes are put back at once afterwards, at exit and on the
// signals that end or stop the process. Keys typed meanwhile wait in the terminal
// driver or, once decoded, in the backend's own queue. A pause takes the one key
// pressed after it began. Redirected standard input never blocks at its end.
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "console/console.h"
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

// What the signal handlers and the exit handler need: plain data only, valid
// before any constructor has run and after every destructor.
struct TerminalModes {
  termios saved;  // the modes before raw mode
  termios raw;
  volatile sig_atomic_t raw_active;     // raw modes are set (or being set)
  volatile sig_atomic_t cursor_hidden;  // the program hid the terminal's cursor
  volatile sig_atomic_t colours_set;    // the program changed the terminal's colours
  int raw_depth;                        // nesting of raw sessions
  bool handlers_installed;
};
TerminalModes modes;

struct Console {
  bool ready = false;
  bool out_tty = false, in_tty = false;
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
  int32_t terminal_columns = DEFAULT_COLUMNS;
  std::string out;  // output gathered by the current operation
  bool output_broken = false;
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

void on_signal(int sig) {
  int saved_errno = errno;
  if (sig == SIGCONT) {
    // Back from a stop: the shell has put its own modes back.
    if (modes.raw_active) apply_modes(modes.raw);
    if (modes.cursor_hidden) write_sequence_raw("\x1b[?25l", 6);
    errno = saved_errno;
    return;
  }
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

void restore_at_exit() { console_restore_terminal(); }

// Installs the handlers once per process; a signal the program has given its own
// disposition (or ignores) is left alone.
void install_handlers() {
  if (modes.handlers_installed) return;
  modes.handlers_installed = true;
  std::atexit(restore_at_exit);
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

bool locale_is_utf8() {
  // Asked of a locale object of its own, so the program's locale stays untouched.
  locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
  if (!loc) return false;
  const char* codeset = nl_langinfo_l(CODESET, loc);
  bool utf8 = codeset && (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0);
  freelocale(loc);
  return utf8;
}

void screen_size(Console& c, int32_t* columns, int32_t* rows);

Console& ready_state() {
  Console& c = state();
  if (c.ready) return c;
  c.ready = true;
  c.out_tty = isatty(STDOUT_FILENO) != 0;
  c.in_tty = isatty(STDIN_FILENO) != 0;
  // Terminals are taken to speak UTF-8 whatever the locale says.
  c.utf8 = c.out_tty || locale_is_utf8();
  c.decoder.set_utf8(c.utf8);
  if (c.out_tty || c.in_tty) install_handlers();
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
  int32_t w = c.requested_columns > 0 ? c.requested_columns : tc;
  int32_t h = c.requested_rows > 0 ? c.requested_rows : tr;
  if (c.out_tty) {
    if (w > tc) w = tc;
    h = tr;
  }
  *columns = w;
  *rows = h;
}

void clamp_cursor(Console& c, int32_t columns, int32_t rows) {
  if (c.x >= columns) c.x = columns - 1;
  if (c.y >= rows) c.y = rows - 1;
  if (c.x < 0) c.x = 0;
  if (c.y < 0) c.y = 0;
  if (c.device_y >= rows) c.device_y = rows - 1;
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

void flush_output(Console& c) {
  if (c.out.empty()) return;
  if (!c.output_broken) {
    std::fflush(stdout);  // keeps order with anything printed through the C streams
    if (!write_all(c.out.data(), c.out.size())) c.output_broken = true;
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

// Moves the terminal's cursor to the cell, relative to where it is.
void move_device(Console& c, int32_t to_x, int32_t to_y) {
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

bool printer_write(TextWindowPrinter* p, const uint8_t* bytes, int32_t length) {
  Console& c = *static_cast<Console*>(p->data);
  if (!c.out_tty) return true;  // the bytes went out as they were
  move_device(c, p->x, p->y);
  for (int32_t i = 0; i < length; ++i) append_char(c, bytes[i]);
  c.device_x += length;
  if (c.device_x >= c.terminal_columns) {
    c.device_x = c.terminal_columns - 1;
    c.wrap_pending = true;
  }
  return true;
}

// A terminal scrolls when a line feed is written on its bottom row.
void printer_scroll(TextWindowPrinter* p, int32_t rows) {
  Console& c = *static_cast<Console*>(p->data);
  if (!c.out_tty || rows <= 0) return;
  if (rows > p->bottom + 1) rows = p->bottom + 1;
  move_device(c, c.wrap_pending ? 0 : c.device_x, p->bottom);
  if (c.device_x != 0) c.out.push_back('\r');
  c.out.append(static_cast<size_t>(rows), '\n');
  c.device_x = 0;
  c.device_y = p->bottom;
}

void printer_bell(TextWindowPrinter* p) {
  Console& c = *static_cast<Console*>(p->data);
  if (c.out_tty) c.out.push_back('\a');
}

// Standard output that is not a terminal: the bytes as printed.
void pass_through(Console& c, const uint8_t* text, int32_t length) {
  for (int32_t i = 0; i < length; ++i) {
    uint8_t b = text[i];
    if (b == 7) continue;
    if (b == 8 || b == 9 || b == 10 || b == 13)
      c.out.push_back(static_cast<char>(b));
    else
      append_char(c, b);
  }
}

void console_print_buffer(const uint8_t* text, int32_t length, int32_t flags) {
  Console& c = ready_state();
  if (!text || length < 0) length = 0;
  if (length == 0 && !(flags & 8)) return;
  int32_t columns = 0, rows = 0;
  screen_size(c, &columns, &rows);
  clamp_cursor(c, columns, rows);

  TextWindowPrinter p{};
  p.data = &c;
  p.write = printer_write;
  p.scroll = printer_scroll;
  p.bell = printer_bell;
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
    ++p.y;
    if (p.y > p.bottom) {
      printer_scroll(&p, p.y - p.bottom);
      p.y = p.bottom;
    }
  }
  if (!c.out_tty) pass_through(c, text, length);
  run_text_window_printer(p, text, length);
  if (p.x == p.left && p.y == p.bottom + 1) {
    // Ended exactly on the bottom-right cell: no scroll until more is printed.
    c.deferred = true;
    p.x = p.right;
    p.y = p.bottom;
  } else if (p.y > p.bottom) {
    printer_scroll(&p, p.y - p.bottom);
    p.y = p.bottom;
  }
  if (p.x >= 0) c.x = p.x;
  if (p.y >= 0) c.y = p.y;
  if (c.out_tty && !c.deferred) move_device(c, c.x, c.y);
  flush_output(c);
}

void console_print_buffer_wide(const uint16_t* text, int32_t length, int32_t flags) {
  std::vector<uint8_t> bytes;
  for (int32_t i = 0; text && i < length; ++i) {
    uint16_t u = text[i];
    if (u < 256) {
      bytes.push_back(static_cast<uint8_t>(u));
      continue;
    }
    bytes.push_back('?');
    if (u >= 0xD800 && u <= 0xDBFF) ++i;  // the pair gives one character
  }
  console_print_buffer(bytes.data(), static_cast<int32_t>(bytes.size()), flags);
}

void console_clear_screen(int32_t mode) {
  Console& c = ready_state();
  if (mode == 1) return;  // the graphics viewport; a text console has none
  c.x = c.y = 0;
  c.deferred = false;
  if (!c.out_tty) return;
  c.out += "\x1b[H\x1b[2J";
  c.device_x = c.device_y = 0;
  c.wrap_pending = false;
  flush_output(c);
}

int32_t console_colour(int32_t foreground, int32_t background, int32_t flags) {
  Console& c = ready_state();
  int32_t previous = c.background * 65536 + c.foreground;
  if (!(flags & 0x01)) c.foreground = foreground & 15;
  if (!(flags & 0x02)) c.background = background & 15;
  if (c.out_tty && (flags & 0x03) != 0x03) {
    // The PC's colour order (blue before red) against the terminal's.
    static constexpr int ansi[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    int fg = c.foreground < 8 ? 30 + ansi[c.foreground] : 90 + ansi[c.foreground - 8];
    int bg = c.background < 8 ? 40 + ansi[c.background] : 100 + ansi[c.background - 8];
    c.out += "\x1b[" + std::to_string(fg) + ";" + std::to_string(bg) + "m";
    modes.colours_set = 1;
    flush_output(c);
  }
  return previous;
}

int32_t console_locate(int32_t row, int32_t column, int32_t visibility) {
  Console& c = ready_state();
  int32_t previous = (c.cursor_visible ? 0x10000 : 0) | ((c.y & 0xFF) << 8) | (c.x & 0xFF);
  int32_t columns = 0, rows = 0;
  screen_size(c, &columns, &rows);
  clamp_cursor(c, columns, rows);
  bool moved = row >= 1 || column >= 1;
  if (row >= 1) c.y = (row < rows ? row : rows) - 1;
  if (column >= 1) c.x = (column < columns ? column : columns) - 1;
  c.deferred = false;
  if (c.out_tty && moved) move_device(c, c.x, c.y);
  if (visibility == 0 && c.cursor_visible) {
    c.cursor_visible = false;
    if (c.out_tty) {
      c.out += "\x1b[?25l";
      modes.cursor_hidden = 1;
    }
  } else if (visibility == 1 && !c.cursor_visible) {
    c.cursor_visible = true;
    if (c.out_tty) c.out += "\x1b[?25h";
  }
  flush_output(c);
  return previous;
}

int32_t console_width(int32_t columns, int32_t rows) {
  Console& c = ready_state();
  int32_t w = 0, h = 0;
  screen_size(c, &w, &h);
  if (columns > 0) c.requested_columns = columns;
  if (rows > 0) c.requested_rows = rows;
  return w | (h << 16);
}

int32_t console_get_column() { return ready_state().x + 1; }
int32_t console_get_row() { return ready_state().y + 1; }

void console_get_position(int32_t* column, int32_t* row) {
  Console& c = ready_state();
  if (column) *column = c.x + 1;
  if (row) *row = c.y + 1;
}

void console_get_size(int32_t* columns, int32_t* rows) {
  Console& c = ready_state();
  int32_t w = 0, h = 0;
  screen_size(c, &w, &h);
  if (columns) *columns = w;
  if (rows) *rows = h;
}

// ---------------------------------------------------------------------------
// Input.

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

int32_t pop_key(Console& c) {
  int32_t code = c.keys.front();
  c.keys.pop_front();
  return code;
}

bool stdin_has_data() {
#if defined(__GLIBC__)
  if (stdin->_IO_read_ptr < stdin->_IO_read_end) return true;  // already buffered
#endif
  pollfd p{STDIN_FILENO, POLLIN, 0};
  return poll(&p, 1, 0) > 0;  // data, end of input or a bad descriptor: getc will not block
}

// The next byte of redirected standard input as a key code; -1 at its end, -2 when
// nothing is waiting (only without wait). Each line end is one Enter (13).
int32_t redirected_key(Console& c, bool wait) {
  for (;;) {
    if (!wait && !stdin_has_data()) return -2;
    int ch = std::getc(stdin);
    if (ch == EOF) {
      if (std::ferror(stdin) && errno == EINTR) {
        std::clearerr(stdin);
        continue;
      }
      return -1;
    }
    bool after_cr = c.after_cr;
    c.after_cr = ch == '\r';
    if (ch == '\n') {
      if (after_cr) continue;
      return 13;
    }
    if (ch == 0) continue;
    return ch;
  }
}

StringDesc* key_string(int32_t code) {
  if (code <= 0) return temp_from_literal("", 0);
  char bytes[2];
  if (code >= 256) {
    bytes[0] = static_cast<char>(255);
    bytes[1] = static_cast<char>((code >> 8) & 0xFF);
    return temp_from_copy(bytes, 2);
  }
  bytes[0] = static_cast<char>(code);
  return temp_from_copy(bytes, 1);
}

StringDesc* console_inkey() {
  Console& c = ready_state();
  int32_t code = 0;
  if (c.in_tty) {
    RawSession raw;
    if (wait_for_key(c, 0))
      code = pop_key(c);
    else if (c.input_ended && c.in_line_input)
      code = 13;  // the end of the input finishes the line being edited
  } else {
    int32_t k = redirected_key(c, false);
    if (k > 0)
      code = k;
    else if (k == -1 && c.in_line_input)
      code = 13;
  }
  return key_string(code);
}

int32_t console_get_key() {
  Console& c = ready_state();
  if (c.in_tty) {
    RawSession raw;
    return wait_for_key(c, -1) ? pop_key(c) : 13;
  }
  int32_t k = redirected_key(c, true);
  return k > 0 ? k : 13;
}

int32_t console_key_hit(int32_t) {
  Console& c = ready_state();
  if (!c.in_tty) return 1;  // redirected input is always "waiting"; nothing is consumed
  RawSession raw;
  return wait_for_key(c, 0) || c.input_ended ? 1 : 0;
}

void console_sleep(int32_t milliseconds) {
  Console& c = ready_state();
  if (milliseconds < -1) return;
  if (milliseconds != -1 && milliseconds < 100) {
    sleep_ms(milliseconds);
    return;
  }
  if (!c.in_tty) return;  // key hit answers "waiting": the pause is over at once
  // A pause counts only a key pressed after it began, and takes that key: so one
  // press passes one pause, and nothing typed at a pause is left for the shell.
  // Earlier keys are dropped before raw mode is entered, so that a key pressed
  // once the terminal shows raw mode is never lost.
  while (tcflush(STDIN_FILENO, TCIFLUSH) != 0 && errno == EINTR) {
  }
  c.keys.clear();
  c.decoder.reset();
  RawSession raw;
  if (wait_for_key(c, milliseconds)) pop_key(c);
}

int32_t console_is_redirected(int32_t) { return ready_state().in_tty ? 0 : 1; }

int32_t console_line_input(StringDesc* prompt, StringDesc* dest, int32_t dest_length, int32_t fill,
                           int32_t question, int32_t line_end) {
  Console& c = ready_state();
  RawSession raw;  // for the whole line: keys typed between two polls are not echoed
  bool outer = c.in_line_input;
  c.in_line_input = true;
  int32_t result = line_input_sequence(prompt, dest, dest_length, fill, question, line_end, 0);
  c.in_line_input = outer;
  return result;
}

int32_t console_line_input_wide(StringDesc* prompt, StringDesc* dest, int32_t dest_length, int32_t fill,
                                int32_t question, int32_t line_end) {
  return wide_line_input(console_line_input, prompt, dest, dest_length, fill, question, line_end);
}

// A plain line reader: keys echoed, Backspace takes one back, Enter ends the line
// (and is stored in front of the terminating zero when there is room).
char* console_read_string(char* buffer, int32_t length) {
  if (!buffer) return nullptr;
  if (length <= 0) return buffer;
  ready_state();
  RawSession raw;
  int32_t n = 0;
  for (;;) {
    int32_t k = console_get_key();
    if (k > 255 || k <= 0 || k == 7) continue;
    if (k == 8) {
      if (n > 0) {
        --n;
        console_print_buffer(reinterpret_cast<const uint8_t*>("\b \b"), 3, 0);
      }
      continue;
    }
    if (n < length - 1) {
      buffer[n++] = static_cast<char>(k);
      uint8_t b = static_cast<uint8_t>(k);
      console_print_buffer(&b, 1, 0);
    }
    if (k == 13) break;
  }
  buffer[n] = '\0';
  return buffer;
}

int32_t console_key_state(int32_t) { return 0; }

int32_t console_get_mouse(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip) {
  for (int32_t* out : {x, y, wheel, buttons, clip})
    if (out) *out = -1;
  return 1;
}

int32_t console_set_mouse(int32_t, int32_t, int32_t, int32_t) { return 1; }
int32_t console_port_in(int32_t) { return -1; }
int32_t console_port_out(int32_t, int32_t) { return -1; }
void console_view_update() {}
int32_t console_read_screen_cell(int32_t, int32_t, int32_t) { return 0; }  // no cell shadow is kept

// One page: 0 (or -1 for the current one).
int32_t console_copy_page(int32_t source, int32_t destination) {
  bool ok = (source == 0 || source == -1) && (destination == 0 || destination == -1);
  return ok ? 0 : 1;
}

int32_t console_set_pages(int32_t, int32_t) { return 0; }

}  // namespace

const ConsoleHooks& text_console_hooks() {
  static const ConsoleHooks hooks = {
      console_inkey,           console_get_key,         console_key_hit,
      console_clear_screen,    console_colour,          console_locate,
      console_width,           console_get_column,      console_get_row,
      console_get_position,    console_get_size,        console_print_buffer,
      console_print_buffer_wide, console_read_string,   console_key_state,
      console_get_mouse,       console_set_mouse,       console_port_in,
      console_port_out,        console_view_update,     console_line_input,
      console_line_input_wide, console_read_screen_cell, console_sleep,
      console_is_redirected,   console_copy_page,       console_set_pages,
  };
  return hooks;
}

void console_reset() {
  console_restore_terminal();
  modes.raw_depth = 0;
  state() = Console{};
}

void console_restore_terminal() {
  restore_modes();
  restore_visuals();
  modes.cursor_hidden = 0;
  modes.colours_set = 0;
}

}  // namespace zv
