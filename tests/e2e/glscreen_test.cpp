// The built glscreen under its own Xvfb, drawing through GLX on Mesa's software
// renderer: after a few frames its window must show the framebuffer's picture pixel
// for pixel (the page printed on a screen in memory here), and Escape or a window
// manager's close request must end it with status 0. Skipped only where Xvfb is
// missing.
#include <gtest/gtest.h>

#include <vector>

#include "tests/support/glscreen_picture.h"
#include "tests/support/program_window.h"

namespace {

using zv::test::waitUntil;

using zv::test::ProgramWindow;

TEST(GlScreen, WindowShowsTheFramebufferAndEscapeEndsIt) {
  ZV_SKIP_WITHOUT_XVFB();
  std::vector<uint8_t> expected;
  for (uint32_t p : zv::test::glscreenPicture()) expected.insert(expected.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
  ProgramWindow run(ZV_GLSCREEN_BINARY, "glscreen");
  ASSERT_TRUE(run.start());
  int width = 0, height = 0;
  std::vector<uint8_t> shown;
  // The first frames may not have reached the window yet.
  waitUntil([&] { return (shown = run.client().capture(run.window(), &width, &height)) == expected; }, 30);
  EXPECT_EQ(width, glscreen::WIDTH);
  EXPECT_EQ(height, glscreen::HEIGHT);
  EXPECT_TRUE(shown == expected) << "the window does not show the framebuffer";
  ASSERT_TRUE(run.key("Escape"));
  EXPECT_EQ(run.program().wait(), 0);
  EXPECT_EQ(run.errors(), "");
}

// Without GLX, opengl32.dll does not load, no driver opens the screen, and the
// program says so and ends.
TEST(GlScreen, WithoutGlxItEndsWithAMessage) {
  ZV_SKIP_WITHOUT_XVFB();
  ProgramWindow run(ZV_GLSCREEN_BINARY, "glscreen", "GLX");
  ASSERT_TRUE(run.launch());
  EXPECT_EQ(run.program().wait(), 1);
  EXPECT_EQ(run.errors(), "glscreen: no OpenGL screen could be opened\n");
  EXPECT_EQ(run.find(), 0u);
}

TEST(GlScreen, CloseRequestEndsIt) {
  ZV_SKIP_WITHOUT_XVFB();
  ProgramWindow run(ZV_GLSCREEN_BINARY, "glscreen");
  ASSERT_TRUE(run.start());
  run.client().sendDelete(run.window());
  EXPECT_EQ(run.program().wait(), 0);
  EXPECT_EQ(run.errors(), "");
}

}  // namespace
