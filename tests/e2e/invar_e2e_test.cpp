// End-to-end runs of the built program: scripted runs with redirected standard
// input, a run in a directory where the report cannot be written, and a run on a
// pseudo-terminal that types the entries and answers every pause.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/files.h"

namespace {

using zv::test::read_file;

struct Result {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string output;
};

// Runs the program in the directory with the bytes as standard input and its
// standard output captured; killed after the time limit.
Result run_scripted(const std::string& dir, const std::string& input, int seconds = 30) {
  int in_pipe[2], out_pipe[2];
  EXPECT_EQ(pipe(in_pipe), 0);
  EXPECT_EQ(pipe(out_pipe), 0);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    close(in_pipe[1]);
    close(out_pipe[0]);
    if (chdir(dir.c_str()) != 0) _exit(126);
    execl(ZV_INVAR_BINARY, "invar", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  ssize_t written = write(in_pipe[1], input.data(), input.size());
  EXPECT_EQ(written, static_cast<ssize_t>(input.size()));
  close(in_pipe[1]);
  Result r;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  char buf[4096];
  for (;;) {
    pollfd p{out_pipe[0], POLLIN, 0};
    int left = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
    if (left <= 0) {
      kill(pid, SIGKILL);
      ADD_FAILURE() << "the program did not finish in " << seconds << " s";
      break;
    }
    if (poll(&p, 1, left) <= 0) continue;
    ssize_t n = read(out_pipe[0], buf, sizeof buf);
    if (n <= 0) break;
    r.output.append(buf, static_cast<size_t>(n));
  }
  close(out_pipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

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
    EXPECT_EQ(read_file(dir + "/invar.txt"), read_file(std::string(ZV_GOLDEN_DIR) + "/" + c.golden + ".report"))
        << c.golden;
    // The transcript reaches standard output, without prompts.
    EXPECT_NE(r.output.find(" -Ende Geradenermittlung-"), std::string::npos) << c.golden;
    EXPECT_EQ(r.output.find("a11=?"), std::string::npos) << c.golden;
  }
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

TEST(ScriptedRun, ReportThatCannotBeWrittenStillShowsTheDialogue) {
  zv::test::TempDir temp(false);
  const std::string& dir = temp.path();
  // A directory in place of the report file cannot be opened for writing, even by root.
  ASSERT_EQ(mkdir((dir + "/invar.txt").c_str(), 0700), 0);
  Result r = run_scripted(dir, IDENTITY);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find(" -Ende Geradenermittlung-"), std::string::npos);
  EXPECT_NE(r.output.find(" uneigentlicher u - Wert !"), std::string::npos);
}

// A pseudo-terminal session: the child's terminal is the slave side, whose modes
// are read before the run and after it.
class TerminalSession {
 public:
  explicit TerminalSession(const std::string& dir) {
    winsize size{};
    size.ws_row = 30;
    size.ws_col = 80;
    EXPECT_EQ(openpty(&master_, &slave_, nullptr, nullptr, &size), 0);
    EXPECT_EQ(tcgetattr(slave_, &before_), 0);
    pid_ = fork();
    if (pid_ == 0) {
      close(master_);
      if (login_tty(slave_) != 0) _exit(125);
      if (chdir(dir.c_str()) != 0) _exit(126);
      setenv("LANG", "C.UTF-8", 1);
      setenv("LC_ALL", "C.UTF-8", 1);
      setenv("TERM", "xterm", 1);
      execl(ZV_INVAR_BINARY, "invar", static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~TerminalSession() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(master_);
    close(slave_);
  }

  // Reads what arrives within the time; false once the child has closed the terminal.
  bool read_for(int milliseconds) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, milliseconds) <= 0) return true;
    char buf[4096];
    ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0) return false;
    output_.append(buf, static_cast<size_t>(n));
    return true;
  }

  // Waits until the output contains the text.
  bool wait_for(const std::string& text, int seconds = 10) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (output_.find(text, seen_) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline || !read_for(100)) return false;
    }
    seen_ = output_.find(text, seen_) + text.size();
    return true;
  }

  // Waits until nothing has arrived for the quiet time; false when the child is gone.
  bool wait_quiet(int quiet_ms) {
    for (;;) {
      size_t before = output_.size();
      if (!read_for(quiet_ms)) return false;
      if (output_.size() == before) return !child_exited();
    }
  }

  void type(const std::string& keys) {
    ssize_t n = write(master_, keys.data(), keys.size());
    EXPECT_EQ(n, static_cast<ssize_t>(keys.size()));
  }

  bool child_exited() {
    if (exited_) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      exited_ = true;
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return exited_;
  }

  int finish() {
    while (!child_exited()) read_for(50);
    while (read_for(50) && output_.size() < (1u << 24)) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 0) <= 0) break;
    }
    return status_;
  }

  bool modes_unchanged() {
    termios after{};
    if (tcgetattr(slave_, &after) != 0) return false;
    return before_.c_iflag == after.c_iflag && before_.c_oflag == after.c_oflag &&
           before_.c_cflag == after.c_cflag && before_.c_lflag == after.c_lflag &&
           std::memcmp(before_.c_cc, after.c_cc, sizeof after.c_cc) == 0;
  }

  const std::string& output() const { return output_; }

 private:
  int master_ = -1, slave_ = -1;
  pid_t pid_ = -1;
  termios before_{};
  std::string output_;
  size_t seen_ = 0;
  bool exited_ = false;
  int status_ = -1;
};

TEST(TerminalRun, TypesTheEntriesAnswersEveryPauseAndRestoresTheTerminal) {
  zv::test::TempDir temp(false);
  const std::string& dir = temp.path();
  {
    TerminalSession t(dir);
    const char* names[] = {"a11", "a12", "a13", "a21", "a22", "a23", "a31", "a32", "a33"};
    const char* values[] = {"1", "0", "0", "0", "2", "0", "0", "0", "3"};
    for (int i = 0; i < 9; ++i) {
      ASSERT_TRUE(t.wait_for(std::string(names[i]) + "=? ")) << names[i] << "\n" << t.output();
      t.type(std::string(values[i]) + "\r");
    }
    // One key per pause; a key typed before a pause begins is not taken for it, so
    // each key goes out once the screen has settled.
    int keys = 0;
    while (keys < 40 && t.wait_quiet(300)) {
      t.type(" ");
      ++keys;
    }
    EXPECT_EQ(t.finish(), 0);
    EXPECT_GE(keys, 11);  // at least one key for each of the run's eleven pauses
    EXPECT_NE(t.output().find("L\xc3\xb6sung"), std::string::npos);  // "Lösung" in UTF-8
    EXPECT_EQ(t.output().find("L\x94sung"), std::string::npos);
    EXPECT_TRUE(t.modes_unchanged());
  }
  EXPECT_EQ(read_file(dir + "/invar.txt"), read_file(std::string(ZV_GOLDEN_DIR) + "/diagonal_123.report"));
}

}  // namespace
