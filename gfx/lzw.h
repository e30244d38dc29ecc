// LZW coding of the built-in data block: fixed 12-bit codes, two codes packed in
// every three bytes (first code = byte0 + 256 * (byte1 & 15), second code =
// (byte1 >> 4) + 16 * byte2). Codes 0-255 are literal bytes, codes 256-4094 are
// assigned to new strings in order (one per code after the first, until the
// dictionary is full; there is no reset code), and code 4095 ends the data.
//
// The coded data is always a whole number of three-byte groups. When the end code
// falls in the first half of the last group, the second half holds another 4095 as
// padding. The decoder takes codes only from complete groups, so a block cut short
// anywhere, even by one byte, lacks its end code and is reported as truncated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zv {

constexpr uint32_t LZW_END_CODE = 4095;
constexpr uint32_t LZW_FIRST_CODE = 256;
constexpr uint32_t LZW_LAST_CODE = 4094;  // the highest code the dictionary assigns

// Decodes input into output, which holds output_size bytes. Returns 0 when the end
// code is reached, and -1 when the input ends before it (a partial last group
// counts as ended), when the output would exceed output_size, when a code names a
// string not yet defined, or when the padding after an end code is not 4095.
// *produced (if not null) receives the number of bytes written; on -1 these are
// the bytes of the codes decoded before the fault. Never reads or writes outside
// the two buffers, whatever the input.
int32_t lzwDecode(const uint8_t* input, size_t input_size, uint8_t* output, size_t output_size,
                  size_t* produced);

// Encodes the bytes; the result always decodes back to them. Once all codes up to
// 4094 are assigned the dictionary stays as it is and coding goes on with it.
std::vector<uint8_t> lzwEncode(const uint8_t* data, size_t size);

}  // namespace zv
