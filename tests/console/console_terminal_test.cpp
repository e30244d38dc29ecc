// The text console backend on a pseudo-terminal: a forked child runs the console
// with the terminal as its standard streams while the test types keys and reads the
// screen. Checks the line editor's keys, the pause rule (one key pressed after the
// pause began, taken out of the input; type-ahead kept for a line input), UTF-8 and
// escape sequences, and that the terminal's modes are always given back, also when
// a signal ends the program in the middle of a raw read.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "console/console.h"
#include "runtime/hooks.h"
#include "runtime/input.h"
#include "runtime/runtime.h"
#include "runtime/statements.h"
#include "runtime/strings.h"

namespace zv {
namespace {

constexpr int WAIT_MS = 20000;  // generous: only a broken program gets near it

bool same_modes(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

void write_text(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// Child side: a line on the terminal, written past the console (the terminal's
// output processing turns the line feed into CR LF).
void report(const std::string& text) { write_text(STDOUT_FILENO, text + "\n"); }

class TerminalChild {
 public:
  ~TerminalChild() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {master_, slave_, sync_read_, sync_write_})
      if (fd >= 0) close(fd);
  }

  // Forks a child whose standard streams and controlling terminal are a new
  // pseudo-terminal; the child resets the runtime, runs the body and exits with
  // its result (through exit when exit_normally, so the exit handlers run).
  bool start(const std::function<int(int go)>& body, bool exit_normally = false) {
    winsize ws{};
    ws.ws_col = 80;
    ws.ws_row = 25;
    if (openpty(&master_, &slave_, nullptr, nullptr, &ws) != 0) return false;
    int sync[2];
    if (pipe(sync) != 0) return false;
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
      if (login_tty(slave_) != 0) _exit(90);
      runtime_exit();
      runtime_constructor();
      int result = body(sync_read_);
      if (exit_normally) std::exit(result);
      _exit(result);
    }
    close(sync_read_);
    sync_read_ = -1;
    return true;
  }

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

  pid_t pid() const { return pid_; }
  const std::string& screen() const { return screen_; }
  std::string since_mark() const { return screen_.substr(mark_); }

 private:
  static int64_t elapsed(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since)
        .count();
  }

  void read_screen(int timeout_ms) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return;
    char buffer[1024];
    ssize_t n = read(master_, buffer, sizeof buffer);
    if (n > 0) screen_.append(buffer, static_cast<size_t>(n));
  }

  int master_ = -1, slave_ = -1, sync_read_ = -1, sync_write_ = -1;
  pid_t pid_ = -1;
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

}  // namespace
}  // namespace zv
