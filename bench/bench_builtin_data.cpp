// Speed of unpacking the built-in fonts and palettes: one LZW decode of the stored
// block into a fresh buffer per iteration (the time is per decode), and for
// comparison one encode of the unpacked block.
#include <benchmark/benchmark.h>

#include <vector>

#include "gfx/builtin_data.h"
#include "gfx/lzw.h"

namespace {

void BM_DecodeStoredBlock(benchmark::State& state) {
  std::vector<uint8_t> out(zv::BUILTIN_DATA_SIZE);
  for (auto _ : state) {
    size_t produced = 0;
    int32_t result = zv::lzwDecode(zv::builtin_data_packed, zv::builtin_data_packed_size, out.data(),
                                   out.size(), &produced);
    benchmark::DoNotOptimize(result);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
    if (result != 0 || produced != zv::BUILTIN_DATA_SIZE) state.SkipWithError("stored block does not decode");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * zv::BUILTIN_DATA_SIZE));
}
BENCHMARK(BM_DecodeStoredBlock)->Unit(benchmark::kMicrosecond);

void BM_EncodeBlock(benchmark::State& state) {
  const uint8_t* data = zv::builtinData();
  for (auto _ : state) {
    std::vector<uint8_t> coded = zv::lzwEncode(data, zv::BUILTIN_DATA_SIZE);
    benchmark::DoNotOptimize(coded.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * zv::BUILTIN_DATA_SIZE));
}
BENCHMARK(BM_EncodeBlock)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
