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

// Types the nine entries (each closed with Enter) and gives one key per pause.
RunResult run_with_entries(const std::vector<std::string>& entries, int pause_keys = 40) {
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
  {
    TempDir dir;
    run_calculation();
    run.report = read_file(test::report_file(dir.path()));
  }
  test::uninstall();
  run.screen = console.log;
  run.pauses = console.pauses;
  run.keys_left = console.keys.size();
  return run;
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

TEST(Transcript, UnwritableReportStillShowsTheWholeDialogue) {
  runtime_exit();
  runtime_constructor();
  test::ScriptedConsole console;
  for (const char* e : {"1", "0", "0", "0", "2", "0", "0", "0", "3"}) {
    console.type(e);
    console.press(13);
  }
  for (int i = 0; i < 40; ++i) console.press(' ');
  test::install(console);
  {
    TempDir dir;
    // A directory of the report's name makes the file impossible to create.
    const std::string report = test::report_file(dir.path());
    std::filesystem::remove(report);  // a report that an earlier run left there
    ASSERT_TRUE(std::filesystem::create_directory(report));
    run_calculation();
    std::filesystem::remove(report);
  }
  test::uninstall();
  EXPECT_EQ(console.log, read_file(std::string(ZV_GOLDEN_DIR) + "/diagonal_123.screen"));
  // The lost report is recorded for the end of the program; this test ends no program.
#ifdef _WIN32
  EXPECT_EQ(file_channel_failure().error, EACCES);  // what the Windows C runtime says of a directory
#else
  EXPECT_EQ(file_channel_failure().error, EISDIR);
#endif
  clear_file_channel_failure();
}

}  // namespace
}  // namespace zv
