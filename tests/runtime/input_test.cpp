// The input statement: number fields as typed, the tokenizer's switches and
// separators, the integer conversions, the line editor's keys checked on a model
// screen (with and without a deferred wrap at the bottom, console and graphics
// form), the prompt as the console receives it, redirected input and an exhausted
// pool of temporaries.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "runtime/hooks.h"
#include "runtime/input.h"
#include "runtime/runtime.h"
#include "runtime/statements.h"
#include "runtime/strings.h"
#include "tests/support/scripted_console.h"

namespace zv {
namespace {

using test::KEY_DELETE;
using test::KEY_DOWN;
using test::KEY_END;
using test::KEY_HOME;
using test::KEY_LEFT;
using test::KEY_RIGHT;
using test::KEY_UP;

const std::string PROMPT = "    a11=";

int beeps = 0;
void count_beep(int32_t frequency, int32_t duration) {
  if (frequency == 1000 && duration == 250) ++beeps;
}

test::ScriptedConsole* keys_console = nullptr;

// Asking for a key when the script has none left means the code under test reads
// past the keys it was given; stop at once instead of waiting for ever.
void require_key() {
  if (keys_console->keys.empty()) {
    std::fprintf(stderr, "waiting for a key beyond the end of the script\n");
    std::abort();
  }
}

int32_t guarded_key_hit(int32_t) {
  require_key();
  return 1;
}

void install_console(test::ScriptedConsole& console) {
  test::install(console);
  keys_console = &console;
  console_hooks_table().key_hit = guarded_key_hit;
}

void reset_runtime() {
  runtime_exit();
  runtime_constructor();
  set_view_rows_raw(-1, -1);
}

class InputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_runtime();
    install_console(console);
    beeps = 0;
    set_line_editor_beep(count_beep);
  }
  void TearDown() override {
    test::uninstall();
    set_line_editor_beep(nullptr);
    set_redirected_stream(nullptr);
    reset_runtime();
  }

  // Types the keys, then Enter, at the calculator's prompt.
  int32_t prompt_with(const std::string& typed) {
    console.type(typed);
    console.press(13);
    return input_prompt(temp_from_text(PROMPT.c_str()), -1, -1);
  }

  double read_double() {
    double v = -12345;
    EXPECT_EQ(input_double(&v), 0);
    return v;
  }

  std::string line() const {
    InputContext* ctx = input_context();
    return std::string(ctx->line.data ? ctx->line.data : "", static_cast<size_t>(string_length(&ctx->line)));
  }

  test::ScriptedConsole console;
};

struct FieldCase {
  const char* typed;
  double first;
  double second;  // the next field of the same line (0 when there is none)
};

TEST_F(InputTest, TypedNumberFields) {
  const std::string ones(70, '1');
  const FieldCase cases[] = {
      {"1,5", 1, 5},
      {"1.5d2", 150, 0},
      {"1.5D2", 150, 0},
      {"2.5e-1", 0.25, 0},
      {"&hFF", 255, 0},
      {"&HfF", 255, 0},
      {"&b101", 5, 0},
      {"&o17", 15, 0},
      {"&17", 15, 0},
      {"&b2", 0, 0},
      {"&b102", 2, 0},
      {"&hd", 13, 0},
      {"&", 0, 0},
      {"&HFFFFFFFFFFFFFFFF", -1, 0},
      {"&H0FFFFFFFFFFFFFFFF", -1, 0},
      {"&B10000000000000000001", 524289, 0},
      {"&hFFFFFFFF", 4294967295.0, 0},
      {"&h7FFFFFF", 134217727, 0},
      {"&hFFFFFFF1", 4294967281.0, 0},
      {"  42  ", 42, 0},
      {"", 0, 0},
      {"abc", 0, 0},
      {"12abc", 12, 0},
      {"-5", -5, 0},
      {"4294967296", 4294967296.0, 0},
      {"123456789012345678", static_cast<double>(123456789012345678LL), 0},
      {"9999999999999999999", 1e19, 0},
      {"99999999999999999999", 1e20, 0},
      {"\"1,5\"", 1, 0},
      {"\"2\" 3", 2, 3},
      {"1 2", 1, 2},
      {" 7 , 8", 7, 8},
      {"1\xff" "2", 1, 0},
      {"1e999", HUGE_VAL, 0},
  };
  for (const FieldCase& c : cases) {
    SCOPED_TRACE(c.typed);
    reset_runtime();
    install_console(console);
    ASSERT_EQ(prompt_with(c.typed), 0);
    EXPECT_EQ(line(), c.typed);
    EXPECT_EQ(read_double(), c.first);
    EXPECT_EQ(read_double(), c.second);
  }
  // A field is cut after 67 characters; the rest starts the next field.
  reset_runtime();
  install_console(console);
  ASSERT_EQ(prompt_with(ones), 0);
  EXPECT_EQ(read_double(), std::strtod(std::string(67, '1').c_str(), nullptr));
  EXPECT_EQ(read_double(), 111);
  EXPECT_EQ(read_double(), 0);
}

TEST_F(InputTest, EachPromptStartsANewLine) {
  ASSERT_EQ(prompt_with("1,5"), 0);
  EXPECT_EQ(read_double(), 1);
  ASSERT_EQ(prompt_with("7"), 0);
  EXPECT_EQ(read_double(), 7);
  EXPECT_EQ(read_double(), 0);
  float f = -1;
  ASSERT_EQ(prompt_with("0.1"), 0);
  EXPECT_EQ(input_single(&f), 0);
  EXPECT_EQ(f, 0.1f);
  ASSERT_EQ(prompt_with("16777217"), 0);
  EXPECT_EQ(input_single(&f), 0);
  EXPECT_EQ(f, 16777216.0f);
}

struct IntCase {
  const char* text;
  int64_t value32;
  int64_t value64;
};

TEST(InputConversion, Integers) {
  const IntCase cases[] = {
      {"", 0, 0},
      {"   ", 0, 0},
      {"  7", 7, 7},
      {"+12", 12, 12},
      {"-5", -5, -5},
      {"12abc", 12, 12},
      {"4294967295", -1, 4294967295LL},
      {"4294967296", -1, 4294967296LL},
      {"-4294967295", 1, -4294967295LL},
      {"9223372036854775807", -1, std::numeric_limits<int64_t>::max()},
      {"9223372036854775808", -1, std::numeric_limits<int64_t>::max()},
      {"-9223372036854775809", -1, std::numeric_limits<int64_t>::min()},
      {"&H7FFFFFFF", std::numeric_limits<int32_t>::max(), 0x7FFFFFFF},
      {"&H80000000", std::numeric_limits<int32_t>::min(), 0x80000000LL},
      {"&H100000001", 1, 0x100000001LL},
      {"&H8000000000000000", 0, std::numeric_limits<int64_t>::min()},
      {"&H10000000000000005", 5, 5},
      {"&hg1", 0, 0},
      {"&o777", 511, 511},
      {"&777", 511, 511},
      {"&8", 0, 0},
      {"&b11111111111111111111111111111111", -1, 4294967295LL},
      {"  &hA", 10, 10},
      {"&", 0, 0},
  };
  for (const IntCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(field_to_int32(c.text), c.value32);
    EXPECT_EQ(field_to_int64(c.text), c.value64);
  }
}

struct TokenCase {
  const char* line;
  int32_t string_flag;
  int32_t max_length;
  std::vector<std::string> fields;
  std::vector<int32_t> float_flags;
};

TEST_F(InputTest, Tokenizer) {
  const TokenCase cases[] = {
      {"a b,c", 0, 67, {"a", "b", "c"}, {0, 0, 0}},
      {"  1  ,  2  ", 0, 67, {"1", "2"}, {0, 0}},
      {"1,", 0, 67, {"1"}, {0}},
      {"1,,2", 0, 67, {"1", "", "2"}, {0, 0, 0}},
      {"1\r\n2", 0, 67, {"1", "2"}, {0, 0}},
      {"1\r2", 0, 67, {"1", "2"}, {0, 0}},
      {"1 \r\n2", 0, 67, {"1", "2"}, {0, 0}},
      {"1\n2", 0, 67, {"1", "2"}, {0, 0}},
      {"\"x y\"z", 0, 67, {"x yz"}, {0}},
      {"ab\"c", 0, 67, {"ab\"c"}, {0}},
      {"\"1,5\",2", 0, 67, {"1,5", "2"}, {0, 0}},
      {"1.5d2 &hd &h1.5 1d", 0, 67, {"1.5e2", "&hd", "&h1.5", "1e"}, {1, 0, 0, 1}},
      {"1D2", 0, 67, {"1E2"}, {1}},
      {"abcxyz", 0, 3, {"abc", "xyz"}, {0, 0}},
      {"\t7\t,\t8", 0, 67, {"7", "8"}, {0, 0}},
      {"\"\t1\t\"", 0, 67, {"\t1\t"}, {0}},
      {"a b,c", 1, 67, {"a b", "c"}, {0, 0}},
      {"1d", 1, 67, {"1d"}, {1}},
      {"\"q\"r", 1, 67, {"q", "r"}, {0, 0}},
      {"x", 0, 0, {"", ""}, {0, 0}},
  };
  for (const TokenCase& c : cases) {
    SCOPED_TRACE(c.line);
    InputContext* ctx = input_context();
    ctx->source = nullptr;
    ctx->position = 0;
    ASSERT_TRUE(assign_string(&ctx->line, c.line, static_cast<int32_t>(std::strlen(c.line))));
    for (size_t i = 0; i < c.fields.size(); ++i) {
      char buffer[FIELD_MAX + 1];
      std::memset(buffer, 'X', sizeof buffer);
      int32_t flag = -1;
      int32_t n = read_field(buffer, c.max_length, c.string_flag, &flag);
      EXPECT_EQ(std::string(buffer, static_cast<size_t>(n)), c.fields[i]) << "field " << i;
      EXPECT_EQ(buffer[n], '\0');
      EXPECT_EQ(flag, c.float_flags[i]) << "field " << i;
    }
    if (c.max_length > 0) {
      EXPECT_EQ(next_input_char(), -1) << "line not used up";
    }
  }
}

TEST_F(InputTest, PutBack) {
  InputContext* ctx = input_context();
  ASSERT_TRUE(assign_string(&ctx->line, "ab", 2));
  EXPECT_EQ(put_back_char('a'), 0);  // nothing read yet
  EXPECT_EQ(next_input_char(), 'a');
  EXPECT_EQ(put_back_char('a'), 1);
  EXPECT_EQ(next_input_char(), 'a');
  EXPECT_EQ(next_input_char(), 'b');
  EXPECT_EQ(next_input_char(), -1);
  EXPECT_EQ(put_back_char(-1), 0);  // the end is not a character: the position stays
  EXPECT_EQ(next_input_char(), -1);

  // With a channel as the source the put-back buffer holds four bytes.
  ctx->source = screen_record();
  for (int i = 0; i < 4; ++i) EXPECT_EQ(put_back_char('0' + i), 1);
  set_error(0);
  EXPECT_EQ(put_back_char('4'), 0);
  EXPECT_EQ(get_error(), ERR_IO);
  EXPECT_EQ(ctx->source->putback_count, 4);
}

// What the console receives: the prompt, "? ", the echo of the keys, the line end.
TEST_F(InputTest, ConsoleReceivesPromptEchoAndLineEnd) {
  ASSERT_EQ(prompt_with("2"), 0);
  EXPECT_EQ(console.output, "    a11=? 2\r\n");
  EXPECT_EQ(read_double(), 2);
  EXPECT_EQ(screen_record()->column, 0);

  console.output.clear();
  console.type("12");
  console.press(KEY_LEFT);
  console.type("3");
  console.press(13);
  ASSERT_EQ(input_prompt(temp_from_text(PROMPT.c_str()), -1, -1), 0);
  EXPECT_EQ(console.output, "    a11=? 12" "32\r\n");
  EXPECT_EQ(read_double(), 132);

  // No question mark, no line end; no prompt descriptor at all shows no "? " either.
  console.output.clear();
  console.type("4");
  console.press(13);
  ASSERT_EQ(input_prompt(temp_from_text("x="), 0, 0), 0);
  EXPECT_EQ(console.output, "x=4");
  console.output.clear();
  console.type("5");
  console.press(13);
  ASSERT_EQ(input_prompt(nullptr, -1, -1), 0);
  EXPECT_EQ(console.output, "5\r\n");
  EXPECT_EQ(temps_in_use(), 0);
  EXPECT_TRUE(console.keys.empty());
}

TEST_F(InputTest, BackspaceAtStartAndDeleteAtEndChangeNothing) {
  console.press(8);
  console.press(KEY_DELETE);
  console.type("5");
  console.press(KEY_DELETE);
  console.press(KEY_HOME);
  console.press(8);
  console.press(13);
  ASSERT_EQ(input_prompt(temp_from_text(PROMPT.c_str()), -1, -1), 0);
  EXPECT_EQ(line(), "5");
  EXPECT_EQ(beeps, 2);
  EXPECT_EQ(console.output, "    a11=? 5\r\n");
}

TEST_F(InputTest, ExhaustedPoolGivesErrorFourAndZero) {
  std::vector<StringDesc*> held;
  for (int i = 0; i < TEMP_POOL_SIZE; ++i) held.push_back(temp_from_literal("x", 1));
  ASSERT_FALSE(is_temp(temp_from_literal("y", 1)));
  console.type("7");
  console.press(13);
  EXPECT_EQ(input_prompt(temp_from_text(PROMPT.c_str()), -1, -1), ERR_NO_MEMORY);
  EXPECT_EQ(get_error(), ERR_NO_MEMORY);
  EXPECT_EQ(console.keys.size(), 2u);  // the editor did not run
  EXPECT_EQ(console.output, "? \r\n");
  EXPECT_EQ(read_double(), 0);

  // With one temporary left the editor runs and can still read its keys.
  release_temp(held.back());
  held.pop_back();
  EXPECT_EQ(input_prompt(temp_from_text(PROMPT.c_str()), -1, -1), 0);
  EXPECT_EQ(read_double(), 7);
  for (StringDesc* s : held) release_temp(s);
  EXPECT_EQ(temps_in_use(), 0);
}

// Redirected input comes from a stream, without prompt or echo; its end never blocks.
TEST_F(InputTest, RedirectedInput) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::fputs("3.5\r\n7,8\n  &h10\n", file);
  std::rewind(file);
  set_redirected_stream(file);
  console.redirected = true;
  console.type("9");  // keys are not read
  console.press(13);
  EXPECT_EQ(input_prompt(temp_from_text(PROMPT.c_str()), -1, -1), 0);
  EXPECT_EQ(temps_in_use(), 0);
  EXPECT_EQ(read_double(), 3.5);
  EXPECT_EQ(input_prompt(temp_from_text(PROMPT.c_str()), -1, -1), 0);
  EXPECT_EQ(read_double(), 7);
  EXPECT_EQ(read_double(), 8);
  EXPECT_EQ(read_double(), 16);
  EXPECT_EQ(input_prompt(temp_from_text(PROMPT.c_str()), -1, -1), 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(read_double(), 0);
  EXPECT_EQ(next_input_char(), -1);
  EXPECT_EQ(console.output, "");
  EXPECT_EQ(console.keys.size(), 2u);

  // A short read pads the buffer with zero bytes and reports what was read.
  std::rewind(file);
  char buffer[32];
  std::memset(buffer, 'X', sizeof buffer);
  size_t count = sizeof buffer;
  ASSERT_NE(screen_ops().read, nullptr);
  EXPECT_EQ(screen_ops().read(screen_record(), buffer, &count), 0);
  EXPECT_EQ(count, 16u);
  EXPECT_EQ(std::string(buffer, 3), "3.5");
  for (size_t i = count; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], '\0');
  std::fclose(file);
}

// Without redirection the screen channel reads the bytes of one keypress at a time.
TEST_F(InputTest, ScreenChannelReadsKeys) {
  console.type("ab");
  console.press(KEY_LEFT);
  console.press(13);
  ASSERT_EQ(input_prompt(temp_from_text(PROMPT.c_str()), -1, -1), 0);  // installs the reader
  console.type("xy");
  console.press(KEY_LEFT);
  uint8_t bytes[4] = {};
  size_t count = 4;
  EXPECT_EQ(read_bytes(screen_record(), bytes, &count), 0);
  ASSERT_EQ(count, 4u);
  EXPECT_EQ(bytes[0], 'x');
  EXPECT_EQ(bytes[1], 'y');
  EXPECT_EQ(bytes[2], 255);
  EXPECT_EQ(bytes[3], 75);
}

// A model text screen behind the print, locate and cursor hooks: wraps at the
// right border at once, scrolls before something is written below the bottom and
// on a line end there, and (when `defers`) leaves the scroll of a print that ends
// exactly at the bottom-right cell pending, as the graphics screen does.
struct ModelScreen {
  int32_t columns = 80, rows = 25;
  bool defers = false;
  std::vector<std::string> cells;
  int32_t x = 0, y = 0;
  bool deferred = false, visible = true;
  int32_t scrolls = 0;
  int32_t bad_waits = 0;  // waits with the wrong cursor form
  bool graphics = false;

  void reset(int32_t w, int32_t h, bool defer) {
    columns = w;
    rows = h;
    defers = defer;
    cells.assign(static_cast<size_t>(h), std::string(static_cast<size_t>(w), ' '));
    x = y = 0;
    deferred = false;
    visible = true;
    scrolls = bad_waits = 0;
  }
  void scroll(int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
      cells.erase(cells.begin());
      cells.emplace_back(static_cast<size_t>(columns), ' ');
      ++scrolls;
    }
    y -= n;
  }
  void print(const uint8_t* bytes, int32_t length, int32_t flags) {
    if (length == 0 && !(flags & 8)) return;
    if (deferred) {
      deferred = false;
      x = 0;
      y = rows;
      scroll(1);
    }
    bool wrote_last = false;
    for (int32_t i = 0; i < length; ++i) {
      uint8_t b = bytes[i];
      wrote_last = false;
      if (b == '\r') {
        x = 0;
      } else if (b == '\n') {
        x = 0;
        ++y;
        if (y >= rows) scroll(y - rows + 1);
      } else {
        if (y >= rows) scroll(y - rows + 1);
        cells[static_cast<size_t>(y)][static_cast<size_t>(x)] = static_cast<char>(b);
        if (++x == columns) {
          x = 0;
          ++y;
        }
        wrote_last = true;
      }
    }
    if (y >= rows) {
      if (defers && wrote_last && x == 0 && y == rows) {
        deferred = true;
        x = columns - 1;
        y = rows - 1;
      } else {
        scroll(y - rows + 1);
      }
    }
  }
  std::vector<std::string> trimmed() const {
    std::vector<std::string> out;
    for (const std::string& r : cells) out.push_back(r.substr(0, r.find_last_not_of(' ') + 1));
    return out;
  }
};

ModelScreen model;

void model_print(const uint8_t* bytes, int32_t length, int32_t flags) { model.print(bytes, length, flags); }
int32_t model_locate(int32_t row, int32_t column, int32_t visibility) {
  int32_t previous = (model.visible ? 0x10000 : 0) | (model.y << 8) | model.x;
  if (row > 0 || column > 0) model.deferred = false;
  if (row > 0) model.y = row - 1;
  if (column > 0) model.x = column - 1;
  if (visibility == 0) model.visible = false;
  if (visibility == 1) model.visible = true;
  return previous;
}
void model_position(int32_t* column, int32_t* row) {
  if (column) *column = model.x + 1;
  if (row) *row = model.y + 1;
}
int32_t model_column() { return model.x + 1; }
int32_t model_row() { return model.y + 1; }
void model_size(int32_t* columns, int32_t* rows) {
  if (columns) *columns = model.columns;
  if (rows) *rows = model.rows;
}
// Checks the cursor while the editor waits: the mark under a hidden cursor in
// graphics form, a visible cursor on the console.
int32_t model_key_hit(int32_t) {
  bool ok = model.graphics
                ? !model.visible && static_cast<uint8_t>(model.cells[static_cast<size_t>(model.y)][static_cast<size_t>(model.x)]) == 255
                : model.visible;
  if (!ok) ++model.bad_waits;
  require_key();
  return 1;
}
int32_t model_line_input(StringDesc* prompt, StringDesc* dest, int32_t length, int32_t fill, int32_t question,
                         int32_t line_end) {
  return line_input_sequence(prompt, dest, length, fill, question, line_end, model.graphics ? 1 : 0);
}

void install_model(test::ScriptedConsole& console, int32_t w, int32_t h, bool defers, bool graphics) {
  install_console(console);
  model.reset(w, h, defers);
  model.graphics = graphics;
  ConsoleHooks& hooks = console_hooks_table();
  hooks.print_buffer = model_print;
  hooks.locate = model_locate;
  hooks.get_position = model_position;
  hooks.get_column = model_column;
  hooks.get_row = model_row;
  hooks.get_size = model_size;
  hooks.key_hit = model_key_hit;
  hooks.line_input = model_line_input;
}

// The rows a screen of w x h shows after the content was printed from the top
// left and a line end followed it, scrolling as needed.
std::vector<std::string> expected_rows(const std::string& content, int32_t w, int32_t h) {
  size_t total = content.size() / static_cast<size_t>(w) + 2;
  std::vector<std::string> all;
  for (size_t r = 0; r < total; ++r) {
    std::string row = r * static_cast<size_t>(w) < content.size() ? content.substr(r * static_cast<size_t>(w), static_cast<size_t>(w)) : "";
    all.push_back(row.substr(0, row.find_last_not_of(' ') + 1));
  }
  size_t first = all.size() > static_cast<size_t>(h) ? all.size() - static_cast<size_t>(h) : 0;
  std::vector<std::string> shown(all.begin() + static_cast<long>(first), all.end());
  shown.resize(static_cast<size_t>(h));
  return shown;
}

struct EditCase {
  const char* name;
  std::vector<int32_t> keys;  // Enter is added
  std::string expected;
  int expected_beeps;
};

std::vector<int32_t> text_keys(const std::string& s) { return std::vector<int32_t>(s.begin(), s.end()); }
std::vector<int32_t> operator+(std::vector<int32_t> a, const std::vector<int32_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<EditCase> edit_cases(int32_t w) {
  std::string wide(static_cast<size_t>(w) + 3, 'a');
  for (size_t i = 0; i < wide.size(); ++i) wide[i] = static_cast<char>('a' + i % 26);
  std::string up = wide.substr(0, 3) + "X" + wide.substr(3) + "Y";
  return {
      {"insert after left", text_keys("12") + std::vector<int32_t>{KEY_LEFT} + text_keys("3"), "132", 0},
      {"home", text_keys("abc") + std::vector<int32_t>{KEY_HOME} + text_keys("x"), "xabc", 0},
      {"end", text_keys("abc") + std::vector<int32_t>{KEY_HOME, KEY_END} + text_keys("d"), "abcd", 0},
      {"backspace inside", text_keys("abc") + std::vector<int32_t>{KEY_LEFT, KEY_LEFT, 8}, "bc", 0},
      {"backspace at end", text_keys("abc") + std::vector<int32_t>{8, 8}, "a", 0},
      {"backspace at start", std::vector<int32_t>{8} + text_keys("a") + std::vector<int32_t>{KEY_HOME, 8}, "a", 0},
      {"delete", text_keys("ab") + std::vector<int32_t>{KEY_DELETE, KEY_LEFT, KEY_DELETE}, "a", 1},
      {"delete first", text_keys("abc") + std::vector<int32_t>{KEY_HOME, KEY_DELETE}, "bc", 0},
      {"escape", text_keys("abc") + std::vector<int32_t>{27} + text_keys("x"), "x", 0},
      {"escape empty", std::vector<int32_t>{27}, "", 0},
      {"tab", text_keys("a") + std::vector<int32_t>{9} + text_keys("b"), "a       b", 0},
      {"tab at eight", text_keys("12345678") + std::vector<int32_t>{9, 9}, "12345678" + std::string(16, ' '), 0},
      {"tab inside", text_keys("ab") + std::vector<int32_t>{KEY_LEFT, 9}, "a       b", 0},
      {"left at start, right at end", text_keys("a") + std::vector<int32_t>{KEY_RIGHT, KEY_HOME, KEY_LEFT} + text_keys("b"), "ba", 0},
      {"right", text_keys("abc") + std::vector<int32_t>{KEY_HOME, KEY_RIGHT} + text_keys("x"), "axbc", 0},
      {"up and down", text_keys(wide) + std::vector<int32_t>{KEY_UP, KEY_UP} + text_keys("X") +
                          std::vector<int32_t>{KEY_DOWN, KEY_DOWN} + text_keys("Y"), up, 0},
      {"up too near the start", text_keys("ab") + std::vector<int32_t>{KEY_UP, KEY_DOWN} + text_keys("c"), "abc", 0},
      {"character 255", text_keys("1") + std::vector<int32_t>{255} + text_keys("2"), "1\xff" "2", 0},
      {"ignored keys", std::vector<int32_t>{0, 1, 7, 31, test::extended_key(59), test::extended_key(73)} + text_keys("z"), "z", 0},
      {"line feed ends", text_keys("5") + std::vector<int32_t>{10} + text_keys("6"), "5", 0},
  };
}

TEST_F(InputTest, EditorKeysOnModelScreens) {
  const int32_t sizes[][2] = {{80, 25}, {12, 6}, {10, 5}, {9, 6}};
  for (const auto& size : sizes)
    for (bool defers : {false, true})
      for (bool graphics : {false, true})
        for (const EditCase& c : edit_cases(size[0])) {
          SCOPED_TRACE(testing::Message() << c.name << " on " << size[0] << "x" << size[1]
                                          << (defers ? " deferring" : "") << (graphics ? " graphics" : " console"));
          reset_runtime();
          test::ScriptedConsole keys;
          for (int32_t k : c.keys) keys.press(k);
          keys.press(13);
          install_model(keys, size[0], size[1], defers, graphics);
          beeps = 0;
          ASSERT_EQ(input_prompt(temp_from_text(PROMPT.c_str()), -1, -1), 0);
          EXPECT_EQ(line(), c.expected);
          EXPECT_EQ(beeps, c.expected_beeps);
          EXPECT_EQ(model.trimmed(), expected_rows("    a11=? " + c.expected, size[0], size[1]));
          EXPECT_EQ(model.bad_waits, 0);
          EXPECT_TRUE(model.visible);
          EXPECT_EQ(model.x, 0);
          test::uninstall();
        }
}

// A line that reaches the end of the bottom row: the screen scrolls once, whether
// the printer scrolls at once or leaves the scroll pending, and editing continues
// on the rows the line moved to.
TEST_F(InputTest, EditorAtTheBottomRow) {
  for (bool defers : {false, true})
    for (bool graphics : {false, true}) {
      SCOPED_TRACE(testing::Message() << (defers ? "deferring" : "scrolling") << (graphics ? " graphics" : ""));
      reset_runtime();
      test::ScriptedConsole keys;
      keys.type("abcdefghij");
      keys.type("k");
      keys.press(KEY_HOME);
      keys.type("Z");
      keys.press(KEY_END);
      keys.press(KEY_UP);
      keys.type("Y");
      keys.press(13);
      install_model(keys, 10, 3, defers, graphics);
      locate(3, 1, 0);  // the editor starts on the bottom row with the cursor hidden
      StringDesc line{};
      ASSERT_EQ(line_editor(&line, graphics ? 1 : 0), &line);
      EXPECT_EQ(std::string(line.data, static_cast<size_t>(string_length(&line))), "ZaYbcdefghijk");
      EXPECT_EQ(model.scrolls, 1);
      EXPECT_EQ(model.trimmed(), (std::vector<std::string>{"", "ZaYbcdefgh", "ijk"}));
      EXPECT_EQ(model.x, 3);
      EXPECT_EQ(model.y, 2);
      EXPECT_FALSE(model.visible);  // restored as it was
      EXPECT_EQ(model.bad_waits, 0);
      free_string(&line);
      test::uninstall();
    }
}

}  // namespace
}  // namespace zv
