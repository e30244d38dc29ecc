// Cost of showing the graphics screen through the X11 backend, on an Xvfb of its own:
//  - A full 32-bit 640 x 480 frame given to SetDIBitsToDevice (converted into the
//    window's surface, which is the shared image when the formats allow, and sent
//    with MIT-SHM, waiting until the server has read it), as real time per frame
//    against memcpy of the frame's 1228800 bytes in the same run.
//  - The calculator in its window, waiting at its first prompt for 10 s: the process's
//    processor time as a percentage of one core, and its threads' wake-ups a second.
//  - Key to pixels at that prompt: 100 keys (a digit, then Backspace, in turn) pressed
//    through XTEST, each timed until the server's copy of the window shows its effect
//    in the entry's cell (polled with XGetImage); median and 99th percentile.
// The benchmarks run in a child process that has the display to itself; the parent
// stops the server once the child has ended (a program whose server goes away ends at
// once). Without Xvfb nothing is measured.
// Prints:
//   full frame to the X server: 4.77 x memcpy
//   waiting at a prompt: 0.01 % of one core, 0.2 wake-ups a second
//   key to pixels over 100 keys: p50 21.3 ms, p99 38.0 ms
#include <benchmark/benchmark.h>

#ifndef _WIN32
#include <windows.h>

#include <X11/keysym.h>
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "bench/figure_reporter.h"
#include "calculator/calculator.h"
#include "gfx/builtin_data.h"
#include "gfx/screen_mode.h"
#include "platform/platform.h"
#include "runtime/runtime.h"
#include "tests/support/x11_client.h"

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
  zvbench::presentFullFrames(state, g_window, WIDTH, HEIGHT);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(FRAME_BYTES));
}

using Clock = std::chrono::steady_clock;

// XTEST's key event, from the library xdotool brings along (the function is looked up,
// so that no development package is needed); null where it is missing.
using FakeKeyEvent = int (*)(Display*, unsigned keycode, int is_press, unsigned long delay);
FakeKeyEvent xtestKeyEvent() {
  void* library = dlopen("libXtst.so.6", RTLD_NOW);
  return library ? reinterpret_cast<FakeKeyEvent>(dlsym(library, "XTestFakeKeyEvent")) : nullptr;
}

// Whether the pixels (an 8 x 16 cell, RGB) show the character of the VGA font, lit
// pixels wherever the glyph has them.
bool cellShows(const std::vector<uint8_t>& rgb, unsigned char c) {
  const zv::FontInfo* font = zv::builtinFont(16);
  if (!font || rgb.size() != 8 * 16 * 3) return false;
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 8; ++x) {
      const bool lit = rgb[(static_cast<size_t>(y) * 8 + static_cast<size_t>(x)) * 3] != 0;
      if (lit != (((font->glyph_data[c * 16 + y] >> x) & 1) != 0)) return false;
    }
  }
  return true;
}

struct Figures {
  double idle_percent = -1;
  double idle_wakeups = -1;
  std::vector<double> key_ms;
};

// Beside the calculator: finds its window, measures the idle share, then the keys.
// Ends the process when done (the calculator still waits for its entry).
[[noreturn]] void measureCalculator(const std::string& display, const std::string& directory) {
  Figures figures;
  zv::test::Client client(display, false);
  const FakeKeyEvent fake_key = xtestKeyEvent();
  ::Window window = 0;
  for (int tries = 0; tries < 1000 && !window; ++tries, zv::sleep_ms(10)) window = client.find("invar");
  Display* x = XOpenDisplay(display.c_str());
  if (window && fake_key && x) {
    zv::sleep_ms(500);  // the first prompt is drawn and shown
    const zvbench::IdleFigures idle = zvbench::idleFigures(10000);
    figures.idle_percent = idle.percent_of_core;
    figures.idle_wakeups = idle.wakeups_per_second;

    // The entry's cell: the column after the first prompt "a11=? " on text row 4.
    const unsigned one = XKeysymToKeycode(x, XK_1), backspace = XKeysymToKeycode(x, XK_BackSpace);
    auto press = [&](unsigned keycode) {
      fake_key(x, keycode, True, 0);
      fake_key(x, keycode, False, 0);
      XFlush(x);
    };
    int column = -1;
    for (int c = 0; c + 6 < 80 && column < 0; ++c) {
      const std::vector<uint8_t> row = client.captureArea(window, c * 8, 64, 8 * 6, 16);
      bool all = row.size() == 8 * 6 * 16 * 3;
      for (int i = 0; all && i < 6; ++i) {
        std::vector<uint8_t> cell;
        for (int y = 0; y < 16; ++y) {
          const auto* line = &row[(static_cast<size_t>(y) * 48 + static_cast<size_t>(i) * 8) * 3];
          cell.insert(cell.end(), line, line + 24);
        }
        all = cellShows(cell, static_cast<unsigned char>("a11=? "[i]));
      }
      if (all) column = c + 6;
    }
    for (int key = 0; key < 100 && column >= 0; ++key) {
      const bool digit = key % 2 == 0;
      const auto start = Clock::now();
      press(digit ? one : backspace);
      bool shown = false;
      while (!shown && Clock::now() - start < std::chrono::seconds(2)) {
        const bool has_one = cellShows(client.captureArea(window, column * 8, 64, 8, 16), '1');
        shown = digit == has_one;
        if (!shown) std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
      if (!shown) break;
      figures.key_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
  }
  if (figures.idle_percent >= 0) {
    std::printf("waiting at a prompt: %.2f %% of one core, %.1f wake-ups a second\n", figures.idle_percent,
                figures.idle_wakeups);
  } else {
    std::printf("waiting at a prompt: %s\n", !window ? "the window did not open" : "no XTEST");
  }
  if (figures.key_ms.size() == 100) {
    std::sort(figures.key_ms.begin(), figures.key_ms.end());
    std::printf("key to pixels over 100 keys: p50 %.1f ms, p99 %.1f ms\n", figures.key_ms[49], figures.key_ms[98]);
  } else {
    std::printf("key to pixels: only %zu of 100 keys were seen\n", figures.key_ms.size());
  }
  std::fflush(stdout);
  std::remove((directory + "/invar.txt").c_str());
  rmdir(directory.c_str());
  _exit(figures.key_ms.size() == 100 ? 0 : 1);
}

// The calculator as the program runs it, with its report in a directory of its own.
[[noreturn]] void runCalculator(const std::string& display) {
  char directory[] = "/tmp/invar-bench-XXXXXX";
  if (!mkdtemp(directory) || chdir(directory) != 0) _exit(1);
  zv::runtime_constructor();
  zv::setWindowTitle("invar", 5);  // as the program's own module name gives it
  std::thread measuring(measureCalculator, display, std::string(directory));
  measuring.detach();
  zv::run_calculation();
  std::printf("the calculator ended before it was measured\n");
  _exit(1);
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
  if (!zvbench::initialize(argc, argv)) return 1;
  benchmark::RegisterBenchmark(FRAME, BM_Frame)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark(MEMCPY, zvbench::memcpyFrame, FRAME_BYTES)->Unit(benchmark::kMicrosecond);
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

// The benchmarks, then the calculator at its prompt, on a display of their own.
int main(int argc, char** argv) {
  return zvbench::runOnOwnDisplay("X11", [](int count, char** arguments) {
    const int status = runBenchmarks(count, arguments);
    if (status != 0) return status;
    runCalculator(std::getenv("DISPLAY"));
  }, argc, argv);
}

#else
int main() { return 0; }
#endif  // _WIN32
