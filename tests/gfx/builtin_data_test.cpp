// The built-in data block: the unpacked fonts and palettes, the LZW decoder's
// answers to well-formed, truncated and corrupt input (checked against streams
// packed here by hand), and encoder round trips up to and past a full dictionary.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <thread>
#include <vector>

#include "gfx/builtin_data.h"
#include "gfx/lzw.h"

namespace zv {
namespace {

using Bytes = std::vector<uint8_t>;

// Packs codes two per three bytes; an odd count leaves the upper half zero unless
// a padding code is given.
Bytes pack(const std::vector<uint32_t>& codes, uint32_t padding = 0) {
  Bytes out;
  for (size_t i = 0; i < codes.size(); i += 2) {
    uint32_t a = codes[i];
    uint32_t b = i + 1 < codes.size() ? codes[i + 1] : padding;
    out.push_back(static_cast<uint8_t>(a & 0xFF));
    out.push_back(static_cast<uint8_t>((a >> 8) | ((b & 15) << 4)));
    out.push_back(static_cast<uint8_t>(b >> 4));
  }
  return out;
}

std::vector<uint32_t> unpack_codes(const Bytes& in) {
  std::vector<uint32_t> codes;
  for (size_t i = 0; i + 3 <= in.size(); i += 3) {
    codes.push_back(in[i] + 256u * (in[i + 1] & 15u));
    codes.push_back((in[i + 1] >> 4) + 16u * in[i + 2]);
  }
  return codes;
}

// The bytes without their last n.
Bytes cut(Bytes b, size_t n) {
  b.resize(b.size() - n);
  return b;
}

struct Decoded {
  int32_t result;
  Bytes bytes;
};

// Decodes into an exactly sized heap buffer, so that ASan sees any overrun.
Decoded decode(const Bytes& in, size_t capacity) {
  std::vector<uint8_t> input_copy(in);
  auto* output = new uint8_t[capacity ? capacity : 1];
  size_t produced = 12345;
  int32_t result = lzwDecode(input_copy.data(), input_copy.size(), output, capacity, &produced);
  EXPECT_LE(produced, capacity);
  Decoded d{result, Bytes(output, output + std::min(produced, capacity))};
  delete[] output;
  return d;
}

const Bytes& stored_block() {
  static const Bytes block(builtin_data_packed, builtin_data_packed + builtin_data_packed_size);
  return block;
}

const uint8_t* glyph(int32_t height, int code) {
  const FontInfo* font = builtinFont(height);
  return font->glyph_data + code * height;
}

Bytes rows(const uint8_t* p, size_t n) { return Bytes(p, p + n); }

// --- The unpacked block --------------------------------------------------------

TEST(BuiltinData, StoredBlockUnpacksToTheWholeLayout) {
  Decoded d = decode(stored_block(), BUILTIN_DATA_SIZE);
  EXPECT_EQ(d.result, 0);
  EXPECT_EQ(d.bytes.size(), 10742u);
  EXPECT_EQ(unpackBuiltinData(), 0);
  EXPECT_EQ(d.bytes, rows(builtinData(), BUILTIN_DATA_SIZE));
  EXPECT_EQ(builtinDataChecksum(d.bytes.data(), d.bytes.size()), builtin_data_checksum);
  // The records point where the layout says.
  EXPECT_EQ(builtinFont(8)->glyph_data, builtinData() + 0);
  EXPECT_EQ(builtinFont(14)->glyph_data, builtinData() + 2048);
  EXPECT_EQ(builtinFont(16)->glyph_data, builtinData() + 2048 + 3584);
  EXPECT_EQ(builtinPalette(2)->rgb_data, builtinData() + 9728);
  EXPECT_EQ(builtinPalette(16)->rgb_data, builtinData() + 9728 + 6);
  EXPECT_EQ(builtinPalette(64)->rgb_data, builtinData() + 9728 + 6 + 48);
  EXPECT_EQ(builtinPalette(256)->rgb_data, builtinData() + 9728 + 6 + 48 + 192);
  for (int32_t h : {8, 14, 16}) {
    EXPECT_EQ(builtinFont(h)->glyph_width, 8);
    EXPECT_EQ(builtinFont(h)->glyph_height, h);
  }
  for (int32_t n : {2, 16, 64, 256}) EXPECT_EQ(builtinPalette(n)->colour_count, n);
  EXPECT_EQ(builtinFont(12), nullptr);
  EXPECT_EQ(builtinPalette(8), nullptr);
}

TEST(BuiltinData, UnpackingFromManyThreadsAtOnceGivesOneResult) {
  std::vector<std::thread> threads;
  std::vector<const FontInfo*> seen(8);
  for (size_t i = 0; i < seen.size(); ++i)
    threads.emplace_back([&seen, i] { seen[i] = builtinFont(16); });
  for (auto& t : threads) t.join();
  for (const FontInfo* f : seen) {
    EXPECT_EQ(f, builtinFont(16));
    EXPECT_EQ(f->glyph_data[65 * 16 + 7], 0x7F);
  }
}

TEST(BuiltinData, FontGlyphsAreBitReversedCodePage437Shapes) {
  const Bytes a16 = {0x00, 0x00, 0x08, 0x1C, 0x36, 0x63, 0x63, 0x7F,
                     0x63, 0x63, 0x63, 0x63, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(rows(builtinData() + 5632 + 65 * 16, 16), a16);

  // o with diaeresis: the dots in row 2, the bowl in rows 5-11, nothing else.
  const uint8_t* o = glyph(16, 0x94);
  EXPECT_EQ(o[2], 0x63);
  EXPECT_EQ(rows(o + 5, 7), (Bytes{0x3E, 0x63, 0x63, 0x63, 0x63, 0x63, 0x3E}));
  for (int r : {0, 1, 3, 4, 12, 13, 14, 15}) EXPECT_EQ(o[r], 0) << "row " << r;

  struct Case {
    int32_t height;
    int code;
    Bytes rows;
  };
  const Case cases[] = {
      {8, 0, Bytes(8, 0)},
      {8, 1, {0x7E, 0x81, 0xA5, 0x81, 0xBD, 0x99, 0x81, 0x7E}},
      {8, 65, {0x0C, 0x1E, 0x33, 0x33, 0x3F, 0x33, 0x33, 0x00}},
      {8, 0xDB, Bytes(8, 0xFF)},  // full block
      {14, 0, Bytes(14, 0)},
      {14, 1, {0x00, 0x00, 0x7E, 0x81, 0xA5, 0x81, 0x81, 0xBD, 0x99, 0x81, 0x7E, 0x00, 0x00, 0x00}},
      {14, 65, {0x00, 0x00, 0x08, 0x1C, 0x36, 0x63, 0x63, 0x7F, 0x63, 0x63, 0x63, 0x00, 0x00, 0x00}},
      {16, 1, {0x00, 0x00, 0x7E, 0x81, 0xA5, 0x81, 0x81, 0xBD, 0x99, 0x81, 0x81, 0x7E, 0x00, 0x00, 0x00, 0x00}},
      {16, 0xDB, Bytes(16, 0xFF)},
      {16, 255, Bytes(16, 0)},
  };
  for (const Case& c : cases)
    EXPECT_EQ(rows(glyph(c.height, c.code), c.height), c.rows) << "8x" << c.height << " glyph " << c.code;

  // The bit order shows in a lopsided shape: the serif atop "L" spans its four
  // leftmost pixels, bits 0-3, and the foot runs out to bit 6.
  const uint8_t* l16 = glyph(16, 'L');
  EXPECT_EQ(l16[2], 0x0F);
  EXPECT_EQ(l16[11], 0x7F);
}

struct Rgb {
  int index;
  uint8_t r, g, b;
};

void expect_colours(int32_t count, std::initializer_list<Rgb> colours) {
  const uint8_t* p = builtinPalette(count)->rgb_data;
  for (const Rgb& c : colours) {
    EXPECT_EQ(rows(p + 3 * c.index, 3), (Bytes{c.r, c.g, c.b})) << count << " colours, entry " << c.index;
  }
}

TEST(BuiltinData, PalettesHoldTheirDefinedColours) {
  expect_colours(2, {{0, 0, 0, 0}, {1, 255, 255, 255}});
  expect_colours(16, {{0, 0, 0, 0},
                      {1, 0, 0, 170},
                      {2, 0, 170, 0},
                      {3, 0, 170, 170},
                      {4, 170, 0, 0},
                      {5, 170, 0, 170},
                      {6, 170, 85, 0},
                      {7, 170, 170, 170},
                      {8, 85, 85, 85},
                      {9, 85, 85, 255},
                      {10, 85, 255, 85},
                      {11, 85, 255, 255},
                      {12, 255, 85, 85},
                      {13, 255, 85, 255},
                      {14, 255, 255, 85},
                      {15, 255, 255, 255}});
  // Bits 0-2 give 170 to blue, green, red, bits 3-5 give 85.
  expect_colours(64, {{0, 0, 0, 0},
                      {1, 0, 0, 170},
                      {4, 170, 0, 0},
                      {8, 0, 0, 85},
                      {20, 170, 85, 0},
                      {56, 85, 85, 85},
                      {63, 255, 255, 255}});
  // The first 16 of 256 are the 16 colours.
  EXPECT_EQ(rows(builtinPalette(256)->rgb_data, 48), rows(builtinPalette(16)->rgb_data, 48));

  const uint8_t grey[16] = {0, 20, 32, 44, 56, 68, 80, 97, 113, 129, 145, 161, 182, 202, 226, 255};
  for (int i = 0; i < 16; ++i) {
    uint8_t v = grey[i];
    expect_colours(256, {{16 + i, v, v, v}});
  }
  // Hue rings: blue, magenta, red, yellow, green, cyan of the bright ring, a pale
  // entry, and the darkest ring's last entry.
  expect_colours(256, {{32, 0, 0, 255},
                       {33, 64, 0, 255},
                       {36, 255, 0, 255},
                       {40, 255, 0, 0},
                       {44, 255, 255, 0},
                       {48, 0, 255, 0},
                       {52, 0, 255, 255},
                       {55, 0, 64, 255},
                       {56, 125, 125, 255},
                       {104, 0, 0, 113},
                       {247, 44, 48, 64}});
  for (int i = 248; i < 256; ++i) expect_colours(256, {{i, 0, 0, 0}});
}

// --- The decoder on streams packed by hand ---------------------------------------

TEST(Lzw, DecoderFollowsTheCodes) {
  struct Case {
    const char* name;
    Bytes input;
    size_t capacity;
    int32_t result;
    Bytes output;
  };
  const Case cases[] = {
      {"empty data", pack({4095, 4095}), 8, 0, {}},
      {"one literal, end in the upper half", pack({'x', 4095}), 8, 0, {'x'}},
      {"end in the lower half, padded", pack({'a', 'b', 4095}, 4095), 8, 0, {'a', 'b'}},
      {"end in the lower half of a two-byte group", cut(pack({'a', 'b', 4095}), 1), 8, 0, {'a', 'b'}},
      {"end in the lower half, anything after it", pack({'a', 'b', 4095}, 7), 8, 0, {'a', 'b'}},
      {"literal in a two-byte group, no end", cut(pack({'a', 'b', 'c'}), 1), 8, -1, {'a', 'b', 'c'}},
      {"end code cut in two", cut(pack({'a', 'b', 4095}), 2), 8, -1, {'a', 'b'}},
      {"dictionary string", pack({'a', 'b', 256, 4095}), 8, 0, {'a', 'b', 'a', 'b'}},
      {"code defined by itself", pack({'a', 256, 257, 4095}, 4095), 16, 0, {'a', 'a', 'a', 'a', 'a', 'a'}},
      {"bytes after the end are not read", [] {
         Bytes b = pack({'q', 4095});
         b.push_back(0x12);
         return b;
       }(), 8, 0, {'q'}},
      {"no input", {}, 8, -1, {}},
      {"first code not a literal", pack({256, 4095}), 8, -1, {}},
      {"code beyond the next one", pack({'a', 'b', 258, 4095}), 8, -1, {'a', 'b'}},
      {"no end code", pack({'a', 'b'}), 8, -1, {'a', 'b'}},
      {"output exactly full", pack({'a', 'b', 256, 4095}), 4, 0, {'a', 'b', 'a', 'b'}},
      {"string one byte too long", pack({'a', 'b', 256, 4095}), 3, -1, {'a', 'b'}},
      {"literal past the end", pack({'a', 'b', 4095}, 4095), 1, -1, {'a'}},
      {"no room at all", pack({'a', 4095}), 0, -1, {}},
      {"self-defined string too long", pack({'a', 256, 4095}, 4095), 2, -1, {'a'}},
  };
  for (const Case& c : cases) {
    Decoded d = decode(c.input, c.capacity);
    EXPECT_EQ(d.result, c.result) << c.name;
    EXPECT_EQ(d.bytes, c.output) << c.name;
  }
}

TEST(Lzw, CodesUpTo4094AreAssignedAndKept) {
  // After n literals the codes 256 ... 256 + n - 2 are assigned and 255 + n is the
  // one being defined; 3840 literals fill the dictionary up to 4094.
  auto literals = [](int n) {
    std::vector<uint32_t> codes;
    for (int i = 0; i < n; ++i) codes.push_back(static_cast<uint32_t>(i * 7 % 251));
    return codes;
  };
  auto text_of = [](const std::vector<uint32_t>& codes) {
    Bytes b;
    for (uint32_t c : codes) b.push_back(static_cast<uint8_t>(c));
    return b;
  };
  struct Case {
    int literals;
    std::vector<uint32_t> then;
    int32_t result;
  };
  const Case cases[] = {
      {3838, {4094}, -1},          // not defined yet
      {3839, {4094}, 0},           // defined by itself: the last literal twice
      {3840, {4094, 256}, 0},      // full: both the last and the first entry usable
      {3840, {4094, 4094, 'z'}, 0},  // and no further code is assigned over them
  };
  for (const Case& c : cases) {
    std::vector<uint32_t> codes = literals(c.literals);
    Bytes expected = text_of(codes);
    const size_t n = expected.size();
    for (uint32_t code : c.then) {
      if (code == 4094 && c.literals == 3839) expected.insert(expected.end(), {expected[n - 1], expected[n - 1]});
      else if (code == 4094) expected.insert(expected.end(), {expected[3838], expected[3839]});
      else if (code == 256) expected.insert(expected.end(), {expected[0], expected[1]});
      else expected.push_back(static_cast<uint8_t>(code));
    }
    codes.insert(codes.end(), c.then.begin(), c.then.end());
    codes.push_back(LZW_END_CODE);
    Decoded d = decode(pack(codes, LZW_END_CODE), 8000);
    EXPECT_EQ(d.result, c.result) << c.literals << " literals";
    if (c.result == 0) {
      EXPECT_TRUE(d.bytes == expected) << c.literals << " literals";
    }
  }
}

// --- The stored block cut, corrupted and cramped --------------------------------

TEST(Lzw, EveryTruncationOfTheStoredBlockIsReported) {
  const Bytes& block = stored_block();
  // The block ends in a group whose first half is the end code; without the padding
  // byte after it the block is whole.
  ASSERT_EQ(unpack_codes(block).end()[-2], LZW_END_CODE);
  EXPECT_EQ(decode(cut(block, 1), BUILTIN_DATA_SIZE).result, 0);
  for (size_t length = 0; length + 1 < block.size(); ++length) {
    Bytes part(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(length));
    Decoded d = decode(part, BUILTIN_DATA_SIZE);
    ASSERT_EQ(d.result, -1) << "length " << length;
    // What came out is a prefix of the data.
    ASSERT_TRUE(std::equal(d.bytes.begin(), d.bytes.end(), builtinData())) << "length " << length;
  }
}

TEST(Lzw, CorruptOrCrampedStoredBlockIsReported) {
  const Bytes& block = stored_block();
  // A code far ahead of the dictionary near the start.
  Bytes corrupt = block;
  corrupt[3] = 0xFF;
  corrupt[4] = (corrupt[4] & 0xF0) | 0x0E;  // code 0xEFF = 3839, undefined there
  EXPECT_EQ(decode(corrupt, BUILTIN_DATA_SIZE).result, -1);

  EXPECT_EQ(decode(block, BUILTIN_DATA_SIZE - 1).result, -1);
  EXPECT_EQ(decode(block, BUILTIN_DATA_SIZE + 100).result, 0);

  // A changed byte anywhere gives 0 or -1 and stays inside the buffers (the
  // decode helper checks the count, ASan the accesses).
  std::mt19937 rng(7);
  int reported = 0;
  for (int i = 0; i < 300; ++i) {
    Bytes changed = block;
    changed[rng() % changed.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
    int32_t result = decode(changed, BUILTIN_DATA_SIZE).result;
    EXPECT_TRUE(result == 0 || result == -1);
    reported += result == -1;
  }
  EXPECT_GT(reported, 0);
}

// --- Round trips through the encoder ---------------------------------------------

void expect_round_trip(const Bytes& data, const char* name) {
  Bytes coded = lzwEncode(data.data(), data.size());
  EXPECT_EQ(coded.size() % 3, 0u) << name;
  Decoded d = decode(coded, data.size());
  EXPECT_EQ(d.result, 0) << name;
  EXPECT_TRUE(d.bytes == data) << name;
  if (!data.empty()) {
    EXPECT_EQ(decode(coded, data.size() - 1).result, -1) << name;
  }
}

TEST(Lzw, EncoderRoundTrips) {
  expect_round_trip(rows(builtinData(), BUILTIN_DATA_SIZE), "built-in data");
  EXPECT_EQ(lzwEncode(builtinData(), BUILTIN_DATA_SIZE), stored_block());

  EXPECT_EQ(lzwEncode(nullptr, 0), (Bytes{0xFF, 0xFF, 0xFF}));
  expect_round_trip({}, "empty");
  expect_round_trip({0x5A}, "one byte");
  expect_round_trip({0x5A, 0x5A}, "two bytes");
  expect_round_trip(Bytes(5000, 0), "zeros");

  std::mt19937 rng(99);
  Bytes random(40000);
  for (auto& b : random) b = static_cast<uint8_t>(rng());
  expect_round_trip(random, "random");
  Bytes text(200000);
  for (auto& b : text) b = static_cast<uint8_t>('a' + rng() % 4);
  expect_round_trip(text, "four letters");
}

TEST(Lzw, EncoderGoesOnWithAFullDictionary) {
  // A 6000-byte random stretch fills the dictionary; repeating it makes the
  // encoder use its full dictionary for the rest.
  std::mt19937 rng(3);
  Bytes stretch(6000);
  for (auto& b : stretch) b = static_cast<uint8_t>(rng());
  Bytes data;
  for (int i = 0; i < 20; ++i) data.insert(data.end(), stretch.begin(), stretch.end());
  Bytes coded = lzwEncode(data.data(), data.size());
  std::vector<uint32_t> codes = unpack_codes(coded);
  auto end = std::find(codes.begin(), codes.end(), LZW_END_CODE);
  ASSERT_NE(end, codes.end());
  // Codes are emitted well past the point where 4094 was assigned (the 3840th
  // code), and 4094 itself is used.
  EXPECT_GT(end - codes.begin(), 3840 + 1000);
  EXPECT_NE(std::find(codes.begin() + 3840, end, LZW_LAST_CODE), end);
  EXPECT_EQ(*std::max_element(codes.begin(), end), LZW_LAST_CODE);
  expect_round_trip(data, "repeated stretch");
}

}  // namespace
}  // namespace zv
