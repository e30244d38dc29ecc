// X key events as PC keys: scan codes from XKB key names, virtual keys as the US
// layout names the key's position, characters from the active layout in
// Windows-1252.
#include "platform/win32/x11/x11_keys.h"

#include "platform/win32/backend.h"

#include <windows.h>

#include <cstring>

namespace zv::win32::x11 {
namespace {

struct NamedKey {
  char name[5];
  uint8_t scan;
  bool extended;
};

// The keys of a PC keyboard by their XKB names (evdev and the older xfree86 names
// agree on these).
const NamedKey kNamedKeys[] = {
    {"ESC", 0x01, false},  {"AE01", 0x02, false}, {"AE02", 0x03, false}, {"AE03", 0x04, false},
    {"AE04", 0x05, false}, {"AE05", 0x06, false}, {"AE06", 0x07, false}, {"AE07", 0x08, false},
    {"AE08", 0x09, false}, {"AE09", 0x0A, false}, {"AE10", 0x0B, false}, {"AE11", 0x0C, false},
    {"AE12", 0x0D, false}, {"BKSP", 0x0E, false}, {"TAB", 0x0F, false},  {"AD01", 0x10, false},
    {"AD02", 0x11, false}, {"AD03", 0x12, false}, {"AD04", 0x13, false}, {"AD05", 0x14, false},
    {"AD06", 0x15, false}, {"AD07", 0x16, false}, {"AD08", 0x17, false}, {"AD09", 0x18, false},
    {"AD10", 0x19, false}, {"AD11", 0x1A, false}, {"AD12", 0x1B, false}, {"RTRN", 0x1C, false},
    {"LCTL", 0x1D, false}, {"AC01", 0x1E, false}, {"AC02", 0x1F, false}, {"AC03", 0x20, false},
    {"AC04", 0x21, false}, {"AC05", 0x22, false}, {"AC06", 0x23, false}, {"AC07", 0x24, false},
    {"AC08", 0x25, false}, {"AC09", 0x26, false}, {"AC10", 0x27, false}, {"AC11", 0x28, false},
    {"TLDE", 0x29, false}, {"LFSH", 0x2A, false}, {"BKSL", 0x2B, false}, {"AC12", 0x2B, false},
    {"AB01", 0x2C, false}, {"AB02", 0x2D, false}, {"AB03", 0x2E, false}, {"AB04", 0x2F, false},
    {"AB05", 0x30, false}, {"AB06", 0x31, false}, {"AB07", 0x32, false}, {"AB08", 0x33, false},
    {"AB09", 0x34, false}, {"AB10", 0x35, false}, {"RTSH", 0x36, false}, {"KPMU", 0x37, false},
    {"LALT", 0x38, false}, {"SPCE", 0x39, false}, {"CAPS", 0x3A, false}, {"FK01", 0x3B, false},
    {"FK02", 0x3C, false}, {"FK03", 0x3D, false}, {"FK04", 0x3E, false}, {"FK05", 0x3F, false},
    {"FK06", 0x40, false}, {"FK07", 0x41, false}, {"FK08", 0x42, false}, {"FK09", 0x43, false},
    {"FK10", 0x44, false}, {"NMLK", 0x45, false}, {"SCLK", 0x46, false}, {"KP7", 0x47, false},
    {"KP8", 0x48, false},  {"KP9", 0x49, false},  {"KPSU", 0x4A, false}, {"KP4", 0x4B, false},
    {"KP5", 0x4C, false},  {"KP6", 0x4D, false},  {"KPAD", 0x4E, false}, {"KP1", 0x4F, false},
    {"KP2", 0x50, false},  {"KP3", 0x51, false},  {"KP0", 0x52, false},  {"KPDL", 0x53, false},
    {"LSGT", 0x56, false}, {"FK11", 0x57, false}, {"FK12", 0x58, false}, {"PAUS", 0x45, false},
    {"KPEN", 0x1C, true},  {"RCTL", 0x1D, true},  {"KPDV", 0x35, true},  {"PRSC", 0x37, true},
    {"RALT", 0x38, true},  {"HOME", 0x47, true},  {"UP", 0x48, true},    {"PGUP", 0x49, true},
    {"LEFT", 0x4B, true},  {"RGHT", 0x4D, true},  {"END", 0x4F, true},   {"DOWN", 0x50, true},
    {"PGDN", 0x51, true},  {"INS", 0x52, true},   {"DELE", 0x53, true},  {"LWIN", 0x5B, true},
    {"LMTA", 0x5B, true},  {"RWIN", 0x5C, true},  {"RMTA", 0x5C, true},  {"COMP", 0x5D, true},
    {"MENU", 0x5D, true}};

// Keysyms of the X protocol that this file needs.
constexpr unsigned long kPause = 0xff13, kKeypad0 = 0xffb0, kKeypad9 = 0xffb9, kKeypadDecimal = 0xffae, kKeypadSeparator = 0xffac,
                        kLevel3Shift = 0xfe03, kModeSwitch = 0xff7e, kDeadFirst = 0xfe50, kDeadLast = 0xfe93,
                        kEuroSign = 0x20ac;

// The keypad's keysyms, Num Lock on and off, and the virtual keys Windows gives those
// keys: the decimal key is VK_DECIMAL whether the layout makes it a decimal point
// (KP_Decimal) or a comma (KP_Separator), and VK_DELETE without Num Lock.
struct KeypadKey {
  unsigned long keysym;
  uint16_t vk;
};
const KeypadKey kKeypadKeys[] = {
    {0xff80, VK_SPACE},    {0xff89, VK_TAB},   {0xff8d, VK_RETURN},   {0xff95, VK_HOME},     {0xff96, VK_LEFT},
    {0xff97, VK_UP},       {0xff98, VK_RIGHT}, {0xff99, VK_DOWN},     {0xff9a, VK_PRIOR},    {0xff9b, VK_NEXT},
    {0xff9c, VK_END},      {0xff9d, VK_CLEAR}, {0xff9e, VK_INSERT},   {0xff9f, VK_DELETE},   {0xffaa, VK_MULTIPLY},
    {0xffab, VK_ADD},      {kKeypadSeparator, VK_DECIMAL},            {0xffad, VK_SUBTRACT}, {kKeypadDecimal, VK_DECIMAL},
    {0xffaf, VK_DIVIDE}};

// Keysyms of the function-key range (0xff00 and above) name keys, not characters:
// their characters (Return, Backspace, Tab, Escape, the keypad's) are the same on
// every layout, so the US layout gives them, with its Ctrl rules.
bool isKeyKeysym(unsigned long keysym) { return keysym >= 0xff00 && keysym <= 0xffff; }

// Legacy keysyms outside Latin-1 whose characters Windows-1252 has.
struct KeysymCharacter {
  unsigned long keysym;
  char16_t unit;
};
const KeysymCharacter kLegacyCharacters[] = {
    {0x01a9, 0x0160}, {0x01ae, 0x017D}, {0x01b9, 0x0161}, {0x01be, 0x017E}, {0x13bc, 0x0152},
    {0x13bd, 0x0153}, {0x13be, 0x0178}, {0x0aa9, 0x2014}, {0x0aaa, 0x2013}, {0x0ae6, 0x2022},
    {0x0aae, 0x2026}, {0x0ad0, 0x2018}, {0x0ad1, 0x2019}, {0x0ad2, 0x201C}, {0x0ad3, 0x201D},
    {0x0ac9, 0x2122}, {0x0ad5, 0x2030}, {0x08f6, 0x0192}, {0x0afd, 0x201A}, {0x0afe, 0x201E}};

int unicodeOfKeysym(unsigned long keysym) {
  if ((keysym >= 0x20 && keysym <= 0x7e) || (keysym >= 0xa0 && keysym <= 0xff)) return static_cast<int>(keysym);
  if (keysym == kEuroSign) return 0x20AC;
  if ((keysym & 0xff000000UL) == 0x01000000UL) {
    unsigned long code = keysym & 0x00ffffffUL;
    return code <= 0x10ffff ? static_cast<int>(code) : -1;
  }
  for (const KeysymCharacter& k : kLegacyCharacters)
    if (k.keysym == keysym) return k.unit;
  return -1;
}

// The character of a keypad keysym, as X gives it: its low seven bits (KP_Separator
// is ",", KP_Decimal ".").
int keypadCharacter(unsigned long keysym) { return static_cast<int>(keysym & 0x7F); }

// The virtual key of a keypad keysym, 0 for any other.
uint16_t keypadVirtualKey(unsigned long keysym) {
  if (keysym >= kKeypad0 && keysym <= kKeypad9) return static_cast<uint16_t>(VK_NUMPAD0 + (keysym - kKeypad0));
  for (const KeypadKey& key : kKeypadKeys)
    if (key.keysym == keysym) return key.vk;
  return 0;
}

}  // namespace

ScanCode scanOfKeyName(const char name[4]) {
  for (const NamedKey& key : kNamedKeys) {
    if (std::strncmp(key.name, name, 4) == 0) return ScanCode{key.scan, key.extended};
  }
  return ScanCode{};
}

bool isDeadKeysym(unsigned long keysym) { return keysym >= kDeadFirst && keysym <= kDeadLast; }

int32_t layoutCharacterOfKeysym(unsigned long keysym) {
  if (keysym == kKeypadSeparator || keysym == kKeypadDecimal) return keypadCharacter(keysym);
  if (keysym == 0 || isKeyKeysym(keysym)) return -1;
  if (isDeadKeysym(keysym)) {
    // The accents' spacing forms, where Windows-1252 has them.
    static const uint8_t spacing[] = {'`', 0xB4, '^', '~', 0xAF, 0, 0, 0xA8, 0xB0, 0, 0, 0xB8};
    const unsigned long index = keysym - kDeadFirst;
    return kDeadKey + (index < sizeof spacing ? spacing[index] : 0);
  }
  int byte = windows1252OfKeysym(keysym);
  if (byte < 0) return 0;
  return byte >= 'a' && byte <= 'z' ? byte - 'a' + 'A' : byte;
}

uint16_t virtualKeyOfKeysym(unsigned long keysym) {
  if (uint16_t keypad = keypadVirtualKey(keysym)) return keypad;
  if (keysym == kPause) return VK_PAUSE;
  if (keysym >= 'a' && keysym <= 'z') return static_cast<uint16_t>(keysym - 'a' + 'A');
  if ((keysym >= 'A' && keysym <= 'Z') || (keysym >= '0' && keysym <= '9')) return static_cast<uint16_t>(keysym);
  if (keysym == ' ') return VK_SPACE;
  struct Named {
    unsigned long keysym;
    uint16_t vk;
  };
  static const Named named[] = {{0xff08, VK_BACK},   {0xff09, VK_TAB},    {0xff0d, VK_RETURN}, {0xff1b, VK_ESCAPE},
                                {0xffff, VK_DELETE}, {0xff50, VK_HOME},   {0xff51, VK_LEFT},   {0xff52, VK_UP},
                                {0xff53, VK_RIGHT},  {0xff54, VK_DOWN},   {0xff55, VK_PRIOR},  {0xff56, VK_NEXT},
                                {0xff57, VK_END},    {0xff63, VK_INSERT}, {0xff8d, VK_RETURN}};
  for (const Named& n : named)
    if (n.keysym == keysym) return n.vk;
  if (keysym >= 0xffbe && keysym <= 0xffc9) return static_cast<uint16_t>(VK_F1 + (keysym - 0xffbe));
  return 0;
}

int windows1252OfKeysym(unsigned long keysym) {
  int unicode = unicodeOfKeysym(keysym);
  if (unicode < 0 || unicode > 0xFFFF) return -1;
  if (unicode < 0x80 || (unicode >= 0xA0 && unicode <= 0xFF)) return unicode;
  WCHAR unit = static_cast<WCHAR>(unicode);
  char byte = 0;
  BOOL defaulted = FALSE;
  if (WideCharToMultiByte(1252, 0, &unit, 1, &byte, 1, nullptr, &defaulted) != 1 || defaulted) return -1;
  auto value = static_cast<unsigned char>(byte);
  // The five bytes Windows-1252 leaves undefined stand for C1 controls, not characters.
  return value >= 0x80 && value < 0xA0 && unit < 0x100 ? -1 : value;
}

int translateKeyEvent(const KeyInput& input, KeyOutput out[2]) {
  const unsigned long keysym = input.keysym;
  // AltGr: right Alt with left Ctrl, Ctrl first on the way down and last on the way up.
  if (keysym == kLevel3Shift || keysym == kModeSwitch) {
    KeyOutput control{VK_LCONTROL, 0x1D, false, input.down, kNoCharacter};
    KeyOutput alt{VK_RMENU, 0x38, true, input.down, kNoCharacter};
    out[0] = input.down ? control : alt;
    out[1] = input.down ? alt : control;
    return 2;
  }
  KeyOutput key{0, input.position.scan, input.position.extended, input.down, kNoCharacter};
  uint16_t by_keysym = virtualKeyOfKeysym(keysym);
  if (input.position.scan != 0) {
    UINT code = input.position.scan | (input.position.extended ? 0xE000u : 0u);
    key.virtual_key = static_cast<uint16_t>(MapVirtualKeyA(code, MAPVK_VSC_TO_VK_EX));
    // Keypad keys (which change with Num Lock), and Pause (which shares Num Lock's
    // scan code), are told by the keysym.
    if (uint16_t keypad = keypadVirtualKey(keysym)) key.virtual_key = keypad;
    if (by_keysym == VK_PAUSE) key.virtual_key = by_keysym;
  } else {
    // A keycode without a position (one a test tool bound to a keysym): the keysym
    // names the key; what it names on no PC key is VK_OEM_8.
    key.virtual_key = by_keysym ? by_keysym : static_cast<uint16_t>(VK_OEM_8);
  }
  if (input.down) {
    if (isDeadKeysym(keysym)) {
      // The layer composes it with the next character, as a Windows layout does.
      const int32_t dead = layoutCharacterOfKeysym(keysym);
      key.character = dead > kDeadKey ? dead : kNoCharacter;
    } else if (keysym == kKeypadSeparator || keysym == kKeypadDecimal) {
      // The layout decides between point and comma; the US rules know only the point.
      key.character = keypadCharacter(keysym);
    } else if (isKeyKeysym(keysym)) {
      key.character = kLayoutCharacter;
    } else if (input.text && input.text_length == 1 &&
               (static_cast<unsigned char>(input.text[0]) < 0x80 || keysym <= 0xff)) {
      key.character = static_cast<unsigned char>(input.text[0]);
    } else {
      int byte = windows1252OfKeysym(keysym);
      key.character = byte >= 0 ? byte : kNoCharacter;
    }
  }
  out[0] = key;
  return 1;
}

void utf8FromWindows1252(const char* text, char* out, int out_size) {
  int used = 0;
  if (out_size <= 0) return;
  for (const char* p = text; p && *p; ++p) {
    int unit = static_cast<unsigned char>(*p);
    if (unit >= 0x80) {
      WCHAR wide = 0;
      if (MultiByteToWideChar(1252, 0, p, 1, &wide, 1) == 1) unit = wide;
    }
    char bytes[3];
    int n;
    if (unit < 0x80) {
      bytes[0] = static_cast<char>(unit);
      n = 1;
    } else if (unit < 0x800) {
      bytes[0] = static_cast<char>(0xC0 | (unit >> 6));
      bytes[1] = static_cast<char>(0x80 | (unit & 0x3F));
      n = 2;
    } else {
      bytes[0] = static_cast<char>(0xE0 | (unit >> 12));
      bytes[1] = static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
      bytes[2] = static_cast<char>(0x80 | (unit & 0x3F));
      n = 3;
    }
    if (used + n >= out_size) break;
    std::memcpy(out + used, bytes, static_cast<size_t>(n));
    used += n;
  }
  out[used] = 0;
}

}  // namespace zv::win32::x11
