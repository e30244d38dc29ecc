// The invariant calculator: one linear run over one matrix, two passes.
#pragma once

namespace zv {
// Runs the whole dialogue and ends the process with exit status 0.
[[noreturn]] void run_calculator(int argc, char** argv);

// The run from the screen-mode request to the final pause, on a runtime that is
// already initialised (run_calculator adds the start-up and the end). A close
// request of the window, met at an entry or a pause, ends the program there through
// end_program(0).
void run_calculation();
}
