// The text console backend: the implementation of every console hook on the host's
// terminal (or plain standard streams when they are not a terminal). Its complete
// table is text_console_hooks() (runtime/hooks.h).
#pragma once

#include <cstdint>

namespace zv {

// Clears the backend's state; run by the first runtime constructor.
void console_reset();

// Puts the terminal back into the modes it had before the program touched it.
// Safe to call at any time and more than once; also run at exit and on signals.
void console_restore_terminal();

}  // namespace zv
