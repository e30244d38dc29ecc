// Tests of the palette statement and its halves, the association tables, the
// colour hook per depth and the palette-port emulation.
#include "gfx/palette.h"

#include "screen_test_support.h"

namespace zvtest {
namespace {

using PaletteTest = ScreenTest;

uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) { return r | g << 8 | b << 16; }

TEST_F(PaletteTest, StatementInMode18TakesSixBitAndEightBitForms) {
  zv::ScreenState* s = build(MODE_18);
  struct Case {
    int32_t index, c, g, b;
    int32_t entry;
    uint32_t want;
  } cases[] = {
      {1, 0x3F0000, -1, -1, 1, 0x00FF0000},  // packed 6-bit blue 63 -> 255
      {1, 255, 0, 0, 1, 0x000000FF},         // three components: red 255 >> 2 = 63 -> 255
      {2, 0, 128, 64, 2, rgb(0, 32 * 255 / 63, 16 * 255 / 63)},
      {300, 0x010203, -1, -1, 300 & 255, rgb(3 * 255 / 63, 2 * 255 / 63, 1 * 255 / 63)},
      {7, 0x7F7F7F, -1, -1, 7, rgb(255, 255, 255)},  // bits above the six are ignored
  };
  for (const Case& k : cases) {
    clearLog();
    clearDirty(s);
    zv::paletteStatement(k.index, k.c, k.g, k.b);
    EXPECT_EQ(s->palette[k.entry], k.want) << k.index;
    ASSERT_EQ(driverLog().colours.size(), 1u);
    EXPECT_EQ(driverLog().colours[0],
              (ColourCall{k.entry, int32_t(k.want & 255), int32_t(k.want >> 8 & 255), int32_t(k.want >> 16)}));
    EXPECT_EQ(countDirty(s), 480);
    EXPECT_EQ(driverLog().locks, 1);
    EXPECT_EQ(driverLog().unlocks, 1);
  }
  // A reset brings the default back.
  zv::paletteStatement(-1, 0, 0, 0);
  EXPECT_EQ(s->palette[1], 0x00AA0000u);
  EXPECT_EQ(s->palette[2], 0x0000AA00u);
}

TEST_F(PaletteTest, StatementMarksAllRowsEvenWhenDrawingElsewhere) {
  zv::ScreenState* s = build(PAGED_8);
  zv::setPagesHook(1, 0);
  clearDirty(s);
  zv::paletteStatement(4, 0x3F, -1, -1);
  EXPECT_EQ(countDirty(s), s->height);
}

TEST_F(PaletteTest, Mode12ResetSetsOnlyItsSixteenValues) {
  zv::ScreenState* s = build(MODE_12);
  EXPECT_EQ(driverLog().colours.size(), 16u);
  EXPECT_EQ(s->palette[15], 0x00FFFFFFu);
  EXPECT_EQ(s->palette[6], rgb(170, 85, 0));
  EXPECT_EQ(s->palette[16], 0u);
  // The device palette still offers all 256 colours.
  EXPECT_EQ(s->device_palette[31], 0x00FFFFFFu);
  EXPECT_EQ(s->device_palette[17], rgb(20, 20, 20));
  // A changed entry beyond 15 is kept by a reset.
  zv::paletteStatement(40, 0x3F, -1, -1);
  zv::paletteStatement(-1, 0, 0, 0);
  EXPECT_EQ(s->palette[40], 0xFFu);
  EXPECT_EQ(s->palette[3], rgb(0, 170, 170));
}

TEST_F(PaletteTest, Mode9AssociatesValuesWithSixtyFourColours) {
  zv::ScreenState* s = build(MODE_9);
  EXPECT_EQ(s->colour_association[6], 20);
  EXPECT_EQ(s->palette[6], rgb(170, 85, 0));
  EXPECT_EQ(s->colour_association[8], 56);
  EXPECT_EQ(s->palette[8], rgb(85, 85, 85));
  EXPECT_EQ(s->palette[15], rgb(255, 255, 255));
  // An entry names a device colour (reduced to 0-63).
  zv::paletteStatement(2, 4 + 64, -1, -1);
  EXPECT_EQ(s->colour_association[2], 4);
  EXPECT_EQ(s->palette[2], rgb(170, 0, 0));
  // Indexes past the 16 pixel values are ignored rather than written past the table.
  std::vector<uint32_t> before(s->palette, s->palette + 256);
  clearLog();
  zv::setPaletteEntry(20, 9);
  zv::setPaletteEntry(63, 9);
  EXPECT_EQ(std::vector<uint32_t>(s->palette, s->palette + 256), before);
  EXPECT_TRUE(driverLog().colours.empty());
  // Index 16 + 2 wraps only at 64: it is not value 2.
  zv::setPaletteEntry(18, 1);
  EXPECT_EQ(s->colour_association[2], 4);
}

TEST_F(PaletteTest, Mode1ChoosesItsTableByTheResetIndex) {
  zv::ScreenState* s = build(MODE_1);
  struct Case {
    int32_t index;
    uint8_t table[4];
  } cases[] = {{-1, {0, 11, 13, 15}}, {-2, {0, 10, 12, 14}}, {-3, {0, 3, 5, 7}},
               {-4, {0, 2, 4, 6}},    {-9, {0, 2, 4, 6}}};
  for (const Case& k : cases) {
    zv::paletteStatement(k.index, 0, 0, 0);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(s->colour_association[i], k.table[i]) << k.index << " " << i;
      const uint8_t* def = s->default_palette->rgb_data + 3 * k.table[i];
      EXPECT_EQ(s->palette[i], rgb(def[0], def[1], def[2])) << k.index << " " << i;
    }
  }
}

TEST_F(PaletteTest, NothingHappensAboveDepth8OrWithoutScreen) {
  zv::paletteStatement(1, 0x3F, -1, -1);  // no screen
  zv::ScreenState* s = build(DEPTH_32);
  clearLog();
  clearDirty(s);
  zv::paletteStatement(1, 0x3F, -1, -1);
  zv::paletteStatement(-1, 0, 0, 0);
  zv::resendPalette();
  EXPECT_TRUE(driverLog().colours.empty());
  EXPECT_EQ(driverLog().locks, 0);
  EXPECT_EQ(s->palette[1], 0u);
  EXPECT_EQ(countDirty(s), 0);
  EXPECT_EQ(zv::portOutHook(0x3C8, 1), -1);
  EXPECT_EQ(zv::portInHook(0x3C9), -1);
}

TEST_F(PaletteTest, ResendRepeatsAllEntriesInOrder) {
  zv::ScreenState* s = build(MODE_18);
  zv::paletteStatement(200, 0x3F3F00, -1, -1);
  clearLog();
  zv::resendPalette();
  ASSERT_EQ(driverLog().colours.size(), 256u);
  for (int32_t i = 0; i < 256; ++i) {
    const uint32_t c = s->palette[i];
    ASSERT_EQ(driverLog().colours[i], (ColourCall{i, int32_t(c & 255), int32_t(c >> 8 & 255), int32_t(c >> 16)}));
  }
  EXPECT_EQ(driverLog().colours[200], (ColourCall{200, 0, 255, 255}));
}

// ---- colour hook -----------------------------------------------------------------

TEST_F(PaletteTest, ColourHookPerDepth) {
  struct Case {
    ScreenShape shape;
    int32_t fg, bg, flags;
    uint32_t want_fg, want_bg;
  } cases[] = {
      {MODE_18, 0x1234, 0x0301, 0, 0x34, 0x01},
      {MODE_18, 7, 99, 0x02, 7, 0},                   // background not given
      {MODE_18, 7, 99, 0x01, 15, 99},                 // foreground not given
      {DEPTH_16, 0xFF8040, 0x0000FF, 0, 0xFC08, 0x001F},
      {DEPTH_32, int32_t(0x80FF0000), 0x123456, 0, 0x80FF0000, 0x123456},
      {MODE_9, 0x1C, 0, 0x02, 0x0C, 0},               // modes 7-9: foreground & 15
      // Below depth 8 a pixel value keeps only the depth's bits.
      {MODE_12, 200, 0x13, 0, 200 & 15, 0x13 & 15},
      {MODE_11, 0xFE, 3, 0, 0, 1},
  };
  for (const Case& k : cases) {
    build(k.shape);
    zv::colourHook(k.fg, k.bg, k.flags);
    const zv::DrawContext* c = zv::getDrawContext();
    EXPECT_EQ(c->foreground, k.want_fg) << k.shape.depth << " " << k.fg;
    EXPECT_EQ(c->background, k.want_bg) << k.shape.depth << " " << k.fg;
  }
}

TEST_F(PaletteTest, ColourHookReturnsThePreviousColours) {
  build(MODE_18);
  EXPECT_EQ(zv::colourHook(3, 4, 0), 15);
  EXPECT_EQ(zv::colourHook(0, 0, 3), 4 * 65536 + 3);
  build(DEPTH_16);
  zv::colourHook(0xF8FC00, 0, 0x02);  // exactly representable in 5-6-5
  EXPECT_EQ(uint32_t(zv::colourHook(0, 0, 3)), 0xFFF8FC00u);
  build(DEPTH_32);
  zv::colourHook(0x7F010203, 0, 0x02);
  EXPECT_EQ(zv::colourHook(0, 0, 3), 0x7F010203);
}

TEST_F(PaletteTest, ColourHookChangesThePaletteInModes1And9) {
  zv::ScreenState* s = build(MODE_9);
  zv::colourHook(0, 6, 0x01);  // background: palette entry 0 shows device colour 6
  EXPECT_EQ(s->palette[0], s->device_palette[6]);
  EXPECT_EQ(zv::getDrawContext()->foreground, 15u);
  s = build(MODE_1);
  zv::colourHook(1, 2, 0);  // table of reset index (2 & 3) - 4 = -2, then entry 0 = colour 1
  EXPECT_EQ(s->colour_association[1], 10);
  EXPECT_EQ(s->colour_association[0], 1);
  EXPECT_EQ(s->palette[0], rgb(0, 0, 170));
}

// ---- palette ports ---------------------------------------------------------------

TEST_F(PaletteTest, PortsWriteAndReadSixBitComponentsIn256Colours) {
  zv::ScreenState* s = build(MODE_18);
  EXPECT_EQ(zv::portOutHook(0x3C8, 255 + 256 * 4), 0);  // index masked to 255
  for (int32_t v : {63, 32, 64 + 1}) EXPECT_EQ(zv::portOutHook(0x3C9, v), 0);  // 65 & 63 = 1
  EXPECT_EQ(s->palette[255], rgb(255, 32 * 255 / 63, 1 * 255 / 63));
  // The index advanced and wrapped: the next triple goes to entry 0.
  for (int32_t v : {0, 63, 0}) zv::portOutHook(0x3C9, v);
  EXPECT_EQ(s->palette[0], rgb(0, 255, 0));
  EXPECT_EQ(zv::portOutHook(0x3C6, 0), -1);
  // Reads walk red, green, blue and then the next entry.
  zv::portOutHook(0x3C7, 15);
  std::vector<int32_t> got;
  for (int i = 0; i < 6; ++i) got.push_back(zv::portInHook(0x3C9));
  EXPECT_EQ(got, (std::vector<int32_t>{63, 63, 63, 0, 0, 0}));  // entry 15 white, 16 black
  zv::portOutHook(0x3C7, 1);
  got.clear();
  for (int i = 0; i < 3; ++i) got.push_back(zv::portInHook(0x3C9));
  EXPECT_EQ(got, (std::vector<int32_t>{0, 0, 42}));  // 170 >> 2
  EXPECT_EQ(zv::portInHook(0x3C8), -1);
}

TEST_F(PaletteTest, PortsChangeADeviceColourAndEveryValueShowingIt) {
  zv::ScreenState* s = build(MODE_9);
  zv::setPaletteEntry(3, 20);  // value 3 now shows device 20 too
  clearLog();
  clearDirty(s);
  zv::portOutHook(0x3C8, 20);
  for (int32_t v : {10, 20, 30}) zv::portOutHook(0x3C9, v);
  const uint32_t want = 40 | 80 << 8 | 120 << 16;  // components << 2
  EXPECT_EQ(s->device_palette[20], want);
  EXPECT_EQ(s->palette[6], want);
  EXPECT_EQ(s->palette[3], want);
  EXPECT_EQ(s->palette[2], rgb(0, 170, 0));
  ASSERT_EQ(driverLog().colours.size(), 2u);
  EXPECT_EQ(driverLog().colours[0], (ColourCall{3, 40, 80, 120}));
  EXPECT_EQ(driverLog().colours[1], (ColourCall{6, 40, 80, 120}));
  EXPECT_EQ(countDirty(s), s->height);
  // Index advanced to 21, wrapping at 64.
  zv::portOutHook(0x3C8, 63);
  for (int32_t v : {1, 1, 1}) zv::portOutHook(0x3C9, v);
  for (int32_t v : {2, 2, 2}) zv::portOutHook(0x3C9, v);
  EXPECT_EQ(s->device_palette[63], 4u | 4u << 8 | 4u << 16);
  EXPECT_EQ(s->device_palette[0], 8u | 8u << 8 | 8u << 16);
  EXPECT_EQ(s->palette[0], 8u | 8u << 8 | 8u << 16);
}

TEST_F(PaletteTest, PortsOnATwoColourModeWithoutTable) {
  zv::ScreenState* s = build(MODE_11);
  zv::portOutHook(0x3C8, 3);  // masked to 1
  for (int32_t v : {63, 0, 0}) zv::portOutHook(0x3C9, v);
  EXPECT_EQ(s->palette[1], 252u);
  EXPECT_EQ(s->palette[0], 0u);
}

TEST_F(PaletteTest, RetracePortWaitsForTheDriver) {
  build(MODE_18);
  EXPECT_EQ(zv::portInHook(0x3DA), 8);
  EXPECT_EQ(driverLog().retraces, 1);
  zv::currentScreen()->driver = &zv::nullWindowDriver();
  EXPECT_EQ(zv::portInHook(0x3DA), 8);
  EXPECT_EQ(driverLog().retraces, 1);
}

}  // namespace
}  // namespace zvtest
