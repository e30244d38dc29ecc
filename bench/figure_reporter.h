// What the benchmark programs share: a console reporter that also keeps one figure
// per benchmark run by name (the CPU time, or a rate), so that a program can print
// the ratio of two benchmarks after the runs (with repetitions the aggregates come as
// <name>_median and so on; the lookup prefers the medians); the library's set-up with
// five repetitions; memcpy of a frame, the limit most ratios are taken against; and the
// share of a core a waiting program takes.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>
#include <map>
#include <string>
#include <vector>

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

using Run = benchmark::BenchmarkReporter::Run;

inline double cpuTime(const Run& run) { return run.GetAdjustedCPUTime(); }
// The real time, or the manual time of benchmarks that report their own.
inline double realTime(const Run& run) { return run.GetAdjustedRealTime(); }
// Negative when the run reports no items.
inline double itemsPerSecond(const Run& run) {
  auto rate = run.counters.find("items_per_second");
  return rate == run.counters.end() ? -1.0 : rate->second.value;
}

// The processor time all of the process's threads take while the caller sleeps for
// the time given, as a percentage of one core.
inline double processShareOfOneCore(int milliseconds) {
  timespec cpu0, cpu1, wall0, wall1;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu0);
  clock_gettime(CLOCK_MONOTONIC, &wall0);
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu1);
  clock_gettime(CLOCK_MONOTONIC, &wall1);
  const auto seconds = [](const timespec& a, const timespec& b) {
    return double(b.tv_sec - a.tv_sec) + double(b.tv_nsec - a.tv_nsec) * 1e-9;
  };
  return 100.0 * seconds(cpu0, cpu1) / seconds(wall0, wall1);
}

class FigureReporter : public benchmark::ConsoleReporter {
 public:
  using Figure = double (*)(const Run&);

  explicit FigureReporter(Figure figure)
      : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular), figure_(figure) {}

  void ReportRuns(const std::vector<Run>& reports) override {
    for (const Run& run : reports) {
      const double value = run.error_occurred ? -1.0 : figure_(run);
      if (value >= 0) figures_[run.benchmark_name()] = value;
    }
    ConsoleReporter::ReportRuns(reports);
  }

  // The figures of both benchmarks, of their medians when there are repetitions;
  // false when either is missing or the second is not positive.
  bool pair(const std::string& first, const std::string& second, double* a, double* b,
            bool* medians) const {
    for (const char* suffix : {"_median", ""}) {
      auto x = figures_.find(first + suffix), y = figures_.find(second + suffix);
      if (x == figures_.end() || y == figures_.end() || y->second <= 0) continue;
      *a = x->second;
      *b = y->second;
      *medians = *suffix != '\0';
      return true;
    }
    return false;
  }

 private:
  Figure figure_;
  std::map<std::string, double> figures_;
};

}  // namespace zvbench
