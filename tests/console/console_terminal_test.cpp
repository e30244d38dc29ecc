// The text console backend on a pseudo-terminal: a forked child runs the console
// with the terminal as its standard streams while the test types keys and reads the
// screen. Checks the line editor's keys, the pause rule (one key pressed after the
// pause began, taken out of the input; type-ahead kept for a line input), UTF-8 and
// escape sequences (none for TERM=dumb), that the terminal's modes are always given
// back, also when a signal ends the program in the middle of a raw read, and that a
// stop and continue during entry draws the screen again with the cursor in place.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "console/console.h"
#include "runtime/hooks.h"
#include "runtime/input.h"
#include "runtime/runtime.h"
#include "runtime/statements.h"
#include "runtime/strings.h"
#include "tests/support/files.h"

namespace zv {
namespace {

using test::write_text;

constexpr int WAIT_MS = 20000;  // generous: only a broken program gets near it

bool same_modes(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

// Child side: a line on the terminal, written past the console (the terminal's
// output processing turns the line feed into CR LF).
void report(const std::string& text) { write_text(STDOUT_FILENO, text + "\n"); }

class TerminalChild {
 public:
  ~TerminalChild() {
    if (worker_ > 0) kill(worker_, SIGKILL);
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {master_, slave_, sync_read_, sync_write_, jobs_})
      if (fd >= 0) close(fd);
  }

  // Forks a child whose standard streams and controlling terminal are a new
  // pseudo-terminal; the child resets the runtime, runs the body and exits with
  // its result (through exit when exit_normally, so the exit handlers run).
  // With job_control the body runs in a job of its own, in the terminal's
  // foreground, under the child as a small shell that reports the job's stops and
  // ends with its status; only such a job can be stopped (a process group without
  // a parent in its session is not), and pid() is then the job's.
  bool start(const std::function<int(int go)>& body, bool exit_normally = false, bool job_control = false) {
    winsize ws{};
    ws.ws_col = 80;
    ws.ws_row = 25;
    if (openpty(&master_, &slave_, nullptr, nullptr, &ws) != 0) return false;
    int sync[2], jobs[2];
    if (pipe(sync) != 0 || pipe(jobs) != 0) return false;
    sync_read_ = sync[0];
    sync_write_ = sync[1];
    if (tcgetattr(slave_, &before_) != 0) return false;
    std::fflush(stdout);
    std::fflush(stderr);
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      close(master_);
      close(sync_write_);
      close(jobs[0]);
      if (login_tty(slave_) != 0) _exit(90);
      if (job_control) run_job(jobs[1]);
      close(jobs[1]);
      runtime_exit();
      runtime_constructor();
      int result = body(sync_read_);
      if (exit_normally) std::exit(result);
      _exit(result);
    }
    close(sync_read_);
    sync_read_ = -1;
    close(jobs[1]);
    jobs_ = jobs[0];
    if (job_control && !read_job_word(&worker_, sizeof worker_)) return false;
    return true;
  }

  // The job's next stop ('S') or continue ('C'), as the shell reports them.
  bool wait_for_job(char event) {
    char c = 0;
    while (read_job_word(&c, 1))
      if (c == event) return true;
    return false;
  }

  // Writes on the terminal's screen the way another program (a shell) does.
  void show(const std::string& text) { write_text(slave_, text); }

  // The test lets the child go on; the child waits for it with wait_for_go on the
  // descriptor its body was given.
  void let_go() { write_text(sync_write_, "g"); }
  static void wait_for_go(int fd) {
    char c;
    while (read(fd, &c, 1) < 0 && errno == EINTR) {
    }
  }

  void type(const std::string& keys) { write_text(master_, keys); }

  // Reads the screen until the text appears after the last match (true), or the
  // time runs out (false).
  bool wait_for(const std::string& text, int timeout_ms = WAIT_MS) {
    auto start = std::chrono::steady_clock::now();
    for (;;) {
      size_t at = screen_.find(text, mark_);
      if (at != std::string::npos) {
        mark_ = at + text.size();
        return true;
      }
      int left = timeout_ms - static_cast<int>(elapsed(start));
      if (left <= 0) return false;
      read_screen(left);
    }
  }

  // Reads whatever arrives within the time.
  void drain(int timeout_ms) {
    auto start = std::chrono::steady_clock::now();
    int left;
    while ((left = timeout_ms - static_cast<int>(elapsed(start))) > 0) read_screen(left);
  }

  bool terminal_is_raw() {
    termios t{};
    return tcgetattr(slave_, &t) == 0 && !(t.c_lflag & ICANON) && !(t.c_lflag & ECHO);
  }

  // Waits until the terminal's modes are raw (or back to cooked).
  bool wait_for_modes(bool raw) {
    auto start = std::chrono::steady_clock::now();
    while (elapsed(start) < WAIT_MS) {
      if (terminal_is_raw() == raw) return true;
      read_screen(5);
    }
    return false;
  }

  // Waits for the child to end, reading the screen meanwhile; the wait status.
  int finish() {
    int status = -1;
    auto start = std::chrono::steady_clock::now();
    while (elapsed(start) < WAIT_MS) {
      pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        pid_ = -1;
        drain(50);
        return status;
      }
      read_screen(10);
    }
    return -1;
  }

  bool modes_as_before() {
    termios after{};
    return tcgetattr(slave_, &after) == 0 && same_modes(before_, after);
  }

  pid_t pid() const { return worker_ > 0 ? worker_ : pid_; }
  const std::string& screen() const { return screen_; }
  std::string since_mark() const { return screen_.substr(mark_); }

 private:
  static int64_t elapsed(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since)
        .count();
  }

  // The shell's part, in the child: the job gets its own process group and the
  // terminal's foreground; its pid goes to the test, then every stop and continue.
  static void run_job(int jobs) {
    int ready[2];
    if (pipe(ready) != 0) _exit(91);
    pid_t worker = fork();
    if (worker < 0) _exit(91);
    if (worker == 0) {
      close(ready[1]);
      setpgid(0, 0);
      char c;
      while (read(ready[0], &c, 1) < 0 && errno == EINTR) {
      }
      close(ready[0]);
      return;  // the job runs the body
    }
    close(ready[0]);
    setpgid(worker, worker);
    signal(SIGTTOU, SIG_IGN);  // the shell is in the background from here on
    tcsetpgrp(STDIN_FILENO, worker);
    write_text(ready[1], "g");
    close(ready[1]);
    write_text(jobs, std::string(reinterpret_cast<const char*>(&worker), sizeof worker));
    for (;;) {
      int status = 0;
      if (waitpid(worker, &status, WUNTRACED | WCONTINUED) < 0) {
        if (errno == EINTR) continue;
        _exit(92);
      }
      if (WIFSTOPPED(status)) write_text(jobs, "S");
      if (WIFCONTINUED(status)) write_text(jobs, "C");
      if (WIFEXITED(status)) _exit(WEXITSTATUS(status));
      if (WIFSIGNALED(status)) _exit(128 + WTERMSIG(status));
    }
  }

  bool read_job_word(void* word, size_t size) {
    auto* bytes = static_cast<char*>(word);
    size_t done = 0;
    auto start = std::chrono::steady_clock::now();
    while (done < size && elapsed(start) < WAIT_MS) {
      pollfd p{jobs_, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) {
        read_screen(0);  // keeps the terminal's output flowing
        continue;
      }
      ssize_t n = read(jobs_, bytes + done, size - done);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return done == size;
  }

  void read_screen(int timeout_ms) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return;
    char buffer[1024];
    ssize_t n = read(master_, buffer, sizeof buffer);
    if (n > 0) screen_.append(buffer, static_cast<size_t>(n));
  }

  int master_ = -1, slave_ = -1, sync_read_ = -1, sync_write_ = -1, jobs_ = -1;
  pid_t pid_ = -1, worker_ = -1;
  termios before_{};
  std::string screen_;
  size_t mark_ = 0;
};

TEST(ConsoleTerminal, LineEditorReadsTheCoefficient) {
  TerminalChild child;
  ASSERT_TRUE(child.start([](int) {
    input_prompt(temp_from_literal("    a11=", 8), -1, -1);
    double value = 0;
    input_double(&value);
    char text[64];
    std::snprintf(text, sizeof text, "VALUE=%.17g", value);
    report(text);
    return 0;
  }));
  ASSERT_TRUE(child.wait_for("    a11=? ")) << child.screen();
  EXPECT_TRUE(child.terminal_is_raw());  // while the line is edited
  child.type("12");
  child.type("\x1b[D");
  child.type("3");
  child.type("\r");
  ASSERT_TRUE(child.wait_for("VALUE=")) << child.screen();
  ASSERT_TRUE(child.wait_for("\r\n")) << child.screen();
  int status = child.finish();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  std::string screen = child.screen();
  EXPECT_NE(screen.find("VALUE=132\r\n"), std::string::npos) << screen;
  EXPECT_TRUE(child.modes_as_before());
}

int read_value_and_report() {
  double value = -1;
  input_double(&value);
  char text[64];
  std::snprintf(text, sizeof text, "VALUE=%.17g", value);
  report(text);
  return 0;
}

TEST(ConsoleTerminal, APauseTakesOneKeyPressedAfterItBegan) {
  TerminalChild child;
  ASSERT_TRUE(child.start([](int go) {
    report("READY");
    TerminalChild::wait_for_go(go);
    sleep_statement(-1);
    report("AFTER");
    TerminalChild::wait_for_go(go);
    input_prompt(temp_from_literal("n=", 2), -1, -1);
    return read_value_and_report();
  }));
  ASSERT_TRUE(child.wait_for("READY\r\n")) << child.screen();
  // A key typed before the pause: the cooked terminal echoes it once it holds it.
  child.type("x");
  ASSERT_TRUE(child.wait_for("x")) << child.screen();
  child.let_go();
  ASSERT_TRUE(child.wait_for_modes(true));
  child.drain(300);
  EXPECT_EQ(child.since_mark().find("AFTER"), std::string::npos) << "the earlier key passed the pause";
  child.type("y");
  ASSERT_TRUE(child.wait_for("AFTER\r\n")) << child.screen();
  ASSERT_TRUE(child.wait_for_modes(false));  // given back right after the pause
  // Typed ahead of a line input: kept for the editor. Had the pause left its key
  // (or the earlier one) in the input, the line would not be "7".
  child.type("7");
  ASSERT_TRUE(child.wait_for("7")) << child.screen();
  child.let_go();
  ASSERT_TRUE(child.wait_for("n=? ")) << child.screen();
  child.type("\r");
  ASSERT_TRUE(child.wait_for("VALUE=")) << child.screen();
  int status = child.finish();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_NE(child.screen().find("VALUE=7\r\n"), std::string::npos) << child.screen();
  EXPECT_TRUE(child.modes_as_before());
}

TEST(ConsoleTerminal, KeysAndTextOnATerminal) {
  TerminalChild child;
  ASSERT_TRUE(child.start(
      [](int go) {
        const ConsoleHooks& h = text_console_hooks();
        h.locate(0, 0, 0);  // hidden: the exit handler must show the cursor again
        h.print_buffer(reinterpret_cast<const uint8_t*>("x\x94\x01|"), 4, 0);
        report("");
        TerminalChild::wait_for_go(go);
        std::string codes = "CODES";
        for (int i = 0; i < 4; ++i) codes += " " + std::to_string(h.get_key());
        report(codes);
        return 0;
      },
      true));
  ASSERT_TRUE(child.wait_for("\x1b[?25l")) << child.screen();
  ASSERT_TRUE(child.wait_for("x\xc3\xb6\xe2\x98\xba|")) << child.screen();  // UTF-8 whatever the locale
  child.let_go();
  ASSERT_TRUE(child.wait_for_modes(true));
  child.type("\x1b[A");
  child.type("\xc3\xb6");
  child.type("\x1b");  // a lone escape: the Escape key once nothing follows
  child.drain(400);
  child.type("\x7f");
  ASSERT_TRUE(child.wait_for("CODES 18687 148 27 8\r\n")) << child.screen();
  int status = child.finish();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(child.wait_for("\x1b[?25h")) << child.screen();
  EXPECT_TRUE(child.modes_as_before());
}

TEST(ConsoleTerminal, SignalDuringARawReadGivesTheModesBack) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(sig);
    TerminalChild child;
    ASSERT_TRUE(child.start([](int) {
      // The default actions, whatever the test process inherited.
      for (int s : {SIGTERM, SIGINT, SIGHUP}) signal(s, SIG_DFL);
      console_reset();
      return call_hook<&ConsoleHooks::get_key>();
    }));
    ASSERT_TRUE(child.wait_for_modes(true));
    EXPECT_FALSE(child.modes_as_before());
    kill(child.pid(), sig);
    int status = child.finish();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    EXPECT_TRUE(child.modes_as_before());
  }
}

// Output on a terminal whose TERM is "dumb" holds no escape byte at all (the text
// still UTF-8, the bell kept), while other terminals, and an unset TERM, get
// sequences as before. The line editor still reads what was typed.
TEST(ConsoleTerminal, ADumbTerminalGetsNoEscapeSequences) {
  struct Case {
    const char* term;  // null: unset
    bool sequences;
  };
  const Case cases[] = {{"dumb", false}, {"xterm", true}, {nullptr, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.term ? c.term : "unset");
    static const char* term;
    term = c.term;
    TerminalChild child;
    ASSERT_TRUE(child.start(
        [](int) {
          if (term)
            setenv("TERM", term, 1);
          else
            unsetenv("TERM");
          const ConsoleHooks& h = text_console_hooks();
          h.clear_screen(-65536);
          h.colour(14, 1, 0);
          h.locate(2, 3, 0);
          h.print_buffer(reinterpret_cast<const uint8_t*>("x\x94\x1b\x07|\r\n"), 6, 0);
          h.locate(0, 0, 1);
          input_prompt(temp_from_literal("n=", 2), -1, -1);
          return read_value_and_report();
        },
        true));
    ASSERT_TRUE(child.wait_for("n=? ")) << child.screen();
    child.type("12");
    child.type("\x1b[D");
    child.type("3\r");
    ASSERT_TRUE(child.wait_for("VALUE=132\r\n")) << child.screen();
    int status = child.finish();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::string& screen = child.screen();
    EXPECT_EQ(screen.find('\x1b') != std::string::npos, c.sequences) << screen;
    EXPECT_NE(screen.find("x\xc3\xb6\xe2\x86\x90"), std::string::npos) << screen;  // ESC as its arrow
    EXPECT_NE(screen.find('\a'), std::string::npos) << screen;
    EXPECT_TRUE(child.modes_as_before());
  }
}

// Enough of a terminal to tell what the screen shows: the cursor moves, clears and
// erasures the console writes, line feeds that scroll at the bottom, and the wrap
// that waits on the last column. A cell holds one UTF-8 character.
class Screen {
 public:
  Screen(int columns, int rows) : columns_(columns), rows_(rows), cells_(rows, blank_row()) {}

  void feed(const std::string& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
      auto b = static_cast<unsigned char>(bytes[i]);
      if (b == 0x1b && i + 1 < bytes.size() && bytes[i + 1] == '[') {
        size_t j = i + 2;
        std::string parameters;
        while (j < bytes.size() && (bytes[j] < 0x40 || bytes[j] > 0x7e)) parameters += bytes[j++];
        if (j < bytes.size()) sequence(parameters, bytes[j]);
        i = j;
        continue;
      }
      if (b == '\r') {
        x_ = 0;
        wrap_ = false;
      } else if (b == '\n') {
        line_feed();
        wrap_ = false;
      } else if (b == '\b') {
        if (x_ > 0) --x_;
        wrap_ = false;
      } else if (b >= 0x20) {
        size_t n = b >= 0xf0 ? 4 : b >= 0xe0 ? 3 : b >= 0xc0 ? 2 : 1;
        put(bytes.substr(i, n));
        i += n - 1;
      }
    }
  }

  // The row's text without the blanks at its end.
  std::string row(int y) const {
    std::string text;
    for (const std::string& cell : cells_[static_cast<size_t>(y)]) text += cell;
    return text.substr(0, text.find_last_not_of(' ') + 1);
  }
  int find_row(const std::string& text) const {
    for (int y = 0; y < rows_; ++y)
      if (row(y) == text) return y;
    return -1;
  }
  int rows() const { return rows_; }

 private:
  std::vector<std::string> blank_row() const { return std::vector<std::string>(static_cast<size_t>(columns_), " "); }

  void put(const std::string& character) {
    if (wrap_) {
      x_ = 0;
      line_feed();
      wrap_ = false;
    }
    cells_[static_cast<size_t>(y_)][static_cast<size_t>(x_)] = character;
    if (x_ == columns_ - 1)
      wrap_ = true;
    else
      ++x_;
  }

  void line_feed() {
    if (y_ < rows_ - 1) {
      ++y_;
      return;
    }
    cells_.erase(cells_.begin());
    cells_.push_back(blank_row());
  }

  void erase(int y, int from) {
    for (int x = from; x < columns_; ++x) cells_[static_cast<size_t>(y)][static_cast<size_t>(x)] = " ";
  }

  void sequence(const std::string& parameters, char final_byte) {
    if (!parameters.empty() && parameters[0] == '?') return;  // cursor visibility
    std::vector<int> p;
    size_t at = 0;
    do {
      size_t end = parameters.find(';', at);
      p.push_back(std::atoi(parameters.substr(at, end - at).c_str()));
      at = end == std::string::npos ? end : end + 1;
    } while (at != std::string::npos);
    int n = p[0] > 0 ? p[0] : 1;
    wrap_ = false;
    switch (final_byte) {
      case 'A': y_ = std::max(0, y_ - n); break;
      case 'B': y_ = std::min(rows_ - 1, y_ + n); break;
      case 'C': x_ = std::min(columns_ - 1, x_ + n); break;
      case 'D': x_ = std::max(0, x_ - n); break;
      case 'H':
        y_ = std::min(rows_, n) - 1;
        x_ = std::min(columns_, p.size() > 1 && p[1] > 0 ? p[1] : 1) - 1;
        break;
      case 'J':
        if (p[0] == 2) {
          for (int y = 0; y < rows_; ++y) erase(y, 0);
        } else {
          erase(y_, x_);
          for (int y = y_ + 1; y < rows_; ++y) erase(y, 0);
        }
        break;
      case 'K': erase(y_, x_); break;
      default: break;  // colours
    }
  }

  int columns_, rows_;
  std::vector<std::vector<std::string>> cells_;
  int x_ = 0, y_ = 0;
  bool wrap_ = false;
};

// Ctrl-Z and fg in the middle of an entry: while the program is stopped a shell
// writes on the screen; once continued, the terminal is raw again and the prompt
// and the edited line are drawn again with the cursor where the editor has it, so
// a key typed then lands in its place on the screen as in the line. A screen the
// program cleared is drawn whole where it was (the shell's lines gone); otherwise
// the line is drawn again below what the shell wrote.
TEST(ConsoleTerminal, StopAndContinueDrawTheLineBeingEnteredAgain) {
  for (bool cleared : {true, false}) {
    SCOPED_TRACE(cleared ? "cleared screen" : "screen not cleared");
    static bool clear_first;
    clear_first = cleared;
    TerminalChild child;
    ASSERT_TRUE(child.start(
        [](int) {
          setenv("TERM", "xterm", 1);
          if (clear_first) call_hook<&ConsoleHooks::clear_screen>(-65536);
          call_hook<&ConsoleHooks::print_buffer>(reinterpret_cast<const uint8_t*>("first\r\nsecond\r\n"), 15, 0);
          input_prompt(temp_from_literal("    a11=", 8), -1, -1);
          return read_value_and_report();
        },
        true, true));
    ASSERT_TRUE(child.wait_for("    a11=? ")) << child.screen();
    child.type("12");
    ASSERT_TRUE(child.wait_for("12")) << child.screen();
    child.type("\x1b[D");
    ASSERT_TRUE(child.wait_for("\x1b[D")) << child.screen();  // the editor's cursor is on the "2"

    kill(child.pid(), SIGTSTP);
    ASSERT_TRUE(child.wait_for_job('S'));
    EXPECT_TRUE(child.modes_as_before());  // the shell gets its modes while stopped
    child.show("^Z\n[1]+  Stopped                 invar\n$ fg\ninvar\n");
    ASSERT_TRUE(child.wait_for("$ fg\r\ninvar\r\n")) << child.screen();
    kill(child.pid(), SIGCONT);
    ASSERT_TRUE(child.wait_for_job('C'));
    ASSERT_TRUE(child.wait_for_modes(true));
    ASSERT_TRUE(child.wait_for("    a11=? 12")) << child.screen();

    child.type("3\r");
    ASSERT_TRUE(child.wait_for("VALUE=132\r\n")) << child.screen();
    int status = child.finish();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(child.modes_as_before());

    Screen screen(80, 25);
    screen.feed(child.screen());
    int line = screen.find_row("    a11=? 132");
    ASSERT_GE(line, 0) << child.screen();
    EXPECT_EQ(screen.row(line + 1), "VALUE=132");
    int shell = screen.find_row("[1]+  Stopped                 invar");
    if (cleared) {
      EXPECT_EQ(line, 2);
      EXPECT_EQ(screen.row(0), "first");
      EXPECT_EQ(screen.row(1), "second");
      EXPECT_EQ(shell, -1);
    } else {
      EXPECT_GE(shell, 0);
      EXPECT_GT(line, shell);
    }
  }
}

}  // namespace
}  // namespace zv
