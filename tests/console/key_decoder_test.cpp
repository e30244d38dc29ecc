// The terminal key decoder: every sequence it knows, modifiers, UTF-8, Alt as an
// escape prefix, the time-out of a lone escape and the dropping of the unknown.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/key_decoder.h"

namespace zv {
namespace {

using Keys = std::vector<int32_t>;

constexpr int32_t ext(int32_t scan) { return scan * 256 + 255; }

Keys decode(const std::string& bytes, bool time_out = false, bool utf8 = true) {
  KeyDecoder d(utf8);
  Keys out;
  int32_t keys[DECODED_KEYS_MAX];
  for (unsigned char b : bytes) {
    int32_t n = d.feed(b, keys);
    out.insert(out.end(), keys, keys + n);
  }
  if (time_out) {
    int32_t n = d.time_out(keys);
    out.insert(out.end(), keys, keys + n);
  }
  return out;
}

struct Case {
  std::string bytes;
  Keys keys;
};

TEST(KeyDecoder, CursorEditingAndFunctionKeys) {
  const Case cases[] = {
      {"\x1b[A", {ext(72)}},   {"\x1b[B", {ext(80)}},   {"\x1b[C", {ext(77)}},   {"\x1b[D", {ext(75)}},
      {"\x1bOA", {ext(72)}},   {"\x1bOB", {ext(80)}},   {"\x1bOC", {ext(77)}},   {"\x1bOD", {ext(75)}},
      {"\x1b[H", {ext(71)}},   {"\x1b[F", {ext(79)}},   {"\x1bOH", {ext(71)}},   {"\x1bOF", {ext(79)}},
      {"\x1b[1~", {ext(71)}},  {"\x1b[4~", {ext(79)}},  {"\x1b[7~", {ext(71)}},  {"\x1b[8~", {ext(79)}},
      {"\x1b[2~", {ext(82)}},  {"\x1b[3~", {ext(83)}},  {"\x1b[5~", {ext(73)}},  {"\x1b[6~", {ext(81)}},
      {"\x1bOP", {ext(59)}},   {"\x1bOQ", {ext(60)}},   {"\x1bOR", {ext(61)}},   {"\x1bOS", {ext(62)}},
      {"\x1b[11~", {ext(59)}}, {"\x1b[12~", {ext(60)}}, {"\x1b[13~", {ext(61)}}, {"\x1b[14~", {ext(62)}},
      {"\x1b[15~", {ext(63)}}, {"\x1b[17~", {ext(64)}}, {"\x1b[18~", {ext(65)}}, {"\x1b[19~", {ext(66)}},
      {"\x1b[20~", {ext(67)}}, {"\x1b[21~", {ext(68)}}, {"\x1b[23~", {ext(133)}}, {"\x1b[24~", {ext(134)}},
      {"\x1b[[A", {ext(59)}},  {"\x1b[[E", {ext(63)}},  {"\x1b[Z", {ext(0x0F)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes.substr(1));
    EXPECT_EQ(decode(c.bytes), c.keys);
  }
  EXPECT_EQ(ext(59), 15359);  // F1 as the keyboard gives it
}

TEST(KeyDecoder, ModifierParameters) {
  const Case cases[] = {
      {"\x1b[1;5A", {36351}},        // Ctrl+Up
      {"\x1b[1;3A", {ext(0x98)}},    // Alt+Up
      {"\x1b[1;2A", {ext(72)}},      // Shift+Up has no code of its own
      {"\x1b[1;7D", {ext(0x9B)}},    // Ctrl+Alt: Alt wins
      {"\x1b[1;6C", {ext(0x74)}},    // Ctrl+Shift: Ctrl wins
      {"\x1b[1;5H", {ext(0x77)}},    {"\x1b[1;3F", {ext(0x9F)}},
      {"\x1b[3;5~", {ext(0x93)}},    {"\x1b[2;3~", {ext(0xA2)}},  {"\x1b[5;5~", {ext(0x84)}},
      {"\x1b[6;3~", {ext(0xA1)}},
      {"\x1b[1;2P", {21759}},        // Shift+F1
      {"\x1b[1;5P", {24319}},        // Ctrl+F1
      {"\x1b[1;3P", {26879}},        // Alt+F1
      {"\x1b[1;3S", {27647}},        // Alt+F4: the close request's code
      {"\x1bO2P", {21759}},          // the older SS3 form
      {"\x1b[15;2~", {ext(88)}},     {"\x1b[21;5~", {ext(103)}},  {"\x1b[23;2~", {ext(135)}},
      {"\x1b[24;5~", {ext(138)}},    {"\x1b[23;3~", {ext(139)}},  {"\x1b[24;3~", {ext(140)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes.substr(1));
    EXPECT_EQ(decode(c.bytes), c.keys);
  }
}

TEST(KeyDecoder, PlainBytes) {
  const Case cases[] = {
      {"a", {97}},        {"\x7f", {8}},         {"\x08", {8}},      {"\r", {13}},
      {"\n", {13}},       {"\r\n", {13}},        {"\n\n", {13, 13}}, {"\r\r", {13, 13}},
      {"\r\n\r\n", {13, 13}}, {"\t", {9}},       {"\x01", {1}},      {std::string("\0", 1), {}},
      {"12", {'1', '2'}}, {"\x1bOM", {13}},      {"\x1bOp\x1bOy", {'0', '9'}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(decode(c.bytes), c.keys);
  }
}

TEST(KeyDecoder, Utf8Characters) {
  const Case cases[] = {
      {"\xc3\xb6", {0x94}},           {"\xc3\x9f", {0xE1}},           {"\xc3\x84", {0x8E}},
      {"\xe2\x94\x80", {0xC4}},       {"\xe2\x98\xba", {0x01}},       {"\xc2\xa0", {0xFF}},
      {"\xe2\x82\xac", {}},           // euro: not in the code page
      {"\xf0\x9f\x98\x80", {}},       // outside the code page
      {"\xc0\xaf", {}},               // overlong
      {"\xed\xa0\x80", {}},           // surrogate
      {"\x80\xbf", {}},               // stray continuation bytes
      {"\xc3" "a", {'a'}},            // cut off by an ASCII byte, which still counts
      {"\xe2\x94" "\x1b[A", {ext(72)}},
      {"x\xc3\xb6y", {'x', 0x94, 'y'}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(decode(c.bytes), c.keys);
  }
  // Without UTF-8 each byte is the code page 437 byte it is.
  EXPECT_EQ(decode("\xc3\xb6", false, false), (Keys{0xC3, 0xB6}));
  EXPECT_EQ(decode("\x94", false, false), (Keys{0x94}));
}

TEST(KeyDecoder, AltAsEscapePrefix) {
  EXPECT_EQ(decode("\x1b" "a"), (Keys{7935}));  // Alt+A
  EXPECT_EQ(decode("\x1b" "A"), (Keys{7935}));
  EXPECT_EQ(decode("\x1bq\x1bm"), (Keys{ext(16), ext(50)}));
  EXPECT_EQ(decode("\x1b" "7"), (Keys{ext(0x82)}));  // the same code as Alt+-
  EXPECT_EQ(decode("\x1b-"), (Keys{ext(0x82)}));
  EXPECT_EQ(decode("\x1b" "1\x1b" "0"), (Keys{ext(0x78), ext(0x81)}));
  EXPECT_EQ(decode("\x1b\r"), (Keys{ext(0x1C)}));
  EXPECT_EQ(decode("\x1b!"), (Keys{'!'}));  // no code of its own: the character
  EXPECT_EQ(decode("\x1b\xc3\xb6"), (Keys{0x94}));
}

TEST(KeyDecoder, LoneEscapeNeedsTheTimeOut) {
  KeyDecoder d;
  int32_t keys[DECODED_KEYS_MAX];
  EXPECT_EQ(d.feed(0x1b, keys), 0);
  EXPECT_TRUE(d.pending());
  ASSERT_EQ(d.time_out(keys), 1);
  EXPECT_EQ(keys[0], 27);
  EXPECT_FALSE(d.pending());
  EXPECT_EQ(decode("\x1b\x1b", true), (Keys{27, 27}));
  EXPECT_EQ(decode("\x1b[", true), Keys{});
  EXPECT_EQ(decode("\x1b[1;5", true), Keys{});
  EXPECT_EQ(decode("\xe2\x94", true), Keys{});
}

TEST(KeyDecoder, KeysComeWithTheirLastByte) {
  KeyDecoder d;
  int32_t keys[DECODED_KEYS_MAX];
  const std::string seq = "\x1b[24;5~";
  for (size_t i = 0; i + 1 < seq.size(); ++i) {
    EXPECT_EQ(d.feed(static_cast<uint8_t>(seq[i]), keys), 0) << i;
    EXPECT_TRUE(d.pending());
  }
  ASSERT_EQ(d.feed('~', keys), 1);
  EXPECT_EQ(keys[0], ext(138));
  EXPECT_FALSE(d.pending());
}

TEST(KeyDecoder, UnknownSequencesAreDropped) {
  const Case cases[] = {
      {"\x1b[99~x", {'x'}},
      {"\x1b[?1;2cx", {'x'}},            // a terminal's answer to a query
      {"\x1b[200~ab\x1b[201~", {'a', 'b'}},  // bracketed paste marks
      {"\x1b[Ix", {'x'}},                // focus report
      {"\x1b[1;2;3;4;5Ax", {'x'}},       // more parameters than any key has
      {"\x1b[" + std::string(40, '1') + "Ab", {'b'}},  // overlong, skipped to its end
      {"\x1bOZx", {'x'}},
      {"\x1b[[Fx", {'x'}},
      {"\x1b[1\x1b[A", {ext(72)}},       // broken off by the next escape
      {"\x1b[1\r", {13}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes.substr(1));
    EXPECT_EQ(decode(c.bytes), c.keys);
  }
}

}  // namespace
}  // namespace zv
