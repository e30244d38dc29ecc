// Cost of showing a frame through the X11 backend: a 640 x 480 window on an Xvfb of
// its own, a full 32-bit frame given to SetDIBitsToDevice (converted into the
// window's surface, copied into the shared image and sent with MIT-SHM, waiting until
// the server has read it), as the real time per frame against memcpy of the frame's
// 1228800 bytes in the same run. The benchmarks run in a child process that has the
// display to itself; the parent stops the server once the child has ended (a
// program whose server goes away ends at once). Without Xvfb nothing is measured.
// Prints:
//   full frame to the X server: 4.77 x memcpy
#include <benchmark/benchmark.h>

#ifndef _WIN32
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/figure_reporter.h"

namespace {

constexpr int WIDTH = 640, HEIGHT = 480;
constexpr size_t FRAME_BYTES = static_cast<size_t>(WIDTH) * HEIGHT * 4;
const char* const FRAME = "full frame to the X server";
const char* const MEMCPY = "memcpy 1228800 bytes";

HWND g_window = nullptr;

LRESULT CALLBACK plainProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(window, message, wparam, lparam);
}

void BM_Frame(benchmark::State& state) {
  // Two pictures, shown in turn, as a screen that changes.
  std::vector<uint32_t> frames[2] = {std::vector<uint32_t>(static_cast<size_t>(WIDTH) * HEIGHT, 0x203040),
                                     std::vector<uint32_t>(static_cast<size_t>(WIDTH) * HEIGHT, 0xC0B0A0)};
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = WIDTH;
  info.bmiHeader.biHeight = -HEIGHT;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  HDC dc = GetDC(g_window);
  size_t turn = 0;
  for (auto _ : state) {
    const std::vector<uint32_t>& frame = frames[turn++ & 1];
    SetDIBitsToDevice(dc, 0, 0, WIDTH, HEIGHT, 0, 0, 0, HEIGHT, frame.data(), &info, DIB_RGB_COLORS);
  }
  ReleaseDC(g_window, dc);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(FRAME_BYTES));
}

void BM_Memcpy(benchmark::State& state) {
  std::vector<uint8_t> from(FRAME_BYTES, 1), to(FRAME_BYTES);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), FRAME_BYTES);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
}

int runBenchmarks(int argc, char** argv) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = plainProc;
  wc.lpszClassName = "zvbenchx11";
  RegisterClassA(&wc);
  g_window = CreateWindowExA(0, "zvbenchx11", "bench", WS_POPUP | WS_VISIBLE, 0, 0, WIDTH, HEIGHT, nullptr, nullptr,
                             nullptr, nullptr);
  if (!g_window) {
    std::fprintf(stderr, "no X window\n");
    return 1;
  }
  if (!zvbench::initialiseRepeated(argc, argv)) return 1;
  benchmark::RegisterBenchmark(FRAME, BM_Frame)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark(MEMCPY, BM_Memcpy)->Unit(benchmark::kMicrosecond);
  zvbench::FigureReporter reporter(zvbench::realTime);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  double a = 0, b = 0;
  bool medians = false;
  if (reporter.pair(FRAME, MEMCPY, &a, &b, &medians))
    std::printf("%s: %.2f x memcpy%s\n", FRAME, a / b, medians ? " (medians)" : "");
  std::fflush(stdout);
  DestroyWindow(g_window);
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return zvbench::runOnOwnDisplay("X11", runBenchmarks, argc, argv); }

#else
int main() { return 0; }
#endif  // _WIN32
