// Decodes the bytes a terminal sends for key presses into key codes: 1-255 for a
// code page 437 character, 256 * scan + 255 for an extended key. Pure and
// incremental: bytes go in one at a time, keys come out as soon as they are whole.
#pragma once

#include <cstdint>

namespace zv {

constexpr int32_t DECODED_KEYS_MAX = 2;  // keys one byte (or a time-out) can give

class KeyDecoder {
 public:
  // utf8: multibyte UTF-8 sequences are read as characters; otherwise every byte
  // from 0x80 up is taken as the code page 437 byte it is.
  KeyDecoder() = default;
  explicit KeyDecoder(bool utf8) : utf8_(utf8) {}

  // Feeds one byte; the keys it completes are stored in keys. Returns their count.
  int32_t feed(uint8_t byte, int32_t keys[DECODED_KEYS_MAX]);

  // No byte followed within the caller's time-out: a lone escape becomes 27, an
  // unfinished sequence is dropped. Returns the count of keys stored.
  int32_t time_out(int32_t keys[DECODED_KEYS_MAX]);

  // True while the bytes so far are an unfinished sequence.
  bool pending() const { return state_ != State::ground; }

  void reset();
  void set_utf8(bool utf8) { utf8_ = utf8; }

 private:
  enum class State : uint8_t { ground, escape, csi, ss3, csi_bracket, skip, utf8 };
  static constexpr int32_t PARAMS_MAX = 4;
  static constexpr int32_t SEQUENCE_MAX = 32;

  int32_t ground(uint8_t byte, int32_t* keys);
  int32_t finish(uint8_t final_byte, int32_t* keys);
  void start_sequence(State state);

  bool utf8_ = true;
  State state_ = State::ground;
  bool after_cr_ = false;      // a line feed right after a carriage return is the same Enter
  int32_t params_[PARAMS_MAX] = {};
  int32_t param_count_ = 0;
  bool odd_ = false;           // private markers or intermediates: not a key we know
  int32_t sequence_length_ = 0;
  char32_t code_point_ = 0;
  int32_t continuation_ = 0;   // UTF-8 continuation bytes still expected
  char32_t minimum_ = 0;       // smallest code point the sequence length allows
};

}  // namespace zv
