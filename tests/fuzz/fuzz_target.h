// Declares a fuzz target. Built with libFuzzer it is the program's
// LLVMFuzzerTestOneInput; in the test suite every target is registered and fed a
// bounded stream of random inputs instead.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zv::test {
using FuzzEntry = int (*)(const uint8_t* data, size_t size);
struct FuzzRegistrar {
  FuzzRegistrar(const char* name, FuzzEntry entry);
};
}  // namespace zv::test

#ifdef ZV_FUZZ_SMOKE
#define ZV_FUZZ_TARGET(name)                                                    \
  static int fuzz_##name(const uint8_t* data, size_t size);                    \
  static ::zv::test::FuzzRegistrar fuzz_registrar_##name(#name, fuzz_##name);  \
  static int fuzz_##name(const uint8_t* data, size_t size)
#else
#define ZV_FUZZ_TARGET(name) extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
#endif
