// File channels 1..255 on the C runtime's buffered streams: the open statement with
// its five modes, the close statements, the file-channel operations table, the
// flush before a wait and the record of the first data lost on a file channel.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/channel.h"
#include "runtime/strings.h"

namespace zv {

// The lock argument of the open statement. With CHANNEL_LOCK_WRITE an output channel
// holds its file alone for writing while it is open (other programs may still read
// it); a file that another program holds this way is not opened and keeps its content.
constexpr int32_t CHANNEL_LOCK_NONE = 0, CHANNEL_LOCK_WRITE = 2;

// name is released (a temporary). Returns the error number (also recorded).
int32_t open_channel(StringDesc* name, int32_t mode, int32_t access, int32_t lock, int32_t channel,
                     int32_t record_length);
int32_t close_channel(int32_t channel);
// Closes every open file channel (results ignored) when any was ever opened; 0.
int32_t close_all_channels();

const ChannelOps& file_channel_ops();

// Flushes every open file channel that writes, so that what the program has printed
// is in its files before the program waits; the last error number is kept.
void flush_file_channels();
// The same for a fatal end that another thread announces while the program thread may
// be printing: only the streams' buffers go out (the C library locks each stream), no
// error or failure is recorded.
void flush_file_streams();

// The first loss of data on a file channel since start-up: an open for writing that
// failed, or a write, flush or close that failed. error is the host's error code
// (0: nothing lost), name the file name as the program gave it (empty when the
// record was not opened by the open statement).
struct FileChannelFailure {
  int error = 0;
  std::string name;
};
const FileChannelFailure& file_channel_failure();
// The reason of a failure for the program's messages, in German, code page 437: the
// common causes in words of their own, anything else as the host words it.
std::string file_failure_reason(int error);
void clear_file_channel_failure();

}  // namespace zv
