// Runs every registered fuzz target on a bounded, reproducible stream of random
// inputs: short and long, mostly printable, mostly binary, and with the bytes that
// the parsers treat specially.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_target.h"

namespace zv::test {

namespace {
struct Target {
  const char* name;
  FuzzEntry entry;
};
std::vector<Target>& targets() {
  static std::vector<Target> list;
  return list;
}
}  // namespace

FuzzRegistrar::FuzzRegistrar(const char* name, FuzzEntry entry) { targets().push_back({name, entry}); }

TEST(FuzzSmoke, EveryTargetSurvivesRandomInput) {
  ASSERT_FALSE(targets().empty());
  static const char special[] = "0123456789.eEdD&hHbBoO+-, \t\r\n\"\x1b[~;ABCDHF\x08\x7f\xff";
  for (const Target& t : targets()) {
    std::mt19937_64 rng(12345);
    for (int i = 0; i < 20000; ++i) {
      size_t length = rng() % (i % 10 == 0 ? 600 : 80);
      std::vector<uint8_t> data(length);
      int flavour = static_cast<int>(rng() % 3);
      for (auto& b : data) {
        if (flavour == 0) b = static_cast<uint8_t>(rng());
        else if (flavour == 1) b = static_cast<uint8_t>(special[rng() % (sizeof special - 1)]);
        else b = static_cast<uint8_t>(32 + rng() % 95);
      }
      t.entry(data.data(), data.size());
    }
    SCOPED_TRACE(t.name);
  }
}

}  // namespace zv::test
