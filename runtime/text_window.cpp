// The text-window printer engine shared by the console backend and the graphics
// screen: control bytes become cursor moves, printable bytes are gathered into runs
// that are drawn in pieces fitting the rest of the cursor row.
#include "runtime/text_window.h"

#include "platform/platform.h"

namespace zv {

namespace {

struct Engine {
  TextWindowPrinter& p;
  int32_t width;
  uint8_t run[TEXT_RUN_MAX];
  int32_t run_length = 0;
  int32_t tracked;  // the column the cursor will have once the run is drawn
  bool stopped = false;

  void scroll_if_below() {
    if (p.bottom != -1 && p.y > p.bottom) {
      p.scroll(&p, p.y - p.bottom);
      p.y = p.bottom;
    }
  }

  // Draws the pending run in pieces that each fit the rest of the cursor row.
  void write_out() {
    int32_t done = 0;
    while (done < run_length && !stopped) {
      // A cursor put outside the border by the caller starts at the left border;
      // past the right border it wraps first.
      if (p.x < p.left) p.x = p.left;
      if (p.x > p.right) {
        p.x = p.left;
        ++p.y;
      }
      scroll_if_below();
      int32_t piece = run_length - done;
      if (piece > p.right - p.x + 1) piece = p.right - p.x + 1;
      if (!p.write(&p, run + done, piece)) {
        stopped = true;
        break;
      }
      done += piece;
      p.x += piece;
      if (p.x == p.right + 1) {
        // Wrap at once; the scroll waits until something more is written.
        p.x = p.left;
        ++p.y;
      }
    }
    run_length = 0;
  }

  void add(uint8_t byte, int32_t count) {
    if (run_length + count > TEXT_RUN_MAX) write_out();
    for (int32_t i = 0; i < count; ++i) run[run_length++] = byte;
    tracked += count;
    if (tracked > p.right) tracked = p.left + (tracked - p.left) % width;
  }
};

}  // namespace

void run_text_window_printer(TextWindowPrinter& printer, const uint8_t* bytes, int32_t length) {
  if (printer.right < printer.left) return;  // no cell to draw into
  Engine e{printer, printer.right - printer.left + 1, {}, 0, printer.x};
  bool last_was_move = false;
  for (int32_t i = 0; i < length && !e.stopped; ++i) {
    uint8_t b = bytes[i];
    switch (b) {
      case 7:
        if (printer.bell)
          printer.bell(&printer);
        else
          beep(1000, 250);
        continue;
      case 8:
        e.write_out();
        if (e.tracked > printer.left) {
          --e.tracked;
          printer.x = e.tracked;
        }
        last_was_move = true;
        continue;
      case 9: {
        int32_t c = e.tracked - printer.left;
        e.add(' ', ((c + 8) & ~7) - c);
        last_was_move = false;
        continue;
      }
      case 10:
        e.write_out();
        ++printer.y;
        if (printer.line_feed_returns) printer.x = e.tracked = printer.left;
        last_was_move = true;
        continue;
      case 13:
        e.write_out();
        printer.x = e.tracked = printer.left;
        last_was_move = true;
        continue;
      default:
        e.add(b, 1);
        last_was_move = false;
        continue;
    }
  }
  if (e.stopped) return;
  if (e.run_length > 0)
    e.write_out();
  else if (last_was_move)
    e.scroll_if_below();
}

}  // namespace zv
