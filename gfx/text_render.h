// Text on the graphics screen: glyphs of the screen's bitmap font drawn into the
// active page, the text-cell shadow of what was printed, the text cursor, scrolling
// inside the text view, clearing, the text size and the cursor and cell queries.
// The graphics* functions have the console hook signatures; mode setting installs
// them into the hooks table.
#pragma once

#include <cstdint>

#include "runtime/text_window.h"

namespace zv {

struct DrawContext;

// Slot 3: 0xFFFF0000 (-65536) is the call without argument; 0 clears the page,
// 2 the text view's rows, anything else the graphics viewport.
void graphicsClearScreen(int32_t mode);
// Slot 5: 1-based row and column, below 1 unchanged; visibility is ignored. Returns
// the new position as (row - 1) * 256 + (column - 1) + 257, each part wrapped.
int32_t graphicsLocate(int32_t row, int32_t column, int32_t visibility);
// Slot 6: switches among the 8-wide fonts; returns the previous columns + rows * 65536.
int32_t graphicsWidth(int32_t columns, int32_t rows);
// Slots 7-10: cursor (1-based) and text size.
int32_t graphicsGetColumn();
int32_t graphicsGetRow();
void graphicsGetPosition(int32_t* column, int32_t* row);
void graphicsGetSize(int32_t* columns, int32_t* rows);
// Slot 11: prints bytes at the cursor; flags 0x08 with length 0 only carries out
// the pending scroll of text that ended in the bottom-right cell.
void graphicsPrintBuffer(const uint8_t* text, int32_t length, int32_t flags);
// Slot 12: units below 256 are bytes, others "?" (a surrogate pair gives one).
void graphicsPrintBufferWide(const uint16_t* text, int32_t length, int32_t flags);
// Slot 22: character (flag 0) or colours of a 1-based cell of the active page; 0
// outside the grid or without a screen.
int32_t graphicsReadScreenCell(int32_t column, int32_t row, int32_t flag);

// The printer's write and scroll operations; the printer's data is a TextPrintData.
struct TextPrintData {
  DrawContext* context;
  int32_t dirty_start, dirty_end;  // framebuffer rows [start, end)
};
bool drawTextRun(TextWindowPrinter* printer, const uint8_t* bytes, int32_t length);
void scrollTextWindow(TextWindowPrinter* printer, int32_t rows);

// Fills cells x1 <= x < x2, y1 <= y < y2 of a page (clipped to the grid).
void fillTextCells(int32_t page, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t code,
                   uint32_t foreground, uint32_t background);
// Re-creates the text-cell arrays for the current grid, the active page in blanks.
bool resetTextCells();

}  // namespace zv
