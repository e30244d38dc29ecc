// A child process that a test talks to through a pseudo-terminal or pipes. The child
// either runs a program (with a set-up in the child once its streams are in place)
// or runs a body of this program on a fresh runtime. Its standard input is a
// pseudo-terminal or a pipe that the test types into; its standard output is the
// same terminal (then also its standard error and controlling terminal) or a pipe
// that the test reads with deadlines: text after the last match, a quiet spell,
// whatever arrives in a time. With job control the child runs as a job under a
// small shell, so that it can be stopped and continued. The terminal's modes are
// read before the start, for the check that the child gave them back.
#pragma once

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "runtime/runtime.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"

namespace zv::test {

enum class Stream { Terminal, Pipe };

struct SessionOptions {
  Stream input = Stream::Terminal;
  Stream output = Stream::Terminal;  // a terminal output needs the terminal as input too
  bool capture_errors = false;       // piped output: standard error on a pipe of its own (else the test's)
  bool job_control = false;          // terminal output: the child is a job under a small shell
  bool exit_normally = false;        // a body's child leaves through exit, so the exit handlers run
  unsigned short rows = 25, columns = 80;
};

constexpr int SESSION_WAIT_MS = 30000;  // generous: only a broken child gets near it

class ChildSession {
 public:
  explicit ChildSession(SessionOptions options = {}) : options_(options) {}
  ~ChildSession() {
    if (worker_ > 0) kill(worker_, SIGKILL);
    child_.reset();
    for (int fd : owned_) close(fd);
    for (int fd : child_ends_) close(fd);
  }
  ChildSession(const ChildSession&) = delete;
  ChildSession& operator=(const ChildSession&) = delete;

  // Starts the program (its path, then its arguments).
  bool start_program(const std::vector<std::string>& command, const std::function<void()>& setup = [] {}) {
    return start(command, setup);
  }

  // Runs the body in the child after resetting the runtime; its result is the exit
  // status. The body gets the child's end of a channel to the test (wait_for_go,
  // ready).
  bool start_body(const std::function<int(int sync)>& body) {
    // The body ends the child, so the program named is never started.
    return start({"/bin/false"}, [&] {
      runtime_exit();
      runtime_constructor();
      const int result = body(child_sync_);
      if (options_.exit_normally) std::exit(result);
      _exit(result);
    });
  }

  // The channel between the test and a body: the test lets the child go on, or
  // waits for the child's word.
  void let_go() { write_text(sync_, "g"); }
  bool wait_ready() {
    char c;
    return receive(sync_, &c, 1);
  }
  static void wait_for_go(int sync) {
    char c;
    while (read(sync, &c, 1) < 0 && errno == EINTR) {
    }
  }
  static void ready(int sync) { write_text(sync, "r"); }

  // The job's next stop ('S') or continue ('C'), as the shell reports them.
  bool wait_for_job(char event) {
    char c = 0;
    while (receive(jobs_, &c, 1))
      if (c == event) return true;
    return false;
  }

  void type(const std::string& keys) { write_text(input_fd_, keys); }
  // Writes on the terminal's screen the way another program (a shell) does.
  void show(const std::string& text) { write_text(slave_, text); }
  // Closes the test's end of a piped input (the child reads its end) or output (the
  // child's writes find no reader).
  void close_input() { close_pipe(Stream::Pipe == options_.input, input_fd_); }
  void close_output() { close_pipe(Stream::Pipe == options_.output, output_fd_); }

  // Reads the output until the text appears after the last match (true), or the time
  // runs out or the output ends (false).
  bool wait_for(const std::string& text, int timeout_ms = SESSION_WAIT_MS) {
    const auto deadline = after(timeout_ms);
    for (;;) {
      const size_t at = output_.find(text, mark_);
      if (at != std::string::npos) {
        mark_ = at + text.size();
        return true;
      }
      const int left = remaining(deadline);
      if (left <= 0 || !read_some(std::min(left, 100))) return false;
    }
  }

  // Reads until nothing has arrived for the quiet time; false when the child is gone.
  bool wait_quiet(int quiet_ms) {
    for (;;) {
      const size_t before = output_.size();
      if (!read_some(quiet_ms)) return false;
      if (output_.size() == before) return !exited();
    }
  }

  // Reads whatever arrives within the time.
  void drain(int timeout_ms) {
    const auto deadline = after(timeout_ms);
    for (int left; (left = remaining(deadline)) > 0;) read_some(left);
  }

  // Raw: not canonical, no echo (the console while it reads a key).
  bool terminal_is_raw() const {
    termios now{};
    return tcgetattr(slave_, &now) == 0 && !(now.c_lflag & ICANON) && !(now.c_lflag & ECHO);
  }
  // Waits until the terminal's modes are raw (or back to cooked), reading meanwhile.
  bool wait_for_modes(bool raw) {
    const auto deadline = after(SESSION_WAIT_MS);
    while (terminal_is_raw() != raw) {
      if (remaining(deadline) <= 0) return false;
      read_some(5);
    }
    return true;
  }
  bool modes_as_before() const {
    termios after{};
    return tcgetattr(slave_, &after) == 0 && before_.c_iflag == after.c_iflag && before_.c_oflag == after.c_oflag &&
           before_.c_cflag == after.c_cflag && before_.c_lflag == after.c_lflag &&
           std::memcmp(before_.c_cc, after.c_cc, sizeof after.c_cc) == 0;
  }

  // Sends the signal to the child (to the job under job control).
  void send(int sig) {
    if (worker_ > 0)
      kill(worker_, sig);
    else if (child_)
      child_->send(sig);
  }

  // Waits for the child to end, reading meanwhile, then reads what it left: to the
  // end of the pipes, or until the terminal has been quiet for a moment. The exit
  // status (a job's shell passes on the job's), -1 for a signal or a time-out.
  int finish(int timeout_ms = SESSION_WAIT_MS) {
    const auto deadline = after(timeout_ms);
    while (!exited()) {
      if (!child_ || remaining(deadline) <= 0) return -1;
      read_some(10);
    }
    while (reading() && remaining(deadline) > 0) {
      const size_t before = output_.size() + errors_.size();
      if (!read_some(50) || output_.size() + errors_.size() == before) break;
    }
    return child_->status();
  }

  bool exited() { return child_ && child_->exited(); }
  int end_signal() const { return child_ ? child_->end_signal() : 0; }  // the signal that ended the child, or 0
  const std::string& output() const { return output_; }
  const std::string& errors() const { return errors_; }
  std::string since_mark() const { return output_.substr(mark_); }

 private:
  using Clock = std::chrono::steady_clock;
  static Clock::time_point after(int ms) { return Clock::now() + std::chrono::milliseconds(ms); }
  static int remaining(Clock::time_point deadline) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
  }

  int own(int fd) {
    owned_.push_back(fd);
    return fd;
  }
  // A pipe of which the child keeps one end and the test the other.
  bool split_pipe(int& child_end, int& test_end, bool child_reads) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    child_end = fds[child_reads ? 0 : 1];
    test_end = own(fds[child_reads ? 1 : 0]);
    child_ends_.push_back(child_end);
    return true;
  }
  void close_pipe(bool piped, int& fd) {
    if (!piped || fd < 0) return;
    owned_.erase(std::remove(owned_.begin(), owned_.end(), fd), owned_.end());
    close(fd);
    fd = -1;
  }

  bool start(const std::vector<std::string>& command, const std::function<void()>& then) {
    const bool terminal_out = options_.output == Stream::Terminal;
    if (child_ || (terminal_out && options_.input != Stream::Terminal)) return false;
    if (options_.input == Stream::Terminal) {
      winsize size{};
      size.ws_row = options_.rows;
      size.ws_col = options_.columns;
      if (openpty(&master_, &slave_, nullptr, nullptr, &size) != 0) return false;
      own(master_);
      own(slave_);  // kept open: its modes outlive the child
      if (tcgetattr(slave_, &before_) != 0) return false;
    }
    int in = slave_, out = -1, err = -1, jobs = -1, pair[2];
    input_fd_ = master_;
    output_fd_ = terminal_out ? master_ : -1;
    if ((options_.input == Stream::Pipe && !split_pipe(in, input_fd_, true)) ||
        (!terminal_out && !split_pipe(out, output_fd_, false)) ||
        (!terminal_out && options_.capture_errors && !split_pipe(err, errors_fd_, false)) ||
        (options_.job_control && !split_pipe(jobs, jobs_, false)) ||
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
      return false;
    sync_ = own(pair[0]);
    child_sync_ = pair[1];
    child_ends_.push_back(child_sync_);
    std::fflush(stdout);
    std::fflush(stderr);
    std::vector<std::string> arguments(command.begin() + 1, command.end());
    child_ = std::make_unique<ChildProcess>(command[0].c_str(), [&] {
      for (int fd : owned_)
        if (fd != slave_) close(fd);
      if (terminal_out) {
        if (login_tty(slave_) != 0) _exit(125);
      } else {
        dup2(in, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        if (err >= 0) dup2(err, STDERR_FILENO);
        for (int fd : {in, out, err})  // the terminal, when it is the input, is "in"
          if (fd > STDERR_FILENO) close(fd);
      }
      // The signals that end a program have their default action, whatever the test
      // runner ignores.
      for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) signal(sig, SIG_DFL);
      if (jobs >= 0) {
        run_job(jobs);
        close(jobs);
      }
      then();
    }, arguments);
    for (int fd : child_ends_) close(fd);
    child_ends_.clear();
    return child_->started() && (jobs < 0 || receive(jobs_, &worker_, sizeof worker_));
  }

  // The shell's part, in the child: the job gets its own process group and the
  // terminal's foreground; its pid goes to the test, then every stop and continue.
  // Only such a job can be stopped: a process group without a parent in its session
  // is not. Returns in the job.
  static void run_job(int jobs) {
    int go[2];
    if (pipe(go) != 0) _exit(91);
    const pid_t worker = fork();
    if (worker < 0) _exit(91);
    if (worker == 0) {
      close(go[1]);
      setpgid(0, 0);
      wait_for_go(go[0]);
      close(go[0]);
      return;
    }
    close(go[0]);
    setpgid(worker, worker);
    signal(SIGTTOU, SIG_IGN);  // the shell is in the background from here on
    tcsetpgrp(STDIN_FILENO, worker);
    write_text(go[1], "g");
    close(go[1]);
    write_text(jobs, std::string(reinterpret_cast<const char*>(&worker), sizeof worker));
    for (;;) {
      int status = 0;
      if (waitpid(worker, &status, WUNTRACED | WCONTINUED) < 0) {
        if (errno == EINTR) continue;
        _exit(92);
      }
      if (WIFSTOPPED(status)) write_text(jobs, "S");
      if (WIFCONTINUED(status)) write_text(jobs, "C");
      if (WIFEXITED(status)) _exit(WEXITSTATUS(status));
      if (WIFSIGNALED(status)) _exit(128 + WTERMSIG(status));
    }
  }

  // Reads the bytes from the descriptor, reading the output meanwhile so that the
  // child never waits on a full terminal.
  bool receive(int fd, void* word, size_t size) {
    auto* bytes = static_cast<char*>(word);
    size_t done = 0;
    const auto deadline = after(SESSION_WAIT_MS);
    while (done < size && remaining(deadline) > 0) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) {
        read_some(0);
        continue;
      }
      const ssize_t n = read(fd, bytes + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return done == size;
  }

  // Reads what arrives within the time on the output and the errors; false once
  // both have ended (a stream that ended stays open until the end).
  bool read_some(int timeout_ms) {
    pollfd fds[2];
    nfds_t count = 0;
    for (int fd : {output_fd_, errors_fd_})
      if (fd >= 0) fds[count++] = {fd, POLLIN, 0};
    if (poll(fds, count, timeout_ms) > 0) {
      for (nfds_t i = 0; i < count; ++i) {
        if (!fds[i].revents) continue;
        const bool output = fds[i].fd == output_fd_;
        char buffer[4096];
        const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0)
          (output ? output_ : errors_).append(buffer, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
          (output ? output_fd_ : errors_fd_) = -1;
      }
    }
    return reading();
  }
  bool reading() const { return output_fd_ >= 0 || errors_fd_ >= 0; }

  SessionOptions options_;
  std::unique_ptr<ChildProcess> child_;
  pid_t worker_ = -1;
  std::vector<int> owned_, child_ends_;  // the test's descriptors; the child's, until it has them
  int master_ = -1, slave_ = -1, input_fd_ = -1, output_fd_ = -1, errors_fd_ = -1, sync_ = -1, child_sync_ = -1,
      jobs_ = -1;
  termios before_{};
  std::string output_, errors_;
  size_t mark_ = 0;
};

}  // namespace zv::test
