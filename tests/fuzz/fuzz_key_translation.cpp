// Fuzz target: arbitrary key presses (character, scan byte, modifier word, the
// layout's character for the key) through the key translation, arbitrary virtual
// keys through the scan-code lookup and arbitrary keyboard states through the
// key-state refresh. A key code must be -1, a character or an extended key (255 in
// the low byte); a typed character is either the answer or gave way to an extended
// key; the refresh writes only 0 or 1, and only the entries of keys it knows.
#include <cstdlib>
#include <cstring>

#include "common/key_translation.h"
#include "tests/fuzz/fuzz_target.h"

namespace {

uint32_t word(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void checkKey(uint8_t character, uint8_t scan, uint32_t modifiers, uint32_t mapped) {
  int32_t code = zv::translateKeyWith(character, scan, modifiers, mapped);
  if (code == -1) {
    if (character != 0) std::abort();  // a typed character is never lost
    return;
  }
  if (code < 1 || code > 0xFFFF) std::abort();
  if (code >= 256 && ((code & 0xFF) != 0xFF || (code >> 8) == 0)) std::abort();
  if (code < 256 && character != 0 && code != character) std::abort();
}

bool hasRow(int32_t scan) {
  for (const zv::ScancodeRow& row : zv::scancode_table)
    if (row.scan != 0 && row.scan == scan) return true;
  return false;
}

}  // namespace

ZV_FUZZ_TARGET(key_translation) {
  // Key presses of 10 bytes each: character, scan, modifiers (2), the layout's
  // character (4), and 2 bytes that make up a virtual key with the last two.
  size_t i = 0;
  for (; i + 10 <= size; i += 10) {
    const uint8_t* p = data + i;
    uint32_t modifiers = static_cast<uint32_t>(p[2]) | static_cast<uint32_t>(p[3]) << 8;
    uint32_t mapped = word(p + 4);
    // Small layout answers are the common case; keep them frequent.
    if (p[7] < 0xC0) mapped &= 0xFF;
    checkKey(p[0], p[1], modifiers, mapped);
    uint32_t virtual_key = word(p + 6);
    if (p[9] < 0xC0) virtual_key &= 0xFF;
    int32_t scan = zv::scanCodeOfVirtualKey(virtual_key);
    if (scan != 0 && !hasRow(scan)) std::abort();
  }
  // The rest, padded with zeros, is a keyboard state.
  uint8_t keyboard[256] = {};
  for (size_t n = 0; i + n < size && n < sizeof keyboard; ++n) keyboard[n] = data[i + n];
  uint8_t before[128], states[128];
  for (int n = 0; n < 128; ++n) before[n] = static_cast<uint8_t>(n * 37 + size);
  std::memcpy(states, before, sizeof states);
  zv::refreshKeyStates(keyboard, states);
  for (int32_t n = 0; n < 128; ++n) {
    if (hasRow(n)) {
      if (states[n] > 1) std::abort();
    } else if (states[n] != before[n]) {
      std::abort();
    }
  }
  return 0;
}
