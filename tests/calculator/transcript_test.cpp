// Golden transcripts of whole runs: the report file and what the console received
// (printed bytes with the pauses and screen clears marked), byte for byte, for the
// matrices whose behaviour the calculator's description fixes.
#include <gtest/gtest.h>


#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <filesystem>
#include <string>
#include <vector>

#include "calculator/calculator.h"
#include "platform/platform.h"
#include "runtime/file_channel.h"
#include "runtime/runtime.h"
#include "tests/support/files.h"
#include "tests/support/scripted_console.h"

namespace zv {
namespace {

using test::read_file;
using test::TempDir;

void expect_golden(const std::string& name, const std::string& actual) {
  test::expect_golden(std::string(ZV_GOLDEN_DIR) + "/" + name, actual);
}

struct RunResult {
  std::string report;
  std::string screen;
  int pauses = 0;
  size_t keys_left = 0;
};

// Types the nine entries (each closed with Enter) and gives one key per pause, in
// the current directory.
RunResult run_here(const std::vector<std::string>& entries, int pause_keys = 40) {
  runtime_exit();
  runtime_constructor();
  test::ScriptedConsole console;
  console.columns = 80;
  console.rows = 30;
  for (const std::string& e : entries) {
    console.type(e);
    console.press(13);
  }
  for (int i = 0; i < pause_keys; ++i) console.press(' ');
  test::install(console);
  RunResult run;
  run_calculation();
  if (std::filesystem::is_regular_file(test::report_file("."))) run.report = read_file(test::report_file("."));
  test::uninstall();
  run.screen = console.log;
  run.pauses = console.pauses;
  run.keys_left = console.keys.size();
  return run;
}

RunResult run_with_entries(const std::vector<std::string>& entries, int pause_keys = 40) {
  TempDir dir;
  return run_here(entries, pause_keys);
}

struct GoldenCase {
  const char* name;
  std::vector<std::string> entries;
  int pauses;  // 5 fixed pauses plus one per root in each pass
};

void PrintTo(const GoldenCase& c, std::ostream* os) { *os << c.name; }

class Golden : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(Golden, ReportAndScreenMatchByteForByte) {
  const GoldenCase& c = GetParam();
  RunResult run = run_with_entries(c.entries);
  expect_golden(std::string(c.name) + ".report", run.report);
  expect_golden(std::string(c.name) + ".screen", run.screen);
  EXPECT_EQ(run.pauses, c.pauses);
  // Every pause took exactly one key.
  EXPECT_EQ(run.keys_left, static_cast<size_t>(40 - c.pauses));
}

INSTANTIATE_TEST_SUITE_P(
    Matrices, Golden,
    ::testing::Values(GoldenCase{"identity", {"1", "0", "0", "0", "1", "0", "0", "0", "1"}, 11},
                      GoldenCase{"diagonal_123", {"1", "0", "0", "0", "2", "0", "0", "0", "3"}, 11},
                      GoldenCase{"rotation", {"0", "-1", "0", "1", "0", "0", "0", "0", "1"}, 7},
                      GoldenCase{"double_root", {"2", "1", "0", "0", "2", "0", "0", "0", "1"}, 11},
                      GoldenCase{"point_half", {"1", "0", "1", "1", "2", "0", "0", "0", "3"}, 11},
                      GoldenCase{"negative_zero", {"1", "0", "0", "0", "2", "0", "1", "1", "3"}, 11},
                      GoldenCase{"singular", {"1", "2", "3", "2", "4", "6", "1", "1", "1"}, 11},
                      GoldenCase{"overflow",
                                 {"1e300", "1e300", "1e300", "1e300", "-1e300", "1e300", "1e300", "1e300", "1e300"},
                                 11}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Transcript, ReportBeginsWithTheEchoAndEndsWithTheClosingLine) {
  RunResult run = run_with_entries({"1", "0", "0", "0", "1", "0", "0", "0", "1"});
  EXPECT_EQ(run.report.rfind("       a11 =  1\r\n", 0), 0u);
  const std::string tail = "\r\n\r\n -Ende Geradenermittlung-\r\n";
  ASSERT_GE(run.report.size(), tail.size());
  EXPECT_EQ(run.report.substr(run.report.size() - tail.size()), tail);
  EXPECT_NE(run.report.find(" L\x94" "sung kubische Gleichung ny( 1) =  1\r\n"), std::string::npos);
}

TEST(Transcript, EntriesThatAreNotNumbersReadAsZero) {
  RunResult run = run_with_entries({"abc", "", "12abc", "&h10", "1.5d1", "1,5", "  -2  ", "x", "0"});
  const char* echo =
      "       a11 =  0\r\n       a12 =  0\r\n       a13 =  12\r\n       a21 =  16\r\n       a22 =  15\r\n"
      "       a23 =  1\r\n       a31 = -2\r\n       a32 =  0\r\n       a33 =  0\r\n";
  EXPECT_EQ(run.report.substr(0, std::string(echo).size()), echo);
}

// The golden screen of a run whose report could not be written, with the one line
// that says so standing before the first pause.
std::string screen_saying(const std::string& golden_screen, const std::string& reason) {
  std::string screen = golden_screen;
  screen.insert(screen.find("<PAUSE>"), " Bericht invar.txt nicht geschrieben: " + reason + "\r\n");
  return screen;
}

// A report that cannot be written: the dialogue runs whole, and the first pause says
// why. A directory in the report's place cannot be opened; a report that another run
// holds is not touched.
TEST(Transcript, UnwritableReportIsSaidOnTheScreenAndTheDialogueRuns) {
  const std::vector<std::string> entries = {"1", "0", "0", "0", "2", "0", "0", "0", "3"};
  const std::string golden_screen = read_file(std::string(ZV_GOLDEN_DIR) + "/diagonal_123.screen");
  {
    TempDir dir;
    std::filesystem::remove(test::report_file(dir.path()));  // one an earlier test left (on Windows all share c:\invar.txt)
    ASSERT_TRUE(std::filesystem::create_directory(test::report_file(dir.path())));
    RunResult run = run_here(entries);
#ifdef _WIN32
    EXPECT_EQ(file_channel_failure().error, EACCES);  // what Windows says of a directory
    EXPECT_EQ(run.screen, screen_saying(golden_screen, "keine Berechtigung"));
#else
    EXPECT_EQ(file_channel_failure().error, EISDIR);
    EXPECT_EQ(run.screen, screen_saying(golden_screen, "ein Verzeichnis hat diesen Namen"));
#endif
    std::filesystem::remove(test::report_file(dir.path()));
  }
  {
    TempDir dir;
    // Another run holds its report, already partly written.
    std::FILE* first = open_file_for_sole_writing(test::report_file(dir.path()).c_str());
    ASSERT_NE(first, nullptr);
    std::fputs("       a11 =  7\r\n", first);
    std::fflush(first);
    RunResult run = run_here(entries);
    EXPECT_EQ(file_channel_failure().error, EBUSY);
    EXPECT_EQ(run.screen, screen_saying(golden_screen, "von einem anderen Programm ge\x94" "ffnet"));
    std::fclose(first);
    EXPECT_EQ(read_file(test::report_file(dir.path())), "       a11 =  7\r\n");
  }
  clear_file_channel_failure();
}

#ifndef _WIN32
// The window's close request at an entry or at a pause ends the program there with
// status 0; the report holds exactly what was printed before that wait.
TEST(Transcript, CloseRequestEndsTheRunAtTheWaitWithTheReportSoFar) {
  const std::vector<std::string> entries = {"1", "0", "0", "0", "2", "0", "0", "0", "3"};
  // Where the report stands at each pause of an uninterrupted run.
  std::vector<size_t> at_pause;
  {
    runtime_exit();
    runtime_constructor();
    test::ScriptedConsole console;
    for (const std::string& e : entries) {
      console.type(e);
      console.press(13);
    }
    for (int i = 0; i < 11; ++i) console.press(' ');
    console.at_pause = [&] { at_pause.push_back(read_file("invar.txt").size()); };
    test::install(console);
    TempDir dir;
    run_calculation();
    test::uninstall();
  }
  ASSERT_EQ(at_pause.size(), 11u);
  const std::string golden = read_file(std::string(ZV_GOLDEN_DIR) + "/diagonal_123.report");
  const struct {
    int entries_typed;  // before the close request, at the next entry; 9: at a pause
    int pause;          // the pause that gets the close request (from 1)
  } cases[] = {{0, 0}, {4, 0}, {9, 1}, {9, 6}, {9, 11}};
  for (const auto& c : cases) {
    SCOPED_TRACE("entries " + std::to_string(c.entries_typed) + ", pause " + std::to_string(c.pause));
    runtime_exit();
    runtime_constructor();
    test::ScriptedConsole console;
    for (int i = 0; i < c.entries_typed; ++i) {
      console.type(entries[static_cast<size_t>(i)]);
      console.press(13);
    }
    if (c.entries_typed < 9) console.type("12");  // half an entry, given up
    for (int i = 1; i < c.pause; ++i) console.press(' ');
    console.press(test::KEY_CLOSE);
    console.press(' ');  // a key that must not be reached
    test::install(console);
    TempDir dir;
    EXPECT_EXIT(run_calculation(), ::testing::ExitedWithCode(0), "");
    const size_t printed = c.pause > 0 ? at_pause[static_cast<size_t>(c.pause - 1)] : 0;
    EXPECT_EQ(read_file("invar.txt"), golden.substr(0, printed));
    test::uninstall();
  }
}
#endif

}  // namespace
}  // namespace zv
