// placeholder until implemented
#include "console/console.h"
#include "runtime/hooks.h"
namespace zv { void console_reset() {} void console_restore_terminal() {}
const ConsoleHooks& text_console_hooks() { static ConsoleHooks h{}; return h; } }
