// The console logic both hosts share, on every host: redirected standard input as
// keys (line ends folded to one Enter), and locate's limits on a console state of
// the test's own. (The deferred wrap is tested on each host's real output.)
#include "console/console_common.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/files.h"

namespace zv {
namespace {

bool always_data() { return true; }
bool never_data() { return false; }

// Standard input read from a file with the bytes; the null device afterwards, so
// that the file is closed before its folder goes.
struct InputFrom {
  test::TempDir dir;
  explicit InputFrom(const std::string& bytes) {
    test::write_file("input", bytes);
    EXPECT_NE(std::freopen("input", "rb", stdin), nullptr);
  }
  ~InputFrom() {
#ifdef _WIN32
    std::freopen("NUL", "rb", stdin);
#else
    std::freopen("/dev/null", "rb", stdin);
#endif
  }
};

TEST(ConsoleRedirectedKey, EachLineEndIsOneEnterAndZeroBytesAreSkipped) {
  struct Case {
    std::string input;
    std::vector<int32_t> keys;  // up to the end (-1)
  };
  const Case cases[] = {
      {"a\r\nb", {'a', 13, 'b'}},    {"a\nb", {'a', 13, 'b'}},  {"a\rb", {'a', 13, 'b'}},
      {"\n\r", {13, 13}},            {"\r\r\n", {13, 13}},      {"\n\n", {13, 13}},
      {std::string("x\0y", 3), {'x', 'y'}}, {"\xff\x01", {255, 1}}, {"", {}},
  };
  for (const Case& c : cases) {
    InputFrom input(c.input);
    bool after_cr = false;
    std::vector<int32_t> keys;
    for (int32_t k; (k = console_redirected_key(after_cr, true, always_data)) != -1;) keys.push_back(k);
    EXPECT_EQ(keys, c.keys) << c.input;
    EXPECT_EQ(console_redirected_key(after_cr, false, always_data), -1) << "the end stays the end";
  }
}

TEST(ConsoleRedirectedKey, NothingWaitingTakesNothingAndACarriageReturnCarriesOver) {
  InputFrom input("\r\nz");
  bool after_cr = false;
  EXPECT_EQ(console_redirected_key(after_cr, false, never_data), -2);
  EXPECT_EQ(console_redirected_key(after_cr, false, always_data), 13);
  EXPECT_TRUE(after_cr);
  EXPECT_EQ(console_redirected_key(after_cr, false, never_data), -2);
  EXPECT_TRUE(after_cr);  // the line feed still to come belongs to that Enter
  EXPECT_EQ(console_redirected_key(after_cr, true, never_data), 'z');
}

struct FakeConsole {
  int32_t x = 0, y = 0;
  bool deferred = false, cursor_visible = true;
  int32_t columns = 4, rows = 2;
};

void screen_size(const FakeConsole& c, int32_t* columns, int32_t* rows) {
  *columns = c.columns;
  *rows = c.rows;
}

TEST(ConsoleCursor, LocateKeepsInsideTheWindowAndAnswersThePreviousCursor) {
  struct Case {
    int32_t row, column;
    int32_t x, y;  // afterwards, from 0
  };
  const Case cases[] = {{1, 1, 0, 0}, {2, 3, 2, 1}, {9, 9, 3, 1}, {0, 2, 1, 1}, {1, 0, 1, 0}, {-5, -5, 1, 0}};
  FakeConsole c;
  c.x = 7;  // outside a window that has shrunk
  c.y = 5;
  int32_t expected_previous = 0x10000 | (5 << 8) | 7;
  for (const Case& k : cases) {
    EXPECT_EQ(console_locate_of(c, k.row, k.column), expected_previous) << k.row << "," << k.column;
    EXPECT_EQ(c.x, k.x) << k.row << "," << k.column;
    EXPECT_EQ(c.y, k.y) << k.row << "," << k.column;
    expected_previous = 0x10000 | (c.y << 8) | c.x;
  }
}

}  // namespace
}  // namespace zv
