// Key queue, event ring and the keyboard hooks of the graphics screen.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gfx/key_queue.h"
#include "platform/platform.h"
#include "tests/gfx/screen_test_support.h"

namespace zvtest {
namespace {

using namespace zv;

class KeyQueueTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    resetKeyQueue();
  }
  void TearDown() override {
    resetKeyQueue();
    ScreenTest::TearDown();
  }

  // Posts under the driver's exclusion, as the driver's thread does.
  void post(int32_t code) {
    driverLog().mutex.lock();
    postKey(code);
    driverLog().mutex.unlock();
  }

  static std::string inkey() {
    StringDesc* s = graphicsInkey();
    std::string bytes(s->data ? s->data : "", static_cast<size_t>(string_length(s)));
    release_temp(s);
    return bytes;
  }
};

TEST_F(KeyQueueTest, AFullQueueDropsTheOldestCode) {
  build(MODE_18);
  for (int32_t code = 1; code <= 16; ++code) post(code);
  std::vector<int32_t> read;
  while (int32_t code = popKey()) read.push_back(code);
  std::vector<int32_t> expected;
  for (int32_t code = 2; code <= 16; ++code) expected.push_back(code);
  EXPECT_EQ(read, expected);
  EXPECT_EQ(keyAvailable(), 0);
}

TEST_F(KeyQueueTest, InkeyGivesExtendedKeysAsTwoBytes) {
  build(MODE_18);
  struct Case {
    int32_t code;
    std::string bytes;
  };
  const Case cases[] = {
      {65, "A"},
      {0x94, "\x94"},
      {255, "\xff"},
      {15359, std::string("\xff") + static_cast<char>(59)},  // F1
      {KEY_CLOSE_REQUEST, std::string("\xff") + static_cast<char>(107)},
      {257, "\xffH"},  // keys given by number
      {256, "\xffk"},
      {275, "\xff" "C"},
      {276, "\xff" "D"},
      {5000, "\xff" "D"},
      {0, ""},  // a stored 0 reads as no key
  };
  for (const Case& c : cases) {
    post(c.code);
    EXPECT_EQ(inkey(), c.bytes) << c.code;
  }
  EXPECT_EQ(inkey(), "");
}

TEST_F(KeyQueueTest, GetKeyReturnsTheRawCode) {
  build(MODE_18);
  post(15359);
  post(13);
  EXPECT_EQ(graphicsGetKey(), 15359);
  EXPECT_EQ(graphicsGetKey(), 13);
}

TEST_F(KeyQueueTest, ReadersWithoutAScreen) {
  postKey(65);
  EXPECT_EQ(inkey(), "");
  EXPECT_EQ(graphicsGetKey(), 0);
  EXPECT_EQ(graphicsKeyHit(0), 0);
  EXPECT_EQ(graphicsKeyState(30), 0);
  int32_t x = 0, y = 0;
  EXPECT_EQ(graphicsGetMouse(&x, &y, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(x, -1);
  EXPECT_EQ(y, -1);
  EXPECT_EQ(graphicsSetMouse(1, 1, 1, 0), 1);
  // The queue survives: a screen opened later still sees the key.
  build(MODE_18);
  EXPECT_EQ(inkey(), "A");
}

TEST_F(KeyQueueTest, KeyStatesAreReadUnderTheLock) {
  ScreenState* s = build(MODE_18);
  s->key_states[30] = 1;
  const int locks = driverLog().locks;
  EXPECT_EQ(graphicsKeyState(30), -1);
  EXPECT_EQ(graphicsKeyState(31), 0);
  EXPECT_EQ(graphicsKeyState(200), 0);
  EXPECT_EQ(graphicsKeyState(-1), 0);
  EXPECT_EQ(driverLog().locks, locks + 2);
  EXPECT_EQ(driverLog().unlocks, driverLog().locks);
}

TEST_F(KeyQueueTest, SleepUntilAKeyLeavesTheKeyReadable) {
  build(MODE_18);
  std::thread presser([this] {
    sleep_ms(60);
    post('x');
  });
  graphicsSleep(-1);
  presser.join();
  EXPECT_EQ(graphicsKeyHit(0), 1);
  EXPECT_EQ(inkey(), "x");
}

TEST_F(KeyQueueTest, TimedSleepEndsEarlyOnAKeyPressedBefore) {
  build(MODE_18);
  post('k');
  graphicsSleep(5000);  // returns at once: the pressed flag is set
  EXPECT_EQ(keyPressedSinceCheck(), 0);  // the sleep took the flag, not the key
  EXPECT_EQ(inkey(), "k");
}

TEST_F(KeyQueueTest, EventRingHoldsAtMost127Records) {
  ScreenState* s = build(MODE_18);
  for (int32_t i = 0; i < 130; ++i) postEvent(ScreenEvent{1, {i, 0, 0, 0}});
  int32_t held = (s->event_tail - s->event_head + EVENT_QUEUE_SIZE) % EVENT_QUEUE_SIZE;
  EXPECT_EQ(held, 127);
  EXPECT_EQ(s->event_queue[s->event_head].type, 1);
  // 130 records through a ring of 128: the oldest three are gone.
  EXPECT_EQ(s->event_queue[s->event_head].data[0], 3);
}

TEST_F(KeyQueueTest, MouseWithoutADriverOperationIsError1) {
  build(MODE_18);
  int32_t x = 0, y = 0, wheel = 0, buttons = 0, clip = 0;
  EXPECT_EQ(graphicsGetMouse(&x, &y, &wheel, &buttons, &clip), 1);
  EXPECT_EQ(x, -1);
  EXPECT_EQ(buttons, -1);
  EXPECT_EQ(graphicsSetMouse(0, 0, 1, 0), 1);
}

// A producer thread posts as fast as it can under the driver's lock while this
// thread reads: no code is lost except by the queue's drop-oldest rule, and codes
// come out in the order they went in.
TEST_F(KeyQueueTest, ConcurrentPostingKeepsOrder) {
  build(MODE_18);
  constexpr int32_t COUNT = 20000;
  std::atomic<bool> done{false};
  std::thread producer([&] {
    for (int32_t code = 1; code <= COUNT; ++code) {
      driverLog().mutex.lock();
      postKey(code);
      driverLog().mutex.unlock();
    }
    done = true;
  });
  int32_t last = 0, received = 0;
  for (;;) {
    int32_t code = popKey();
    if (code == 0) {
      if (done && keyAvailable() == 0) break;
      continue;
    }
    ASSERT_GT(code, last);
    last = code;
    ++received;
  }
  producer.join();
  EXPECT_EQ(last, COUNT);  // the newest code is never dropped
  EXPECT_GT(received, 0);
}


// Every reader that waits for a key sleeps until one is posted: it does not look at
// the queue while nothing comes, and it returns once the key is there.
struct WaitingReader {
  const char* name;
  int32_t (*wait)();  // on the reader's thread; what it found
  int32_t expected;
};

TEST_F(KeyQueueTest, WaitingReadersSleepUntilAKeyIsPosted) {
  const WaitingReader readers[] = {
      {"get key", [] { return graphicsGetKey(); }, 'g'},
      {"sleep until a key", [] { graphicsSleep(-1); return keyAvailable(); }, 1},
      {"long sleep", [] { graphicsSleep(600000); return keyAvailable() * 2 + keyPressedSinceCheck(); }, 2},
      {"line editor's wait", [] { graphicsWaitKeyHit(25); return keyAvailable(); }, 1},
  };
  build(MODE_18);
  const auto locks = [] {
    std::lock_guard<std::mutex> hold(driverLog().mutex);
    return driverLog().locks;
  };
  for (const WaitingReader& reader : readers) {
    SCOPED_TRACE(reader.name);
    resetKeyQueue();
    struct Outcome {
      std::atomic<bool> done{false};
      std::atomic<int32_t> found{-1};
    };
    auto outcome = std::make_shared<Outcome>();  // outlives a reader that never wakes
    std::atomic<bool>& done = outcome->done;
    std::thread waiting([outcome, wait = reader.wait] {
      outcome->found = wait();
      outcome->done = true;
    });
    sleep_ms(50);  // the reader has looked once and waits
    const int before = locks();
    sleep_ms(300);
    // A reader that polled would have looked at least six times by now.
    EXPECT_LE(locks() - before, 2);
    EXPECT_FALSE(done);
    post('g');
    for (int i = 0; i < 1000 && !done; ++i) sleep_ms(10);
    if (!done) {
      waiting.detach();
      FAIL() << "the key did not end the wait";
    }
    waiting.join();
    EXPECT_EQ(outcome->found, reader.expected);
  }
}

}  // namespace
}  // namespace zvtest
