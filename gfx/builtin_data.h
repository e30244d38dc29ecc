// The graphics screen's built-in data: the three code page 437 bitmap fonts (8x8,
// 8x14, 8x16) and the default palettes of 2, 16, 64 and 256 colours. They are kept
// as one LZW-coded block (builtin_data_block.cpp, written by
// tools/make_builtin_data) and unpacked once per process on first use.
//
// Fonts: 256 glyphs in code order, one byte per row, glyph c at c * height; bit 0
// of a row byte is the leftmost pixel. Palettes: three bytes R, G, B per colour,
// 8 bits each.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zv {

struct FontInfo {
  int32_t glyph_width;
  int32_t glyph_height;
  const uint8_t* glyph_data;
};

struct PaletteInfo {
  int32_t colour_count;
  const uint8_t* rgb_data;
};

// Layout of the unpacked block.
constexpr size_t BUILTIN_FONT_8X8_OFFSET = 0;
constexpr size_t BUILTIN_FONT_8X14_OFFSET = BUILTIN_FONT_8X8_OFFSET + 256 * 8;
constexpr size_t BUILTIN_FONT_8X16_OFFSET = BUILTIN_FONT_8X14_OFFSET + 256 * 14;
constexpr size_t BUILTIN_PALETTE_2_OFFSET = BUILTIN_FONT_8X16_OFFSET + 256 * 16;
constexpr size_t BUILTIN_PALETTE_16_OFFSET = BUILTIN_PALETTE_2_OFFSET + 2 * 3;
constexpr size_t BUILTIN_PALETTE_64_OFFSET = BUILTIN_PALETTE_16_OFFSET + 16 * 3;
constexpr size_t BUILTIN_PALETTE_256_OFFSET = BUILTIN_PALETTE_64_OFFSET + 64 * 3;
constexpr size_t BUILTIN_DATA_SIZE = BUILTIN_PALETTE_256_OFFSET + 256 * 3;
static_assert(BUILTIN_DATA_SIZE == 10742);

// The coded block and the checksum of the unpacked data (builtin_data_block.cpp).
extern const uint8_t builtin_data_packed[];
extern const size_t builtin_data_packed_size;
extern const uint32_t builtin_data_checksum;

// FNV-1a, 32 bits: the generator records it, the unpacking checks it.
constexpr uint32_t builtinDataChecksum(const uint8_t* data, size_t size) {
  uint32_t hash = 2166136261u;
  for (size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 16777619u;
  return hash;
}

// Unpacks the block unless already done; safe to call from any thread. Returns 0,
// or -1 when the stored block does not decode to the recorded data (the fonts and
// palettes then stay all zero).
int32_t unpackBuiltinData();

// The unpacked block, BUILTIN_DATA_SIZE bytes (unpacks first).
const uint8_t* builtinData();

// The font of the glyph height 8, 14 or 16, or null for any other height
// (unpacks first). The records live as long as the process.
const FontInfo* builtinFont(int32_t glyph_height);

// The palette of 2, 16, 64 or 256 colours, or null for any other count (unpacks first).
const PaletteInfo* builtinPalette(int32_t colour_count);

}  // namespace zv
