// Generator of the program's icon files from its drawing (common/program_icon.*):
//
//   make_icon DIRECTORY
//
// writes DIRECTORY/invar_<size>.png for every size the icon is drawn at (RGBA) and
// DIRECTORY/invar.ico holding the same pictures as 32-bit images with alpha and an
// AND mask, the form every Windows version (and Wine) reads. The committed files in
// packaging/icons are its output; a test keeps them equal to the drawing.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/png_encode.h"
#include "common/program_icon.h"

namespace {

void put16(std::string& out, uint32_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8 & 0xFF));
}
void put32(std::string& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

bool writeFile(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

std::string pngOf(const std::vector<uint32_t>& argb, int size) {
  std::vector<uint8_t> rgba;
  for (uint32_t p : argb) {
    for (int shift : {16, 8, 0, 24}) rgba.push_back(static_cast<uint8_t>(p >> shift));
  }
  return zv::encodePng(size, size, rgba, 4);
}

// One icon image: BITMAPINFOHEADER (the height counts both bitmaps), the BGRA pixels
// bottom up, then the AND mask bottom up with rows padded to 32 bits, a set bit
// where the picture is fully transparent.
std::string iconImageOf(const std::vector<uint32_t>& argb, int size) {
  const uint32_t mask_row = static_cast<uint32_t>((size + 31) / 32 * 4);
  const uint32_t n = static_cast<uint32_t>(size);
  std::string image;
  for (uint32_t v : {40u, n, 2 * n}) put32(image, v);
  put16(image, 1);   // planes
  put16(image, 32);  // bits per pixel
  for (uint32_t v : {0u, n * n * 4 + mask_row * n, 0u, 0u, 0u, 0u}) put32(image, v);
  for (int y = size - 1; y >= 0; --y) {
    for (int x = 0; x < size; ++x) put32(image, argb[static_cast<size_t>(y * size + x)]);
  }
  for (int y = size - 1; y >= 0; --y) {
    std::string row(mask_row, '\0');
    for (int x = 0; x < size; ++x) {
      if ((argb[static_cast<size_t>(y * size + x)] >> 24) == 0) row[static_cast<size_t>(x / 8)] |= static_cast<char>(0x80 >> (x % 8));
    }
    image += row;
  }
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make_icon DIRECTORY\n", stderr);
    return 2;
  }
  const std::string directory = argv[1];
  constexpr uint32_t count = std::size(zv::PROGRAM_ICON_SIZES);
  // ICONDIR, then one 16-byte ICONDIRENTRY per image, then the images.
  std::string header, images;
  put16(header, 0);
  put16(header, 1);  // an icon, not a cursor
  put16(header, count);
  for (int size : zv::PROGRAM_ICON_SIZES) {
    const std::vector<uint32_t> argb = zv::drawProgramIcon(size);
    const std::string png_path = directory + "/invar_" + std::to_string(size) + ".png";
    if (!writeFile(png_path, pngOf(argb, size))) {
      std::fprintf(stderr, "make_icon: cannot write %s\n", png_path.c_str());
      return 1;
    }
    const std::string image = iconImageOf(argb, size);
    header.push_back(static_cast<char>(size & 0xFF));  // 256 would be written as 0
    header.push_back(static_cast<char>(size & 0xFF));
    put16(header, 0);   // no palette, reserved
    put16(header, 1);   // planes
    put16(header, 32);  // bits per pixel
    put32(header, static_cast<uint32_t>(image.size()));
    put32(header, 6 + 16 * count + static_cast<uint32_t>(images.size()));
    images += image;
  }
  const std::string ico_path = directory + "/invar.ico";
  if (!writeFile(ico_path, header + images)) {
    std::fprintf(stderr, "make_icon: cannot write %s\n", ico_path.c_str());
    return 1;
  }
  return 0;
}
