// The built glscreen under its own Xvfb, drawing through GLX on Mesa's software
// renderer: after a few frames its window must show the framebuffer's picture pixel
// for pixel (the page printed on a screen in memory here), and Escape or a window
// manager's close request must end it with status 0. Skipped only where Xvfb is
// missing.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "examples/glscreen.h"
#include "gfx/screen_mode.h"
#include "gfx/screen_state.h"
#include "runtime/runtime.h"
#include "tests/support/files.h"
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
  ~GlScreenRun() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (display_) XCloseDisplay(display_);
  }

  // False (with a failure recorded) when the server or the window did not come up.
  bool start() {
    if (!launch()) return false;
    if (!waitUntil([&] { return (window_ = find()) != 0; })) return fail("no window titled glscreen appeared");
    return true;
  }

  // Starts the program; false (with a failure recorded) without a server.
  bool launch() {
    if (!server_.ready()) return fail("Xvfb did not report a display");
    display_ = XOpenDisplay(server_.display().c_str());
    if (!display_) return fail("cannot connect to the display");
    // The window may go while it is being read: such a request just fails.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    pid_ = fork();
    if (pid_ == 0) {
      if (chdir(dir_.path().c_str()) != 0) _exit(126);
      setenv("DISPLAY", server_.display().c_str(), 1);
      unsetenv("ZVGFX");
      const int devnull = open("/dev/null", O_RDWR);
      const int errors = open("errors.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(devnull, 0);
      dup2(devnull, 1);
      dup2(errors, 2);
      execl(ZV_GLSCREEN_BINARY, "glscreen", static_cast<char*>(nullptr));
      _exit(127);
    }
    return true;
  }

  // The client area as 0x00RRGGBB pixels; empty when it cannot be read.
  std::vector<uint32_t> capture(int* width, int* height) {
    std::vector<uint32_t> pixels;
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display_, window_, &attributes)) return pixels;
    *width = attributes.width;
    *height = attributes.height;
    XImage* image = XGetImage(display_, window_, 0, 0, static_cast<unsigned>(*width), static_cast<unsigned>(*height),
                              AllPlanes, ZPixmap);
    if (!image) return pixels;
    for (int y = 0; y < *height; ++y)
      for (int x = 0; x < *width; ++x) pixels.push_back(static_cast<uint32_t>(XGetPixel(image, x, y)) & 0xFFFFFF);
    XDestroyImage(image);
    return pixels;
  }

  // Gives the window the focus and presses a key there through XTEST.
  bool key(const char* name) {
    XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
    XSync(display_, False);
    return runTool({"xdotool", "key", "--clearmodifiers", name});
  }

  // What a window manager sends when its close button is pressed.
  void sendDelete() {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window_;
    event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, window_, False, NoEventMask, &event);
    XFlush(display_);
  }

  // The exit status once the program has ended, -1 for a signal or a time-out.
  int wait() {
    int status = -1;
    waitUntil([&] {
      int raw = 0;
      if (waitpid(pid_, &raw, WNOHANG) != pid_) return false;
      exited_ = true;
      status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
      return true;
    });
    return status;
  }

  std::string errors() const { return zv::test::read_file(dir_.path() + "/errors.txt"); }

  // The program's mapped top-level window, or 0.
  ::Window find() {
    ::Window root = DefaultRootWindow(display_), parent = 0, *children = nullptr, found = 0;
    unsigned count = 0;
    if (!XQueryTree(display_, root, &root, &parent, &children, &count)) return 0;
    for (unsigned i = 0; i < count && !found; ++i) {
      char* name = nullptr;
      XWindowAttributes attributes;
      if (XFetchName(display_, children[i], &name) && name) {
        if (std::strcmp(name, "glscreen") == 0 && XGetWindowAttributes(display_, children[i], &attributes) &&
            attributes.map_state == IsViewable)
          found = children[i];
        XFree(name);
      }
    }
    if (children) XFree(children);
    return found;
  }

 private:
  bool fail(const char* why) {
    ADD_FAILURE() << why;
    return false;
  }

  bool runTool(const std::vector<const char*>& arguments) {
    const pid_t pid = fork();
    if (pid == 0) {
      setenv("DISPLAY", server_.display().c_str(), 1);
      std::vector<char*> argv;
      for (const char* a : arguments) argv.push_back(const_cast<char*>(a));
      argv.push_back(nullptr);
      execvp(argv[0], argv.data());
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  zv::test::Xvfb server_;
  zv::test::TempDir dir_;
  Display* display_ = nullptr;
  ::Window window_ = 0;
  pid_t pid_ = -1;
  bool exited_ = false;
};

bool haveXvfb() { return system("command -v Xvfb >/dev/null 2>&1") == 0; }

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
