// File channels 1..255: the open statement with its five modes and the streams it
// opens, the operations table of a file channel, the close statements, the flush
// before a wait, and the record of the first data lost on a file channel.
#include "runtime/file_channel.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "runtime/runtime.h"

namespace zv {

namespace {

constexpr size_t STREAM_BUFFER = 8192;
constexpr int32_t DEFAULT_RECORD_LENGTH = 128;
// Longest line a read-line operation stores: the string capacity (rounded up to 32
// bytes) must still fit in an int32.
constexpr size_t LINE_MAX = 0x7FFFFFFFu - 64u;

std::FILE* stream_of(const ChannelRecord* ch) { return static_cast<std::FILE*>(ch->handle); }

// A locked range as the lock calls count it: unsigned offset and length.
struct LockedRange {
  uint64_t offset, length;
  uint64_t end() const { return length > UINT64_MAX - offset ? UINT64_MAX : offset + length; }
  bool overlaps(const LockedRange& other) const { return offset < other.end() && other.offset < end(); }
};

// What an open file channel keeps beside its record: the name it was opened with
// and the ranges it holds locked. The records are plain data that the statements
// clear wholesale, so this lives apart, from the open to the close operation.
struct ChannelExtras {
  std::string name;
  std::vector<LockedRange> locks;
};

// Never destroyed: the exit handler that closes the channels may run after the
// static destructors.
std::map<const ChannelRecord*, ChannelExtras>& extras_table() {
  static auto* table = new std::map<const ChannelRecord*, ChannelExtras>;
  return *table;
}

ChannelExtras& extras_of(const ChannelRecord* ch) { return extras_table()[ch]; }
void forget_extras(const ChannelRecord* ch) { extras_table().erase(ch); }

FileChannelFailure& failure_record() {
  static auto* failure = new FileChannelFailure;
  return *failure;
}

// Only the first loss is kept: it explains what went missing, and a stream that
// failed once fails again at every later write, flush and close.
void note_failure(const std::string& name, int error) {
  FileChannelFailure& f = failure_record();
  if (f.error != 0) return;
  f.error = error != 0 ? error : EIO;
  f.name = name;
}

void note_failure(const ChannelRecord* ch, int error) {
  auto it = extras_table().find(ch);
  note_failure(it != extras_table().end() ? it->second.name : std::string(), error);
}

// Whether the channel was opened to be written: output, append, and binary or
// random mode with any access but read.
bool writes(const ChannelRecord* ch) {
  return ch->mode == MODE_OUTPUT || ch->mode == MODE_APPEND ||
         ((ch->mode == MODE_BINARY || ch->mode == MODE_RANDOM) && ch->access != ACCESS_READ);
}

// Channels opened on the standard output or standard error read typed input.
std::FILE* read_stream(std::FILE* f) { return f == stdout || f == stderr ? stdin : f; }

int stream_seek(std::FILE* f, int64_t offset, int origin) {
#ifdef _WIN32
  return _fseeki64(f, offset, origin);
#else
  return fseeko(f, static_cast<off_t>(offset), origin);
#endif
}

int64_t stream_tell(std::FILE* f) {
#ifdef _WIN32
  return _ftelli64(f);
#else
  return static_cast<int64_t>(ftello(f));
#endif
}

// The file's length, the stream left at offset start; -1 when it cannot be read.
int64_t stream_length(std::FILE* f, int64_t start) {
  if (stream_seek(f, 0, SEEK_END) != 0) return -1;
  int64_t length = stream_tell(f);
  if (length < 0 || stream_seek(f, start, SEEK_SET) != 0) return -1;
  return length;
}

// Bytes before the data: the byte-order marks of the encodings 1, 2 and 3.
int64_t data_start(int32_t encoding) {
  switch (encoding) {
    case 1: return 3;
    case 2: return 2;
    case 3: return 4;
    default: return 0;
  }
}

// ---- the operations -------------------------------------------------------------

int32_t file_end_of_file(ChannelRecord* ch) {
  std::FILE* f = stream_of(ch);
  if (!f) return 1;
  switch (ch->mode) {
    case MODE_BINARY:
    case MODE_RANDOM: {
      int64_t at = stream_tell(f);
      return at < 0 || at >= ch->size;
    }
    case MODE_INPUT: {
      if (std::feof(f)) return 1;
      int64_t at = stream_tell(f);
      return at < 0 || (ch->size >= 0 && at >= ch->size);
    }
    default:
      return std::feof(f) != 0;
  }
}

// A stream whose buffered bytes cannot be written out at close has lost data: the
// stream is gone either way, but the close reports an I/O failure. Closing the
// stream also releases the channel's locks.
int32_t file_close(ChannelRecord* ch) {
  std::FILE* f = stream_of(ch);
  ch->handle = nullptr;
  int32_t result = ERR_NONE;
  if (f && std::fclose(f) != 0) {
    note_failure(ch, errno);
    result = ERR_IO;
  }
  forget_extras(ch);
  return set_error(result);
}

int32_t file_seek(ChannelRecord* ch, int64_t offset, int32_t origin) {
  std::FILE* f = stream_of(ch);
  if (!f) return set_error(ERR_ILLEGAL_CALL);
  return set_error(stream_seek(f, offset, origin) == 0 ? ERR_NONE : ERR_IO);
}

int32_t file_tell(ChannelRecord* ch, int64_t* position) {
  std::FILE* f = stream_of(ch);
  if (!f) return set_error(ERR_ILLEGAL_CALL);
  if (position) *position = stream_tell(f);
  return set_error(ERR_NONE);
}

int32_t file_read(ChannelRecord* ch, void* buffer, size_t* count) {
  std::FILE* f = stream_of(ch);
  if (!f || !count) return set_error(ERR_ILLEGAL_CALL);
  size_t got = *count ? std::fread(buffer, 1, *count, read_stream(f)) : 0;
  if (got < *count) std::memset(static_cast<uint8_t*>(buffer) + got, 0, *count - got);
  *count = got;
  return set_error(ERR_NONE);
}

int32_t file_read_wide(ChannelRecord* ch, uint16_t* buffer, size_t* count) {
  std::FILE* f = stream_of(ch);
  if (!f || !count) return set_error(ERR_ILLEGAL_CALL);
  size_t got = *count ? std::fread(buffer, sizeof(uint16_t), *count, read_stream(f)) : 0;
  for (size_t i = got; i < *count; ++i) buffer[i] = 0;
  *count = got;
  return set_error(ERR_NONE);
}

int32_t file_write(ChannelRecord* ch, const void* bytes, size_t count) {
  std::FILE* f = stream_of(ch);
  if (!f) return set_error(ERR_ILLEGAL_CALL);
  if (count && std::fwrite(bytes, 1, count, f) != count) {
    note_failure(ch, errno);
    return set_error(ERR_IO);
  }
  return set_error(ERR_NONE);
}

// 16-bit characters below 256 become that byte, any other "?", a surrogate pair one "?".
int32_t file_write_wide(ChannelRecord* ch, const uint16_t* text, size_t count) {
  if (!stream_of(ch)) return set_error(ERR_ILLEGAL_CALL);
  char piece[512];
  size_t used = 0;
  for (size_t i = 0; i < count; ++i) {
    uint16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) ++i;
    piece[used++] = c < 256 ? static_cast<char>(c) : '?';
    if (used == sizeof piece) {
      if (int32_t e = file_write(ch, piece, used)) return e;
      used = 0;
    }
  }
  return file_write(ch, piece, used);
}

LockedRange range_of(int64_t offset, int64_t length) {
  return {static_cast<uint64_t>(offset), static_cast<uint64_t>(length)};
}

// A range that overlaps one already locked fails, whoever holds it. The host's lock
// does not conflict with the same open stream, so the channel's own ranges are
// checked here.
int32_t file_lock(ChannelRecord* ch, int64_t offset, int64_t length) {
  std::FILE* f = stream_of(ch);
  if (!f || length == 0) return set_error(ERR_ILLEGAL_CALL);
  const LockedRange range = range_of(offset, length);
  ChannelExtras& extras = extras_of(ch);
  for (const LockedRange& held : extras.locks)
    if (held.overlaps(range)) return set_error(ERR_IO);
  if (!lock_file(f, offset, length)) return set_error(ERR_IO);
  extras.locks.push_back(range);
  return set_error(ERR_NONE);
}

// Only a range that this channel locked, with the same offset and length, unlocks.
int32_t file_unlock(ChannelRecord* ch, int64_t offset, int64_t length) {
  std::FILE* f = stream_of(ch);
  if (!f || length == 0) return set_error(ERR_ILLEGAL_CALL);
  const LockedRange range = range_of(offset, length);
  auto found = extras_table().find(ch);
  if (found == extras_table().end()) return set_error(ERR_IO);
  std::vector<LockedRange>& locks = found->second.locks;
  for (auto it = locks.begin(); it != locks.end(); ++it) {
    if (it->offset != range.offset || it->length != range.length) continue;
    if (!unlock_file(f, offset, length)) return set_error(ERR_IO);
    locks.erase(it);
    return set_error(ERR_NONE);
  }
  return set_error(ERR_IO);
}

// One text line from the stream, without its "\n" or "\r\n", in a growing heap
// buffer. 0 with the line; 3 at the end of the file before any byte; 4 when memory
// runs out or the line is too long for a string (the rest of the line is consumed).
int32_t read_text_line(std::FILE* f, char** line, size_t* length) {
  *line = nullptr;
  *length = 0;
  size_t capacity = 0, used = 0;
  char* buffer = nullptr;
  bool any = false, too_long = false;
  int c;
  while ((c = std::getc(f)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (too_long) continue;
    if (used + 1 >= capacity) {
      size_t grown = capacity == 0 ? 128 : capacity > LINE_MAX / 2 ? LINE_MAX + 1 : capacity * 2;
      char* p = used < LINE_MAX ? static_cast<char*>(std::realloc(buffer, grown)) : nullptr;
      if (!p) {
        too_long = true;
        continue;
      }
      buffer = p;
      capacity = grown;
    }
    buffer[used++] = static_cast<char>(c);
  }
  if (too_long) {
    std::free(buffer);
    return ERR_NO_MEMORY;
  }
  if (!any) {
    std::free(buffer);
    return ERR_IO;
  }
  if (used && buffer[used - 1] == '\r') --used;
  *line = buffer;
  *length = used;
  return ERR_NONE;
}

int32_t file_read_line(ChannelRecord* ch, StringDesc* dest) {
  std::FILE* f = stream_of(ch);
  if (!f || !dest) return set_error(ERR_ILLEGAL_CALL);
  char* line;
  size_t length;
  int32_t result = read_text_line(read_stream(f), &line, &length);
  if (result == ERR_NONE && !assign_string(dest, line, static_cast<int32_t>(length))) result = ERR_NO_MEMORY;
  if (result != ERR_NONE) free_string(dest);
  std::free(line);
  return set_error(result);
}

// The line as 16-bit characters, one per byte, with a terminating zero unit; the
// length counts 16-bit units.
int32_t file_read_line_wide(ChannelRecord* ch, StringDesc* dest) {
  std::FILE* f = stream_of(ch);
  if (!f || !dest) return set_error(ERR_ILLEGAL_CALL);
  char* line;
  size_t length;
  int32_t result = read_text_line(read_stream(f), &line, &length);
  if (result == ERR_NONE && length > (LINE_MAX - 2) / 2) result = ERR_NO_MEMORY;
  if (result == ERR_NONE) {
    size_t bytes = (length + 1) * sizeof(uint16_t);
    auto* wide = static_cast<uint16_t*>(std::malloc(bytes));
    if (wide) {
      for (size_t i = 0; i < length; ++i) wide[i] = static_cast<uint8_t>(line[i]);
      wide[length] = 0;
    }
    if (!wide || !assign_string(dest, reinterpret_cast<const char*>(wide), static_cast<int32_t>(bytes)))
      result = ERR_NO_MEMORY;
    else
      dest->length = static_cast<uint32_t>(length) | STRING_OWNED;
    std::free(wide);
  }
  if (result != ERR_NONE) free_string(dest);
  std::free(line);
  return set_error(result);
}

int32_t file_flush(ChannelRecord* ch) {
  std::FILE* f = stream_of(ch);
  if (!f) return set_error(ERR_ILLEGAL_CALL);
  if (std::fflush(f) != 0) {
    note_failure(ch, errno);
    return set_error(ERR_IO);
  }
  return set_error(ERR_NONE);
}

constexpr ChannelOps FILE_OPS = {
    file_end_of_file, file_close,     file_seek,          file_tell,    file_read,
    file_read_wide,   file_write,     file_write_wide,    file_lock,    file_unlock,
    file_read_line,   file_read_line_wide, nullptr,       file_flush,
};

// ---- opening ----------------------------------------------------------------------

// A full buffer of 8192 bytes, allocated by the C runtime; given before any other
// operation on the stream, as setvbuf requires.
void give_buffer(std::FILE* f) { std::setvbuf(f, nullptr, _IOFBF, STREAM_BUFFER); }

// Modes 0 and 1: the chosen stream mode; a missing file is created with "w+b" when
// read/write access is wanted or none was given; with none given a read-only open is
// the last resort, and the access becomes 1. The "w+b" fallback is taken only for a
// missing file, so that an existing file that cannot be opened for reading and
// writing is never truncated. On failure *why is the error of the last attempt
// that would have allowed writing.
std::FILE* open_binary(const char* name, const char* stream_mode, ChannelRecord* ch, int* why) {
  std::FILE* f = open_file(name, stream_mode);
  if (f) return f;
  *why = errno;
  bool missing = errno == ENOENT;
  if (missing && (ch->access == ACCESS_NONE || ch->access == ACCESS_READ_WRITE)) {
    f = open_file(name, "w+b");
    if (f) return f;
    *why = errno;
  }
  if (ch->access == ACCESS_NONE) {
    f = open_file(name, "rb");
    if (f) ch->access = ACCESS_READ;
  }
  return f;
}

// Mode 2: the size is taken on a binary stream, which is then reopened as a text
// stream on the same name and positioned at the start of the data.
int32_t open_input(const char* name, ChannelRecord* ch, std::FILE** out) {
  std::FILE* f = open_file(name, "rb");
  if (!f) return ERR_CANNOT_OPEN;
  ch->size = stream_length(f, 0);
  if (ch->size < 0) {
    std::fclose(f);
    return ERR_ILLEGAL_CALL;
  }
  // A failed reopen has already closed the stream.
  f = reopen_file(name, "rt", f);
  if (!f) return ERR_CANNOT_OPEN;
  give_buffer(f);
  if (stream_seek(f, data_start(ch->encoding), SEEK_SET) != 0) {
    std::fclose(f);
    return ERR_IO;
  }
  *out = f;
  return ERR_NONE;
}

int32_t file_open(ChannelRecord* ch, const char* given_name) {
  // Names are kept in the program's own form, with backslashes; the platform's
  // open maps them to host paths.
  std::string name = given_name;
  for (char& c : name)
    if (c == '/') c = '\\';
  ch->ops = &FILE_OPS;
  if (ch->mode < MODE_BINARY || ch->mode > MODE_APPEND) return ERR_ILLEGAL_CALL;

  const char* stream_mode;
  switch (ch->mode) {
    case MODE_BINARY:
    case MODE_RANDOM:
      stream_mode = ch->access == ACCESS_READ ? "rb" : ch->access == ACCESS_WRITE ? "wb" : "r+b";
      break;
    case MODE_INPUT: stream_mode = "rt"; break;
    case MODE_OUTPUT: stream_mode = "wb"; break;
    default: stream_mode = "ab"; break;
  }

  std::FILE* f = nullptr;
  if (ch->mode == MODE_INPUT) {
    if (int32_t e = open_input(name.c_str(), ch, &f)) return e;
  } else {
    int why = 0;
    if (ch->mode == MODE_OUTPUT && ch->lock == CHANNEL_LOCK_WRITE) {
      f = open_file_for_sole_writing(name.c_str());
      why = errno;
    } else if (ch->mode == MODE_OUTPUT || ch->mode == MODE_APPEND) {
      f = open_file(name.c_str(), stream_mode);
      why = errno;
    } else {
      f = open_binary(name.c_str(), stream_mode, ch, &why);
    }
    if (!f) {
      // A file the program meant to write that cannot be opened loses all it prints.
      if (writes(ch)) note_failure(std::string(given_name), why);
      return ERR_CANNOT_OPEN;
    }
    give_buffer(f);
  }

  if (ch->size == -1) {
    switch (ch->mode) {
      case MODE_BINARY:
      case MODE_RANDOM: ch->size = stream_length(f, data_start(ch->encoding)); break;
      // Writes go to the end, but where a fresh append stream stands differs between
      // C runtimes (the end on glibc, the start on Windows): ask for the end itself.
      case MODE_APPEND: ch->size = stream_seek(f, 0, SEEK_END) == 0 ? stream_tell(f) : -1; break;
      default: ch->size = 0; break;
    }
    if (ch->size < 0) {
      std::fclose(f);
      return ERR_ILLEGAL_CALL;
    }
  }

  ch->handle = f;
  if (ch->access == ACCESS_NONE) ch->access = ACCESS_READ_WRITE;
  extras_of(ch).name = given_name;
  return ERR_NONE;
}

using OpenFunction = int32_t (*)(ChannelRecord*, const char*);

// The open step shared by every kind of channel: the record is set up from the
// arguments and handed to the kind's own open function.
int32_t generic_open(ChannelRecord* ch, const char* name, int32_t mode, int32_t access, int32_t lock,
                     int32_t record_length, int32_t encoding, OpenFunction open) {
  if (ch->ops) return ERR_ILLEGAL_CALL;
  runtime().channels_used = 1;
  forget_extras(ch);
  *ch = ChannelRecord{};
  ch->mode = mode;
  ch->encoding = encoding;
  ch->access = access;
  ch->lock = lock;
  if (mode == MODE_RANDOM || mode == MODE_INPUT || mode == MODE_OUTPUT)
    ch->record_length = record_length < 1 ? DEFAULT_RECORD_LENGTH : record_length;
  ch->size = -1;
  int32_t result = open(ch, name);
  if (result != ERR_NONE) {
    *ch = ChannelRecord{};
    forget_extras(ch);
  }
  return result;
}

}  // namespace

const ChannelOps& file_channel_ops() { return FILE_OPS; }

int32_t open_channel(StringDesc* name, int32_t mode, int32_t access, int32_t lock, int32_t channel,
                     int32_t record_length) {
  std::string copy;
  if (name && name->data) copy.assign(name->data, static_cast<size_t>(string_length(name)));
  // The name ends at its first NUL byte, as the host's open sees it.
  copy.resize(std::strlen(copy.c_str()));
  if (is_temp(name)) release_temp(name);
  if (channel < 1 || channel > FILE_CHANNELS) return set_error(ERR_ILLEGAL_CALL);
  return set_error(generic_open(&runtime().files[channel - 1], copy.c_str(), mode, access, lock,
                                record_length, 0, file_open));
}

int32_t close_channel(int32_t channel) {
  if (channel == CHANNEL_SCREEN) return set_error(ERR_ILLEGAL_CALL);
  ChannelRecord* ch = resolve_channel(channel);
  if (!ch || !ch->ops) return set_error(ERR_ILLEGAL_CALL);
  int32_t result = ch->ops->close ? ch->ops->close(ch) : ERR_NONE;
  // A close that failed but let go of the stream leaves nothing open to keep.
  if (result == ERR_NONE || !ch->handle) *ch = ChannelRecord{};
  return set_error(result);
}

void flush_file_channels() {
  RuntimeContext& rt = runtime();
  if (!rt.channels_used) return;
  const int32_t last_error = get_error();
  for (ChannelRecord& ch : rt.files)
    if (ch.ops && ch.ops->flush && ch.handle && writes(&ch)) ch.ops->flush(&ch);
  set_error(last_error);
}

void flush_file_streams() {
  RuntimeContext& rt = runtime();
  if (!rt.channels_used) return;
  for (ChannelRecord& ch : rt.files)
    if (ch.ops == &FILE_OPS && ch.handle && writes(&ch)) std::fflush(stream_of(&ch));
}

const FileChannelFailure& file_channel_failure() { return failure_record(); }

std::string file_failure_reason(int error) {
  switch (error) {
    case EBUSY: return "von einem anderen Programm ge\x94" "ffnet";
    case EACCES:
    case EPERM: return "keine Berechtigung";
    case EISDIR: return "ein Verzeichnis hat diesen Namen";
    case ENOENT: return "Verzeichnis nicht gefunden";
    case ENOSPC: return "der Datentr\x84ger ist voll";
    case EROFS: return "der Datentr\x84ger ist schreibgesch\x81tzt";
    default: return std::strerror(error);
  }
}

void clear_file_channel_failure() { failure_record() = FileChannelFailure{}; }

int32_t close_all_channels() {
  RuntimeContext& rt = runtime();
  if (rt.channels_used) {
    rt.channels_used = 0;
    for (ChannelRecord& ch : rt.files)
      if (ch.ops && ch.ops->close) ch.ops->close(&ch);
    for (ChannelRecord& ch : rt.files) ch = ChannelRecord{};
  }
  return set_error(ERR_NONE);
}

}  // namespace zv
