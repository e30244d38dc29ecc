// The print statement on the screen: masks, zones, columns, and what the console
// receives; channel resolution failures.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "runtime/channel.h"
#include "runtime/print.h"
#include "runtime/runtime.h"
#include "tests/support/scripted_console.h"

namespace zv {
namespace {

class PrintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime_exit();
    runtime_constructor();
    test::install(console);
  }
  void TearDown() override { test::uninstall(); }
  test::ScriptedConsole console;
};

TEST_F(PrintTest, NewlineOnAFreshScreen) {
  EXPECT_EQ(print_newline(0, PRINT_NEWLINE), 0);
  EXPECT_EQ(console.output, "\r\n");
  EXPECT_EQ(screen_record()->column, 0);
}

TEST_F(PrintTest, MaskActions) {
  struct Case {
    uint32_t mask;
    const char* expected;
  };
  const Case cases[] = {
      {PRINT_NONE, "ab"},
      {PRINT_NEWLINE, "ab\r\n"},
      {PRINT_NEWLINE_TOO, "ab\r\n"},
      {PRINT_NEWLINE | PRINT_ZONE, "ab\r\n"},  // a line end only
      {PRINT_ZONE, "ab            "},
      {8, "ab"},  // not a print-statement bit
  };
  for (const Case& c : cases) {
    console.output.clear();
    print_newline(0, PRINT_NEWLINE);
    console.output.clear();
    print_string(0, temp_from_literal("ab", 2), c.mask);
    EXPECT_EQ(console.output, c.expected) << c.mask;
  }
}

TEST_F(PrintTest, ZoneAdvanceByColumn) {
  struct Case {
    int32_t column;
    size_t blanks;  // 0: a line end instead
  };
  const Case cases[] = {{0, 14}, {13, 1}, {14, 14}, {27, 1}, {42, 14}, {55, 1}, {56, 0}, {70, 0}, {79, 0}};
  for (const Case& c : cases) {
    screen_record()->column = c.column;
    console.output.clear();
    EXPECT_EQ(print_zone(0), 0);
    if (c.blanks)
      EXPECT_EQ(console.output, std::string(c.blanks, ' ')) << c.column;
    else
      EXPECT_EQ(console.output, "\r\n") << c.column;
  }
}

TEST_F(PrintTest, ColumnFollowsTheBytesWritten) {
  print_text(0, "abc\r\nde", PRINT_NONE);
  EXPECT_EQ(screen_record()->column, 2);
  print_newline(0, PRINT_NEWLINE);
  print_text(0, std::string(170, 'x').c_str(), PRINT_NONE);
  EXPECT_EQ(screen_record()->column, 170 % 80);
}

TEST_F(PrintTest, EndlessLinesWithoutAWidthKeepTheirZones) {
  ChannelRecord* s = screen_record();
  s->width = 0;
  s->column = 2147483640;  // 2147483640 = 14 * 153391688 + 8
  print_text(0, "abcdefghij", PRINT_NONE);  // past the int32 range: column 18 modulo 14 is 4
  EXPECT_GE(s->column, 0);
  EXPECT_EQ(s->column % PRINT_ZONE_WIDTH, 4);
  console.output.clear();
  print_zone(0);
  EXPECT_EQ(console.output, std::string(10, ' '));
}

TEST_F(PrintTest, NumbersKeepTheirLeadingBlank) {
  print_string(0, temp_from_literal("       a11 = ", 13), PRINT_NONE);
  print_double(0, 2, PRINT_NEWLINE);
  print_single(0, 0.1f, PRINT_NEWLINE);
  print_double(0, -std::numeric_limits<double>::infinity(), PRINT_NEWLINE);
  EXPECT_EQ(console.output, "       a11 =  2\r\n 0.1\r\n-1.#INF\r\n");
}

TEST_F(PrintTest, EmptyItemsStillGetTheirMask) {
  EXPECT_EQ(print_string(0, nullptr, PRINT_NEWLINE), 0);
  EXPECT_EQ(print_string(0, temp_from_literal("", 0), PRINT_NEWLINE), 0);
  EXPECT_EQ(print_text(0, nullptr, PRINT_NEWLINE), 0);
  EXPECT_EQ(console.output, "\r\n\r\n\r\n");
}

TEST_F(PrintTest, ChannelsThatAreNotOpen) {
  const int32_t channels[] = {2, 255, -1, 256, -2, 1000};
  for (int32_t ch : channels) {
    EXPECT_EQ(print_string(ch, temp_from_literal("x", 1), PRINT_NEWLINE), 1) << ch;
    EXPECT_EQ(get_error(), 1);
    EXPECT_EQ(print_newline(ch, PRINT_NONE), 1) << ch;
    EXPECT_EQ(print_zone(ch), 1) << ch;
  }
  EXPECT_EQ(console.output, "");
  EXPECT_EQ(temps_in_use(), 0);  // every temporary was released
}

TEST_F(PrintTest, PrintingReleasesOnlyTemporaries) {
  StringDesc own{};
  ASSERT_TRUE(assign_string(&own, "kept", 4));
  print_string(0, &own, PRINT_NONE);
  EXPECT_EQ(string_length(&own), 4);  // a caller's own string is left alone
  free_string(&own);
  EXPECT_EQ(console.output, "kept");
}

}  // namespace
}  // namespace zv
