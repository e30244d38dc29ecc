// File channels 1..255 on the C runtime's buffered streams: the open statement with
// its five modes, the close statements and the file-channel operations table.
#pragma once

#include <cstdint>

#include "runtime/channel.h"
#include "runtime/strings.h"

namespace zv {

// name is released (a temporary). Returns the error number (also recorded).
int32_t open_channel(StringDesc* name, int32_t mode, int32_t access, int32_t lock, int32_t channel,
                     int32_t record_length);
int32_t close_channel(int32_t channel);
// Closes every open file channel (results ignored) when any was ever opened; 0.
int32_t close_all_channels();

const ChannelOps& file_channel_ops();

}  // namespace zv
