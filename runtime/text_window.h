// The text-window printer: walks printed bytes, interprets bell, backspace, tab,
// line feed and carriage return, gathers printable bytes into runs, wraps at the
// right border and scrolls below the bottom. The console backend and the graphics
// screen both print through it with their own write and scroll operations.
#pragma once

#include <cstdint>

namespace zv {

struct TextWindowPrinter {
  void* data;  // the print call's private data
  // Draws a run at the cursor (x, y); the run never passes the right border.
  // False stops the print.
  bool (*write)(TextWindowPrinter* printer, const uint8_t* bytes, int32_t length);
  // Scrolls the window's rows up by the count; the engine then puts the cursor
  // row on the bottom.
  void (*scroll)(TextWindowPrinter* printer, int32_t rows);
  // Sounds the bell (byte 7); null uses the platform beep.
  void (*bell)(TextWindowPrinter* printer);
  int32_t left, top, right, bottom;  // window border, inclusive cells; bottom -1: never scroll
  int32_t x, y;                      // cursor
  bool line_feed_returns;            // line feed also goes back to the left border
};

constexpr int32_t TEXT_RUN_MAX = 1024;

void run_text_window_printer(TextWindowPrinter& printer, const uint8_t* bytes, int32_t length);

}  // namespace zv
