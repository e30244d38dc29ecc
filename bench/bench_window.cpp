// Cost of showing the graphics screen in a window: the DirectX and GDI drivers on the
// virtual desktop, windowed, 640 x 480 at 8 bits.
//  - One cycle of the update thread woken with no dirty line, and woken by all 480
//    lines marked dirty, as the update thread's processor time per cycle against
//    memcpy of the frame's 307200 bytes in the same run.
//  - The processor time the whole program (default driver search) takes while it
//    waits at the calculator's first prompt for 10 s, as a percentage of one core,
//    and how often its threads were woken meanwhile.
// Prints:
//   DirectX update cycle, no dirty line: 0.05 x memcpy
//   ...
//   waiting at a prompt: 0.01 % of one core, 0.2 wake-ups a second
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "bench/figure_reporter.h"
#include "calculator/calculator.h"
#include "gfx/screen_mode.h"
#include "gfx/screen_state.h"
#include "runtime/runtime.h"
#include "platform/win32/virtual_desktop.h"
#include "tests/gfx/win32/typing.h"

namespace {

constexpr size_t FRAME_BYTES = 640 * 480;
const char* const DRIVERS[] = {"DirectX", "GDI"};
const char* const NO_DIRTY = " update cycle, no dirty line";
const char* const ALL_DIRTY = " update cycle, 480 dirty lines";
const char* const MEMCPY = "memcpy 307200 bytes";
constexpr int CYCLES = 50;  // per repetition
// What the library appends to the names of the cycle benchmarks.
const std::string CYCLE_SUFFIX = "/iterations:" + std::to_string(CYCLES) + "/manual_time";

// Processor time, in seconds, that the scheduler has given the process's threads
// other than the calling one: here the driver's update thread.
double otherThreadsCpu() {
  double total = 0;
  zvbench::forOtherThreads("schedstat", [&](FILE* stat) {
    unsigned long long nanoseconds = 0;
    if (std::fscanf(stat, "%llu", &nanoseconds) == 1) total += nanoseconds * 1e-9;
  });
  return total;
}

uint64_t cycles() { return zv::inputState().update_cycles.load(); }

// Mode 18 shown by the driver named, opened unless it is open already.
bool openWith(const char* driver) {
  const zv::ScreenState* s = zv::currentScreen();
  if (!s || !s->driver || std::strcmp(s->driver->name, driver) != 0) {
    zv::setScreenDriverName(driver);
    zv::setScreenMode(18, 8, 0, 0, 0);
    s = zv::currentScreen();
  }
  return s && s->driver && std::strcmp(s->driver->name, driver) == 0;
}

// One cycle asked for while nothing changed: what a wake costs the update thread.
void BM_EmptyCycle(benchmark::State& state, const char* driver) {
  if (!openWith(driver)) state.SkipWithError("the driver did not open");
  for (auto _ : state) {
    const uint64_t first = cycles();
    const double before = otherThreadsCpu();
    zv::requestUpdateCycle();
    while (cycles() == first) zv::sleep_ms(1);
    state.SetIterationTime(otherThreadsCpu() - before);
  }
}

// Every row marked dirty once the period since the last frame has passed: the cycle
// that the drawing wakes presents the whole frame.
void BM_FullCycle(benchmark::State& state, const char* driver) {
  if (!openWith(driver)) state.SkipWithError("the driver did not open");
  zv::ScreenState* s = zv::currentScreen();
  for (auto _ : state) {
    zv::sleep_ms(zv::UPDATE_PERIOD_MS + 1);
    const uint64_t first = cycles();
    const double before = otherThreadsCpu();
    zv::lockScreen();
    zv::markRowsDirty(s, 0, s->height - 1);
    zv::unlockScreen(1, 0);
    while (cycles() == first) zv::sleep_ms(1);
    state.SetIterationTime(otherThreadsCpu() - before);
  }
}

// The calculator on the virtual desktop, waiting at its first prompt for 10 s; then
// typed to its end. The share of one core the process used while it waited.
zvbench::IdleFigures idleShareOfOneCore() {
  // The report goes to a directory of its own, removed afterwards.
  char directory[] = "/tmp/invar-bench-XXXXXX";
  char* previous = getcwd(nullptr, 0);
  const bool entered = previous && mkdtemp(directory) && chdir(directory) == 0;
  if (!entered) {
    std::free(previous);
    return zvbench::IdleFigures{-1, -1};
  }
  std::atomic<bool> finished{false};
  std::atomic<bool> waited{false};
  zvbench::IdleFigures share{-1, -1};
  std::thread typist([&] {
    if (zvtest::waitForProgramWindow()) {
      zv::sleep_ms(500);  // the first prompt is drawn and shown
      share = zvbench::idleFigures(10000);
      waited = true;
      if (zvtest::typeEntries({"1", "0", "1", "1", "2", "0", "0", "0", "3"}) && zvtest::typePauses(11))
        return;
    }
    zvtest::pressOnUntil(finished);
  });
  zv::run_calculation();
  finished = true;
  typist.join();
  zv::closeScreenAtExit();
  std::remove("invar.txt");
  if (chdir(previous) == 0) rmdir(directory);
  std::free(previous);
  return waited ? share : zvbench::IdleFigures{-1, -1};
}

}  // namespace

int main(int argc, char** argv) {
  if (!zvbench::initialize(argc, argv)) return 1;
  unsetenv("ZVGFX");
  zv::vdesk::enable(1280, 1024);

  // The screen the calculator opens, without the calculator: the cycle benchmarks
  // run while the program thread is idle.
  zv::runtime_constructor();
  for (const char* driver : DRIVERS) {
    if (!openWith(driver)) {
      std::fprintf(stderr, "no %s window on the virtual desktop\n", driver);
      return 1;
    }
    const std::string name(driver);
    benchmark::RegisterBenchmark((name + NO_DIRTY).c_str(), BM_EmptyCycle, driver)
        ->UseManualTime()->Iterations(CYCLES)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((name + ALL_DIRTY).c_str(), BM_FullCycle, driver)
        ->UseManualTime()->Iterations(CYCLES)->Unit(benchmark::kMicrosecond);
  }
  benchmark::RegisterBenchmark(MEMCPY, zvbench::memcpyFrame, FRAME_BYTES)->Unit(benchmark::kMicrosecond);
  zvbench::FigureReporter reporter(zvbench::realTime);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  zv::closeScreenAtExit();
  zv::setScreenDriverName(nullptr);

  const zvbench::IdleFigures idle = idleShareOfOneCore();
  for (const char* driver : DRIVERS) {
    for (const char* figure : {NO_DIRTY, ALL_DIRTY}) {
      const std::string name = std::string(driver) + figure;
      double a = 0, b = 0;
      bool medians = false;
      if (reporter.pair(name + CYCLE_SUFFIX, MEMCPY, &a, &b, &medians))
        std::printf("%s: %.2f x memcpy\n", name.c_str(), a / b);
    }
  }
  if (idle.percent_of_core >= 0)
    std::printf("waiting at a prompt: %.2f %% of one core, %.1f wake-ups a second\n", idle.percent_of_core,
                idle.wakeups_per_second);
  else std::printf("waiting at a prompt: the window did not open\n");
  zv::vdesk::disable();
  return idle.percent_of_core >= 0 ? 0 : 1;
}
