// Generator of gfx/builtin_data_block.cpp: the built-in fonts and palettes as one
// LZW-coded block.
//
//   make_builtin_data ROM OUTPUT
//
// ROM is a VGA BIOS image holding the 8x8, 8x14 and 8x16 code page 437 font tables
// with one byte per glyph row and bit 7 leftmost (Debian's vgabios package:
// /usr/share/vgabios/vgabios.bin). Each table is found by its contents, not by an
// offset: glyph 0 blank, glyph 1 (the smiling face) starting 7E 81 A5 81 after its
// blank top rows, and glyph 65 the "A" of that height. Rows are stored bit-reversed
// (bit 0 leftmost). The palettes are computed from their definitions. The block is
// checked against the layout, coded, decoded again to make sure, and written out.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gfx/builtin_data.h"
#include "gfx/lzw.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool read_file(const char* path, Bytes& out) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.insert(out.end(), buffer, buffer + n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

// The "A" of each font height as the adapters store it (bit 7 leftmost).
const uint8_t A_8[8] = {0x30, 0x78, 0xCC, 0xCC, 0xFC, 0xCC, 0xCC, 0x00};
const uint8_t A_14[14] = {0x00, 0x00, 0x10, 0x38, 0x6C, 0xC6, 0xC6, 0xFE, 0xC6, 0xC6, 0xC6, 0x00, 0x00, 0x00};
const uint8_t A_16[16] = {0x00, 0x00, 0x10, 0x38, 0x6C, 0xC6, 0xC6, 0xFE,
                          0xC6, 0xC6, 0xC6, 0xC6, 0x00, 0x00, 0x00, 0x00};

bool is_font_table(const Bytes& rom, size_t at, size_t height, const uint8_t* letter_a) {
  const uint8_t* table = rom.data() + at;
  for (size_t i = 0; i < height; ++i)
    if (table[i] != 0) return false;
  const uint8_t* face = table + height;
  size_t top = 0;
  while (top < height && face[top] == 0) ++top;
  static const uint8_t face_rows[4] = {0x7E, 0x81, 0xA5, 0x81};
  if (height - top < 4 || std::memcmp(face + top, face_rows, 4) != 0) return false;
  return std::memcmp(table + 65 * height, letter_a, height) == 0;
}

// Appends the table's 256 glyphs bit-reversed; false unless exactly one table matches.
bool append_font(const Bytes& rom, size_t height, const uint8_t* letter_a, Bytes& block) {
  const size_t size = 256 * height;
  size_t found = 0;
  size_t count = 0;
  for (size_t at = 0; at + size <= rom.size(); ++at) {
    if (is_font_table(rom, at, height, letter_a)) {
      found = at;
      ++count;
    }
  }
  if (count != 1) {
    std::fprintf(stderr, "make_builtin_data: %zu candidate tables for the 8x%zu font (want 1)\n", count, height);
    return false;
  }
  std::fprintf(stderr, "make_builtin_data: 8x%zu font at offset 0x%zx\n", height, found);
  for (size_t i = 0; i < size; ++i) {
    uint8_t b = rom[found + i];
    uint8_t r = 0;
    for (int bit = 0; bit < 8; ++bit)
      if (b & (1u << bit)) r |= static_cast<uint8_t>(0x80u >> bit);
    block.push_back(r);
  }
  return true;
}

void append_rgb(Bytes& block, unsigned r, unsigned g, unsigned b) {
  block.push_back(static_cast<uint8_t>(r));
  block.push_back(static_cast<uint8_t>(g));
  block.push_back(static_cast<uint8_t>(b));
}

// A 6-bit VGA value widened to 8 bits, the fraction dropped.
unsigned widen(unsigned v) { return v * 255 / 63; }

void append_palettes(Bytes& block) {
  // 2 colours.
  append_rgb(block, 0, 0, 0);
  append_rgb(block, 255, 255, 255);

  // 16 colours: bits 0-2 blue, green, red at 170, bit 3 adds 85 to all three;
  // colour 6 is brown, its green halved.
  for (unsigned i = 0; i < 16; ++i) {
    unsigned bright = (i >> 3) & 1;
    unsigned r = 170 * ((i >> 2) & 1) + 85 * bright;
    unsigned g = (i == 6) ? 85 : 170 * ((i >> 1) & 1) + 85 * bright;
    unsigned b = 170 * (i & 1) + 85 * bright;
    append_rgb(block, r, g, b);
  }

  // 64 colours: bits 0-2 add 170 to blue, green, red; bits 3-5 add 85.
  for (unsigned i = 0; i < 64; ++i) {
    unsigned r = 170 * ((i >> 2) & 1) + 85 * ((i >> 5) & 1);
    unsigned g = 170 * ((i >> 1) & 1) + 85 * ((i >> 4) & 1);
    unsigned b = 170 * (i & 1) + 85 * ((i >> 3) & 1);
    append_rgb(block, r, g, b);
  }

  // 256 colours, defined in 6-bit values.
  std::vector<unsigned> six;  // r, g, b triples
  auto add = [&six](unsigned r, unsigned g, unsigned b) { six.insert(six.end(), {r, g, b}); };
  for (unsigned i = 0; i < 16; ++i) {
    unsigned bright = (i >> 3) & 1;
    unsigned r = 42 * ((i >> 2) & 1) + 21 * bright;
    unsigned g = (i == 6) ? 21 : 42 * ((i >> 1) & 1) + 21 * bright;
    unsigned b = 42 * (i & 1) + 21 * bright;
    add(r, g, b);
  }
  static const unsigned grey[16] = {0, 5, 8, 11, 14, 17, 20, 24, 28, 32, 36, 40, 45, 50, 56, 63};
  for (unsigned v : grey) add(v, v, v);
  // Nine rings of 24 hues: intensities 63, 28, 16, each at three saturations.
  static const unsigned ramps[9][5] = {
      {0, 16, 31, 47, 63}, {31, 39, 47, 55, 63}, {45, 49, 54, 58, 63},
      {0, 7, 14, 21, 28},  {14, 17, 21, 24, 28}, {20, 22, 24, 26, 28},
      {0, 4, 8, 12, 16},   {8, 10, 12, 14, 16},  {11, 12, 13, 15, 16},
  };
  for (const auto& v : ramps) {
    for (int k = 0; k <= 4; ++k) add(v[k], v[0], v[4]);  // blue to magenta
    for (int k = 3; k >= 0; --k) add(v[4], v[0], v[k]);  // magenta to red
    for (int k = 1; k <= 4; ++k) add(v[4], v[k], v[0]);  // red to yellow
    for (int k = 3; k >= 0; --k) add(v[k], v[4], v[0]);  // yellow to green
    for (int k = 1; k <= 4; ++k) add(v[0], v[4], v[k]);  // green to cyan
    for (int k = 3; k >= 1; --k) add(v[0], v[k], v[4]);  // cyan towards blue
  }
  while (six.size() < 256 * 3) add(0, 0, 0);
  for (unsigned v : six) block.push_back(static_cast<uint8_t>(widen(v)));
}

bool write_block_source(const char* path, const Bytes& packed, uint32_t checksum) {
  std::string text =
      "// The built-in fonts and palettes as one LZW-coded block (format in gfx/lzw.h,\n"
      "// layout in gfx/builtin_data.h). GENERATED by tools/make_builtin_data from the\n"
      "// font tables of the vgabios ROM image (LGPL-2.1) and the palette definitions.\n"
      "// Do not edit by hand: configure with -DZV_TOOLS=ON and build the target\n"
      "// builtin_data to write it anew.\n"
      "#include \"gfx/builtin_data.h\"\n"
      "\n"
      "namespace zv {\n"
      "\n"
      "const uint8_t builtin_data_packed[] = {\n";
  char item[16];
  for (size_t i = 0; i < packed.size(); ++i) {
    if (i % 16 == 0) text += "   ";
    std::snprintf(item, sizeof item, " 0x%02X,", packed[i]);
    text += item;
    if (i % 16 == 15 || i + 1 == packed.size()) text += "\n";
  }
  std::snprintf(item, sizeof item, "0x%08Xu", checksum);
  text += "};\n";
  text += "const size_t builtin_data_packed_size = sizeof builtin_data_packed;\n";
  text += "const uint32_t builtin_data_checksum = " + std::string(item) + ";\n";
  text += "\n}  // namespace zv\n";

  std::FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_builtin_data ROM OUTPUT\n");
    return 2;
  }
  Bytes rom;
  if (!read_file(argv[1], rom)) {
    std::fprintf(stderr, "make_builtin_data: cannot read %s\n", argv[1]);
    return 1;
  }

  Bytes block;
  if (!append_font(rom, 8, A_8, block) || !append_font(rom, 14, A_14, block) ||
      !append_font(rom, 16, A_16, block))
    return 1;
  append_palettes(block);
  if (block.size() != zv::BUILTIN_DATA_SIZE) {
    std::fprintf(stderr, "make_builtin_data: block is %zu bytes, want %zu\n", block.size(),
                 zv::BUILTIN_DATA_SIZE);
    return 1;
  }
  // The first 16 colours of the 256-colour palette are the 16-colour palette.
  if (std::memcmp(block.data() + zv::BUILTIN_PALETTE_256_OFFSET, block.data() + zv::BUILTIN_PALETTE_16_OFFSET,
                  16 * 3) != 0) {
    std::fprintf(stderr, "make_builtin_data: 256-colour palette does not start with the 16 colours\n");
    return 1;
  }

  Bytes packed = zv::lzwEncode(block.data(), block.size());
  Bytes check(block.size());
  size_t produced = 0;
  if (zv::lzwDecode(packed.data(), packed.size(), check.data(), check.size(), &produced) != 0 ||
      produced != block.size() || check != block) {
    std::fprintf(stderr, "make_builtin_data: coded block does not decode back\n");
    return 1;
  }
  uint32_t checksum = zv::builtinDataChecksum(block.data(), block.size());
  if (!write_block_source(argv[2], packed, checksum)) {
    std::fprintf(stderr, "make_builtin_data: cannot write %s\n", argv[2]);
    return 1;
  }
  std::fprintf(stderr, "make_builtin_data: %zu bytes coded as %zu\n", block.size(), packed.size());
  return 0;
}
