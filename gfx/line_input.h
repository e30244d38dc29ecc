// Line reading on the graphics screen: the input statement's line-input hooks, which
// run the runtime's line editor with its cursor bar, and the plain line reader with
// a block cursor.
#pragma once

#include <cstdint>

#include "runtime/strings.h"

namespace zv {

// Slot 20: carries out a pending scroll, prints the prompt (and "? "), edits one
// line, prints the line end when asked and stores the line. 0, or 4 when no line
// could be read.
int32_t graphicsLineInput(StringDesc* prompt, StringDesc* destination, int32_t destination_length,
                          int32_t fill, int32_t question, int32_t line_end);
// Slot 21: the same with 16-bit strings.
int32_t graphicsLineInputWide(StringDesc* prompt, StringDesc* destination,
                              int32_t destination_length, int32_t fill, int32_t question,
                              int32_t line_end);

// Slot 13: reads keys into the buffer of length bytes until Enter, echoing them with
// a block cursor (character 219) behind the text; Backspace takes one back, extended
// keys and the bell are ignored. Enter is stored in front of the terminating zero
// when there is room. Returns the buffer, or null without a screen.
char* graphicsReadString(char* buffer, int32_t length);

}  // namespace zv
