// The invariant calculator: one linear run over one matrix, two passes.
#pragma once

namespace zv {
// Runs the whole dialogue and ends the process with exit status 0.
[[noreturn]] void run_calculator(int argc, char** argv);

// The run from the screen-mode request to the final pause, on a runtime that is
// already initialised (run_calculator adds the start-up and the end).
void run_calculation();
}
