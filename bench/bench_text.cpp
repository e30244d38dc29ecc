// Speed of text on the graphics screen: full screens of 79-character lines printed
// through the print hook in mode 18 at 8 bits per pixel (640x480, 8x16 font, 80x30
// grid) on the window-less screen, every line scrolling the view, against the plain
// memmove/memset work on the same framebuffer bytes. Both count printed characters,
// so their items/s divide into the share of the memory limit that text drawing reaches.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/figure_reporter.h"
#include "gfx/screen_mode.h"
#include "gfx/text_render.h"

namespace {

constexpr int32_t WIDTH = 640, HEIGHT = 480;
constexpr int32_t GLYPH_WIDTH = 8, GLYPH_HEIGHT = 16;
constexpr int32_t TEXT_ROWS = HEIGHT / GLYPH_HEIGHT;  // 30
constexpr int32_t LINE_GLYPHS = 79;  // the 80th column stays empty: no wrap, one scroll per line
constexpr int64_t GLYPHS_PER_SCREEN = int64_t{LINE_GLYPHS} * TEXT_ROWS;
// Framebuffer bytes written per printed line: the scroll moves every row but the top
// glyph row up and blanks the bottom glyph row (together all 480 rows), and each
// glyph fills its 8x16 cell.
constexpr int64_t BYTES_PER_LINE =
    int64_t{WIDTH} * HEIGHT + int64_t{LINE_GLYPHS} * GLYPH_WIDTH * GLYPH_HEIGHT;

// The printable code page 437 bytes: everything but the control bytes the printer
// interprets (bell, backspace, tab, line feed, carriage return) and 0.
std::vector<uint8_t> printable_bytes() {
  std::vector<uint8_t> bytes;
  for (int b = 1; b < 255; ++b)
    if (b != 7 && b != 8 && b != 9 && b != 10 && b != 13) bytes.push_back(static_cast<uint8_t>(b));
  return bytes;
}

// One screen of lines, each LINE_GLYPHS characters and "\r\n"; the lines differ so
// that every glyph shape turns up.
std::vector<std::vector<uint8_t>> make_lines() {
  const std::vector<uint8_t> chars = printable_bytes();
  std::vector<std::vector<uint8_t>> lines(TEXT_ROWS);
  for (int32_t k = 0; k < TEXT_ROWS; ++k) {
    for (int32_t i = 0; i < LINE_GLYPHS; ++i) lines[k].push_back(chars[(k * 37 + i) % chars.size()]);
    lines[k].push_back('\r');
    lines[k].push_back('\n');
  }
  return lines;
}

const std::vector<std::vector<uint8_t>>& lines() {
  static const std::vector<std::vector<uint8_t>> l = make_lines();
  return l;
}

void print_line(const std::vector<uint8_t>& line) {
  zv::graphicsPrintBuffer(line.data(), static_cast<int32_t>(line.size()), 0);
}

// One iteration is a full screen: 30 lines, each of which scrolls the view, since
// the screen is filled before the timing starts.
void BM_PrintFullScreensWithScrolling(benchmark::State& state) {
  zv::setScreenDriverName("null");
  if (zv::setScreenMode(18, 8, 0, 0, 0) != 0) {
    state.SkipWithError("mode 18 does not open on the null screen");
    return;
  }
  int32_t columns = 0, rows = 0;
  zv::graphicsGetSize(&columns, &rows);
  if (columns != 80 || rows != TEXT_ROWS) {
    zv::closeScreenAtExit();
    state.SkipWithError("mode 18 has not an 80x30 text grid");
    return;
  }
  for (const auto& line : lines()) print_line(line);
  for (auto _ : state)
    for (const auto& line : lines()) print_line(line);
  // The last line printed sits just above the bottom row, which the scroll blanked.
  const uint8_t expected = lines().back()[0];
  const bool drawn = zv::graphicsReadScreenCell(1, TEXT_ROWS - 1, 0) == expected &&
                     zv::graphicsReadScreenCell(1, TEXT_ROWS, 0) == ' ';
  zv::closeScreenAtExit();
  if (!drawn) state.SkipWithError("the text grid does not hold the printed lines");
  state.SetItemsProcessed(state.iterations() * GLYPHS_PER_SCREEN);
  state.SetBytesProcessed(state.iterations() * TEXT_ROWS * BYTES_PER_LINE);
}
BENCHMARK(BM_PrintFullScreensWithScrolling)->Unit(benchmark::kMicrosecond);

// The same framebuffer bytes per line with no glyph decoding: the rows below the top
// glyph row moved up by one glyph row, the freed bottom glyph row blanked, then each
// cell of the bottom row filled row by row (the cells are 8 bytes wide at a 640-byte
// pitch, so one cell is 16 separate stores, as for a drawn glyph).
void BM_FramebufferMemcpyMemset(benchmark::State& state) {
  std::vector<uint8_t> framebuffer(static_cast<size_t>(WIDTH) * HEIGHT, 0);
  uint8_t* fb = framebuffer.data();
  constexpr size_t shift = static_cast<size_t>(GLYPH_HEIGHT) * WIDTH;
  constexpr size_t moved = static_cast<size_t>(HEIGHT - GLYPH_HEIGHT) * WIDTH;
  uint8_t* bottom_row = fb + moved;
  for (auto _ : state) {
    for (const auto& line : lines()) {
      std::memmove(fb, fb + shift, moved);
      std::memset(bottom_row, 0, shift);
      for (int32_t i = 0; i < LINE_GLYPHS; ++i) {
        uint8_t* cell = bottom_row + static_cast<size_t>(i) * GLYPH_WIDTH;
        for (int32_t j = 0; j < GLYPH_HEIGHT; ++j)
          std::memset(cell + static_cast<size_t>(j) * WIDTH, line[i], GLYPH_WIDTH);
      }
      benchmark::DoNotOptimize(fb);
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(state.iterations() * GLYPHS_PER_SCREEN);
  state.SetBytesProcessed(state.iterations() * TEXT_ROWS * BYTES_PER_LINE);
}
BENCHMARK(BM_FramebufferMemcpyMemset)->Unit(benchmark::kMicrosecond);

// The two character rates and their ratio, of the medians when there are repetitions.
void print_ratio(const zvbench::FigureReporter& r, const std::string& ours,
                 const std::string& limit) {
  double a = 0, b = 0;
  bool medians = false;
  if (r.pair(ours, limit, &a, &b, &medians))
    std::printf("text drawing: %.0f chars/s, memcpy/memset limit: %.0f chars/s, ratio %.2f%s\n", a,
                b, a / b, medians ? " (medians)" : "");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  zvbench::FigureReporter reporter(zvbench::itemsPerSecond);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  print_ratio(reporter, "BM_PrintFullScreensWithScrolling", "BM_FramebufferMemcpyMemset");
  return 0;
}
