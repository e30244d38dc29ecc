// Mode setting: the mode table, depth rules, the driver search with its passes and
// fallbacks, the hooks filled and cleared, titles, and the line readers of the
// graphics screen.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/environment.h"
#include "gfx/line_input.h"
#include "gfx/text_render.h"
#include "runtime/channel.h"
#include "runtime/input.h"
#include "runtime/print.h"
#include "runtime/statements.h"
#include "tests/gfx/mode_test_support.h"
#include "tests/support/scripted_console.h"

namespace zvtest {
namespace {

using namespace zv;

bool hooksAreGraphics() {
  return std::memcmp(&console_hooks_table(), &graphicsConsoleHooks(), sizeof(ConsoleHooks)) == 0;
}

bool hooksAreEmpty() {
  const ConsoleHooks empty{};
  return std::memcmp(&console_hooks_table(), &empty, sizeof(ConsoleHooks)) == 0;
}

// The text of a row of the active page's cells, trailing blanks cut.
std::string cellRow(int32_t row) {
  const ScreenState* s = currentScreen();
  std::string text;
  for (int32_t x = 0; x < s->text_columns; ++x)
    text.push_back(static_cast<char>(s->text_pages[0][row * s->text_columns + x].code));
  return text.substr(0, text.find_last_not_of(' ') + 1);
}

class ScreenModeTest : public ModeTest {};

TEST_F(ScreenModeTest, Mode18BuildsTheCalculatorsScreen) {
  screen_record()->column = 17;
  ASSERT_EQ(setScreenMode(18, 8, 0, 0, 0), 0);
  const ScreenState* s = currentScreen();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->mode_number, 18);
  EXPECT_EQ(s->width, 640);
  EXPECT_EQ(s->height, 480);
  EXPECT_EQ(s->depth, 8);
  EXPECT_EQ(s->bytes_per_pixel, 1);
  EXPECT_EQ(s->pitch, 640);
  EXPECT_EQ(s->page_count, 1);
  EXPECT_EQ(s->font, builtinFont(16));
  EXPECT_EQ(s->default_palette, builtinPalette(256));
  EXPECT_EQ(s->text_columns, 80);
  EXPECT_EQ(s->text_rows, 30);
  EXPECT_FLOAT_EQ(s->aspect, 1.0f);
  EXPECT_EQ(s->colour_mask, 0xFFu);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(s->framebuffer) % 16, 0u);
  EXPECT_EQ(s->driver, &drivers_[0]);
  EXPECT_TRUE(hooksAreGraphics());
  EXPECT_EQ(screen_record()->column, 0);
  EXPECT_EQ(get_error(), 0);

  // The first driver opened once, with the program's name as title.
  ASSERT_EQ(recording().opens.size(), 1u);
  EXPECT_EQ(recording().opens[0], (OpenCall{"DirectX", "test_gfx", 640, 480, 8, 0, 0}));
  EXPECT_TRUE(recording().closes.empty());

  // The driver heard the whole default palette once the window was open.
  ASSERT_EQ(driverLog().colours.size(), 256u);
  const uint8_t* rgb = builtinPalette(256)->rgb_data;
  EXPECT_EQ(driverLog().colours[40], (ColourCall{40, rgb[120], rgb[121], rgb[122]}));
  EXPECT_EQ(s->palette[40], rgb[120] | rgb[121] << 8 | rgb[122] << 16);

  // Cleared pixels, blank cells, cursor home, view on the whole grid, all rows dirty.
  for (int32_t i = 0; i < s->height * s->pitch; ++i) ASSERT_EQ(s->framebuffer[i], 0) << i;
  EXPECT_EQ(cellRow(0), "");
  EXPECT_EQ(s->text_pages[0][0].code, 32);
  EXPECT_EQ(s->cursor_column, 0);
  EXPECT_EQ(s->cursor_row, 0);
  EXPECT_EQ(view_top_raw(), 0);
  EXPECT_EQ(view_bottom_raw(), 29);
  for (int32_t y = 0; y < s->height; ++y) ASSERT_EQ(s->dirty_lines[y], 1) << y;
  EXPECT_EQ(driverLog().locks, driverLog().unlocks);
}

TEST_F(ScreenModeTest, DepthRulesOfTheNumberedModes) {
  struct Case {
    int32_t mode, depth, flags;
    int32_t want_depth, want_bytes;
  } cases[] = {
      {13, 32, 0, 8, 1},  {14, 32, 0, 32, 4}, {14, 24, 0, 32, 4}, {14, 12, 0, 8, 1},
      {14, 15, 0, 16, 2}, {18, 16, 0, 16, 2}, {18, 8, 0x02, 16, 2}, {18, 32, 0x02, 32, 4},
      {12, 0, 0, 4, 1},   {11, 8, 0, 1, 1},   {1, 0, 0, 2, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << " depth " << c.depth);
    recording().opens.clear();
    ASSERT_EQ(setScreenMode(c.mode, c.depth, 0, c.flags, 0), 0);
    const ScreenState* s = currentScreen();
    EXPECT_EQ(s->depth, c.want_depth);
    EXPECT_EQ(s->bytes_per_pixel, c.want_bytes);
    EXPECT_EQ(s->pitch, s->width * c.want_bytes);
    ASSERT_EQ(recording().opens.size(), 1u);
    EXPECT_EQ(recording().opens[0].depth, c.want_depth);
  }
}

TEST_F(ScreenModeTest, LineDoubledModesOpenTwiceAsTall) {
  ASSERT_EQ(setScreenMode(2, 0, 0, 0, 0), 0);
  const ScreenState* s = currentScreen();
  EXPECT_EQ(s->height, 200);
  EXPECT_EQ(s->scanline_size, 2);
  EXPECT_EQ(recording().opens.back().height, 400);
  EXPECT_EQ(s->font, builtinFont(8));
  EXPECT_FLOAT_EQ(s->aspect, static_cast<float>(200.0 / 640.0 * 1.3333333333333333));
  // A dirty-line entry per window row (read all 400: the sanitizer build catches a
  // shorter array); the core marks the framebuffer rows only.
  int marked = 0;
  for (int32_t y = 0; y < 400; ++y) marked += s->dirty_lines[y];
  EXPECT_EQ(marked, 200);
}

TEST_F(ScreenModeTest, PageCountsComeFromTheTableOrTheRequest) {
  ASSERT_EQ(setScreenMode(9, 0, 0, 0, 0), 0);
  EXPECT_EQ(currentScreen()->page_count, 2);
  EXPECT_EQ(currentScreen()->default_palette, builtinPalette(64));
  EXPECT_EQ(currentScreen()->font, builtinFont(14));
  ASSERT_EQ(setScreenMode(18, 8, 3, 0, 0), 0);
  const ScreenState* s = currentScreen();
  ASSERT_EQ(s->page_count, 3);
  for (int32_t p = 0; p < 3; ++p) {
    EXPECT_EQ(reinterpret_cast<uintptr_t>(s->pages[p]) % 16, 0u);
    EXPECT_EQ(s->pages[p][s->height * s->pitch - 1], 0);
  }
}

TEST_F(ScreenModeTest, FlagsReachTheDriverAndTheStateFlags) {
  ASSERT_EQ(setScreenMode(18, 8, 0, 0x10, 0), 0);
  EXPECT_EQ(recording().opens.back().flags, 0x1C);
  ASSERT_EQ(setScreenMode(18, 32, 0, 0x40 | 0x80 | 0x02, 75), 0);
  EXPECT_EQ(recording().opens.back().flags, 0xC2);
  EXPECT_EQ(recording().opens.back().refresh_rate, 75);
  const uint32_t state = currentScreen()->state_flags;
  EXPECT_TRUE(state & SCREEN_ALPHA_PRIMITIVES);
  EXPECT_TRUE(state & SCREEN_HIGH_PRIORITY);
  EXPECT_TRUE(state & SCREEN_OPENGL);
}

TEST_F(ScreenModeTest, ScreensBySize) {
  ASSERT_EQ(setScreenSize(1000, 100, 8, 0, 0, 0), 0);
  const ScreenState* s = currentScreen();
  EXPECT_EQ(s->mode_number, -1);
  EXPECT_EQ(s->text_columns, 125);
  EXPECT_EQ(s->text_rows, 12);
  EXPECT_EQ(s->font, builtinFont(8));
  EXPECT_EQ(s->default_palette, builtinPalette(256));
  EXPECT_FLOAT_EQ(s->aspect, 1.0f);
  EXPECT_EQ(s->depth, 8);

  // Wider than 255 text columns: the grid is not cut to 8 bits.
  ASSERT_EQ(setScreenSize(2400, 16, 15, 0, 0, 0), 0);
  EXPECT_EQ(currentScreen()->text_columns, 300);
  EXPECT_EQ(currentScreen()->depth, 16);

  // Refused sizes and depths change nothing.
  const int32_t id = currentScreen()->id;
  struct Bad {
    int32_t width, height, depth;
  } bad[] = {{0, 10, 8}, {10, -1, 8}, {10, 10, 12}, {10, 10, 0}, {70000, 10, 8}};
  for (const Bad& b : bad) {
    EXPECT_EQ(setScreenSize(b.width, b.height, b.depth, 0, 0, 0), 1);
    EXPECT_EQ(get_error(), 1);
    ASSERT_NE(currentScreen(), nullptr);
    EXPECT_EQ(currentScreen()->id, id);
  }
}

TEST_F(ScreenModeTest, RefusedModeNumbersLeaveTheScreenOpen) {
  ASSERT_EQ(setScreenMode(18, 8, 0, 0, 0), 0);
  const int32_t id = currentScreen()->id;
  for (int32_t mode : {22, -1, 3, 6, 1000, INT32_MIN}) {
    EXPECT_EQ(setScreenMode(mode, 8, 0, 0, 0), 1) << mode;
    ASSERT_NE(currentScreen(), nullptr);
    EXPECT_EQ(currentScreen()->id, id);
    EXPECT_TRUE(hooksAreGraphics());
  }
  EXPECT_EQ(recording().opens.size(), 1u);
}

TEST_F(ScreenModeTest, ASecondModeReplacesTheScreen) {
  ASSERT_EQ(setScreenMode(18, 8, 0, 0, 0), 0);
  const int32_t first_id = currentScreen()->id;
  graphicsPrintBuffer(reinterpret_cast<const uint8_t*>("old"), 3, 0);
  ASSERT_EQ(setScreenMode(13, 8, 0, 0, 0), 0);
  const ScreenState* s = currentScreen();
  EXPECT_GT(s->id, first_id);
  EXPECT_EQ(s->width, 320);
  EXPECT_EQ(s->text_columns, 40);
  EXPECT_EQ(cellRow(0), "");
  EXPECT_EQ(s->cursor_column, 0);
  ASSERT_EQ(recording().closes.size(), 1u);
  EXPECT_EQ(recording().closes[0], "DirectX");
  EXPECT_EQ(recording().opens.size(), 2u);
  EXPECT_EQ(view_bottom_raw(), 24);
}

// The driver search: which drivers are opened, in which order, with which flags.
struct SearchCase {
  const char* label;            // the test's name in listings
  const char* name;             // the chosen driver name, null for none
  int refused[3];               // opens each driver refuses (-1: all)
  int32_t flags;
  std::vector<std::string> opened;  // driver and flags of every open, "GDI/1" etc.
  const char* found;            // null when the search fails
};

class DriverSearchTest : public ModeTest, public testing::WithParamInterface<SearchCase> {};

TEST_P(DriverSearchTest, TriesThePassesInOrder) {
  const SearchCase& c = GetParam();
  if (c.name) zv::test::set_env("ZVGFX", c.name);
  for (int i = 0; i < 3; ++i) recording().refused_opens[i] = c.refused[i];
  const int32_t result = setScreenMode(18, 8, 0, c.flags, 60);
  std::vector<std::string> opened;
  for (const OpenCall& call : recording().opens)
    opened.push_back(call.driver + "/" + std::to_string(call.flags) + "@" +
                     std::to_string(call.refresh_rate));
  EXPECT_EQ(opened, c.opened);
  // Every refused open is followed by that driver's close, and only by it.
  EXPECT_EQ(recording().closes.size(), opened.size() - (c.found ? 1 : 0));
  if (c.found) {
    EXPECT_EQ(result, 0);
    ASSERT_NE(currentScreen(), nullptr);
    EXPECT_STREQ(currentScreen()->driver->name, c.found);
    EXPECT_TRUE(hooksAreGraphics());
  } else {
    EXPECT_EQ(result, 1);
    EXPECT_EQ(get_error(), 1);
    EXPECT_EQ(currentScreen(), nullptr);
    EXPECT_TRUE(hooksAreEmpty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Passes, DriverSearchTest,
    testing::Values(
        SearchCase{"FirstDriverOpens", nullptr, {0, 0, 0}, 0, {"DirectX/0@60"}, "DirectX"},
        SearchCase{"NamedDriverFirst", "gdi", {0, 0, 0}, 0, {"GDI/0@60"}, "GDI"},
        SearchCase{"NameIgnoresCaseFullScreen", "OPENGL", {0, 0, 0}, 1, {"OpenGL/1@60"}, "OpenGL"},
        // The requested refresh rate first, then 0.
        SearchCase{"RefreshRateThenZero", nullptr, {1, 0, 0}, 0, {"DirectX/0@60", "DirectX/0@0"}, "DirectX"},
        // A full-screen request nobody can satisfy falls back to a window.
        SearchCase{"FullScreenFallsBackToWindow", nullptr, {2, 2, 2}, 1,
                   {"DirectX/1@60", "DirectX/1@0", "GDI/1@60", "GDI/1@0", "OpenGL/1@60",
                    "OpenGL/1@0", "DirectX/0@60"},
                   "DirectX"},
        // A named driver that fails: then every driver, then the named one toggled.
        SearchCase{"NamedFailsThenAll", "GDI", {0, -1, 0}, 0, {"GDI/0@60", "GDI/0@0", "DirectX/0@60"}, "DirectX"},
        SearchCase{"NamedToggledAfterAll", "gdi", {-1, 2, -1}, 0,
                   {"GDI/0@60", "GDI/0@0", "DirectX/0@60", "DirectX/0@0", "GDI/0@60"}, "GDI"},
        SearchCase{"NamedAllFail", "GDI", {-1, -1, -1}, 0,
                   {"GDI/0@60", "GDI/0@0", "DirectX/0@60", "DirectX/0@0", "GDI/0@60", "GDI/0@0",
                    "OpenGL/0@60", "OpenGL/0@0", "GDI/1@60", "GDI/1@0", "DirectX/1@60",
                    "DirectX/1@0", "GDI/1@60", "GDI/1@0", "OpenGL/1@60", "OpenGL/1@0"},
                   nullptr},
        // A name that matches no driver costs only the filtered passes.
        SearchCase{"UnknownNameCostsFilteredPasses", "vesa", {0, 0, 0}, 0, {"DirectX/0@60"}, "DirectX"},
        SearchCase{"AllFail", nullptr, {-1, -1, -1}, 0,
                   {"DirectX/0@60", "DirectX/0@0", "GDI/0@60", "GDI/0@0", "OpenGL/0@60",
                    "OpenGL/0@0", "DirectX/1@60", "DirectX/1@0", "GDI/1@60", "GDI/1@0",
                    "OpenGL/1@60", "OpenGL/1@0"},
                   nullptr}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(ScreenModeTest, TheNullScreenHasNoWindow) {
  for (const char* name : {"null", "NULL", "Null"}) {
    zv::test::set_env("ZVGFX", name);
    ASSERT_EQ(setScreenMode(18, 8, 0, 0, 0), 0) << name;
    EXPECT_EQ(currentScreen()->driver, &nullWindowDriver());
  }
  zv::test::unset_env("ZVGFX");
  ASSERT_EQ(setScreenMode(12, 0, 0, -1, 0), 0);
  EXPECT_EQ(currentScreen()->driver, &nullWindowDriver());
  // Flags -1 are a whole-word value: none of their bits counts.
  EXPECT_EQ(currentScreen()->depth, 4);
  EXPECT_EQ(currentScreen()->state_flags & (SCREEN_ALPHA_PRIMITIVES | SCREEN_OPENGL), 0u);
  EXPECT_TRUE(recording().opens.empty());
  // Drawing works on it all the same.
  graphicsPrintBuffer(reinterpret_cast<const uint8_t*>("ok"), 2, 0);
  EXPECT_EQ(cellRow(0), "ok");
}

TEST_F(ScreenModeTest, TheDriverNameOverrideWinsOverTheEnvironment) {
  zv::test::set_env("ZVGFX", "null");
  setScreenDriverName("OpenGL");
  ASSERT_EQ(setScreenMode(18, 8, 0, 0, 0), 0);
  EXPECT_STREQ(currentScreen()->driver->name, "OpenGL");
  setScreenDriverName("");
  ASSERT_EQ(setScreenMode(18, 8, 0, 0, 0), 0);
  EXPECT_EQ(currentScreen()->driver, &nullWindowDriver());
}

TEST_F(ScreenModeTest, TheNullScreenTakesItsKeysFromTheTextConsole) {
  test::ScriptedConsole console;
  test::install(console);
  zv::test::set_env("ZVGFX", "null");
  ASSERT_EQ(setScreenMode(18, 8, 0, 0, 0), 0);
  console.type("7\r");
  console.press(test::KEY_HOME);
  console.redirected = true;
  // Keys, pauses and the redirection question are the console's; drawing stays on
  // the screen in memory.
  EXPECT_EQ(call_hook<&ConsoleHooks::key_hit>(0), 1);
  EXPECT_EQ(call_hook<&ConsoleHooks::get_key>(), '7');
  EXPECT_EQ(call_hook<&ConsoleHooks::is_redirected>(1), 1);
  sleep_statement(-1);
  EXPECT_EQ(console.pauses, 1);
  ASSERT_EQ(console.keys.size(), 1u);  // the pause took the Enter
  char line[8] = {};
  console.type("42\r");
  EXPECT_EQ(call_hook<&ConsoleHooks::read_string>(line, 8), line);
  EXPECT_STREQ(line, "42\r");  // the line reader passes over Home
  EXPECT_TRUE(console.output.empty());
  // A screen with a driver keeps its own keyboard.
  zv::test::unset_env("ZVGFX");
  ASSERT_EQ(setScreenMode(18, 8, 0, 0, 0), 0);
  EXPECT_TRUE(hooksAreGraphics());
  test::uninstall();
}

TEST_F(ScreenModeTest, NoDriverLeavesTheTextConsoleServing) {
  test::ScriptedConsole console;
  test::install(console);
  setWindowDriverList(nullptr);  // the built-in list, empty in this build
  screen_record()->column = 5;
  EXPECT_EQ(setScreenMode(18, 8, 0, 0, 0), 1);
  EXPECT_EQ(currentScreen(), nullptr);
  EXPECT_TRUE(hooksAreEmpty());
  // The failed attempt neither clears nor resizes the console.
  EXPECT_EQ(console.clears, 0);
  EXPECT_EQ(console.columns, 80);
  EXPECT_EQ(screen_record()->column, 5);
  print_text(CHANNEL_SCREEN, "still here", PRINT_NONE);
  EXPECT_EQ(console.output, "still here");
  test::uninstall();
}

TEST_F(ScreenModeTest, ModeZeroGivesTheConsoleBack) {
  test::ScriptedConsole console;
  console.columns = 132;
  console.rows = 43;
  test::install(console);
  // Without a screen open: the console is still reset and cleared.
  EXPECT_EQ(setScreenMode(0, 0, 0, 0, 0), 0);
  EXPECT_EQ(console.columns, 80);
  EXPECT_EQ(console.rows, 25);
  EXPECT_EQ(console.clears, 1);
  EXPECT_TRUE(hooksAreEmpty());
  EXPECT_EQ(view_bottom_raw(), 24);

  ASSERT_EQ(setScreenMode(18, 8, 0, 0, 0), 0);
  EXPECT_EQ(console.clears, 1);  // the graphics screen's clear is its own
  console.columns = 100;
  EXPECT_EQ(setScreenMode(0, 0, 0, 0, 0), 0);
  EXPECT_EQ(currentScreen(), nullptr);
  EXPECT_EQ(recording().closes, std::vector<std::string>{"DirectX"});
  EXPECT_EQ(console.columns, 80);
  EXPECT_EQ(console.clears, 2);
  EXPECT_TRUE(hooksAreEmpty());

  // Closing at exit takes the screen down and leaves the console alone.
  ASSERT_EQ(setScreenMode(18, 8, 0, 0, 0), 0);
  closeScreenAtExit();
  EXPECT_EQ(currentScreen(), nullptr);
  EXPECT_TRUE(hooksAreEmpty());
  EXPECT_EQ(console.clears, 2);
  test::uninstall();
}

TEST_F(ScreenModeTest, ModeWithPagesSelectsThem) {
  EXPECT_EQ(setScreenModePages(9, -1, -1), 0);
  ASSERT_NE(currentScreen(), nullptr);
  EXPECT_EQ(currentScreen()->visible_page, 0);
  EXPECT_EQ(setScreenModePages(9, 1, 1), 0);
  EXPECT_EQ(currentScreen()->visible_page, 1);
  EXPECT_EQ(getDrawContext()->active_page, 1);
  // The result is the page selection's: the pair before it, on the fresh screen 0.
  EXPECT_EQ(setScreenModePages(9, 5, 1), 0);
  EXPECT_EQ(getDrawContext()->active_page, 0);  // there is no page 5
  EXPECT_EQ(currentScreen()->visible_page, 1);
  EXPECT_EQ(setScreenModePages(4, 0, 0), 1);  // there is no mode 4
}

TEST_F(ScreenModeTest, WindowTitles) {
  const std::string long_title(200, 'T');
  setWindowTitle(long_title.data(), static_cast<int32_t>(long_title.size()));
  EXPECT_EQ(std::string(windowTitle()), std::string(127, 'T'));
  ASSERT_EQ(setScreenMode(18, 8, 0, 0, 0), 0);
  EXPECT_EQ(recording().opens.back().title, std::string(127, 'T'));
  EXPECT_EQ(recording().titles_set, 0);
  setWindowTitle("L\x94" "sung", 6);
  EXPECT_EQ(recording().titles_set, 1);
  EXPECT_EQ(recording().last_title, "L\x94" "sung");
  // The title survives mode changes.
  ASSERT_EQ(setScreenMode(13, 8, 0, 0, 0), 0);
  EXPECT_EQ(recording().opens.back().title, "L\x94" "sung");
  setWindowTitle(nullptr, 0);
}

// The line readers, with keys queued before the call as a driver would post them.
class GraphicsLineInputTest : public ModeTest {
 protected:
  void SetUp() override {
    ModeTest::SetUp();
    useTestDriverOnly();
    ASSERT_EQ(setScreenMode(18, 8, 0, 0, 0), 0);
  }
  static void type(const std::string& keys) {
    for (unsigned char k : keys) post(k);
  }
};

TEST_F(GraphicsLineInputTest, TheInputStatementEditsInTheWindow) {
  type("12");
  post(EDITOR_KEY_LEFT);
  type("3\r");
  StringDesc* prompt = temp_from_literal("a11", 3);
  ASSERT_EQ(input_prompt(prompt, 1, 1), 0);
  double value = 0;
  ASSERT_EQ(input_double(&value), 0);
  EXPECT_EQ(value, 132.0);
  EXPECT_EQ(cellRow(0), "a11? 132");
  // The cursor bar is gone and the line end moved the cursor down.
  EXPECT_EQ(currentScreen()->text_pages[0][8].code, 32);
  EXPECT_EQ(currentScreen()->cursor_row, 1);
  EXPECT_EQ(currentScreen()->cursor_column, 0);
}

TEST_F(GraphicsLineInputTest, WideLineInputStoresUnits) {
  type("ab\r");
  const uint16_t units[] = {'x', 0x263A, '='};
  StringDesc prompt{};
  ASSERT_TRUE(assign_string(&prompt, reinterpret_cast<const char*>(units), 6));
  prompt.length = 3 | (prompt.length & STRING_OWNED);
  StringDesc line{};
  ASSERT_EQ(graphicsLineInputWide(&prompt, &line, -1, 0, 0, 0), 0);
  ASSERT_EQ(string_length(&line), 2);
  const auto* got = reinterpret_cast<const uint16_t*>(line.data);
  EXPECT_EQ(got[0], 'a');
  EXPECT_EQ(got[1], 'b');
  EXPECT_EQ(cellRow(0), "x?=ab");
  free_string(&line);
  free_string(&prompt);
}

TEST_F(GraphicsLineInputTest, ReadStringEchoesWithABlockCursor) {
  type("ab");
  post(7);
  post(EDITOR_KEY_LEFT);  // extended keys are ignored
  type("\bc\r");
  char buffer[16];
  ASSERT_EQ(graphicsReadString(buffer, sizeof buffer), buffer);
  EXPECT_STREQ(buffer, "ac\r");
  // The block went with Enter; the carriage return took the cursor to column 0.
  EXPECT_EQ(cellRow(0), "ac");
  EXPECT_EQ(currentScreen()->cursor_column, 0);
  EXPECT_EQ(currentScreen()->cursor_row, 0);
}

TEST_F(GraphicsLineInputTest, ReadStringKeepsToItsBufferAndWrapsBack) {
  ScreenState* s = currentScreen();
  // Start in the last column: the block wraps to the next row and Backspace brings
  // the cursor back across the row boundary.
  graphicsLocate(3, 80, -1);
  type("x\b\b");  // the second Backspace finds the buffer empty
  type("pqrs\r");
  char buffer[4];
  ASSERT_EQ(graphicsReadString(buffer, sizeof buffer), buffer);
  EXPECT_STREQ(buffer, "pqr");  // n - 1 bytes; Enter found no room
  EXPECT_EQ(s->text_pages[0][2 * 80 + 79].code, 'p');
  EXPECT_EQ(cellRow(3), "qr");
  EXPECT_EQ(s->text_pages[0][3 * 80 + 2].code, 32);  // no block left behind
}

TEST_F(GraphicsLineInputTest, ReadStringWithoutAScreenGivesNothing) {
  closeScreenAtExit();
  char buffer[4] = "abc";
  EXPECT_EQ(graphicsReadString(buffer, sizeof buffer), nullptr);
  EXPECT_STREQ(buffer, "abc");
}

}  // namespace
}  // namespace zvtest
