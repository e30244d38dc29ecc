// One whole run of the calculator in-process: the nine entries typed through the
// line editor, every pause answered at once, the report written to a file.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "calculator/calculator.h"
#include "runtime/runtime.h"
#include "tests/support/scripted_console.h"

namespace {

void BM_WholeRun(benchmark::State& state) {
  char pattern[] = "/tmp/invar-bench-XXXXXX";
  const char* dir = mkdtemp(pattern);
  if (!dir || chdir(dir) != 0) {
    state.SkipWithError("no temporary directory");
    return;
  }
  const char* entries[] = {"1", "0", "1", "1", "2", "0", "0", "0", "3"};
  for (auto _ : state) {
    state.PauseTiming();
    zv::runtime_exit();
    zv::runtime_constructor();
    zv::test::ScriptedConsole console;
    for (const char* e : entries) {
      console.type(e);
      console.press(13);
    }
    for (int i = 0; i < 16; ++i) console.press(' ');
    zv::test::install(console);
    state.ResumeTiming();
    zv::run_calculation();
    benchmark::DoNotOptimize(console.output.size());
    state.PauseTiming();
    zv::test::uninstall();
    state.ResumeTiming();
  }
  std::string cleanup = std::string("rm -rf '") + dir + "'";
  if (chdir("/tmp") != 0 || std::system(cleanup.c_str()) != 0) state.SkipWithError("cleanup failed");
}
BENCHMARK(BM_WholeRun)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
