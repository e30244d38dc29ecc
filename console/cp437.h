// Code page 437, the character set of every byte inside the system, and Unicode:
// the character of each byte (0x01-0x1F and 0x7F as their graphic shapes), its UTF-8
// form for terminals, and the byte of a typed Unicode character.
#pragma once

#include <cstdint>

namespace zv {

// The Unicode code point shown for the byte; 0x00 is U+0000.
char32_t cp437_to_unicode(uint8_t byte);

// Writes the UTF-8 form of the byte's character (byte 0 as a blank) and returns
// its length, 1 to 3.
int32_t cp437_to_utf8(uint8_t byte, char out[4]);

// The byte whose character is the code point, or -1 when code page 437 has none.
// Besides the table's own characters a few look-alikes are accepted (Greek beta
// for sharp s, Greek mu for the micro sign, the ohm sign for omega).
int32_t unicode_to_cp437(char32_t code_point);

}  // namespace zv
