// Pictures of screen pages for people to look at: a page converted to RGB through
// the screen's palette or pixel format, written as PNG (stored, uncompressed
// deflate blocks, so no compression library is needed) or as binary PPM.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

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

namespace picture_detail {

inline uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

inline void putBig32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

inline void chunk(std::vector<uint8_t>& png, const char type[4], const std::vector<uint8_t>& data) {
  putBig32(png, static_cast<uint32_t>(data.size()));
  const size_t start = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data.begin(), data.end());
  putBig32(png, crc32(png.data() + start, png.size() - start));
}

}  // namespace picture_detail

// A PNG of width * height RGB triples. The encoding is fixed (stored blocks, filter
// 0), so two pictures are equal exactly when their PNG bytes are: golden pictures
// are compared as files.
inline std::string encodePng(int32_t width, int32_t height, const std::vector<uint8_t>& rgb) {
  using namespace picture_detail;
  // Scanlines with filter byte 0 in front of each.
  std::vector<uint8_t> raw;
  const size_t line = static_cast<size_t>(width) * 3;
  for (int32_t y = 0; y < height; ++y) {
    raw.push_back(0);
    raw.insert(raw.end(), rgb.begin() + static_cast<std::ptrdiff_t>(y * line),
               rgb.begin() + static_cast<std::ptrdiff_t>((y + 1) * line));
  }
  // A zlib stream of stored blocks (at most 65535 bytes each) and its Adler-32.
  std::vector<uint8_t> z = {0x78, 0x01};
  for (size_t at = 0; at < raw.size() || raw.empty(); at += 65535) {
    const size_t n = std::min<size_t>(65535, raw.size() - at);
    z.push_back(at + n >= raw.size() ? 1 : 0);
    z.push_back(static_cast<uint8_t>(n));
    z.push_back(static_cast<uint8_t>(n >> 8));
    z.push_back(static_cast<uint8_t>(~n));
    z.push_back(static_cast<uint8_t>(~n >> 8));
    z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
             raw.begin() + static_cast<std::ptrdiff_t>(at + n));
    if (raw.empty()) break;
  }
  uint32_t a = 1, b = 0;
  for (uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  putBig32(z, (b << 16) | a);

  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  putBig32(header, static_cast<uint32_t>(width));
  putBig32(header, static_cast<uint32_t>(height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, no interlace
  chunk(png, "IHDR", header);
  chunk(png, "IDAT", z);
  chunk(png, "IEND", {});
  return std::string(png.begin(), png.end());
}

inline bool writePng(const std::string& path, const zv::ScreenState& s, int32_t page) {
  const std::string png = encodePng(s.width, s.height, pageRgb(s, page));
  std::ofstream out(path, std::ios::binary);
  out.write(png.data(), static_cast<std::streamsize>(png.size()));
  return static_cast<bool>(out);
}

}  // namespace zvtest
