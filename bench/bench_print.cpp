// Speed of printing numbers: number_to_text against a bare snprintf("%.16g"), and
// print_double into a file channel against snprintf + fwrite into a FILE*, on one
// fixed set of varied doubles. Also checks that number_to_text never allocates.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "bench/figure_reporter.h"
#include "runtime/channel.h"
#include "runtime/file_channel.h"
#include "runtime/number_text.h"
#include "runtime/print.h"
#include "runtime/runtime.h"
#include "runtime/strings.h"

// Every allocation through operator new is counted (operator new[] comes here too).
namespace {
std::atomic<uint64_t> allocations{0};
}

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
// The replacements pair operator new with free; GCC cannot see that and warns.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

constexpr int32_t CHANNEL = 1;
constexpr size_t VALUE_COUNT = 1024;

// Integers, fractions, decimals of every magnitude, both signs, repeating
// fractions, roots and extreme exponents: the mix a report of results holds.
std::vector<double> make_values() {
  std::vector<double> v = {0.0, -0.0, 1.0, -1.5, 2.0 / 3, 1e15, 1e16, 1e-5, 123456789012345678.0, 1e300};
  uint64_t x = 0x9E3779B97F4A7C15u;
  while (v.size() < VALUE_COUNT) {
    x = x * 6364136223846793005u + 1442695040888963407u;
    double fraction = static_cast<double>(x >> 11) * 0x1p-53;
    size_t i = v.size();
    switch (i % 8) {
      case 0: v.push_back(static_cast<double>((x >> 40) % 100000)); break;
      case 1: v.push_back(fraction); break;
      case 2: v.push_back(fraction * std::pow(10.0, static_cast<double>((x >> 32) % 61) - 30)); break;
      case 3: v.push_back(-fraction * std::pow(10.0, static_cast<double>((x >> 32) % 61) - 30)); break;
      case 4: v.push_back(1.0 / static_cast<double>(i + 1)); break;
      case 5: v.push_back(std::sqrt(static_cast<double>(i))); break;
      case 6: v.push_back(std::ldexp(fraction + 0.5, static_cast<int>((x >> 50) % 2000) - 1000)); break;
      default: v.push_back(static_cast<double>((x >> 20) % 1000000) / 100.0); break;
    }
  }
  return v;
}

const std::vector<double>& values() {
  static const std::vector<double> v = make_values();
  return v;
}

std::string bench_file() { return "/tmp/zv_bench_print_" + std::to_string(getpid()) + ".txt"; }

void BM_number_to_text(benchmark::State& state) {
  const std::vector<double>& v = values();
  char buffer[zv::DOUBLE_DIGITS + 10];
  uint64_t before = allocations.load();
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(zv::number_to_text(v[i], buffer, zv::DOUBLE_DIGITS, zv::NUMBER_LEADING_BLANK));
    benchmark::ClobberMemory();
    if (++i == v.size()) i = 0;
  }
  state.counters["allocations"] = static_cast<double>(allocations.load() - before);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_number_to_text);

void BM_snprintf(benchmark::State& state) {
  const std::vector<double>& v = values();
  char buffer[32];
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::snprintf(buffer, sizeof buffer, "%.16g", v[i]));
    benchmark::ClobberMemory();
    if (++i == v.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_snprintf);

// The file is opened anew for every run; after each pass over the values the
// stream goes back to the start of the file so that it stays small.
void BM_print_double(benchmark::State& state) {
  const std::vector<double>& v = values();
  std::string name = bench_file();
  if (zv::open_channel(zv::temp_from_text(name.c_str()), zv::MODE_OUTPUT, zv::ACCESS_NONE, 0, CHANNEL, 0) != 0) {
    state.SkipWithError("cannot open the file channel");
    return;
  }
  zv::ChannelRecord* ch = zv::resolve_channel(CHANNEL);
  size_t i = 0;
  int32_t failures = 0;
  for (auto _ : state) {
    failures += zv::print_double(CHANNEL, v[i], zv::PRINT_NONE) != 0;
    if (++i == v.size()) {
      i = 0;
      ch->ops->seek(ch, 0, SEEK_SET);
      ch->column = 0;
    }
  }
  if (zv::close_channel(CHANNEL) != 0 || failures) state.SkipWithError("a print or the close failed");
  std::remove(name.c_str());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_print_double);

void BM_snprintf_fwrite(benchmark::State& state) {
  const std::vector<double>& v = values();
  std::string name = bench_file();
  std::FILE* f = std::fopen(name.c_str(), "wb");
  if (!f) {
    state.SkipWithError("cannot open the file");
    return;
  }
  std::setvbuf(f, nullptr, _IOFBF, 8192);
  char buffer[32];
  size_t i = 0;
  size_t failures = 0;
  for (auto _ : state) {
    int n = std::snprintf(buffer, sizeof buffer, "%.16g", v[i]);
    failures += std::fwrite(buffer, 1, static_cast<size_t>(n), f) != static_cast<size_t>(n);
    if (++i == v.size()) {
      i = 0;
      std::fseek(f, 0, SEEK_SET);
    }
  }
  if (std::fclose(f) != 0 || failures) state.SkipWithError("a write or the close failed");
  std::remove(name.c_str());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_snprintf_fwrite);

// The ratio of the two CPU times per item, of the medians when there are repetitions.
void print_ratio(const zvbench::FigureReporter& r, const std::string& ours,
                 const std::string& baseline) {
  double a = 0, b = 0;
  bool medians = false;
  if (r.pair(ours, baseline, &a, &b, &medians))
    std::printf("ratio %s / %s: %.2f%s\n", ours.c_str(), baseline.c_str(), a / b,
                medians ? " (medians)" : "");
}

// number_to_text must not allocate: every value converted a hundred times.
bool number_to_text_allocates() {
  const std::vector<double>& v = values();
  char buffer[zv::DOUBLE_DIGITS + 10];
  uint64_t before = allocations.load();
  size_t characters = 0;
  for (int pass = 0; pass < 100; ++pass)
    for (double value : v)
      if (const char* t = zv::number_to_text(value, buffer, zv::DOUBLE_DIGITS, zv::NUMBER_LEADING_BLANK))
        characters += t[0] != 0;
  uint64_t count = allocations.load() - before;
  std::printf("number_to_text: %zu conversions, %llu allocations\n", characters,
              static_cast<unsigned long long>(count));
  return count != 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (number_to_text_allocates()) {
    std::fprintf(stderr, "number_to_text allocated memory\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  zvbench::FigureReporter reporter(zvbench::cpuTime);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  print_ratio(reporter, "BM_number_to_text", "BM_snprintf");
  print_ratio(reporter, "BM_print_double", "BM_snprintf_fwrite");
  return 0;
}
