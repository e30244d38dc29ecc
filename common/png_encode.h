// PNG encoding without a compression library: 8-bit RGB or RGBA pixels in stored
// (uncompressed) deflate blocks, filter 0 on every row. The encoding is fixed, so two
// pictures are equal exactly when their PNG bytes are, and pictures can be compared
// as files. Used by the icon generator and by the tests' screen pictures.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zv {

namespace png_detail {

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

}  // namespace png_detail

// A PNG of width * height pixels of `channels` bytes each: 3 (R, G, B) or 4 (R, G, B,
// straight alpha).
inline std::string encodePng(int32_t width, int32_t height, const std::vector<uint8_t>& pixels, int channels) {
  using namespace png_detail;
  // Scanlines with filter byte 0 in front of each.
  std::vector<uint8_t> raw;
  const size_t line = static_cast<size_t>(width) * static_cast<size_t>(channels);
  for (int32_t y = 0; y < height; ++y) {
    raw.push_back(0);
    raw.insert(raw.end(), pixels.begin() + static_cast<std::ptrdiff_t>(y * line),
               pixels.begin() + static_cast<std::ptrdiff_t>((y + 1) * line));
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
  // 8 bits per sample, colour type 2 (RGB) or 6 (RGBA), no interlace.
  header.insert(header.end(), {8, static_cast<uint8_t>(channels == 4 ? 6 : 2), 0, 0, 0});
  chunk(png, "IHDR", header);
  chunk(png, "IDAT", z);
  chunk(png, "IEND", {});
  return std::string(png.begin(), png.end());
}

}  // namespace zv
