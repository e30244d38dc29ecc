// Tests of text on the graphics screen: glyph pixels, text cells, dirty rows, the
// cursor and the deferred scroll at the bottom-right cell, control bytes, the width
// hook's font switch, wide text and the cell query.
#include "gfx/text_render.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "gfx/draw_context.h"
#include "runtime/statements.h"
#include "screen_test_support.h"

namespace {

using zvtest::MODE_18;

class TextRenderTest : public zvtest::ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    zv::set_view_rows_raw(-1, -1);
    s_ = build(MODE_18);
    clearDirty(s_);
  }
  void TearDown() override {
    zv::set_view_rows_raw(-1, -1);
    ScreenTest::TearDown();
  }

  void print(const std::string& text, int32_t flags = 0) {
    zv::graphicsPrintBuffer(reinterpret_cast<const uint8_t*>(text.data()),
                            static_cast<int32_t>(text.size()), flags);
  }
  uint8_t pixel(int32_t x, int32_t y) const { return s_->pages[0][y * s_->pitch + x]; }
  const zv::TextCell& cell(int32_t x, int32_t y) const {
    return s_->text_pages[0][y * s_->text_columns + x];
  }
  void cursorAt(int32_t x, int32_t y) {
    s_->cursor_column = x;
    s_->cursor_row = y;
  }

  zv::ScreenState* s_ = nullptr;
};

TEST_F(TextRenderTest, GlyphPixelsCellDirtyRowsAndCursor) {
  print("A");
  EXPECT_EQ(pixel(3, 2), 15);  // row 2 of "A" is 0x08: bit 3
  EXPECT_EQ(pixel(2, 2), 0);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 8; ++x) EXPECT_EQ(pixel(x, y), 0) << x << "," << y;
  auto d = dirty(s_);
  for (int32_t y = 0; y < 16; ++y) EXPECT_EQ(d[y], 1) << y;
  EXPECT_EQ(countDirty(s_), 16);
  EXPECT_EQ(cell(0, 0).code, 65);
  EXPECT_EQ(cell(0, 0).foreground, 15u);
  EXPECT_EQ(cell(0, 0).background, 0u);
  EXPECT_EQ(s_->cursor_column, 1);
  EXPECT_EQ(s_->cursor_row, 0);
  EXPECT_EQ(zv::graphicsReadScreenCell(1, 1, 0), 65);
  EXPECT_EQ(zv::graphicsReadScreenCell(1, 1, 1), 15);
}

TEST_F(TextRenderTest, FullBottomRowDefersTheScrollToTheNextPrint) {
  for (int variant = 0; variant < 2; ++variant) {
    SCOPED_TRACE(variant);
    s_ = build(MODE_18);
    print("M");
    EXPECT_EQ(zv::graphicsLocate(30, 1, -1), 29 * 256 + 257);
    print(std::string(80, 'a'));
    EXPECT_EQ(s_->cursor_column, 79);
    EXPECT_EQ(s_->cursor_row, 29);
    EXPECT_TRUE(s_->state_flags & zv::SCREEN_DEFERRED_SCROLL);
    EXPECT_EQ(cell(0, 0).code, 'M');  // not scrolled yet
    if (variant == 0) {
      print("x");
      EXPECT_EQ(cell(0, 29).code, 'x');
      EXPECT_EQ(cell(1, 29).code, 32);
      EXPECT_EQ(s_->cursor_column, 1);
    } else {
      print("", 0x08);  // bookkeeping only: the scroll happens, nothing is drawn
      EXPECT_EQ(cell(0, 29).code, 32);
      EXPECT_EQ(s_->cursor_column, 0);
    }
    EXPECT_EQ(s_->cursor_row, 29);
    EXPECT_FALSE(s_->state_flags & zv::SCREEN_DEFERRED_SCROLL);
    EXPECT_EQ(cell(0, 0).code, 32);
    EXPECT_EQ(cell(79, 28).code, 'a');
    // The pixels moved with the cells: row 28 now shows the "a" glyph's pixels.
    const uint8_t* glyph = s_->font->glyph_data + 'a' * 16;
    for (int32_t y = 0; y < 16; ++y)
      for (int32_t x = 0; x < 8; ++x)
        EXPECT_EQ(pixel(x, 28 * 16 + y), ((glyph[y] >> x) & 1) ? 15 : 0) << x << "," << y;
    EXPECT_EQ(pixel(3, 2), 0);  // the "M" is gone from the top row
  }
}

TEST_F(TextRenderTest, LengthZeroWithoutFlagDoesNothing) {
  s_->state_flags |= zv::SCREEN_DEFERRED_SCROLL;
  cursorAt(79, 29);
  print("");
  EXPECT_TRUE(s_->state_flags & zv::SCREEN_DEFERRED_SCROLL);
  EXPECT_EQ(s_->cursor_column, 79);
}

TEST_F(TextRenderTest, CarriageReturnLineFeedOnTheLastRowScrollsAtOnce) {
  cursorAt(5, 29);
  print("Z");
  print("\r\n");
  EXPECT_EQ(s_->cursor_column, 0);
  EXPECT_EQ(s_->cursor_row, 29);
  EXPECT_FALSE(s_->state_flags & zv::SCREEN_DEFERRED_SCROLL);
  EXPECT_EQ(cell(5, 28).code, 'Z');
  EXPECT_EQ(cell(5, 29).code, 32);
}

TEST_F(TextRenderTest, TabBackspaceAndCursorBar) {
  struct Case {
    int32_t start;
    std::string text;
    int32_t end;
  };
  for (const Case& c : {Case{5, "\t", 8}, Case{8, "\t", 16}, Case{0, "\b", 0}, Case{3, "\b", 2}}) {
    SCOPED_TRACE(c.start);
    zv::fillTextCells(0, 0, 3, 80, 4, 'z', 15, 0);
    cursorAt(c.start, 3);
    print(c.text);
    EXPECT_EQ(s_->cursor_column, c.end);
    EXPECT_EQ(s_->cursor_row, 3);
    for (int32_t x = 0; x < 80; ++x) {
      const bool blanked = c.text == "\t" && x >= c.start && x < c.end;
      EXPECT_EQ(cell(x, 3).code, blanked ? 32 : 'z') << x;  // backspace erases nothing
    }
  }

  // Byte 255 alone draws only the cell's bottom pixel row in the foreground colour.
  for (int32_t y = 0; y < 16; ++y) std::fill_n(s_->pages[0] + y * s_->pitch, 9, 7);
  cursorAt(0, 0);
  print("\xFF");
  for (int32_t y = 0; y < 15; ++y)
    for (int32_t x = 0; x < 8; ++x) EXPECT_EQ(pixel(x, y), 7) << x << "," << y;
  for (int32_t x = 0; x < 8; ++x) EXPECT_EQ(pixel(x, 15), 15) << x;
  EXPECT_EQ(pixel(8, 15), 7);
  EXPECT_EQ(s_->cursor_column, 1);
}

TEST_F(TextRenderTest, WidthSwitchesFontOnlyWhenOneFits) {
  print("A");
  for (auto [columns, rows] : {std::pair{80, 50}, std::pair{40, 0}}) {
    EXPECT_EQ(zv::graphicsWidth(columns, rows), 80 | (30 << 16));
    EXPECT_EQ(s_->font->glyph_height, 16);
    EXPECT_EQ(s_->text_rows, 30);
    EXPECT_EQ(cell(0, 0).code, 65);
    EXPECT_EQ(pixel(3, 2), 15);
  }
  EXPECT_EQ(zv::graphicsWidth(80, 60), 80 | (30 << 16));
  EXPECT_EQ(s_->font->glyph_height, 8);
  int32_t columns = 0, rows = 0;
  zv::graphicsGetSize(&columns, &rows);
  EXPECT_EQ(columns, 80);
  EXPECT_EQ(rows, 60);
  EXPECT_EQ(cell(0, 0).code, 32);
  EXPECT_EQ(cell(79, 59).code, 32);
  EXPECT_EQ(pixel(3, 2), 0);
  EXPECT_EQ(zv::graphicsGetColumn(), 1);
  EXPECT_EQ(zv::graphicsGetRow(), 1);
  // Printing on the last row of the new grid uses the 8-pixel cells.
  cursorAt(0, 59);
  print("A");
  EXPECT_EQ(zv::graphicsReadScreenCell(1, 60, 0), 65);
  EXPECT_EQ(zv::graphicsWidth(0, 30), 80 | (60 << 16));
  EXPECT_EQ(s_->font->glyph_height, 16);
}

TEST_F(TextRenderTest, WideTextBecomesBytes) {
  const uint16_t smiley[] = {0x263A};
  zv::graphicsPrintBufferWide(smiley, 1, 0);
  EXPECT_EQ(cell(0, 0).code, 63);
  const uint16_t units[] = {0x41, 0xD83D, 0xDE00};
  cursorAt(0, 1);
  zv::graphicsPrintBufferWide(units, 3, 0);
  EXPECT_EQ(cell(0, 1).code, 65);
  EXPECT_EQ(cell(1, 1).code, 63);
  EXPECT_EQ(cell(2, 1).code, 32);
  EXPECT_EQ(s_->cursor_column, 2);
}

TEST_F(TextRenderTest, ReadScreenCellOutsideTheGridIsZero) {
  zv::fillTextCells(0, 0, 0, 80, 30, 'q', 15, 0);
  EXPECT_EQ(zv::graphicsReadScreenCell(80, 30, 0), 'q');
  EXPECT_EQ(zv::graphicsReadScreenCell(81, 1, 0), 0);
  EXPECT_EQ(zv::graphicsReadScreenCell(1, 31, 0), 0);
  EXPECT_EQ(zv::graphicsReadScreenCell(0, 1, 0), 0);
}

TEST_F(TextRenderTest, ClearWithoutArgumentInAViewClearsOnlyItsRows) {
  zv::fillTextCells(0, 0, 0, 80, 30, 'q', 15, 0);
  std::fill_n(s_->pages[0], s_->pitch * s_->height, 9);
  zv::set_view_rows_raw(2, 4);
  zv::graphicsClearScreen(static_cast<int32_t>(0xFFFF0000u));
  EXPECT_EQ(cell(0, 1).code, 'q');
  EXPECT_EQ(cell(0, 2).code, 32);
  EXPECT_EQ(cell(79, 4).code, 32);
  EXPECT_EQ(cell(0, 5).code, 'q');
  EXPECT_EQ(pixel(0, 31), 9);
  EXPECT_EQ(pixel(0, 32), 0);
  EXPECT_EQ(pixel(639, 79), 0);
  EXPECT_EQ(pixel(0, 80), 9);
  EXPECT_EQ(countDirty(s_), 48);
  EXPECT_EQ(dirty(s_)[32], 1);
  EXPECT_EQ(s_->cursor_column, 0);
  EXPECT_EQ(s_->cursor_row, 2);
}

}  // namespace

// Glyph rows at every pixel size: whole rows take the 8-pixel stores, a glyph cut by
// the right edge goes pixel by pixel; both give the glyph's pixels in the chosen
// colours, and nothing is written past the screen's right edge.
TEST_F(TextRenderTest, GlyphRowsInEveryPixelSize) {
  struct Case {
    zvtest::ScreenShape shape;
    uint32_t foreground, background;
  };
  const Case cases[] = {
      {MODE_18, 0x0C, 0x01},
      {zvtest::DEPTH_16, 0xF81F, 0x07E0},
      {zvtest::DEPTH_32, 0x00123456, 0x00654321},
      {{-1, 60, 32, 32, 1, 256, 1, 8, 2}, 0x00123456, 0x00654321},
  };
  const std::string text = "Ag\xDB\xB1\xB2~0";
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.shape.width << " wide, depth " << k.shape.depth);
    zv::ScreenState* s = s_ = build(k.shape);
    zv::DrawContext* c = zv::getDrawContext();
    c->foreground = k.foreground;
    c->background = k.background;
    s->cursor_column = 1;
    s->cursor_row = 0;
    const std::vector<uint8_t> before(s->pages[0], s->pages[0] + static_cast<size_t>(s->pitch) * s->height);
    const size_t count = std::min<size_t>(text.size(), static_cast<size_t>(s->text_columns - 1));
    zv::graphicsPrintBuffer(reinterpret_cast<const uint8_t*>(text.data()),
                            static_cast<int32_t>(count), 0);

    const int32_t bpp = s->bytes_per_pixel;
    const auto read = [&](const uint8_t* page, int32_t x, int32_t y) {
      uint32_t v = 0;
      std::memcpy(&v, page + static_cast<size_t>(y) * s->pitch + static_cast<size_t>(x) * bpp,
                  static_cast<size_t>(bpp));
      return v;
    };
    for (int32_t y = 0; y < 32 && y < s->height; ++y)
      for (int32_t x = 0; x < s->width; ++x) {
        const int32_t column = x / 8;
        const uint32_t old_pixel = read(before.data(), x, y);
        uint32_t expected = old_pixel;
        if (y < 16 && column >= 1 && static_cast<size_t>(column) <= count) {
          const uint8_t code = static_cast<uint8_t>(text[static_cast<size_t>(column - 1)]);
          expected =
              ((s->font->glyph_data[code * 16 + y] >> (x % 8)) & 1) ? k.foreground : k.background;
        }
        ASSERT_EQ(read(s->pages[0], x, y), expected) << "pixel " << x << "," << y;
      }
  }
}

// A line feed on the bottom row moves every pixel row of the text area up by one
// glyph height and blanks the bottom glyph row, in every pixel size, whether the
// text area spans whole framebuffer rows (one move) or not (row by row), with the
// plain and the fast routines; pixels right of the text area stay as they were.
TEST_F(TextRenderTest, ScrollMovesTheTextAreaUpByOneGlyphRow) {
  const zvtest::ScreenShape shapes[] = {
      {13, 40, 48, 8, 1, 256, 1, 5, 3},    // whole rows
      {-1, 44, 48, 8, 1, 256, 1, 5, 3},    // 4 pixels right of the grid
      {-1, 40, 48, 16, 1, 256, 1, 5, 3},
      {-1, 42, 48, 32, 1, 256, 1, 5, 3},
  };
  for (bool plain : {false, true}) {
    for (const zvtest::ScreenShape& shape : shapes) {
      SCOPED_TRACE(testing::Message() << shape.width << " wide, depth " << shape.depth
                                      << (plain ? ", plain" : ", fast"));
      zv::forcePlainPixelRoutines(plain);
      zv::ScreenState* s = s_ = build(shape);
      zv::DrawContext* c = zv::getDrawContext();
      c->background = 0;
      uint8_t* page = s->pages[0];
      const size_t bytes = static_cast<size_t>(s->pitch) * s->height;
      for (size_t i = 0; i < bytes; ++i) page[i] = static_cast<uint8_t>(i * 7 + 1);
      const std::vector<uint8_t> before(page, page + bytes);
      s->cursor_column = 0;
      s->cursor_row = 2;
      print("\n");
      const size_t text_bytes = static_cast<size_t>(5 * 8 * s->bytes_per_pixel);
      const size_t shift = static_cast<size_t>(16) * s->pitch;
      for (int32_t y = 0; y < s->height; ++y) {
        const size_t row = static_cast<size_t>(y) * s->pitch;
        for (size_t b = 0; b < static_cast<size_t>(s->pitch); ++b) {
          uint8_t expected = before[row + b];
          if (b < text_bytes) expected = y < 32 ? before[row + shift + b] : 0;
          ASSERT_EQ(page[row + b], expected) << "row " << y << ", byte " << b;
        }
      }
    }
  }
}
