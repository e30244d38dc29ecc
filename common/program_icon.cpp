// The program's icon, drawn from shapes at any size: every pixel is the average of
// 8 x 8 samples, each sample taking the colour of the topmost shape it lies in. Only
// additions, multiplications, divisions and square roots enter, so each build draws
// the same bytes.
#include "common/program_icon.h"

#include <algorithm>
#include <cmath>

namespace zv {
namespace {

struct Rgb {
  int r, g, b;
};
struct Point {
  double x, y;
};

// In units of the icon's side.
constexpr double TILE_MARGIN = 1.0 / 32;
constexpr double TILE_RADIUS = 0.19;
constexpr Point VERTICES[3] = {{0.28, 0.71}, {0.75, 0.61}, {0.43, 0.29}};
constexpr Rgb POINT_COLOURS[3] = {{0xE8, 0x4A, 0x3C}, {0xF4, 0xB4, 0x30}, {0x3C, 0xC4, 0xB0}};
constexpr Rgb TILE_TOP = {0x2C, 0x44, 0x78};
constexpr Rgb TILE_BOTTOM = {0x16, 0x22, 0x42};
constexpr Rgb TILE_EDGE = {0x0C, 0x12, 0x24};
constexpr Rgb LINE = {0xF0, 0xEC, 0xDC};
constexpr int SAMPLES = 8;

// Distance from p to the rounded square of the tile; negative inside.
double tileDistance(Point p, double size) {
  const double centre = size / 2, r = TILE_RADIUS * size, straight = centre - TILE_MARGIN * size - r;
  const double qx = std::fabs(p.x - centre) - straight, qy = std::fabs(p.y - centre) - straight;
  const double ox = std::max(qx, 0.0), oy = std::max(qy, 0.0);
  return std::sqrt(ox * ox + oy * oy) + std::min(std::max(qx, qy), 0.0) - r;
}

double lineDistance(Point p, Point a, Point b) {
  const double ux = b.x - a.x, uy = b.y - a.y;
  return std::fabs((p.x - a.x) * uy - (p.y - a.y) * ux) / std::sqrt(ux * ux + uy * uy);
}

double pointDistance(Point p, Point c) { return std::sqrt((p.x - c.x) * (p.x - c.x) + (p.y - c.y) * (p.y - c.y)); }

// The colour of one sample, or false outside the tile. Lengths in pixels, with lower
// bounds that keep the small sizes legible.
bool sampleColour(Point p, double size, Rgb* out) {
  const double edge = tileDistance(p, size);
  if (edge > 0) return false;
  const double line_half = std::max(1.0, 0.05 * size) / 2;
  const double dot = std::max(1.75, 0.08 * size);
  const double gap = std::max(0.6, 0.03 * size);
  const double edge_width = std::max(1.0, 0.025 * size);
  Point v[3];
  for (int i = 0; i < 3; ++i) v[i] = {VERTICES[i].x * size, VERTICES[i].y * size};

  const double t = p.y / size;
  *out = {TILE_TOP.r + static_cast<int>((TILE_BOTTOM.r - TILE_TOP.r) * t),
          TILE_TOP.g + static_cast<int>((TILE_BOTTOM.g - TILE_TOP.g) * t),
          TILE_TOP.b + static_cast<int>((TILE_BOTTOM.b - TILE_TOP.b) * t)};
  if (edge > -edge_width) *out = TILE_EDGE;
  for (int i = 0; i < 3; ++i) {
    if (edge <= -edge_width && lineDistance(p, v[i], v[(i + 1) % 3]) < line_half) *out = LINE;
  }
  // Each dot stands in a ring of the tile's colour that parts it from the lines.
  for (int i = 0; i < 3; ++i) {
    const double d = pointDistance(p, v[i]);
    if (d < dot + gap) *out = d < dot ? POINT_COLOURS[i] : TILE_BOTTOM;
  }
  return true;
}

}  // namespace

std::vector<uint32_t> drawProgramIcon(int size) {
  std::vector<uint32_t> pixels(static_cast<size_t>(size) * static_cast<size_t>(size));
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      int covered = 0, r = 0, g = 0, b = 0;
      for (int sy = 0; sy < SAMPLES; ++sy) {
        for (int sx = 0; sx < SAMPLES; ++sx) {
          Rgb c;
          const Point p{x + (sx + 0.5) / SAMPLES, y + (sy + 0.5) / SAMPLES};
          if (!sampleColour(p, size, &c)) continue;
          ++covered;
          r += c.r;
          g += c.g;
          b += c.b;
        }
      }
      uint32_t argb = 0;
      if (covered > 0) {
        const auto mean = [&](int sum) { return static_cast<uint32_t>((sum + covered / 2) / covered); };
        const uint32_t alpha = static_cast<uint32_t>((covered * 255 + SAMPLES * SAMPLES / 2) / (SAMPLES * SAMPLES));
        argb = alpha << 24 | mean(r) << 16 | mean(g) << 8 | mean(b);
      }
      pixels[static_cast<size_t>(y) * static_cast<size_t>(size) + static_cast<size_t>(x)] = argb;
    }
  }
  return pixels;
}

}  // namespace zv
