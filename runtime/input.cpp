// The input statement: the prompt sequence, the screen channel's read operation,
// the line editor that both the text console and the graphics screen run, the
// field tokenizer and the conversion of fields into numbers.
#include "runtime/input.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>


#include "platform/platform.h"
#include "runtime/file_channel.h"
#include "runtime/hooks.h"
#include "runtime/print.h"
#include "runtime/runtime.h"
#include "runtime/statements.h"

namespace zv {

namespace {

constexpr int32_t KEY_WAIT_MS = 25;
constexpr int32_t CURSOR_VISIBLE_BIT = 0x10000;
constexpr uint8_t CURSOR_MARK = 255;
constexpr int32_t SIZE_MAX_CELLS = 4096;  // per side

std::FILE* redirected_stream = nullptr;  // null reads stdin
BeepFunction editor_beep = beep;

void release_if_temp(StringDesc* s) {
  if (s && is_temp(s)) release_temp(s);
}

// Waits for a key and returns its code: a one-byte string gives the byte, byte 255
// and a scan code give scan * 256 + 255. The temporary from inkey is released. A
// close request, whether it came as a key or was noted beside the keys, is answered
// before any key still waiting.
int32_t wait_for_key() {
  for (;;) {
    if (close_requested()) return EDITOR_KEY_CLOSE;
    while (!call_hook<&ConsoleHooks::key_hit>(0)) {
      if (close_requested()) return EDITOR_KEY_CLOSE;
      wait_for_key_hit(KEY_WAIT_MS);
    }
    StringDesc* key = call_hook<&ConsoleHooks::inkey>();
    int32_t length = string_length(key);
    int32_t code = -1;
    if (length > 0 && key->data) {
      auto first = static_cast<uint8_t>(key->data[0]);
      if (length >= 2 && first == 255) {
        int32_t scan = static_cast<uint8_t>(key->data[1]);
        code = scan ? scan * 256 + 255 : 0;  // no extended key has scan code 0
      } else {
        code = first;
      }
    }
    release_temp(key);
    if (code == EDITOR_KEY_CLOSE) note_close_request();
    if (code >= 0) return code;
  }
}

// Screen read operation with redirected input: bytes from the C standard input.
// The buffer is padded with zero bytes after a short read, but the count tells
// how many were read, so that the end of the input is seen as such.
int32_t read_redirected(ChannelRecord*, void* buffer, size_t* count) {
  std::FILE* in = redirected_stream ? redirected_stream : stdin;
  size_t wanted = *count;
  size_t got = wanted ? std::fread(buffer, 1, wanted, in) : 0;
  if (got < wanted) std::memset(static_cast<uint8_t*>(buffer) + got, 0, wanted - got);
  *count = got;
  return got < wanted && std::ferror(in) ? ERR_IO : ERR_NONE;
}

// Screen read operation from the keyboard: the line-input buffer is refilled with
// the bytes of one keypress at a time.
int32_t read_typed(ChannelRecord* ch, void* buffer, size_t* count) {
  auto* line = ch ? static_cast<LineInputBuffer*>(ch->handle) : nullptr;
  if (!line) {
    *count = 0;
    return ERR_ILLEGAL_CALL;
  }
  auto* out = static_cast<uint8_t*>(buffer);
  for (size_t i = 0; i < *count; ++i) {
    while (line->position < 0 || line->position >= line->length) {
      while (!call_hook<&ConsoleHooks::key_hit>(0)) wait_for_key_hit(KEY_WAIT_MS);
      StringDesc* key = call_hook<&ConsoleHooks::inkey>();
      int32_t n = string_length(key);
      if (n > static_cast<int32_t>(sizeof line->bytes)) n = sizeof line->bytes;
      if (n > 0 && key->data) std::memcpy(line->bytes, key->data, static_cast<size_t>(n));
      else n = 0;
      release_temp(key);
      line->length = n;
      line->position = 0;
    }
    out[i] = line->bytes[line->position++];
  }
  return ERR_NONE;
}

// The editor's view of the screen: positions are linear cell numbers row * W +
// column (from 0). The line's first character sits at `start`, which drops by W
// whenever the screen scrolls under the line (and may become negative when the
// line is longer than the screen).
class LineEditor {
 public:
  LineEditor(std::string& text, bool graphics) : text_(text), graphics_(graphics) {
    int32_t columns = 0, rows = 0;
    call_hook<&ConsoleHooks::get_size>(&columns, &rows);
    // Sizes outside what a text screen can be are not trusted (cell numbers must
    // fit comfortably in 32 bits).
    width_ = columns > 0 && columns <= SIZE_MAX_CELLS ? columns : 80;
    height_ = rows > 0 && rows <= SIZE_MAX_CELLS ? rows : 25;
  }

  void run() {
    int32_t state = locate(0, 0, -1);
    bool was_visible = (state & CURSOR_VISIBLE_BIT) != 0;
    locate(0, 0, 0);
    // A wrap left pending by the prompt is carried out now, so that the cursor
    // reads where the first character goes.
    call_hook<&ConsoleHooks::print_buffer>(nullptr, 0, 8);
    start_ = read_cursor();
    cursor_ = static_cast<int32_t>(text_.size());
    if (!text_.empty()) print_at(0, text_.data(), cursor_);
    locate(0, 0, editing_visibility());
    for (;;) {
      if (graphics_) {
        const char mark = static_cast<char>(CURSOR_MARK);
        print_at(cursor_, &mark, 1);
        move_to(cursor_);
      }
      int32_t key = wait_for_key();
      if (graphics_) {
        const char under = cursor_ < size() ? text_[static_cast<size_t>(cursor_)] : ' ';
        print_at(cursor_, &under, 1);
        move_to(cursor_);
      }
      if (key == 13 || key == 10) break;
      if (key == EDITOR_KEY_CLOSE) {
        text_.clear();
        break;
      }
      act(key);
      locate(0, 0, editing_visibility());
    }
    move_to(size());
    locate(0, 0, was_visible ? 1 : 0);
  }

 private:
  int32_t size() const { return static_cast<int32_t>(text_.size()); }
  int32_t cells() const { return width_ * height_; }
  int32_t editing_visibility() const { return graphics_ ? 0 : 1; }

  int32_t read_cursor() const {
    int32_t column = 1, row = 1;
    call_hook<&ConsoleHooks::get_position>(&column, &row);
    if (column < 1) column = 1;
    if (column > width_) column = width_;
    if (row < 1) row = 1;
    if (row > height_) row = height_;
    return (row - 1) * width_ + (column - 1);
  }

  // Prints bytes with the cursor at line index `from`, then learns from where the
  // cursor ended whether the screen scrolled. A print that ends exactly at the end
  // of the bottom row may leave the wrap pending, the cursor still reading on the
  // last cell; that is the position after it.
  void print_at(int32_t from, const char* bytes, int32_t count) {
    if (count <= 0) return;
    call_hook<&ConsoleHooks::print_buffer>(reinterpret_cast<const uint8_t*>(bytes), count, 0);
    int64_t expected = static_cast<int64_t>(start_) + from + count;
    int64_t actual = read_cursor();
    int64_t column = ((expected % width_) + width_) % width_;
    if (actual == cells() - 1 && column == 0 && expected > 0) actual = cells();
    int64_t moved = static_cast<int64_t>(start_) + (actual - expected);
    if (moved < INT32_MIN / 2) moved = INT32_MIN / 2;
    start_ = static_cast<int32_t>(moved);
  }

  // Puts the cursor on line index i. A position past the bottom row goes to the
  // last cell and prints a line end there, so that the screen scrolls the line up.
  void move_to(int32_t index) {
    int64_t target = static_cast<int64_t>(start_) + index;
    if (target < 0) target = 0;
    if (target >= cells()) {
      int64_t rows = target / width_ - (height_ - 1);
      if (rows > height_) rows = height_;
      locate(height_, width_, -1);
      static const uint8_t line_end[] = {'\r', '\n'};
      for (int64_t i = 0; i < rows; ++i) call_hook<&ConsoleHooks::print_buffer>(line_end, 2, 0);
      screen_record()->column = 0;
      start_ -= static_cast<int32_t>(rows) * width_;
      target = static_cast<int64_t>(start_) + index;
      if (target < 0) target = 0;
      if (target >= cells()) target = cells() - 1;
      if (target % width_ != 0) locate_cell(target);
      return;
    }
    locate_cell(target);
  }

  void locate_cell(int64_t cell) const {
    locate(static_cast<int32_t>(cell / width_) + 1, static_cast<int32_t>(cell % width_) + 1, -1);
  }

  // Shows the line from index i to its end followed by `blanks` blanks, then puts
  // the cursor back on the editing position.
  void redraw_from(int32_t index, int32_t blanks) {
    std::string tail = text_.substr(static_cast<size_t>(index));
    tail.append(static_cast<size_t>(blanks), ' ');
    print_at(index, tail.data(), static_cast<int32_t>(tail.size()));
    move_to(cursor_);
  }

  void insert(char c, int32_t count) {
    int32_t room = LINE_EDITOR_MAX - size();
    if (count > room) count = room;
    if (count <= 0) {
      editor_beep(1000, 250);
      return;
    }
    text_.insert(static_cast<size_t>(cursor_), static_cast<size_t>(count), c);
    int32_t from = cursor_;
    cursor_ += count;
    redraw_from(from, 0);
  }

  void act(int32_t key) {
    switch (key) {
      case 8:
        if (cursor_ > 0) {
          --cursor_;
          text_.erase(static_cast<size_t>(cursor_), 1);
          move_to(cursor_);
          redraw_from(cursor_, 1);
        }
        return;
      case 9:
        insert(' ', ((cursor_ + 8) & ~7) - cursor_);
        return;
      case 27: {
        cursor_ = 0;
        move_to(0);
        int32_t length = size();
        if (length > 0) {
          text_.clear();
          std::string blanks(static_cast<size_t>(length), ' ');
          print_at(0, blanks.data(), length);
          move_to(0);
        }
        return;
      }
      case EDITOR_KEY_HOME: cursor_ = 0; break;
      case EDITOR_KEY_END: cursor_ = size(); break;
      case EDITOR_KEY_LEFT:
        if (cursor_ > 0) --cursor_;
        break;
      case EDITOR_KEY_RIGHT:
        if (cursor_ < size()) ++cursor_;
        break;
      case EDITOR_KEY_UP:
        if (cursor_ >= width_) cursor_ -= width_;
        break;
      case EDITOR_KEY_DOWN:
        if (cursor_ + width_ <= size()) cursor_ += width_;
        break;
      case EDITOR_KEY_DELETE:
        if (cursor_ >= size()) {
          editor_beep(1000, 250);
          return;
        }
        text_.erase(static_cast<size_t>(cursor_), 1);
        redraw_from(cursor_, 1);
        return;
      default:
        if (key >= 32 && key <= 255) insert(static_cast<char>(key), 1);
        return;
    }
    move_to(cursor_);
  }

  std::string& text_;
  bool graphics_;
  int32_t width_ = 80, height_ = 25;
  int32_t start_ = 0;   // screen cell of the line's first character
  int32_t cursor_ = 0;  // insertion point, 0 .. size()
};

bool is_blank(int32_t c) { return c == ' ' || c == '\t'; }

// The decimal conversion of the 32-bit path, as a 32-bit strtoul: optional sign,
// decimal digits, a negative value negated modulo 2^32, a magnitude beyond 32 bits
// saturated to all ones.
uint32_t decimal_u32(const char* p) {
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  uint64_t magnitude = 0;
  bool overflow = false;
  for (; *p >= '0' && *p <= '9'; ++p) {
    magnitude = magnitude * 10 + static_cast<uint64_t>(*p - '0');
    if (magnitude > 0xFFFFFFFFu) {
      overflow = true;
      magnitude = 0xFFFFFFFFu;
    }
  }
  if (overflow) return 0xFFFFFFFFu;
  auto value = static_cast<uint32_t>(magnitude);
  return negative ? 0u - value : value;
}

int32_t digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

// The "&" radix literals: true and the value (wrapping) when text is one.
bool radix_literal(const char* text, uint64_t* value) {
  if (text[0] != '&' || text[1] == '\0') return false;
  int32_t radix = 8;
  const char* p = text + 1;
  switch (text[1]) {
    case 'H': case 'h': radix = 16; ++p; break;
    case 'B': case 'b': radix = 2; ++p; break;
    case 'O': case 'o': radix = 8; ++p; break;
    default: break;
  }
  uint64_t v = 0;
  for (int32_t d; (d = digit_value(*p)) < radix; ++p) v = v * static_cast<uint64_t>(radix) + static_cast<uint64_t>(d);
  *value = v;
  return true;
}

const char* skip_blanks(const char* text) {
  while (*text == ' ') ++text;
  return text;
}

// Text to double and float as strtod reads it (leading blanks, a sign, decimal,
// "0x" hexadecimal, inf and nan forms, the longest valid prefix), with a '.' decimal
// point whatever the locale says. The digits are converted by std::from_chars, which
// rounds correctly on every host, so every platform reads the same values; only
// results beyond the type's range (infinity, or zero from underflow) come from strtod,
// whose answer there is the same everywhere.
template <typename T>
T text_to_number(const char* text, T (*fallback)(const char*, char**)) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  const char* end = p + std::strlen(p);
  T value{};
  std::from_chars_result result{p, std::errc::invalid_argument};
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))
    result = std::from_chars(p + 2, end, value, std::chars_format::hex);
  if (result.ec == std::errc::invalid_argument)
    result = std::from_chars(p, end, value, std::chars_format::general);
  if (result.ec == std::errc::result_out_of_range) return fallback(text, nullptr);
  if (result.ec != std::errc{}) return T{};
  return negative ? -value : value;
}

double text_to_double(const char* text) { return text_to_number<double>(text, std::strtod); }
float text_to_float(const char* text) { return text_to_number<float>(text, std::strtof); }

}  // namespace

InputContext* input_context() {
  return static_cast<InputContext*>(context_area(AREA_INPUT, sizeof(InputContext)));
}

std::FILE* set_redirected_stream(std::FILE* stream) {
  std::FILE* previous = redirected_stream;
  redirected_stream = stream;
  return previous;
}

BeepFunction set_line_editor_beep(BeepFunction function) {
  BeepFunction previous = editor_beep;
  editor_beep = function ? function : beep;
  return previous;
}

int32_t input_prompt(StringDesc* prompt, int32_t question, int32_t line_end) {
  // The files get what was printed into them before the program waits for a line.
  flush_file_channels();
  ChannelRecord* screen = screen_record();
  bool redirected = call_hook<&ConsoleHooks::is_redirected>(1) != 0;
  ChannelOps& ops = screen_ops();
  if (!ops.read || ops.read == read_redirected || ops.read == read_typed)
    ops.read = redirected ? read_redirected : read_typed;
  InputContext* ctx = input_context();
  if (redirected) {
    release_if_temp(prompt);
    if (!ctx) return set_error(ERR_NO_MEMORY);
    ctx->source = screen;
    free_string(&ctx->line);
    ctx->position = 0;
    return set_error(ERR_NONE);
  }
  if (!ctx) {
    release_if_temp(prompt);
    return set_error(ERR_NO_MEMORY);
  }
  free_string(&ctx->line);
  ctx->source = nullptr;
  ctx->position = 0;
  int32_t result = call_hook<&ConsoleHooks::line_input>(prompt, &ctx->line, -1, 0, question, line_end);
  return set_error(result);
}

int32_t line_input_sequence(StringDesc* prompt, StringDesc* dest, int32_t dest_length, int32_t fill,
                            int32_t question, int32_t line_end, int32_t graphics) {
  call_hook<&ConsoleHooks::print_buffer>(nullptr, 0, 8);
  if (prompt) {
    if (string_length(prompt) > 0 && prompt->data)
      print_string(CHANNEL_SCREEN, prompt, PRINT_NONE);
    else
      release_if_temp(prompt);
    if (question) print_text(CHANNEL_SCREEN, "? ", PRINT_NONE);
  }
  // The line needs a temporary; it is given back before editing so that the
  // editor's inkey calls can still have one when the pool is nearly used up.
  StringDesc* probe = temp_from_literal(nullptr, 0);
  bool have_line = is_temp(probe);
  release_temp(probe);
  StringDesc line{};
  bool edited = have_line && line_editor(&line, graphics) != nullptr;
  if (line_end) print_newline(CHANNEL_SCREEN, PRINT_NEWLINE);
  if (!edited) {
    free_string(&line);
    return set_error(ERR_NO_MEMORY);
  }
  bool stored = true;
  if (dest_length < 0) {
    stored = move_string(dest, &line);
  } else if (dest) {
    // A fixed-length destination takes at most its length, blank-filled on request.
    std::string fixed(line.data ? line.data : "", static_cast<size_t>(string_length(&line)));
    if (fixed.size() > static_cast<size_t>(dest_length)) fixed.resize(static_cast<size_t>(dest_length));
    if (fill && fixed.size() < static_cast<size_t>(dest_length)) fixed.resize(static_cast<size_t>(dest_length), ' ');
    stored = assign_string(dest, fixed.data(), static_cast<int32_t>(fixed.size()));
  }
  free_string(&line);
  return set_error(stored ? ERR_NONE : ERR_NO_MEMORY);
}

int32_t wide_line_input(LineInputFunction narrow, StringDesc* prompt, StringDesc* dest,
                        int32_t dest_length, int32_t fill, int32_t question, int32_t line_end) {
  StringDesc* narrow_prompt = nullptr;
  if (prompt) {
    std::string bytes;
    const auto* units = reinterpret_cast<const uint16_t*>(prompt->data);
    const int32_t n = string_length(prompt);
    for (int32_t i = 0; units && i < n; ++i) {
      const uint16_t u = units[i];
      bytes.push_back(u < 256 ? static_cast<char>(u) : '?');
      if (u >= 0xD800 && u <= 0xDBFF) ++i;
    }
    release_if_temp(prompt);
    narrow_prompt = temp_from_copy(bytes.data(), static_cast<int32_t>(bytes.size()));
  }
  StringDesc line{};
  const int32_t result = narrow(narrow_prompt, &line, dest_length, fill, question, line_end);
  if (result == ERR_NONE && dest) {
    const int32_t n = string_length(&line);
    std::vector<uint16_t> wide(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) wide[static_cast<size_t>(i)] = static_cast<uint8_t>(line.data[i]);
    if (assign_string(dest, reinterpret_cast<const char*>(wide.data()), n * 2) && n > 0)
      dest->length = static_cast<uint32_t>(n) | (dest->length & STRING_OWNED);
  }
  free_string(&line);
  return result;
}

StringDesc* line_editor(StringDesc* line, int32_t graphics) {
  if (!line) return nullptr;
  std::string text;
  if (line->data) text.assign(line->data, static_cast<size_t>(string_length(line)));
  if (static_cast<int32_t>(text.size()) > LINE_EDITOR_MAX) text.resize(LINE_EDITOR_MAX);
  LineEditor editor(text, graphics != 0);
  editor.run();
  if (!assign_string(line, text.data(), static_cast<int32_t>(text.size()))) return nullptr;
  return line;
}

int32_t next_input_char() {
  InputContext* ctx = input_context();
  if (!ctx) return -1;
  if (ctx->source && ctx->source->ops) {
    uint8_t byte = 0;
    size_t count = 1;
    if (read_bytes(ctx->source, &byte, &count) != ERR_NONE || count == 0) return -1;
    return byte;
  }
  if (!ctx->line.data || ctx->position < 0 || ctx->position >= string_length(&ctx->line)) return -1;
  return static_cast<uint8_t>(ctx->line.data[ctx->position++]);
}

int32_t put_back_char(int32_t c) {
  InputContext* ctx = input_context();
  if (!ctx || c < 0) return 0;  // the end of the input is not a character
  if (ChannelRecord* source = ctx->source) {
    if (source->putback_count < 0) source->putback_count = 0;
    if (source->putback_count >= static_cast<int32_t>(sizeof source->putback)) {
      set_error(ERR_IO);
      return 0;
    }
    source->putback[source->putback_count++] = static_cast<uint8_t>(c);
    return 1;
  }
  if (ctx->position > 0) {
    --ctx->position;
    return 1;
  }
  return 0;
}

int32_t read_field(char* buffer, int32_t max_length, int32_t string_flag, int32_t* float_flag) {
  if (float_flag) *float_flag = 0;
  int32_t count = 0;
  int32_t c = next_input_char();
  while (is_blank(c)) c = next_input_char();
  if (c != -1 && max_length > 0) {
    bool quote = false, radix = false;
    auto store = [&](int32_t byte) { buffer[count++] = static_cast<char>(byte); };
    while (c != -1 && count < max_length) {
      switch (c) {
        case ' ':
        case '\t':
          if (!quote && !string_flag) goto field_end;
          store(c);
          break;
        case '\n':
          buffer[count] = '\0';
          return count;
        case '\r': {
          int32_t next = next_input_char();
          if (next != '\n') put_back_char(next);
          buffer[count] = '\0';
          return count;
        }
        case '"':
          if (quote) {
            quote = false;
            if (string_flag) {
              c = next_input_char();
              goto field_end;
            }
          } else if (count == 0) {
            quote = true;
          } else {
            store(c);
          }
          break;
        case ',':
          if (!quote) {
            buffer[count] = '\0';
            return count;
          }
          store(c);
          break;
        case '&':
          store(c);
          radix = true;
          break;
        case '.':
        case 'E':
        case 'e':
          store(c);
          if (!radix && float_flag) *float_flag = 1;
          break;
        case 'D':
        case 'd':
          if (radix) {
            store(c);
          } else {
            store(string_flag ? c : (c == 'D' ? 'E' : 'e'));
            if (float_flag) *float_flag = 1;
          }
          break;
        default:
          store(c);
          break;
      }
      c = next_input_char();
    }
  }
field_end:
  if (max_length >= 0) buffer[count] = '\0';
  while (is_blank(c)) c = next_input_char();
  if (c == '\r') {
    int32_t next = next_input_char();
    if (next != '\n') put_back_char(next);
  } else if (c != '\n' && c != ',' && c != -1) {
    put_back_char(c);
  }
  return count;
}

int32_t field_to_int32(const char* text) {
  if (!text) return 0;
  text = skip_blanks(text);
  if (!*text) return 0;
  uint64_t value = 0;
  if (radix_literal(text, &value)) return static_cast<int32_t>(static_cast<uint32_t>(value));
  return static_cast<int32_t>(decimal_u32(text));
}

int64_t field_to_int64(const char* text) {
  if (!text) return 0;
  text = skip_blanks(text);
  if (!*text) return 0;
  uint64_t value = 0;
  if (radix_literal(text, &value)) return static_cast<int64_t>(value);
  return static_cast<int64_t>(std::strtoll(text, nullptr, 10));
}

double field_to_double(const char* field, int32_t length, int32_t float_flag) {
  if (!field) return 0;
  if (!float_flag) {
    if (length <= 9) return static_cast<double>(field_to_int32(field));
    if (length <= 18 || field[0] == '&') return static_cast<double>(field_to_int64(field));
  }
  return text_to_double(field);
}

int32_t input_double(double* value) {
  char field[FIELD_MAX + 1];
  int32_t float_flag = 0;
  int32_t length = read_field(field, FIELD_MAX, 0, &float_flag);
  if (value) *value = field_to_double(field, length, float_flag);
  return set_error(ERR_NONE);
}

int32_t input_single(float* value) {
  char field[FIELD_MAX + 1];
  int32_t float_flag = 0;
  int32_t length = read_field(field, FIELD_MAX, 0, &float_flag);
  if (value)
    *value = float_flag ? text_to_float(field) : static_cast<float>(field_to_double(field, length, 0));
  return set_error(ERR_NONE);
}

}  // namespace zv
