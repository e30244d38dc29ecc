// Operating-system services that the portable layers need: sleeping, the beep,
// file record locks, the standard descriptors, host file names, the floating-point
// set-up, terminal queries, the program's own file name and the environment.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace zv {

// Memory aligned to the alignment (a power of two; the size a multiple of it),
// released with aligned_free. The C runtime of Windows has no aligned_alloc.
void* aligned_allocate(size_t alignment, size_t size);
void aligned_free(void* memory);

// Sleeps the calling thread for the given number of milliseconds (0 yields).
void sleep_ms(int32_t milliseconds);

// Sounds a tone; silent where the host has no sound facility.
void beep(int32_t frequency_hz, int32_t duration_ms);

// Record locks on the file behind a stream, held by that open stream (not by the
// process): a range locked through one stream cannot be locked through any other,
// in this process or another, and closing another stream on the file keeps it.
// Offset and length are unsigned 64-bit counts; a length of 0 fails. True on
// success; a range held elsewhere fails at once.
bool lock_file(std::FILE* stream, int64_t offset, int64_t length);
bool unlock_file(std::FILE* stream, int64_t offset, int64_t length);

// Opens the null device on every standard descriptor (0, 1, 2) that is closed, so
// that a file the program opens later never takes the place of its standard input,
// output or error.
void open_missing_standard_descriptors();

// The host path for a file name as the program writes it. On hosts without drive
// letters "X:\rest" and "X:/rest" name "rest" relative to the current directory,
// and every backslash separates directories.
std::string host_file_name(const char* name);

// fopen on the host path of the name.
std::FILE* open_file(const char* name, const char* mode);

// A stream that writes the file from its start, held so that no other program can
// write it while the stream is open: on Windows through the share mode (others may
// read), elsewhere through an exclusive advisory lock that every other run of a
// program opening the file this way asks for. The lock is taken before the file is
// truncated, so a file that another program holds keeps its content; that case
// fails with errno EBUSY. Null with errno on failure.
std::FILE* open_file_for_sole_writing(const char* name);

// freopen on the host path of the name.
std::FILE* reopen_file(const char* name, const char* mode, std::FILE* stream);

// 64-bit significand, round to nearest where the processor has an x87 unit; SSE
// arithmetic is not affected.
void setup_floating_point();

bool stdin_is_terminal();
bool stdout_is_terminal();

// The full path of the running program's executable, or empty when the host cannot
// tell.
std::string module_file_name();

// The value of an environment variable, or null when it is not set.
const char* environment_variable(const char* name);

// The end of a program that has lost a service it cannot go on without (the
// connection to its display), from whatever thread noticed: the handler the program
// set runs (it saves what must not be lost, such as the files' buffers), then the
// process ends at once with the status, without exit handlers, which could wait for
// the very thread that called.
using FatalExitHandler = void (*)();
void set_fatal_exit_handler(FatalExitHandler handler);
[[noreturn]] void fatal_exit(int32_t status);

}  // namespace zv
