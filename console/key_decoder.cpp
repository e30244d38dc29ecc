// The terminal key decoder: plain bytes, escape sequences (CSI and SS3 with their
// modifier parameters, the console's ESC [ [ A-E), Alt as an escape prefix and
// UTF-8 characters, turned into the key codes of the PC keyboard.
#include "console/key_decoder.h"

#include "console/cp437.h"

namespace zv {

namespace {

// Extended codes of a key without modifier, with Shift, with Ctrl and with Alt.
struct KeyRow {
  uint8_t plain, shift, ctrl, alt;
};

enum Key : int {
  HOME, UP, PAGE_UP, LEFT, CENTRE, RIGHT, END, DOWN, PAGE_DOWN, INSERT, DELETE,
  F1, F2, F3, F4, F5, F6, F7, F8, F9, F10, F11, F12, KEY_COUNT
};

constexpr KeyRow key_rows[KEY_COUNT] = {
    {71, 71, 0x77, 0x97},  {72, 72, 0x8D, 0x98},  {73, 73, 0x84, 0x99},  {75, 75, 0x73, 0x9B},
    {76, 76, 0x8F, 0x4C},  {77, 77, 0x74, 0x9D},  {79, 79, 0x75, 0x9F},  {80, 80, 0x91, 0xA0},
    {81, 81, 0x76, 0xA1},  {82, 82, 0x92, 0xA2},  {83, 83, 0x93, 0xA3},  {59, 84, 94, 104},
    {60, 85, 95, 105},     {61, 86, 96, 106},     {62, 87, 97, 107},     {63, 88, 98, 108},
    {64, 89, 99, 109},     {65, 90, 100, 110},    {66, 91, 101, 111},    {67, 92, 102, 112},
    {68, 93, 103, 113},    {133, 135, 137, 139},  {134, 136, 138, 140},
};

constexpr int32_t extended(int32_t scan) { return scan * 256 + 255; }

// The key code of a key under the terminal's modifier parameter (1 + the sum of
// 1 Shift, 2 Alt, 4 Ctrl, 8 Meta). Alt wins over Ctrl, Ctrl over Shift.
int32_t key_code(int key, int32_t modifier) {
  const KeyRow& row = key_rows[key];
  int32_t bits = modifier > 1 ? modifier - 1 : 0;
  uint8_t code = row.plain;
  if (bits & (2 | 8))
    code = row.alt;
  else if (bits & 4)
    code = row.ctrl;
  else if (bits & 1)
    code = row.shift;
  return extended(code ? code : row.plain);
}

// The key of a letter that ends a CSI or SS3 sequence, or -1.
int letter_key(uint8_t final_byte) {
  switch (final_byte) {
    case 'A': return UP;
    case 'B': return DOWN;
    case 'C': return RIGHT;
    case 'D': return LEFT;
    case 'E': return CENTRE;
    case 'F': return END;
    case 'H': return HOME;
    case 'P': return F1;
    case 'Q': return F2;
    case 'R': return F3;
    case 'S': return F4;
    default: return -1;
  }
}

// The key of the number in ESC [ n ~, or -1.
int tilde_key(int32_t number) {
  switch (number) {
    case 1: case 7: return HOME;
    case 2: return INSERT;
    case 3: return DELETE;
    case 4: case 8: return END;
    case 5: return PAGE_UP;
    case 6: return PAGE_DOWN;
    case 11: case 12: case 13: case 14: case 15: return F1 + (number - 11);
    case 17: case 18: case 19: case 20: case 21: return F6 + (number - 17);
    case 23: return F11;
    case 24: return F12;
    default: return -1;
  }
}

// Alt with a key that the PC keyboard gives an extended code (the terminal sends
// Alt as an escape before the key's byte); 0 when it has none.
int32_t alt_code(uint8_t byte) {
  static constexpr char letters[] = "qwertyuiop\0\0\0\0asdfghjkl\0\0\0\0\0zxcvbnm";
  if (byte >= 'A' && byte <= 'Z') byte = static_cast<uint8_t>(byte - 'A' + 'a');
  if (byte >= 'a' && byte <= 'z')
    for (int i = 0; i < static_cast<int>(sizeof letters) - 1; ++i)
      if (letters[i] == static_cast<char>(byte)) return extended(16 + i);
  if (byte >= '1' && byte <= '6') return extended(0x78 + (byte - '1'));
  switch (byte) {
    case '7': case '-': return extended(0x82);
    case '8': case '=': return extended(0x83);
    case '9': return extended(0x80);
    case '0': return extended(0x81);
    case 0x7F: case 8: return extended(0xE0);
    case 9: return extended(0x0F);
    case '[': return extended(0x1A);
    case ']': return extended(0x1B);
    case 13: return extended(0x1C);
    case ';': return extended(0x27);
    case '\'': return extended(0x28);
    case '`': return extended(0x29);
    case ',': return extended(0x33);
    case '.': return extended(0x34);
    case '/': return extended(0x35);
    default: return 0;
  }
}

}  // namespace

void KeyDecoder::reset() {
  state_ = State::ground;
  after_cr_ = false;
  param_count_ = 0;
  odd_ = false;
  sequence_length_ = 0;
  continuation_ = 0;
}

void KeyDecoder::start_sequence(State state) {
  state_ = state;
  for (int32_t& p : params_) p = 0;
  param_count_ = 0;
  odd_ = false;
  sequence_length_ = 0;
}

int32_t KeyDecoder::ground(uint8_t byte, int32_t* keys) {
  bool after_cr = after_cr_;
  after_cr_ = false;
  if (byte == 0x1B) {
    start_sequence(State::escape);
    return 0;
  }
  if (byte == 13) {
    after_cr_ = true;
    keys[0] = 13;
    return 1;
  }
  if (byte == 10) {
    if (after_cr) return 0;
    keys[0] = 13;
    return 1;
  }
  if (byte == 0x7F) {
    keys[0] = 8;  // terminals send DEL for the Backspace key
    return 1;
  }
  if (byte == 0) return 0;  // code 0 reads as no key
  if (byte < 0x80 || !utf8_) {
    keys[0] = byte;
    return 1;
  }
  if (byte >= 0xC2 && byte <= 0xDF) {
    continuation_ = 1;
    code_point_ = byte & 0x1F;
    minimum_ = 0x80;
  } else if (byte >= 0xE0 && byte <= 0xEF) {
    continuation_ = 2;
    code_point_ = byte & 0x0F;
    minimum_ = 0x800;
  } else if (byte >= 0xF0 && byte <= 0xF4) {
    continuation_ = 3;
    code_point_ = byte & 0x07;
    minimum_ = 0x10000;
  } else {
    return 0;  // a stray continuation byte or a byte UTF-8 never uses
  }
  state_ = State::utf8;
  return 0;
}

int32_t KeyDecoder::finish(uint8_t final_byte, int32_t* keys) {
  State state = state_;
  state_ = State::ground;
  if (odd_) return 0;
  if (state == State::csi_bracket) {
    if (final_byte < 'A' || final_byte > 'E') return 0;
    keys[0] = key_code(F1 + (final_byte - 'A'), 1);
    return 1;
  }
  int32_t modifier = param_count_ >= 2 ? params_[1] : (param_count_ == 1 ? params_[0] : 1);
  if (final_byte == '~') {
    if (state != State::csi) return 0;
    int key = tilde_key(param_count_ >= 1 ? params_[0] : 0);
    if (key < 0) return 0;
    keys[0] = key_code(key, param_count_ >= 2 ? params_[1] : 1);
    return 1;
  }
  int key = letter_key(final_byte);
  if (key >= 0) {
    keys[0] = key_code(key, modifier);
    return 1;
  }
  if (state == State::csi && final_byte == 'Z') {
    keys[0] = extended(0x0F);  // Shift+Tab
    return 1;
  }
  if (state == State::ss3) {
    // The keypad in application mode.
    static constexpr char keypad[] = "*+,-./0123456789";
    if (final_byte == 'M') {
      keys[0] = 13;
      return 1;
    }
    if (final_byte == 'X') {
      keys[0] = '=';
      return 1;
    }
    if (final_byte >= 'j' && final_byte <= 'y') {
      keys[0] = static_cast<uint8_t>(keypad[final_byte - 'j']);
      return 1;
    }
  }
  return 0;
}

int32_t KeyDecoder::feed(uint8_t byte, int32_t keys[DECODED_KEYS_MAX]) {
  switch (state_) {
    case State::ground:
      return ground(byte, keys);

    case State::escape:
      if (byte == '[') {
        start_sequence(State::csi);
        return 0;
      }
      if (byte == 'O') {
        start_sequence(State::ss3);
        return 0;
      }
      if (byte == 0x1B) {
        // Escape pressed twice: the first is a key of its own.
        keys[0] = 27;
        start_sequence(State::escape);
        return 1;
      }
      state_ = State::ground;
      after_cr_ = false;
      if (int32_t code = alt_code(byte)) {
        keys[0] = code;
        return 1;
      }
      return ground(byte, keys);  // Alt with a key that has no code of its own

    case State::csi:
    case State::ss3:
    case State::csi_bracket:
    case State::skip:
      if (state_ == State::csi && sequence_length_ == 0 && byte == '[') {
        state_ = State::csi_bracket;
        ++sequence_length_;
        return 0;
      }
      if (byte >= 0x40 && byte <= 0x7E) {
        if (state_ == State::skip) {
          state_ = State::ground;
          return 0;
        }
        return finish(byte, keys);
      }
      if (byte >= 0x20 && byte <= 0x3F) {
        // Parameter and intermediate bytes; an overlong sequence is skipped to its end.
        if (state_ == State::skip) return 0;
        if (++sequence_length_ > SEQUENCE_MAX) {
          state_ = State::skip;
          return 0;
        }
        if (state_ == State::csi_bracket) {
          odd_ = true;
        } else if (byte >= '0' && byte <= '9') {
          if (param_count_ == 0) param_count_ = 1;
          int32_t& p = params_[param_count_ - 1];
          p = p * 10 + (byte - '0');
          if (p > 9999) p = 9999;
        } else if (byte == ';') {
          if (param_count_ == 0) param_count_ = 1;
          if (param_count_ < PARAMS_MAX)
            ++param_count_;
          else
            odd_ = true;
        } else {
          odd_ = true;
        }
        return 0;
      }
      // Any other byte breaks the sequence off and is read on its own.
      state_ = State::ground;
      return ground(byte, keys);

    case State::utf8:
      if ((byte & 0xC0) != 0x80) {
        state_ = State::ground;
        return ground(byte, keys);
      }
      code_point_ = (code_point_ << 6) | (byte & 0x3F);
      if (--continuation_ > 0) return 0;
      state_ = State::ground;
      if (code_point_ < minimum_ || code_point_ > 0x10FFFF ||
          (code_point_ >= 0xD800 && code_point_ <= 0xDFFF))
        return 0;
      if (int32_t b = unicode_to_cp437(code_point_); b > 0) {
        keys[0] = b;
        return 1;
      }
      return 0;  // a character code page 437 does not have
  }
  return 0;
}

int32_t KeyDecoder::time_out(int32_t keys[DECODED_KEYS_MAX]) {
  State state = state_;
  state_ = State::ground;
  if (state == State::escape) {
    keys[0] = 27;
    return 1;
  }
  return 0;
}

}  // namespace zv
