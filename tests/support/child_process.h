// A program started by a test in a child process: the test's set-up runs in the child
// before the program replaces it (file descriptors, directory, environment); the child
// is killed and reaped when the record goes, and also dies with the thread that
// started it, so that an aborted test leaves no program behind.
#pragma once

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace zv::test {

class ChildProcess {
 public:
  // The program is started with the arguments after its own name.
  ChildProcess(const char* program, const std::function<void()>& setup, const std::vector<std::string>& arguments = {}) {
    std::vector<char*> argv{const_cast<char*>(program)};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(125);
      setup();
      execv(program, argv.data());
      _exit(127);
    }
  }
  ~ChildProcess() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  void send(int sig) { kill(pid_, sig); }

  // Whether the child has ended (without waiting for it).
  bool exited() {
    if (exited_ || pid_ <= 0) return exited_;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      exited_ = true;
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      signal_ = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
      core_ = WIFSIGNALED(status) && WCOREDUMP(status);
    }
    return exited_;
  }

  // The exit status once the child has ended within the time (-1 for a signal or a
  // time-out).
  int wait(int seconds = 30) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!exited() && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return exited() ? status_ : -1;
  }

  int status() const { return status_; }
  int end_signal() const { return signal_; }  // the signal that ended the child, or 0
  bool dumped_core() const { return core_; }

 private:
  pid_t pid_ = -1;
  bool exited_ = false;
  int status_ = -1, signal_ = 0;
  bool core_ = false;
};

}  // namespace zv::test
