// The code page 437 tables: known characters, the bijection, the UTF-8 form, and a
// cross-check of the upper half against the C library's own converter.
#include <gtest/gtest.h>

#include <iconv.h>

#include <set>
#include <string>

#include "console/cp437.h"

namespace zv {
namespace {

std::string utf8_of(uint8_t byte) {
  char out[4];
  int32_t n = cp437_to_utf8(byte, out);
  return std::string(out, static_cast<size_t>(n));
}

TEST(Cp437, KnownCharacters) {
  const struct {
    uint8_t byte;
    char32_t code_point;
  } known[] = {
      {0x94, 0x00F6}, {0x81, 0x00FC}, {0x84, 0x00E4}, {0x8E, 0x00C4}, {0x99, 0x00D6}, {0x9A, 0x00DC},
      {0xE1, 0x00DF}, {0xC4, 0x2500}, {0xDB, 0x2588}, {0x01, 0x263A}, {0xFB, 0x221A}, {0xE3, 0x03C0},
      {0x7F, 0x2302}, {0xFF, 0x00A0}, {0x1B, 0x2190}, {0x0A, 0x25D9}, {0x9E, 0x20A7}, {0xB0, 0x2591},
      {0xCD, 0x2550}, {0xEA, 0x03A9}, {0xF8, 0x00B0}, {0x41, 0x0041},
  };
  for (const auto& k : known) {
    SCOPED_TRACE(static_cast<int>(k.byte));
    EXPECT_EQ(cp437_to_unicode(k.byte), k.code_point);
    EXPECT_EQ(unicode_to_cp437(k.code_point), k.byte);
  }
}

TEST(Cp437, IsABijectionOnBytes1To255) {
  std::set<char32_t> seen;
  for (int b = 1; b < 256; ++b) {
    char32_t c = cp437_to_unicode(static_cast<uint8_t>(b));
    EXPECT_TRUE(seen.insert(c).second) << "byte " << b << " repeats U+" << std::hex << static_cast<uint32_t>(c);
    EXPECT_EQ(unicode_to_cp437(c), b) << "byte " << b;
    EXPECT_TRUE(c >= 0x20) << "byte " << b << " maps to a control character";
  }
}

TEST(Cp437, ReverseLookupOutsideTheTable) {
  EXPECT_EQ(unicode_to_cp437(0x20AC), -1);  // euro sign
  EXPECT_EQ(unicode_to_cp437(0x1F600), -1);
  EXPECT_EQ(unicode_to_cp437(0x0001), -1);  // control characters are not typed glyphs
  EXPECT_EQ(unicode_to_cp437(0x03B2), 0xE1);  // beta shares the glyph of sharp s
  EXPECT_EQ(unicode_to_cp437(0x03BC), 0xE6);
  EXPECT_EQ(unicode_to_cp437(0x2126), 0xEA);
}

TEST(Cp437, Utf8Form) {
  EXPECT_EQ(utf8_of(0x41), "A");
  EXPECT_EQ(utf8_of(0x00), " ");
  EXPECT_EQ(utf8_of(0x94), "\xc3\xb6");
  EXPECT_EQ(utf8_of(0xC4), "\xe2\x94\x80");
  EXPECT_EQ(utf8_of(0x01), "\xe2\x98\xba");
  EXPECT_EQ(utf8_of(0xFF), "\xc2\xa0");
}

TEST(Cp437, UpperHalfAgreesWithTheCLibrary) {
  iconv_t cd = iconv_open("UTF-32LE", "IBM437");
  if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "the C library has no IBM437 converter";
  for (int b = 0x80; b < 256; ++b) {
    char in = static_cast<char>(b);
    unsigned char out[4] = {};
    char* ip = &in;
    char* op = reinterpret_cast<char*>(out);
    size_t il = 1, ol = 4;
    ASSERT_NE(iconv(cd, &ip, &il, &op, &ol), static_cast<size_t>(-1)) << "byte " << b;
    char32_t c = out[0] | (out[1] << 8) | (out[2] << 16) | (static_cast<char32_t>(out[3]) << 24);
    EXPECT_EQ(cp437_to_unicode(static_cast<uint8_t>(b)), c) << "byte " << b;
  }
  iconv_close(cd);
}

}  // namespace
}  // namespace zv
