// Tests of the key translation: key codes of key presses under the modifiers and on
// other layouts (the layout's answer given directly), scan codes of virtual keys and
// the refresh of the key-state table from a keyboard state.
#include "common/key_translation.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>

namespace zv {
namespace {

constexpr uint32_t ALT = KEYMOD_LEFT_ALT, CTRL = KEYMOD_LEFT_CTRL, SHIFT = KEYMOD_SHIFT,
                   EXT = KEYMOD_EXTENDED;

struct KeyCase {
  const char* what;
  uint8_t character;  // what ToAscii gave
  uint8_t scan;
  uint32_t modifiers;
  uint32_t mapped;  // MapVirtualKeyA(virtual key, MAPVK_VK_TO_CHAR)
  int32_t expected;
};

const KeyCase key_cases[] = {
    {"F1", 0, 59, 0, 0, 15359},
    {"Shift+F1", 0, 59, SHIFT, 0, 21759},
    {"Ctrl+F1", 0, 59, KEYMOD_RIGHT_CTRL, 0, 24319},
    {"Alt+F1", 0, 59, ALT, 0, 26879},
    {"Ctrl+Alt+F1 reads the Alt column", 0, 59, ALT | CTRL | SHIFT, 0, 26879},
    {"Alt+F4 is the close request", 0, 62, ALT, 0, 27647},
    {"F11", 0, 87, 0, 0, 0x85FF},
    {"Alt+F12", 0, 88, KEYMOD_RIGHT_ALT, 0, 0x8CFF},
    {"Up", 0, 72, EXT, 0, 18687},
    {"Ctrl+Up", 0, 72, EXT | CTRL, 0, 36351},
    {"Alt+Delete", 0, 83, EXT | ALT, 0, 0xA3FF},
    {"keypad 8 without Num Lock", 0, 72, 0, 0, 18687},
    {"keypad 8 with Num Lock", '8', 72, 0, '8', '8'},
    {"Alt+keypad 5", 0, 76, ALT, 0, 0x4CFF},
    {"a", 'a', 30, 0, 'A', 'a'},
    {"Alt+A", 'a', 30, ALT, 'A', 7935},
    {"Alt+Shift+A", 'A', 30, ALT | SHIFT, 'A', 7935},
    {"right Alt+A", 'a', 30, KEYMOD_RIGHT_ALT, 'A', 7935},
    {"Alt+A on a layout whose key gives another character", 0xA0, 30, ALT, 'A', 0xA0},
    {"Alt on a key whose layout character differs from the typed one", 'q', 30, ALT, 0xDF, 'q'},
    {"AltGr+Q gives its character", '@', 16, KEYMOD_RIGHT_ALT | CTRL, 'Q', '@'},
    {"AltGr+7 gives its character", '{', 8, KEYMOD_RIGHT_ALT | CTRL, '7', '{'},
    {"AltGr on a key without AltGr character", 0, 16, KEYMOD_RIGHT_ALT | CTRL, 'Q', -1},
    {"Alt+7 as Alt+-", '7', 8, ALT, '7', 0x82FF},
    {"Alt+-", '-', 12, ALT, '-', 0x82FF},
    {"Alt+8 as Alt+=", '8', 9, ALT, '8', 0x83FF},
    {"Alt+=", '=', 13, ALT, '=', 0x83FF},
    {"Ctrl+2 without character", 0, 3, CTRL, '2', -1},
    {"Ctrl+2 on a key the layout gives no character", 0, 3, CTRL, 0, 0x03FF},
    {"Ctrl+A gives its control character", 0x01, 30, CTRL, 'A', 0x01},
    {"Shift+Tab", 0x09, 15, SHIFT, 0x09, 0x0FFF},
    {"Escape", 27, 1, 0, 0x1B, 27},
    {"plain key whose layout character is a dead key", 0xE2, 26, 0, 0x8000005E, 0xE2},
    {"Caps Lock", 0, 58, 0, 0, -1},
    {"Alt alone", 0, 56, ALT, 0, -1},
    {"left Windows key", 0, 91, EXT, 0, -1},
    {"menu key", 0, 93, EXT | SHIFT, 0, -1},
    {"scan 89 or more with a character", 'x', 100, 0, 'X', 'x'},
    {"scan 89 or more with Alt", 0xE9, 255, ALT, 0, 0xE9},
    {"scan 89 or more without character", 0, 89, 0, 0, -1},
    {"keypad Enter", 0, 28, EXT, 0x0D, 13},
    {"Ctrl+keypad Enter", 0, 28, EXT | CTRL, 0x0D, 10},
    {"Alt+keypad Enter", 0, 28, EXT | ALT, 0x0D, 0xA6FF},
    {"keypad Enter with its character", 13, 28, EXT, 0x0D, 13},
    {"keypad / with its character", '/', 53, EXT, '/', '/'},
    {"Ctrl+keypad /", 0, 53, EXT | CTRL, 0, 0x95FF},
    {"extended key without a row", 0, 30, EXT, 'A', -1},
};

TEST(KeyTranslation, KeyCodes) {
  for (const KeyCase& k : key_cases) {
    SCOPED_TRACE(k.what);
    EXPECT_EQ(translateKeyWith(k.character, k.scan, k.modifiers, k.mapped), k.expected);
  }
}

// The same rule with the keyboard layout in use (US): MapVirtualKeyA is asked for
// the virtual key's character.
TEST(KeyTranslation, AsksTheLayoutForTheVirtualKeysCharacter) {
  EXPECT_EQ(translateKey('a', 30, 'A', ALT), 7935);
  EXPECT_EQ(translateKey(0, 3, '2', CTRL), -1);
  EXPECT_EQ(translateKey(0, 59, 0x70, 0), 15359);
  EXPECT_EQ(translateKey(27, 1, 0x1B, 0), 27);
}

TEST(KeyTranslation, ScanCodeOfVirtualKey) {
  const struct {
    uint32_t virtual_key;
    int32_t scan;
  } cases[] = {
      {0, 1},       {0x1B, 1},     {'A', 30},  {'0', 11},  {0xBF, 53},  // slash
      {0x6F, 53},   // keypad divide, a row's second key
      {0x6D, 12},   // keypad minus shares the row of -
      {0x68, 72},   {0x10, 42},  // Shift: the first of its two rows
      {0x5D, 93},   {0x7B, 88},  // menu key, F12
      {0x07, 0},    {0xFF, 0},     {0x11B, 0},  // unknown, and wider than a byte
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.virtual_key);
    EXPECT_EQ(scanCodeOfVirtualKey(c.virtual_key), c.scan);
  }
}

TEST(KeyTranslation, ScancodeTableEndsAtItsLastRowAndRises) {
  const size_t rows = std::size(scancode_table);
  EXPECT_EQ(scancode_table[rows - 1].scan, 0);
  for (size_t i = 1; i + 1 < rows; ++i)
    EXPECT_GT(scancode_table[i].scan, scancode_table[i - 1].scan) << i;
}

class KeyStates : public ::testing::Test {
 protected:
  static constexpr uint8_t UNTOUCHED = 7;
  uint8_t keyboard[256] = {};
  uint8_t states[128];
  void SetUp() override { std::memset(states, UNTOUCHED, sizeof states); }
  bool hasRow(int scan) {
    for (const ScancodeRow& row : scancode_table)
      if (row.scan != 0 && row.scan == scan) return true;
    return false;
  }
};

TEST_F(KeyStates, KeysUpClearEveryKeyAndLeaveTheRest) {
  keyboard[0] = 0x80;  // no key: rows without a second key must not read it
  keyboard['A'] = 0x01;  // toggled, not down
  states[30] = 1;
  refreshKeyStates(keyboard, states);
  for (int scan = 0; scan < 128; ++scan) {
    SCOPED_TRACE(scan);
    EXPECT_EQ(states[scan], hasRow(scan) ? 0 : UNTOUCHED);
  }
  for (int scan : {0, 74, 76, 84, 85, 86, 89, 90, 94, 127}) EXPECT_FALSE(hasRow(scan)) << scan;
}

TEST_F(KeyStates, EitherVirtualKeyOfARowSetsIt) {
  for (uint8_t virtual_key : {0xBF, 0x6F}) {  // slash, keypad divide
    SCOPED_TRACE(virtual_key);
    std::memset(keyboard, 0, sizeof keyboard);
    keyboard[virtual_key] = 0x81;
    refreshKeyStates(keyboard, states);
    EXPECT_EQ(states[53], 1);
    EXPECT_EQ(states[52], 0);
  }
}

TEST_F(KeyStates, KeypadMinusSetsTheMinusKeyOnly) {
  keyboard[0x6D] = 0x80;
  refreshKeyStates(keyboard, states);
  EXPECT_EQ(states[12], 1);
  EXPECT_EQ(states[74], UNTOUCHED);
}

TEST_F(KeyStates, ShiftSetsBothShiftKeys) {
  keyboard[0x10] = 0x80;
  keyboard[0x5B] = 0x80;
  refreshKeyStates(keyboard, states);
  EXPECT_EQ(states[42], 1);
  EXPECT_EQ(states[54], 1);
  EXPECT_EQ(states[91], 1);
  EXPECT_EQ(states[29], 0);
}

}  // namespace
}  // namespace zv
