// A test's side of an X display: its own connection to find a program's windows, read
// them back and act as a window manager would, and the command-line tools (xdotool,
// setxkbmap) run against the display.
#pragma once

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace zv::test {

inline bool onPath(const char* program) {
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

// Runs a tool with DISPLAY set to the display; true when it succeeded.
inline bool runTool(const std::string& display, const std::vector<std::string>& arguments) {
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


// The test's own connection to the display: finds the program's windows, reads them
// back, and does what a window manager or the user's desktop would.
class Client {
 public:
  // The program's windows come and go (a full-screen switch): a request about one
  // that has just gone fails and is answered as "not there", not with the end of the
  // test program, which is what Xlib's default error handler does.
  // The error handler is the process's: a test that has the Win32 layer's own
  // connection in the same process keeps the layer's (quiet_errors false).
  explicit Client(const std::string& display, bool quiet_errors = true) {
    // A server that has just announced its display may still be busy on a loaded
    // machine: the connection is tried for a while.
    for (int tries = 0; tries < 100 && !display_; ++tries) {
      display_ = XOpenDisplay(display.c_str());
      if (!display_) usleep(50000);
    }
    if (quiet_errors) XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
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

  // The mapped top-level window with that title, or 0; under a window manager the
  // window lies inside its frame, a level or two further down.
  ::Window find(const char* title) { return findBelow(DefaultRootWindow(display_), title, 3); }

  ::Window findBelow(::Window window, const char* title, int levels) {
    ::Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    ::Window found = 0;
    if (!XQueryTree(display_, window, &root, &parent, &children, &count)) return 0;
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
    for (unsigned i = 0; i < count && !found && levels > 1; ++i) found = findBelow(children[i], title, levels - 1);
    if (children) XFree(children);
    return found;
  }

  // Where the window's top-left corner lies on the screen.
  bool origin(::Window window, int* x, int* y) {
    ::Window child = 0;
    return XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, x, y, &child) != 0;
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
    if (size(window, width, height)) rgb = captureArea(window, 0, 0, *width, *height);
    if (rgb.empty()) *width = *height = 0;
    return rgb;
  }

  // A rectangle of the window as RGB triples; empty when it cannot be read.
  std::vector<uint8_t> captureArea(::Window window, int x, int y, int width, int height) {
    std::vector<uint8_t> rgb;
    XImage* image = XGetImage(display_, window, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height),
                              AllPlanes, ZPixmap);
    if (!image) return rgb;
    rgb.reserve(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    // The usual 32-bit little-endian pixels are read directly: XGetPixel for each of a
    // full screen's pixels takes seconds in an instrumented build.
    const bool direct = image->bits_per_pixel == 32 && image->byte_order == LSBFirst && image->red_mask == 0xFF0000 &&
                        image->green_mask == 0xFF00 && image->blue_mask == 0xFF;
    for (int row = 0; row < height; ++row) {
      const auto* line = reinterpret_cast<const uint8_t*>(image->data) + static_cast<size_t>(row) * image->bytes_per_line;
      for (int column = 0; column < width; ++column) {
        if (direct) {
          const uint8_t* p = line + static_cast<size_t>(column) * 4;
          rgb.insert(rgb.end(), {p[2], p[1], p[0]});
        } else {
          unsigned long p = XGetPixel(image, column, row);
          rgb.insert(rgb.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
        }
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

  // A window property's items: bytes of an 8-bit property, longs (as Xlib gives
  // 32-bit ones) otherwise; empty when the window has no such property.
  std::vector<long> property(::Window window, const char* name) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<long> items;
    if (XGetWindowProperty(display_, window, XInternAtom(display_, name, False), 0, 1 << 16, False, AnyPropertyType,
                           &type, &format, &count, &after, &data) != Success || !data) {
      return items;
    }
    for (unsigned long i = 0; i < count; ++i) {
      items.push_back(format == 8 ? data[i] : format == 16 ? reinterpret_cast<short*>(data)[i] : reinterpret_cast<long*>(data)[i]);
    }
    XFree(data);
    return items;
  }

  // Where the pointer is on the screen.
  bool pointer(int* x, int* y) {
    ::Window root = 0, child = 0;
    int wx = 0, wy = 0;
    unsigned mask = 0;
    return XQueryPointer(display_, DefaultRootWindow(display_), &root, &child, x, y, &wx, &wy, &mask);
  }

  // The screen saver's time-out in seconds (0: off).
  int screenSaverTimeout() {
    int timeout = -1, interval = 0, blanking = 0, exposures = 0;
    XGetScreenSaver(display_, &timeout, &interval, &blanking, &exposures);
    return timeout;
  }

  // What a desktop with panels announces: the free part of the screen.
  void setWorkArea(long x, long y, long width, long height) {
    long area[4] = {x, y, width, height};
    XChangeProperty(display_, DefaultRootWindow(display_), XInternAtom(display_, "_NET_WORKAREA", False), XA_CARDINAL,
                    32, PropModeReplace, reinterpret_cast<unsigned char*>(area), 4);
    XSync(display_, False);
  }

 private:
  Display* display_ = nullptr;
};

}  // namespace zv::test
