// Key queue, event ring and the graphics screen's keyboard hooks. The queue and the
// key states are written by the driver's thread inside its exclusion and read here
// inside lockScreen, which takes the same exclusion.
#include "gfx/key_queue.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "gfx/window_driver.h"
#include "platform/platform.h"
#include "runtime/file_channel.h"
#include "runtime/runtime.h"
#include "runtime/statements.h"

namespace zv {

namespace {

KeyQueue queue;
uint64_t keys_posted = 0;  // every push since the last reset

// Extended codes of the keys given by number, 256 + i; the last entry (F10) serves
// every other code of 276 and above whose low byte is not 255.
constexpr char NUMBERED_KEYS[] = "kHPKMRSGOIQ;<=>?@ABCD";

// The screen lock for the span of a scope.
struct ScreenLock {
  ScreenLock() { lockScreen(); }
  ~ScreenLock() { unlockScreen(1, 0); }
  ScreenLock(const ScreenLock&) = delete;
  ScreenLock& operator=(const ScreenLock&) = delete;
};

// Every postKey is counted here as well, under a lock of its own, so that a reader can
// sleep until a key arrives instead of looking at the queue again and again.
struct KeySignal {
  std::mutex lock;
  std::condition_variable posted;
  uint64_t count = 0;
};

KeySignal& keySignal() {
  static KeySignal* signal = new KeySignal;  // never destroyed: waits may outlive main
  return *signal;
}

uint64_t keySignals() {
  KeySignal& k = keySignal();
  std::lock_guard<std::mutex> hold(k.lock);
  return k.count;
}

// Waits until ready() holds, testing it again whenever a key is posted; gives up after
// the time given (negative: never). The answer is ready()'s last one. ready() takes
// the screen lock, so it is never called with the signal's lock held.
template <class Ready>
bool waitForKey(Ready ready, int32_t milliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  KeySignal& k = keySignal();
  for (;;) {
    const uint64_t seen = keySignals();
    if (ready()) return true;
    std::unique_lock<std::mutex> hold(k.lock);
    const auto posted = [&] { return k.count != seen; };
    if (milliseconds < 0) {
      k.posted.wait(hold, posted);
    } else if (!k.posted.wait_until(hold, deadline, posted)) {
      hold.unlock();
      return ready();
    }
  }
}

int32_t take_pressed_flag() {
  int32_t pressed = queue.key_pressed;
  queue.key_pressed = 0;
  return pressed;
}

}  // namespace

void postKey(int32_t code) {
  queue.codes[queue.tail] = code;
  int32_t next = (queue.tail + 1) % KEY_QUEUE_SIZE;
  if (next == queue.head) queue.head = (next + 1) % KEY_QUEUE_SIZE;
  queue.tail = next;
  queue.key_pressed = 1;
  ++keys_posted;
  // Noted apart from the queue as well, so that a full queue cannot drop it; before
  // the waiters wake, so that they see it.
  if (code == KEY_CLOSE_REQUEST) note_close_request();
  KeySignal& k = keySignal();
  {
    std::lock_guard<std::mutex> hold(k.lock);
    ++k.count;
  }
  k.posted.notify_all();
}

uint64_t keysPosted() { return keys_posted; }

int32_t keysQueued() { return (queue.tail - queue.head + KEY_QUEUE_SIZE) % KEY_QUEUE_SIZE; }

void postEvent(const ScreenEvent& event) {
  ScreenState* s = currentScreen();
  if (!s || !s->event_queue || !s->event_lock) return;
  s->event_lock->acquire();
  s->event_queue[s->event_tail] = event;
  int32_t next = (s->event_tail + 1) % EVENT_QUEUE_SIZE;
  if (next == s->event_head) s->event_head = (next + 1) % EVENT_QUEUE_SIZE;
  s->event_tail = next;
  s->event_lock->release();
}

int32_t popKey() {
  ScreenLock lock;
  int32_t code = 0;
  if (queue.head != queue.tail) {
    code = queue.codes[queue.head];
    queue.head = (queue.head + 1) % KEY_QUEUE_SIZE;
  }
  take_pressed_flag();
  return code;
}

int32_t keyAvailable() {
  ScreenLock lock;
  return queue.head != queue.tail ? 1 : 0;
}

int32_t keyPressPending() { return queue.key_pressed; }

int32_t keyPressedSinceCheck() {
  ScreenLock lock;
  return take_pressed_flag();
}

void resetKeyQueue() {
  queue = KeyQueue{};
  keys_posted = 0;
}

uint8_t extendedKeyByte(int32_t code) {
  if ((code & 0xFF) == 0xFF) return static_cast<uint8_t>((code >> 8) & 0xFF);
  if (code >= 256 && code <= 275) return static_cast<uint8_t>(NUMBERED_KEYS[code - 256]);
  return static_cast<uint8_t>(NUMBERED_KEYS[20]);
}

StringDesc* graphicsInkey() {
  if (!currentScreen()) return temp_from_literal("", 0);
  int32_t code = popKey();
  if (code <= 0) return temp_from_literal("", 0);
  char bytes[2];
  if (code <= 255) {
    bytes[0] = static_cast<char>(code);
    return temp_from_copy(bytes, 1);
  }
  bytes[0] = static_cast<char>(255);
  bytes[1] = static_cast<char>(extendedKeyByte(code));
  return temp_from_copy(bytes, 2);
}

int32_t graphicsGetKey() {
  if (!currentScreen()) return 0;
  int32_t code = popKey();
  if (code != 0) return code;
  // As the sleep statement does before it waits: the files get what was printed.
  flush_file_channels();
  // The screen may be closed while waiting (the close request is a key too).
  waitForKey([&code] { return !currentScreen() || (code = popKey()) != 0; }, -1);
  return currentScreen() ? code : 0;
}

int32_t graphicsKeyHit(int32_t) { return currentScreen() ? keyAvailable() : 0; }

int32_t graphicsKeyState(int32_t scan_code) {
  ScreenState* s = currentScreen();
  if (!s || !s->key_states || scan_code < 0 || scan_code >= KEY_STATE_COUNT) return 0;
  ScreenLock lock;
  return s->key_states[scan_code] ? -1 : 0;
}

int32_t graphicsGetMouse(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip) {
  int32_t ignored[3];
  if (!wheel) wheel = &ignored[0];
  if (!buttons) buttons = &ignored[1];
  if (!clip) clip = &ignored[2];
  ScreenState* s = currentScreen();
  if (s && s->driver && s->driver->readMouse) {
    ScreenLock lock;
    if (s->driver->readMouse(x, y, wheel, buttons, clip) == 0) return set_error(ERR_NONE);
  }
  if (x) *x = -1;
  if (y) *y = -1;
  *wheel = *buttons = *clip = -1;
  return set_error(ERR_ILLEGAL_CALL);
}

int32_t graphicsSetMouse(int32_t x, int32_t y, int32_t cursor, int32_t clip) {
  ScreenState* s = currentScreen();
  if (!s || !s->driver || !s->driver->setMouse) return set_error(ERR_ILLEGAL_CALL);
  ScreenLock lock;
  s->driver->setMouse(x, y, cursor, clip);
  return set_error(ERR_NONE);
}

// A key press ends the wait for a key at once, and the steps of 50 ms that a long
// sleep takes while more than 50 ms are left; the rest is slept out.
void graphicsSleep(int32_t milliseconds) {
  const auto pressed = [] { return keyPressedSinceCheck() != 0; };
  if (milliseconds == -1) {
    waitForKey([] { return keyPressedSinceCheck() != 0 || close_requested(); }, -1);
    return;
  }
  if (milliseconds >= 100) {
    const int32_t steps = (milliseconds - 1) / 50 * 50;  // whole steps while more than 50 ms are left
    if (waitForKey(pressed, steps)) return;
    milliseconds -= steps;
  }
  if (milliseconds > 0) sleep_ms(milliseconds);
}

void graphicsWaitKeyHit(int32_t step_ms) {
  if (!currentScreen()) {
    sleep_ms(step_ms);
    return;
  }
  waitForKey([] { return !currentScreen() || keyAvailable() != 0; }, -1);
}

int32_t graphicsIsRedirected(int32_t) { return 0; }

}  // namespace zv
