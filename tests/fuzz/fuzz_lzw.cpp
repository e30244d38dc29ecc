// Fuzz target: arbitrary bytes into the LZW decoder with a bounded output buffer
// (its size taken from the first input byte), and the same bytes through the
// encoder and back. The decoder must answer 0 or -1 without leaving its buffers,
// and whatever it decodes, and whatever is encoded, must come back unchanged.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "gfx/lzw.h"
#include "tests/fuzz/fuzz_target.h"

ZV_FUZZ_TARGET(lzw) {
  const size_t capacity = size == 0 ? 0 : 64u * data[0];
  std::vector<uint8_t> input(data, data + size);  // exactly sized, for the sanitizers
  std::vector<uint8_t> output(capacity);
  size_t produced = ~size_t{0};
  int32_t result = zv::lzwDecode(input.data(), input.size(), output.data(), capacity, &produced);
  if ((result != 0 && result != -1) || produced > capacity) std::abort();

  if (result == 0) {
    std::vector<uint8_t> coded = zv::lzwEncode(output.data(), produced);
    std::vector<uint8_t> again(produced);
    size_t n = 0;
    if (zv::lzwDecode(coded.data(), coded.size(), again.data(), again.size(), &n) != 0 || n != produced ||
        (produced && std::memcmp(again.data(), output.data(), produced) != 0))
      std::abort();
  }

  std::vector<uint8_t> coded = zv::lzwEncode(data, size);
  if (coded.size() % 3 != 0) std::abort();
  std::vector<uint8_t> back(size);
  size_t n = 0;
  if (zv::lzwDecode(coded.data(), coded.size(), back.data(), back.size(), &n) != 0 || n != size ||
      (size && std::memcmp(back.data(), data, size) != 0))
    std::abort();
  // Two bytes short of the end is always noticed; one byte short may only have
  // lost the padding after an end code in a first half.
  if (zv::lzwDecode(coded.data(), coded.size() - 2, back.data(), back.size(), &n) != -1) std::abort();
  return 0;
}
