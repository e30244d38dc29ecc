// Output held back from standard output that is not a terminal: it must be out
// before the program waits for a key or for input, keep its order (across full
// buffers, with the C streams, with a standard error on the same file), reach the
// reader at exit and when a signal ends the process, and a closed pipe must not end
// the program.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

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
#include "tests/support/child_session.h"
#include "tests/support/files.h"

namespace zv {
namespace {

using test::ChildSession;
using test::Stream;
using test::write_text;

const ConsoleHooks& console() { return text_console_hooks(); }

void print(const std::string& text) {
  console().print_buffer(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int32_t>(text.size()), 0);
}

// A child whose standard output is a pipe that the test reads, with standard input
// from a pipe or a pseudo-terminal that the test writes; it leaves through exit, so
// the exit handlers run.
test::SessionOptions piped(Stream input) {
  return {.input = input, .output = Stream::Pipe, .exit_normally = true};
}

// Every way the program can wait for input: what it printed before is out before
// the wait ends, so the test types only once it has read it. What is printed after
// the wait is written by the exit handler alone.
TEST(ConsoleHeldOutput, IsWrittenBeforeEveryWaitAndAtExit) {
  struct Case {
    const char* name;
    Stream input;
    void (*wait)();
    const char* keys;
  };
  const Case cases[] = {
      {"get key, terminal", Stream::Terminal, [] { console().get_key(); }, "k"},
      {"pause, terminal", Stream::Terminal, [] { console().sleep(-1); }, "k"},
      {"get key, pipe", Stream::Pipe, [] { console().get_key(); }, "k"},
      {"input statement, pipe", Stream::Pipe,
       [] {
         input_prompt(temp_from_literal("n=", 2), -1, -1);
         double value = 0;
         input_double(&value);
       },
       "5\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChildSession child(piped(c.input));
    static void (*wait)();
    wait = c.wait;
    ASSERT_TRUE(child.start_body([](int) {
      print("BEFORE");
      wait();
      print("AFTER");
      return 0;
    }));
    ASSERT_TRUE(child.wait_for("BEFORE")) << "output held back over a wait: " << child.output();
    child.type(c.keys);
    EXPECT_EQ(child.finish(), 0);
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
      ChildSession child(piped(Stream::Pipe));
      ASSERT_TRUE(child.start_body([](int sync) {
        print("HELD\r\n");
        ChildSession::ready(sync);
        for (;;) pause();  // a wait the console does not know of
        return 0;
      }));
      ASSERT_TRUE(child.wait_ready());
      if (!reader) child.close_output();
      child.send(sig);
      child.finish();
      EXPECT_EQ(child.end_signal(), sig);
      if (reader) {
        EXPECT_EQ(child.output(), "HELD\r\n");
      }
    }
  }
}

TEST(ConsoleHeldOutput, AClosedPipeDoesNotEndTheProgram) {
  ChildSession child(piped(Stream::Pipe));
  ASSERT_TRUE(child.start_body([](int) {
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
  EXPECT_EQ(child.finish(), 7);
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
