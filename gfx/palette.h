// The palette statement and its halves, the colour association tables and the
// resending of the palette to a re-created window. All of it works on the open
// screen and does nothing without one or on a screen deeper than 8 bits.
#pragma once

#include <cstdint>

#include "gfx/builtin_data.h"

namespace zv {

constexpr int32_t COLOUR_ASSOCIATION_SIZE = 16;

// The association table (pixel value -> device palette index) of a mode, or null
// when pixel value i shows device colour i. Mode 1 chooses by the reset index:
// -1, -2, -3, and -4 or below. *count receives the number of entries.
const uint8_t* colourAssociationTable(int32_t mode_number, int32_t reset_index, int32_t* count);

// The default palette of a colour count (2, 16, 64, 256), or null.
const PaletteInfo* defaultPaletteInfo(int32_t colour_count);

// Resets the device palette from the mode's default palette and sets every pixel
// value below 2^depth to its associated device colour, telling the driver. The
// caller holds the screen lock (paletteStatement does).
void resetPalette(int32_t index);

// One palette entry. With the 256-colour default palette the colour is packed 6-bit
// RGB (red bits 0-5, green 8-13, blue 16-21); otherwise it names a device palette
// entry, which the pixel value is then associated with. The caller holds the lock.
void setPaletteEntry(int32_t index, int32_t colour);

// The palette statement: index < 0 resets (the index chooses mode 1's table);
// otherwise green and blue >= 0 make (colour, green, blue) 8-bit components, else
// colour is the colour itself. Marks every row dirty. Under the screen lock.
void paletteStatement(int32_t index, int32_t colour, int32_t green, int32_t blue);

// Calls the driver's setColour for all 256 entries in order. The caller holds the
// driver's exclusion.
void resendPalette();

}  // namespace zv
