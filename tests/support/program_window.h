// A built program in a real X window, for the end-to-end window tests: an Xvfb of
// its own, the test's connection to it, the program started in a temporary directory
// with DISPLAY set for it alone (standard input and output on /dev/null, standard
// error in errors.txt) and its window found by title, focused, read back and closed.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/x11_client.h"
#include "tests/support/xvfb.h"

#define ZV_SKIP_WITHOUT_XVFB()                                                                             \
  do {                                                                                                     \
    if (!zv::test::onPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed (apt-get install xvfb): no X window tests"; \
  } while (false)

namespace zv::test {

// Polls the condition every 20 ms until it holds or the time is up.
inline bool waitUntil(const std::function<bool()>& ready, int seconds = 20) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    usleep(20000);
  }
  return true;
}

class ProgramWindow {
 public:
  // binary: the program; title: its window's; without_extension: a server extension
  // to leave out ("GLX"), or null.
  ProgramWindow(const char* binary, const char* title, const char* without_extension = nullptr)
      : dir_(false), server_(without_extension), binary_(binary), title_(title) {}

  // Starts the program with ZVGFX naming the driver when one is given; before: what
  // the test does to the display first. False (with a failure recorded) when the
  // server did not come up.
  bool launch(const char* driver = nullptr, const std::function<void(Client&)>& before = {}) {
    if (!server_.ready()) {
      ADD_FAILURE() << "Xvfb did not report a display";
      return false;
    }
    client_ = std::make_unique<Client>(server_.display());
    if (!client_->connected()) {
      ADD_FAILURE() << "cannot connect to " << server_.display();
      return false;
    }
    // A key held longer than the repeat delay (xdotool slowed down by a loaded
    // machine) would repeat: the server does not repeat keys in these tests.
    client_->autoRepeatOff();
    if (before) before(*client_);
    program_ = std::make_unique<ChildProcess>(binary_, [&] {
      if (chdir(dir_.path().c_str()) != 0) _exit(126);
      setenv("DISPLAY", server_.display().c_str(), 1);
      unsetenv("ZVGFX");
      if (driver) setenv("ZVGFX", driver, 1);
      const int devnull = open("/dev/null", O_RDWR);
      const int errors = open("errors.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(devnull, 0);
      dup2(devnull, 1);
      dup2(errors, 2);
    });
    return true;
  }

  // Launches the program and waits for its window, then gives it the focus.
  bool start(const char* driver = nullptr, const std::function<void(Client&)>& before = {}) {
    if (!launch(driver, before)) return false;
    if (!waitUntil([&] { return (window_ = find()) != 0; })) {
      ADD_FAILURE() << "no window titled " << title_ << " appeared";
      return false;
    }
    return focus();
  }

  // Gives the window the keyboard focus and waits until the server says it has it.
  bool focus() {
    const bool focused = waitUntil([&] {
      if (client_->focused() == window_) return true;
      xdotool({"windowfocus", std::to_string(window_)});
      return client_->focused() == window_;
    });
    if (!focused) ADD_FAILURE() << "the window does not get the focus";
    return focused;
  }

  bool xdotool(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "xdotool");
    return runTool(server_.display(), arguments);
  }
  bool key(const std::string& name) { return xdotool({"key", "--clearmodifiers", name}); }

  ::Window find() { return client_->find(title_); }
  // A file the program wrote in its directory; standard error is errors.txt, empty for
  // a clean run (a sanitizer's finding lands there).
  std::string file(const std::string& name) const { return read_file(dir_.path() + "/" + name); }
  std::string errors() const { return file("errors.txt"); }

  // The test's own connection goes before the server does (Xlib ends a program whose
  // connection breaks).
  void disconnect() { client_.reset(); }

  Xvfb& server() { return server_; }
  ChildProcess& program() { return *program_; }
  Client& client() { return *client_; }
  ::Window window() const { return window_; }
  void setWindow(::Window window) { window_ = window; }

 private:
  TempDir dir_;
  Xvfb server_;
  const char* binary_;
  const char* title_;
  std::unique_ptr<ChildProcess> program_;
  std::unique_ptr<Client> client_;
  ::Window window_ = 0;
};

}  // namespace zv::test
