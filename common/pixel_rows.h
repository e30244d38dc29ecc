// Row kernels: one line of pixels from a framebuffer layout into a destination
// layout, plain and vector forms. The pixel-format converters run them over the dirty
// lines of a frame; the Win32 layer below the drivers converts its bitmaps with the
// same code, which is why they live apart from the converters (this file depends on
// nothing of the graphics screen).
//
// Layouts. Source: palettised (1-byte index into a 0x00BBGGRR palette), 16-bit 5-6-5
// (red on top), 32-bit 0x00RRGGBB. Destination order 0 puts red in the high bits
// (15: x RRRRR GGGGG BBBBB, 16: RRRRR GGGGGG BBBBB, 24: bytes B G R, 32: 0x00RRGGBB);
// order 1 exchanges red and blue. A narrower field takes the top bits of its channel,
// a wider one puts the field at the top and zeros below it, and 16 to 15 bits drops
// green's lowest bit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zv {

// One line of width pixels from source to destination. table is the palette (or a
// table derived from it) for palettised sources, the expansion table for the plain
// 16-to-24/32 kernels, and unused by the others. Source and destination must not
// overlap; neither needs any alignment.
using RowKernel = void (*)(uint8_t* destination, const uint8_t* source, int32_t width,
                           const uint32_t* table);

// The framebuffer layouts a row kernel reads.
enum class SourceLayout : int32_t { palettised = 0, rgb16 = 1, rgb32 = 2 };

// Row kernels. The "Vector" ones dispatch to the widest unit in use.
// Indexes through a 32-bit table: each pixel is table[index] (a palette stored as it
// is, or a table in the destination's layout); 16-bit and 24-bit (the low three
// bytes of each entry) tables too.
void lookupRow32(uint8_t* destination, const uint8_t* source, int32_t width, const uint32_t* table);
void lookupRow24(uint8_t* destination, const uint8_t* source, int32_t width, const uint32_t* table);
void lookupRow16(uint8_t* destination, const uint8_t* source, int32_t width, const uint16_t* table);
// A 256-entry table in the destination layout from a 0x00BBGGRR palette; depth 15,
// 16 fill table16, depth 24, 32 fill table32.
void derivePaletteTable16(uint16_t* table16, const uint32_t* palette, int32_t depth, int32_t order);
void derivePaletteTable32(uint32_t* table32, const uint32_t* palette, int32_t depth, int32_t order);
// 16-bit 5-6-5 and 32-bit 0x00RRGGBB pixels by shifts and masks, every depth and order.
RowKernel vectorRowKernel(SourceLayout source, int32_t destination_depth, int32_t order);
// The per-pixel kernels the plain members use.
RowKernel plainRowKernel(SourceLayout source, int32_t destination_depth, int32_t order);
void alphaClearRow(uint8_t* destination, const uint8_t* source, int32_t width, const uint32_t* table);

// The widest vector unit in use: 0 plain code only (processors without one), 1 SSE2,
// 2 AVX2. Chosen once from the processor; tests may lower it (never above what the
// processor has) and get the level now in effect.
int32_t converterVectorLevel();
int32_t setConverterVectorLevel(int32_t level);

// Copies n bytes in vector moves (the C library's copy may take the string-move
// instruction, slow on some processors for rows at the same offset within a page).
void copyRowBytes(uint8_t* destination, const uint8_t* source, size_t n);
// alphaClearRow in the widest vector unit in use.
void alphaClearRowVector(uint8_t* destination, const uint8_t* source, int32_t width, const uint32_t* table);

}  // namespace zv
