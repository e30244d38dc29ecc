// The runtime context, its start-up and shutdown, error numbers and context areas.
#include "runtime/runtime.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console/console.h"
#include "platform/platform.h"
#include "runtime/file_channel.h"
#include "runtime/input.h"
#include "runtime/statements.h"

namespace zv {

namespace {

RuntimeContext context;
int32_t init_counter = 0;
const ConsoleHooks* backend_override = nullptr;
bool failure_reported = false;
std::atomic<bool> close_request{false};

// Frees what the context owns, so that clearing it loses nothing.
void release_context() {
  if (context.areas[AREA_INPUT]) free_string(&static_cast<InputContext*>(context.areas[AREA_INPUT])->line);
  for (void*& area : context.areas) {
    std::free(area);
    area = nullptr;
  }
  reset_temp_pool();
}

// The program's name for messages: its argument 0 or, failing that, its file name,
// without directories and without a ".exe".
std::string program_name() {
  std::string path = context.argument_count > 0 && context.argument_vector && context.argument_vector[0]
                         ? context.argument_vector[0]
                         : module_file_name();
  const size_t slash = path.find_last_of("/\\");
  if (slash != std::string::npos) path.erase(0, slash + 1);
  if (path.size() > 4) {
    std::string tail = path.substr(path.size() - 4);
    for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (tail == ".exe") path.resize(path.size() - 4);
  }
  return path;
}

// Closes every file channel; when a file channel lost data, one line on standard
// error (once per run) names the file and the reason. True when data was lost.
bool close_channels_and_report() {
  close_all_channels();
  const FileChannelFailure& failure = file_channel_failure();
  if (failure.error == 0) return false;
  if (!failure_reported) {
    failure_reported = true;
    std::string line = program_name();
    if (!line.empty()) line += ": ";
    if (!failure.name.empty()) line += host_file_name(failure.name.c_str()) + ": ";
    line += std::strerror(failure.error);
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
  }
  return true;
}

// The process start-up: the runtime constructor before main, the exit at exit.
// Closed standard descriptors are filled first, so that no file opened later
// becomes the standard output.
struct ProcessStartUp {
  ProcessStartUp() {
    open_missing_standard_descriptors();
    runtime_constructor();
    std::atexit(runtime_exit);
  }
} process_start_up;

}  // namespace

RuntimeContext& runtime() { return context; }

ConsoleHooks& console_hooks_table() { return context.hooks; }

const ConsoleHooks& console_backend() {
  return backend_override ? *backend_override : text_console_hooks();
}

void set_console_backend(const ConsoleHooks* backend) { backend_override = backend; }

namespace {
int32_t (*waited_key_hit)(int32_t) = nullptr;
KeyHitWait key_hit_wait = nullptr;
}  // namespace

void set_key_hit_wait(int32_t (*key_hit)(int32_t), KeyHitWait wait) {
  waited_key_hit = key_hit;
  key_hit_wait = wait;
}

void wait_for_key_hit(int32_t step_ms) {
  int32_t (*slot)(int32_t) = console_hooks_table().key_hit;
  if (!slot) slot = console_backend().key_hit;
  if (key_hit_wait && slot == waited_key_hit) {
    key_hit_wait(step_ms);
  } else {
    sleep_ms(step_ms);
  }
}

void runtime_constructor() {
  if (++init_counter != 1) return;
  release_context();
  std::memset(static_cast<void*>(&context), 0, sizeof context);
  clear_file_channel_failure();
  failure_reported = false;
  close_request.store(false);
  set_view_rows_raw(-1, -1);
  setup_floating_point();
  console_reset();
  // A program that loses its display ends at once; what it printed into its files
  // reaches them first.
  set_fatal_exit_handler(flush_file_streams);
}

void runtime_exit() {
  if (init_counter <= 0) return;
  // From an exit handler the status can no longer change; end_program decides it.
  if (--init_counter == 0) close_channels_and_report();
}

int32_t runtime_init_count() { return init_counter; }

void runtime_init(int32_t argument_count, char** argument_vector, int32_t language) {
  context.argument_count = argument_count;
  context.argument_vector = argument_vector;
  context.language = language;
}

// The channels are closed before exit, so that a report that could not be written
// in full still turns a successful end into status 1 (an exit handler cannot change
// the status); the exit handlers then find nothing left to close.
void end_program(int32_t status) {
  if (close_channels_and_report() && status == 0) status = 1;
  std::exit(status);
}

void note_close_request() { close_request.store(true); }

bool close_requested() { return close_request.load(); }

void* context_area(int index, size_t size) {
  if (index < 0 || index >= CONTEXT_AREAS) return nullptr;
  if (!context.areas[index]) context.areas[index] = std::calloc(1, size ? size : 1);
  return context.areas[index];
}

namespace {
// The error context: 28 bytes whose second int32 is the last error number.
int32_t* error_slot() {
  auto* area = static_cast<int32_t*>(context_area(AREA_ERROR, 28));
  return area ? area + 1 : nullptr;
}
}  // namespace

int32_t set_error(int32_t number) {
  if (int32_t* slot = error_slot()) *slot = number;
  return number;
}

int32_t get_error() {
  int32_t* slot = error_slot();
  return slot ? *slot : 0;
}

}  // namespace zv
