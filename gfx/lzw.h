// LZW coding of the built-in data block: fixed 12-bit codes, two codes packed in
// every three bytes (first code = byte0 + 256 * (byte1 & 15), second code =
// (byte1 >> 4) + 16 * byte2). Codes 0-255 are literal bytes, codes 256-4094 are
// assigned to new strings in order (one per code after the first, until the
// dictionary is full; there is no reset code), and code 4095 ends the data.
//
// A code in the first half of a group needs the group's first two bytes only, so
// coded data whose end code falls in a first half may stop after those two bytes.
// The encoder writes whole groups, filling such a last group with a second 4095;
// the decoder stops at the first end code and never reads what follows it. Data
// cut short before its end code is complete is reported as truncated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zv {

constexpr uint32_t LZW_END_CODE = 4095;
constexpr uint32_t LZW_FIRST_CODE = 256;
constexpr uint32_t LZW_LAST_CODE = 4094;  // the highest code the dictionary assigns

// Decodes input into output, which holds output_size bytes. Returns 0 when the end
// code is reached, and -1 when the input ends before it (a code cut in two counts
// as ended), when the output would exceed output_size, or when a code names a
// string not yet defined.
// *produced (if not null) receives the number of bytes written; on -1 these are
// the bytes of the codes decoded before the fault. Never reads or writes outside
// the two buffers, whatever the input.
int32_t lzwDecode(const uint8_t* input, size_t input_size, uint8_t* output, size_t output_size,
                  size_t* produced);

// Encodes the bytes; the result always decodes back to them. Once all codes up to
// 4094 are assigned the dictionary stays as it is and coding goes on with it.
std::vector<uint8_t> lzwEncode(const uint8_t* data, size_t size);

}  // namespace zv
