// A program the Windows-side window tests start as a child process, with the
// creation flags that say how it gets a console; ended by force if a test leaves it
// running.
#pragma once

#include <windows.h>

#include <string>

#include "tests/gfx/win32/window_access.h"

namespace zvtest {

class Child {
 public:
  explicit Child(std::string command, DWORD creation_flags = 0) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    started_ = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, creation_flags, nullptr, nullptr,
                              &startup, &info_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (!started_) return;
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info_.hProcess, 2);
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
  }
  bool started() const { return started_; }
  HWND window() const { return programWindow(info_.dwProcessId); }
  // The exit status, or -1 when the program has not ended within half a minute.
  long exitStatus() const {
    DWORD status = 0;
    if (WaitForSingleObject(info_.hProcess, 30000) != WAIT_OBJECT_0 || !GetExitCodeProcess(info_.hProcess, &status))
      return -1;
    return static_cast<long>(status);
  }

 private:
  PROCESS_INFORMATION info_{};
  bool started_ = false;
};

}  // namespace zvtest
