// The built glscreen under its own Xvfb, drawing through GLX on Mesa's software
// renderer: after a few frames its window must show the framebuffer's picture pixel
// for pixel (the page printed on a screen in memory here), and Escape or a window
// manager's close request must end it with status 0. Skipped only where Xvfb is
// missing.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "examples/glscreen.h"
#include "gfx/screen_mode.h"
#include "gfx/screen_state.h"
#include "runtime/runtime.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/x11_client.h"
#include "tests/support/xvfb.h"

namespace {

bool waitUntil(const std::function<bool()>& ready, int seconds = 30) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    usleep(20000);
  }
  return true;
}

// The framebuffer glscreen prints, as 0x00RRGGBB pixels, from a screen in memory.
std::vector<uint32_t> expectedPicture() {
  zv::runtime_constructor();
  EXPECT_EQ(zv::setScreenSize(glscreen::WIDTH, glscreen::HEIGHT, glscreen::DEPTH, 1, -1, 0), 0);
  glscreen::printPage();
  std::vector<uint32_t> picture(static_cast<size_t>(glscreen::WIDTH) * glscreen::HEIGHT);
  zv::lockScreen();
  const zv::ScreenState* s = zv::currentScreen();
  for (int y = 0; y < glscreen::HEIGHT; ++y)
    for (int x = 0; x < glscreen::WIDTH; ++x) {
      uint32_t pixel;
      std::memcpy(&pixel, s->framebuffer + static_cast<size_t>(y) * s->pitch + 4 * x, 4);
      picture[static_cast<size_t>(y) * glscreen::WIDTH + x] = pixel & 0xFFFFFF;
    }
  zv::unlockScreen(1, 0);
  zv::closeScreenAtExit();
  return picture;
}

class GlScreenRun {
 public:
  explicit GlScreenRun(const char* without_extension = nullptr) : server_(without_extension), dir_(false) {}

  // False (with a failure recorded) when the server or the window did not come up.
  bool start() {
    if (!launch()) return false;
    if (!waitUntil([&] { return (window_ = client_->find("glscreen")) != 0; })) {
      ADD_FAILURE() << "no window titled glscreen appeared";
      return false;
    }
    return true;
  }

  // Starts the program; false (with a failure recorded) without a server.
  bool launch() {
    if (!server_.ready()) {
      ADD_FAILURE() << "Xvfb did not report a display";
      return false;
    }
    client_ = std::make_unique<zv::test::Client>(server_.display());
    if (!client_->connected()) {
      ADD_FAILURE() << "cannot connect to the display";
      return false;
    }
    program_ = std::make_unique<zv::test::ChildProcess>(ZV_GLSCREEN_BINARY, [&] {
      if (chdir(dir_.path().c_str()) != 0) _exit(126);
      setenv("DISPLAY", server_.display().c_str(), 1);
      unsetenv("ZVGFX");
      const int devnull = open("/dev/null", O_RDWR);
      const int errors = open("errors.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(devnull, 0);
      dup2(devnull, 1);
      dup2(errors, 2);
    });
    return true;
  }

  // The client area as 0x00RRGGBB pixels; empty when it cannot be read.
  std::vector<uint32_t> capture(int* width, int* height) {
    const std::vector<uint8_t> rgb = client_->capture(window_, width, height);
    std::vector<uint32_t> pixels;
    for (size_t i = 0; i + 2 < rgb.size(); i += 3) pixels.push_back(uint32_t(rgb[i]) << 16 | rgb[i + 1] << 8 | rgb[i + 2]);
    return pixels;
  }

  // Gives the window the focus and presses a key there through XTEST.
  bool key(const char* name) {
    zv::test::runTool(server_.display(), {"xdotool", "windowfocus", std::to_string(window_)});
    return zv::test::runTool(server_.display(), {"xdotool", "key", "--clearmodifiers", name});
  }

  void sendDelete() { client_->sendDelete(window_); }

  // The exit status once the program has ended, -1 for a signal or a time-out.
  int wait() { return program_->wait(30); }

  std::string errors() const { return zv::test::read_file(dir_.path() + "/errors.txt"); }

  ::Window find() { return client_->find("glscreen"); }

 private:
  zv::test::Xvfb server_;
  zv::test::TempDir dir_;
  std::unique_ptr<zv::test::Client> client_;
  std::unique_ptr<zv::test::ChildProcess> program_;
  ::Window window_ = 0;
};

bool haveXvfb() { return zv::test::onPath("Xvfb"); }

TEST(GlScreen, WindowShowsTheFramebufferAndEscapeEndsIt) {
  if (!haveXvfb()) GTEST_SKIP() << "Xvfb is not installed";
  const std::vector<uint32_t> expected = expectedPicture();
  GlScreenRun run;
  ASSERT_TRUE(run.start());
  int width = 0, height = 0;
  int64_t wrong = -1;
  // The first frames may not have reached the window yet.
  waitUntil([&] {
    const std::vector<uint32_t> shown = run.capture(&width, &height);
    if (width != glscreen::WIDTH || height != glscreen::HEIGHT || shown.size() != expected.size()) return false;
    wrong = 0;
    for (size_t i = 0; i < shown.size(); ++i) wrong += shown[i] != expected[i];
    return wrong == 0;
  });
  EXPECT_EQ(width, glscreen::WIDTH);
  EXPECT_EQ(height, glscreen::HEIGHT);
  EXPECT_EQ(wrong, 0) << "pixels that differ from the framebuffer";
  ASSERT_TRUE(run.key("Escape"));
  EXPECT_EQ(run.wait(), 0);
  EXPECT_EQ(run.errors(), "");
}

// Without GLX, opengl32.dll does not load, no driver opens the screen, and the
// program says so and ends.
TEST(GlScreen, WithoutGlxItEndsWithAMessage) {
  if (!haveXvfb()) GTEST_SKIP() << "Xvfb is not installed";
  GlScreenRun run("GLX");
  ASSERT_TRUE(run.launch());
  EXPECT_EQ(run.wait(), 1);
  EXPECT_EQ(run.errors(), "glscreen: no OpenGL screen could be opened\n");
  EXPECT_EQ(run.find(), 0u);
}

TEST(GlScreen, CloseRequestEndsIt) {
  if (!haveXvfb()) GTEST_SKIP() << "Xvfb is not installed";
  GlScreenRun run;
  ASSERT_TRUE(run.start());
  run.sendDelete();
  EXPECT_EQ(run.wait(), 0);
  EXPECT_EQ(run.errors(), "");
}

}  // namespace
