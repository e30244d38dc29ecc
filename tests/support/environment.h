// Setting and removing environment variables in tests, on POSIX hosts and Windows.
#pragma once

#include <cstdlib>
#include <string>

namespace zv::test {

inline void set_env(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value);
#else
  setenv(name, value, 1);
#endif
}

inline void unset_env(const char* name) {
#ifdef _WIN32
  _putenv_s(name, "");  // an empty value removes the variable
#else
  unsetenv(name);
#endif
}

}  // namespace zv::test
