// Output held back from standard output that is not a terminal: it must be out
// before the program waits for a key or for input, keep its order (across full
// buffers, with the C streams, with a standard error on the same file), reach the
// reader at exit and when a signal ends the process, and a closed pipe must not end
// the program.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "console/console.h"
#include "platform/platform.h"
#include "runtime/hooks.h"
#include "runtime/input.h"
#include "runtime/runtime.h"
#include "runtime/strings.h"
#include "tests/support/files.h"

namespace zv {
namespace {

using test::write_text;

constexpr int WAIT_MS = 20000;  // generous: only a broken program gets near it

const ConsoleHooks& console() { return text_console_hooks(); }

void print(const std::string& text) {
  console().print_buffer(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int32_t>(text.size()), 0);
}

int64_t elapsed_ms(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count();
}

enum class Input { Pipe, Terminal };

// A child whose standard output is a pipe that the test reads, with standard input
// from a pipe or a pseudo-terminal that the test writes. The child starts a fresh
// runtime, runs the body and leaves through exit, so the exit handlers run.
class PipedChild {
 public:
  ~PipedChild() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {out_, in_, ready_})
      if (fd >= 0) close(fd);
  }

  // stderr_too: standard error goes into the same pipe. The body may tell the test
  // it got somewhere by writing to the descriptor it is given.
  bool start(Input input, const std::function<int(int ready)>& body, bool stderr_too = false) {
    int out[2], ready[2], in[2] = {-1, -1};
    if (pipe(out) != 0 || pipe(ready) != 0) return false;
    int terminal = -1;
    if (input == Input::Terminal) {
      winsize ws{};
      ws.ws_col = 80;
      ws.ws_row = 25;
      if (openpty(&in[1], &terminal, nullptr, nullptr, &ws) != 0) return false;
    } else if (pipe(in) != 0) {
      return false;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      dup2(input == Input::Terminal ? terminal : in[0], STDIN_FILENO);
      dup2(out[1], STDOUT_FILENO);
      if (stderr_too) dup2(out[1], STDERR_FILENO);
      for (int fd : {out[0], out[1], in[0], in[1], terminal, ready[0]})
        if (fd > STDERR_FILENO) close(fd);
      for (int sig : {SIGINT, SIGTERM, SIGHUP}) signal(sig, SIG_DFL);
      runtime_exit();
      runtime_constructor();
      std::exit(body(ready[1]));
    }
    close(out[1]);
    close(ready[1]);
    if (in[0] >= 0) close(in[0]);
    if (terminal >= 0) close(terminal);
    out_ = out[0];
    in_ = in[1];
    ready_ = ready[0];
    return true;
  }

  // Reads the output until it holds the text (true) or the time runs out.
  bool wait_for(const std::string& text) {
    auto start = std::chrono::steady_clock::now();
    while (output_.find(text) == std::string::npos) {
      int64_t left = WAIT_MS - elapsed_ms(start);
      if (left <= 0 || !read_output(static_cast<int>(left))) return false;
    }
    return true;
  }

  // Waits for the child's word on the ready descriptor.
  bool wait_ready() {
    pollfd p{ready_, POLLIN, 0};
    char c;
    return poll(&p, 1, WAIT_MS) > 0 && read(ready_, &c, 1) == 1;
  }

  void type(const std::string& text) { write_text(in_, text); }

  // The test no longer reads: the child's writes find a closed pipe.
  void close_output() {
    close(out_);
    out_ = -1;
  }

  // Reads to the end of the output and waits for the child; its wait status.
  int finish() {
    auto start = std::chrono::steady_clock::now();
    while (out_ >= 0 && elapsed_ms(start) < WAIT_MS && read_output(100)) {
    }
    int status = -1;
    while (elapsed_ms(start) < WAIT_MS) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return status;
      }
      if (out_ >= 0) read_output(10);
      else sleep_ms(10);
    }
    return -1;
  }

  pid_t pid() const { return pid_; }
  const std::string& output() const { return output_; }

 private:
  // False at the end of the output.
  bool read_output(int timeout_ms) {
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return true;
    char buffer[4096];
    ssize_t n = read(out_, buffer, sizeof buffer);
    if (n > 0) output_.append(buffer, static_cast<size_t>(n));
    return n > 0 || (n < 0 && errno == EINTR);
  }

  pid_t pid_ = -1;
  int out_ = -1, in_ = -1, ready_ = -1;
  std::string output_;
};

// Every way the program can wait for input: what it printed before is out before
// the wait ends, so the test types only once it has read it. What is printed after
// the wait is written by the exit handler alone.
TEST(ConsoleHeldOutput, IsWrittenBeforeEveryWaitAndAtExit) {
  struct Case {
    const char* name;
    Input input;
    void (*wait)();
    const char* keys;
  };
  const Case cases[] = {
      {"get key, terminal", Input::Terminal, [] { console().get_key(); }, "k"},
      {"pause, terminal", Input::Terminal, [] { console().sleep(-1); }, "k"},
      {"get key, pipe", Input::Pipe, [] { console().get_key(); }, "k"},
      {"input statement, pipe", Input::Pipe,
       [] {
         input_prompt(temp_from_literal("n=", 2), -1, -1);
         double value = 0;
         input_double(&value);
       },
       "5\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PipedChild child;
    static void (*wait)();
    wait = c.wait;
    ASSERT_TRUE(child.start(c.input, [](int) {
      print("BEFORE");
      wait();
      print("AFTER");
      return 0;
    }));
    ASSERT_TRUE(child.wait_for("BEFORE")) << "output held back over a wait: " << child.output();
    child.type(c.keys);
    int status = child.finish();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::string& out = child.output();
    EXPECT_EQ(out.rfind("BEFORE", 0), 0u) << out;
    EXPECT_GE(out.size(), 5u);
    EXPECT_EQ(out.substr(out.size() - 5), "AFTER") << out;
  }
}

// A signal that ends the process while output is held: the output reaches the
// reader, or, with the reader gone, the process still ends by that signal and not
// by SIGPIPE.
TEST(ConsoleHeldOutput, ASignalThatEndsTheProgramWritesItOut) {
  for (int sig : {SIGTERM, SIGHUP}) {
    for (bool reader : {true, false}) {
      SCOPED_TRACE(std::to_string(sig) + (reader ? " reader" : " no reader"));
      PipedChild child;
      ASSERT_TRUE(child.start(Input::Pipe, [](int ready) {
        print("HELD\r\n");
        write_text(ready, "r");
        for (;;) pause();  // a wait the console does not know of
        return 0;
      }));
      ASSERT_TRUE(child.wait_ready());
      if (!reader) child.close_output();
      kill(child.pid(), sig);
      int status = child.finish();
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
      if (reader) {
        EXPECT_EQ(child.output(), "HELD\r\n");
      }
    }
  }
}

TEST(ConsoleHeldOutput, AClosedPipeDoesNotEndTheProgram) {
  PipedChild child;
  ASSERT_TRUE(child.start(Input::Pipe, [](int) {
    char c;
    while (read(STDIN_FILENO, &c, 1) < 0 && errno == EINTR) {
    }
    std::string line(100, '-');
    line += "\r\n";
    for (int i = 0; i < 1000; ++i) print(line);  // some full buffers, then the exit
    return 7;
  }));
  child.close_output();
  child.type("g");  // the child prints only now that nobody reads
  int status = child.finish();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << status;
}

// Runs the calls with standard output (and standard error when asked) on a fresh
// file, the backend reset so that it looks at its streams anew; what was written,
// once the calls are done but before anything is flushed.
std::string written_by(const std::function<void()>& calls, bool stderr_too) {
  std::fflush(stdout);
  std::fflush(stderr);
  char path[] = "/tmp/zv_held_XXXXXX";
  int fd = mkstemp(path);
  unlink(path);
  int saved_out = dup(STDOUT_FILENO), saved_err = dup(STDERR_FILENO);
  dup2(fd, STDOUT_FILENO);
  if (stderr_too) dup2(fd, STDERR_FILENO);
  console_reset();
  calls();
  std::string out;
  char buffer[4096];
  ssize_t n;
  lseek(fd, 0, SEEK_SET);
  while ((n = read(fd, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
  console_reset();  // what is still held goes to the file, not to the test's output
  std::fflush(stdout);
  dup2(saved_out, STDOUT_FILENO);
  dup2(saved_err, STDERR_FILENO);
  close(saved_out);
  close(saved_err);
  close(fd);
  console_reset();
  return out;
}

TEST(ConsoleHeldOutput, KeepsItsOrder) {
  struct Case {
    const char* name;
    bool stderr_too;
    void (*calls)();
    std::string expected;
  };
  const std::string a(10000, 'a'), b(20000, 'b');
  static std::string first, second;
  first = a;
  second = b;
  const Case cases[] = {
      // Past a full buffer, and a piece larger than the buffer.
      {"full buffers", false,
       [] {
         print(first);
         print(second);
         print("c");
         console_flush();
       },
       a + b + "c"},
      {"C streams in between", false,
       [] {
         print("A");
         std::fputs("B", stdout);
         print("C");
         console_flush();
       },
       "ABC"},
      // Written as printed when standard error shares the file: no flush needed.
      {"standard error on the same file", true,
       [] {
         print("A");
         write_text(STDERR_FILENO, "E");
         print("B");
       },
       "AEB"},
  };
  for (const Case& c : cases) {
    std::string out = written_by(c.calls, c.stderr_too);
    EXPECT_TRUE(out == c.expected) << c.name << ": " << out.size() << " bytes, starting " << out.substr(0, 40);
  }
}

}  // namespace
}  // namespace zv
