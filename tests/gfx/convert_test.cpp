// Pixel-format converters: the pixel rules' edge values, the selection table and its
// "none" results, the expansion table, and a differential test of every plain member
// against its vector member (at every vector level the processor has) and against a
// per-pixel reference written from the channel rules. Frames and destinations are
// allocated exactly, so AddressSanitizer sees any access past a line or a frame.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "gfx/screen_state.h"
#include "gfx/win32/convert.h"

namespace zv {
namespace {

constexpr SourceLayout PAL = SourceLayout::palettised;
constexpr SourceLayout S16 = SourceLayout::rgb16;
constexpr SourceLayout S32 = SourceLayout::rgb32;

int32_t screenDepthOf(SourceLayout source) {
  return source == PAL ? 8 : source == S16 ? 16 : 32;
}
int32_t bytesOf(int32_t depth) { return depth == 15 ? 2 : depth / 8; }

// A screen record over exactly sized buffers of its own. The converter scratch block
// is the process-wide one, so a real screen's buffers are allocated for it.
class Frame {
 public:
  Frame(SourceLayout source, int32_t width, int32_t height, int32_t scanline_size)
      : pixels_(static_cast<size_t>(width) * height * (source == PAL ? 1 : source == S16 ? 2 : 4)),
        palette_(256),
        dirty_(static_cast<size_t>(height) * scanline_size) {
    s.width = width;
    s.height = height;
    s.depth = screenDepthOf(source);
    s.bytes_per_pixel = source == PAL ? 1 : source == S16 ? 2 : 4;
    s.pitch = s.bytes_per_pixel * width;
    s.scanline_size = scanline_size;
    s.framebuffer = pixels_.data();
    s.palette = palette_.data();
    s.dirty_lines = dirty_.data();
  }
  void randomise(std::mt19937& rng) {
    for (auto& b : pixels_) b = static_cast<uint8_t>(rng());
    for (auto& c : palette_) c = rng();
  }
  std::vector<uint8_t>& pixels() { return pixels_; }
  std::vector<uint32_t>& palette() { return palette_; }
  std::vector<uint8_t>& dirty() { return dirty_; }
  ScreenState s{};

 private:
  std::vector<uint8_t> pixels_;
  std::vector<uint32_t> palette_;
  std::vector<uint8_t> dirty_;
};

class ConvertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    holder_ = createScreenState();
    holder_->width = holder_->height = holder_->scanline_size = 1;
    normaliseScreenDepth(holder_, 8);
    ASSERT_TRUE(allocateScreenBuffers(holder_, 1));
    ASSERT_NE(expansionTable(), nullptr);
  }
  void TearDown() override {
    destroyScreenState(holder_);
    setConverterVectorLevel(99);
  }
  ScreenState* holder_ = nullptr;
};

// The destination pixel of one source pixel, from the channel rules: each channel as
// (value, bits), narrowed to its top bits or widened with zeros below.
uint32_t field(uint32_t value, int32_t bits, int32_t to) {
  return to <= bits ? value >> (bits - to) : value << (to - bits);
}
uint32_t referencePixel(SourceLayout source, int32_t depth, int32_t order, const uint8_t* p,
                        const std::vector<uint32_t>& palette) {
  uint32_t r, g, b;
  int32_t rb_bits = 8, g_bits = 8;
  if (source == PAL) {
    const uint32_t c = palette[p[0]];
    if (depth == 32 && order == 1) return c;  // the entry as it is
    r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
  } else if (source == S16) {
    const uint32_t v = p[0] | p[1] << 8;
    if (depth == 16 && order == 0) return v;
    r = v >> 11, g = (v >> 5) & 0x3F, b = v & 0x1F, rb_bits = 5, g_bits = 6;
  } else {
    const uint32_t v = p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24;
    if (depth == 32 && order == 0) return v;
    r = (v >> 16) & 0xFF, g = (v >> 8) & 0xFF, b = v & 0xFF;
  }
  if (order == 1) std::swap(r, b);
  switch (depth) {
    case 15: return field(r, rb_bits, 5) << 10 | field(g, g_bits, 5) << 5 | field(b, rb_bits, 5);
    case 16: return field(r, rb_bits, 5) << 11 | field(g, g_bits, 6) << 5 | field(b, rb_bits, 5);
    default: return field(r, rb_bits, 8) << 16 | field(g, g_bits, 8) << 8 | field(b, rb_bits, 8);
  }
}

// The whole destination a converter should leave: lines of dirty rows converted,
// every other byte as it was.
std::vector<uint8_t> referenceFrame(Frame& f, SourceLayout source, int32_t depth, int32_t order,
                                    std::vector<uint8_t> destination, int32_t line_length) {
  const ScreenState& s = f.s;
  const int32_t bytes = bytesOf(depth), src_bytes = s.bytes_per_pixel;
  for (int32_t y = 0; y < s.height * s.scanline_size; ++y) {
    const int32_t row = y / s.scanline_size;
    if (!s.dirty_lines[row]) continue;
    for (int32_t x = 0; x < s.width; ++x) {
      const uint32_t v = referencePixel(source, depth, order,
                                        s.framebuffer + row * s.pitch + x * src_bytes, f.palette());
      for (int32_t k = 0; k < bytes; ++k)
        destination[static_cast<size_t>(y) * line_length + x * bytes + k] =
            static_cast<uint8_t>(v >> (8 * k));
    }
  }
  return destination;
}

struct PixelCase {
  const char* what;
  SourceLayout source;
  int32_t depth, order;
  uint32_t pixel;     // palette entry (index 0 is used) or source pixel
  uint32_t expected;  // destination pixel
};

// The rules' edge values, through the plain and the vector member of each.
TEST_F(ConvertTest, PixelRulesGiveTheTopBitsWithoutRoundingOrReplication) {
  const PixelCase cases[] = {
      {"white palette entry to 15 bits", PAL, 15, 0, 0x00FFFFFF, 0x7FFF},
      {"white palette entry to 16 bits", PAL, 16, 0, 0x00FFFFFF, 0xFFFF},
      {"red 128 to 15 bits order 0", PAL, 15, 0, 0x00000080, 0x4000},
      {"red 128 to 15 bits order 1", PAL, 15, 1, 0x00000080, 0x0010},
      {"red 0xFF green 0x03 to 16 bits (no rounding up)", PAL, 16, 0, 0x000003FF, 0xF800},
      {"palette entry to 32 bits order 0 swaps red and blue", PAL, 32, 0, 0x00112233, 0x00332211},
      {"palette entry to 32 bits order 1 as it is", PAL, 32, 1, 0x00112233, 0x00112233},
      {"16-bit white to 32 bits, low bits 0", S16, 32, 0, 0xFFFF, 0x00F8FCF8},
      {"16-bit pure red to 32 bits order 1", S16, 32, 1, 0xF800, 0x000000F8},
      {"16-bit lowest green bit dropped in 15 bits", S16, 15, 0, 0x0020, 0x0000},
      {"16-bit pure red to 15 bits order 1", S16, 15, 1, 0xF800, 0x001F},
      {"32-bit 0x80 red to 15 bits", S32, 15, 0, 0x00800000, 0x4000},
      {"32-bit 0x07 0x03 0x07 to 16 bits (dropped, not rounded)", S32, 16, 0, 0x00070307, 0x0000},
      {"32-bit to 32 bits order 1 clears the top byte", S32, 32, 1, 0xAA112233, 0x00332211},
      {"32-bit to 32 bits order 0 is a copy", S32, 32, 0, 0xAA112233, 0xAA112233},
  };
  for (const PixelCase& c : cases) {
    for (bool vector : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (vector ? " (vector)" : " (plain)"));
      Frame f(c.source, 4, 1, 1);
      if (c.source == PAL) f.palette()[0] = c.pixel;
      for (int32_t x = 0; x < 4; ++x)
        std::memcpy(f.pixels().data() + x * f.s.bytes_per_pixel, &c.pixel,
                    c.source == PAL ? 0 : f.s.bytes_per_pixel);
      f.dirty()[0] = 1;
      buildExpansionTable(expansionTable(), c.order);
      const int32_t bytes = bytesOf(c.depth);
      std::vector<uint8_t> out(4 * bytes, 0x5A);
      converterEntry(converterIndex(vector, c.order, c.source, c.depth))(f.s, out.data(), 4 * bytes);
      for (int32_t x = 0; x < 4; ++x) {
        uint32_t v = 0;
        std::memcpy(&v, out.data() + x * bytes, bytes);
        EXPECT_EQ(v, c.expected) << "pixel " << x;
      }
    }
  }
}

struct SelectionCase {
  const char* what;
  int32_t screen_depth, width, scanline_size;
  bool fast;
  int32_t destination_depth, order;
  int32_t expected;  // an entry of the table, COPY for the line copy, NONE for none
};
constexpr int32_t COPY = -1, NONE = -2;

TEST_F(ConvertTest, SelectionTakesItsGroupAndEntryOrNone) {
  const bool vector_unit = converterVectorLevel() > 0;
  const auto vec = [&](int32_t order, SourceLayout src, int32_t d) {
    return converterIndex(vector_unit, order, src, d);
  };
  const SelectionCase cases[] = {
      {"8 to 15 order 1 plain", 8, 640, 1, false, 15, 1, 0},
      {"4 to 32 order 0 plain", 4, 640, 1, false, 32, 0, 15},
      {"16 to 24 order 1 plain", 16, 640, 1, false, 24, 1, 6},
      {"32 to 16 order 0 plain", 32, 640, 1, false, 16, 0, 21},
      {"8 to 32 order 0 fast", 8, 640, 1, true, 32, 0, vec(0, PAL, 32)},
      {"32 to 24 order 0 fast", 32, 4, 1, true, 24, 0, vec(0, S32, 24)},
      {"fast but width not a multiple of 4", 32, 642, 1, true, 24, 0, 22},
      {"fast but scanline size 2", 8, 640, 2, true, 16, 1, 1},
      {"palettised to 8 is the line copy", 8, 640, 1, true, 8, 0, COPY},
      {"16 to 16 order 0 is the line copy", 16, 640, 1, true, 16, 0, COPY},
      {"16 to 8 is none", 16, 640, 1, false, 8, 0, NONE},
      {"destination 12 is none", 8, 640, 1, false, 12, 0, NONE},
      {"order 2 is none", 8, 640, 1, false, 16, 2, NONE},
      {"screen depth 3 is none", 3, 640, 1, false, 32, 0, NONE},
  };
  for (const SelectionCase& c : cases) {
    SCOPED_TRACE(c.what);
    ScreenState s{};
    s.depth = c.screen_depth;
    s.width = c.width;
    s.scanline_size = c.scanline_size;
    s.state_flags = c.fast ? SCREEN_FAST_PIXELS : 0;
    const Converter chosen = selectConverter(s, c.destination_depth, c.order);
    if (c.expected == NONE) EXPECT_EQ(chosen, nullptr);
    else if (c.expected == COPY) EXPECT_EQ(chosen, &copyLines);
    else EXPECT_EQ(chosen, converterEntry(c.expected));
  }
}

TEST_F(ConvertTest, AlphaClearingCopyTakesTheVectorFormUnderTheSameCondition) {
  const Converter vector = converterVectorLevel() > 0 ? &alphaClearingCopyVector : &alphaClearingCopyPlain;
  struct { int32_t width, scanline_size; bool fast; Converter expected; } cases[] = {
      {640, 1, true, vector}, {642, 1, true, &alphaClearingCopyPlain},
      {640, 2, true, &alphaClearingCopyPlain}, {640, 1, false, &alphaClearingCopyPlain},
  };
  for (const auto& c : cases) {
    ScreenState s{};
    s.depth = 32;
    s.width = c.width;
    s.scanline_size = c.scanline_size;
    s.state_flags = c.fast ? SCREEN_FAST_PIXELS : 0;
    EXPECT_EQ(selectAlphaClearingCopy(s), c.expected) << c.width << " " << c.scanline_size;
  }
  // Not a 32-bit screen: nothing is written.
  Frame f(S16, 4, 1, 1);
  f.dirty()[0] = 1;
  std::vector<uint8_t> out(16, 0x33);
  alphaClearingCopyPlain(f.s, out.data(), 16);
  alphaClearingCopyVector(f.s, out.data(), 16);
  EXPECT_EQ(out, std::vector<uint8_t>(16, 0x33));
}

// Every pair of the table and the alpha-clearing copy: random frames, palettes and
// dirty rows at widths 1 to 67 and 640, scanline sizes 1 and 2, tight and padded
// lines; the vector member must give the plain member's bytes at every vector level,
// touch no line of a clean row and no padding, and match the reference.
TEST_F(ConvertTest, VectorMembersEqualPlainMembersAndTheReference) {
  std::mt19937 rng(20240601);
  std::vector<int32_t> widths;
  for (int32_t w = 1; w <= 67; ++w) widths.push_back(w);
  widths.push_back(640);
  const int32_t top_level = converterVectorLevel();
  struct Pair { SourceLayout source; int32_t depth, order; Converter plain, vector; };
  std::vector<Pair> pairs;
  for (int32_t order : {0, 1})
    for (SourceLayout src : {PAL, S16, S32})
      for (int32_t d : {15, 16, 24, 32})
        pairs.push_back({src, d, order, converterEntry(converterIndex(false, order, src, d)),
                         converterEntry(converterIndex(true, order, src, d))});
  pairs.push_back({PAL, 8, 0, copyLines, copyLines});
  // The reference of 32 bits order 0 is the copy; the alpha copy is checked apart.
  pairs.push_back({S32, 32, 0, alphaClearingCopyPlain, alphaClearingCopyVector});
  const size_t alpha_pair = pairs.size() - 1;

  int64_t checked_lines = 0;
  for (size_t p = 0; p < pairs.size(); ++p) {
    const Pair& pair = pairs[p];
    for (int32_t level = 0; level <= top_level; ++level) {
      setConverterVectorLevel(level);
      for (int32_t width : widths) {
        for (int32_t scan : {1, 2}) {
          SCOPED_TRACE(::testing::Message() << "source " << static_cast<int>(pair.source)
                                            << " depth " << pair.depth << " order " << pair.order
                                            << " width " << width << " scanline " << scan
                                            << " level " << level << " pair " << p);
          const int32_t height = width == 640 ? 3 : 1 + static_cast<int32_t>(rng() % 4);
          Frame f(pair.source, width, height, scan);
          f.randomise(rng);
          const uint32_t pattern = rng();
          for (int32_t r = 0; r < height; ++r) f.dirty()[r] = (pattern >> r) & 1;
          if (width % 16 == 1) std::fill(f.dirty().begin(), f.dirty().end(), 1);
          buildExpansionTable(expansionTable(), pair.order);
          const int32_t bytes = pair.depth == 8 ? 1 : bytesOf(pair.depth);
          const int32_t line_length = width * bytes + (width % 3 == 0 ? 0 : width % 5);
          std::vector<uint8_t> before(static_cast<size_t>(line_length) * height * scan);
          for (auto& b : before) b = static_cast<uint8_t>(rng());
          std::vector<uint8_t> plain = before, vector = before;
          pair.plain(f.s, plain.data(), line_length);
          pair.vector(f.s, vector.data(), line_length);
          ASSERT_EQ(plain, vector);
          std::vector<uint8_t> expected =
              pair.depth == 8 ? before
                              : referenceFrame(f, pair.source, pair.depth, pair.order, before,
                                               line_length);
          if (pair.depth == 8)
            for (int32_t y = 0; y < height * scan; ++y)
              if (f.dirty()[y / scan])
                std::memcpy(expected.data() + y * line_length,
                            f.pixels().data() + (y / scan) * width, width);
          if (p == alpha_pair)
            for (int32_t y = 0; y < height * scan; ++y)
              if (f.dirty()[y / scan])
                for (int32_t x = 0; x < width; ++x) expected[y * line_length + 4 * x + 3] = 0;
          ASSERT_EQ(plain, expected);
          checked_lines += height * scan;
        }
      }
    }
  }
  EXPECT_GT(checked_lines, 0);
}



TEST_F(ConvertTest, NegativeLineLengthWalksUpAndShortLinesConvertNothing) {
  Frame f(S16, 4, 2, 1);
  const uint16_t pixels[8] = {0xF800, 0xF800, 0xF800, 0xF800, 0x001F, 0x001F, 0x001F, 0x001F};
  std::memcpy(f.pixels().data(), pixels, sizeof pixels);
  f.dirty()[0] = f.dirty()[1] = 1;
  buildExpansionTable(expansionTable(), 0);
  for (bool vector : {false, true}) {
    const Converter convert = converterEntry(converterIndex(vector, 0, S16, 32));
    std::vector<uint32_t> out(8, 0);
    convert(f.s, reinterpret_cast<uint8_t*>(out.data() + 4), -16);  // row 0 in the second line
    EXPECT_EQ(out[4], 0x00F80000u);
    EXPECT_EQ(out[0], 0x000000F8u);
    std::vector<uint32_t> untouched(8, 7);
    convert(f.s, reinterpret_cast<uint8_t*>(untouched.data()), 15);
    EXPECT_EQ(untouched, std::vector<uint32_t>(8, 7));
  }
}

}  // namespace
}  // namespace zv
