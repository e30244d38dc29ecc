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

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

// Starts Xvfb on a free display; its name, or empty.
std::string startXvfb(pid_t* pid) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  *pid = fork();
  if (*pid == 0) {
    close(fds[0]);
    int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, 0);
    dup2(devnull, 1);
    dup2(devnull, 2);
    std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  while (number.find('\n') == std::string::npos && poll(&p, 1, 20000) > 0) {
    char buf[32];
    ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    number.append(buf, static_cast<size_t>(n));
  }
  close(fds[0]);
  return number.find('\n') == std::string::npos ? std::string() : ":" + number.substr(0, number.find('\n'));
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
  std::vector<char*> args(argv, argv + argc);
  std::string repetitions = "--benchmark_repetitions=5";
  args.insert(args.begin() + 1, repetitions.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
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

int main(int argc, char** argv) {
  pid_t server = -1;
  const std::string display = startXvfb(&server);
  if (display.empty()) {
    std::printf("Xvfb is not available: no X11 figures\n");
    if (server > 0) waitpid(server, nullptr, 0);
    return 0;
  }
  std::fflush(stdout);
  pid_t child = fork();
  if (child == 0) {
    // The layer opens the display at its first use, in this process only.
    setenv("DISPLAY", display.c_str(), 1);
    std::exit(runBenchmarks(argc, argv));
  }
  int status = 1;
  if (child > 0) waitpid(child, &status, 0);
  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
  return child > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

#else
int main() { return 0; }
#endif  // _WIN32
