// Key translation for the window drivers: the scan-code, extended-key and key-code
// tables and the rules that turn a Windows key press into a key code of the graphics
// screen. See key_translation.h.
#include "common/key_translation.h"

#include <windows.h>

namespace zv {

namespace {

// An extended code (the byte that follows 255 when the key is read as text).
constexpr uint16_t ext(uint8_t code) { return static_cast<uint16_t>(code << 8); }

// Character codes of Ctrl with a letter.
constexpr uint16_t ctl(char letter) { return static_cast<uint16_t>(letter - 'a' + 1); }

}  // namespace

// Virtual keys in hexadecimal.
const ScancodeRow scancode_table[87] = {
    {1, 0x1B, 0},
    // digit keys 1-9, 0
    {2, 0x31, 0}, {3, 0x32, 0}, {4, 0x33, 0}, {5, 0x34, 0}, {6, 0x35, 0},
    {7, 0x36, 0}, {8, 0x37, 0}, {9, 0x38, 0}, {10, 0x39, 0}, {11, 0x30, 0},
    {12, 0xBD, 0x6D}, {13, 0xBB, 0}, {14, 0x08, 0}, {15, 0x09, 0},
    // Q W E R T Y U I O P
    {16, 0x51, 0}, {17, 0x57, 0}, {18, 0x45, 0}, {19, 0x52, 0}, {20, 0x54, 0},
    {21, 0x59, 0}, {22, 0x55, 0}, {23, 0x49, 0}, {24, 0x4F, 0}, {25, 0x50, 0},
    {26, 0xDB, 0}, {27, 0xDD, 0}, {28, 0x0D, 0}, {29, 0x11, 0},
    // A S D F G H J K L
    {30, 0x41, 0}, {31, 0x53, 0}, {32, 0x44, 0}, {33, 0x46, 0}, {34, 0x47, 0},
    {35, 0x48, 0}, {36, 0x4A, 0}, {37, 0x4B, 0}, {38, 0x4C, 0},
    {39, 0xBA, 0}, {40, 0xDE, 0}, {41, 0xC0, 0}, {42, 0x10, 0}, {43, 0xDC, 0},
    // Z X C V B N M
    {44, 0x5A, 0}, {45, 0x58, 0}, {46, 0x43, 0}, {47, 0x56, 0}, {48, 0x42, 0},
    {49, 0x4E, 0}, {50, 0x4D, 0},
    {51, 0xBC, 0}, {52, 0xBE, 0}, {53, 0xBF, 0x6F}, {54, 0x10, 0}, {55, 0x6A, 0},
    {56, 0x12, 0}, {57, 0x20, 0}, {58, 0x14, 0},
    // F1-F10
    {59, 0x70, 0}, {60, 0x71, 0}, {61, 0x72, 0}, {62, 0x73, 0}, {63, 0x74, 0},
    {64, 0x75, 0}, {65, 0x76, 0}, {66, 0x77, 0}, {67, 0x78, 0}, {68, 0x79, 0},
    {69, 0x90, 0}, {70, 0x91, 0},
    // cursor keys and their keypad twins; keypad minus (74) shares the row of 12
    {71, 0x24, 0x67}, {72, 0x26, 0x68}, {73, 0x21, 0x69}, {75, 0x25, 0x64},
    {77, 0x27, 0x66}, {78, 0x6B, 0}, {79, 0x23, 0x61}, {80, 0x28, 0x62},
    {81, 0x22, 0x63}, {82, 0x2D, 0x60}, {83, 0x2E, 0x6E},
    {87, 0x7A, 0}, {88, 0x7B, 0},
    // Windows keys and the menu key
    {91, 0x5B, 0}, {92, 0x5C, 0}, {93, 0x5D, 0},
    {0, 0, 0},
};

const EnhancedKeyRow enhanced_key_table[12] = {
    // scan  plain      shift      ctrl       alt
    {28, 13, 13, 10, ext(0xA6)},                          // keypad Enter
    {53, 47, 63, ext(0x95), ext(0xA4)},                   // keypad /
    {71, ext(0x47), ext(0x47), ext(0x77), ext(0x97)},     // Home
    {72, ext(0x48), ext(0x48), ext(0x8D), ext(0x98)},     // Up
    {73, ext(0x49), ext(0x49), ext(0x84), ext(0x99)},     // Page Up
    {75, ext(0x4B), ext(0x4B), ext(0x73), ext(0x9B)},     // Left
    {77, ext(0x4D), ext(0x4D), ext(0x74), ext(0x9D)},     // Right
    {79, ext(0x4F), ext(0x4F), ext(0x75), ext(0x9F)},     // End
    {80, ext(0x50), ext(0x50), ext(0x91), ext(0xA0)},     // Down
    {81, ext(0x51), ext(0x51), ext(0x76), ext(0xA1)},     // Page Down
    {82, ext(0x52), ext(0x52), ext(0x92), ext(0xA2)},     // Insert
    {83, ext(0x53), ext(0x53), ext(0x93), ext(0xA3)},     // Delete
};

const uint16_t key_code_table[89][4] = {
    // none         Shift        Ctrl         Alt
    {0, 0, 0, 0},                                   // 0
    {0x1B, 0x1B, 0x1B, ext(0x01)},                  // 1 Escape
    {'1', '!', 0, ext(0x78)},                       // 2
    {'2', '@', ext(0x03), ext(0x79)},               // 3
    {'3', '#', 0, ext(0x7A)},                       // 4
    {'4', '$', 0, ext(0x7B)},                       // 5
    {'5', '%', 0, ext(0x7C)},                       // 6
    {'6', '^', 0x1E, ext(0x7D)},                    // 7
    {'7', '&', 0, ext(0x82)},                       // 8  (Alt: as Alt+-)
    {'8', '*', 0, ext(0x83)},                       // 9  (Alt: as Alt+=)
    {'9', '(', 0, ext(0x80)},                       // 10
    {'0', ')', 0, ext(0x81)},                       // 11
    {'-', '_', 0x1F, ext(0x82)},                    // 12
    {'=', '+', 0, ext(0x83)},                       // 13
    {0x08, 0x08, 0x7F, ext(0xE0)},                  // 14 Backspace
    {0x09, ext(0x0F), ext(0x94), ext(0x0F)},        // 15 Tab
    {'q', 'Q', ctl('q'), ext(16)},                  // 16
    {'w', 'W', ctl('w'), ext(17)},                  // 17
    {'e', 'E', ctl('e'), ext(18)},                  // 18
    {'r', 'R', ctl('r'), ext(19)},                  // 19
    {'t', 'T', ctl('t'), ext(20)},                  // 20
    {'y', 'Y', ctl('y'), ext(21)},                  // 21
    {'u', 'U', ctl('u'), ext(22)},                  // 22
    {'i', 'I', ctl('i'), ext(23)},                  // 23
    {'o', 'O', ctl('o'), ext(24)},                  // 24
    {'p', 'P', ctl('p'), ext(25)},                  // 25
    {'[', '{', 0x1B, ext(0x1A)},                    // 26
    {']', '}', 0x1D, ext(0x1B)},                    // 27
    {0x0D, 0x0D, 0x0A, ext(0x1C)},                  // 28 Enter
    {0, 0, 0, 0},                                   // 29 Ctrl
    {'a', 'A', ctl('a'), ext(30)},                  // 30
    {'s', 'S', ctl('s'), ext(31)},                  // 31
    {'d', 'D', ctl('d'), ext(32)},                  // 32
    {'f', 'F', ctl('f'), ext(33)},                  // 33
    {'g', 'G', ctl('g'), ext(34)},                  // 34
    {'h', 'H', ctl('h'), ext(35)},                  // 35
    {'j', 'J', ctl('j'), ext(36)},                  // 36
    {'k', 'K', ctl('k'), ext(37)},                  // 37
    {'l', 'L', ctl('l'), ext(38)},                  // 38
    {';', ':', 0, ext(0x27)},                       // 39
    {'\'', '"', 0, ext(0x28)},                      // 40
    {'`', '~', 0, ext(0x29)},                       // 41
    {0, 0, 0, 0},                                   // 42 left Shift
    {'\\', '|', 0x1C, 0},                           // 43
    {'z', 'Z', ctl('z'), ext(44)},                  // 44
    {'x', 'X', ctl('x'), ext(45)},                  // 45
    {'c', 'C', ctl('c'), ext(46)},                  // 46
    {'v', 'V', ctl('v'), ext(47)},                  // 47
    {'b', 'B', ctl('b'), ext(48)},                  // 48
    {'n', 'N', ctl('n'), ext(49)},                  // 49
    {'m', 'M', ctl('m'), ext(50)},                  // 50
    {',', '<', 0, ext(0x33)},                       // 51
    {'.', '>', 0, ext(0x34)},                       // 52
    {'/', '?', 0, ext(0x35)},                       // 53
    {0, 0, 0, 0},                                   // 54 right Shift
    {'*', '*', 0, 0},                               // 55 keypad *
    {0, 0, 0, 0},                                   // 56 Alt
    {' ', ' ', ' ', ' '},                           // 57 Space
    {0, 0, 0, 0},                                   // 58 Caps Lock
    // F1-F10: Shift adds 25, Ctrl 35, Alt 45 to the scan code
    {ext(59), ext(84), ext(94), ext(104)},          // 59 F1
    {ext(60), ext(85), ext(95), ext(105)},          // 60
    {ext(61), ext(86), ext(96), ext(106)},          // 61
    {ext(62), ext(87), ext(97), ext(107)},          // 62 F4
    {ext(63), ext(88), ext(98), ext(108)},          // 63
    {ext(64), ext(89), ext(99), ext(109)},          // 64
    {ext(65), ext(90), ext(100), ext(110)},         // 65
    {ext(66), ext(91), ext(101), ext(111)},         // 66
    {ext(67), ext(92), ext(102), ext(112)},         // 67
    {ext(68), ext(93), ext(103), ext(113)},         // 68 F10
    {0, 0, 0, 0},                                   // 69 Num Lock
    {0, 0, 0, 0},                                   // 70 Scroll Lock
    // keypad: the cursor keys without Num Lock, the digits with Shift
    {ext(0x47), '7', ext(0x77), 0},                 // 71 Home
    {ext(0x48), '8', ext(0x8D), 0},                 // 72 Up
    {ext(0x49), '9', ext(0x84), 0},                 // 73 Page Up
    {'-', '-', 0, 0},                               // 74 keypad -
    {ext(0x4B), '4', ext(0x73), 0},                 // 75 Left
    {ext(0x4C), '5', ext(0x8F), ext(0x4C)},         // 76 keypad 5
    {ext(0x4D), '6', ext(0x74), 0},                 // 77 Right
    {'+', '+', 0, 0},                               // 78 keypad +
    {ext(0x4F), '1', ext(0x75), 0},                 // 79 End
    {ext(0x50), '2', ext(0x91), 0},                 // 80 Down
    {ext(0x51), '3', ext(0x76), 0},                 // 81 Page Down
    {ext(0x52), '0', ext(0x92), 0},                 // 82 Insert
    {ext(0x53), '.', ext(0x93), 0},                 // 83 Delete
    {0, 0, 0, 0},                                   // 84
    {0, 0, 0, 0},                                   // 85
    {'\\', '|', 0x1C, 0},                           // 86 the key next to left Shift
    {ext(0x85), ext(0x87), ext(0x89), ext(0x8B)},   // 87 F11
    {ext(0x86), ext(0x88), ext(0x8A), ext(0x8C)},   // 88 F12
};

int32_t scanCodeOfVirtualKey(uint32_t virtual_key) {
  if (virtual_key == 0) return 1;
  for (const ScancodeRow* row = scancode_table; row->scan != 0; ++row)
    if (row->first_key == virtual_key || (row->second_key != 0 && row->second_key == virtual_key))
      return row->scan;
  return 0;
}

namespace {

uint32_t swapCase(uint32_t c) {
  if (c >= 'A' && c <= 'Z') return c + ('a' - 'A');
  if (c >= 'a' && c <= 'z') return c - ('a' - 'A');
  return c;
}

// Column of the key tables: Alt before Ctrl before Shift, so that AltGr (right Alt
// with Ctrl) reads the Alt column.
enum Column { PLAIN, SHIFT, CTRL, ALT };
Column columnOf(uint32_t modifiers) {
  if (modifiers & (KEYMOD_RIGHT_ALT | KEYMOD_LEFT_ALT)) return ALT;
  if (modifiers & (KEYMOD_RIGHT_CTRL | KEYMOD_LEFT_CTRL)) return CTRL;
  if (modifiers & KEYMOD_SHIFT) return SHIFT;
  return PLAIN;
}

int32_t enhancedKeyCode(uint8_t scan, uint32_t modifiers) {
  for (const EnhancedKeyRow& row : enhanced_key_table) {
    if (row.scan != scan) continue;
    switch (columnOf(modifiers)) {
      case ALT: return row.alt != 0 ? row.alt : -1;
      case CTRL: return row.ctrl != 0 ? row.ctrl : -1;
      case SHIFT: return row.shift != 0 ? row.shift : -1;
      case PLAIN: return row.plain;
    }
  }
  return -1;
}

}  // namespace

int32_t translateKeyWith(uint8_t character, uint8_t scan, uint32_t modifiers,
                         uint32_t mapped_character) {
  const uint32_t c = character;
  int32_t result;
  if ((modifiers & KEYMOD_EXTENDED) && c == 0) {
    result = enhancedKeyCode(scan, modifiers);
  } else if (scan < 89) {
    // The key's extended code counts only when the character typed is the key's own
    // (in either case) or both are nothing: on a layout where the key gives another
    // character, or when Ctrl or Alt swallow a character the key has, the character
    // (or no key) is the answer.
    const Column column = columnOf(modifiers);
    uint32_t value;
    if (column == PLAIN && c != 0) value = mapped_character;
    else value = key_code_table[scan][column];
    if (value < 256 || (c != mapped_character && c != swapCase(mapped_character)))
      result = c != 0 ? static_cast<int32_t>(c) : -1;
    else
      result = static_cast<int32_t>(value);
  } else {
    result = c != 0 ? static_cast<int32_t>(c) : -1;
  }
  if (result >= 256) result |= 0xFF;
  return result;
}

int32_t translateKey(uint8_t character, uint8_t scan, uint32_t virtual_key, uint32_t modifiers) {
  return translateKeyWith(character, scan, modifiers,
                          MapVirtualKeyA(virtual_key, MAPVK_VK_TO_CHAR));
}

void refreshKeyStates(const uint8_t keyboard_state[256], uint8_t* key_states) {
  for (const ScancodeRow* row = scancode_table; row->scan != 0; ++row) {
    bool down = (keyboard_state[row->first_key] & 0x80) != 0;
    if (row->second_key != 0) down = down || (keyboard_state[row->second_key] & 0x80) != 0;
    key_states[row->scan] = down ? 1 : 0;
  }
}

}  // namespace zv
