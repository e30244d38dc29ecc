// Graphics implementations of the console hooks for colours, the palette ports and
// pages (slots 4, 17, 18, 25, 26). Mode setting installs them into the hooks table.
#pragma once

#include <cstdint>

namespace zv {

// Slot 4: flags 0x01 foreground not given, 0x02 background not given. Returns the
// previous colours: background * 65536 + foreground up to depth 8, the foreground
// widened to 0xFFRRGGBB in depth 16, the foreground in depth 32.
int32_t colourHook(int32_t foreground, int32_t background, int32_t flags);

// Slot 17: port 0x3C9 reads palette components, 0x3DA waits for the retrace and
// gives 8; anything else -1.
int32_t portInHook(int32_t port);

// Slot 18: ports 0x3C7/0x3C8 set the palette port index, 0x3C9 takes components
// (red, green, blue, 6 bits each); 0 for those ports, -1 for others or above depth 8.
int32_t portOutHook(int32_t port, int32_t value);

// Slot 25: copies page from (-1: active) onto page to (-1: visible); the error number.
int32_t copyPageHook(int32_t from, int32_t to);

// Slot 26: selects the active and visible pages (negative: unchanged; both negative:
// both 0); returns the previous pair as active + 256 * visible.
int32_t setPagesHook(int32_t active, int32_t visible);

// Puts the palette ports back to their start state (index 0, first component).
void resetPalettePorts();

}  // namespace zv
