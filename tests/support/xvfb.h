// An X server of its own for the window tests and benchmarks: Xvfb on a free display
// (it reports the number it took through -displayfd), 1280x1024 at 24 bits, ended
// with its owner. The server also ends when the thread that started it ends (the
// parent-death signal), so an aborted test leaves none behind.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace zv::test {

class Xvfb {
 public:
  // without_extension: a server extension to leave out ("GLX"), or null for none.
  explicit Xvfb(const char* without_extension = nullptr) {
    int fds[2];
    if (pipe(fds) != 0) return;
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (getppid() != parent) _exit(127);
      close(fds[0]);
      int devnull = open("/dev/null", O_RDWR);
      dup2(devnull, 0);
      dup2(devnull, 1);
      dup2(devnull, 2);
      std::string fd = std::to_string(fds[1]);
      if (without_extension)
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
               "-extension", without_extension, static_cast<char*>(nullptr));
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (number.find('\n') == std::string::npos && std::chrono::steady_clock::now() < give_up) {
      if (poll(&p, 1, 200) <= 0) continue;
      char buf[32];
      ssize_t n = read(fds[0], buf, sizeof buf);
      if (n <= 0) break;
      number.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    const size_t end = number.find('\n');
    if (end != std::string::npos) name_ = std::string(1, ':').append(number, 0, end);
  }
  ~Xvfb() { stop(); }
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;

  const std::string& display() const { return name_; }
  bool ready() const { return !name_.empty(); }

  // Ends the server at once, as a crash or a lost connection would.
  void kill_now() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 250; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
      usleep(20000);
    }
    kill_now();
  }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

}  // namespace zv::test
