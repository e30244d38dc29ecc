// The program invar: the invariant calculator. --version and --help are answered
// before the runtime starts; every other argument goes to the runtime.
#include "calculator/calculator.h"
#include "common/standard_options.h"

namespace {

// Plain ASCII, so that every terminal and console shows it as it is.
constexpr char USAGE[] =
    "invar - invariante Punkte und Geraden einer ebenen Kollineation\n"
    "        invariant points and lines of a plane collineation\n"
    "\n"
    "Aufruf / usage: invar [--help | --version]\n"
    "\n"
    "invar fragt nach den neun Koeffizienten a11 ... a33 einer Matrix, rechnet im\n"
    "Fenster oder im Terminal und schreibt alles auch in den Bericht invar.txt im\n"
    "aktuellen Verzeichnis (Codepage 437, CR LF).\n"
    "invar asks for the nine coefficients a11 ... a33 of a matrix, works in its\n"
    "window or on the terminal and also writes everything to the report invar.txt\n"
    "in the current directory (code page 437, CR LF).\n"
    "\n"
    "  --help     diese Hilfe / this help\n"
    "  --version  Name und Version / name and version\n"
    "\n"
    "Mehr / more: man invar\n";

}  // namespace

int main(int argc, char** argv) {
  int status = 0;
  if (zv::answerStandardOption(argc, argv, "invar " ZV_VERSION "\n", USAGE, &status)) return status;
  zv::run_calculator(argc, argv);
}
