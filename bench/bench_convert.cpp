// Speed of the pixel-format converters on a 640x480 frame with every line dirty: the
// vector member and the plain member of each source depth, destination depth and
// channel order, each against memcpy of the destination frame's bytes (in cache) in
// the same run. Prints one line per member, as the ratio of the medians:
//   convert 8->32 order 0: 2.31 x memcpy
//   plain 8->32 order 0: 4.10 x memcpy
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/figure_reporter.h"
#include "gfx/screen_state.h"
#include "gfx/win32/convert.h"

namespace {

constexpr int32_t WIDTH = 640, HEIGHT = 480;
constexpr int32_t SOURCE_DEPTHS[] = {8, 16, 32};
constexpr int32_t DESTINATION_DEPTHS[] = {15, 16, 24, 32};

int32_t bytesOf(int32_t depth) { return depth == 15 ? 2 : depth / 8; }

zv::SourceLayout layoutOf(int32_t source_depth) {
  return source_depth == 8 ? zv::SourceLayout::palettised
         : source_depth == 16 ? zv::SourceLayout::rgb16 : zv::SourceLayout::rgb32;
}

std::string memberName(bool vector, int32_t source, int32_t destination, int32_t order) {
  return std::string(vector ? "convert " : "plain ") + std::to_string(source) + "->" +
         std::to_string(destination) + " order " + std::to_string(order);
}
std::string memcpyName(int32_t destination) {
  return "memcpy " + std::to_string(WIDTH * HEIGHT * bytesOf(destination)) + " bytes";
}

// A screen of the source depth with random pixels and palette, every row dirty. The
// converter scratch block (the expansion table) lives with it.
zv::ScreenState* makeScreen(int32_t source_depth) {
  zv::ScreenState* s = zv::createScreenState();
  s->width = WIDTH;
  s->height = HEIGHT;
  s->scanline_size = 1;
  zv::normaliseScreenDepth(s, source_depth);
  if (!zv::allocateScreenBuffers(s, 1)) {
    zv::destroyScreenState(s);
    return nullptr;
  }
  std::mt19937 rng(7);
  for (int64_t i = 0; i < int64_t{HEIGHT} * s->pitch; ++i) s->framebuffer[i] = static_cast<uint8_t>(rng());
  for (int32_t i = 0; i < 256; ++i) s->palette[i] = rng() & 0x00FFFFFF;
  std::memset(s->dirty_lines, 1, HEIGHT);
  return s;
}

void BM_Convert(benchmark::State& state, bool vector, int32_t source, int32_t destination,
                int32_t order) {
  zv::ScreenState* s = makeScreen(source);
  if (!s) {
    state.SkipWithError("no memory for the screen");
    return;
  }
  const int32_t line = WIDTH * bytesOf(destination);
  std::vector<uint8_t> out(static_cast<size_t>(line) * HEIGHT), check(out.size());
  zv::buildExpansionTable(zv::expansionTable(), order);
  const zv::SourceLayout layout = layoutOf(source);
  const zv::Converter convert = zv::converterEntry(zv::converterIndex(vector, order, layout, destination));
  const zv::Converter plain = zv::converterEntry(zv::converterIndex(false, order, layout, destination));
  for (auto _ : state) {
    convert(*s, out.data(), line);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  plain(*s, check.data(), line);
  const bool same = out == check;
  zv::destroyScreenState(s);
  if (!same) state.SkipWithError("the member's bytes differ from the plain member's");
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(out.size()));
}

void BM_Memcpy(benchmark::State& state, int32_t destination) {
  const size_t bytes = static_cast<size_t>(WIDTH) * HEIGHT * bytesOf(destination);
  std::vector<uint8_t> from(bytes, 0x5A), to(bytes);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}

void registerAll() {
  for (int32_t d : {15, 24, 32})  // 15 and 16 bits share one frame size
    benchmark::RegisterBenchmark(memcpyName(d).c_str(), BM_Memcpy, d)
        ->Unit(benchmark::kMicrosecond);
  for (int32_t source : SOURCE_DEPTHS)
    for (int32_t destination : DESTINATION_DEPTHS)
      for (int32_t order : {0, 1})
        for (bool vector : {true, false})
          benchmark::RegisterBenchmark(memberName(vector, source, destination, order).c_str(),
                                       BM_Convert, vector, source, destination, order)
              ->Unit(benchmark::kMicrosecond);
}

void printRatios(const zvbench::FigureReporter& r) {
  for (int32_t source : SOURCE_DEPTHS)
    for (int32_t destination : DESTINATION_DEPTHS)
      for (int32_t order : {0, 1})
        for (bool vector : {true, false}) {
          const std::string name = memberName(vector, source, destination, order);
          double a = 0, b = 0;
          bool medians = false;
          if (r.pair(name, memcpyName(destination == 16 ? 15 : destination), &a, &b, &medians))
            std::printf("%s: %.2f x memcpy\n", name.c_str(), a / b);
        }
}

}  // namespace

int main(int argc, char** argv) {
  if (!zvbench::initialize(argc, argv, "--benchmark_min_time=0.1")) return 1;
  registerAll();
  zvbench::FigureReporter reporter(zvbench::cpuTime);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::printf("vector level %d\n", zv::converterVectorLevel());
  printRatios(reporter);
  return 0;
}
