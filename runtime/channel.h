// Channel records and their operations tables: one record layout for the screen
// (channel 0), the reserved auxiliary channel (-1) and the file channels 1..255,
// and the single write and read paths that every statement goes through.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/strings.h"

namespace zv {

enum ChannelMode : int32_t { MODE_BINARY = 0, MODE_RANDOM = 1, MODE_INPUT = 2, MODE_OUTPUT = 3, MODE_APPEND = 4 };
enum ChannelAccess : int32_t { ACCESS_NONE = 0, ACCESS_READ = 1, ACCESS_WRITE = 2, ACCESS_READ_WRITE = 3 };

struct ChannelOps;

struct ChannelRecord {
  int32_t mode;
  int32_t record_length;
  int32_t encoding;
  int64_t size;  // size or start position; -1 when unknown
  int32_t access;
  int32_t lock;
  int32_t column;  // current output column, from 0
  int32_t width;   // line width; 0 is unlimited
  uint8_t putback[4];
  int32_t putback_count;
  const ChannelOps* ops;  // none for a closed channel
  void* handle;           // the stream of a file channel; the screen's line-input buffer
};

// Operations of a channel, in slot order. An empty slot means "not supported".
// Every operation returns an error number unless stated otherwise.
struct ChannelOps {
  int32_t (*end_of_file)(ChannelRecord* ch);  // 0: non-zero at the end
  int32_t (*close)(ChannelRecord* ch);        // 1
  int32_t (*seek)(ChannelRecord* ch, int64_t offset, int32_t origin);  // 2: SEEK_SET/CUR/END
  int32_t (*tell)(ChannelRecord* ch, int64_t* position);               // 3
  int32_t (*read)(ChannelRecord* ch, void* buffer, size_t* count);     // 4: in/out count
  int32_t (*read_wide)(ChannelRecord* ch, uint16_t* buffer, size_t* count);   // 5
  int32_t (*write)(ChannelRecord* ch, const void* bytes, size_t count);        // 6
  int32_t (*write_wide)(ChannelRecord* ch, const uint16_t* text, size_t count);  // 7
  int32_t (*lock)(ChannelRecord* ch, int64_t offset, int64_t length);    // 8
  int32_t (*unlock)(ChannelRecord* ch, int64_t offset, int64_t length);  // 9
  int32_t (*read_line)(ChannelRecord* ch, StringDesc* dest);             // 10
  int32_t (*read_line_wide)(ChannelRecord* ch, StringDesc* dest);        // 11: 16-bit units
  void* reserved;                                                       // 12
  int32_t (*flush)(ChannelRecord* ch);                                  // 13
};

static_assert(sizeof(ChannelOps) == 14 * sizeof(void*), "the operations table has 14 slots");

constexpr int32_t CHANNEL_SCREEN = 0;
constexpr int32_t CHANNEL_AUX = -1;
constexpr int32_t FILE_CHANNELS = 255;

// The record of a channel number: 0 the screen (set up on first use), -1 the
// auxiliary record, 1..255 the file-channel table; null for any other number.
ChannelRecord* resolve_channel(int32_t channel);

// The screen record, set up on first use: mode 4, access 3, column from the
// console's cursor, width from its size, its line-input buffer attached.
ChannelRecord* screen_record();

// The screen's operations table (its slots are installed on first use).
ChannelOps& screen_ops();

// The single write path: error number 0 on success (also recorded), else 1 (no
// record, not open, no write operation), 3 (random-mode record length), or the
// write operation's own error. Updates the column from the bytes written.
int32_t write_bytes(ChannelRecord* ch, const void* bytes, size_t count);

// The read path: first the put-back buffer, then the channel's read operation.
// count is in/out; the error number is returned.
int32_t read_bytes(ChannelRecord* ch, void* buffer, size_t* count);

}  // namespace zv
