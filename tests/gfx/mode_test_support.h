// Test doubles for mode setting: a driver list of three recording drivers with the
// names of the real ones, each of which can be told to refuse its opens, and a
// fixture that puts that list (or the single test driver) in place of the built-in
// list and takes every screen down afterwards.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/environment.h"
#include "gfx/key_queue.h"
#include "gfx/screen_mode.h"
#include "tests/gfx/screen_test_support.h"

namespace zvtest {

struct OpenCall {
  std::string driver, title;
  int32_t width, height, depth, refresh_rate, flags;
  bool operator==(const OpenCall&) const = default;
};

struct RecordingDrivers {
  std::vector<OpenCall> opens;
  std::vector<std::string> closes;  // driver names, in call order
  int refused_opens[3] = {0, 0, 0};  // per driver: opens still to refuse, -1 all
  int titles_set = 0;
  std::string last_title;
};

inline RecordingDrivers& recording() {
  static RecordingDrivers r;
  return r;
}

inline constexpr const char* RECORDING_NAMES[3] = {"DirectX", "GDI", "OpenGL"};

template <int I>
int32_t recordingOpen(const char* title, int32_t width, int32_t height, int32_t depth,
                      int32_t refresh_rate, int32_t flags) {
  auto& r = recording();
  r.opens.push_back({RECORDING_NAMES[I], title, width, height, depth, refresh_rate, flags});
  if (r.refused_opens[I] == 0) return 0;
  if (r.refused_opens[I] > 0) --r.refused_opens[I];
  return 1;
}

template <int I>
void recordingClose() {
  recording().closes.push_back(RECORDING_NAMES[I]);
}

template <int I>
zv::WindowDriver recordingDriver() {
  zv::WindowDriver d = testDriver();
  d.name = RECORDING_NAMES[I];
  d.open = recordingOpen<I>;
  d.close = recordingClose<I>;
  d.setTitle = [](const char* title) {
    ++recording().titles_set;
    recording().last_title = title;
  };
  return d;
}

// Every test starts with a fresh runtime, no screen, the test's own driver list (list_,
// filled by the test), no driver name, no ZVGFX and an empty key queue; and ends with
// the screen closed and the built-in list and ZVGFX back.
class DriverListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    zv::runtime_exit();
    zv::runtime_constructor();
    zv::closeScreenAtExit();
    zv::resetKeyQueue();
    zv::setWindowDriverList(list_);
    zv::setScreenDriverName(nullptr);
    const char* variable = std::getenv("ZVGFX");
    if (variable) saved_variable_ = variable;
    had_variable_ = variable != nullptr;
    zv::test::unset_env("ZVGFX");
  }

  void TearDown() override {
    zv::closeScreenAtExit();
    zv::setWindowDriverList(nullptr);
    zv::setScreenDriverName(nullptr);
    zv::resetKeyQueue();
    if (had_variable_) zv::test::set_env("ZVGFX", saved_variable_.c_str());
  }

  const zv::WindowDriver* list_[4]{};
  std::string saved_variable_;
  bool had_variable_ = false;
};

// The recording list in place of the built-in one.
class ModeTest : public DriverListTest {
 protected:
  void SetUp() override {
    DriverListTest::SetUp();
    zv::resetPalettePorts();
    recording() = RecordingDrivers{};
    auto& log = driverLog();
    log.locks = log.unlocks = log.presents = log.pumps = log.retraces = 0;
    log.colours.clear();
    drivers_[0] = recordingDriver<0>();
    drivers_[1] = recordingDriver<1>();
    drivers_[2] = recordingDriver<2>();
    list_[0] = &drivers_[0];
    list_[1] = &drivers_[1];
    list_[2] = &drivers_[2];
    list_[3] = nullptr;
  }

  // Only the single test driver (real mutex, no window) is in the list.
  void useTestDriverOnly() {
    drivers_[0] = testDriver();
    list_[1] = nullptr;
  }

  // Posts a key under the driver's exclusion, as a driver's thread does.
  static void post(int32_t code) {
    std::lock_guard<std::mutex> hold(driverLog().mutex);
    zv::postKey(code);
  }

  zv::WindowDriver drivers_[3]{};
};

}  // namespace zvtest
