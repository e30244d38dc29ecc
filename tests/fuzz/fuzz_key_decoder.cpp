// Fuzz target: arbitrary terminal input bytes through the key decoder. Every key
// it gives must be a character 1-255 or an extended key (255 in the low byte), and
// a time-out must always leave it ready for the next key.
#include <cstdlib>

#include "console/key_decoder.h"
#include "tests/fuzz/fuzz_target.h"

namespace {

bool valid_key(int32_t k) {
  if (k >= 1 && k <= 255) return true;
  return (k & 0xFF) == 0xFF && (k >> 8) >= 1 && (k >> 8) <= 255;
}

void check(int32_t count, const int32_t* keys) {
  if (count < 0 || count > zv::DECODED_KEYS_MAX) std::abort();
  for (int32_t i = 0; i < count; ++i)
    if (!valid_key(keys[i])) std::abort();
}

}  // namespace

ZV_FUZZ_TARGET(key_decoder) {
  zv::KeyDecoder decoder(size == 0 || (data[0] & 1) == 0);
  int32_t keys[zv::DECODED_KEYS_MAX];
  for (size_t i = 0; i < size; ++i) {
    check(decoder.feed(data[i], keys), keys);
    // Now and then the caller's time-out strikes in the middle of the input.
    if (data[i] == 0xFE) check(decoder.time_out(keys), keys);
  }
  check(decoder.time_out(keys), keys);
  if (decoder.pending()) std::abort();
  // Whatever came before, a plain key is read as itself.
  if (decoder.feed('q', keys) != 1 || keys[0] != 'q') std::abort();
  return 0;
}
