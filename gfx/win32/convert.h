// Pixel-format converters: copy the dirty lines of the visible page into a window
// driver's surface or bitmap in the destination's layout (8-bit indexes; 15-, 16-,
// 24- or 32-bit colour in channel order 0 or 1). A converter is a frame loop (which
// lines, how often, where) around a row kernel of pixel_rows.h (one line of pixels).
//
// Layouts. Source: palettised (1-byte index into the 0x00BBGGRR palette), 16-bit
// 5-6-5 (red on top), 32-bit 0x00RRGGBB. Destination order 0 puts red in the high
// bits (15: x RRRRR GGGGG BBBBB, 16: RRRRR GGGGGG BBBBB, 24: bytes B G R,
// 32: 0x00RRGGBB); order 1 exchanges red and blue. A narrower field takes the top bits
// of its channel, a wider one puts the field at the top and zeros below it, and 16 to
// 15 bits drops green's lowest bit.
//
// Every member has a plain form and a vector form (SSE2, or AVX2 where the processor
// has it) that give identical bytes for every width and scanline size; selection
// takes the vector form only for scanline size 1 and widths that are a multiple of 4
// while the screen's SCREEN_FAST_PIXELS flag is on.
#pragma once

#include <cstdint>

#include "common/pixel_rows.h"

namespace zv {

struct ScreenState;

// Converts the lines of the screen's visible page whose dirty flag is set. Output
// line y (0 .. scanline_size * height - 1) shows framebuffer row y / scanline_size
// and starts at destination + y * line_length (a negative length walks upwards, for
// bottom-up bitmaps). Lines of clean rows are not touched, and dirty flags are not
// cleared (the driver does that). A |line_length| shorter than one converted line,
// a scanline size below 1 or a screen without buffers converts nothing.
using Converter = void (*)(const ScreenState& screen, uint8_t* destination, int32_t line_length);

// The selection table's groups and entries.
constexpr int32_t CONVERTER_GROUP_SIZE = 12;
constexpr int32_t CONVERTER_COUNT = 48;
// Groups in table order: plain order 1, plain order 0, vector order 1, vector order 0.
constexpr int32_t converterIndex(bool vector, int32_t order, SourceLayout source,
                                 int32_t destination_depth) {
  const int32_t group = (vector ? 2 : 0) + (order == 0 ? 1 : 0);
  const int32_t column = destination_depth == 15 ? 0 : destination_depth == 16 ? 1
                         : destination_depth == 24 ? 2 : 3;
  return group * CONVERTER_GROUP_SIZE + static_cast<int32_t>(source) * 4 + column;
}

// The selection table: entry i of the 48, in the order of converterIndex.
Converter converterEntry(int32_t index);

// Chooses the converter for the screen's depth and the destination (depth 8, 15, 16,
// 24 or 32; order 0 or 1) and rebuilds the expansion table for that order. The
// vector group when the screen's SCREEN_FAST_PIXELS flag is on, its scanline size
// is 1 and its width a multiple of 4. Palettised sources to depth 8 get the plain
// line copy. Null ("none") for a destination depth of 8 from a 16- or 32-bit source,
// a depth outside {8, 15, 16, 24, 32}, an order other than 0 or 1, a screen depth
// outside {1, 2, 4, 8, 15, 16, 24, 32}, or no converter scratch block.
Converter selectConverter(const ScreenState& screen, int32_t destination_depth, int32_t order);

// Copies each dirty row's pitch bytes unchanged.
void copyLines(const ScreenState& screen, uint8_t* destination, int32_t line_length);

// Copies 32-bit pixels with the top byte cleared (shaped 32-bit windows); nothing
// for a screen of another depth. The plain and vector forms, and the choice between
// them under the same condition as selectConverter.
void alphaClearingCopyPlain(const ScreenState& screen, uint8_t* destination, int32_t line_length);
void alphaClearingCopyVector(const ScreenState& screen, uint8_t* destination, int32_t line_length);
Converter selectAlphaClearingCopy(const ScreenState& screen);

// The expansion table (512 entries in the converter scratch block): entry i is the
// 32-bit colour contributed by a 16-bit pixel's low byte i, entry 256 + i by its
// high byte i, in the given order. Null without a scratch block.
constexpr int32_t EXPANSION_TABLE_SIZE = 512;
uint32_t* expansionTable();
void buildExpansionTable(uint32_t* table, int32_t order);

}  // namespace zv
