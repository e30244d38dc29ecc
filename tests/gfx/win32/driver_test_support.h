// Test support for the window drivers on the virtual desktop: a fixture that switches
// the desktop on, puts the GDI driver alone in the driver list, closes every screen
// afterwards and runs a driver's table of failed opens; helpers that wait (with a
// generous time-out) for the update thread, read the key queue and the event ring,
// and a sentinel key press that marks the point by which every earlier input has
// been handled.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

#include "tests/support/environment.h"
#include "gfx/key_queue.h"
#include "gfx/screen_mode.h"
#include "gfx/screen_state.h"
#include "gfx/win32/drivers.h"
#include "gfx/win32/window.h"
#include "tests/gfx/mode_test_support.h"
#include "platform/win32/virtual_desktop.h"
#include "runtime/runtime.h"

namespace zvtest::drivers {

namespace vdesk = zv::vdesk;

constexpr auto WAIT_LIMIT = std::chrono::seconds(20);

// Waits until the condition holds or the time-out passes; the result is the
// condition's last answer.
inline bool waitFor(const std::function<bool()>& condition) {
  const auto end = std::chrono::steady_clock::now() + WAIT_LIMIT;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

struct EventRecord {
  int32_t type, a, b;
  bool operator==(const EventRecord&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const EventRecord& e) {
  return out << "{" << e.type << ", " << e.a << ", " << e.b << "}";
}

// Every key code waiting in the queue, oldest first (a stored 0 included).
inline std::vector<int32_t> takeKeys() {
  std::vector<int32_t> keys;
  zv::lockScreen();
  while (zv::keysQueued() > 0) keys.push_back(zv::popKey());
  zv::unlockScreen(1, 0);
  return keys;
}

// Every record waiting in the event ring, oldest first; the ring is emptied.
inline std::vector<zv::ScreenEvent> takeEvents() {
  std::vector<zv::ScreenEvent> events;
  zv::ScreenState* s = zv::currentScreen();
  if (!s) return events;
  s->event_lock->acquire();
  while (s->event_head != s->event_tail) {
    events.push_back(s->event_queue[s->event_head]);
    s->event_head = (s->event_head + 1) % zv::EVENT_QUEUE_SIZE;
  }
  s->event_lock->release();
  return events;
}

constexpr uint16_t SENTINEL_KEY = VK_F12;
constexpr uint8_t SENTINEL_SCAN = 88;
constexpr int32_t SENTINEL_CODE = 0x86FF;

struct Input {
  std::vector<int32_t> keys;
  std::vector<EventRecord> events;
};

inline void pressVirtualSentinel() {
  vdesk::key(SENTINEL_KEY, SENTINEL_SCAN, false, true);
  vdesk::key(SENTINEL_KEY, SENTINEL_SCAN, false, false);
}

// Presses and releases F12 (on the virtual desktop, unless the caller presses it
// another way) and collects keys and events until its key code and its release event
// have arrived: everything given to the window before is handled by then. The
// sentinel's own code and events are left out.
inline Input drainInput(const std::function<void()>& press_sentinel = pressVirtualSentinel) {
  Input input;
  press_sentinel();
  bool have_code = false, have_release = false;
  waitFor([&] {
    for (int32_t key : takeKeys()) {
      if (key == SENTINEL_CODE && !have_code) have_code = true;
      else input.keys.push_back(key);
    }
    for (const zv::ScreenEvent& e : takeEvents()) {
      if ((e.type == 1 || e.type == 2) && e.data[0] == SENTINEL_SCAN) {
        if (e.type == 2) have_release = true;
        continue;
      }
      input.events.push_back({e.type, e.data[0], e.data[1]});
    }
    return have_code && have_release;
  });
  EXPECT_TRUE(have_code && have_release) << "the window did not handle the sentinel key";
  return input;
}

inline std::vector<int32_t> eventTypes(const std::vector<EventRecord>& events) {
  std::vector<int32_t> types;
  for (const EventRecord& e : events) types.push_back(e.type);
  return types;
}

// Fills the framebuffer with a pattern that differs from row to row and column to
// column, with alpha bytes set in 32-bit screens, and marks every row dirty.
inline void drawPattern(uint32_t seed) {
  zv::lockScreen();
  zv::ScreenState& s = *zv::currentScreen();
  for (int32_t y = 0; y < s.height; ++y) {
    uint8_t* line = s.framebuffer + static_cast<size_t>(y) * s.pitch;
    for (int32_t x = 0; x < s.width; ++x) {
      const uint32_t v = (static_cast<uint32_t>(x) * 2654435761u) ^ (static_cast<uint32_t>(y) * 40503u) ^ seed;
      if (s.bytes_per_pixel == 1) line[x] = static_cast<uint8_t>(v & s.colour_mask);
      else if (s.bytes_per_pixel == 2) std::memcpy(line + 2 * x, &v, 2);
      else std::memcpy(line + 4 * x, &v, 4);
    }
  }
  zv::markRowsDirty(&s, 0, s.height - 1);
  zv::unlockScreen(1, 0);
}

// The threads of this process. A sanitizer's runtime starts a thread of its own at
// the first thread the process creates; one created and joined first keeps that out
// of the counts the tests compare.
inline int32_t threadCount() {
  static const bool runtime_threads_started = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)runtime_threads_started;
  int32_t count = 0;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (const dirent* entry = readdir(tasks)) count += entry->d_name[0] != '.';
    closedir(tasks);
  }
  return count;
}

// An open that fails for want of something the driver needs, which the fault takes
// away while it is on.
struct FailedOpen {
  const char* what;
  int32_t flags;
  void (*fault)(bool on);
};

// The GDI driver alone in the list, a fresh virtual desktop of 1024x768, an empty key
// queue.
class DriverTest : public zvtest::DriverListTest {
 protected:
  void SetUp() override {
    DriverListTest::SetUp();
    vdesk::enable(1024, 768, 32);
    list_[0] = &zv::gdiWindowDriver();
    list_[1] = nullptr;
    zv::setWindowTitle("drivertest", 10);
    // The horizontal wheel position is kept across screens; each test starts at 0.
    zv::inputState().hwheel = 0;
  }

  void TearDown() override {
    DriverListTest::TearDown();
    vdesk::disable();
  }

  // The program's one window (fails the test when there is not exactly one).
  static HWND theWindow() {
    const std::vector<vdesk::WindowInfo> windows = vdesk::windows();
    EXPECT_EQ(windows.size(), 1u);
    return windows.empty() ? nullptr : windows.front().window;
  }

  static vdesk::WindowInfo info(HWND window) {
    vdesk::WindowInfo result{};
    EXPECT_TRUE(vdesk::windowInfo(window, &result));
    return result;
  }

  // Opens a numbered mode and waits until the window is active and has handled its
  // first messages; input and events from the start are dropped.
  void openMode(int32_t mode, int32_t depth = 8, int32_t flags = 0) {
    ASSERT_EQ(zv::setScreenMode(mode, depth, 0, flags, 0), 0);
    settle();
  }

  void openSize(int32_t width, int32_t height, int32_t depth, int32_t flags = 0) {
    ASSERT_EQ(zv::setScreenSize(width, height, depth, 1, flags, 0), 0);
    settle();
  }

  static void settle() {
    ASSERT_NE(zv::currentScreen(), nullptr);
    ASSERT_TRUE(waitFor([] { return vdesk::foregroundWindow() != nullptr; }));
    drainInput();
    drainInput();
  }

  // Calls a driver operation the way the core does: under the screen lock.
  template <class Call>
  static auto underLock(Call call) {
    zv::lockScreen();
    auto result = call(*zv::currentScreen()->driver);
    zv::unlockScreen(1, 0);
    return result;
  }

  // Each open fails with its fault on and leaves nothing behind: no window, thread,
  // registered class, OpenGL context or DirectX object, the screen saver and the
  // display mode as they were. Once the fault is gone the same open (with the flags
  // the driver needs) succeeds.
  static void expectFailedOpens(const std::vector<FailedOpen>& cases, int32_t width, int32_t height, int32_t depth,
                                int32_t needed_flags = 0) {
    for (const FailedOpen& c : cases) {
      SCOPED_TRACE(c.what);
      const int32_t threads = threadCount();
      c.fault(true);
      EXPECT_EQ(zv::setScreenSize(width, height, depth, 1, c.flags, 0), 1);
      EXPECT_EQ(zv::currentScreen(), nullptr);
      c.fault(false);
      EXPECT_TRUE(vdesk::windows().empty());
      EXPECT_EQ(zv::inputState().update_thread, nullptr);
      // A thread of an earlier test may still be finishing when the count was taken.
      EXPECT_TRUE(waitFor([&] { return threadCount() <= threads; }));
      EXPECT_TRUE(vdesk::screenSaverActive());
      EXPECT_EQ(vdesk::glContexts(), 0);
      EXPECT_EQ(vdesk::directXObjects(), 0);
      EXPECT_EQ(vdesk::currentDisplayMode().width, 1024);
      WNDCLASSA probe{};
      probe.lpfnWndProc = DefWindowProcA;
      probe.lpszClassName = "zvgfxclass_drivertest";
      const ATOM atom = RegisterClassA(&probe);
      EXPECT_NE(atom, 0) << "the window class was left registered";
      if (atom) UnregisterClassA("zvgfxclass_drivertest", nullptr);
      EXPECT_EQ(zv::setScreenSize(width, height, depth, 1, c.flags | needed_flags, 0), 0);
      EXPECT_EQ(vdesk::windows().size(), 1u);
      zv::closeScreenAtExit();
    }
  }
};

}  // namespace zvtest::drivers
