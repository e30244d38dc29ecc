// Key translation for the window drivers: turns a Windows key press (virtual key,
// hardware scan byte, modifier state and the character ToAscii gave) into the
// graphics screen's key code (a code page 437 character 1-255, or 256 * s + 255 for
// an extended key with extended code s), gives the PC scan code (set 1) of a virtual
// key, and refreshes the screen's key-state table from a Windows keyboard state.
// The tables are plain data so that they can be checked against the keyboard they
// describe. This header does not need <windows.h>; only the .cpp asks the Win32 API
// (MapVirtualKeyA) for the character of a virtual key.
#pragma once

#include <cstdint>

namespace zv {

// One key of the keyboard: its PC scan code and the virtual keys that stand for it
// (second_key 0 when there is only one).
struct ScancodeRow {
  uint8_t scan, first_key, second_key;
};
// 86 keys in scan-code order, then a row whose scan code is 0 that ends the table.
extern const ScancodeRow scancode_table[87];

// Keys whose extended form (the extended-key bit of the key message) gives codes of
// its own; codes of 256 and more are extended codes (extended code * 256).
struct EnhancedKeyRow {
  uint16_t scan, plain, shift, ctrl, alt;
};
extern const EnhancedKeyRow enhanced_key_table[12];

// Indexed by scan code 0-88: the code without modifier, with Shift, with Ctrl, with
// Alt. Codes of 256 and more are extended codes (extended code * 256); the others are
// the character the key gives on a US layout (0 for none) and only mark that the key
// has no extended code there.
extern const uint16_t key_code_table[89][4];

// Modifier word, bit values as in the Windows console's control-key state.
constexpr uint32_t KEYMOD_RIGHT_ALT = 1, KEYMOD_LEFT_ALT = 2, KEYMOD_RIGHT_CTRL = 4,
                   KEYMOD_LEFT_CTRL = 8, KEYMOD_SHIFT = 16, KEYMOD_EXTENDED = 256;

// The scan code (1..93) of the first key that the virtual key stands for, 0 when no
// key has it. Virtual key 0 answers 1, as Escape does.
int32_t scanCodeOfVirtualKey(uint32_t virtual_key);

// The key code of a key press, or -1 when the press gives no key. character is what
// ToAscii gave (0 for nothing), scan the scan byte of the key message, modifiers a
// combination of the KEYMOD_ bits. Asks MapVirtualKeyA(virtual_key,
// MAPVK_VK_TO_CHAR) for the character the key gives without modifiers.
int32_t translateKey(uint8_t character, uint8_t scan, uint32_t virtual_key, uint32_t modifiers);

// translateKey with MapVirtualKeyA's answer for the key given (mapped_character):
// the translation itself, which needs no keyboard layout.
int32_t translateKeyWith(uint8_t character, uint8_t scan, uint32_t modifiers,
                         uint32_t mapped_character);

// For every key of scancode_table: key_states[scan] = 1 while one of its virtual keys
// is down in keyboard_state (top bit of its byte, as GetKeyboardState gives it), else
// 0. Entries of scan codes without a key are left as they are. key_states has 128
// entries.
void refreshKeyStates(const uint8_t keyboard_state[256], uint8_t* key_states);

}  // namespace zv
