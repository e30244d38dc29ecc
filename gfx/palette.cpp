// Palettes of the graphics screen: reset to a mode's default, single entries, the
// palette statement, association tables and resending to the driver.
#include "gfx/palette.h"

#include "gfx/screen_state.h"

namespace zv {

namespace {

constexpr uint8_t mode1_tables[4][4] = {
    {0, 11, 13, 15},  // reset index -1
    {0, 10, 12, 14},  // -2
    {0, 3, 5, 7},     // -3
    {0, 2, 4, 6},     // -4 and below
};
constexpr uint8_t mode2_table[2] = {0, 15};
constexpr uint8_t mode7_table[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
constexpr uint8_t mode9_table[16] = {0, 1, 2, 3, 4, 5, 20, 7, 56, 57, 58, 59, 60, 61, 62, 63};

uint32_t rgbEntry(uint32_t r, uint32_t g, uint32_t b) { return r | (g << 8) | (b << 16); }

void showEntry(ScreenState* s, int32_t index, uint32_t rgb) {
  s->palette[index] = rgb;
  if (s->driver && s->driver->setColour)
    s->driver->setColour(index, rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}

ScreenState* paletteScreen() {
  ScreenState* s = currentScreen();
  return s && s->depth <= 8 && s->palette && s->default_palette ? s : nullptr;
}

}  // namespace

const uint8_t* colourAssociationTable(int32_t mode_number, int32_t reset_index, int32_t* count) {
  switch (mode_number) {
    case 1: {
      int32_t choice = reset_index >= -1 ? 0 : reset_index == -2 ? 1 : reset_index == -3 ? 2 : 3;
      *count = 4;
      return mode1_tables[choice];
    }
    case 2:
      *count = 2;
      return mode2_table;
    case 7:
    case 8:
      *count = 16;
      return mode7_table;
    case 9:
      *count = 16;
      return mode9_table;
    default:
      *count = 0;
      return nullptr;
  }
}

const PaletteInfo* defaultPaletteInfo(int32_t colour_count) { return builtinPalette(colour_count); }

void resetPalette(int32_t index) {
  ScreenState* s = paletteScreen();
  if (!s) return;
  const PaletteInfo* info = s->default_palette;
  const int32_t colours = info->colour_count < 256 ? info->colour_count : 256;
  for (int32_t i = 0; i < colours; ++i) {
    const uint8_t* rgb = info->rgb_data + 3 * i;
    s->device_palette[i] = rgbEntry(rgb[0], rgb[1], rgb[2]);
  }
  int32_t table_size = 0;
  const uint8_t* table = colourAssociationTable(s->mode_number, index, &table_size);
  const int32_t values = 1 << s->depth;
  for (int32_t i = 0; i < values; ++i) {
    int32_t device = i;
    if (table) {
      device = i < table_size ? table[i] : 0;
      if (i < COLOUR_ASSOCIATION_SIZE) s->colour_association[i] = static_cast<uint8_t>(device);
    } else if (i < COLOUR_ASSOCIATION_SIZE) {
      // Without a table pixel value i shows device colour i; recording that keeps the
      // port-out hook's search over the association well defined.
      s->colour_association[i] = static_cast<uint8_t>(i);
    }
    showEntry(s, i, device < colours ? s->device_palette[device] : 0);
  }
}

void setPaletteEntry(int32_t index, int32_t colour) {
  ScreenState* s = paletteScreen();
  if (!s) return;
  const int32_t size = s->default_palette->colour_count;
  index &= size - 1;
  if (size == 256) {
    const auto c = static_cast<uint32_t>(colour);
    showEntry(s, index, rgbEntry((c & 63) * 255 / 63, ((c >> 8) & 63) * 255 / 63,
                                 ((c >> 16) & 63) * 255 / 63));
    return;
  }
  // The association table has 16 entries while a 64-colour palette lets the index
  // reach 63; pixel values beyond the table do not exist in such modes, so the
  // entry is ignored rather than written past the table.
  if (index >= COLOUR_ASSOCIATION_SIZE) return;
  colour &= size - 1;
  s->colour_association[index] = static_cast<uint8_t>(colour);
  showEntry(s, index, s->device_palette[colour]);
}

void paletteStatement(int32_t index, int32_t colour, int32_t green, int32_t blue) {
  ScreenState* s = paletteScreen();
  if (!s) return;
  lockScreen();
  if (index < 0) {
    resetPalette(index);
  } else {
    if (green >= 0 && blue >= 0)
      colour = static_cast<int32_t>(static_cast<uint32_t>(colour >> 2) +
                                    256u * static_cast<uint32_t>(green >> 2) +
                                    65536u * static_cast<uint32_t>(blue >> 2));
    setPaletteEntry(index, colour);
  }
  markRowsDirty(s, 0, s->height - 1);
  unlockScreen(1, 0);
}

void resendPalette() {
  ScreenState* s = paletteScreen();
  if (!s || !s->driver || !s->driver->setColour) return;
  for (int32_t i = 0; i < 256; ++i) {
    const uint32_t rgb = s->palette[i];
    s->driver->setColour(i, rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
  }
}

}  // namespace zv
