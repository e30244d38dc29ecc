// Pictures of screen pages for people to look at: a page converted to RGB through
// the screen's palette or pixel format, written as PNG (common/png_encode.h) or as
// binary PPM.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "common/png_encode.h"
#include "gfx/screen_state.h"

namespace zvtest {

// The page as width * height RGB triples.
inline std::vector<uint8_t> pageRgb(const zv::ScreenState& s, int32_t page) {
  std::vector<uint8_t> rgb;
  rgb.reserve(static_cast<size_t>(s.width) * s.height * 3);
  for (int32_t y = 0; y < s.height; ++y) {
    const uint8_t* row = s.pages[page] + static_cast<size_t>(y) * s.pitch;
    for (int32_t x = 0; x < s.width; ++x) {
      uint32_t r = 0, g = 0, b = 0;
      if (s.bytes_per_pixel == 1) {
        const uint32_t entry = s.palette[row[x] & s.colour_mask];
        r = entry & 0xFF;
        g = (entry >> 8) & 0xFF;
        b = (entry >> 16) & 0xFF;
      } else if (s.bytes_per_pixel == 2) {
        uint16_t v;
        std::memcpy(&v, row + 2 * x, 2);
        r = (v >> 11) * 255 / 31;
        g = ((v >> 5) & 63) * 255 / 63;
        b = (v & 31) * 255 / 31;
      } else {
        uint32_t v;
        std::memcpy(&v, row + 4 * x, 4);
        r = (v >> 16) & 0xFF;
        g = (v >> 8) & 0xFF;
        b = v & 0xFF;
      }
      rgb.push_back(static_cast<uint8_t>(r));
      rgb.push_back(static_cast<uint8_t>(g));
      rgb.push_back(static_cast<uint8_t>(b));
    }
  }
  return rgb;
}

inline bool writePpm(const std::string& path, const zv::ScreenState& s, int32_t page) {
  std::ofstream out(path, std::ios::binary);
  out << "P6\n" << s.width << ' ' << s.height << "\n255\n";
  const std::vector<uint8_t> rgb = pageRgb(s, page);
  out.write(reinterpret_cast<const char*>(rgb.data()), static_cast<std::streamsize>(rgb.size()));
  return static_cast<bool>(out);
}

// A PNG of width * height RGB triples (see common/png_encode.h).
inline std::string encodePng(int32_t width, int32_t height, const std::vector<uint8_t>& rgb) {
  return zv::encodePng(width, height, rgb, 3);
}

inline bool writePng(const std::string& path, const zv::ScreenState& s, int32_t page) {
  const std::string png = encodePng(s.width, s.height, pageRgb(s, page));
  std::ofstream out(path, std::ios::binary);
  out.write(png.data(), static_cast<std::streamsize>(png.size()));
  return static_cast<bool>(out);
}

}  // namespace zvtest
