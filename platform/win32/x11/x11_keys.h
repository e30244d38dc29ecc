// X key events as the Win32 layer's hardware keys: the PC scan code of a key from
// its XKB key name (a position, whatever the layout), the virtual key the US layout
// gives that position, and the character the active layout gives the press, as a
// Windows-1252 byte. Pure functions of what the X event carries, so that they can be
// checked and fuzzed without a display.
#pragma once

#include <cstdint>

namespace zv::win32::x11 {

struct ScanCode {
  uint8_t scan = 0;  // PC set 1; 0: the name is no key of a PC keyboard
  bool extended = false;
};

// The key an XKB key name (up to four characters, not necessarily terminated)
// stands for: "AE01" is scan 2, "RCTL" scan 0x1D extended, and so on.
ScanCode scanOfKeyName(const char name[4]);

// One X key event, with what the layout made of it.
struct KeyInput {
  ScanCode position;    // from the keycode's XKB name; scan 0 for a keycode without one
  unsigned long keysym; // the keysym of the event's state (XLookupString)
  const char* text;     // the bytes XLookupString gave (Latin-1), may be null
  int text_length;
  bool down;
};

// What the layer is told: a hardware key (backendKey).
struct KeyOutput {
  uint16_t virtual_key;
  uint8_t scan;
  bool extended;
  bool down;
  int character;  // a Windows-1252 byte, kDeadKey plus a dead key's accent, or the
                  // layer's kLayoutCharacter / kNoCharacter
};

// Turns one X key event into the hardware keys of a PC keyboard: one, or two for
// AltGr (left Ctrl with right Alt, as Windows reports it). Answers the count.
int translateKeyEvent(const KeyInput& input, KeyOutput out[2]);

// The virtual key of a keysym where the key's position does not tell it (a keycode
// without a scan code, keypad digits, Pause); 0 when the keysym names no such key.
uint16_t virtualKeyOfKeysym(unsigned long keysym);

// The Windows-1252 byte of a keysym's character, or -1.
int windows1252OfKeysym(unsigned long keysym);

bool isDeadKeysym(unsigned long keysym);

// What MapVirtualKeyA answers for a key whose keysym without modifiers is this: the
// character (letters in capitals), kDeadKey plus the accent's own character for a
// dead key, 0 for a character Windows-1252 lacks, -1 for a keysym that names a key
// rather than a character (the US layout's rules then hold).
int32_t layoutCharacterOfKeysym(unsigned long keysym);

// UTF-8 of a Windows-1252 text (window titles).
void utf8FromWindows1252(const char* text, char* out, int out_size);

}  // namespace zv::win32::x11
