// The options every program of the system answers before its runtime starts:
// --version (name and version, one line) and --help (a short usage). Only the first
// argument is looked at; anything else is left to the runtime.
#pragma once

#include <cstdio>
#include <cstring>

namespace zv {

// True when the first argument is --version or --help: its text is then on standard
// output and *status is the exit status, 0, or 1 when standard output did not take
// the whole text.
inline bool answerStandardOption(int argc, char** argv, const char* version_line, const char* usage,
                                 int* status) {
  if (argc < 2) return false;
  const char* text = std::strcmp(argv[1], "--version") == 0 ? version_line
                     : std::strcmp(argv[1], "--help") == 0  ? usage
                                                            : nullptr;
  if (!text) return false;
  const bool written = std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0;
  *status = written ? 0 : 1;
  return true;
}

}  // namespace zv
