// The graphics screen's keyboard: the process-wide key queue that the window
// driver fills, the screen's event ring, and the keyboard, sleep and mouse hooks
// that read them.
#pragma once

#include <cstdint>

#include "gfx/screen_state.h"
#include "runtime/strings.h"

namespace zv {

constexpr int32_t KEY_QUEUE_SIZE = 16;  // a ring: at most 15 codes are held
constexpr int32_t KEY_CLOSE_REQUEST = 27647;

struct KeyQueue {
  int32_t codes[KEY_QUEUE_SIZE];
  int32_t head;         // the oldest code
  int32_t tail;         // where the next code goes; head == tail is empty
  int32_t key_pressed;  // set by every push, cleared when read
};

// For the driver, called while it holds its exclusion (the lock lockScreen takes):
// a full queue drops its oldest code.
void postKey(int32_t code);
// For the driver, under its exclusion: the number of codes waiting (0 ... 15), so
// that a driver feeding keys faster than they are read can hold back.
int32_t keysQueued();
// Under the same exclusion: how many codes have been pushed since the queue was
// reset, so that a feeder can tell that a key it sent has arrived.
uint64_t keysPosted();
// Under the same exclusion: whether a code was pushed since the hooks last read the
// pressed flag (a waiting pause takes that flag), so that a feeder can give each
// pause its own key.
int32_t keyPressPending();
// Copies the record into the open screen's event ring under the event lock; a full
// ring (127 records) drops its oldest record. Nothing happens without a screen.
void postEvent(const ScreenEvent& event);

// For the hooks, each under the screen lock.
int32_t popKey();  // the oldest code, or 0; also reads and clears the pressed flag
int32_t keyAvailable();
int32_t keyPressedSinceCheck();

// Empties the queue (the queue survives mode changes; tests start afresh).
void resetKeyQueue();

// The two-byte inkey form of an extended key code: byte 255 and this byte.
uint8_t extendedKeyByte(int32_t code);

// Hook implementations (slots 0, 1, 2, 14, 15, 16, 23, 24 of the hooks table).
StringDesc* graphicsInkey();
int32_t graphicsGetKey();
int32_t graphicsKeyHit(int32_t ignored);
int32_t graphicsKeyState(int32_t scan_code);
int32_t graphicsGetMouse(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip);
int32_t graphicsSetMouse(int32_t x, int32_t y, int32_t cursor, int32_t clip);
void graphicsSleep(int32_t milliseconds);
int32_t graphicsIsRedirected(int32_t input);

// The line editor's wait between two key-hit tests: returns once a key is waiting
// (without a screen, after the step).
void graphicsWaitKeyHit(int32_t step_ms);

}  // namespace zv
