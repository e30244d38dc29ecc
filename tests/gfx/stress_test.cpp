// Two threads on one screen, as with a windowed driver: a driver thread posts keys and
// events as fast as it can under the driver's exclusion while the program thread
// prints, scrolls, clears and reads keys. Under ThreadSanitizer this must run without
// a report; in every build each posted key is either read, in order, or was the
// oldest key of a full queue.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "runtime/print.h"
#include "runtime/statements.h"
#include "tests/gfx/mode_test_support.h"

namespace zvtest {
namespace {

using namespace zv;

constexpr int32_t KEYS = 20000;
constexpr int32_t EVENTS = 5000;
constexpr int32_t QUEUE_HOLDS = KEY_QUEUE_SIZE - 1;
constexpr int32_t EVENTS_HELD = EVENT_QUEUE_SIZE - 1;

class StressTest : public ModeTest {};

// Takes every waiting event record under the event lock, checking that their
// sequence numbers rise; returns the last one seen.
int32_t drainEvents(ScreenState* s, int32_t last, int32_t& taken) {
  s->event_lock->acquire();
  while (s->event_head != s->event_tail) {
    const ScreenEvent& e = s->event_queue[s->event_head];
    EXPECT_GT(e.data[0], last);
    last = e.data[0];
    ++taken;
    s->event_head = (s->event_head + 1) % EVENT_QUEUE_SIZE;
  }
  s->event_lock->release();
  return last;
}

TEST_F(StressTest, KeysAndEventsFromTheDriverThreadWhileTheProgramDraws) {
  useTestDriverOnly();
  ASSERT_EQ(setScreenMode(18, 8, 0, 0, 0), 0);
  ScreenState* s = currentScreen();
  ASSERT_NE(s, nullptr);

  // Filled by the driver thread only, read after it has been joined.
  std::vector<int32_t> dropped;
  std::atomic<bool> done{false};
  std::thread driver_thread([&] {
    for (int32_t seq = 1, event = 1; seq <= KEYS; ++seq) {
      {
        std::lock_guard<std::mutex> hold(driverLog().mutex);
        // The queue holds a run of the latest codes: when it is full, this post
        // pushes out the oldest of them.
        if (keysQueued() == QUEUE_HOLDS) dropped.push_back(seq - QUEUE_HOLDS);
        postKey(seq);
      }
      if (seq % 4 == 0 && event <= EVENTS) postEvent(ScreenEvent{1, {event++, seq, 0, 0}});
    }
    done = true;
  });

  std::vector<int32_t> read;
  int32_t last_event = 0, events_taken = 0;
  const std::string text = "Die Fixpunkte und Fixgeraden der Kollineation, Zeile fuer Zeile ";
  for (int32_t round = 0; !done.load() || keyAvailable(); ++round) {
    print_text(0, text.c_str(), round % 3 == 0 ? PRINT_NEWLINE : PRINT_NONE);
    if (round % 97 == 0) clear_screen(round % 2 == 0 ? 0 : 2);
    if (round % 31 == 0) locate(1 + round % 30, 1 + round % 80, -1);
    keyPressedSinceCheck();
    while (int32_t code = popKey()) read.push_back(code);
    last_event = drainEvents(s, last_event, events_taken);
  }
  driver_thread.join();
  while (int32_t code = popKey()) read.push_back(code);
  last_event = drainEvents(s, last_event, events_taken);

  // Read and dropped keys together are every posted key exactly once, each list in
  // posting order.
  ASSERT_FALSE(read.empty());
  for (size_t i = 1; i < read.size(); ++i) ASSERT_LT(read[i - 1], read[i]) << "at " << i;
  for (size_t i = 1; i < dropped.size(); ++i) ASSERT_LT(dropped[i - 1], dropped[i]);
  std::vector<int32_t> all;
  std::merge(read.begin(), read.end(), dropped.begin(), dropped.end(), std::back_inserter(all));
  ASSERT_EQ(all.size(), static_cast<size_t>(KEYS));
  for (int32_t i = 0; i < KEYS; ++i) ASSERT_EQ(all[static_cast<size_t>(i)], i + 1);
  EXPECT_EQ(read.back(), KEYS);

  // Events rise and the last is always kept; at least a full ring's worth arrives.
  EXPECT_EQ(last_event, EVENTS);
  EXPECT_GE(events_taken, EVENTS_HELD);

  // Every lock the program took was given back.
  EXPECT_EQ(s->lock_count, 0);
  EXPECT_EQ(driverLog().locks, driverLog().unlocks);
}

}  // namespace
}  // namespace zvtest
