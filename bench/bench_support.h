// What several benchmark programs share: Google Benchmark set up with five
// repetitions ahead of the program's own arguments, and a run in a child process
// that has an Xvfb of its own as its display.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/support/xvfb.h"
#endif

namespace zvbench {

// False when the arguments hold one the library does not know (reported).
inline bool initialiseRepeated(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  std::string repetitions = "--benchmark_repetitions=5";
  args.insert(args.begin() + 1, repetitions.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  return !benchmark::ReportUnrecognizedArguments(count, args.data());
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
