// The text console backend on a pseudo-terminal: a forked child runs the console
// with the terminal as its standard streams while the test types keys and reads the
// screen. Checks the line editor's keys, the pause rule (one key pressed after the
// pause began, taken out of the input; type-ahead kept for a line input), UTF-8 and
// escape sequences (none for TERM=dumb), that the terminal's modes are always given
// back, also when a signal ends the program in the middle of a raw read, and that a
// stop and continue during entry draws the screen again with the cursor in place.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "console/console.h"
#include "runtime/hooks.h"
#include "runtime/input.h"
#include "runtime/runtime.h"
#include "runtime/statements.h"
#include "runtime/strings.h"
#include "tests/support/child_session.h"
#include "tests/support/files.h"

namespace zv {
namespace {

using test::ChildSession;
using test::write_text;

// Child side: a line on the terminal, written past the console (the terminal's
// output processing turns the line feed into CR LF).
void report(const std::string& text) { write_text(STDOUT_FILENO, text + "\n"); }

TEST(ConsoleTerminal, LineEditorReadsTheCoefficient) {
  ChildSession child;
  ASSERT_TRUE(child.start_body([](int) {
    input_prompt(temp_from_literal("    a11=", 8), -1, -1);
    double value = 0;
    input_double(&value);
    char text[64];
    std::snprintf(text, sizeof text, "VALUE=%.17g", value);
    report(text);
    return 0;
  }));
  ASSERT_TRUE(child.wait_for("    a11=? ")) << child.output();
  EXPECT_TRUE(child.terminal_is_raw());  // while the line is edited
  child.type("12");
  child.type("\x1b[D");
  child.type("3");
  child.type("\r");
  ASSERT_TRUE(child.wait_for("VALUE=")) << child.output();
  ASSERT_TRUE(child.wait_for("\r\n")) << child.output();
  EXPECT_EQ(child.finish(), 0);
  std::string screen = child.output();
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
  ChildSession child;
  ASSERT_TRUE(child.start_body([](int go) {
    report("READY");
    ChildSession::wait_for_go(go);
    sleep_statement(-1);
    report("AFTER");
    ChildSession::wait_for_go(go);
    input_prompt(temp_from_literal("n=", 2), -1, -1);
    return read_value_and_report();
  }));
  ASSERT_TRUE(child.wait_for("READY\r\n")) << child.output();
  // A key typed before the pause: the cooked terminal echoes it once it holds it.
  child.type("x");
  ASSERT_TRUE(child.wait_for("x")) << child.output();
  child.let_go();
  ASSERT_TRUE(child.wait_for_modes(true));
  child.drain(300);
  EXPECT_EQ(child.since_mark().find("AFTER"), std::string::npos) << "the earlier key passed the pause";
  child.type("y");
  ASSERT_TRUE(child.wait_for("AFTER\r\n")) << child.output();
  ASSERT_TRUE(child.wait_for_modes(false));  // given back right after the pause
  // Typed ahead of a line input: kept for the editor. Had the pause left its key
  // (or the earlier one) in the input, the line would not be "7".
  child.type("7");
  ASSERT_TRUE(child.wait_for("7")) << child.output();
  child.let_go();
  ASSERT_TRUE(child.wait_for("n=? ")) << child.output();
  child.type("\r");
  ASSERT_TRUE(child.wait_for("VALUE=")) << child.output();
  EXPECT_EQ(child.finish(), 0);
  EXPECT_NE(child.output().find("VALUE=7\r\n"), std::string::npos) << child.output();
  EXPECT_TRUE(child.modes_as_before());
}

TEST(ConsoleTerminal, KeysAndTextOnATerminal) {
  ChildSession child({.exit_normally = true});
  ASSERT_TRUE(child.start_body(
      [](int go) {
        const ConsoleHooks& h = text_console_hooks();
        h.locate(0, 0, 0);  // hidden: the exit handler must show the cursor again
        h.print_buffer(reinterpret_cast<const uint8_t*>("x\x94\x01|"), 4, 0);
        report("");
        ChildSession::wait_for_go(go);
        std::string codes = "CODES";
        for (int i = 0; i < 4; ++i) codes += " " + std::to_string(h.get_key());
        report(codes);
        return 0;
      }));
  ASSERT_TRUE(child.wait_for("\x1b[?25l")) << child.output();
  ASSERT_TRUE(child.wait_for("x\xc3\xb6\xe2\x98\xba|")) << child.output();  // UTF-8 whatever the locale
  child.let_go();
  ASSERT_TRUE(child.wait_for_modes(true));
  child.type("\x1b[A");
  child.type("\xc3\xb6");
  child.type("\x1b");  // a lone escape: the Escape key once nothing follows
  child.drain(400);
  child.type("\x7f");
  ASSERT_TRUE(child.wait_for("CODES 18687 148 27 8\r\n")) << child.output();
  EXPECT_EQ(child.finish(), 0);
  EXPECT_TRUE(child.wait_for("\x1b[?25h")) << child.output();
  EXPECT_TRUE(child.modes_as_before());
}

TEST(ConsoleTerminal, SignalDuringARawReadGivesTheModesBack) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(sig);
    ChildSession child;
    ASSERT_TRUE(child.start_body([](int) {
      console_reset();
      return call_hook<&ConsoleHooks::get_key>();
    }));
    ASSERT_TRUE(child.wait_for_modes(true));
    EXPECT_FALSE(child.modes_as_before());
    child.send(sig);
    child.finish();
    EXPECT_EQ(child.end_signal(), sig);
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
    ChildSession child({.exit_normally = true});
    ASSERT_TRUE(child.start_body(
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
        }));
    ASSERT_TRUE(child.wait_for("n=? ")) << child.output();
    child.type("12");
    child.type("\x1b[D");
    child.type("3\r");
    ASSERT_TRUE(child.wait_for("VALUE=132\r\n")) << child.output();
    EXPECT_EQ(child.finish(), 0);
    const std::string& screen = child.output();
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
    ChildSession child({.job_control = true, .exit_normally = true});
    ASSERT_TRUE(child.start_body(
        [](int) {
          setenv("TERM", "xterm", 1);
          if (clear_first) call_hook<&ConsoleHooks::clear_screen>(-65536);
          call_hook<&ConsoleHooks::print_buffer>(reinterpret_cast<const uint8_t*>("first\r\nsecond\r\n"), 15, 0);
          input_prompt(temp_from_literal("    a11=", 8), -1, -1);
          return read_value_and_report();
        }));
    ASSERT_TRUE(child.wait_for("    a11=? ")) << child.output();
    child.type("12");
    ASSERT_TRUE(child.wait_for("12")) << child.output();
    child.type("\x1b[D");
    ASSERT_TRUE(child.wait_for("\x1b[D")) << child.output();  // the editor's cursor is on the "2"

    child.send(SIGTSTP);
    ASSERT_TRUE(child.wait_for_job('S'));
    EXPECT_TRUE(child.modes_as_before());  // the shell gets its modes while stopped
    child.show("^Z\n[1]+  Stopped                 invar\n$ fg\ninvar\n");
    ASSERT_TRUE(child.wait_for("$ fg\r\ninvar\r\n")) << child.output();
    child.send(SIGCONT);
    ASSERT_TRUE(child.wait_for_job('C'));
    ASSERT_TRUE(child.wait_for_modes(true));
    ASSERT_TRUE(child.wait_for("    a11=? 12")) << child.output();

    child.type("3\r");
    ASSERT_TRUE(child.wait_for("VALUE=132\r\n")) << child.output();
    EXPECT_EQ(child.finish(), 0);
    EXPECT_TRUE(child.modes_as_before());

    Screen screen(80, 25);
    screen.feed(child.output());
    int line = screen.find_row("    a11=? 132");
    ASSERT_GE(line, 0) << child.output();
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
