// The program invar: the invariant calculator.
#include "calculator/calculator.h"

int main(int argc, char** argv) { zv::run_calculator(argc, argv); }
