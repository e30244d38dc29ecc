// The runtime context: arguments, hooks table, context areas, the screen and
// auxiliary records and the file-channel table; start-up, shutdown and error numbers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/channel.h"
#include "runtime/hooks.h"
#include "runtime/strings.h"

namespace zv {

enum ErrorNumber : int32_t {
  ERR_NONE = 0,
  ERR_ILLEGAL_CALL = 1,  // bad argument, channel not open or already open
  ERR_CANNOT_OPEN = 2,   // a file cannot be opened
  ERR_IO = 3,            // short write, failed seek or lock, full put-back buffer
  ERR_NO_MEMORY = 4,     // no temporary string for the input line
};

constexpr int CONTEXT_AREAS = 5;
constexpr int AREA_ERROR = 0;     // 28 bytes, the second int32 is the last error
constexpr int AREA_INPUT = 2;     // the input context
constexpr int AREA_DRAWING = 4;   // the graphics screen's drawing context

// Refilled one keypress at a time when the screen channel reads typed input.
struct LineInputBuffer {
  uint8_t bytes[256];
  int32_t length;
  int32_t position;
};

struct RuntimeContext {
  int32_t argument_count;
  char** argument_vector;
  StringDesc empty;
  ConsoleHooks hooks;
  void* areas[CONTEXT_AREAS];
  ChannelRecord screen;
  ChannelRecord aux;
  ChannelRecord files[FILE_CHANNELS];
  int32_t channels_used;
  int32_t language;
  ChannelOps screen_operations;  // the screen record's table
  LineInputBuffer screen_line;   // the screen record's handle
};

RuntimeContext& runtime();

// Run once per runtime at process start-up (before main) and at exit. Only the
// first constructor clears the context (and the record of lost file data); only
// the last exit closes the channels and, when a file channel lost data, names the
// file and the reason in one line on standard error.
void runtime_constructor();
void runtime_exit();
int32_t runtime_init_count();

void runtime_init(int32_t argument_count, char** argument_vector, int32_t language);

// The end statement: closes every channel and exits the process with the status
// (the exit handlers run). When a file channel lost data the line on standard
// error is printed, and status 0 becomes 1.
[[noreturn]] void end_program(int32_t status);

// The user asked to close the program's window (its close button, Alt+F4, the
// window manager's close). Noted from any thread by whoever delivers the request;
// a waiting line editor gives up its line on it, and the program decides what it
// means at its next wait. Cleared by the runtime constructor.
void note_close_request();
bool close_requested();

int32_t set_error(int32_t number);
int32_t get_error();

// The zero-filled area of the index, allocated with the size its first user asks for.
void* context_area(int index, size_t size);

}  // namespace zv
