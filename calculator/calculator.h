// The invariant calculator: one linear run over one matrix, two passes.
#pragma once

namespace zv {
// Runs the whole dialogue and ends the process with exit status 0.
int run_calculator(int argc, char** argv);
}
