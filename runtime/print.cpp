// The print statement: items, line ends and print zones on any channel, all through
// the single write path.
#include "runtime/print.h"

#include <cstring>

#include "runtime/channel.h"
#include "runtime/number_text.h"
#include "runtime/runtime.h"

namespace zv {

namespace {

int32_t zone_advance(ChannelRecord* ch) {
  if (!ch) return set_error(ERR_ILLEGAL_CALL);
  int32_t current = ch->column + 1;
  int32_t next = (ch->column + PRINT_ZONE_WIDTH) / PRINT_ZONE_WIDTH * PRINT_ZONE_WIDTH + 1;
  // Compared unsigned: a width below 14 never ends the line here.
  if (ch->width != 0 &&
      static_cast<uint32_t>(next) > static_cast<uint32_t>(ch->width) - static_cast<uint32_t>(PRINT_ZONE_WIDTH))
    return write_bytes(ch, "\r\n", 2);
  static const char blanks[PRINT_ZONE_WIDTH + 1] = "              ";
  int32_t count = next - current;
  if (count < 1) count = 1;
  if (count > PRINT_ZONE_WIDTH) count = PRINT_ZONE_WIDTH;
  return write_bytes(ch, blanks, static_cast<size_t>(count));
}

int32_t mask_action(ChannelRecord* ch, uint32_t mask) {
  if (mask & (PRINT_NEWLINE | PRINT_NEWLINE_TOO)) return write_bytes(ch, "\r\n", 2);
  if (mask & PRINT_ZONE) return zone_advance(ch);
  return get_error();
}

// Writes the item (if any), then the mask action; the first failure is the result.
int32_t print_bytes(int32_t channel, const char* bytes, size_t count, uint32_t mask) {
  ChannelRecord* ch = resolve_channel(channel);
  set_error(ERR_NONE);
  int32_t result = ERR_NONE;
  if (bytes && count) result = write_bytes(ch, bytes, count);
  if (mask & (PRINT_NEWLINE | PRINT_NEWLINE_TOO | PRINT_ZONE)) {
    int32_t after = mask_action(ch, mask);
    if (result == ERR_NONE) result = after;
  } else if (!ch || !ch->ops) {
    result = ERR_ILLEGAL_CALL;
  }
  return set_error(result);
}

}  // namespace

int32_t print_newline(int32_t channel, uint32_t mask) { return print_bytes(channel, nullptr, 0, mask); }

int32_t print_string(int32_t channel, StringDesc* text, uint32_t mask) {
  int32_t length = string_length(text);
  int32_t result = print_bytes(channel, text && text->data ? text->data : nullptr,
                               static_cast<size_t>(length), mask);
  if (is_temp(text)) release_temp(text);
  return set_error(result);
}

int32_t print_text(int32_t channel, const char* text, uint32_t mask) {
  return print_bytes(channel, text, text ? std::strlen(text) : 0, mask);
}

int32_t print_double(int32_t channel, double value, uint32_t mask) {
  char buffer[DOUBLE_DIGITS + 10];
  return print_text(channel, number_to_text(value, buffer, DOUBLE_DIGITS, NUMBER_LEADING_BLANK), mask);
}

int32_t print_single(int32_t channel, float value, uint32_t mask) {
  char buffer[SINGLE_DIGITS + 10];
  return print_text(channel, number_to_text(static_cast<double>(value), buffer, SINGLE_DIGITS, NUMBER_LEADING_BLANK),
                    mask);
}

int32_t print_zone(int32_t channel) { return print_bytes(channel, nullptr, 0, PRINT_ZONE); }

}  // namespace zv
