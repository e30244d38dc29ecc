// The Windows console backend's key translation: one console key event to the key
// code the program reads.
#pragma once

#include <windows.h>

#include <cstdint>

namespace zv {

// The key code of a key event (a code page 437 character 1-255, or 256 * s + 255
// for an extended key), or -1 when it gives none: a key release, a lone modifier,
// a character code page 437 does not have.
int32_t console_key_code(const KEY_EVENT_RECORD& key);

}  // namespace zv
