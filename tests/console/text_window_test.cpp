// The text-window printer engine against a recording window: which runs are drawn
// where, when the window scrolls and where the cursor ends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/text_window.h"

namespace zv {
namespace {

struct Recorder {
  std::vector<std::string> events;  // "W x,y:text", "S rows", "B"
  int writes_allowed = -1;          // -1: every write succeeds
};

bool record_write(TextWindowPrinter* p, const uint8_t* bytes, int32_t length) {
  auto* r = static_cast<Recorder*>(p->data);
  if (r->writes_allowed == 0) return false;
  if (r->writes_allowed > 0) --r->writes_allowed;
  r->events.push_back("W" + std::to_string(p->x) + "," + std::to_string(p->y) + ":" +
                      std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length)));
  return true;
}

void record_scroll(TextWindowPrinter* p, int32_t rows) {
  static_cast<Recorder*>(p->data)->events.push_back("S" + std::to_string(rows));
}

void record_bell(TextWindowPrinter* p) { static_cast<Recorder*>(p->data)->events.push_back("B"); }

struct Window {
  int32_t left, top, right, bottom, x, y;
  bool line_feed_returns = true;
};

struct Result {
  std::vector<std::string> events;
  int32_t x, y;
};

Result print(const Window& w, const std::string& text, int writes_allowed = -1) {
  Recorder r;
  r.writes_allowed = writes_allowed;
  TextWindowPrinter p{};
  p.data = &r;
  p.write = record_write;
  p.scroll = record_scroll;
  p.bell = record_bell;
  p.left = w.left;
  p.top = w.top;
  p.right = w.right;
  p.bottom = w.bottom;
  p.x = w.x;
  p.y = w.y;
  p.line_feed_returns = w.line_feed_returns;
  run_text_window_printer(p, reinterpret_cast<const uint8_t*>(text.data()), static_cast<int32_t>(text.size()));
  return {r.events, p.x, p.y};
}

using Events = std::vector<std::string>;

struct Case {
  const char* name;
  Window window;
  std::string text;
  Events events;
  int32_t x, y;
};

TEST(TextWindowPrinter, ControlBytesRunsWrapsAndScrolls) {
  const Case cases[] = {
      {"tab at column 5 adds 3 blanks", {0, 0, 79, 24, 5, 0}, "\t", {"W5,0:   "}, 8, 0},
      {"tab at column 8 adds 8 blanks", {0, 0, 79, 24, 8, 0}, "\t", {"W8,0:        "}, 16, 0},
      {"tab counts from the left border", {2, 0, 79, 24, 5, 0}, "\t", {"W5,0:     "}, 10, 0},
      {"tab joins the run", {0, 0, 79, 24, 0, 0}, "ab\tc", {"W0,0:ab      c"}, 9, 0},
      {"backspace at the left border does nothing", {0, 0, 79, 24, 0, 3}, "\b", {}, 0, 3},
      {"backspace moves one left and erases nothing", {0, 0, 79, 24, 0, 0}, "ab\b", {"W0,0:ab"}, 1, 0},
      {"backspace does not go back over a wrap", {0, 0, 3, 24, 0, 0}, "abcd\b", {"W0,0:abcd"}, 0, 1},
      {"carriage return goes to the left border", {4, 0, 79, 24, 10, 2}, "x\ry", {"W10,2:x", "W4,2:y"}, 5, 2},
      {"line feed returns", {0, 0, 79, 24, 2, 0}, "\nx", {"W0,1:x"}, 1, 1},
      {"line feed alone keeps the column", {0, 0, 79, 24, 2, 0, false}, "\nx", {"W2,1:x"}, 3, 1},
      {"a run is split at the right border", {0, 0, 3, 2, 2, 0}, "abcdefgh", {"W2,0:ab", "W0,1:cdef", "W0,2:gh"}, 2, 2},
      {"wrapping on the bottom row scrolls before each piece", {0, 0, 3, 1, 0, 1}, "abcdefghij",
       {"W0,1:abcd", "S1", "W0,1:efgh", "S1", "W0,1:ij"}, 2, 1},
      {"CR LF on the bottom row scrolls at once", {0, 0, 79, 2, 3, 2}, "\r\n", {"S1"}, 0, 2},
      {"text ending at the bottom-right does not scroll", {0, 0, 3, 1, 0, 1}, "abcd", {"W0,1:abcd"}, 0, 2},
      {"two line feeds below the bottom scroll by two", {0, 0, 79, 2, 0, 2}, "\n\n", {"S2"}, 0, 2},
      {"bottom -1 never scrolls", {0, 0, 79, -1, 0, 5}, "\n\nab", {"W0,7:ab"}, 2, 7},
      {"the bell sounds and draws nothing", {0, 0, 79, 24, 0, 0}, "a\x07" "b", {"B", "W0,0:ab"}, 2, 0},
      {"other control bytes are glyphs", {0, 0, 79, 24, 0, 0}, std::string("\x0b\x0c\x00\xff", 4),
       {std::string("W0,0:\x0b\x0c\x00\xff", 9)}, 4, 0},
      {"a tab after a wrap counts from the new row", {0, 0, 9, 24, 8, 0}, "ab\t", {"W8,0:ab", "W0,1:        "}, 8, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Result r = print(c.window, c.text);
    EXPECT_EQ(r.events, c.events);
    EXPECT_EQ(r.x, c.x);
    EXPECT_EQ(r.y, c.y);
  }
}

TEST(TextWindowPrinter, LongRunsGoOutIn1024BytePieces) {
  Result r = print({0, 0, 9999, 24, 0, 0}, std::string(1500, 'x'));
  ASSERT_EQ(r.events.size(), 2u);
  EXPECT_EQ(r.events[0], "W0,0:" + std::string(1024, 'x'));
  EXPECT_EQ(r.events[1], "W1024,0:" + std::string(476, 'x'));
  EXPECT_EQ(r.x, 1500);
}

TEST(TextWindowPrinter, AFailedWriteStopsThePrint) {
  Result r = print({0, 0, 79, 2, 0, 2}, "ab\ncd\n", 0);
  EXPECT_TRUE(r.events.empty());  // no further write and no final scroll
  r = print({0, 0, 79, 2, 0, 2}, "ab\ncd\n", 1);
  EXPECT_EQ(r.events, (Events{"W0,2:ab", "S1"}));  // the scroll comes before the failed piece
}

TEST(TextWindowPrinter, ScrollPutsTheCursorOnTheBottomRow) {
  // The scroll callback only scrolls; the engine moves the cursor row itself.
  Result r = print({0, 0, 79, 3, 0, 3}, "a\nb\nc");
  EXPECT_EQ(r.events, (Events{"W0,3:a", "S1", "W0,3:b", "S1", "W0,3:c"}));
  EXPECT_EQ(r.y, 3);
}

}  // namespace
}  // namespace zv
