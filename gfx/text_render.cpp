// Text on the graphics screen: the print, clear, locate and width hooks, the cursor
// and cell queries, and the printer's write and scroll operations that draw glyphs
// into the active page and keep its text cells in step.
#include "gfx/text_render.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "gfx/draw_context.h"
#include "gfx/screen_state.h"
#include "runtime/channel.h"
#include "runtime/statements.h"

namespace zv {

namespace {

constexpr int32_t NO_ARGUMENT = static_cast<int32_t>(0xFFFF0000u);

TextCell* activeCells(const ScreenState* s, const DrawContext* c) {
  if (!s->text_pages || c->active_page < 0 || c->active_page >= s->page_count) return nullptr;
  return s->text_pages[c->active_page];
}

void extendDirty(TextPrintData* d, int32_t start, int32_t end) {
  if (start >= end) return;
  if (d->dirty_start == d->dirty_end) {
    d->dirty_start = start;
    d->dirty_end = end;
    return;
  }
  if (start < d->dirty_start) d->dirty_start = start;
  if (end > d->dirty_end) d->dirty_end = end;
}

// The text view as 0-based rows, kept inside the grid: a view left over from a
// larger grid must not let scrolling reach past the cell arrays.
void textView(const ScreenState* s, int32_t* top, int32_t* bottom) {
  int32_t t = view_top_raw(), b = view_bottom_raw();
  if (t < 0) t = 0;
  if (b < 0 || b >= s->text_rows) b = s->text_rows - 1;
  if (t > b) t = b;
  *top = t;
  *bottom = b;
}

// Whether count pixels from x are whole rows of the target. The rows of a page lie
// one after another, so a band of whole rows is one stretch of memory.
bool wholeRows(const DrawContext* c, const ScreenState* s, int32_t x, int32_t count) {
  return x == 0 && count == s->width && count * c->target_bytes_per_pixel == c->target_pitch;
}

// Fills framebuffer rows [first, end) of the target, count pixels from x.
void fillRows(DrawContext* c, const ScreenState* s, int32_t first, int32_t end, int32_t x,
              int32_t count, uint32_t colour) {
  if (first < 0) first = 0;
  if (end > s->height) end = s->height;
  if (x < 0) {
    count += x;
    x = 0;
  }
  if (x + count > s->width) count = s->width - x;
  if (count <= 0 || first >= end) return;
  if (wholeRows(c, s, x, count)) {
    c->fill_pixels(c->row_table[first], 0, count * (end - first), colour);
    return;
  }
  for (int32_t y = first; y < end; ++y) c->fill_pixels(c->row_table[y], x, count, colour);
}

// Moves framebuffer rows [from, from + rows) of the target to start at row to (to <
// from), count pixels of each from the left edge.
void moveRowsUp(DrawContext* c, const ScreenState* s, int32_t to, int32_t from, int32_t rows,
                int32_t count) {
  if (rows <= 0 || count <= 0) return;
  if (wholeRows(c, s, 0, count)) {
    c->copy_pixels(c->row_table[to], c->row_table[from], count * rows);
    return;
  }
  for (int32_t i = 0; i < rows; ++i) c->copy_pixels(c->row_table[to + i], c->row_table[from + i], count);
}

void scrollRegion(TextPrintData* d, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t rows) {
  DrawContext* c = d->context;
  ScreenState* s = currentScreen();
  if (!s || !c || x2 < x1 || y2 < y1) return;
  const int32_t h = s->font->glyph_height, w = s->font->glyph_width;
  if (rows * h != 0) {
    int32_t top = y1 * h, end = (y2 + 1) * h;
    if (end > s->height) end = s->height;
    const int32_t shift = rows * h;
    int32_t length = (x2 + 1 - x1) * w;
    if (length > s->width) length = s->width;
    if (shift >= 0 && shift < end - top) {
      moveRowsUp(c, s, top, top + shift, end - top - shift, length);
      fillRows(c, s, end - shift, end, 0, length, c->background);
    } else {
      fillRows(c, s, top, end, 0, length, c->background);
    }
    extendDirty(d, top, end);
  }
  TextCell* cells = activeCells(s, c);
  if (!cells) return;
  const int32_t height = y2 - y1 + 1, columns = x2 - x1 + 1;
  if (rows >= 0 && rows < height) {
    TextCell* to = cells + static_cast<size_t>(y1) * s->text_columns;
    const TextCell* from = to + static_cast<size_t>(rows) * s->text_columns;
    const int32_t moved = y2 - rows - y1 + 1;
    if (columns == s->text_columns) {
      // Whole rows of cells lie one after another.
      std::memmove(to, from, static_cast<size_t>(moved) * columns * sizeof(TextCell));
    } else {
      for (int32_t y = 0; y < moved; ++y)
        std::memmove(to + static_cast<size_t>(y) * s->text_columns,
                     from + static_cast<size_t>(y) * s->text_columns,
                     static_cast<size_t>(columns) * sizeof(TextCell));
    }
    fillTextCells(c->active_page, 0, y2 - rows + 1, columns, y2 + 1, 32, c->foreground,
                  c->background);
  } else {
    fillTextCells(c->active_page, 0, y1, columns, y2 + 1, 32, c->foreground, c->background);
  }
}

// Prepares the context for drawing on the screen with the plain routines.
DrawContext* screenContext(const ScreenState* s) {
  DrawContext* c = getDrawContext();
  if (!c) return nullptr;
  setTargetScreen(c);
  selectPixelRoutines(s->bytes_per_pixel);
  return c;
}

void printBytes(const uint8_t* text, int32_t length, int32_t flags) {
  if (length <= 0 && !(flags & 0x08)) return;
  ScreenState* s = currentScreen();
  if (!s || !s->font) return;
  DrawContext* c = screenContext(s);
  if (!c) return;
  lockScreen();
  TextPrintData data{c, 0, 0};
  int32_t top = 0, bottom = 0;
  textView(s, &top, &bottom);
  TextWindowPrinter p{};
  p.data = &data;
  p.write = drawTextRun;
  p.scroll = scrollTextWindow;
  p.left = 0;
  p.top = top;
  p.right = s->text_columns - 1;
  p.bottom = bottom;
  p.x = s->cursor_column;
  p.y = s->cursor_row;
  p.line_feed_returns = true;
  if (s->state_flags & SCREEN_DEFERRED_SCROLL) {
    setStateFlags(s, SCREEN_DEFERRED_SCROLL, false);
    p.x = 0;
    ++p.y;
    if (p.bottom != -1 && p.y > p.bottom) scrollTextWindow(&p, p.y - p.bottom);
  }
  if (length > 0) run_text_window_printer(p, text, length);
  if (p.x == p.left && p.y == p.bottom + 1) {
    // The text ended in the bottom-right cell: the scroll waits for the next print.
    setStateFlags(s, SCREEN_DEFERRED_SCROLL, true);
    p.x = p.right;
    p.y = p.bottom;
  } else if (p.bottom != -1 && p.y > p.bottom) {
    scrollTextWindow(&p, p.y - p.bottom);
  }
  if (p.x >= 0) s->cursor_column = p.x;
  if (p.y >= 0) s->cursor_row = p.y;
  if (data.dirty_start < data.dirty_end)
    unlockScreen(data.dirty_start, data.dirty_end - 1);
  else
    unlockScreen(1, 0);
}

}  // namespace

bool drawTextRun(TextWindowPrinter* printer, const uint8_t* bytes, int32_t length) {
  auto* d = static_cast<TextPrintData*>(printer->data);
  DrawContext* c = d->context;
  ScreenState* s = currentScreen();
  if (!s || !c || !s->font) return false;
  const int32_t x = printer->x, y = printer->y;
  // A cursor outside the grid has no cells to write; stop rather than write past them.
  if (length <= 0 || x < 0 || y < 0 || y >= s->text_rows || x + length > s->text_columns)
    return false;
  const int32_t w = s->font->glyph_width, h = s->font->glyph_height;
  const int32_t bytes_per_row = (w + 7) / 8;
  const uint32_t fg = c->foreground, bg = c->background;
  int32_t row_end = y * h + h;
  if (row_end > s->height) row_end = s->height;
  if (length == 1 && bytes[0] == 255) {
    // The line editor's cursor mark: only the cell's bottom pixel row.
    const int32_t py = y * h + h - 1;
    if (py < s->height) fillRows(c, s, py, py + 1, x * w, w, fg);
  } else {
    uint8_t* const* rows = c->row_table + y * h;
    const int32_t row_count = row_end - y * h;
    const auto glyphOf = [&](int32_t i) {
      return s->font->glyph_data + static_cast<size_t>(bytes[i]) * bytes_per_row * h;
    };
    // Whole 8-wide glyphs go in chunks through the bitmap store; glyphs cut by the
    // right edge, and every glyph when the store does not serve, pixel by pixel.
    int32_t i = 0;
    if (w == 8) {
      const int32_t whole = std::min(length, (s->width - x * w) / 8);
      const uint8_t* chunk[64];
      while (i < whole) {
        const int32_t n = std::min<int32_t>(whole - i, 64);
        for (int32_t k = 0; k < n; ++k) chunk[k] = glyphOf(i + k);
        if (!putBitmaps8(c, rows, row_count, (x + i) * w, chunk, n, fg, bg)) break;
        i += n;
      }
    }
    for (; i < length; ++i) {
      const uint8_t* glyph = glyphOf(i);
      const int32_t px = (x + i) * w;
      for (int32_t j = 0; j < row_count; ++j) {
        const uint8_t* bits = glyph + j * bytes_per_row;
        for (int32_t b = 0; b < w && px + b < s->width; ++b)
          c->put_pixel(rows[j], px + b, ((bits[b / 8] >> (b % 8)) & 1) ? fg : bg);
      }
    }
  }
  extendDirty(d, y * h, row_end);
  if (TextCell* cells = activeCells(s, c)) {
    TextCell* cell = cells + static_cast<size_t>(y) * s->text_columns + x;
    for (int32_t i = 0; i < length; ++i) cell[i] = TextCell{bytes[i], 0, fg, bg};
  }
  return true;
}

void scrollTextWindow(TextWindowPrinter* printer, int32_t rows) {
  scrollRegion(static_cast<TextPrintData*>(printer->data), printer->left, printer->top,
               printer->right, printer->bottom, rows);
  printer->y = printer->bottom;
}

void fillTextCells(int32_t page, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t code,
                   uint32_t foreground, uint32_t background) {
  ScreenState* s = currentScreen();
  if (!s || !s->text_pages || page < 0 || page >= s->page_count) return;
  if (x1 < 0) x1 = 0;
  if (y1 < 0) y1 = 0;
  if (x2 > s->text_columns) x2 = s->text_columns;
  if (y2 > s->text_rows) y2 = s->text_rows;
  TextCell* cells = s->text_pages[page];
  const TextCell blank{static_cast<uint16_t>(code), 0, foreground, background};
  for (int32_t y = y1; y < y2; ++y)
    for (int32_t x = x1; x < x2; ++x) cells[static_cast<size_t>(y) * s->text_columns + x] = blank;
}

bool resetTextCells() {
  ScreenState* s = currentScreen();
  DrawContext* c = getDrawContext();
  if (!s || !c) return false;
  return resetTextCellPages(s, c->active_page, c->foreground, c->background);
}

void graphicsPrintBuffer(const uint8_t* text, int32_t length, int32_t flags) {
  printBytes(text, length, flags);
}

void graphicsPrintBufferWide(const uint16_t* text, int32_t length, int32_t flags) {
  std::vector<uint8_t> bytes;
  if (length > 0) bytes.reserve(static_cast<size_t>(length));
  for (int32_t i = 0; i < length; ++i) {
    const uint16_t unit = text[i];
    if (unit < 256) {
      bytes.push_back(static_cast<uint8_t>(unit));
    } else {
      bytes.push_back('?');
      if (unit >= 0xD800 && unit <= 0xDBFF) ++i;  // the pair's low half goes with it
    }
  }
  printBytes(bytes.data(), static_cast<int32_t>(bytes.size()), flags);
}

void graphicsClearScreen(int32_t mode) {
  ScreenState* s = currentScreen();
  if (!s || !s->font) return;
  DrawContext* c = getDrawContext();
  if (!c) return;
  setTargetScreen(c);
  int32_t top = 0, bottom = 0;
  textView(s, &top, &bottom);
  if (mode == NO_ARGUMENT) {
    if (c->flags & DRAW_VIEWPORT_SET)
      mode = 1;
    else
      mode = (top == 0 && bottom == s->text_rows - 1) ? 0 : 2;
  }
  const bool blend = (s->state_flags & SCREEN_ALPHA_PRIMITIVES) && s->bytes_per_pixel == 4 &&
                     (c->background >> 24) < 255;
  selectPixelRoutines(s->bytes_per_pixel, blend);
  lockScreen();
  const int32_t h = s->font->glyph_height;
  int32_t first = 0, end = 0;
  bool move_cursor = false;
  if (mode == 0 || mode == 2) {
    if (mode == 0) {
      first = 0;
      end = s->height;
      fillTextCells(c->active_page, 0, 0, s->text_columns, s->text_rows, 32, c->foreground,
                    c->background);
      c->pen_x = static_cast<float>(c->viewport_x + c->viewport_width / 2);
      c->pen_y = static_cast<float>(c->viewport_y + c->viewport_height / 2);
    } else {
      first = top * h;
      end = (bottom + 1) * h;
      fillTextCells(c->active_page, 0, top, s->text_columns, bottom + 1, 32, c->foreground,
                    c->background);
    }
    fillRows(c, s, first, end, 0, s->width, c->background);
    move_cursor = true;
  } else {
    first = c->viewport_y;
    end = c->viewport_y + c->viewport_height;
    fillRows(c, s, first, end, c->viewport_x, c->viewport_width, c->background);
    c->pen_x = static_cast<float>(c->viewport_x + c->viewport_width / 2);
    c->pen_y = static_cast<float>(c->viewport_y + c->viewport_height / 2);
  }
  if (first < 0) first = 0;
  if (end > s->height) end = s->height;
  if (first < end)
    unlockScreen(first, end - 1);
  else
    unlockScreen(1, 0);
  if (move_cursor) graphicsLocate(top + 1, 1, -1);
}

int32_t graphicsLocate(int32_t row, int32_t column, int32_t /*visibility*/) {
  ScreenState* s = currentScreen();
  if (!s) return 0;
  if (row >= 1) s->cursor_row = row - 1;
  if (column >= 1) s->cursor_column = column - 1;
  setStateFlags(s, SCREEN_DEFERRED_SCROLL, false);
  if (ChannelRecord* r = screen_record()) r->column = s->cursor_column;
  return (((s->cursor_row * 256) & 0xFFFF) | (s->cursor_column & 0xFF)) + 257;
}

int32_t graphicsWidth(int32_t columns, int32_t rows) {
  ScreenState* s = currentScreen();
  if (!s || !s->font) return 0;
  const int32_t previous = s->text_columns | (s->text_rows << 16);
  int32_t want_height = 0;
  if (columns <= 0) {
    if (rows <= 0 || s->font->glyph_width != 8) return previous;
    want_height = s->height / rows;
  } else {
    want_height = rows > 0 ? s->height / rows : s->font->glyph_height;
    if (s->width / columns != 8) return previous;
  }
  if (want_height != 8 && want_height != 14 && want_height != 16) return previous;
  const FontInfo* font = builtinFont(want_height);
  DrawContext* c = getDrawContext();
  if (!font || !c) return previous;
  s->font = font;
  if (columns > 0) s->text_columns = columns;
  if (rows > 0) s->text_rows = rows;
  resetTextCells();
  c->viewport_x = c->saved_viewport_x = 0;
  c->viewport_y = c->saved_viewport_y = 0;
  c->viewport_width = c->saved_viewport_width = s->width;
  c->viewport_height = c->saved_viewport_height = s->height;
  c->flags &= ~DRAW_VIEWPORT_SET;
  set_view_rows_raw(-1, -1);  // the whole screen
  graphicsClearScreen(0);
  return previous;
}

int32_t graphicsGetColumn() {
  const ScreenState* s = currentScreen();
  return s ? s->cursor_column + 1 : 1;
}

int32_t graphicsGetRow() {
  const ScreenState* s = currentScreen();
  return s ? s->cursor_row + 1 : 1;
}

void graphicsGetPosition(int32_t* column, int32_t* row) {
  if (column) *column = graphicsGetColumn();
  if (row) *row = graphicsGetRow();
}

void graphicsGetSize(int32_t* columns, int32_t* rows) {
  const ScreenState* s = currentScreen();
  if (columns) *columns = s ? s->text_columns : 0;
  if (rows) *rows = s ? s->text_rows : 0;
}

int32_t graphicsReadScreenCell(int32_t column, int32_t row, int32_t flag) {
  const ScreenState* s = currentScreen();
  if (!s || column < 1 || column > s->text_columns || row < 1 || row > s->text_rows) return 0;
  const DrawContext* c = getDrawContext();
  const TextCell* cells = c ? activeCells(s, c) : nullptr;
  if (!cells) return 0;
  const TextCell& cell = cells[static_cast<size_t>(row - 1) * s->text_columns + (column - 1)];
  if (flag == 0) return cell.code;
  if (s->depth <= 4) return static_cast<int32_t>(cell.foreground + cell.background * 16);
  if (s->depth <= 8) return static_cast<int32_t>(cell.foreground + cell.background * 256);
  const uint32_t colour = flag == 2 ? cell.background : cell.foreground;
  if (s->depth == 16) {
    const uint32_t r = (colour >> 11) & 31, g = (colour >> 5) & 63, b = colour & 31;
    return static_cast<int32_t>(0xFF000000u | ((r << 3 | r >> 2) << 16) | ((g << 2 | g >> 4) << 8) |
                                (b << 3 | b >> 2));
  }
  return static_cast<int32_t>(colour);
}

}  // namespace zv
