// LZW decoder and encoder of the built-in data block (format in lzw.h).
//
// The decoder keeps no string tables of its own: every dictionary string is a
// stretch of the output already written (a code's string followed by the first
// byte of the next code's string), so an entry is just its start and length in the
// output. Strings are copied out of the output itself and no chain has to be
// walked, so no work stack can overflow; the longest possible string is one byte
// per assigned code plus one, far below any 32-bit length.
#include "gfx/lzw.h"

#include <array>
#include <cstring>

namespace zv {

namespace {

constexpr uint32_t DICTIONARY_ENTRIES = LZW_LAST_CODE - LZW_FIRST_CODE + 1;

struct Entry {
  uint32_t start;   // offset of the string in the output
  uint32_t length;  // at least 2
};

}  // namespace

int32_t lzwDecode(const uint8_t* input, size_t input_size, uint8_t* output, size_t output_size,
                  size_t* produced) {
  std::array<Entry, DICTIONARY_ENTRIES> dictionary;
  uint32_t next_code = LZW_FIRST_CODE;
  size_t pos = 0;
  bool have_previous = false;
  size_t previous_start = 0;
  size_t previous_length = 0;

  auto finish = [&](int32_t result) {
    if (produced) *produced = pos;
    return result;
  };

  // Code k occupies bits 12k to 12k + 11: the first half of a group lies in its
  // first two bytes, so a last group of two bytes still holds one whole code.
  for (size_t at = 0; input_size - at >= 2; at += 3) {
    for (int half = 0; half < 2; ++half) {
      if (half == 1 && input_size - at < 3) return finish(-1);
      const uint32_t code = half == 0 ? input[at] + 256u * (input[at + 1] & 15u)
                                      : (input[at + 1] >> 4) + 16u * input[at + 2];
      // Whatever follows the end code, padding or not, is never read.
      if (code == LZW_END_CODE) return finish(0);

      size_t length;
      if (code < LZW_FIRST_CODE) {
        length = 1;
        if (output_size - pos < length) return finish(-1);
        output[pos] = static_cast<uint8_t>(code);
      } else if (!have_previous) {
        return finish(-1);  // the first code must be a literal
      } else if (code < next_code) {
        const Entry& entry = dictionary[code - LZW_FIRST_CODE];
        length = entry.length;
        if (output_size - pos < length) return finish(-1);
        // The entry lies wholly in the output before pos.
        std::memcpy(output + pos, output + entry.start, length);
      } else if (code == next_code) {
        // The string being defined by this very code: the previous string plus
        // its own first byte. next_code is below the end code here, so the
        // dictionary still has room for it.
        length = previous_length + 1;
        if (output_size - pos < length) return finish(-1);
        std::memcpy(output + pos, output + previous_start, previous_length);
        output[pos + previous_length] = output[previous_start];
      } else {
        return finish(-1);  // a code not yet defined
      }

      if (have_previous && next_code <= LZW_LAST_CODE) {
        dictionary[next_code - LZW_FIRST_CODE] = {static_cast<uint32_t>(previous_start),
                                                  static_cast<uint32_t>(previous_length + 1)};
        ++next_code;
      }
      have_previous = true;
      previous_start = pos;
      previous_length = length;
      pos += length;
    }
  }
  return finish(-1);
}

namespace {

// Packs codes two per three bytes.
class CodeWriter {
 public:
  explicit CodeWriter(std::vector<uint8_t>& out) : out_(out) {}
  void put(uint32_t code) {
    if (!has_pending_) {
      pending_ = code;
      has_pending_ = true;
      return;
    }
    out_.push_back(static_cast<uint8_t>(pending_ & 0xFF));
    out_.push_back(static_cast<uint8_t>((pending_ >> 8) | ((code & 15) << 4)));
    out_.push_back(static_cast<uint8_t>(code >> 4));
    has_pending_ = false;
  }
  // Ends the data: the end code, and the padding code when it filled only half a group.
  void finish() {
    put(LZW_END_CODE);
    if (has_pending_) put(LZW_END_CODE);
  }

 private:
  std::vector<uint8_t>& out_;
  uint32_t pending_ = 0;
  bool has_pending_ = false;
};

// The encoder's dictionary: (prefix code, next byte) -> code, open addressing.
class Dictionary {
 public:
  Dictionary() : slots_(SLOTS) {}
  // The code of the string prefix + byte, or 0 when it has none.
  uint32_t find(uint32_t prefix, uint8_t byte) const {
    const uint32_t key = key_of(prefix, byte);
    for (uint32_t i = hash(key);; i = (i + 1) & (SLOTS - 1)) {
      if (slots_[i].key == key) return slots_[i].code;
      if (slots_[i].key == 0) return 0;
    }
  }
  void add(uint32_t prefix, uint8_t byte, uint32_t code) {
    const uint32_t key = key_of(prefix, byte);
    uint32_t i = hash(key);
    while (slots_[i].key != 0) i = (i + 1) & (SLOTS - 1);
    slots_[i] = {key, code};
  }

 private:
  // Twice the number of codes, so that probes stay short.
  static constexpr uint32_t SLOTS = 8192;
  struct Slot {
    uint32_t key;  // 0: empty
    uint32_t code;
  };
  static uint32_t key_of(uint32_t prefix, uint8_t byte) { return ((prefix << 8) | byte) + 1; }
  static uint32_t hash(uint32_t key) { return (key * 2654435761u) >> (32 - 13); }
  std::vector<Slot> slots_;
};

}  // namespace

std::vector<uint8_t> lzwEncode(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out;
  out.reserve(size / 2 + 3);
  CodeWriter writer(out);
  if (size > 0) {
    Dictionary dictionary;
    uint32_t next_code = LZW_FIRST_CODE;
    uint32_t current = data[0];
    for (size_t i = 1; i < size; ++i) {
      const uint8_t byte = data[i];
      if (uint32_t code = dictionary.find(current, byte)) {
        current = code;
        continue;
      }
      writer.put(current);
      if (next_code <= LZW_LAST_CODE) dictionary.add(current, byte, next_code++);
      current = byte;
    }
    writer.put(current);
  }
  writer.finish();
  return out;
}

}  // namespace zv
