// Fuzz target for the field tokenizer and the number conversion: the bytes as a
// typed line read field by field until the line is used up, the same bytes as
// redirected input through the screen channel (put-back buffer included), and the
// integer conversions on a NUL-terminated copy.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/channel.h"
#include "runtime/hooks.h"
#include "runtime/input.h"
#include "runtime/strings.h"
#include "tests/fuzz/fuzz_target.h"
#include "tests/support/scripted_console.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

// Reads every field of the typed line; each field must consume input.
void typed_line(const uint8_t* data, size_t size, bool single) {
  zv::InputContext* ctx = zv::input_context();
  ctx->source = nullptr;
  ctx->position = 0;
  check(zv::assign_string(&ctx->line, reinterpret_cast<const char*>(data), static_cast<int32_t>(size)));
  const int32_t length = zv::string_length(&ctx->line);
  for (int32_t fields = 0; ctx->position < length; ++fields) {
    check(fields <= length);
    int32_t before = ctx->position;
    if (single) {
      float f = 0;
      check(zv::input_single(&f) == 0);
    } else {
      double d = 0;
      check(zv::input_double(&d) == 0);
    }
    check(ctx->position > before && ctx->position <= length);
  }
  // Fields of varying length limits and both modes on the same bytes.
  ctx->position = 0;
  int32_t max_length = size ? data[0] % (zv::FIELD_MAX + 2) - 1 : zv::FIELD_MAX;
  int32_t string_flag = size > 1 ? data[1] & 1 : 0;
  for (int32_t fields = 0; ctx->position < length && fields <= length; ++fields) {
    char buffer[zv::FIELD_MAX + 2];
    std::memset(buffer, 0x55, sizeof buffer);
    int32_t float_flag = -1;
    int32_t n = zv::read_field(buffer, max_length < 0 ? 0 : max_length, string_flag, &float_flag);
    check(n >= 0 && n <= (max_length < 0 ? 0 : max_length) && buffer[n] == '\0');
    check(float_flag == 0 || float_flag == 1);
    if (max_length <= 0) break;  // an empty field consumes nothing but blanks
  }
  zv::free_string(&ctx->line);
}

#if !defined(_WIN32)
// The same bytes through the redirected screen channel, up to the end of the input.
void redirected(const uint8_t* data, size_t size) {
  if (size == 0) return;
  std::FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!stream) return;
  zv::test::ScriptedConsole console;
  console.redirected = true;
  zv::test::install(console);
  zv::set_redirected_stream(stream);
  check(zv::input_prompt(nullptr, 0, 0) == 0);
  zv::ChannelRecord* screen = zv::input_context()->source;
  check(screen == zv::screen_record());
  size_t fields = 0;
  while (!(std::feof(stream) && screen->putback_count == 0)) {
    check(++fields <= size + 1);
    double d = 0;
    zv::input_double(&d);
  }
  check(zv::next_input_char() == -1);
  zv::set_redirected_stream(nullptr);
  zv::input_context()->source = nullptr;
  zv::test::uninstall();
  std::fclose(stream);
}
#endif

}  // namespace

ZV_FUZZ_TARGET(input) {
  typed_line(data, size, size > 2 && (data[2] & 1));
#if !defined(_WIN32)
  redirected(data, size);
#endif
  std::string text(reinterpret_cast<const char*>(data), size);
  (void)zv::field_to_int32(text.c_str());
  (void)zv::field_to_int64(text.c_str());
  (void)zv::field_to_double(text.c_str(), static_cast<int32_t>(std::strlen(text.c_str())), size > 3 ? data[3] & 1 : 0);
  return 0;
}
