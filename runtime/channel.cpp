// Channel resolution, the screen record and the single write and read paths.
#include "runtime/channel.h"

#include <cstdio>
#include <cstring>

#include "runtime/hooks.h"
#include "runtime/print.h"
#include "runtime/runtime.h"

namespace zv {

namespace {

int32_t screen_write(ChannelRecord*, const void* bytes, size_t count) {
  size_t done = 0;
  // The print-buffer hook takes an int32 length; very long writes go in pieces.
  while (done < count) {
    size_t piece = count - done;
    if (piece > 0x40000000u) piece = 0x40000000u;
    call_hook<&ConsoleHooks::print_buffer>(static_cast<const uint8_t*>(bytes) + done,
                                           static_cast<int32_t>(piece), 0);
    done += piece;
  }
  return ERR_NONE;
}

}  // namespace

ChannelOps& screen_ops() { return runtime().screen_operations; }

ChannelRecord* screen_record() {
  RuntimeContext& rt = runtime();
  ChannelRecord& s = rt.screen;
  if (!s.ops) {
    s = ChannelRecord{};
    s.mode = MODE_APPEND;
    s.access = ACCESS_READ_WRITE;
    s.column = call_hook<&ConsoleHooks::get_column>() - 1;
    if (s.column < 0) s.column = 0;
    int32_t columns = 0, rows = 0;
    call_hook<&ConsoleHooks::get_size>(&columns, &rows);
    s.width = columns > 0 ? columns : 0;
    rt.screen_line = LineInputBuffer{};
    s.handle = &rt.screen_line;
    s.ops = &rt.screen_operations;
  }
  return &s;
}

ChannelRecord* resolve_channel(int32_t channel) {
  RuntimeContext& rt = runtime();
  if (channel == CHANNEL_SCREEN) {
    ChannelRecord* s = screen_record();
    if (!screen_ops().write) screen_ops().write = screen_write;
    return s;
  }
  if (channel == CHANNEL_AUX) return &rt.aux;
  if (channel >= 1 && channel <= FILE_CHANNELS) return &rt.files[channel - 1];
  return nullptr;
}

int32_t write_bytes(ChannelRecord* ch, const void* bytes, size_t count) {
  if (!ch || !ch->ops) return set_error(ERR_ILLEGAL_CALL);
  set_error(ERR_NONE);
  ch->putback_count = 0;
  if (!ch->ops->write) return set_error(ERR_ILLEGAL_CALL);
  int32_t result = ch->ops->write(ch, bytes, count);
  if (result == ERR_NONE && ch->mode == MODE_RANDOM && ch->record_length != 0 && ch->ops->seek) {
    auto length = static_cast<int64_t>(ch->record_length);
    auto n = static_cast<int64_t>(count);
    if (n != length) result = ERR_IO;
    int64_t pad = (length - n % length) % length;
    if (pad < 0) pad += length;
    if (pad != 0) ch->ops->seek(ch, pad, SEEK_CUR);
    if (result != ERR_NONE) return set_error(result);
  }
  if (result != ERR_NONE) return set_error(result);
  const auto* b = static_cast<const uint8_t*>(bytes);
  size_t last = count;
  for (size_t i = count; i > 0; --i)
    if (b[i - 1] == '\r' || b[i - 1] == '\n') {
      last = i - 1;
      break;
    }
  int64_t column = last == count ? int64_t{ch->column} + static_cast<int64_t>(count)
                                  : static_cast<int64_t>(count - last - 1);
  // Without a width the column only matters modulo the print zone; keeping it in a
  // range that is a multiple of the zone width keeps the zones right on endless lines.
  const int64_t range = ch->width != 0 ? ch->width : int64_t{PRINT_ZONE_WIDTH} << 26;
  ch->column = static_cast<int32_t>(column % range);
  return set_error(ERR_NONE);
}

int32_t read_bytes(ChannelRecord* ch, void* buffer, size_t* count) {
  if (!ch || !ch->ops || !count) return set_error(ERR_ILLEGAL_CALL);
  auto* out = static_cast<uint8_t*>(buffer);
  size_t wanted = *count, got = 0;
  // Put-back bytes come first, the last one put back first.
  while (got < wanted && ch->putback_count > 0) out[got++] = ch->putback[--ch->putback_count];
  if (got == wanted) {
    *count = got;
    return set_error(ERR_NONE);
  }
  if (!ch->ops->read) {
    *count = got;
    return set_error(got ? ERR_NONE : ERR_ILLEGAL_CALL);
  }
  size_t rest = wanted - got;
  int32_t result = ch->ops->read(ch, out + got, &rest);
  *count = got + rest;
  return set_error(result);
}

}  // namespace zv
