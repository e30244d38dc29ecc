// End-to-end runs of the built program: scripted runs with redirected standard
// input (standard output closed, reports that cannot be written), and runs on a
// pseudo-terminal that type the entries and answer the pauses or end with a signal
// at one of them.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/child_session.h"
#include "tests/support/files.h"

namespace {

using zv::test::read_file;
using zv::test::Stream;

struct Result {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string output;  // standard output
  std::string errors;  // standard error
};

// Runs the program in the directory with the bytes as standard input and its
// standard output (unless closed) and standard error captured; killed after the
// time limit.
Result run_scripted(const std::string& dir, const std::string& input, bool close_output = false,
                    int seconds = 30) {
  zv::test::ChildSession child({.input = Stream::Pipe, .output = Stream::Pipe, .capture_errors = true});
  EXPECT_TRUE(child.start_program({ZV_INVAR_BINARY}, [&] {
    if (close_output) close(1);
    if (chdir(dir.c_str()) != 0) _exit(126);
    unsetenv("DISPLAY");  // the terminal's runs: no window, even on a desktop
  }));
  child.type(input);
  child.close_input();
  Result r;
  r.status = child.finish(seconds * 1000);
  if (!child.exited()) ADD_FAILURE() << "the program did not finish in " << seconds << " s";
  r.output = child.output();
  r.errors = child.errors();
  return r;
}

std::string golden(const std::string& name) { return read_file(std::string(ZV_GOLDEN_DIR) + "/" + name); }

const char* const IDENTITY = "1\n0\n0\n0\n1\n0\n0\n0\n1\n";

TEST(ScriptedRun, WritesTheGoldenReportAndExitsZero) {
  struct Case {
    const char* golden;
    const char* input;
  };
  const Case cases[] = {
      {"identity", IDENTITY},
      {"diagonal_123", "1\n0\n0\n0\n2\n0\n0\n0\n3\n"},
      {"negative_zero", "1\r\n0\r\n0\r\n0\r\n2\r\n0\r\n1\r\n1\r\n3\r\n"},  // CR LF line ends
  };
  for (const Case& c : cases) {
    zv::test::TempDir temp(false);
    const std::string& dir = temp.path();
    Result r = run_scripted(dir, c.input);
    EXPECT_EQ(r.status, 0) << c.golden;
    EXPECT_EQ(r.errors, "") << c.golden;
    EXPECT_EQ(read_file(dir + "/invar.txt"), golden(std::string(c.golden) + ".report")) << c.golden;
    // The transcript reaches standard output, without prompts.
    EXPECT_NE(r.output.find(" -Ende Geradenermittlung-"), std::string::npos) << c.golden;
    EXPECT_EQ(r.output.find("a11=?"), std::string::npos) << c.golden;
  }
}

// The window-less screen draws the dialogue in memory only; its keys come from the
// piped input, so the run ends as on the terminal, with the same report.
TEST(ScriptedRun, TheNullScreenFinishesAPipedRun) {
  zv::test::TempDir temp(false);
  setenv("ZVGFX", "null", 1);
  Result r = run_scripted(temp.path(), IDENTITY, false, 20);
  unsetenv("ZVGFX");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.errors, "");
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(read_file(temp.path() + "/invar.txt"), golden("identity.report"));
}

TEST(ScriptedRun, InputThatEndsEarlyReadsZeros) {
  zv::test::TempDir first(false), second(false);
  std::string dir = first.path();
  Result r = run_scripted(dir, "2\n3\n");
  EXPECT_EQ(r.status, 0);
  const std::string report = read_file(dir + "/invar.txt");
  EXPECT_EQ(report.rfind("       a11 =  2\r\n       a12 =  3\r\n       a13 =  0\r\n", 0), 0u);
  EXPECT_NE(report.find(" -Ende Geradenermittlung-\r\n"), std::string::npos);

  dir = second.path();
  r = run_scripted(dir, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read_file(dir + "/invar.txt").rfind("       a11 =  0\r\n", 0), 0u);
}

// With standard output closed the report still gets only the report: the screen
// text goes nowhere (the null device), not into invar.txt nor onto standard error.
TEST(ScriptedRun, ClosedStandardOutputKeepsTheScreenOutOfTheReport) {
  zv::test::TempDir temp(false);
  const std::string& dir = temp.path();
  Result r = run_scripted(dir, IDENTITY, true);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.errors, "");
  EXPECT_EQ(read_file(dir + "/invar.txt"), golden("identity.report"));
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) files.push_back(entry.path().filename());
  EXPECT_EQ(files, std::vector<std::string>{"invar.txt"});
}

// The dialogue runs to its end; then one line on standard error names the report
// and the reason, and the status is 1.
void expect_report_failure(const Result& r, int error) {
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors, "invar: invar.txt: " + std::string(std::strerror(error)) + "\n");
  EXPECT_NE(r.output.find(" uneigentlicher u - Wert !"), std::string::npos);
  EXPECT_NE(r.output.find(" -Ende Geradenermittlung-"), std::string::npos);
}

// Reports that cannot be written even by root: a directory in the report's place
// (the open fails), a full device behind it (the writes fail).
TEST(ScriptedRun, ReportThatCannotBeWrittenStillShowsTheDialogue) {
  struct Case {
    const char* what;
    int error;
  };
  const Case cases[] = {{"directory", EISDIR}, {"full device", ENOSPC}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    zv::test::TempDir temp(false);
    const std::string report = temp.path() + "/invar.txt";
    if (c.error == EISDIR) {
      ASSERT_EQ(mkdir(report.c_str(), 0700), 0);
    } else {
      if (access("/dev/full", W_OK) != 0) {
        ADD_FAILURE() << "/dev/full is not writable here";
        continue;
      }
      ASSERT_EQ(symlink("/dev/full", report.c_str()), 0);
    }
    expect_report_failure(run_scripted(temp.path(), IDENTITY), c.error);
  }
}

// The program on a pseudo-terminal of 30 rows, in the directory, with a UTF-8
// locale, an xterm and no display.
class TerminalSession : public zv::test::ChildSession {
 public:
  // The program is the built one, or the command given (a program and its arguments).
  explicit TerminalSession(const std::string& dir, const std::vector<std::string>& command = {ZV_INVAR_BINARY})
      : ChildSession({.rows = 30}) {
    EXPECT_TRUE(start_program(command, [&] {
      if (chdir(dir.c_str()) != 0) _exit(126);
      setenv("LANG", "C.UTF-8", 1);
      setenv("LC_ALL", "C.UTF-8", 1);
      setenv("TERM", "xterm", 1);
      unsetenv("DISPLAY");
    }));
  }
};

// Types the entries of the diagonal matrix 1, 2, 3, each once its prompt is shown and
// the screen has settled, then one key per pause until the program ends; its exit
// status. The screen must show "Lösung" in the terminal's UTF-8.
int typeTheRun(TerminalSession& t) {
  const char* names[] = {"a11", "a12", "a13", "a21", "a22", "a23", "a31", "a32", "a33"};
  const char* values[] = {"1", "0", "0", "0", "2", "0", "0", "0", "3"};
  for (int i = 0; i < 9; ++i) {
    if (!t.wait_for(std::string(names[i]) + "=", 60000) || !t.wait_quiet(200)) {
      ADD_FAILURE() << "no prompt " << names[i] << "\n" << t.output();
      return -1;
    }
    t.type(std::string(values[i]) + "\r");
  }
  // One key per pause; a key typed before a pause begins is not taken for it, so
  // each key goes out once the screen has settled.
  int keys = 0;
  while (keys < 40 && t.wait_quiet(300)) {
    t.type(" ");
    ++keys;
  }
  EXPECT_GE(keys, 11);  // at least one key for each of the run's eleven pauses
  EXPECT_NE(t.output().find("L\xc3\xb6sung"), std::string::npos);  // "Lösung" in UTF-8
  EXPECT_EQ(t.output().find("L\x94sung"), std::string::npos);
  return t.finish(60000);
}

TEST(TerminalRun, TypesTheEntriesAnswersEveryPauseAndRestoresTheTerminal) {
  zv::test::TempDir temp(false);
  const std::string& dir = temp.path();
  {
    TerminalSession t(dir);
    EXPECT_EQ(typeTheRun(t), 0);
    EXPECT_TRUE(t.modes_as_before());
  }
  EXPECT_EQ(read_file(dir + "/invar.txt"), golden("diagonal_123.report"));
}

// The Windows program on Wine's console on a terminal, when a Windows build is named
// (the Windows suite names it): the same typed run gives the same report, in the
// Wine prefix's drive C.
TEST(TerminalRun, TheWindowsProgramOnWinesConsole) {
  const char* build = std::getenv("ZV_WINDOWS_BUILD");
  if (!build) GTEST_SKIP() << "no Windows build named in ZV_WINDOWS_BUILD";
  const std::string report = std::string(build) + "/wineprefix/drive_c/invar.txt";
  std::remove(report.c_str());
  zv::test::TempDir temp(false);
  {
    TerminalSession t(temp.path(), {std::string(build) + "/wine-run", std::string(build) + "/invar.exe"});
    EXPECT_EQ(typeTheRun(t), 0);
  }
  EXPECT_EQ(read_file(report), golden("diagonal_123.report"));
}

// A signal that ends the program while it waits at a pause leaves in invar.txt all
// that the run had printed into it: the golden report up to that pause. Each pause
// is known by the screen text printed just before it and by the terminal going
// into raw mode, which the run does only to read a key.
TEST(TerminalRun, SignalAtAPauseLeavesTheReportPrintedSoFar) {
  struct Pause {
    const char* screen_before;  // last screen text before the pause
    const char* report_end;     // the report's last line before the pause
  };
  const Pause pauses[] = {
      {"D<0: 3 reelle L", " D<0: 3 reelle L\x94" "sungen\r\n\r\n"},
      {"ny( 1) =", "ny( 1) =  1\r\n\r\n"},
      {"ny( 2) =", "ny( 2) =  1\r\n\r\n"},
  };
  struct Case {
    int sig;
    int pause;  // 1, 2 or 3
  };
  const Case cases[] = {{SIGTERM, 3}, {SIGINT, 1}, {SIGHUP, 2}};
  const std::string full = golden("identity.report");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(strsignal(c.sig)) + " at pause " + std::to_string(c.pause));
    zv::test::TempDir temp(false);
    const std::string& dir = temp.path();
    {
      TerminalSession t(dir);
      const char* names[] = {"a11", "a12", "a13", "a21", "a22", "a23", "a31", "a32", "a33"};
      const char* values[] = {"1", "0", "0", "0", "1", "0", "0", "0", "1"};
      for (int i = 0; i < 9; ++i) {
        ASSERT_TRUE(t.wait_for(std::string(names[i]) + "=? ")) << names[i] << "\n" << t.output();
        t.type(std::string(values[i]) + "\r");
      }
      for (int p = 1; p <= c.pause; ++p) {
        ASSERT_TRUE(t.wait_for(pauses[p - 1].screen_before)) << t.output();
        ASSERT_TRUE(t.wait_for_modes(true)) << "pause " << p;
        if (p < c.pause) t.type(" ");
      }
      t.send(c.sig);
      t.finish();
      EXPECT_EQ(t.end_signal(), c.sig);
    }
    const std::string& end = pauses[c.pause - 1].report_end;
    const size_t at = full.find(end);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(read_file(dir + "/invar.txt"), full.substr(0, at + end.size()));
  }
}

}  // namespace
