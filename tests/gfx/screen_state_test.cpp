// Tests of the screen record's builders, the screen lock and dirty lines, the
// drawing context and the pixel routines.
#include <cstdint>
#include <cstring>
#include <random>
#include <thread>

#include "gfx/palette.h"
#include "screen_test_support.h"

namespace zvtest {
namespace {

using ScreenStateTest = ScreenTest;

TEST_F(ScreenStateTest, Mode18BuildsEveryBufferWithItsDefaults) {
  zv::ScreenState* s = build(MODE_18);
  EXPECT_EQ(s->bytes_per_pixel, 1);
  EXPECT_EQ(s->pitch, 640);
  EXPECT_EQ(s->colour_mask, 0xFFu);
  ASSERT_EQ(s->page_count, 1);
  EXPECT_EQ(s->framebuffer, s->pages[0]);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(s->pages[0]) % 16, 0u);
  EXPECT_EQ(s->palette[15], 0x00FFFFFFu);
  EXPECT_EQ(s->palette[1], 0x00AA0000u);
  EXPECT_EQ(s->palette[16], 0u);
  EXPECT_EQ(s->palette[248], 0u);
  EXPECT_EQ(s->palette[6], 0x0055AAu);  // brown (170, 85, 0)
  const zv::DrawContext* c = zv::getDrawContext();
  EXPECT_EQ(c->foreground, 15u);
  EXPECT_EQ(c->background, 0u);
  EXPECT_EQ(c->active_page, 0);
  // The driver heard all 256 entries in order after its open.
  ASSERT_EQ(driverLog().colours.size(), 256u);
  EXPECT_EQ(driverLog().colours[1], (ColourCall{1, 0, 0, 170}));
  EXPECT_EQ(driverLog().colours[255].index, 255);
  // Cleared pixels, blank text in the drawing colours, empty queues.
  for (int32_t i = 0; i < 640 * 480; i += 997) ASSERT_EQ(s->framebuffer[i], 0) << i;
  ASSERT_NE(s->text_pages, nullptr);
  const zv::TextCell& cell = s->text_pages[0][80 * 30 - 1];
  EXPECT_EQ(cell.code, 32);
  EXPECT_EQ(cell.foreground, 15u);
  EXPECT_EQ(cell.background, 0u);
  EXPECT_EQ(s->key_states[127], 0);
  EXPECT_EQ(s->event_head, 0);
  EXPECT_EQ(s->event_tail, 0);
  ASSERT_NE(s->event_lock, nullptr);
  EXPECT_TRUE(s->event_lock->try_acquire());  // created free
  s->event_lock->release();
  EXPECT_NE(zv::converterScratch(), nullptr);
  // Built under one lock, the cleared rows waiting to be shown.
  EXPECT_EQ(driverLog().locks, 1);
  EXPECT_EQ(driverLog().unlocks, 1);
  EXPECT_EQ(s->lock_count, 0);
  EXPECT_EQ(countDirty(s), 480);
}

TEST_F(ScreenStateTest, DefaultColoursFollowTheDepth) {
  struct Case {
    ScreenShape shape;
    int32_t bytes_per_pixel;
    uint32_t foreground, background;
  } cases[] = {
      {MODE_11, 1, 1, 0},
      {MODE_1, 1, 3, 0},
      {MODE_12, 1, 15, 0},
      {DEPTH_16, 2, 0xFFFF, 0},
      {DEPTH_32, 4, 0xFFFFFFFF, 0xFF000000},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.shape.depth);
    clearLog();
    zv::ScreenState* s = build(k.shape);
    EXPECT_EQ(s->bytes_per_pixel, k.bytes_per_pixel);
    EXPECT_EQ(s->pitch, k.bytes_per_pixel * s->width);
    const zv::DrawContext* c = zv::getDrawContext();
    EXPECT_EQ(c->foreground, k.foreground);
    EXPECT_EQ(c->background, k.background);
    EXPECT_EQ(c->get_pixel(c->row_table[s->height - 1], s->width - 1), k.background);
    EXPECT_EQ(c->target_pitch, s->pitch);
    // Palettes are the business of depths up to 8 only.
    EXPECT_EQ(driverLog().colours.empty(), s->depth > 8);
  }
}

TEST_F(ScreenStateTest, DepthNormalisation) {
  struct Case {
    int32_t in, depth, bytes_per_pixel;
    uint32_t mask;
  } cases[] = {{1, 1, 1, 1},       {2, 2, 1, 3},       {4, 4, 1, 15},         {8, 8, 1, 255},
               {15, 16, 2, 0xFFFF}, {16, 16, 2, 0xFFFF}, {24, 32, 4, 0xFFFFFFFF}, {32, 32, 4, 0xFFFFFFFF}};
  for (const Case& k : cases) {
    zv::ScreenState s{};
    s.width = 10;
    zv::normaliseScreenDepth(&s, k.in);
    EXPECT_EQ(s.depth, k.depth) << k.in;
    EXPECT_EQ(s.bytes_per_pixel, k.bytes_per_pixel) << k.in;
    EXPECT_EQ(s.colour_mask, k.mask) << k.in;
    EXPECT_EQ(s.pitch, 10 * k.bytes_per_pixel) << k.in;
  }
}

TEST_F(ScreenStateTest, EveryPageIsAlignedAndScreenIdsIncrease) {
  zv::ScreenState* s = build({13, 33, 7, 8, 5, 256, 2, 4, 1});  // odd page size
  const int32_t first_id = s->id;
  clearDirty(s);
  for (int32_t p = 0; p < s->page_count; ++p)
    EXPECT_EQ(reinterpret_cast<uintptr_t>(s->pages[p]) % 16, 0u) << p;
  // Line doubling: one dirty entry per window row.
  zv::lockScreen();
  zv::unlockScreen(-1, -1);
  EXPECT_EQ(countDirty(s), 7);
  EXPECT_EQ(s->dirty_lines[13], 0);
  zv::ScreenState* t = build(MODE_18);
  EXPECT_GT(t->id, first_id);
  EXPECT_EQ(zv::currentScreen(), t);
}

TEST_F(ScreenStateTest, NestedLockCallsTheDriverOnceEachWay) {
  zv::ScreenState* s = build(MODE_18);
  clearLog();
  zv::lockScreen();
  zv::lockScreen();
  EXPECT_EQ(driverLog().locks, 1);
  EXPECT_EQ(s->lock_count, 2);
  // The driver's exclusion really is held: the update thread could not get in.
  bool other_got_it = true;
  std::thread([&] {
    other_got_it = driverLog().mutex.try_lock();
    if (other_got_it) driverLog().mutex.unlock();
  }).join();
  EXPECT_FALSE(other_got_it);
  zv::unlockScreen(1, 0);
  EXPECT_EQ(driverLog().unlocks, 0);
  zv::unlockScreen(1, 0);
  EXPECT_EQ(driverLog().unlocks, 1);
  EXPECT_EQ(s->lock_count, 0);
  // An unbalanced unlock does not reach the driver again.
  zv::unlockScreen(1, 0);
  EXPECT_EQ(driverLog().unlocks, 1);
  EXPECT_EQ(s->lock_count, 0);
}

TEST_F(ScreenStateTest, UnlockMarksRowsOnlyOnTheVisiblePage) {
  zv::ScreenState* s = build(PAGED_8);
  struct Case {
    int32_t first, last, marked_from, marked_to;  // marked range inclusive, -1: none
  } cases[] = {{-1, -1, 0, 11}, {1, 0, -1, -1}, {3, 5, 3, 5}, {-1, 2, 0, 2},
               {4, -1, 4, 11},  {2, 12, -1, -1}, {7, 7, 7, 7}};
  for (const Case& k : cases) {
    clearDirty(s);
    zv::lockScreen();
    zv::unlockScreen(k.first, k.last);
    for (int32_t row = 0; row < s->height; ++row)
      EXPECT_EQ(s->dirty_lines[row], row >= k.marked_from && row <= k.marked_to ? 1 : 0)
          << k.first << "," << k.last << " row " << row;
  }
  // Drawing to a page that is not shown marks nothing.
  zv::setPagesHook(1, 0);
  clearDirty(s);
  zv::lockScreen();
  zv::unlockScreen(-1, -1);
  EXPECT_EQ(countDirty(s), 0);
}

TEST_F(ScreenStateTest, LockWithoutScreenDoesNothing) {
  zv::lockScreen();
  zv::unlockScreen(-1, -1);
  EXPECT_EQ(driverLog().locks, 0);
  EXPECT_EQ(zv::currentScreen(), nullptr);
}

TEST_F(ScreenStateTest, NullDriverLocksWithoutAWindow) {
  const zv::WindowDriver& null = zv::nullWindowDriver();
  EXPECT_STREQ(null.name, "Null");
  EXPECT_EQ(null.open, nullptr);
  EXPECT_EQ(null.close, nullptr);
  EXPECT_EQ(null.setColour, nullptr);
  ASSERT_NE(null.lock, nullptr);
  ASSERT_NE(null.unlock, nullptr);
  zv::ScreenState* s = build(MODE_18);
  s->driver = &null;
  zv::paletteStatement(3, 0x3F, -1, -1);  // no setColour: entry still changes
  EXPECT_EQ(s->palette[3], 0xFFu);
  EXPECT_EQ(countDirty(s), 480);
  // Never searched: the list holds the window drivers only.
  for (const zv::WindowDriver* const* d = zv::windowDriverList(); *d; ++d) EXPECT_NE(*d, &null);
}

TEST_F(ScreenStateTest, DrawContextRebuildsForANewScreenAndAfterARuntimeReset) {
  zv::ScreenState* s = build(PAGED_8);
  zv::DrawContext* c = zv::getDrawContext();
  c->foreground = 99;
  zv::setPagesHook(2, -1);
  EXPECT_EQ(c->row_table[3], s->pages[2] + 3 * s->pitch);
  EXPECT_EQ(zv::getDrawContext()->foreground, 99u);  // same screen: kept
  zv::ScreenState* t = build(MODE_18);
  c = zv::getDrawContext();
  EXPECT_EQ(c->screen_id, t->id);
  EXPECT_EQ(c->foreground, 15u);
  EXPECT_EQ(c->active_page, 0);
  EXPECT_EQ(c->row_table_capacity, 480);
  EXPECT_EQ(c->row_table[479], t->pages[0] + 479 * 640);
  EXPECT_EQ(c->saved_viewport_width, 640);
  EXPECT_EQ(c->viewport_height, 480);
  EXPECT_EQ(c->flags & (zv::DRAW_RETARGET_SCREEN | zv::DRAW_TARGET_IMAGE), 0u);
  zv::runtime_exit();
  zv::runtime_constructor();
  c = zv::getDrawContext();
  EXPECT_EQ(c->screen_id, t->id);
  EXPECT_EQ(c->row_table[10], t->pages[0] + 6400);
}

// ---- pixel routines --------------------------------------------------------------

struct Routines {
  zv::PutPixelFn put;
  zv::GetPixelFn get;
  zv::FillPixelsFn fill;
  zv::CopyPixelsFn copy;
};

Routines chosen(int32_t bytes_per_pixel, bool blend, bool plain) {
  zv::forcePlainPixelRoutines(plain);
  zv::selectPixelRoutines(bytes_per_pixel, blend);
  const zv::DrawContext* c = zv::getDrawContext();
  return {c->put_pixel, c->get_pixel, c->fill_pixels, c->copy_pixels};
}

// Runs the same random fills, puts and copies through both forms over a row with
// guard bytes on either side; both rows must agree and the guards stay untouched.
void compareForms(int32_t bytes_per_pixel, bool blend) {
  const Routines fast = chosen(bytes_per_pixel, blend, false);
  const Routines plain = chosen(bytes_per_pixel, blend, true);
  constexpr int32_t pixels = 67, guard = 16;
  const size_t bytes = pixels * bytes_per_pixel + 2 * guard;
  std::vector<uint8_t> a(bytes, 0xA5), b(bytes, 0xA5);
  std::mt19937 random(bytes_per_pixel * 7 + blend);
  for (int round = 0; round < 400; ++round) {
    const int32_t x = static_cast<int32_t>(random() % pixels);
    const int32_t n = static_cast<int32_t>(random() % (pixels - x + 1));
    const uint32_t colour = random();
    switch (round % 3) {
      case 0:
        fast.fill(a.data() + guard, x, n, colour);
        plain.fill(b.data() + guard, x, n, colour);
        break;
      case 1:
        fast.put(a.data() + guard, x, colour);
        plain.put(b.data() + guard, x, colour);
        break;
      default: {
        const int32_t from = static_cast<int32_t>(random() % (pixels - n + 1));
        if (x + n <= pixels && from + n <= pixels && (from + n <= x || x + n <= from)) {
          fast.copy(a.data() + guard + x * bytes_per_pixel, a.data() + guard + from * bytes_per_pixel, n);
          plain.copy(b.data() + guard + x * bytes_per_pixel, b.data() + guard + from * bytes_per_pixel, n);
        }
      }
    }
    ASSERT_EQ(a, b) << "round " << round;
    ASSERT_EQ(fast.get(a.data() + guard, x), plain.get(b.data() + guard, x));
  }
  for (int32_t i = 0; i < guard; ++i) {
    ASSERT_EQ(a[i], 0xA5);
    ASSERT_EQ(a[bytes - 1 - i], 0xA5);
  }
}

TEST_F(ScreenStateTest, FastAndPlainPixelRoutinesAgree) {
  build(DEPTH_32);
  compareForms(1, false);
  compareForms(2, false);
  compareForms(4, false);
  compareForms(4, true);
}

TEST_F(ScreenStateTest, PixelRoutinesStoreTheirWidth) {
  build(MODE_18);
  for (bool plain : {false, true}) {
    for (int32_t bpp : {1, 2, 4}) {
      const Routines r = chosen(bpp, false, plain);
      std::vector<uint8_t> row(16 * bpp, 0);
      r.fill(row.data(), 2, 3, 0x12345678);
      r.put(row.data(), 7, 0xCAFEBABE);
      const uint32_t mask = bpp == 1 ? 0xFF : bpp == 2 ? 0xFFFF : 0xFFFFFFFF;
      for (int32_t x = 0; x < 16; ++x) {
        const uint32_t want = x >= 2 && x < 5 ? 0x12345678 & mask : x == 7 ? 0xCAFEBABE & mask : 0;
        EXPECT_EQ(r.get(row.data(), x), want) << bpp << " " << x << " plain " << plain;
      }
    }
  }
  // The choice is recorded in the screen's state flags.
  chosen(1, false, true);
  EXPECT_EQ(zv::currentScreen()->state_flags & zv::SCREEN_FAST_PIXELS, 0u);
  chosen(1, false, false);
  EXPECT_EQ((zv::currentScreen()->state_flags & zv::SCREEN_FAST_PIXELS) != 0,
            zv::processorHasFastPixels());
}

TEST_F(ScreenStateTest, BlendMovesEachComponentByAlpha) {
  struct Case {
    uint32_t source, destination, want;
  } cases[] = {
      {0x00FFFFFF, 0x00123456, 0x00123456},  // alpha 0 keeps the colour, takes alpha 0
      {0xFF000000, 0x00FFFFFF, 0xFF000000},  // 255 + floor(-255 * 255 / 256) = 0
      {0x80FF0000, 0x000000FF, 0x807F007F},  // half way: 127 each
      {0x40102030, 0x00504030, 0x40403830},
      {0xFFFFFFFF, 0xFF000000, 0xFFFEFEFE},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(zv::blendPixel(k.source, k.destination), k.want) << std::hex << k.source;
  }
  build(DEPTH_32);
  // Both routine forms agree with the formula on random pairs.
  std::mt19937 random(5);
  for (bool plain : {false, true}) {
    const Routines r = chosen(4, true, plain);
    for (int i = 0; i < 2000; ++i) {
      const uint32_t s = random(), d = random();
      uint8_t pixel[4];
      std::memcpy(pixel, &d, 4);
      r.put(pixel, 0, s);
      uint32_t got;
      std::memcpy(&got, pixel, 4);
      uint32_t want = s & 0xFF000000;
      for (int shift = 0; shift < 24; shift += 8) {
        const int sc = (s >> shift) & 0xFF, dc = (d >> shift) & 0xFF;
        want |= static_cast<uint32_t>(dc + ((sc - dc) * static_cast<int>(s >> 24) >> 8)) << shift;
      }
      ASSERT_EQ(got, want) << std::hex << s << " over " << d << " plain " << plain;
    }
  }
}

}  // namespace
}  // namespace zvtest
