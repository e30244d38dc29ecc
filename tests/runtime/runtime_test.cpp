// Runtime context: start-up and shutdown counting, error numbers, temporaries,
// context areas, and the screen statements (view rows, locate, width, clear).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "runtime/channel.h"
#include "runtime/hooks.h"
#include "runtime/runtime.h"
#include "runtime/statements.h"
#include "runtime/strings.h"
#include "tests/support/scripted_console.h"

namespace zv {
namespace {

class RuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime_exit();
    runtime_constructor();
    console.columns = 80;
    console.rows = 30;
    test::install(console);
  }
  void TearDown() override {
    test::uninstall();
    set_view_rows_raw(-1, -1);
  }
  test::ScriptedConsole console;
};

TEST_F(RuntimeTest, ErrorNumberIsKeptUntilTheNextStatement) {
  EXPECT_EQ(set_error(3), 3);
  EXPECT_EQ(get_error(), 3);
  EXPECT_EQ(get_error(), 3);
  EXPECT_EQ(set_error(0), 0);
  EXPECT_EQ(get_error(), 0);
}

TEST_F(RuntimeTest, ConstructorAndExitCountRuntimes) {
  const int32_t before = runtime_init_count();
  set_error(2);
  runtime_constructor();  // a second runtime does not clear the context
  EXPECT_EQ(runtime_init_count(), before + 1);
  EXPECT_EQ(get_error(), 2);
  runtime_exit();
  EXPECT_EQ(runtime_init_count(), before);
  EXPECT_EQ(runtime().channels_used, 0);  // no channel was ever opened
}

TEST_F(RuntimeTest, TemporaryPoolExhaustionGivesTheEmptyString) {
  std::vector<StringDesc*> taken;
  for (int i = 0; i < TEMP_POOL_SIZE; ++i) {
    StringDesc* t = temp_from_literal("abc", 3);
    ASSERT_TRUE(is_temp(t));
    taken.push_back(t);
  }
  StringDesc* none = temp_from_literal("abc", 3);
  EXPECT_FALSE(is_temp(none));
  EXPECT_EQ(string_length(none), 0);
  EXPECT_EQ(none->data, nullptr);
  for (StringDesc* t : taken) release_temp(t);
  EXPECT_EQ(temps_in_use(), 0);
  EXPECT_TRUE(is_temp(temp_from_text("x")));
}

TEST_F(RuntimeTest, OwnedDataIsRoundedAndFreedOnRelease) {
  StringDesc* t = temp_from_copy("hello", 5);
  ASSERT_TRUE(is_temp(t));
  EXPECT_TRUE(t->length & STRING_OWNED);
  EXPECT_EQ(string_length(t), 5);
  EXPECT_EQ(t->capacity, 32);
  EXPECT_EQ(std::memcmp(t->data, "hello", 6), 0);
  release_temp(t);  // frees the data (ASan would report a leak otherwise)
  EXPECT_EQ(temps_in_use(), 0);

  StringDesc outside{};
  ASSERT_TRUE(assign_string(&outside, "0123456789012345678901234567890123", 34));
  EXPECT_EQ(outside.capacity, 64);
  release_temp(&outside);  // outside the pool: freed and cleared, not pooled
  EXPECT_EQ(outside.data, nullptr);
  release_temp(nullptr);
}

TEST_F(RuntimeTest, ContextAreasAreZeroFilledAndAllocatedOnce) {
  auto* area = static_cast<uint8_t*>(context_area(3, 40));
  ASSERT_NE(area, nullptr);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(area[i], 0);
  area[0] = 7;
  EXPECT_EQ(context_area(3, 1000), area);
  EXPECT_EQ(context_area(5, 8), nullptr);
  EXPECT_EQ(context_area(-1, 8), nullptr);
}

TEST_F(RuntimeTest, ViewRowsDefaultToTheWholeScreen) {
  int32_t top = 0, bottom = 0;
  view_rows(&top, &bottom);
  EXPECT_EQ(top, 1);
  EXPECT_EQ(bottom, 30);
  console.rows = 0;  // a console that reports no rows: 25 assumed, bottom kept
  set_view_rows_raw(-1, -1);
  view_rows(&top, &bottom);
  EXPECT_EQ(bottom, 25);
}

TEST_F(RuntimeTest, SetViewRows) {
  struct Case {
    int32_t top, bottom, result, stored_top, stored_bottom;
  };
  const Case cases[] = {
      {5, 10, 5 + 10 * 65536, 5, 10},
      {0, 0, 1 + 30 * 65536, 1, 30},
      {10, 5, 0, 1, 30},   // bottom above top: rejected
      {1, 31, 0, 1, 30},   // beyond the screen
      {31, 31, 0, 1, 30},
      {-1, 20, 1 + 20 * 65536, 1, 20},  // a negative top keeps the current one
  };
  for (const Case& c : cases) {
    set_view_rows_raw(-1, -1);
    EXPECT_EQ(set_view_rows(c.top, c.bottom, 1), c.result) << c.top << "," << c.bottom;
    int32_t top = 0, bottom = 0;
    view_rows(&top, &bottom);
    EXPECT_EQ(top, c.stored_top);
    EXPECT_EQ(bottom, c.stored_bottom);
  }
  set_view_rows_raw(-1, -1);
  console.row = 10;
  set_view_rows(4, 8, 1);
  EXPECT_EQ(console.row, 3);  // the cursor moved to the view's top row
  EXPECT_EQ(console.column, 0);
}

TEST_F(RuntimeTest, LocateChecksTheViewAndKeepsTheScreenColumn) {
  int32_t previous = -1;
  EXPECT_EQ(locate_statement(3, 7, -1, &previous), 0);
  EXPECT_EQ(console.row, 2);
  EXPECT_EQ(console.column, 6);
  EXPECT_EQ(screen_record()->column, 6);
  EXPECT_NE(previous & 0x10000, 0);  // the cursor was visible

  EXPECT_EQ(locate_statement(31, 1, -1, &previous), 1);
  EXPECT_EQ(previous, 0);
  EXPECT_EQ(locate_statement(1, 81, -1, &previous), 1);
  EXPECT_EQ(console.row, 2);  // nothing moved

  // The fallback form still applies the visibility.
  locate(40, 1, 0);
  EXPECT_FALSE(console.cursor_visible);
  EXPECT_EQ(console.row, 2);
}

TEST_F(RuntimeTest, WidthStoresTheColumnsAndResetsTheView) {
  set_view_rows(5, 10, 0);
  EXPECT_EQ(width_statement(40, 25), 0);
  EXPECT_EQ(screen_record()->width, 40);
  int32_t top = 0, bottom = 0;
  view_rows(&top, &bottom);
  EXPECT_EQ(top, 1);
  EXPECT_EQ(bottom, 25);
  // No size given: the hook's answer, nothing else changes.
  EXPECT_EQ(width_statement(0, 0), 40 | (25 << 16));
}

TEST_F(RuntimeTest, ClearScreenResetsTheColumn) {
  screen_record()->column = 12;
  clear_screen(CLEAR_DEFAULT);
  EXPECT_EQ(console.clears, 1);
  EXPECT_EQ(screen_record()->column, 0);
}

TEST_F(RuntimeTest, ScreenRecordTakesItsColumnAndWidthFromTheConsole) {
  runtime_exit();
  runtime_constructor();  // the reset empties the hooks table
  test::install(console);
  console.column = 9;
  console.columns = 64;
  ChannelRecord* s = screen_record();
  EXPECT_EQ(s->mode, MODE_APPEND);
  EXPECT_EQ(s->access, ACCESS_READ_WRITE);
  EXPECT_EQ(s->column, 9);
  EXPECT_EQ(s->width, 64);
  EXPECT_NE(s->handle, nullptr);
}


// The line editor's wait between key-hit tests is the registered one only while its
// key-hit slot serves; any other slot is polled.
int waits = 0;
int32_t registeredKeyHit(int32_t) { return 0; }
int32_t otherKeyHit(int32_t) { return 0; }
void countingWait(int32_t step_ms) {
  EXPECT_EQ(step_ms, 25);
  ++waits;
}

TEST_F(RuntimeTest, KeyHitWaitFollowsTheSlotItWasRegisteredFor) {
  const struct {
    const char* name;
    int32_t (*slot)(int32_t);  // null: the console backend's
    int expected_waits;
  } cases[] = {{"registered slot", registeredKeyHit, 1}, {"another slot", otherKeyHit, 0}, {"backend", nullptr, 0}};
  set_key_hit_wait(registeredKeyHit, countingWait);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    waits = 0;
    console_hooks_table().key_hit = c.slot;
    wait_for_key_hit(25);
    EXPECT_EQ(waits, c.expected_waits);
  }
  console_hooks_table().key_hit = nullptr;
  set_key_hit_wait(nullptr, nullptr);
}

}  // namespace
}  // namespace zv
