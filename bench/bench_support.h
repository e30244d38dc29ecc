// What several benchmark programs share: Google Benchmark set up with five
// repetitions ahead of the program's own arguments; memcpy of a frame, the limit most
// ratios are taken against; the share of a core a waiting program takes; and a run in
// a child process that has an Xvfb of its own as its display.
#pragma once

#include <benchmark/benchmark.h>
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/dib.h"

#ifndef _WIN32
#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/support/xvfb.h"
#endif

namespace zvbench {

// The library's set-up, five repetitions (and the program's own default, when given)
// unless the command line says otherwise; false for an argument it does not know.
inline bool initialize(int argc, char** argv, const char* program_default = nullptr) {
  std::vector<char*> args(argv, argv + argc);
  std::string repetitions = "--benchmark_repetitions=5", own = program_default ? program_default : "";
  args.insert(args.begin() + 1, repetitions.data());
  if (program_default) args.insert(args.begin() + 2, own.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  return !benchmark::ReportUnrecognizedArguments(count, args.data());
}

// memcpy of `bytes`. The destination starts 64 bytes further into its page than the
// source: copies of frame size between equal page offsets take the string-move
// instruction, which some processors run ten times slower, and would flatter the
// ratios.
inline void memcpyFrame(benchmark::State& state, size_t bytes) {
  std::vector<uint8_t> from(bytes, 0x5A), to(bytes + 64);
  for (auto _ : state) {
    std::memcpy(to.data() + 64, from.data(), bytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
}

// What a waiting program costs while the caller sleeps for the time given: the
// processor time of all of the process's threads as a percentage of one core, and how
// often its other threads were woken (context switches a second, counted from the
// kernel's per-thread figures; the caller's own single sleep is left out).
struct IdleFigures {
  double percent_of_core;
  double wakeups_per_second;
};

#ifndef _WIN32
// Calls read with the open file of that name in /proc/self/task/<thread> for each
// thread of the process other than the calling one.
template <class Read>
void forOtherThreads(const char* file, Read read) {
  const std::string self = std::to_string(gettid());
  DIR* tasks = opendir("/proc/self/task");
  if (!tasks) return;
  while (const dirent* task = readdir(tasks)) {
    if (task->d_name[0] == '.' || self == task->d_name) continue;
    FILE* stream = std::fopen(("/proc/self/task/" + std::string(task->d_name) + "/" + file).c_str(), "r");
    if (!stream) continue;
    read(stream);
    std::fclose(stream);
  }
  closedir(tasks);
}

// The context switches of the process's threads other than the calling one.
inline uint64_t otherThreadsSwitches() {
  uint64_t total = 0;
  forOtherThreads("status", [&](FILE* status) {
    char line[256];
    unsigned long long n = 0;
    while (std::fgets(line, sizeof line, status)) {
      if (std::sscanf(line, "voluntary_ctxt_switches: %llu", &n) == 1 ||
          std::sscanf(line, "nonvoluntary_ctxt_switches: %llu", &n) == 1) {
        total += n;
      }
    }
  });
  return total;
}
#endif

inline IdleFigures idleFigures(int milliseconds) {
  timespec cpu0, cpu1, wall0, wall1;
#ifndef _WIN32
  const uint64_t switches0 = otherThreadsSwitches();
#endif
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu0);
  clock_gettime(CLOCK_MONOTONIC, &wall0);
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu1);
  clock_gettime(CLOCK_MONOTONIC, &wall1);
  const auto seconds = [](const timespec& a, const timespec& b) {
    return double(b.tv_sec - a.tv_sec) + double(b.tv_nsec - a.tv_nsec) * 1e-9;
  };
  const double wall = seconds(wall0, wall1);
  double wakeups = 0;
#ifndef _WIN32
  wakeups = double(otherThreadsSwitches() - switches0) / wall;
#endif
  return IdleFigures{100.0 * seconds(cpu0, cpu1) / wall, wakeups};
}

// What a window driver's update thread does for a 32-bit screen whose every row
// changed: one SetDIBitsToDevice of the whole top-down picture into the window, two
// pictures in turn as a screen that changes.
inline void presentFullFrames(benchmark::State& state, HWND window, int width, int height) {
  std::vector<uint32_t> frames[2] = {std::vector<uint32_t>(static_cast<size_t>(width) * height, 0x203040),
                                     std::vector<uint32_t>(static_cast<size_t>(width) * height, 0xC0B0A0)};
  const BITMAPINFO info = zv::test::bitmapInfo32(width, height);
  HDC dc = GetDC(window);
  size_t turn = 0;
  for (auto _ : state) {
    SetDIBitsToDevice(dc, 0, 0, width, height, 0, 0, 0, height, frames[turn++ & 1].data(), &info, DIB_RGB_COLORS);
  }
  ReleaseDC(window, dc);
}

#ifndef _WIN32
// Runs the body in a child process whose DISPLAY is an Xvfb of its own (the layer
// opens the display at its first use, in that process only); the server stops once
// the child has ended. Without Xvfb nothing runs and the answer is 0.
inline int runOnOwnDisplay(const char* figures, int (*body)(int, char**), int argc, char** argv) {
  zv::test::Xvfb server;
  if (!server.ready()) {
    std::printf("Xvfb is not available: no %s figures\n", figures);
    return 0;
  }
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    setenv("DISPLAY", server.display().c_str(), 1);
    unsetenv("ZVGFX");
    std::exit(body(argc, argv));
  }
  int status = 1;
  if (child > 0) waitpid(child, &status, 0);
  return child > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
#endif

}  // namespace zvbench
