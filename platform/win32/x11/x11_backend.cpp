// The X11 backend of the Win32 layer: top-level X windows for the layer's windows,
// their client-area pixels shown through MIT-SHM images (XPutImage where the server
// has none), the screen with emulated full-screen modes and the desktop's integer
// scale factor, and an event thread that hands keys (XKB positions, the active
// layout's characters), the mouse, focus, exposure, close requests and window-manager
// changes to the layer. Every X call is made under this backend's own lock; the event
// thread leaves it before it calls into the layer. A lost connection ends the
// program at once through fatal_exit.
#include "platform/win32/backend.h"

#include "platform/platform.h"
#include "platform/win32/x11/x11_glx.h"
#include "platform/win32/x11/x11_keys.h"
#include "platform/win32/x11/x11_library.h"

#include <X11/Xatom.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zv::win32 {
namespace {

using XWindow = ::Window;

// One layer window as this backend shows it.
struct Record {
  HWND window = nullptr;
  XWindow xid = 0;
  RECT client{};  // screen coordinates of the layer
  DWORD style = 0, ex_style = 0;
  std::vector<uint32_t> pixels;  // the client area, 0x00RRGGBB; empty while the image is the surface
  // The shared image holds the pixels as they are (the server's format, unscaled):
  // the layer writes straight into it and nothing is copied before it is sent.
  bool image_is_surface = false;
  int32_t width = 0, height = 0;
  XImage* image = nullptr;  // the client area as shown: width * scale by height * scale
  XShmSegmentInfo shm{};
  bool shared = false;
  // Image rows that requests already sent read from the shared memory, perhaps not
  // yet carried out: nothing writes them before the server has (empty when equal).
  int32_t reading_top = 0, reading_bottom = 0;
  int32_t scale = 1, offset_x = 0, offset_y = 0;  // of the picture inside the X window
  bool fullscreen = false;
  bool visible = false, mapped = false, want_focus = false, maximized = false, topmost = false;
};

// How layer coordinates lie on the X screen: scaled, then offset.
struct Transform {
  int32_t scale, x, y;
};

struct Connection {
  std::mutex lock;  // every X call and every field below
  Display* display = nullptr;
  int screen = 0;
  XWindow root = 0;
  Visual* visual = nullptr;
  int depth = 24;
  int32_t root_width = 0, root_height = 0;
  int32_t dpi_scale = 1;
  bool shm_available = false;
  bool repeat_detectable = false;
  Atom wm_protocols = 0, wm_delete = 0, net_wm_name = 0, utf8_string = 0, net_wm_state = 0, state_above = 0,
       state_fullscreen = 0, state_max_vert = 0, state_max_horz = 0, motif_hints = 0, net_active_window = 0, net_workarea = 0;
  Cursor invisible = 0;
  bool cursor_hidden = false;
  bool emulating = false;
  DisplayMode emulated{0, 0, 0, 0};
  std::vector<DisplayMode> modes;
  std::unordered_map<XWindow, Record*> windows;
  x11::ScanCode scan_of_keycode[256]{};
  // What each keycode held down was reported as: X sends no release to a window that
  // has lost the focus, so these are released when the focus comes back without them.
  x11::KeyOutput held[256][2]{};
  uint8_t held_count[256]{};
  int32_t layout_character[2][128];  // by extended bit and scan code; -1: US rules
  RECT clip{};
  bool clipped = false;
  bool saver_saved = false;
  int saver_timeout = 0, saver_interval = 0, saver_blanking = 0, saver_exposures = 0;
  unsigned long red_mask = 0, green_mask = 0, blue_mask = 0;
  int wake[2] = {-1, -1};
  int last_error = 0;
};

Connection& connection() {
  static Connection* c = new Connection;  // never destroyed: the event thread outlives main
  return *c;
}

// Holds the lock for X calls; on leaving, sends what Xlib buffered and wakes the
// event thread when events were read into Xlib's queue meanwhile.
class XLock {
 public:
  XLock() : hold_(connection().lock) {}
  ~XLock() {
    Connection& c = connection();
    XFlush(c.display);
    if (XQLength(c.display) > 0) {
      char byte = 1;
      [[maybe_unused]] ssize_t n = write(c.wake[1], &byte, 1);
    }
  }
  XLock(const XLock&) = delete;
  XLock& operator=(const XLock&) = delete;

 private:
  std::lock_guard<std::mutex> hold_;
};

Record* self(NativeWindow* window) { return reinterpret_cast<Record*>(window); }

int onError(Display*, XErrorEvent* event) {
  connection().last_error = event->error_code;  // called inside an X call: the lock is held
  return 0;
}

// The server is gone: nothing of the window can be shown any more, and Xlib must not
// come back from here.
int onIoError(Display*) { fatal_exit(1); }

DisplayMode desktopModeLocked() {
  const Connection& c = connection();
  return DisplayMode{c.root_width / c.dpi_scale, c.root_height / c.dpi_scale, 32, 60};
}

DisplayMode currentModeLocked() {
  const Connection& c = connection();
  return c.emulating ? c.emulated : desktopModeLocked();
}

// A full-screen mode is scaled by the largest integer factor that fits and centred;
// the desktop by its own scale factor.
Transform transformLocked() {
  const Connection& c = connection();
  if (!c.emulating) return Transform{c.dpi_scale, 0, 0};
  int32_t k = std::max(1, std::min(c.root_width / std::max(c.emulated.width, 1),
                                   c.root_height / std::max(c.emulated.height, 1)));
  return Transform{k, (c.root_width - k * c.emulated.width) / 2, (c.root_height - k * c.emulated.height) / 2};
}

POINT layerPointLocked(int32_t root_x, int32_t root_y) {
  Transform t = transformLocked();
  auto back = [&](int32_t v, int32_t offset) {
    int32_t d = v - offset;
    return d >= 0 ? d / t.scale : -((-d + t.scale - 1) / t.scale);
  };
  return POINT{back(root_x, t.x), back(root_y, t.y)};
}

int shiftOf(unsigned long mask) {
  int shift = 0;
  while (mask && !(mask & 1)) {
    mask >>= 1;
    ++shift;
  }
  return shift;
}

int bitsOf(unsigned long mask) {
  mask >>= shiftOf(mask);
  int bits = 0;
  while (mask & 1) {
    mask >>= 1;
    ++bits;
  }
  return bits;
}

unsigned long pixelOf(uint32_t rgb) {
  const Connection& c = connection();
  auto field = [](uint32_t component, unsigned long mask) {
    int bits = bitsOf(mask);
    unsigned long v = bits >= 8 ? static_cast<unsigned long>(component) << (bits - 8) : component >> (8 - bits);
    return (v << shiftOf(mask)) & mask;
  };
  return field((rgb >> 16) & 0xFF, c.red_mask) | field((rgb >> 8) & 0xFF, c.green_mask) | field(rgb & 0xFF, c.blue_mask);
}

bool directImage(const XImage* image) {
  const Connection& c = connection();
  const int host_order = [] {
    const uint16_t probe = 1;
    return *reinterpret_cast<const uint8_t*>(&probe) == 1 ? LSBFirst : MSBFirst;
  }();
  return image->bits_per_pixel == 32 && image->byte_order == host_order && c.red_mask == 0xFF0000 &&
         c.green_mask == 0xFF00 && c.blue_mask == 0xFF;
}

void freeImageLocked(Record* r) {
  Connection& c = connection();
  if (!r->image) return;
  if (r->shared) {
    XShmDetach(c.display, &r->shm);
    XSync(c.display, False);
    shmdt(r->shm.shmaddr);
    r->image->data = nullptr;
    r->reading_top = r->reading_bottom = 0;
  }
  XDestroyImage(r->image);
  r->image = nullptr;
  r->shared = false;
}

XImage* sharedImageLocked(Record* r, int32_t width, int32_t height) {
  Connection& c = connection();
  if (!c.shm_available) return nullptr;
  XImage* image = XShmCreateImage(c.display, c.visual, static_cast<unsigned>(c.depth), ZPixmap, nullptr, &r->shm,
                                  static_cast<unsigned>(width), static_cast<unsigned>(height));
  if (!image) return nullptr;
  r->shm.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(image->bytes_per_line) * static_cast<size_t>(height),
                        IPC_CREAT | 0600);
  if (r->shm.shmid < 0) {
    XDestroyImage(image);
    return nullptr;
  }
  void* address = shmat(r->shm.shmid, nullptr, 0);
  if (address == reinterpret_cast<void*>(-1)) {
    shmctl(r->shm.shmid, IPC_RMID, nullptr);
    XDestroyImage(image);
    return nullptr;
  }
  r->shm.shmaddr = image->data = static_cast<char*>(address);
  r->shm.readOnly = False;
  c.last_error = 0;
  XShmAttach(c.display, &r->shm);
  XSync(c.display, False);
  shmctl(r->shm.shmid, IPC_RMID, nullptr);  // goes once both sides have let go
  if (c.last_error != 0) {
    // A server that cannot reach our memory (another host): plain images from now on.
    c.shm_available = false;
    shmdt(address);
    image->data = nullptr;
    XDestroyImage(image);
    return nullptr;
  }
  r->shared = true;
  return image;
}

// The picture of the whole client area, drawn anew from the pixels.
void fillImageLocked(Record* r);

// The pixels back in the record's own buffer, when they lived in the image.
void takePixelsFromImageLocked(Record* r) {
  if (!r->image_is_surface) return;
  r->pixels.resize(static_cast<size_t>(r->width) * static_cast<size_t>(r->height));
  for (int32_t y = 0; y < r->height; ++y) {
    std::memcpy(r->pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(r->width),
                r->image->data + static_cast<size_t>(y) * static_cast<size_t>(r->image->bytes_per_line),
                static_cast<size_t>(r->width) * 4);
  }
  r->image_is_surface = false;
}

void makeImageLocked(Record* r) {
  Connection& c = connection();
  takePixelsFromImageLocked(r);
  freeImageLocked(r);
  int32_t width = std::max(r->width * r->scale, 1), height = std::max(r->height * r->scale, 1);
  r->image = sharedImageLocked(r, width, height);
  if (!r->image) {
    r->image = XCreateImage(c.display, c.visual, static_cast<unsigned>(c.depth), ZPixmap, 0, nullptr,
                            static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
    if (r->image) {
      r->image->data = static_cast<char*>(std::calloc(static_cast<size_t>(r->image->bytes_per_line),
                                                      static_cast<size_t>(height)));
      if (!r->image->data) {
        XDestroyImage(r->image);
        r->image = nullptr;
      }
    }
  }
  fillImageLocked(r);
  if (r->image && r->shared && r->scale == 1 && directImage(r->image)) {
    r->image_is_surface = true;
    std::vector<uint32_t>().swap(r->pixels);
  }
}

// Waits, when the server may still read image rows top to bottom, until it has.
void awaitReadsLocked(Record* r, int32_t top, int32_t bottom) {
  if (top >= r->reading_bottom || bottom <= r->reading_top) return;
  XSync(connection().display, False);
  r->reading_top = r->reading_bottom = 0;
}

// Copies a band of the pixels into the image, each pixel as a scale × scale block.
void copyToImageLocked(Record* r, const RECT& band) {
  XImage* image = r->image;
  if (!image) return;
  const int32_t k = r->scale;
  const bool direct = directImage(image);
  for (LONG y = band.top; y < band.bottom; ++y) {
    const uint32_t* source = r->pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(r->width);
    for (int32_t ky = 0; ky < k; ++ky) {
      const int32_t image_y = static_cast<int32_t>(y) * k + ky;
      if (direct) {
        auto* row = reinterpret_cast<uint32_t*>(image->data + static_cast<size_t>(image_y) * image->bytes_per_line);
        if (k == 1) {
          std::memcpy(row + band.left, source + band.left, static_cast<size_t>(band.right - band.left) * 4);
        } else {
          for (LONG x = band.left; x < band.right; ++x) std::fill_n(row + x * k, k, source[x]);
        }
      } else {
        for (LONG x = band.left; x < band.right; ++x) {
          unsigned long pixel = pixelOf(source[x]);
          for (int32_t kx = 0; kx < k; ++kx) XPutPixel(image, static_cast<int>(x * k + kx), image_y, pixel);
        }
      }
    }
  }
}

void fillImageLocked(Record* r) { copyToImageLocked(r, RECT{0, 0, r->width, r->height}); }

// Sends a rectangle of the image (image coordinates) to the window.
void putImageLocked(Record* r, int32_t x, int32_t y, int32_t width, int32_t height) {
  Connection& c = connection();
  if (!r->image || !r->mapped || width <= 0 || height <= 0) return;
  GC gc = DefaultGC(c.display, c.screen);
  if (r->shared) {
    // The server reads the shared memory while it carries out the request, which it
    // does while the caller goes on: a later write into these rows waits for it.
    XShmPutImage(c.display, r->xid, gc, r->image, x, y, r->offset_x + x, r->offset_y + y,
                 static_cast<unsigned>(width), static_cast<unsigned>(height), False);
    XFlush(c.display);
    const bool none = r->reading_top >= r->reading_bottom;
    r->reading_top = none ? y : std::min(r->reading_top, y);
    r->reading_bottom = none ? y + height : std::max(r->reading_bottom, y + height);
  } else {
    XPutImage(c.display, r->xid, gc, r->image, x, y, r->offset_x + x, r->offset_y + y, static_cast<unsigned>(width),
              static_cast<unsigned>(height));
  }
}

void putAllLocked(Record* r) {
  if (r->image) putImageLocked(r, 0, 0, r->image->width, r->image->height);
}

void setNetStateLocked(Record* r, Atom state, bool on) {
  Connection& c = connection();
  if (r->mapped) {
    // A window manager changes the state of a mapped window on request.
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = r->xid;
    event.xclient.message_type = c.net_wm_state;
    event.xclient.format = 32;
    event.xclient.data.l[0] = on ? 1 : 0;
    event.xclient.data.l[1] = static_cast<long>(state);
    event.xclient.data.l[3] = 1;
    XSendEvent(c.display, c.root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
  }
  Atom states[2];
  int count = 0;
  if (r->topmost) states[count++] = c.state_above;
  if (r->fullscreen) states[count++] = c.state_fullscreen;
  XChangeProperty(c.display, r->xid, c.net_wm_state, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(states), count);
}

// Window-manager hints of the style: frame or none, position as asked, the size
// fixed (the picture is never stretched to a frame the user dragged; maximising is
// the switch to full screen, seen in the request itself). Static gravity: the
// position is the client area's, the frame goes around it, so a window put back
// where it was does not move by the frame's size.
void setHintsLocked(Record* r, int32_t x, int32_t y, int32_t width, int32_t height) {
  Connection& c = connection();
  XSizeHints* hints = XAllocSizeHints();
  if (hints) {
    hints->flags = PPosition | USPosition | PMinSize | PMaxSize | PWinGravity;
    hints->x = x;
    hints->y = y;
    hints->min_width = hints->max_width = hints->base_width = width;
    hints->min_height = hints->max_height = hints->base_height = height;
    hints->win_gravity = StaticGravity;
    XSetWMNormalHints(c.display, r->xid, hints);
    XFree(hints);
  }
  // _MOTIF_WM_HINTS: flags (functions, decorations), functions, decorations, input mode, status.
  long motif[5] = {1 | 2, 0, 0, 0, 0};
  motif[1] = 4 /* move */ | 8 /* minimise */ | 32 /* close */ | ((r->style & WS_MAXIMIZEBOX) ? 16 : 0);
  motif[2] = (r->style & WS_POPUP) || r->fullscreen ? 0 : 1;
  XChangeProperty(c.display, r->xid, c.motif_hints, c.motif_hints, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(motif), 5);
}

// Places the X window where the layer's rectangle lies on the screen.
void layoutLocked(Record* r, bool created) {
  Connection& c = connection();
  Transform t = transformLocked();
  const int32_t width = std::max<int32_t>(r->client.right - r->client.left, 0);
  const int32_t height = std::max<int32_t>(r->client.bottom - r->client.top, 0);
  const DisplayMode mode = currentModeLocked();
  const bool fullscreen = c.emulating && (r->style & WS_POPUP) && r->client.left == 0 && r->client.top == 0 &&
                          width == mode.width && height == mode.height;
  int32_t x, y, outer_width, outer_height;
  if (fullscreen) {
    x = y = 0;
    outer_width = c.root_width;
    outer_height = c.root_height;
    r->offset_x = t.x;
    r->offset_y = t.y;
  } else {
    x = t.x + t.scale * r->client.left;
    y = t.y + t.scale * r->client.top;
    outer_width = std::max(width * t.scale, 1);
    outer_height = std::max(height * t.scale, 1);
    r->offset_x = r->offset_y = 0;
  }
  const bool resized = width != r->width || height != r->height || t.scale != r->scale || !r->image;
  r->fullscreen = fullscreen;
  r->scale = t.scale;
  if (width != r->width || height != r->height) {
    takePixelsFromImageLocked(r);
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    for (int32_t row = 0; row < std::min(height, r->height); ++row) {
      std::copy_n(r->pixels.begin() + static_cast<ptrdiff_t>(row) * r->width, std::min(width, r->width),
                  pixels.begin() + static_cast<ptrdiff_t>(row) * width);
    }
    r->pixels.swap(pixels);
    r->width = width;
    r->height = height;
  }
  if (!created) {
    XMoveResizeWindow(c.display, r->xid, x, y, static_cast<unsigned>(outer_width), static_cast<unsigned>(outer_height));
  }
  setHintsLocked(r, x, y, outer_width, outer_height);
  setNetStateLocked(r, c.state_fullscreen, fullscreen);
  if (resized) makeImageLocked(r);
  XClearWindow(c.display, r->xid);
  putAllLocked(r);
}

void setTitleLocked(Record* r, const char* title) {
  Connection& c = connection();
  char utf8[1024];
  x11::utf8FromWindows1252(title, utf8, sizeof utf8);
  XChangeProperty(c.display, r->xid, c.net_wm_name, c.utf8_string, 8, PropModeReplace,
                  reinterpret_cast<unsigned char*>(utf8), static_cast<int>(std::strlen(utf8)));
  // WM_NAME in Latin-1, which Windows-1252 matches outside 0x80-0x9F.
  std::string latin1 = title ? title : "";
  for (char& ch : latin1) {
    auto byte = static_cast<unsigned char>(ch);
    if (byte >= 0x80 && byte < 0xA0) ch = '?';
  }
  XChangeProperty(c.display, r->xid, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(latin1.data()), static_cast<int>(latin1.size()));
}

void focusLocked(Record* r) {
  Connection& c = connection();
  XRaiseWindow(c.display, r->xid);
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = r->xid;
  event.xclient.message_type = c.net_active_window;
  event.xclient.format = 32;
  event.xclient.data.l[0] = 1;  // from an application
  XSendEvent(c.display, c.root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
  if (r->mapped) XSetInputFocus(c.display, r->xid, RevertToParent, CurrentTime);
  r->want_focus = !r->mapped;
}

Record* clipWindowLocked() {
  Connection& c = connection();
  for (auto& [xid, r] : c.windows) {
    if (r->visible && c.clip.left >= r->client.left && c.clip.top >= r->client.top &&
        c.clip.right <= r->client.right && c.clip.bottom <= r->client.bottom) {
      return r;
    }
  }
  return nullptr;
}

void applyClipLocked() {
  Connection& c = connection();
  Record* r = c.clipped ? clipWindowLocked() : nullptr;
  if (r && r->mapped) {
    XGrabPointer(c.display, r->xid, True, ButtonPressMask | ButtonReleaseMask | PointerMotionMask, GrabModeAsync,
                 GrabModeAsync, r->xid, None, CurrentTime);
  } else {
    XUngrabPointer(c.display, CurrentTime);
  }
}

void applyCursorLocked(Record* r) {
  Connection& c = connection();
  if (c.cursor_hidden) {
    XDefineCursor(c.display, r->xid, c.invisible);
  } else {
    XUndefineCursor(c.display, r->xid);
  }
}

// ---- The backend's operations (the layer's lock is held) ----

NativeWindow* createWindow(const NativeWindowDesc& desc) {
  Connection& c = connection();
  XLock hold;
  auto* r = new Record;
  r->window = desc.window;
  r->client = desc.client_rect;
  r->style = desc.style;
  r->ex_style = desc.ex_style;
  r->topmost = (desc.ex_style & WS_EX_TOPMOST) != 0;
  XSetWindowAttributes attributes{};
  attributes.background_pixel = BlackPixel(c.display, c.screen);
  attributes.border_pixel = 0;
  attributes.event_mask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                          EnterWindowMask | LeaveWindowMask | FocusChangeMask | ExposureMask | StructureNotifyMask |
                          PropertyChangeMask | KeymapStateMask;
  Transform t = transformLocked();
  r->xid = XCreateWindow(c.display, c.root, t.x + t.scale * r->client.left, t.y + t.scale * r->client.top, 1, 1, 0,
                         c.depth, InputOutput, c.visual, CWBackPixel | CWBorderPixel | CWEventMask, &attributes);
  if (!r->xid) {
    delete r;
    return nullptr;
  }
  XSetWMProtocols(c.display, r->xid, &c.wm_delete, 1);
  if (desc.icon) {
    // _NET_WM_ICON: width, height, then the pixels, each a CARDINAL (a long in Xlib).
    std::vector<long> icon(2 + 32 * 32);
    icon[0] = icon[1] = 32;
    std::copy_n(desc.icon, 32 * 32, icon.begin() + 2);
    XChangeProperty(c.display, r->xid, XInternAtom(c.display, "_NET_WM_ICON", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(icon.data()), static_cast<int>(icon.size()));
  }
  XClassHint* class_hint = XAllocClassHint();
  if (class_hint) {
    static char name[] = "invar";
    const char* program = program_invocation_short_name;
    class_hint->res_name = const_cast<char*>(program && *program ? program : name);
    class_hint->res_class = class_hint->res_name;
    XSetClassHint(c.display, r->xid, class_hint);
    XFree(class_hint);
  }
  XWMHints* wm_hints = XAllocWMHints();
  if (wm_hints) {
    wm_hints->flags = InputHint | StateHint;
    wm_hints->input = True;
    wm_hints->initial_state = NormalState;
    XSetWMHints(c.display, r->xid, wm_hints);
    XFree(wm_hints);
  }
  setTitleLocked(r, desc.title);
  c.windows[r->xid] = r;
  layoutLocked(r, false);
  applyCursorLocked(r);
  if (!r->image) {
    c.windows.erase(r->xid);
    XDestroyWindow(c.display, r->xid);
    delete r;
    return nullptr;
  }
  return reinterpret_cast<NativeWindow*>(r);
}

void destroyWindow(NativeWindow* window) {
  Connection& c = connection();
  XLock hold;
  Record* r = self(window);
  c.windows.erase(r->xid);
  freeImageLocked(r);
  XDestroyWindow(c.display, r->xid);
  if (c.clipped) applyClipLocked();
  delete r;
}

void showWindow(NativeWindow* window, bool visible) {
  Connection& c = connection();
  XLock hold;
  Record* r = self(window);
  r->visible = visible;
  if (visible) {
    XMapRaised(c.display, r->xid);
  } else {
    XUnmapWindow(c.display, r->xid);
    r->want_focus = false;
  }
}

void placeWindow(NativeWindow* window, const NativeWindowDesc& desc) {
  XLock hold;
  Record* r = self(window);
  r->client = desc.client_rect;
  r->style = desc.style;
  r->ex_style = desc.ex_style;
  layoutLocked(r, false);
}

void setTitle(NativeWindow* window, const char* title) {
  XLock hold;
  setTitleLocked(self(window), title);
}

void setTopmost(NativeWindow* window, bool topmost) {
  Connection& c = connection();
  XLock hold;
  Record* r = self(window);
  r->topmost = topmost;
  setNetStateLocked(r, c.state_above, topmost);
  if (topmost) XRaiseWindow(c.display, r->xid);
}

void raiseWindow(NativeWindow* window) {
  XLock hold;
  Record* r = self(window);
  if (r->visible) focusLocked(r);
}

bool lockSurface(NativeWindow* window, const RECT& writing, Surface* surface) {
  Record* r = self(window);
  if (r->image_is_surface) {
    if (writing.top < writing.bottom) {
      XLock hold;
      awaitReadsLocked(r, static_cast<int32_t>(writing.top), static_cast<int32_t>(writing.bottom));
    }
    *surface = Surface{reinterpret_cast<uint32_t*>(r->image->data), r->image->bytes_per_line / 4, r->width, r->height};
  } else {
    *surface = Surface{r->pixels.data(), r->width, r->width, r->height};
  }
  return true;
}

void unlockSurface(NativeWindow* window, const RECT& changed) {
  XLock hold;
  Record* r = self(window);
  RECT band{std::max<LONG>(changed.left, 0), std::max<LONG>(changed.top, 0), std::min<LONG>(changed.right, r->width),
            std::min<LONG>(changed.bottom, r->height)};
  if (band.left >= band.right || band.top >= band.bottom) return;
  const int32_t k = r->scale;
  if (!r->image_is_surface) {
    awaitReadsLocked(r, static_cast<int32_t>(band.top) * k, static_cast<int32_t>(band.bottom) * k);
    copyToImageLocked(r, band);
  }
  putImageLocked(r, static_cast<int32_t>(band.left) * k, static_cast<int32_t>(band.top) * k,
                 static_cast<int32_t>(band.right - band.left) * k, static_cast<int32_t>(band.bottom - band.top) * k);
}

DisplayMode desktopMode() {
  XLock hold;
  return desktopModeLocked();
}

DisplayMode currentMode() {
  XLock hold;
  return currentModeLocked();
}

int32_t modeCount() {
  XLock hold;
  return static_cast<int32_t>(connection().modes.size());
}

bool mode(int32_t index, DisplayMode* out) {
  XLock hold;
  const auto& modes = connection().modes;
  if (index < 0 || static_cast<size_t>(index) >= modes.size()) return false;
  *out = modes[static_cast<size_t>(index)];
  return true;
}

void relayoutAllLocked() {
  for (auto& [xid, r] : connection().windows) layoutLocked(r, false);
}

// Modes are emulated: one that fits the screen is accepted and reported while in
// force; windows covering it are shown full screen, scaled and centred.
LONG setMode(const DisplayMode* wanted, bool test) {
  Connection& c = connection();
  XLock hold;
  if (!wanted) {
    if (!test && c.emulating) {
      c.emulating = false;
      relayoutAllLocked();
    }
    return DISP_CHANGE_SUCCESSFUL;
  }
  const bool bits_ok = wanted->bits == 8 || wanted->bits == 15 || wanted->bits == 16 || wanted->bits == 24 ||
                       wanted->bits == 32;
  const bool rate_ok = wanted->frequency <= 1 || wanted->frequency == 60;
  if (!bits_ok || !rate_ok || wanted->width <= 0 || wanted->height <= 0 || wanted->width > c.root_width ||
      wanted->height > c.root_height) {
    return DISP_CHANGE_BADMODE;
  }
  if (test) return DISP_CHANGE_SUCCESSFUL;
  const DisplayMode desktop = desktopModeLocked();
  const bool is_desktop = wanted->width == desktop.width && wanted->height == desktop.height && wanted->bits == 32;
  c.emulating = !is_desktop;
  c.emulated = DisplayMode{wanted->width, wanted->height, wanted->bits, 60};
  relayoutAllLocked();
  return DISP_CHANGE_SUCCESSFUL;
}

void warpCursor(int32_t x, int32_t y) {
  Connection& c = connection();
  XLock hold;
  Transform t = transformLocked();
  XWarpPointer(c.display, None, c.root, 0, 0, 0, 0, t.x + x * t.scale + t.scale / 2, t.y + y * t.scale + t.scale / 2);
}

void setCursorVisible(bool visible) {
  Connection& c = connection();
  XLock hold;
  c.cursor_hidden = !visible;
  for (auto& [xid, r] : c.windows) applyCursorLocked(r);
}

void setScreenSaver(bool active) {
  Connection& c = connection();
  XLock hold;
  if (!active) {
    if (!c.saver_saved) {
      XGetScreenSaver(c.display, &c.saver_timeout, &c.saver_interval, &c.saver_blanking, &c.saver_exposures);
      c.saver_saved = true;
    }
    XSetScreenSaver(c.display, 0, c.saver_interval, c.saver_blanking, c.saver_exposures);
    XResetScreenSaver(c.display);
  } else if (c.saver_saved) {
    XSetScreenSaver(c.display, c.saver_timeout, c.saver_interval, c.saver_blanking, c.saver_exposures);
    c.saver_saved = false;
  }
}

void clipCursor(const RECT* clip) {
  Connection& c = connection();
  XLock hold;
  c.clipped = clip != nullptr;
  if (clip) c.clip = *clip;
  applyClipLocked();
}

int32_t layoutCharacter(uint8_t scan, bool extended) {
  XLock hold;
  return scan < 128 ? connection().layout_character[extended][scan] : -1;
}

// What a desktop's panels leave free (_NET_WORKAREA of the current desktop, as the
// window manager keeps it); an emulated mode is all screen.
bool workArea(RECT* area) {
  XLock hold;
  Connection& c = connection();
  if (c.emulating) return false;
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  bool found = false;
  if (XGetWindowProperty(c.display, c.root, c.net_workarea, 0, 4, False, XA_CARDINAL, &type, &format, &count, &after,
                         &data) == Success && data) {
    if (format == 32 && count == 4) {
      const auto* v = reinterpret_cast<const long*>(data);
      const int32_t k = c.dpi_scale;
      *area = RECT{static_cast<LONG>(v[0] / k), static_cast<LONG>(v[1] / k), static_cast<LONG>((v[0] + v[2]) / k),
                   static_cast<LONG>((v[1] + v[3]) / k)};
      found = area->right > area->left && area->bottom > area->top;
    }
    XFree(data);
  }
  return found;
}

const Backend kX11Backend = {"x11",        createWindow,  destroyWindow, showWindow, placeWindow,     setTitle,
                             setTopmost,   nullptr,       raiseWindow,   lockSurface, unlockSurface,  desktopMode,
                             currentMode,  modeCount,     mode,          setMode,    warpCursor,      setCursorVisible,
                             setScreenSaver, nullptr,     clipCursor,    layoutCharacter, workArea,
                             &x11::kGlx};

// ---- The event thread ----

// What an X event asks of the layer, delivered once the X lock is left.
struct Action {
  enum Kind { key, move, button, wheel, activate, deactivate, expose, close, maximize, moved, lost } kind;
  HWND window = nullptr;
  x11::KeyOutput key_output{};
  int32_t a = 0, b = 0;
  RECT rect{};
};

void deliver(const Action& action) {
  switch (action.kind) {
    case Action::key: {
      const x11::KeyOutput& k = action.key_output;
      backendKey(k.virtual_key, k.scan, k.extended, k.down, k.character);
      break;
    }
    case Action::move: backendMouseMove(action.a, action.b); break;
    case Action::button: backendMouseButton(action.a, action.b != 0); break;
    case Action::wheel: backendMouseWheel(action.a, action.b != 0); break;
    case Action::activate: backendActivate(action.window); break;
    case Action::deactivate: backendActivate(nullptr); break;
    case Action::expose: backendExpose(action.window, &action.rect); break;
    case Action::close: backendCloseRequest(action.window); break;
    case Action::maximize: backendMaximize(action.window); break;
    case Action::moved: backendWindowMoved(action.window, action.a, action.b); break;
    // The program's window is gone and the program cannot make it again: an end, as
    // when the server goes, rather than a run that waits for keys no window can take.
    case Action::lost: fatal_exit(1);
  }
}

void readKeyNamesLocked() {
  Connection& c = connection();
  for (auto& entry : c.scan_of_keycode) entry = x11::ScanCode{};
  for (auto& row : c.layout_character) std::fill(std::begin(row), std::end(row), -1);
  XkbDescPtr keyboard = XkbGetMap(c.display, 0, XkbUseCoreKbd);
  if (keyboard && XkbGetNames(c.display, XkbKeyNamesMask, keyboard) == Success && keyboard->names &&
      keyboard->names->keys) {
    for (int code = keyboard->min_key_code; code <= keyboard->max_key_code && code < 256; ++code) {
      const x11::ScanCode position = x11::scanOfKeyName(keyboard->names->keys[code].name);
      c.scan_of_keycode[code] = position;
      if (position.scan != 0 && position.scan < 128) {
        KeySym plain = XkbKeycodeToKeysym(c.display, static_cast<KeyCode>(code), 0, 0);
        // A keypad key's character is the one it types with Num Lock (the comma of
        // KP_Separator, not the nothing of KP_Delete).
        if (plain >= 0xff95 && plain <= 0xff9f) plain = XkbKeycodeToKeysym(c.display, static_cast<KeyCode>(code), 0, 1);
        c.layout_character[position.extended][position.scan] = x11::layoutCharacterOfKeysym(plain);
      }
    }
  } else {
    // Without XKB: the evdev numbering of the main block.
    for (int code = 9; code <= 96; ++code) {
      c.scan_of_keycode[code] = x11::ScanCode{static_cast<uint8_t>(code <= 91 ? code - 8 : code == 94 ? 0x56 : code - 38), false};
    }
  }
  if (keyboard) XkbFreeKeyboard(keyboard, 0, True);
}

Record* recordLocked(XWindow xid) {
  auto& windows = connection().windows;
  auto it = windows.find(xid);
  return it == windows.end() ? nullptr : it->second;
}

// A request to the window manager (seen on the root window) to maximise a window
// both ways: a window of fixed size is not maximised by the manager, so the request
// itself tells the program, which switches to full screen instead.
bool asksToMaximize(const XClientMessageEvent& message) {
  const Connection& c = connection();
  constexpr long REMOVE = 0;
  if (message.format != 32 || message.data.l[0] == REMOVE) return false;
  const auto first = static_cast<Atom>(message.data.l[1]), second = static_cast<Atom>(message.data.l[2]);
  return (first == c.state_max_vert && second == c.state_max_horz) ||
         (first == c.state_max_horz && second == c.state_max_vert);
}

void handleEventLocked(XEvent& event, std::vector<Action>& actions) {
  Connection& c = connection();
  Record* r = recordLocked(event.xany.window);
  switch (event.type) {
    case KeyPress:
    case KeyRelease: {
      XKeyEvent& key = event.xkey;
      if (event.type == KeyRelease && !c.repeat_detectable && XEventsQueued(c.display, QueuedAfterReading) > 0) {
        // An auto-repeat sends a release and a press of the same key at the same time:
        // the key stays down and the press that follows repeats it.
        XEvent next;
        XPeekEvent(c.display, &next);
        if (next.type == KeyPress && next.xkey.keycode == key.keycode && next.xkey.time == key.time) break;
      }
      char text[16];
      KeySym keysym = NoSymbol;
      int length = XLookupString(&key, text, sizeof text, &keysym, nullptr);
      x11::KeyInput input{c.scan_of_keycode[key.keycode & 0xFF], keysym, text, length, event.type == KeyPress};
      x11::KeyOutput out[2];
      int count = x11::translateKeyEvent(input, out);
      const unsigned keycode = key.keycode & 0xFF;
      if (event.type == KeyPress) {
        std::copy_n(out, count, c.held[keycode]);
        c.held_count[keycode] = static_cast<uint8_t>(count);
      } else {
        c.held_count[keycode] = 0;
      }
      for (int i = 0; i < count; ++i) {
        Action action{Action::key};
        action.key_output = out[i];
        actions.push_back(action);
      }
      break;
    }
    case KeymapNotify:
      // Follows every FocusIn: keys released while another window had the focus are
      // released now, last pressed part first (AltGr's right Alt before its Ctrl).
      for (unsigned keycode = 8; keycode < 256; ++keycode) {
        if (!c.held_count[keycode] || (event.xkeymap.key_vector[keycode / 8] >> (keycode % 8)) & 1) continue;
        for (int i = c.held_count[keycode] - 1; i >= 0; --i) {
          Action action{Action::key};
          action.key_output = c.held[keycode][i];
          action.key_output.down = false;
          action.key_output.character = kNoCharacter;
          actions.push_back(action);
        }
        c.held_count[keycode] = 0;
      }
      break;
    case ButtonPress:
    case ButtonRelease: {
      POINT at = layerPointLocked(event.xbutton.x_root, event.xbutton.y_root);
      actions.push_back(Action{Action::move, nullptr, {}, at.x, at.y});
      const bool down = event.type == ButtonPress;
      switch (event.xbutton.button) {
        case 1: actions.push_back(Action{Action::button, nullptr, {}, 0, down}); break;
        case 2: actions.push_back(Action{Action::button, nullptr, {}, 2, down}); break;
        case 3: actions.push_back(Action{Action::button, nullptr, {}, 1, down}); break;
        case 4:
        case 5:
          if (down) actions.push_back(Action{Action::wheel, nullptr, {}, event.xbutton.button == 4 ? 120 : -120, 0});
          break;
        case 6:
        case 7:
          if (down) actions.push_back(Action{Action::wheel, nullptr, {}, event.xbutton.button == 7 ? 120 : -120, 1});
          break;
        case 8: actions.push_back(Action{Action::button, nullptr, {}, 3, down}); break;
        case 9: actions.push_back(Action{Action::button, nullptr, {}, 4, down}); break;
        default: break;
      }
      break;
    }
    case MotionNotify: {
      POINT at = layerPointLocked(event.xmotion.x_root, event.xmotion.y_root);
      actions.push_back(Action{Action::move, nullptr, {}, at.x, at.y});
      break;
    }
    case EnterNotify:
    case LeaveNotify: {
      if (event.xcrossing.mode != NotifyNormal) break;
      POINT at = layerPointLocked(event.xcrossing.x_root, event.xcrossing.y_root);
      if (event.type == LeaveNotify && r) {
        // The pointer is outside the X window, though the scaled-back point may round
        // into the client area: the layer is told a point just outside it.
        if (at.x >= r->client.left && at.x < r->client.right && at.y >= r->client.top && at.y < r->client.bottom) {
          at.x = r->client.left - 1;
        }
      }
      actions.push_back(Action{Action::move, nullptr, {}, at.x, at.y});
      break;
    }
    case FocusIn:
      if (!r || event.xfocus.detail == NotifyPointer || event.xfocus.mode == NotifyGrab ||
          event.xfocus.mode == NotifyUngrab) {
        break;
      }
      // Focus that moved between two of our windows is no loss of focus.
      actions.erase(std::remove_if(actions.begin(), actions.end(),
                                   [](const Action& a) { return a.kind == Action::deactivate; }),
                    actions.end());
      actions.push_back(Action{Action::activate, r->window});
      break;
    case FocusOut:
      if (!r || event.xfocus.detail == NotifyPointer || event.xfocus.detail == NotifyInferior ||
          event.xfocus.mode == NotifyGrab || event.xfocus.mode == NotifyUngrab) {
        break;
      }
      actions.push_back(Action{Action::deactivate});
      break;
    case Expose:
      if (r && r->image) {
        // The picture is at hand: shown at once; the window also gets WM_PAINT.
        const XExposeEvent& e = event.xexpose;
        int32_t x = std::max(e.x - r->offset_x, 0), y = std::max(e.y - r->offset_y, 0);
        int32_t right = std::min(e.x + e.width - r->offset_x, r->image->width);
        int32_t bottom = std::min(e.y + e.height - r->offset_y, r->image->height);
        putImageLocked(r, x, y, right - x, bottom - y);
        if (right > x && bottom > y) {
          const int32_t k = r->scale;
          Action action{Action::expose, r->window};
          action.rect = RECT{x / k, y / k, (right + k - 1) / k, (bottom + k - 1) / k};
          actions.push_back(action);
        }
      }
      break;
    case ClientMessage:
      if (r && event.xclient.message_type == c.wm_protocols &&
          static_cast<Atom>(event.xclient.data.l[0]) == c.wm_delete) {
        actions.push_back(Action{Action::close, r->window});
      }
      if (r && event.xclient.message_type == c.net_wm_state && asksToMaximize(event.xclient) && !r->fullscreen) {
        actions.push_back(Action{Action::maximize, r->window});
      }
      break;
    case MapNotify:
      if (!r) break;
      r->mapped = true;
      // The image holds every band presented so far (the pixels are the layer's
      // to write while it holds its own lock, so they are not read here).
      putAllLocked(r);
      if (r->want_focus) focusLocked(r);
      if (c.clipped) applyClipLocked();
      break;
    case UnmapNotify:
      if (r) r->mapped = false;
      break;
    case DestroyNotify:
      // The backend forgets its windows before it destroys them: a window still known
      // here was destroyed by another client.
      if (r && event.xdestroywindow.window == r->xid) actions.push_back(Action{Action::lost, r->window});
      break;
    case ConfigureNotify: {
      if (!r || r->fullscreen) break;
      XWindow child;
      int root_x = 0, root_y = 0;
      XTranslateCoordinates(c.display, r->xid, c.root, 0, 0, &root_x, &root_y, &child);
      POINT at = layerPointLocked(root_x, root_y);
      if (at.x != r->client.left || at.y != r->client.top) {
        LONG width = r->client.right - r->client.left, height = r->client.bottom - r->client.top;
        r->client = RECT{at.x, at.y, at.x + width, at.y + height};
        actions.push_back(Action{Action::moved, r->window, {}, at.x, at.y});
      }
      break;
    }
    case PropertyNotify: {
      if (!r || event.xproperty.atom != c.net_wm_state) break;
      Atom type;
      int format;
      unsigned long count = 0, after = 0;
      unsigned char* data = nullptr;
      bool vertical = false, horizontal = false;
      if (XGetWindowProperty(c.display, r->xid, c.net_wm_state, 0, 64, False, XA_ATOM, &type, &format, &count,
                             &after, &data) == Success && data) {
        const auto* atoms = reinterpret_cast<const Atom*>(data);
        for (unsigned long i = 0; i < count; ++i) {
          vertical = vertical || atoms[i] == c.state_max_vert;
          horizontal = horizontal || atoms[i] == c.state_max_horz;
        }
        XFree(data);
      }
      const bool maximized = vertical && horizontal;
      if (maximized && !r->maximized) actions.push_back(Action{Action::maximize, r->window});
      r->maximized = maximized;
      break;
    }
    case MappingNotify:
      XRefreshKeyboardMapping(&event.xmapping);
      readKeyNamesLocked();
      break;
    default:
      break;
  }
}

void eventThread() {
  Connection& c = connection();
  const int fd = ConnectionNumber(c.display);
  std::vector<Action> actions;
  for (;;) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {c.wake[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) fatal_exit(1);
    if (fds[1].revents & POLLIN) {
      char bytes[64];
      while (read(c.wake[0], bytes, sizeof bytes) > 0) {
      }
    }
    {
      XLock hold;
      if (fds[0].revents & (POLLHUP | POLLERR)) {
        // The connection is broken: the next request ends the program through the
        // I/O error handler; should it not, the program ends here.
        XNoOp(c.display);
        XSync(c.display, False);
        fatal_exit(1);
      }
      while (XPending(c.display) > 0) {
        XEvent event;
        XNextEvent(c.display, &event);
        handleEventLocked(event, actions);
      }
    }
    for (const Action& action : actions) deliver(action);
    actions.clear();
  }
}

int32_t readDpiScale(Display* display) {
  const char* resources = XResourceManagerString(display);
  if (!resources) return 1;
  const char* at = std::strstr(resources, "Xft.dpi:");
  if (!at) return 1;
  double dpi = std::strtod(at + 8, nullptr);
  int32_t scale = static_cast<int32_t>(dpi / 96.0);
  return std::clamp(scale, 1, 8);
}

void listModesLocked() {
  Connection& c = connection();
  static const int32_t sizes[][2] = {{320, 200},  {320, 240},  {400, 300},   {512, 384},   {640, 400},
                                     {640, 480},  {800, 600},  {1024, 768},  {1152, 864},  {1280, 720},
                                     {1280, 960}, {1280, 1024}, {1600, 1200}, {1920, 1080}, {2560, 1440}};
  const DisplayMode desktop = desktopModeLocked();
  for (int32_t bits : {8, 16, 32}) {
    for (const auto& size : sizes) {
      if (size[0] > c.root_width || size[1] > c.root_height) continue;
      if (bits == 32 && size[0] == desktop.width && size[1] == desktop.height) continue;
      c.modes.push_back(DisplayMode{size[0], size[1], bits, 60});
    }
  }
  c.modes.push_back(desktop);
}

}  // namespace

x11::Placement x11::placementOf(NativeWindow* window) {
  XLock hold;
  const Record* r = self(window);
  return x11::Placement{r->xid, r->offset_x, r->offset_y, r->width * r->scale, r->height * r->scale, r->scale};
}

void x11::settle() {
  XLock hold;
  XSync(connection().display, False);
}

const Backend* openDisplayBackend() {
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name || !loadX11()) return nullptr;
  Display* display = XOpenDisplay(nullptr);
  if (!display) return nullptr;
  Connection& c = connection();
  std::lock_guard<std::mutex> hold(c.lock);
  XSetErrorHandler(onError);
  XSetIOErrorHandler(onIoError);
  c.display = display;
  c.screen = DefaultScreen(display);
  c.root = RootWindow(display, c.screen);
  c.visual = DefaultVisual(display, c.screen);
  c.depth = DefaultDepth(display, c.screen);
  c.red_mask = c.visual->red_mask;
  c.green_mask = c.visual->green_mask;
  c.blue_mask = c.visual->blue_mask;
  c.root_width = DisplayWidth(display, c.screen);
  c.root_height = DisplayHeight(display, c.screen);
  c.dpi_scale = readDpiScale(display);
  int major = 0, minor = 0;
  Bool pixmaps = False;
  c.shm_available = XShmQueryVersion(display, &major, &minor, &pixmaps) == True;
  Bool detectable = False;
  c.repeat_detectable = XkbSetDetectableAutoRepeat(display, True, &detectable) && detectable;
  const std::pair<Atom Connection::*, const char*> atoms[] = {
      {&Connection::wm_protocols, "WM_PROTOCOLS"},       {&Connection::wm_delete, "WM_DELETE_WINDOW"},
      {&Connection::net_wm_name, "_NET_WM_NAME"},        {&Connection::utf8_string, "UTF8_STRING"},
      {&Connection::net_wm_state, "_NET_WM_STATE"},      {&Connection::state_above, "_NET_WM_STATE_ABOVE"},
      {&Connection::state_fullscreen, "_NET_WM_STATE_FULLSCREEN"},
      {&Connection::state_max_vert, "_NET_WM_STATE_MAXIMIZED_VERT"},
      {&Connection::state_max_horz, "_NET_WM_STATE_MAXIMIZED_HORZ"},
      {&Connection::motif_hints, "_MOTIF_WM_HINTS"},     {&Connection::net_active_window, "_NET_ACTIVE_WINDOW"},
      {&Connection::net_workarea, "_NET_WORKAREA"}};
  for (const auto& [atom, name] : atoms) c.*atom = XInternAtom(display, name, False);
  // An invisible cursor: a 1 × 1 pixmap cursor with an empty mask.
  char empty = 0;
  Pixmap blank = XCreateBitmapFromData(display, c.root, &empty, 1, 1);
  XColor black{};
  c.invisible = XCreatePixmapCursor(display, blank, blank, &black, &black, 0, 0);
  XFreePixmap(display, blank);
  readKeyNamesLocked();
  listModesLocked();
  // Requests that clients send the window manager about our windows pass the root.
  XSelectInput(display, c.root, SubstructureNotifyMask);
  if (pipe2(c.wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    XCloseDisplay(display);
    c.display = nullptr;
    return nullptr;
  }
  fcntl(ConnectionNumber(display), F_SETFD, FD_CLOEXEC);
  XFlush(display);
  std::thread(eventThread).detach();
  return &kX11Backend;
}

}  // namespace zv::win32
