// The built program in a real X window: each test starts its own Xvfb on a free
// display, runs `invar` with DISPLAY set for it alone, types through XTEST key events
// (xdotool) into the focused window and reads the window back with XGetImage. The
// report must equal the terminal run's byte for byte and the window must show the
// golden final screen pixel for pixel; the close button, the desktop's scale
// factor, German text and a server that goes away are checked on the same runs.
// Skipped only where Xvfb is missing.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "gfx/builtin_data.h"
#include "tests/gfx/screen_picture.h"
#include "tests/support/files.h"
#include "tests/support/xvfb.h"

namespace {

using Clock = std::chrono::steady_clock;
using zv::test::read_file;

bool onPath(const char* program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

// Polls the condition every 20 ms until it holds or the time is up.
bool waitUntil(const std::function<bool()>& ready, int seconds = 20) {
  const auto give_up = Clock::now() + std::chrono::seconds(seconds);
  while (!ready()) {
    if (Clock::now() > give_up) return false;
    usleep(20000);
  }
  return true;
}

// Runs a tool with DISPLAY set to the display; true when it succeeded.
bool runTool(const std::string& display, const std::vector<std::string>& arguments) {
  pid_t pid = fork();
  if (pid == 0) {
    setenv("DISPLAY", display.c_str(), 1);
    int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, 0);
    dup2(devnull, 1);
    std::vector<char*> argv;
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The program, started in a directory with DISPLAY set for it alone; ZVGFX names
// the driver when one is given.
class Program {
 public:
  Program(const std::string& dir, const std::string& display, const char* driver = nullptr)
      : report_(dir + "/invar.txt"), errors_(dir + "/errors.txt") {
    pid_ = fork();
    if (pid_ == 0) {
      if (chdir(dir.c_str()) != 0) _exit(126);
      setenv("DISPLAY", display.c_str(), 1);
      unsetenv("ZVGFX");
      if (driver) setenv("ZVGFX", driver, 1);
      int devnull = open("/dev/null", O_RDWR);
      int errors = open("errors.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(devnull, 0);
      dup2(devnull, 1);
      dup2(errors, 2);
      execl(ZV_INVAR_BINARY, "invar", static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~Program() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  std::string report() const { return read_file(report_); }
  // Standard error: empty for a clean run (a sanitizer's finding lands here).
  std::string errors() const { return read_file(errors_); }

  bool exited() {
    if (exited_) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      exited_ = true;
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      signal_ = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
      core_ = WIFSIGNALED(status) && WCOREDUMP(status);
    }
    return exited_;
  }

  // The exit status once the program has ended (-1 for a signal or a time-out).
  int wait(int seconds = 30) {
    if (!waitUntil([&] { return exited(); }, seconds)) return -1;
    return status_;
  }

  int end_signal() const { return signal_; }
  bool dumped_core() const { return core_; }

 private:
  std::string report_, errors_;
  pid_t pid_ = -1;
  bool exited_ = false;
  int status_ = -1, signal_ = 0;
  bool core_ = false;
};

// The test's own connection to the display: finds the program's window and reads it.
class Client {
 public:
  // The program's windows come and go (a full-screen switch): a request about one
  // that has just gone fails and is answered as "not there", not with the end of the
  // test program, which is what Xlib's default error handler does.
  explicit Client(const std::string& display) : display_(XOpenDisplay(display.c_str())) {
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  }
  ~Client() {
    if (display_) XCloseDisplay(display_);
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool connected() const { return display_ != nullptr; }

  void autoRepeatOff() {
    XAutoRepeatOff(display_);
    XSync(display_, False);
  }

  // The mapped top-level window with that title, or 0.
  ::Window find(const char* title) {
    ::Window root = DefaultRootWindow(display_), parent = 0, *children = nullptr;
    unsigned count = 0;
    ::Window found = 0;
    if (!XQueryTree(display_, root, &root, &parent, &children, &count)) return 0;
    for (unsigned i = 0; i < count && !found; ++i) {
      char* name = nullptr;
      XWindowAttributes attributes;
      if (XFetchName(display_, children[i], &name) && name) {
        if (std::strcmp(name, title) == 0 && XGetWindowAttributes(display_, children[i], &attributes) &&
            attributes.map_state == IsViewable) {
          found = children[i];
        }
        XFree(name);
      }
    }
    if (children) XFree(children);
    return found;
  }

  ::Window focused() {
    ::Window window = 0;
    int revert = 0;
    XGetInputFocus(display_, &window, &revert);
    return window;
  }

  bool size(::Window window, int* width, int* height, int* x = nullptr, int* y = nullptr) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display_, window, &attributes)) return false;
    *width = attributes.width;
    *height = attributes.height;
    if (x) *x = attributes.x;
    if (y) *y = attributes.y;
    return true;
  }

  // The window's pixels as RGB triples; empty, with a size of 0, when the window
  // cannot be read.
  std::vector<uint8_t> capture(::Window window, int* width, int* height) {
    std::vector<uint8_t> rgb;
    if (!size(window, width, height)) {
      *width = *height = 0;
      return rgb;
    }
    XImage* image = XGetImage(display_, window, 0, 0, static_cast<unsigned>(*width), static_cast<unsigned>(*height),
                              AllPlanes, ZPixmap);
    if (!image) {
      *width = *height = 0;
      return rgb;
    }
    rgb.reserve(static_cast<size_t>(*width) * static_cast<size_t>(*height) * 3);
    for (int y = 0; y < *height; ++y) {
      for (int x = 0; x < *width; ++x) {
        unsigned long p = XGetPixel(image, x, y);
        rgb.insert(rgb.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
      }
    }
    XDestroyImage(image);
    return rgb;
  }

  // Binds a keysym to keycode 8, which has no key of a PC keyboard (no XKB name), as
  // xdotool does for a character the layout lacks; the binding stays, so that the
  // program reads the key with it however late.
  bool bindSpareKeycode(KeySym keysym) {
    KeySym syms[2] = {keysym, keysym};
    XChangeKeyboardMapping(display_, 8, 2, syms, 1);
    XSync(display_, False);
    return true;
  }

  // The resource database programs read at start (what xrdb sets).
  void setResources(const std::string& resources) {
    XChangeProperty(display_, DefaultRootWindow(display_), XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(resources.data()), static_cast<int>(resources.size()));
    XSync(display_, False);
  }

  // What a window manager sends when its close button is pressed.
  void sendDelete(::Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, window, False, NoEventMask, &event);
    XFlush(display_);
  }

 private:
  Display* display_;
};

std::string golden(const std::string& name) { return read_file(std::string(ZV_GOLDEN_DIR) + "/" + name); }

// The PNG of a picture read back; empty when the read failed (the window went).
std::string pngOf(const std::vector<uint8_t>& rgb, int width, int height) {
  if (width <= 0 || height <= 0 || rgb.size() != static_cast<size_t>(width) * static_cast<size_t>(height) * 3) return {};
  return zvtest::encodePng(width, height, rgb);
}

// Keys (xdotool names) for each entry of point_half, with the line editor's keys on
// the way: each ends with Return and leaves the entry's value.
const std::vector<std::vector<std::string>> kPointHalfKeys = {
    {"9", "Escape", "1", "Return"},                 // 1
    {"1", "0", "Home", "Delete", "Return"},        // 0
    {"2", "1", "Left", "BackSpace", "End", "Return"},  // 1
    {"1", "Return"},                                // 1
    {"3", "2", "Left", "Left", "Delete", "Return"},  // 2
    {"0", "Return"}, {"0", "Return"}, {"0", "Return"}, {"3", "Return"}};
constexpr int kPointHalfPauses = 11;

// A run of the calculator in a window under its own Xvfb, typed key by key.
class WindowRun {
 public:
  explicit WindowRun(const char* driver = nullptr) : dir_(false), driver_(driver) {}

  // False (with a failure recorded) when the server or the window did not come up.
  // before: what the test does to the display before the program starts.
  bool start(const std::function<void(Client&)>& before = {}) {
    if (!server_.ready()) {
      ADD_FAILURE() << "Xvfb did not report a display";
      return false;
    }
    client_ = std::make_unique<Client>(server_.display());
    if (!client_->connected()) {
      ADD_FAILURE() << "cannot connect to " << server_.display();
      return false;
    }
    // A key held longer than the repeat delay (xdotool slowed down by a loaded
    // machine) would repeat: the server does not repeat keys in these tests.
    client_->autoRepeatOff();
    if (before) before(*client_);
    program_ = std::make_unique<Program>(dir_.path(), server_.display(), driver_);
    if (!waitUntil([&] { return (window_ = client_->find("invar")) != 0; })) {
      ADD_FAILURE() << "no window titled invar appeared";
      return false;
    }
    return focus();
  }

  // Gives the window the keyboard focus and waits until the server says it has it.
  bool focus() {
    const bool focused = waitUntil([&] {
      if (client_->focused() == window_) return true;
      xdotool({"windowfocus", std::to_string(window_)});
      return client_->focused() == window_;
    });
    if (!focused) ADD_FAILURE() << "the window does not get the focus";
    return focused;
  }

  bool xdotool(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "xdotool");
    return runTool(server_.display(), arguments);
  }

  bool key(const std::string& name) { return xdotool({"key", "--clearmodifiers", name}); }

  // Types every entry once the program asks for it: the entries' prompts stand on
  // text rows 4 to 12 of the 16-pixel VGA font, and a prompt is drawn only after the
  // entry before it has been taken, so the key queue never holds more than one entry.
  bool typeEntries(const std::vector<std::vector<std::string>>& entries) {
    for (size_t i = 0; i < entries.size(); ++i) {
      if (!waitUntil([&] { return rowShowsText(static_cast<int>(4 + i)); })) {
        ADD_FAILURE() << "entry " << i + 1 << " was not asked for";
        return false;
      }
      for (const std::string& name : entries[i])
        if (!key(name)) return false;
    }
    return true;
  }

  // The client area at the program's own size: a window scaled by the desktop's
  // factor is read back one pixel per block (empty when a block is not uniform).
  std::vector<uint8_t> picture(int* width, int* height) {
    std::vector<uint8_t> rgb = client_->capture(window_, width, height);
    if (scale_ == 1 || rgb.empty()) return rgb;
    const int w = *width / scale_, h = *height / scale_;
    std::vector<uint8_t> small;
    small.reserve(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < *height; ++y) {
      for (int x = 0; x < *width; ++x) {
        const uint8_t* p = &rgb[(static_cast<size_t>(y) * *width + x) * 3];
        const uint8_t* q = &rgb[(static_cast<size_t>(y / scale_ * scale_) * *width + x / scale_ * scale_) * 3];
        if (std::memcmp(p, q, 3) != 0) {
          *width = *height = 0;
          return {};
        }
        if (y % scale_ == 0 && x % scale_ == 0) small.insert(small.end(), p, p + 3);
      }
    }
    *width = w;
    *height = h;
    return small;
  }

  void setScale(int scale) { scale_ = scale; }

  // Whether the text row shows the code page 437 text, white on black in the VGA
  // font, starting at some column.
  bool rowReads(int row, const std::string& text) {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb = picture(&width, &height);
    const zv::FontInfo* font = zv::builtinFont(16);
    if (width != 640 || height != 480 || !font) return false;
    auto cellIs = [&](int column, unsigned char c) {
      for (int y = 0; y < 16; ++y) {
        const uint8_t bits = font->glyph_data[c * 16 + y];
        for (int x = 0; x < 8; ++x) {
          const size_t at = (static_cast<size_t>(row * 16 + y) * 640 + static_cast<size_t>(column * 8 + x)) * 3;
          if ((rgb[at] != 0) != (((bits >> x) & 1) != 0)) return false;
        }
      }
      return true;
    };
    for (int column = 0; column + static_cast<int>(text.size()) <= 80; ++column) {
      bool all = true;
      for (size_t i = 0; i < text.size() && all; ++i)
        all = cellIs(column + static_cast<int>(i), static_cast<unsigned char>(text[i]));
      if (all) return true;
    }
    return false;
  }

  bool rowShowsText(int row) {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb = picture(&width, &height);
    if (width != 640 || height != 480) return false;
    for (int y = row * 16; y < row * 16 + 16; ++y)
      for (int x = 0; x < 80 * 3; ++x)
        if (rgb[(static_cast<size_t>(y) * 640) * 3 + static_cast<size_t>(x)] != 0) return true;
    return false;
  }

  // Waits for the next pause: the program writes the report out before it waits for
  // a key, and every pause of the run has report text before it.
  bool nextPause() {
    size_t before = reported_;
    bool grown = waitUntil([&] {
      reported_ = program_->report().size();
      return reported_ > before;
    });
    if (!grown) ADD_FAILURE() << "no pause after " << before << " bytes of report";
    return grown;
  }

  // The picture of the window, once it equals the expected one or after a while.
  std::vector<uint8_t> settledCapture(const std::function<bool(const std::vector<uint8_t>&, int, int)>& expected,
                                      int* width, int* height) {
    std::vector<uint8_t> rgb;
    waitUntil([&] {
      rgb = picture(width, height);
      return expected(rgb, *width, *height);
    }, 10);
    return rgb;
  }

  // The test's own connection goes before the server does (Xlib ends a program whose
  // connection breaks).
  void disconnect() { client_.reset(); }

  zv::test::Xvfb& server() { return server_; }
  Program& program() { return *program_; }
  Client& client() { return *client_; }
  ::Window window() const { return window_; }
  void setWindow(::Window window) { window_ = window; }
  size_t reported() const { return reported_; }

 private:
  zv::test::TempDir dir_;
  zv::test::Xvfb server_;
  std::unique_ptr<Program> program_;
  std::unique_ptr<Client> client_;
  ::Window window_ = 0;
  size_t reported_ = 0;
  const char* driver_ = nullptr;
  int scale_ = 1;
};

#define SKIP_WITHOUT_XVFB()                                                                        \
  do {                                                                                             \
    if (!onPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed (apt-get install xvfb): no X window tests"; \
  } while (false)

// The whole typed run with the driver named (none: the search's first, DirectX).
void typedRunShowsTheGoldenScreen(const char* driver) {
  const std::string png = golden("point_half.png");
  WindowRun run(driver);
  ASSERT_TRUE(run.start());
  int width = 0, height = 0;
  ASSERT_TRUE(run.client().size(run.window(), &width, &height));
  EXPECT_EQ(width, 640);
  EXPECT_EQ(height, 480);
  ASSERT_TRUE(run.typeEntries(kPointHalfKeys));
  for (int pause = 1; pause <= kPointHalfPauses; ++pause) {
    ASSERT_TRUE(run.nextPause()) << "pause " << pause;
    if (pause == kPointHalfPauses) {
      std::vector<uint8_t> rgb = run.settledCapture(
          [&](const std::vector<uint8_t>& p, int w, int h) { return pngOf(p, w, h) == png; }, &width,
          &height);
      ASSERT_EQ(width, 640);
      ASSERT_EQ(height, 480);
      zv::test::expect_golden(std::string(ZV_GOLDEN_DIR) + "/point_half.png", pngOf(rgb, width, height));
    }
    ASSERT_TRUE(run.key("space"));
  }
  EXPECT_EQ(run.program().wait(), 0);
  EXPECT_EQ(run.program().report(), golden("point_half.report"));
  EXPECT_EQ(run.program().errors(), "");
}

TEST(X11Window, TypedRunWritesTheGoldenReportAndShowsTheGoldenScreen) {
  SKIP_WITHOUT_XVFB();
  typedRunShowsTheGoldenScreen(nullptr);
}

TEST(X11Window, TypedRunThroughGdiShowsTheGoldenScreenToo) {
  SKIP_WITHOUT_XVFB();
  typedRunShowsTheGoldenScreen("GDI");
}

// The close button pushes the close request's key code: at a pause that is the key
// the pause waits for, so the run goes on, and the window stays.
TEST(X11Window, CloseRequestIsAKeyAndTheWindowStays) {
  SKIP_WITHOUT_XVFB();
  WindowRun run;
  ASSERT_TRUE(run.start());
  ASSERT_TRUE(run.typeEntries(kPointHalfKeys));
  for (int pause = 1; pause <= kPointHalfPauses; ++pause) {
    ASSERT_TRUE(run.nextPause()) << "pause " << pause;
    if (pause % 2 == 1) {
      run.client().sendDelete(run.window());
    } else {
      ASSERT_TRUE(run.key("space"));
    }
    if (pause < kPointHalfPauses) {
      ASSERT_EQ(run.client().find("invar"), run.window()) << "pause " << pause;
    }
  }
  EXPECT_EQ(run.program().wait(), 0);
  EXPECT_EQ(run.program().report(), golden("point_half.report"));
  EXPECT_EQ(run.program().errors(), "");
}

// A desktop of 192 dpi scales the program by two, as Windows scales programs that are
// not DPI-aware: a 1280 × 960 window whose every pixel is a 2 × 2 block of the golden
// picture.
TEST(X11Window, DesktopScaleFactorDoublesTheWindow) {
  SKIP_WITHOUT_XVFB();
  const std::string png = golden("point_half.png");
  WindowRun run;
  ASSERT_TRUE(run.start([](Client& client) { client.setResources("Xft.dpi:\t192\n"); }));
  int width = 0, height = 0;
  ASSERT_TRUE(run.client().size(run.window(), &width, &height));
  EXPECT_EQ(width, 1280);
  EXPECT_EQ(height, 960);
  run.setScale(2);
  ASSERT_TRUE(run.typeEntries(kPointHalfKeys));
  for (int pause = 1; pause <= kPointHalfPauses; ++pause) {
    ASSERT_TRUE(run.nextPause()) << "pause " << pause;
    if (pause == kPointHalfPauses) {
      std::vector<uint8_t> rgb = run.settledCapture(
          [&](const std::vector<uint8_t>& p, int w, int h) { return pngOf(p, w, h) == png; }, &width,
          &height);
      EXPECT_TRUE(pngOf(rgb, width, height) == png) << "not the golden picture scaled by two";
    }
    ASSERT_TRUE(run.key("space"));
  }
  EXPECT_EQ(run.program().wait(), 0);
  EXPECT_EQ(run.program().report(), golden("point_half.report"));
  EXPECT_EQ(run.program().errors(), "");
}

// Text typed on a German layout, where "ö" has a key of its own (AC10), and on the US
// layout, where a spare keycode without a PC key is bound to it: the entry shows
// "Lösung" in code page 437. The entry is then cleared and the run goes on to the golden report.
TEST(X11Window, GermanTextReachesTheEntryInCodePage437) {
  SKIP_WITHOUT_XVFB();
  for (const char* layout : {"de", "us"}) {
    SCOPED_TRACE(layout);
    WindowRun run;
    ASSERT_TRUE(run.start());
    if (std::string(layout) == "de") {
      ASSERT_TRUE(runTool(run.server().display(), {"setxkbmap", "de"}));
    } else {
      ASSERT_TRUE(run.client().bindSpareKeycode(XK_odiaeresis));
    }
    ASSERT_TRUE(waitUntil([&] { return run.rowShowsText(4); }));
    ASSERT_TRUE(run.xdotool({"type", "L\xc3\xb6sung"}));
    EXPECT_TRUE(waitUntil([&] { return run.rowReads(4, "a11=? L\x94" "sung"); }, 10))
        << "the entry does not show L\\x94sung";
    ASSERT_TRUE(run.key("Escape"));
    std::vector<std::vector<std::string>> entries = kPointHalfKeys;
    ASSERT_TRUE(run.typeEntries(entries));
    for (int pause = 1; pause <= kPointHalfPauses; ++pause) {
      ASSERT_TRUE(run.nextPause()) << "pause " << pause;
      ASSERT_TRUE(run.key("space"));
    }
    EXPECT_EQ(run.program().wait(), 0);
    EXPECT_EQ(run.program().report(), golden("point_half.report"));
    EXPECT_EQ(run.program().errors(), "");
  }
}

// The server goes away while the program waits at its third pause: it ends at once
// with a status that is not 0, without a signal or a core, and its report holds all
// it had printed.
TEST(X11Window, LostServerEndsTheProgramWithTheReportWritten) {
  SKIP_WITHOUT_XVFB();
  WindowRun run;
  ASSERT_TRUE(run.start());
  ASSERT_TRUE(run.typeEntries(kPointHalfKeys));
  for (int pause = 1; pause <= 3; ++pause) {
    ASSERT_TRUE(run.nextPause()) << "pause " << pause;
    if (pause < 3) {
      ASSERT_TRUE(run.key("space"));
    }
  }
  const std::string printed = run.program().report();
  ASSERT_EQ(printed, golden("point_half.report").substr(0, printed.size()));
  run.disconnect();
  const auto killed = Clock::now();
  run.server().kill_now();
  const int status = run.program().wait(5);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - killed).count();
  std::printf("the program ended %lld ms after the server\n", static_cast<long long>(took));
  EXPECT_TRUE(run.program().exited()) << "still running 5 s after the server went away";
  EXPECT_NE(status, 0);
  EXPECT_EQ(run.program().end_signal(), 0);
  EXPECT_FALSE(run.program().dumped_core());
  EXPECT_EQ(run.program().report(), printed);
  EXPECT_EQ(run.program().errors(), "");
}

}  // namespace
