// The pixel-format converters: the frame loop over dirty lines, the members of the
// selection table around the row kernels of pixel_rows.*, the selection itself and
// the expansion table.
#include "gfx/win32/convert.h"

#include <array>
#include <cstddef>
#include <cstring>

#include "gfx/screen_state.h"

namespace zv {

namespace {

constexpr int32_t bytesOfDepth(int32_t depth) { return depth == 15 ? 2 : depth / 8; }

// ---- Frame loop --------------------------------------------------------------------

// Calls row(line, source row) for each dirty framebuffer row into the first of its
// scanline_size output lines and copies that line to the others.
template <class Row>
inline void forEachDirtyRow(const ScreenState& s, uint8_t* destination, int32_t line_length,
                            int32_t destination_bytes, Row&& row) {
  if (!s.framebuffer || !s.dirty_lines || s.width < 1 || s.height < 1 || s.scanline_size < 1 ||
      !destination)
    return;
  const ptrdiff_t length = line_length;
  const size_t line_bytes = static_cast<size_t>(s.width) * static_cast<size_t>(destination_bytes);
  if (static_cast<size_t>(length < 0 ? -length : length) < line_bytes) return;
  const int32_t scan = s.scanline_size;
  for (int32_t r = 0; r < s.height; ++r) {
    if (!s.dirty_lines[r]) continue;
    uint8_t* line = destination + static_cast<ptrdiff_t>(r) * scan * length;
    row(line, s.framebuffer + static_cast<size_t>(r) * static_cast<size_t>(s.pitch));
    for (int32_t k = 1; k < scan; ++k) copyRowBytes(line + k * length, line, line_bytes);
  }
}

// ---- Members -----------------------------------------------------------------------

template <SourceLayout Src, int32_t Depth, int32_t Order>
void plainMember(const ScreenState& s, uint8_t* destination, int32_t line_length) {
  constexpr bool palettised = Src == SourceLayout::palettised;
  constexpr bool expanding = Src == SourceLayout::rgb16 && Depth >= 24;
  const uint32_t* table = palettised ? s.palette : expanding ? expansionTable() : nullptr;
  if ((palettised || expanding) && !table) return;
  const RowKernel kernel = plainRowKernel(Src, Depth, Order);
  forEachDirtyRow(s, destination, line_length, bytesOfDepth(Depth),
                  [&](uint8_t* d, const uint8_t* src) { kernel(d, src, s.width, table); });
}

// Palettised: a table in the destination layout, derived once per call at the first
// dirty row, then one lookup per pixel.
template <int32_t Depth, int32_t Order>
void vectorPalettisedMember(const ScreenState& s, uint8_t* destination, int32_t line_length) {
  if (!s.palette) return;
  alignas(64) uint32_t table32[256];
  alignas(64) uint16_t table16[256];
  bool derived = false;
  forEachDirtyRow(s, destination, line_length, bytesOfDepth(Depth),
                  [&](uint8_t* d, const uint8_t* src) {
                    if constexpr (Depth <= 16) {
                      if (!derived) derivePaletteTable16(table16, s.palette, Depth, Order);
                      derived = true;
                      lookupRow16(d, src, s.width, table16);
                    } else if constexpr (Depth == 32 && Order == 1) {
                      lookupRow32(d, src, s.width, s.palette);
                    } else {
                      if (!derived) derivePaletteTable32(table32, s.palette, Depth, Order);
                      derived = true;
                      if constexpr (Depth == 24) lookupRow24(d, src, s.width, table32);
                      else lookupRow32(d, src, s.width, table32);
                    }
                  });
}

template <SourceLayout Src, int32_t Depth, int32_t Order>
void vectorMember(const ScreenState& s, uint8_t* destination, int32_t line_length) {
  if constexpr (Src == SourceLayout::palettised) {
    vectorPalettisedMember<Depth, Order>(s, destination, line_length);
  } else {
    const RowKernel kernel = vectorRowKernel(Src, Depth, Order);
    forEachDirtyRow(s, destination, line_length, bytesOfDepth(Depth),
                    [&](uint8_t* d, const uint8_t* src) { kernel(d, src, s.width, nullptr); });
  }
}

// One group of twelve: palettised, 16-bit, 32-bit sources to 15, 16, 24, 32 bits. The
// 16-to-16 and 32-to-32 members of order 0 are the line copy.
template <bool Vector, int32_t Order>
constexpr std::array<Converter, CONVERTER_GROUP_SIZE> group() {
  constexpr auto P = SourceLayout::palettised;
  constexpr auto S16 = SourceLayout::rgb16;
  constexpr auto S32 = SourceLayout::rgb32;
  if constexpr (Vector) {
    return {vectorMember<P, 15, Order>,   vectorMember<P, 16, Order>,
            vectorMember<P, 24, Order>,   vectorMember<P, 32, Order>,
            vectorMember<S16, 15, Order>, Order == 0 ? copyLines : vectorMember<S16, 16, Order>,
            vectorMember<S16, 24, Order>, vectorMember<S16, 32, Order>,
            vectorMember<S32, 15, Order>, vectorMember<S32, 16, Order>,
            vectorMember<S32, 24, Order>, Order == 0 ? copyLines : vectorMember<S32, 32, Order>};
  } else {
    return {plainMember<P, 15, Order>,   plainMember<P, 16, Order>,
            plainMember<P, 24, Order>,   plainMember<P, 32, Order>,
            plainMember<S16, 15, Order>, Order == 0 ? copyLines : plainMember<S16, 16, Order>,
            plainMember<S16, 24, Order>, plainMember<S16, 32, Order>,
            plainMember<S32, 15, Order>, plainMember<S32, 16, Order>,
            plainMember<S32, 24, Order>, Order == 0 ? copyLines : plainMember<S32, 32, Order>};
  }
}

}  // namespace

// ---- The selection table -------------------------------------------------------------

namespace {

constexpr auto joinGroups() {
  std::array<Converter, CONVERTER_COUNT> table{};
  const std::array<std::array<Converter, CONVERTER_GROUP_SIZE>, 4> groups = {
      group<false, 1>(), group<false, 0>(), group<true, 1>(), group<true, 0>()};
  for (size_t g = 0; g < groups.size(); ++g)
    for (size_t i = 0; i < CONVERTER_GROUP_SIZE; ++i) table[g * CONVERTER_GROUP_SIZE + i] = groups[g][i];
  return table;
}
constexpr std::array<Converter, CONVERTER_COUNT> selection_table = joinGroups();

}  // namespace

Converter converterEntry(int32_t index) {
  return index >= 0 && index < CONVERTER_COUNT ? selection_table[static_cast<size_t>(index)] : nullptr;
}

uint32_t* expansionTable() { return reinterpret_cast<uint32_t*>(converterScratch()); }

void buildExpansionTable(uint32_t* table, int32_t order) {
  for (uint32_t i = 0; i < 256; ++i) {
    if (order == 0) {
      table[i] = ((i & 0xE0) << 5) | ((i << 3) & 0xFF);
      table[256 + i] = ((i & 0xF8) << 16) | ((i << 13) & 0xFFFF);
    } else {
      table[i] = ((i & 0xE0) << 5) | ((i & 0x1F) << 19);
      table[256 + i] = ((i << 13) & 0xFFFF) | (i & 0xF8);
    }
  }
}

Converter selectConverter(const ScreenState& screen, int32_t destination_depth, int32_t order) {
  static_assert(EXPANSION_TABLE_SIZE * sizeof(uint32_t) <= CONVERTER_SCRATCH_SIZE);
  uint32_t* expansion = expansionTable();
  if (!expansion || (order != 0 && order != 1)) return nullptr;
  buildExpansionTable(expansion, order);
  const bool vector = (screen.state_flags & SCREEN_FAST_PIXELS) && converterVectorLevel() > 0 &&
                      screen.scanline_size == 1 && screen.width % 4 == 0;
  SourceLayout source;
  switch (screen.depth) {
    case 1: case 2: case 4: case 8: source = SourceLayout::palettised; break;
    case 15: case 16: source = SourceLayout::rgb16; break;
    case 24: case 32: source = SourceLayout::rgb32; break;
    default: return nullptr;
  }
  if (destination_depth == 8) return source == SourceLayout::palettised ? copyLines : nullptr;
  if (destination_depth != 15 && destination_depth != 16 && destination_depth != 24 &&
      destination_depth != 32)
    return nullptr;
  return selection_table[static_cast<size_t>(converterIndex(vector, order, source, destination_depth))];
}

void copyLines(const ScreenState& s, uint8_t* destination, int32_t line_length) {
  const int32_t bytes = s.bytes_per_pixel;
  if (bytes != 1 && bytes != 2 && bytes != 4) return;
  const size_t line_bytes = static_cast<size_t>(s.width) * static_cast<size_t>(bytes);
  forEachDirtyRow(s, destination, line_length, bytes,
                  [&](uint8_t* d, const uint8_t* src) { copyRowBytes(d, src, line_bytes); });
}


void alphaClearingCopyPlain(const ScreenState& s, uint8_t* destination, int32_t line_length) {
  if (s.bytes_per_pixel != 4) return;
  forEachDirtyRow(s, destination, line_length, 4,
                  [&](uint8_t* d, const uint8_t* src) { alphaClearRow(d, src, s.width, nullptr); });
}

void alphaClearingCopyVector(const ScreenState& s, uint8_t* destination, int32_t line_length) {
  if (s.bytes_per_pixel != 4) return;
  forEachDirtyRow(s, destination, line_length, 4, [&](uint8_t* d, const uint8_t* src) {
    alphaClearRowVector(d, src, s.width, nullptr);
  });
}

Converter selectAlphaClearingCopy(const ScreenState& s) {
  const bool vector = (s.state_flags & SCREEN_FAST_PIXELS) && converterVectorLevel() > 0 &&
                      s.scanline_size == 1 && s.width % 4 == 0;
  return vector ? alphaClearingCopyVector : alphaClearingCopyPlain;
}

}  // namespace zv
