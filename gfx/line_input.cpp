// The graphics screen's line readers.
#include "gfx/line_input.h"

#include "gfx/key_queue.h"
#include "gfx/screen_state.h"
#include "gfx/text_render.h"
#include "runtime/hooks.h"
#include "runtime/input.h"

namespace zv {

namespace {

constexpr uint8_t BLOCK = 219;
constexpr uint8_t BLANK = ' ';

void put(uint8_t byte) { graphicsPrintBuffer(&byte, 1, 0); }

// Moves the cursor one cell back, from column 0 to the end of the row above. A cell
// just printed into the bottom-right corner leaves the cursor on that cell with the
// scroll pending; stepping back then only cancels the scroll. False when the cursor
// would leave row 0.
bool stepBack(ScreenState* s) {
  if (s->state_flags & SCREEN_DEFERRED_SCROLL) {
    setStateFlags(s, SCREEN_DEFERRED_SCROLL, false);
    return true;
  }
  if (s->cursor_column > 0) {
    --s->cursor_column;
    return true;
  }
  if (s->cursor_row > 0) {
    --s->cursor_row;
    s->cursor_column = s->text_columns - 1;
    return true;
  }
  return false;
}

// Prints the byte and steps back onto it.
void putAndStay(ScreenState* s, uint8_t byte) {
  put(byte);
  stepBack(s);
}

}  // namespace

int32_t graphicsLineInput(StringDesc* prompt, StringDesc* destination, int32_t destination_length,
                          int32_t fill, int32_t question, int32_t line_end) {
  return line_input_sequence(prompt, destination, destination_length, fill, question, line_end, 1);
}

int32_t graphicsLineInputWide(StringDesc* prompt, StringDesc* destination,
                              int32_t destination_length, int32_t fill, int32_t question,
                              int32_t line_end) {
  return wide_line_input(graphicsLineInput, prompt, destination, destination_length, fill,
                         question, line_end);
}

char* graphicsReadString(char* buffer, int32_t length) {
  ScreenState* s = currentScreen();
  if (!s) return nullptr;
  if (!buffer || length <= 0) return buffer;
  int32_t stored = 0;
  putAndStay(s, BLOCK);
  for (;;) {
    const int32_t k = call_hook<&ConsoleHooks::get_key>();
    s = currentScreen();
    if (k == 0 || !s) {
      // The screen went away while waiting (the screen's get key answers 0 only then).
      buffer[stored] = '\0';
      return nullptr;
    }
    if (k > 255 || k == 7) continue;
    if (k == 8) {
      if (stored == 0) continue;
      --stored;
      if (stepBack(s)) {
        put(BLOCK);
        putAndStay(s, BLANK);
        stepBack(s);
      } else {
        s->cursor_column = s->cursor_row = 0;
        putAndStay(s, BLOCK);
      }
      continue;
    }
    // Enter takes the block away even when the buffer is full, so that no block is
    // left standing behind the line.
    if (k == 13) putAndStay(s, BLANK);
    if (stored < length - 1) {
      buffer[stored++] = static_cast<char>(k);
      put(static_cast<uint8_t>(k));
    }
    if (k == 13) break;
    putAndStay(s, BLOCK);
  }
  buffer[stored] = '\0';
  return buffer;
}

}  // namespace zv
