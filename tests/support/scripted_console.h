// A scripted console for tests: installed as the console backend, it hands out keys
// from a script and records every byte that is printed, plus the cursor moves and
// pauses, so that tests can assert exactly what the console received.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

namespace zv::test {

struct ScriptedConsole {
  std::deque<int32_t> keys;  // key codes: 1..255, or 256 * scan + 255 for extended keys
  std::string output;        // every byte given to the print-buffer hook
  int32_t columns = 80, rows = 25;
  int32_t column = 0, row = 0;  // cursor, from 0
  bool cursor_visible = true;
  int32_t clears = 0;    // clear-screen calls
  int32_t pauses = 0;    // sleep(-1) calls
  int32_t beeps = 0;     // bell bytes printed
  bool redirected = false;
  // When set, a pause consumes one key (as the real console does on a terminal).
  bool pause_consumes_key = true;
  // Called at every pause, before its key is taken.
  std::function<void()> at_pause;
  // What the screen showed, in order: printed text, "<CLS>" and "<PAUSE>" (cursor
  // moves are not recorded: they change no text).
  std::string log;

  void type(const std::string& text);  // queues each byte as a key
  void press(int32_t code) { keys.push_back(code); }
};

// The window's close request as a key code. The console delivers it as the window
// layer does: a key, and the request noted with the runtime.
constexpr int32_t KEY_CLOSE = 107 * 256 + 255;

// Puts the console in the text console's place behind the hooks table (the table
// itself is emptied); uninstall restores the text console.
void install(ScriptedConsole& console);
void uninstall();

// Extended key codes (255 in the low byte, the scan code in the high byte).
constexpr int32_t extended_key(int32_t scan) { return scan * 256 + 255; }
constexpr int32_t KEY_HOME = extended_key(71), KEY_UP = extended_key(72), KEY_LEFT = extended_key(75),
                  KEY_RIGHT = extended_key(77), KEY_END = extended_key(79), KEY_DOWN = extended_key(80),
                  KEY_DELETE = extended_key(83);

}  // namespace zv::test
