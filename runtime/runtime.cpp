// The runtime context, its start-up and shutdown, error numbers and context areas.
#include "runtime/runtime.h"

#include <cstdlib>
#include <cstring>

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

// Frees what the context owns, so that clearing it loses nothing.
void release_context() {
  if (context.areas[AREA_INPUT]) free_string(&static_cast<InputContext*>(context.areas[AREA_INPUT])->line);
  for (void*& area : context.areas) {
    std::free(area);
    area = nullptr;
  }
  reset_temp_pool();
}

// The process start-up: the runtime constructor before main, the exit at exit.
struct ProcessStartUp {
  ProcessStartUp() {
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

void runtime_constructor() {
  if (++init_counter != 1) return;
  release_context();
  std::memset(static_cast<void*>(&context), 0, sizeof context);
  set_view_rows_raw(-1, -1);
  setup_floating_point();
  console_reset();
}

void runtime_exit() {
  if (init_counter <= 0) return;
  if (--init_counter == 0) close_all_channels();
}

int32_t runtime_init_count() { return init_counter; }

void runtime_init(int32_t argument_count, char** argument_vector, int32_t language) {
  context.argument_count = argument_count;
  context.argument_vector = argument_vector;
  context.language = language;
}

void end_program(int32_t status) { std::exit(status); }

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
