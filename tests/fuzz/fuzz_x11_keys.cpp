// Fuzz target: arbitrary X key events (key name of the keycode, keysym, the bytes
// the layout gave, press or release, modifier state) through the X11 backend's key
// path to the hardware keys the layer gets and on through the key translation to key
// codes. Every key must be a known virtual key with a scan code of a PC key (or none
// for a keycode without a position), a character must be a byte, a dead key's accent
// (only for a dead keysym) or one of the two marks, AltGr must come as Ctrl and Alt in mirrored order, and a typed character
// must survive as the key code or give way to an extended key. Only where the X11
// backend is built (not on Windows).
#ifndef _WIN32
#include <cstdlib>
#include <cstring>

#include "common/key_translation.h"
#include "platform/win32/backend.h"
#include "platform/win32/x11/x11_keys.h"
#include "tests/fuzz/fuzz_target.h"

namespace {

namespace x11 = zv::win32::x11;

// Known names often, arbitrary bytes otherwise.
const char* const kNames[] = {"AC01", "AC10", "AE01", "RTRN", "KPEN", "RALT", "LEFT", "DELE", "KP7",
                              "PAUS", "NMLK", "FK12", "LSGT", "TLDE", "SPCE", "LVL3", ""};

void check(const x11::KeyInput& input, uint32_t modifiers) {
  x11::KeyOutput out[2];
  const int count = x11::translateKeyEvent(input, out);
  if (count != 1 && count != 2) std::abort();
  if (count == 2) {
    // AltGr: left Ctrl and right Alt, Ctrl outermost.
    const x11::KeyOutput& control = input.down ? out[0] : out[1];
    const x11::KeyOutput& alt = input.down ? out[1] : out[0];
    if (control.virtual_key != 0xA2 || alt.virtual_key != 0xA5 || !alt.extended || control.extended) std::abort();
  }
  for (int i = 0; i < count; ++i) {
    const x11::KeyOutput& key = out[i];
    if (key.virtual_key == 0 || key.virtual_key > 0xFE) std::abort();
    if (key.down != input.down) std::abort();
    const bool dead = key.character > zv::win32::kDeadKey && key.character <= zv::win32::kDeadKey + 0xFF;
    if (dead && !x11::isDeadKeysym(input.keysym)) std::abort();
    const bool marked =
        dead || key.character == zv::win32::kLayoutCharacter || key.character == zv::win32::kNoCharacter;
    if (!marked && (key.character < 0 || key.character > 255)) std::abort();
    if (!input.down && key.character != zv::win32::kNoCharacter) std::abort();
    if (count == 1 && (key.scan != input.position.scan || key.extended != input.position.extended)) std::abort();
    if (!input.down || marked) continue;
    const auto character = static_cast<uint8_t>(key.character);
    const int32_t code = zv::translateKeyWith(character, key.scan, modifiers | (key.extended ? 256u : 0u),
                                              static_cast<uint32_t>(input.keysym & 0xFF));
    if (code == -1) {
      if (character != 0) std::abort();
      continue;
    }
    if (code >= 256 && (code & 0xFF) != 0xFF) std::abort();
    if (code < 256 && character != 0 && code != character) std::abort();
  }
}

}  // namespace

ZV_FUZZ_TARGET(x11_keys) {
  // Events of 12 bytes: [0] a known name or, from 0xC0, the raw name [1..4];
  // [5..8] keysym; [9] text length (bits 0-1), press (bit 2), modifier word
  // (bits 3-7); [10..11] text.
  for (size_t i = 0; i + 12 <= size; i += 12) {
    const uint8_t* p = data + i;
    char name[4];
    if (p[0] < 0xC0) {
      const char* known = kNames[p[0] % (sizeof kNames / sizeof kNames[0])];
      std::memset(name, 0, sizeof name);
      std::memcpy(name, known, std::strlen(known) < sizeof name ? std::strlen(known) : sizeof name);
    } else {
      std::memcpy(name, p + 1, sizeof name);
    }
    unsigned long keysym = static_cast<unsigned long>(p[5]) | static_cast<unsigned long>(p[6]) << 8 |
                           static_cast<unsigned long>(p[7]) << 16 | static_cast<unsigned long>(p[8]) << 24;
    // Latin-1 and the function-key range are the common keysyms; keep them frequent.
    if (p[9] & 0x80) keysym &= (p[9] & 0x40) ? 0xFFFFu : 0xFFu;
    const char text[2] = {static_cast<char>(p[10]), static_cast<char>(p[11])};
    x11::KeyInput input{x11::scanOfKeyName(name), keysym, text, (p[9] & 3) > 2 ? 2 : (p[9] & 3), (p[9] & 4) != 0};
    check(input, static_cast<uint32_t>(p[9] >> 3) & 0x1F);
  }
  return 0;
}
#endif  // _WIN32
