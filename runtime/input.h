// The input statement: prompt sequence, line editor, field tokenizer and the
// conversion of fields into numbers.
#pragma once

#include <cstdint>
#include <cstdio>

#include "runtime/channel.h"
#include "runtime/strings.h"

namespace zv {

constexpr int32_t FIELD_MAX = 67;

// The longest line the editor keeps; keys that would make it longer are refused
// with the beep.
constexpr int32_t LINE_EDITOR_MAX = 32767;

// Extended key codes the editor acts on (scan code * 256 + 255).
constexpr int32_t EDITOR_KEY_HOME = 71 * 256 + 255, EDITOR_KEY_UP = 72 * 256 + 255,
                  EDITOR_KEY_LEFT = 75 * 256 + 255, EDITOR_KEY_RIGHT = 77 * 256 + 255,
                  EDITOR_KEY_END = 79 * 256 + 255, EDITOR_KEY_DOWN = 80 * 256 + 255,
                  EDITOR_KEY_DELETE = 83 * 256 + 255;
// The window's close request as a key: the editor ends and leaves its line empty.
constexpr int32_t EDITOR_KEY_CLOSE = 107 * 256 + 255;

// The input context (context area 2).
struct InputContext {
  ChannelRecord* source;  // none when fields come from the typed line
  StringDesc line;
  int32_t position;
};

InputContext* input_context();

// Starts an input statement (prompt released). Returns the error number.
int32_t input_prompt(StringDesc* prompt, int32_t question, int32_t line_end);

// The prompt sequence behind the line-input hook, shared by the console and the
// graphics screen (graphics 1 draws the editor's cursor mark).
int32_t line_input_sequence(StringDesc* prompt, StringDesc* dest, int32_t dest_length, int32_t fill,
                            int32_t question, int32_t line_end, int32_t graphics);

// The wide form of a line-input hook, through its narrow form: the prompt's 16-bit
// units are printed as bytes (units above 255 as "?", a surrogate pair as one), and
// the line read is stored as 16-bit units. Wide strings count units in their length.
using LineInputFunction = int32_t (*)(StringDesc* prompt, StringDesc* dest, int32_t dest_length,
                                      int32_t fill, int32_t question, int32_t line_end);
int32_t wide_line_input(LineInputFunction narrow, StringDesc* prompt, StringDesc* dest,
                        int32_t dest_length, int32_t fill, int32_t question, int32_t line_end);

// Reads the next field and stores its value; both return 0.
int32_t input_double(double* value);
int32_t input_single(float* value);

int32_t read_field(char* buffer, int32_t max_length, int32_t string_flag, int32_t* float_flag);
int32_t next_input_char();
int32_t put_back_char(int32_t c);

// Edits the line in place with keys from the hooks until Enter; returns it, or null
// when the edited line cannot be stored (out of memory).
StringDesc* line_editor(StringDesc* line, int32_t graphics);

// The stream that the screen channel reads when input is redirected; null (the
// default) is the C standard input. Returns the previous setting.
std::FILE* set_redirected_stream(std::FILE* stream);

// The tone of the line editor (Delete at the end of the line, a full line);
// zv::beep unless replaced, null restores it. Returns the previous function.
using BeepFunction = void (*)(int32_t frequency_hz, int32_t duration_ms);
BeepFunction set_line_editor_beep(BeepFunction function);

// The integer conversions of number fields ("&H", "&B", "&O", "&" radix prefixes,
// otherwise decimal), wrapping without overflow checks.
int32_t field_to_int32(const char* text);
int64_t field_to_int64(const char* text);
// The conversion rule of input_double for a tokenized field.
double field_to_double(const char* field, int32_t length, int32_t float_flag);

}  // namespace zv
