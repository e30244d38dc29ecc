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

// Runs the program (or the command given) in the directory with the bytes as
// standard input and its standard output (unless closed) and standard error
// captured; killed after the time limit.
Result run_scripted(const std::string& dir, const std::string& input, bool close_output = false,
                    int seconds = 30, const std::vector<std::string>& command = {ZV_INVAR_BINARY}) {
  zv::test::ChildSession child({.input = Stream::Pipe, .output = Stream::Pipe, .capture_errors = true});
  EXPECT_TRUE(child.start_program(command, [&] {
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

// --version and --help, as the first argument, are answered on standard output with
// status 0 before anything else happens: no report appears. A standard output that
// cannot take the answer (a full device) makes the status 1. Any other argument goes
// to the runtime and the run is the usual one.
TEST(ScriptedRun, VersionAndHelpAnswerAloneAndOtherArgumentsLeaveTheRunAsItIs) {
  struct Case {
    std::vector<std::string> command;
    int status;
    std::string output_start;
    const char* report;  // the golden report, or null where none may appear
  };
  const std::string invar = ZV_INVAR_BINARY;
  const Case cases[] = {
      {{invar, "--version"}, 0, "invar " ZV_VERSION "\n", nullptr},
      {{invar, "--help", "--version"}, 0, "invar - invariante Punkte", nullptr},
      {{"/bin/sh", "-c", "exec \"$0\" --version >/dev/full", invar}, 1, "", nullptr},
      {{invar, "-x", "--help"}, 0, "", "identity"},
#ifdef ZV_GLSCREEN_BINARY
      {{ZV_GLSCREEN_BINARY, "--version"}, 0, "glscreen " ZV_VERSION "\n", nullptr},
      {{ZV_GLSCREEN_BINARY, "--help"}, 0, "glscreen - eine Textseite", nullptr},
#endif
  };
  for (const Case& c : cases) {
    std::string trace;
    for (const std::string& word : c.command) trace += word + " ";
    SCOPED_TRACE(trace);
    zv::test::TempDir temp(false);
    Result r = run_scripted(temp.path(), IDENTITY, false, 30, c.command);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.errors, "");
    EXPECT_EQ(r.output.rfind(c.output_start, 0), 0u) << r.output;
    if (c.command[1] == "--help") {
      EXPECT_NE(r.output.find("\nAufruf / usage: "), std::string::npos) << r.output;
    }
    if (c.report) {
      EXPECT_EQ(read_file(temp.path() + "/invar.txt"), golden(std::string(c.report) + ".report"));
    } else {
      EXPECT_TRUE(std::filesystem::is_empty(temp.path()));
    }
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

// The keys typed for one entry, in chunks: each goes out once the screen has settled
// after the one before (a lone Escape is told from the start of a key's sequence by
// the pause after it).
using Entry = std::vector<std::string>;

// The diagonal matrix 1, 2, 3 typed as plain numbers.
const std::vector<Entry> PLAIN_ENTRIES = {{"1"}, {"0"}, {"0"}, {"0"}, {"2"}, {"0"}, {"0"}, {"0"}, {"3"}};

// The same matrix typed with the line editor's keys as a terminal sends them: Escape
// clears the line, Home and End (the CSI and the SS3 forms) go to its ends; a blank
// ends the field, so the 9 after it is never read.
const std::vector<Entry> EDITED_ENTRIES = {
    {"19", "\x1b", "1"}, {"7", "\x1b", "0"}, {"0"}, {"0"},
    {"2", "\x1bOH", "0", "\x1bOF", " 9"},  // 02 9
    {"0"}, {"0"}, {"0"},
    {"3", "\x1b[H", "0", "\x1b[F", " 9"},  // 03 9
};

const char* const ENTRY_NAMES[] = {"a11", "a12", "a13", "a21", "a22", "a23", "a31", "a32", "a33"};

// Types the first count entries, each once its prompt is shown and the screen has
// settled, each ended with Enter; false (with a failure recorded) when a prompt did
// not come.
bool typeEntries(TerminalSession& t, const std::vector<Entry>& entries, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (!t.wait_for(std::string(ENTRY_NAMES[i]) + "=", 60000) || !t.wait_quiet(200)) {
      ADD_FAILURE() << "no prompt " << ENTRY_NAMES[i] << "\n" << t.output();
      return false;
    }
    for (const std::string& chunk : entries[i]) {
      t.type(chunk);
      t.wait_quiet(200);
    }
    t.type("\r");
  }
  return true;
}

// Types the entries of the diagonal matrix 1, 2, 3, then one key per pause until the
// program ends; its exit status. The screen must show "Lösung" in the terminal's
// UTF-8.
int typeTheRun(TerminalSession& t, const std::vector<Entry>& entries = PLAIN_ENTRIES) {
  if (!typeEntries(t, entries, entries.size())) return -1;
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
// (the Windows suite names it), in a temporary directory; its report is invar.txt in
// the Wine prefix's drive C, removed first.
class WinesConsole : public TerminalSession {
 public:
  WinesConsole(const std::string& build, const std::string& dir)
      : TerminalSession(dir, {build + "/wine-run", build + "/invar.exe"}) {}
  static std::string report(const std::string& build) {
    const std::string path = build + "/wineprefix/drive_c/invar.txt";
    std::remove(path.c_str());
    return path;
  }
};

// The Windows build the suite names, or null.
const char* windowsBuild() { return std::getenv("ZV_WINDOWS_BUILD"); }
const char* const NO_WINDOWS_BUILD = "no Windows build named in ZV_WINDOWS_BUILD";

// The typed run with the line editor's keys gives the plain run's report.
TEST(TerminalRun, TheWindowsProgramOnWinesConsole) {
  const char* build = windowsBuild();
  if (!build) GTEST_SKIP() << NO_WINDOWS_BUILD;
  const std::string report = WinesConsole::report(build);
  zv::test::TempDir temp(false);
  {
    WinesConsole t(build, temp.path());
    EXPECT_EQ(typeTheRun(t, EDITED_ENTRIES), 0);
  }
  EXPECT_EQ(read_file(report), golden("diagonal_123.report"));
}

// Ctrl+C on Wine's console ends the run as STATUS_CONTROL_C_EXIT (0xC000013A, of
// which Wine passes the low byte, 58, to the terminal's side), the report holding
// what was printed into it; an entry typed halfway is left on a line of its own.
TEST(TerminalRun, TheWindowsProgramOnWinesConsoleEndsOnCtrlC) {
  const char* build = windowsBuild();
  if (!build) GTEST_SKIP() << NO_WINDOWS_BUILD;
  struct Case {
    const char* what;
    size_t entries;  // typed in full before the Ctrl+C
    const char* report_end;  // the report's end, or "" for an empty report
  };
  const Case cases[] = {
      {"at an entry with 8 typed", 0, ""},
      {"at the first pause", 9, " D<0: 3 reelle L\x94" "sungen\r\n\r\n"},
  };
  const std::string full = golden("diagonal_123.report");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string report = WinesConsole::report(build);
    zv::test::TempDir temp(false);
    WinesConsole t(build, temp.path());
    ASSERT_TRUE(typeEntries(t, PLAIN_ENTRIES, c.entries));
    if (c.entries == 0) {
      ASSERT_TRUE(t.wait_for("a11=", 60000) && t.wait_quiet(200));
      t.type("8");
      ASSERT_TRUE(t.wait_for("8"));
    } else {
      ASSERT_TRUE(t.wait_for("D<0: 3 reelle L", 60000));
    }
    t.wait_quiet(300);
    const size_t typed_end = t.output().size();
    t.type("\x03");
    EXPECT_EQ(t.finish(60000), 0xC000013A & 0xFF);
    if (c.entries == 0) {
      EXPECT_NE(t.output().find('\n', typed_end), std::string::npos) << "the line was not ended";
    }
    const std::string end = c.report_end;
    EXPECT_EQ(read_file(report), end.empty() ? "" : full.substr(0, full.find(end) + end.size()));
  }
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
