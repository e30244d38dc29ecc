// Unpacks the built-in fonts and palettes once per process and hands out their
// records. The records point into one static buffer, so their addresses are fixed
// before the data is there; every accessor unpacks first.
#include "gfx/builtin_data.h"

#include <cstring>
#include <mutex>

#include "gfx/lzw.h"

namespace zv {

namespace {

alignas(16) uint8_t unpacked[BUILTIN_DATA_SIZE];
int32_t unpack_result = -1;
std::once_flag unpack_once;

const FontInfo fonts[] = {
    {8, 8, unpacked + BUILTIN_FONT_8X8_OFFSET},
    {8, 14, unpacked + BUILTIN_FONT_8X14_OFFSET},
    {8, 16, unpacked + BUILTIN_FONT_8X16_OFFSET},
};

const PaletteInfo palettes[] = {
    {2, unpacked + BUILTIN_PALETTE_2_OFFSET},
    {16, unpacked + BUILTIN_PALETTE_16_OFFSET},
    {64, unpacked + BUILTIN_PALETTE_64_OFFSET},
    {256, unpacked + BUILTIN_PALETTE_256_OFFSET},
};

void unpack() {
  size_t produced = 0;
  int32_t result = lzwDecode(builtin_data_packed, builtin_data_packed_size, unpacked,
                             BUILTIN_DATA_SIZE, &produced);
  if (result != 0 || produced != BUILTIN_DATA_SIZE ||
      builtinDataChecksum(unpacked, BUILTIN_DATA_SIZE) != builtin_data_checksum) {
    std::memset(unpacked, 0, sizeof unpacked);
    result = -1;
  }
  unpack_result = result;
}

}  // namespace

int32_t unpackBuiltinData() {
  std::call_once(unpack_once, unpack);
  return unpack_result;
}

const uint8_t* builtinData() {
  unpackBuiltinData();
  return unpacked;
}

const FontInfo* builtinFont(int32_t glyph_height) {
  for (const FontInfo& font : fonts) {
    if (font.glyph_height == glyph_height) {
      unpackBuiltinData();
      return &font;
    }
  }
  return nullptr;
}

const PaletteInfo* builtinPalette(int32_t colour_count) {
  for (const PaletteInfo& palette : palettes) {
    if (palette.colour_count == colour_count) {
      unpackBuiltinData();
      return &palette;
    }
  }
  return nullptr;
}

}  // namespace zv
