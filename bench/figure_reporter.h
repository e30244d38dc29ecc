// A console reporter that also keeps one figure per benchmark run by name (the CPU
// time, or a rate), so that a program can print the ratio of two benchmarks after
// the runs. With repetitions the aggregates come as <name>_median and so on; the
// lookup prefers the medians.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

namespace zvbench {

using Run = benchmark::BenchmarkReporter::Run;

inline double cpuTime(const Run& run) { return run.GetAdjustedCPUTime(); }
// The real time, or the manual time of benchmarks that report their own.
inline double realTime(const Run& run) { return run.GetAdjustedRealTime(); }
// Negative when the run reports no items.
inline double itemsPerSecond(const Run& run) {
  auto rate = run.counters.find("items_per_second");
  return rate == run.counters.end() ? -1.0 : rate->second.value;
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
