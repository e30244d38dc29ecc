// Cost of a glscreen frame under an Xvfb of its own, drawn by Mesa's software
// renderer through GLX: the 640 x 480 framebuffer uploaded as a GL_BGRA texture, the
// quad drawn and the buffers swapped (with the window's events handled), as the real
// time per frame, next to the GDI driver's presentation of a full 32-bit frame
// (SetDIBitsToDevice of the whole 640 x 480 picture) in the same run. The benchmarks
// run in a child process that has the display to itself. Without Xvfb, or without
// OpenGL on it, nothing is measured.
// Prints:
//   glscreen frame: 2.41 ms, 3.10 x the GDI full frame (0.78 ms)
#include <benchmark/benchmark.h>

#ifndef _WIN32
#include <cstdio>
#include <vector>

#include "bench/bench_support.h"
#include "bench/figure_reporter.h"
#include "examples/glscreen.h"
#include "gfx/screen_mode.h"
#include "runtime/runtime.h"

namespace {

const char* const GL_FRAME = "glscreen frame";
const char* const GDI_FRAME = "GDI full frame";

glscreen::GlFunctions g_gl{};
HWND g_window = nullptr;

void BM_GlFrame(benchmark::State& state) {
  for (auto _ : state) {
    glscreen::drawFrame(g_gl);
    zv::call_hook<&zv::ConsoleHooks::copy_page>(-1, -1);
  }
}

LRESULT CALLBACK plainProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(window, message, wparam, lparam);
}

void BM_GdiFrame(benchmark::State& state) {
  zvbench::presentFullFrames(state, g_window, glscreen::WIDTH, glscreen::HEIGHT);
}

int runBenchmarks(int argc, char** argv) {
  zv::runtime_constructor();
  if (zv::setScreenSize(glscreen::WIDTH, glscreen::HEIGHT, glscreen::DEPTH, 1, glscreen::OPENGL_FLAG, 0) != 0 ||
      !zv::currentScreen() || !glscreen::loadGl(&g_gl)) {
    std::printf("no OpenGL screen on the display: no glscreen figures\n");
    return 0;
  }
  glscreen::printPage();
  GLuint texture = 0;
  glscreen::setUp(g_gl, &texture);
  WNDCLASSA wc{};
  wc.lpfnWndProc = plainProc;
  wc.lpszClassName = "zvbenchgdi";
  RegisterClassA(&wc);
  g_window = CreateWindowExA(0, "zvbenchgdi", "bench", WS_POPUP | WS_VISIBLE, 0, 0, glscreen::WIDTH,
                             glscreen::HEIGHT, nullptr, nullptr, nullptr, nullptr);
  if (!zvbench::initialize(argc, argv)) return 1;
  benchmark::RegisterBenchmark(GL_FRAME, BM_GlFrame)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark(GDI_FRAME, BM_GdiFrame)->Unit(benchmark::kMillisecond);
  zvbench::FigureReporter reporter(zvbench::realTime);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  double gl = 0, gdi = 0;
  bool medians = false;
  if (reporter.pair(GL_FRAME, GDI_FRAME, &gl, &gdi, &medians))
    std::printf("%s: %.2f ms, %.2f x the %s (%.2f ms)%s\n", GL_FRAME, gl, gl / gdi, GDI_FRAME, gdi,
                medians ? " (medians)" : "");
  std::fflush(stdout);
  DestroyWindow(g_window);
  zv::closeScreenAtExit();
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return zvbench::runOnOwnDisplay("glscreen", runBenchmarks, argc, argv); }

#else
int main() { return 0; }
#endif  // _WIN32
