// Tests of the set pages and copy page hooks.
#include "screen_test_support.h"

namespace zvtest {
namespace {

using PageHooksTest = ScreenTest;

void paint(zv::ScreenState* s, int32_t page, uint8_t value) {
  std::fill(s->pages[page], s->pages[page] + s->height * s->pitch, value);
}

TEST_F(PageHooksTest, SetPagesMovesDrawingAndTheShownPage) {
  zv::ScreenState* s = build(PAGED_8);  // 3 pages, 12 rows
  zv::DrawContext* c = zv::getDrawContext();
  struct Case {
    int32_t active, visible;
    int32_t previous, want_active, want_visible;
    bool marks;
  } cases[] = {
      {1, 2, 0, 1, 2, true},
      {-1, -1, 1 + 256 * 2, 0, 0, true},   // both negative: both 0
      {2, -1, 0, 2, 0, false},             // visible unchanged
      {-1, 0, 2, 2, 0, false},             // same visible page: nothing marked
      {3, 7, 2, 2, 0, false},              // beyond the page count: ignored
      {-5, 1, 2, 2, 1, true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.active << "," << k.visible);
    clearDirty(s);
    clearLog();
    EXPECT_EQ(zv::setPagesHook(k.active, k.visible), k.previous);
    EXPECT_EQ(c->active_page, k.want_active);
    EXPECT_EQ(s->visible_page, k.want_visible);
    EXPECT_EQ(s->framebuffer, s->pages[k.want_visible]);
    EXPECT_EQ(c->row_table[5], s->pages[k.want_active] + 5 * s->pitch);
    EXPECT_EQ(countDirty(s), k.marks ? s->height : 0);
    EXPECT_EQ(driverLog().locks, k.marks ? 1 : 0);
  }
}

TEST_F(PageHooksTest, CopyPageCopiesTheViewportAndTheTextCells) {
  zv::ScreenState* s = build(PAGED_8);
  paint(s, 0, 0x11);
  paint(s, 1, 0x22);
  s->text_pages[0][3].code = 'A';
  // Copy the active page 0 onto page 1, which is not shown.
  clearDirty(s);
  EXPECT_EQ(zv::copyPageHook(-1, 1), 0);
  EXPECT_EQ(zv::get_error(), 0);
  EXPECT_EQ(s->pages[1][0], 0x11);
  EXPECT_EQ(s->pages[1][s->height * s->pitch - 1], 0x11);
  EXPECT_EQ(s->text_pages[1][3].code, 'A');
  EXPECT_EQ(s->text_pages[1][0].code, 32);  // the blanks of the active page came along
  EXPECT_EQ(countDirty(s), 0);
  // Only the viewport is copied; onto the visible page its rows become dirty.
  zv::DrawContext* c = zv::getDrawContext();
  c->viewport_x = 4;
  c->viewport_y = 2;
  c->viewport_width = 10;
  c->viewport_height = 3;
  zv::setPagesHook(2, 0);
  paint(s, 2, 0x33);
  clearLog();
  EXPECT_EQ(zv::copyPageHook(-1, -1), 0);
  for (int32_t y = 0; y < s->height; ++y)
    for (int32_t x = 0; x < s->width; ++x) {
      const bool inside = x >= 4 && x < 14 && y >= 2 && y < 5;
      ASSERT_EQ(s->pages[0][y * s->pitch + x], inside ? 0x33 : 0x11) << x << "," << y;
    }
  for (int32_t y = 0; y < s->height; ++y) EXPECT_EQ(s->dirty_lines[y], y >= 2 && y < 5) << y;
  EXPECT_EQ(driverLog().locks, 1);
  EXPECT_EQ(driverLog().unlocks, 1);
}

TEST_F(PageHooksTest, CopyPageRejectsMissingPagesAndIgnoresItself) {
  zv::ScreenState* s = build(PAGED_8);
  paint(s, 0, 0x44);
  clearDirty(s);
  EXPECT_EQ(zv::copyPageHook(0, 3), 1);
  EXPECT_EQ(zv::get_error(), 1);
  EXPECT_EQ(zv::copyPageHook(-2, 1), 1);
  EXPECT_EQ(zv::copyPageHook(0, 0), 0);
  EXPECT_EQ(zv::get_error(), 0);
  EXPECT_EQ(countDirty(s), 0);
  EXPECT_EQ(s->pages[0][0], 0x44);
  zv::destroyScreenState(s);
  EXPECT_EQ(zv::copyPageHook(0, 1), 1);  // no screen
}

TEST_F(PageHooksTest, CopyPageLetsAPresentingDriverShowTheFrame) {
  zv::ScreenState* s = build(PAGED_8, /*with_present=*/true);
  paint(s, 0, 0x55);
  paint(s, 1, 0x66);
  EXPECT_EQ(zv::copyPageHook(0, 1), 1);  // reported as error 1, as callers know it
  EXPECT_EQ(zv::get_error(), 1);
  EXPECT_EQ(driverLog().presents, 1);
  EXPECT_EQ(driverLog().pumps, 1);
  EXPECT_EQ(s->pages[1][0], 0x66);
}

TEST_F(PageHooksTest, CopyPageIn32BitCopiesWholePixels) {
  zv::ScreenState* s = build({-1, 16, 4, 32, 2, 256, 1, 2, 1});
  zv::DrawContext* c = zv::getDrawContext();
  c->fill_pixels(c->row_table[1], 3, 5, 0x80FF8040);
  EXPECT_EQ(zv::copyPageHook(0, 1), 0);
  const uint8_t* row = s->pages[1] + s->pitch;
  EXPECT_EQ(c->get_pixel(row, 2), 0xFF000000u);
  EXPECT_EQ(c->get_pixel(row, 3), 0x80FF8040u);
  EXPECT_EQ(c->get_pixel(row, 7), 0x80FF8040u);
  EXPECT_EQ(c->get_pixel(row, 8), 0xFF000000u);
}

}  // namespace
}  // namespace zvtest
