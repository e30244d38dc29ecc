// File channels on real files in a temporary directory: the open modes and their
// streams, channel numbers, names, failures (missing directories, a full device, a
// pipe without a length) and the record of lost data, random-mode records, locks,
// end of file, line reads and the print statement on a file.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/channel.h"
#include "runtime/file_channel.h"
#include "runtime/print.h"
#include "runtime/runtime.h"
#include "runtime/strings.h"
#include "tests/support/files.h"

namespace zv {
namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

bool exists(const std::string& path) { return std::filesystem::exists(path); }

bool make_directory(const char* name) { return std::filesystem::create_directory(name); }

int32_t open(const std::string& name, int32_t mode, int32_t access, int32_t channel = 1,
             int32_t record_length = 0) {
  return open_channel(temp_from_text(name.c_str()), mode, access, 0, channel, record_length);
}

int32_t print(int32_t channel, const std::string& text, uint32_t mask = PRINT_NONE) {
  return print_string(channel, temp_from_literal(text.data(), static_cast<int32_t>(text.size())), mask);
}

std::string read_line(int32_t channel, int32_t* error) {
  StringDesc line{};
  ChannelRecord* ch = resolve_channel(channel);
  *error = ch->ops->read_line(ch, &line);
  std::string text(line.data ? line.data : "", static_cast<size_t>(string_length(&line)));
  free_string(&line);
  return text;
}

// Each case runs in a fresh temporary directory, which is also the current one,
// with a freshly reset runtime.
class FileChannel : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime_exit();
    runtime_constructor();
    temp_ = std::make_unique<test::TempDir>();
    dir_ = temp_->path();
  }
  void TearDown() override {
    // Losses the cases provoked on purpose are not reported by the shutdown.
    close_all_channels();
    clear_file_channel_failure();
    runtime_exit();
    runtime_constructor();
    temp_.reset();
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  std::unique_ptr<test::TempDir> temp_;
  std::string dir_;
};

TEST_F(FileChannel, OutputTruncatesAndAppendWritesAtTheEnd) {
  write_file("out.txt", "old contents");
  ASSERT_EQ(open("out.txt", MODE_OUTPUT, ACCESS_NONE), ERR_NONE);
  EXPECT_EQ(resolve_channel(1)->size, 0);
  EXPECT_EQ(print(1, "new"), ERR_NONE);
  ASSERT_EQ(close_channel(1), ERR_NONE);
  EXPECT_EQ(read_file("out.txt"), "new");

  write_file("log.txt", "old\r\n");
  ASSERT_EQ(open("log.txt", MODE_APPEND, ACCESS_NONE), ERR_NONE);
  EXPECT_EQ(resolve_channel(1)->size, 5);  // the position right after opening
  EXPECT_EQ(print(1, "new", PRINT_NEWLINE), ERR_NONE);
  ASSERT_EQ(close_channel(1), ERR_NONE);
  EXPECT_EQ(read_file("log.txt"), "old\r\nnew\r\n");
}

TEST_F(FileChannel, BinaryAndRandomCreateAMissingFileOnlyWithoutReadAccess) {
  for (int32_t mode : {MODE_BINARY, MODE_RANDOM}) {
    SCOPED_TRACE(mode);
    std::string name = "created" + std::to_string(mode);
    ASSERT_EQ(open(name, mode, ACCESS_NONE), ERR_NONE);
    EXPECT_TRUE(exists(name));
    ChannelRecord* ch = resolve_channel(1);
    EXPECT_EQ(ch->access, ACCESS_READ_WRITE);
    EXPECT_EQ(ch->size, 0);
    // The stream is open for reading and writing.
    ASSERT_EQ(ch->ops->write(ch, "xy", 2), ERR_NONE);
    ASSERT_EQ(ch->ops->seek(ch, 0, SEEK_SET), ERR_NONE);
    char back[2] = {};
    size_t count = 2;
    ASSERT_EQ(ch->ops->read(ch, back, &count), ERR_NONE);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(std::string(back, 2), "xy");
    ASSERT_EQ(close_channel(1), ERR_NONE);

    std::string missing = "missing" + std::to_string(mode);
    EXPECT_EQ(open(missing, mode, ACCESS_READ), ERR_CANNOT_OPEN);
    EXPECT_FALSE(exists(missing));
    EXPECT_EQ(print(1, "x"), ERR_ILLEGAL_CALL);  // the channel stayed free
  }
  EXPECT_EQ(open("missing_input", MODE_INPUT, ACCESS_NONE), ERR_CANNOT_OPEN);
  EXPECT_FALSE(exists("missing_input"));
}

TEST_F(FileChannel, RecordLengthSizeAndAccessAsStored) {
  struct Row {
    int32_t mode, access, given_length, stored_length, access_after;
    int64_t size;
  };
  const Row rows[] = {
      {MODE_BINARY, ACCESS_NONE, 50, 0, ACCESS_READ_WRITE, 10},
      {MODE_RANDOM, ACCESS_NONE, 0, 128, ACCESS_READ_WRITE, 10},
      {MODE_RANDOM, ACCESS_READ, 8, 8, ACCESS_READ, 10},
      {MODE_INPUT, ACCESS_NONE, -3, 128, ACCESS_READ_WRITE, 10},
      {MODE_OUTPUT, ACCESS_WRITE, 20, 20, ACCESS_WRITE, 0},
      {MODE_APPEND, ACCESS_NONE, 20, 0, ACCESS_READ_WRITE, 10},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.mode);
    write_file("ten.bin", "0123456789");
    ASSERT_EQ(open("ten.bin", r.mode, r.access, 7, r.given_length), ERR_NONE);
    const ChannelRecord* ch = resolve_channel(7);
    EXPECT_EQ(ch->mode, r.mode);
    EXPECT_EQ(ch->record_length, r.stored_length);
    EXPECT_EQ(ch->size, r.size);
    EXPECT_EQ(ch->access, r.access_after);
    EXPECT_EQ(ch->encoding, 0);
    EXPECT_EQ(ch->ops, &file_channel_ops());
    ASSERT_EQ(close_channel(7), ERR_NONE);
  }
}

TEST_F(FileChannel, ChannelNumbersAndOpenState) {
  int32_t temps = temps_in_use();
  EXPECT_EQ(open("zero.txt", MODE_OUTPUT, 0, 0), ERR_ILLEGAL_CALL);
  EXPECT_EQ(open("big.txt", MODE_OUTPUT, 0, 256), ERR_ILLEGAL_CALL);
  EXPECT_EQ(open("aux.txt", MODE_OUTPUT, 0, -1), ERR_ILLEGAL_CALL);
  EXPECT_EQ(get_error(), ERR_ILLEGAL_CALL);
  EXPECT_FALSE(exists("zero.txt") || exists("big.txt") || exists("aux.txt"));
  EXPECT_EQ(runtime().channels_used, 0);  // none of them reached the open step
  EXPECT_EQ(open("mode5.txt", 5, 0), ERR_ILLEGAL_CALL);
  EXPECT_EQ(open("mode-1.txt", -1, 0), ERR_ILLEGAL_CALL);
  EXPECT_FALSE(exists("mode5.txt") || exists("mode-1.txt"));
  EXPECT_EQ(runtime().channels_used, 1);
  EXPECT_EQ(resolve_channel(1)->ops, nullptr);  // cleared again after the failure

  for (int32_t channel : {0, -1, 5, 256, -2})
    EXPECT_EQ(close_channel(channel), ERR_ILLEGAL_CALL) << channel;

  ASSERT_EQ(open("first.txt", MODE_OUTPUT, 0, 255), ERR_NONE);
  EXPECT_EQ(open("second.txt", MODE_OUTPUT, 0, 255), ERR_ILLEGAL_CALL);
  EXPECT_FALSE(exists("second.txt"));
  EXPECT_EQ(print(255, "still open"), ERR_NONE);
  EXPECT_EQ(close_channel(255), ERR_NONE);
  EXPECT_EQ(close_channel(255), ERR_ILLEGAL_CALL);
  EXPECT_EQ(read_file("first.txt"), "still open");

  ASSERT_EQ(open("first.txt", MODE_APPEND, 0, 255), ERR_NONE);  // reopened after close
  EXPECT_EQ(print(255, "!"), ERR_NONE);
  EXPECT_EQ(close_channel(255), ERR_NONE);
  EXPECT_EQ(read_file("first.txt"), "still open!");
  // Every name, taken or refused, went back to the pool.
  EXPECT_EQ(temps_in_use(), temps);
}

TEST_F(FileChannel, NamesWithSlashesBackslashesAndDriveLetters) {
  ASSERT_TRUE(make_directory("sub"));
  ASSERT_EQ(open("sub\\f.txt", MODE_OUTPUT, 0), ERR_NONE);
  EXPECT_EQ(print(1, "one"), ERR_NONE);
  ASSERT_EQ(close_channel(1), ERR_NONE);
  EXPECT_EQ(read_file("sub/f.txt"), "one");
  ASSERT_EQ(open("sub/f.txt", MODE_APPEND, 0), ERR_NONE);
  EXPECT_EQ(print(1, "two"), ERR_NONE);
  ASSERT_EQ(close_channel(1), ERR_NONE);
  EXPECT_EQ(read_file("sub/f.txt"), "onetwo");

  ASSERT_EQ(open(path("sub/abs.txt"), MODE_OUTPUT, 0), ERR_NONE);  // absolute, with "/"
  ASSERT_EQ(close_channel(1), ERR_NONE);
  EXPECT_TRUE(exists("sub/abs.txt"));

#ifndef _WIN32  // Windows has drive letters: "c:\\invar.txt" is the real path there
  ASSERT_EQ(open("c:\\invar.txt", MODE_OUTPUT, 0), ERR_NONE);
  EXPECT_EQ(print(1, "report", PRINT_NEWLINE), ERR_NONE);
  ASSERT_EQ(close_channel(1), ERR_NONE);
  EXPECT_EQ(read_file(path("invar.txt")), "report\r\n");
  ASSERT_EQ(open("C:/sub\\drive.txt", MODE_OUTPUT, 0), ERR_NONE);
  ASSERT_EQ(close_channel(1), ERR_NONE);
  EXPECT_TRUE(exists("sub/drive.txt"));
#endif
}

TEST_F(FileChannel, UnopenablePathsGiveErrorTwo) {
  write_file("plain", "x");
  const char* names[] = {"no_such_dir\\f.txt", "no_such_dir/f.txt", "plain/f.txt", "plain\\f.txt", ""};
  for (const char* name : names) {
    for (int32_t mode : {MODE_BINARY, MODE_RANDOM, MODE_INPUT, MODE_OUTPUT, MODE_APPEND}) {
      SCOPED_TRACE(std::string(name) + " mode " + std::to_string(mode));
      EXPECT_EQ(open(name, mode, ACCESS_NONE), ERR_CANNOT_OPEN);
      EXPECT_EQ(get_error(), ERR_CANNOT_OPEN);
      EXPECT_EQ(print(1, "lost", PRINT_NEWLINE), ERR_ILLEGAL_CALL);
    }
  }
  EXPECT_EQ(read_file("plain"), "x");
}

#ifndef _WIN32  // Windows has no full device
TEST_F(FileChannel, FullDeviceNeverReportsSuccess) {
  // A small print fits the stream's buffer; the loss shows when it is flushed at close.
  ASSERT_EQ(open("/dev/full", MODE_OUTPUT, 0), ERR_NONE);
  EXPECT_EQ(print(1, "abc"), ERR_NONE);
  EXPECT_EQ(close_channel(1), ERR_IO);
  EXPECT_EQ(get_error(), ERR_IO);
  // The stream is gone, so the channel is free again.
  EXPECT_EQ(resolve_channel(1)->ops, nullptr);
  EXPECT_EQ(close_channel(1), ERR_ILLEGAL_CALL);

  // A print larger than the buffer fails at once.
  ASSERT_EQ(open("/dev/full", MODE_OUTPUT, 0), ERR_NONE);
  EXPECT_EQ(print(1, std::string(10000, 'x')), ERR_IO);
  EXPECT_EQ(get_error(), ERR_IO);
  EXPECT_EQ(resolve_channel(1)->column, 0);  // not advanced by a failed write
  close_channel(1);
  EXPECT_EQ(resolve_channel(1)->ops, nullptr);

  // A flush of buffered bytes fails.
  ASSERT_EQ(open("/dev/full", MODE_OUTPUT, 0), ERR_NONE);
  EXPECT_EQ(print(1, "y"), ERR_NONE);
  ChannelRecord* ch = resolve_channel(1);
  EXPECT_EQ(ch->ops->flush(ch), ERR_IO);
  close_channel(1);
  EXPECT_EQ(resolve_channel(1)->ops, nullptr);

  ASSERT_EQ(open("/dev/full", MODE_OUTPUT, 0), ERR_NONE);
  EXPECT_EQ(print(1, "z"), ERR_NONE);
  // The shutdown's close-all ignores the results, but the loss is recorded.
  EXPECT_EQ(close_all_channels(), ERR_NONE);
  EXPECT_EQ(file_channel_failure().error, ENOSPC);
  EXPECT_EQ(file_channel_failure().name, "/dev/full");
  clear_file_channel_failure();
}
#endif

TEST_F(FileChannel, RandomModePadsShortRecords) {
  ASSERT_EQ(open("records.bin", MODE_RANDOM, ACCESS_NONE, 3, 8), ERR_NONE);
  EXPECT_EQ(print(3, "abc"), ERR_IO);
  EXPECT_EQ(get_error(), ERR_IO);
  EXPECT_EQ(print(3, "12345678"), ERR_NONE);
  EXPECT_EQ(print(3, "0123456789"), ERR_IO);  // longer than a record: to the next boundary
  EXPECT_EQ(print(3, "end....."), ERR_NONE);
  ASSERT_EQ(close_channel(3), ERR_NONE);
  EXPECT_EQ(read_file("records.bin"), std::string("abc\0\0\0\0\0" "12345678" "0123456789\0\0\0\0\0\0" "end.....", 40));
}

// Whether a process other than this one, with its own open of the file, sees a
// lock on the range.
#ifdef _WIN32
bool locked_elsewhere(const std::string& file, int64_t start = 0, int64_t length = 10) {
  // Locks belong to a handle: a second handle of this process is "elsewhere".
  HANDLE h = CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  const DWORD lo = static_cast<DWORD>(start), hi = static_cast<DWORD>(start >> 32);
  const bool free = LockFile(h, lo, hi, static_cast<DWORD>(length), 0) != 0;
  if (free) UnlockFile(h, lo, hi, static_cast<DWORD>(length), 0);
  CloseHandle(h);
  return !free;
}
#else
bool locked_elsewhere(const std::string& file, off_t start = 0, off_t length = 10) {
  pid_t pid = fork();
  if (pid == 0) {
    int fd = ::open(file.c_str(), O_RDWR);
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = start;
    fl.l_len = length;
    if (fd < 0 || fcntl(fd, F_GETLK, &fl) != 0) _exit(2);
    _exit(fl.l_type == F_UNLCK ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_NE(WEXITSTATUS(status), 2);
  return WEXITSTATUS(status) == 1;
}
#endif

int32_t lock(int32_t channel, int64_t offset, int64_t length) {
  ChannelRecord* ch = resolve_channel(channel);
  return ch->ops->lock(ch, offset, length);
}

int32_t unlock(int32_t channel, int64_t offset, int64_t length) {
  ChannelRecord* ch = resolve_channel(channel);
  return ch->ops->unlock(ch, offset, length);
}

// Two channels of this process on one file: a range overlapping any locked range
// fails, whichever channel holds it; only the exact range a channel locked unlocks.
TEST_F(FileChannel, LockCallsRefuseOverlapsAndInexactUnlocks) {
  write_file("shared.bin", "0123456789");
  ASSERT_EQ(open("shared.bin", MODE_BINARY, ACCESS_READ_WRITE, 1), ERR_NONE);
  ASSERT_EQ(open("shared.bin", MODE_BINARY, ACCESS_READ_WRITE, 2), ERR_NONE);
  constexpr int64_t FAR_OFFSET = int64_t{1} << 40;
  struct Step {
    bool lock;
    int32_t channel;
    int64_t offset, length;
    int32_t expected;
  };
  const Step steps[] = {
      {true, 1, 0, 10, ERR_NONE},
      {true, 1, 0, 10, ERR_IO},   // the same range again through the same channel
      {true, 1, 10, 5, ERR_NONE},  // adjacent is no overlap
      {true, 2, 8, 4, ERR_IO},    // overlapping the other channel's range
      {false, 1, 0, 5, ERR_IO},   // part of a locked range
      {false, 2, 0, 10, ERR_IO},  // the other channel's range
      {false, 1, 0, 10, ERR_NONE},
      {false, 1, 0, 10, ERR_IO},  // already unlocked
      {true, 2, 0, 10, ERR_NONE},  // free again, now for the other channel
      {false, 1, 10, 5, ERR_NONE},
      {true, 1, 100, -1, ERR_NONE},  // all 64-bit offsets from 100 on
      {true, 2, FAR_OFFSET, 1, ERR_IO},
      {false, 1, 100, -1, ERR_NONE},
      {true, 2, FAR_OFFSET, 1, ERR_NONE},
      {true, 1, 50, 0, ERR_ILLEGAL_CALL},
      {true, 1, -5, 10, ERR_IO},  // beyond the host's largest offset
  };
  for (const Step& step : steps) {
    SCOPED_TRACE((step.lock ? "lock " : "unlock ") + std::to_string(step.channel) + " at " +
                 std::to_string(step.offset) + " length " + std::to_string(step.length));
    int32_t result = step.lock ? lock(step.channel, step.offset, step.length)
                               : unlock(step.channel, step.offset, step.length);
    EXPECT_EQ(result, step.expected);
    EXPECT_EQ(get_error(), step.expected);
  }
  EXPECT_TRUE(locked_elsewhere("shared.bin", 0, 10));
  EXPECT_TRUE(locked_elsewhere("shared.bin", FAR_OFFSET, 1));
  EXPECT_FALSE(locked_elsewhere("shared.bin", 10, 10));
}

// A lock lives until its own channel unlocks it or is closed: closing another
// channel on the file keeps it, and another process sees it.
TEST_F(FileChannel, LockLivesUntilItsOwnChannelCloses) {
  write_file("shared.bin", "0123456789");
  ASSERT_EQ(open("shared.bin", MODE_BINARY, ACCESS_READ_WRITE, 1), ERR_NONE);
  EXPECT_FALSE(locked_elsewhere("shared.bin"));
  ASSERT_EQ(lock(1, 0, 10), ERR_NONE);
  EXPECT_TRUE(locked_elsewhere("shared.bin"));

  ASSERT_EQ(open("shared.bin", MODE_BINARY, ACCESS_READ_WRITE, 3), ERR_NONE);
  ASSERT_EQ(close_channel(3), ERR_NONE);
  EXPECT_TRUE(locked_elsewhere("shared.bin"));
  ASSERT_EQ(open("shared.bin", MODE_BINARY, ACCESS_READ_WRITE, 2), ERR_NONE);
  EXPECT_EQ(lock(2, 0, 10), ERR_IO);

  ASSERT_EQ(close_channel(1), ERR_NONE);
  EXPECT_FALSE(locked_elsewhere("shared.bin"));
  EXPECT_EQ(lock(2, 0, 10), ERR_NONE);
  // A channel opened again on the number holds nothing of the old one's.
  ASSERT_EQ(open("shared.bin", MODE_BINARY, ACCESS_READ_WRITE, 1), ERR_NONE);
  EXPECT_EQ(unlock(1, 0, 10), ERR_IO);
  EXPECT_EQ(unlock(2, 0, 10), ERR_NONE);
}

// The first loss of data on a file channel is recorded with the host's error code
// and the name as the program gave it; opens that would only read record nothing.
#ifndef _WIN32  // the cases need a full device and POSIX error codes
TEST_F(FileChannel, FailureRecordKeepsTheFirstLoss) {
  ASSERT_TRUE(make_directory("dir"));
  struct Case {
    const char* what;
    const char* name;
    int32_t mode, access;
    const char* printed;  // then the channel is closed
    int error;            // 0: nothing recorded
  };
  const std::string big(10000, 'x');
  const Case cases[] = {
      {"output on a directory", "c:\\dir", MODE_OUTPUT, ACCESS_NONE, nullptr, EISDIR},
      {"write beyond the buffer", "/dev/full", MODE_OUTPUT, ACCESS_NONE, big.c_str(), ENOSPC},
      {"buffered bytes at close", "/dev/full", MODE_APPEND, ACCESS_NONE, "abc", ENOSPC},
      {"a write on a stream opened to read", "plain", MODE_BINARY, ACCESS_READ, big.c_str(), EBADF},
      {"input from a missing file", "missing.txt", MODE_INPUT, ACCESS_NONE, nullptr, 0},
      {"a file written in full", "fine.txt", MODE_OUTPUT, ACCESS_NONE, "abc", 0},
  };
  write_file("plain", "x");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    clear_file_channel_failure();
    if (open(c.name, c.mode, c.access) == ERR_NONE) {
      if (c.printed) print(1, c.printed);
      close_channel(1);
    }
    EXPECT_EQ(file_channel_failure().error, c.error);
    EXPECT_EQ(file_channel_failure().name, c.error ? c.name : "");
  }
  // A later loss does not replace the first.
  clear_file_channel_failure();
  EXPECT_EQ(open("dir", MODE_OUTPUT, ACCESS_NONE), ERR_CANNOT_OPEN);
  ASSERT_EQ(open("/dev/full", MODE_OUTPUT, ACCESS_NONE), ERR_NONE);
  EXPECT_EQ(print(1, big), ERR_IO);
  close_channel(1);
  EXPECT_EQ(file_channel_failure().error, EISDIR);
  EXPECT_EQ(file_channel_failure().name, "dir");
  clear_file_channel_failure();
}
#endif

TEST_F(FileChannel, EndOfFileTellAndPaddedReads) {
  write_file("hello.bin", "hello");
  ASSERT_EQ(open("hello.bin", MODE_BINARY, ACCESS_READ), ERR_NONE);
  ChannelRecord* ch = resolve_channel(1);
  int64_t at = -7;
  EXPECT_FALSE(ch->ops->end_of_file(ch));
  EXPECT_EQ(ch->ops->tell(ch, &at), ERR_NONE);
  EXPECT_EQ(at, 0);
  char buffer[8];
  size_t count = 3;
  EXPECT_EQ(ch->ops->read(ch, buffer, &count), ERR_NONE);
  EXPECT_EQ(count, 3u);
  EXPECT_FALSE(ch->ops->end_of_file(ch));
  std::memset(buffer, 'z', sizeof buffer);
  count = 6;
  EXPECT_EQ(ch->ops->read(ch, buffer, &count), ERR_NONE);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(std::string(buffer, 8), std::string("lo\0\0\0\0zz", 8));
  EXPECT_TRUE(ch->ops->end_of_file(ch));
  EXPECT_EQ(ch->ops->tell(ch, &at), ERR_NONE);
  EXPECT_EQ(at, 5);
  ASSERT_EQ(close_channel(1), ERR_NONE);

  ASSERT_EQ(open("hello.bin", MODE_INPUT, ACCESS_NONE), ERR_NONE);
  ch = resolve_channel(1);
  EXPECT_FALSE(ch->ops->end_of_file(ch));
  int32_t error = -1;
  EXPECT_EQ(read_line(1, &error), "hello");
  EXPECT_EQ(error, ERR_NONE);
  EXPECT_TRUE(ch->ops->end_of_file(ch));
  ASSERT_EQ(close_channel(1), ERR_NONE);

  ASSERT_EQ(open("fresh.txt", MODE_OUTPUT, ACCESS_NONE), ERR_NONE);
  ch = resolve_channel(1);
  EXPECT_EQ(print(1, "abc"), ERR_NONE);
  EXPECT_FALSE(ch->ops->end_of_file(ch));
  EXPECT_EQ(ch->ops->tell(ch, &at), ERR_NONE);
  EXPECT_EQ(at, 3);
  ASSERT_EQ(close_channel(1), ERR_NONE);
}

TEST_F(FileChannel, OperationsWithoutAStream) {
  ChannelRecord ch{};
  ch.ops = &file_channel_ops();
  char buffer[4];
  uint16_t wide[2] = {'a', 'b'};
  size_t count = 4;
  int64_t at = 0;
  StringDesc line{};
  EXPECT_TRUE(ch.ops->end_of_file(&ch));
  EXPECT_EQ(ch.ops->seek(&ch, 0, SEEK_SET), ERR_ILLEGAL_CALL);
  EXPECT_EQ(ch.ops->tell(&ch, &at), ERR_ILLEGAL_CALL);
  EXPECT_EQ(ch.ops->read(&ch, buffer, &count), ERR_ILLEGAL_CALL);
  EXPECT_EQ(ch.ops->write(&ch, "ab", 2), ERR_ILLEGAL_CALL);
  EXPECT_EQ(ch.ops->write_wide(&ch, wide, 2), ERR_ILLEGAL_CALL);
  EXPECT_EQ(ch.ops->lock(&ch, 0, 1), ERR_ILLEGAL_CALL);
  EXPECT_EQ(ch.ops->unlock(&ch, 0, 1), ERR_ILLEGAL_CALL);
  EXPECT_EQ(ch.ops->read_line(&ch, &line), ERR_ILLEGAL_CALL);
  EXPECT_EQ(ch.ops->read_line_wide(&ch, &line), ERR_ILLEGAL_CALL);
  EXPECT_EQ(ch.ops->flush(&ch), ERR_ILLEGAL_CALL);
  EXPECT_EQ(ch.ops->close(&ch), ERR_NONE);
  EXPECT_EQ(ch.ops->reserved, nullptr);
}

TEST_F(FileChannel, ReadLines) {
  std::string long_line(100000, 'x');
  write_file("lines.txt", "first\r\nsecond\n\n" + long_line + "\r\nlast\r");
  ASSERT_EQ(open("lines.txt", MODE_INPUT, ACCESS_NONE), ERR_NONE);
  int32_t error = -1;
  for (const std::string& expected : {std::string("first"), std::string("second"), std::string(), long_line,
                                      std::string("last")}) {
    EXPECT_EQ(read_line(1, &error), expected);
    EXPECT_EQ(error, ERR_NONE);
  }
  EXPECT_EQ(read_line(1, &error), "");
  EXPECT_EQ(error, ERR_IO);  // nothing left
  ASSERT_EQ(close_channel(1), ERR_NONE);

  write_file("wide.txt", "A\x94\r\nnext");
  ASSERT_EQ(open("wide.txt", MODE_INPUT, ACCESS_NONE), ERR_NONE);
  ChannelRecord* ch = resolve_channel(1);
  StringDesc line{};
  ASSERT_EQ(ch->ops->read_line_wide(ch, &line), ERR_NONE);
  ASSERT_EQ(string_length(&line), 2);
  const auto* units = reinterpret_cast<const uint16_t*>(line.data);
  EXPECT_EQ(units[0], 0x41);
  EXPECT_EQ(units[1], 0x94);
  EXPECT_EQ(units[2], 0);
  ASSERT_EQ(ch->ops->read_line_wide(ch, &line), ERR_NONE);
  EXPECT_EQ(string_length(&line), 4);
  EXPECT_EQ(ch->ops->read_line_wide(ch, &line), ERR_IO);
  EXPECT_EQ(string_length(&line), 0);
  free_string(&line);
  ASSERT_EQ(close_channel(1), ERR_NONE);
}

TEST_F(FileChannel, WideWritesBecomeBytes) {
  ASSERT_EQ(open("wide.out", MODE_OUTPUT, ACCESS_NONE), ERR_NONE);
  ChannelRecord* ch = resolve_channel(1);
  const uint16_t text[] = {'a', 0x94, 0x263A, 0xD83D, 0xDE00, 0xD800, 'z', 0xDC00};
  EXPECT_EQ(ch->ops->write_wide(ch, text, 8), ERR_NONE);
  std::vector<uint16_t> many(1300, 'm');
  many[1299] = 'M';
  EXPECT_EQ(ch->ops->write_wide(ch, many.data(), many.size()), ERR_NONE);
  ASSERT_EQ(close_channel(1), ERR_NONE);
  EXPECT_EQ(read_file("wide.out"), "a\x94" "??" "?z?" + std::string(1299, 'm') + "M");
}

TEST_F(FileChannel, PrintStatementsOnAFile) {
  ASSERT_EQ(open("print.txt", MODE_OUTPUT, ACCESS_NONE), ERR_NONE);
  EXPECT_EQ(print(1, "abc", PRINT_ZONE), ERR_NONE);
  EXPECT_EQ(resolve_channel(1)->column, 14);
  EXPECT_EQ(print(1, "0123456789012", PRINT_ZONE), ERR_NONE);  // column 27: one blank
  EXPECT_EQ(print_newline(1, PRINT_NEWLINE), ERR_NONE);
  EXPECT_EQ(print(1, "       a11 = "), ERR_NONE);
  EXPECT_EQ(print_double(1, 2.0, PRINT_NEWLINE), ERR_NONE);
  EXPECT_EQ(print_double(1, -0.5, PRINT_ZONE), ERR_NONE);
  EXPECT_EQ(print_text(1, "end", PRINT_NEWLINE | PRINT_ZONE), ERR_NONE);
  ASSERT_EQ(close_channel(1), ERR_NONE);
  EXPECT_EQ(read_file("print.txt"), "abc" + std::string(11, ' ') + "0123456789012 \r\n"
                                    "       a11 =  2\r\n"
                                    "-0.5" + std::string(10, ' ') + "end\r\n");
}

TEST_F(FileChannel, ShutdownFlushesAndClosesEveryChannel) {
  ASSERT_EQ(open("a.txt", MODE_OUTPUT, ACCESS_NONE, 1), ERR_NONE);
  ASSERT_EQ(open("b.txt", MODE_OUTPUT, ACCESS_NONE, 200), ERR_NONE);
  EXPECT_EQ(print(1, "kept a"), ERR_NONE);
  EXPECT_EQ(print(200, "kept b"), ERR_NONE);
  EXPECT_EQ(read_file("a.txt"), "");  // still in the stream's buffer
  EXPECT_EQ(close_all_channels(), ERR_NONE);
  EXPECT_EQ(runtime().channels_used, 0);
  EXPECT_EQ(read_file("a.txt"), "kept a");
  EXPECT_EQ(read_file("b.txt"), "kept b");
  EXPECT_EQ(resolve_channel(200)->ops, nullptr);
  EXPECT_EQ(print(200, "x"), ERR_ILLEGAL_CALL);

  ASSERT_EQ(open("c.txt", MODE_OUTPUT, ACCESS_NONE, 1), ERR_NONE);
  EXPECT_EQ(print(1, "at exit"), ERR_NONE);
  runtime_exit();
  EXPECT_EQ(read_file("c.txt"), "at exit");
  runtime_constructor();
  EXPECT_EQ(open("c.txt", MODE_APPEND, ACCESS_NONE, 1), ERR_NONE);
}

#ifndef _WIN32  // FIFOs and fork are POSIX
// A FIFO has no length: the open closes the stream it made and fails with 1.
TEST_F(FileChannel, StreamWithoutALengthIsClosedAndRefused) {
  ASSERT_EQ(mkfifo("pipe", 0644), 0);
  for (int32_t mode : {MODE_INPUT, MODE_BINARY}) {
    SCOPED_TRACE(mode);
    pid_t writer = fork();
    if (writer == 0) {
      int fd = ::open("pipe", O_WRONLY);
      ssize_t ignored = write(fd, "data\n", 5);
      (void)ignored;
      _exit(0);
    }
    EXPECT_EQ(open("pipe", mode, ACCESS_READ), ERR_ILLEGAL_CALL);
    EXPECT_EQ(resolve_channel(1)->ops, nullptr);
    int status = 0;
    waitpid(writer, &status, 0);
  }
}

// A channel on the standard output reads what is typed on the standard input.
TEST_F(FileChannel, StandardOutputChannelReadsStandardInput) {
  write_file("typed.txt", "typed line\nAB");
  std::fflush(nullptr);
  pid_t child = fork();
  if (child == 0) {
    int fd = ::open("typed.txt", O_RDONLY);
    if (fd < 0 || dup2(fd, STDIN_FILENO) < 0) _exit(2);
    ChannelRecord ch{};
    ch.ops = &file_channel_ops();
    ch.handle = stdout;
    StringDesc line{};
    if (ch.ops->read_line(&ch, &line) != ERR_NONE || string_length(&line) != 10 ||
        std::memcmp(line.data, "typed line", 10) != 0)
      _exit(3);
    char bytes[4];
    size_t count = 4;
    if (ch.ops->read(&ch, bytes, &count) != ERR_NONE || count != 2 || std::memcmp(bytes, "AB\0\0", 4) != 0)
      _exit(4);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

}  // namespace
}  // namespace zv
