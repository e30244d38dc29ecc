// The text console backend: the implementation of every console hook on the host's
// terminal (or plain standard streams when they are not a terminal). Its complete
// table is text_console_hooks() (runtime/hooks.h).
#pragma once

#include <cstdint>

namespace zv {

// Clears the backend's state; run by the first runtime constructor. Output still
// held back is written first.
void console_reset();

// Puts the terminal back into the modes it had before the program touched it.
// Safe to call at any time and more than once; also run at exit and on signals.
void console_restore_terminal();

// Writes the output held back so far. Output that is not a terminal is gathered
// and written when the buffer is full, before the program could wait for input or
// time, and at exit; a caller that hands standard output to someone else (or
// reads it back) flushes first.
void console_flush();

// A window of the program's own has opened. A console window made for this program
// alone (it was started without one, as from the desktop) is let go, so that no empty
// console stands beside the window; a console shared with the parent (a command
// prompt) or one without a visible window (a terminal) is kept. Nothing to do where
// the console is a terminal.
void console_release_own_window();

}  // namespace zv
