// Code page 437 <-> Unicode: the table of all 256 bytes and the lookups built on it.
#include "console/cp437.h"

#include <algorithm>
#include <array>
#include <utility>

namespace zv {

namespace {

// 0x00-0x1F and 0x7F are the shapes the PC character generator draws for them.
constexpr char16_t low_shapes[32] = {
    0x0000, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022,  // 00-07
    0x25D8, 0x25CB, 0x25D9, 0x2642, 0x2640, 0x266A, 0x266B, 0x263C,  // 08-0F
    0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,  // 10-17
    0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,  // 18-1F
};

constexpr char16_t high_half[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 80-87
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // 88-8F
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 90-97
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,  // 98-9F
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // A0-A7
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // A8-AF
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // B0-B7
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  // B8-BF
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // C0-C7
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  // C8-CF
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // D0-D7
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  // D8-DF
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,  // E0-E7
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,  // E8-EF
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,  // F0-F7
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,  // F8-FF
};

constexpr char32_t table_entry(int b) {
  if (b < 0x20) return low_shapes[b];
  if (b == 0x7F) return 0x2302;
  if (b < 0x80) return static_cast<char32_t>(b);
  return high_half[b - 0x80];
}

// (code point, byte) sorted by code point, for the reverse lookup of the
// characters outside ASCII.
struct ReverseTable {
  std::array<std::pair<char32_t, uint8_t>, 164> entries{};
  int count = 0;
  ReverseTable() {
    for (int b = 1; b < 256; ++b)
      if (b < 0x20 || b >= 0x7F) entries[count++] = {table_entry(b), static_cast<uint8_t>(b)};
    // Look-alikes that keyboards and input methods produce for the same glyphs.
    entries[count++] = {0x03B2, 0xE1};  // Greek small beta
    entries[count++] = {0x03BC, 0xE6};  // Greek small mu
    entries[count++] = {0x2126, 0xEA};  // ohm sign
    std::sort(entries.begin(), entries.begin() + count);
  }
};

const ReverseTable& reverse_table() {
  static const ReverseTable table;
  return table;
}

}  // namespace

char32_t cp437_to_unicode(uint8_t byte) { return table_entry(byte); }

int32_t cp437_to_utf8(uint8_t byte, char out[4]) {
  char32_t c = byte == 0 ? U' ' : table_entry(byte);
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  out[0] = static_cast<char>(0xE0 | (c >> 12));
  out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[2] = static_cast<char>(0x80 | (c & 0x3F));
  return 3;
}

int32_t unicode_to_cp437(char32_t code_point) {
  if (code_point >= 0x20 && code_point < 0x7F) return static_cast<int32_t>(code_point);
  const ReverseTable& t = reverse_table();
  auto end = t.entries.begin() + t.count;
  auto it = std::lower_bound(t.entries.begin(), end, std::make_pair(code_point, uint8_t{0}));
  if (it != end && it->first == code_point) return it->second;
  return -1;
}

}  // namespace zv
