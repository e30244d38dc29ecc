// The virtual desktop backend: windows whose client areas are pixel buffers in
// memory, a screen with a mode list the tests choose, and the test API of
// virtual_desktop.h that switches it on, injects input and reads results back.
#include "platform/win32/virtual_desktop.h"

#include "platform/win32/backend.h"
#include "platform/win32/com_object.h"
#include "platform/win32/layer.h"
#include "platform/win32/virtual/recording_gl.h"

#include <algorithm>

namespace zv::win32 {
namespace {

// What NativeWindow stands for in this backend.
struct VirtualWindow {
  HWND window;
  int32_t width = 0, height = 0;
  std::vector<uint32_t> pixels;
};

VirtualWindow* self(NativeWindow* window) { return reinterpret_cast<VirtualWindow*>(window); }

// Guarded by the layer's lock: operations are called with it held, and the test
// API takes it.
struct VirtualScreen {
  DisplayMode desktop_mode{0, 0, 0, 0};
  DisplayMode current{0, 0, 0, 0};
  std::vector<DisplayMode> modes;
  bool refuse_windows = false;
  bool refuse_modes = false;
};

VirtualScreen& screen() {
  static VirtualScreen* s = new VirtualScreen;
  return *s;
}

void resize(VirtualWindow* window, const RECT& client) {
  int32_t width = std::max<int32_t>(client.right - client.left, 0);
  int32_t height = std::max<int32_t>(client.bottom - client.top, 0);
  if (width == window->width && height == window->height) return;
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  for (int32_t y = 0; y < std::min(height, window->height); ++y) {
    std::copy_n(window->pixels.begin() + static_cast<ptrdiff_t>(y) * window->width, std::min(width, window->width),
                pixels.begin() + static_cast<ptrdiff_t>(y) * width);
  }
  window->pixels.swap(pixels);
  window->width = width;
  window->height = height;
}

NativeWindow* createWindow(const NativeWindowDesc& desc) {
  if (screen().refuse_windows) return nullptr;
  auto* window = new VirtualWindow;
  window->window = desc.window;
  resize(window, desc.client_rect);
  return reinterpret_cast<NativeWindow*>(window);
}

void destroyWindow(NativeWindow* window) { delete self(window); }
void showWindow(NativeWindow*, bool) {}
void placeWindow(NativeWindow* window, const NativeWindowDesc& desc) { resize(self(window), desc.client_rect); }
void setTitle(NativeWindow*, const char*) {}
void setTopmost(NativeWindow*, bool) {}
void setColourKey(NativeWindow*, bool, uint32_t) {}
void raiseWindow(NativeWindow*) {}

bool lockSurface(NativeWindow* native, const RECT&, Surface* surface) {
  VirtualWindow* window = self(native);
  *surface = Surface{window->pixels.data(), window->width, window->width, window->height};
  return true;
}

void unlockSurface(NativeWindow*, const RECT&) {}

DisplayMode desktopMode() { return screen().desktop_mode; }
DisplayMode currentMode() { return screen().current; }
int32_t modeCount() { return static_cast<int32_t>(screen().modes.size()); }

bool mode(int32_t index, DisplayMode* out) {
  const auto& modes = screen().modes;
  if (index < 0 || static_cast<size_t>(index) >= modes.size()) return false;
  *out = modes[static_cast<size_t>(index)];
  return true;
}

LONG setMode(const DisplayMode* wanted, bool test) {
  VirtualScreen& s = screen();
  if (s.refuse_modes) return DISP_CHANGE_FAILED;
  if (!wanted) {
    if (!test) s.current = s.desktop_mode;
    return DISP_CHANGE_SUCCESSFUL;
  }
  for (const DisplayMode& m : s.modes) {
    // A frequency of 0 or 1 asks for the hardware's default.
    bool frequency_ok = wanted->frequency <= 1 || wanted->frequency == m.frequency;
    if (m.width == wanted->width && m.height == wanted->height && m.bits == wanted->bits && frequency_ok) {
      if (!test) s.current = m;
      return DISP_CHANGE_SUCCESSFUL;
    }
  }
  return DISP_CHANGE_BADMODE;
}

const Backend kVirtualBackend = {
    "virtual",   createWindow, destroyWindow, showWindow,  placeWindow, setTitle,  setTopmost,
    setColourKey, raiseWindow, lockSurface,   unlockSurface, desktopMode, currentMode, modeCount,
    mode,        setMode,      nullptr,       nullptr,     nullptr,     nullptr,     nullptr,
    nullptr,     nullptr,     &kRecordingGl};

}  // namespace
}  // namespace zv::win32

namespace zv::vdesk {

using namespace zv::win32;

void enable(int32_t width, int32_t height, int32_t bits) {
  installBackend(nullptr);  // the old desktop's windows go with its backend still in place
  {
    std::lock_guard<std::mutex> hold(userLock());
    VirtualScreen& s = screen();
    s.desktop_mode = s.current = win32::DisplayMode{width, height, bits, 60};
    s.modes = {s.desktop_mode};
    s.refuse_windows = s.refuse_modes = false;
    resetRecordingGlLocked();
  }
  clearGlRequests();
  installBackend(&kVirtualBackend);
}

void disable() { installBackend(nullptr); }

void setDisplayModes(const std::vector<DisplayMode>& modes) {
  std::lock_guard<std::mutex> hold(userLock());
  auto& list = screen().modes;
  list.clear();
  for (const DisplayMode& m : modes) list.push_back(win32::DisplayMode{m.width, m.height, m.bits, m.frequency});
}

DisplayMode currentDisplayMode() {
  std::lock_guard<std::mutex> hold(userLock());
  const win32::DisplayMode& m = screen().current;
  return DisplayMode{m.width, m.height, m.bits, m.frequency};
}

void refuseWindowCreation(bool refuse) {
  std::lock_guard<std::mutex> hold(userLock());
  screen().refuse_windows = refuse;
}

void refuseDisplayChange(bool refuse) {
  std::lock_guard<std::mutex> hold(userLock());
  screen().refuse_modes = refuse;
}

void hideExport(const char* module, const char* name, bool hidden) { setExportHidden(module, name, hidden); }

void changeDisplayModeFromOutside(const DisplayMode& mode) {
  std::lock_guard<std::mutex> hold(userLock());
  screen().current = win32::DisplayMode{mode.width, mode.height, mode.bits, mode.frequency};
  displayModeChangedLocked();
}

std::vector<DisplayModeRequest> displayModeRequests() {
  std::vector<DisplayModeRequest> list;
  for (const auto& r : win32::displayModeRequests())
    list.push_back(DisplayModeRequest{r.width, r.height, r.bits, r.frequency, r.flags});
  return list;
}

void clearDisplayModeRequests() { win32::clearDisplayModeRequests(); }

void loseSurfaces() {
  std::lock_guard<std::mutex> hold(userLock());
  loseSurfacesLocked();
}

void takeKeyboardAcquisition() { win32::takeKeyboardAcquisition(); }
bool keyboardAcquired() { return win32::keyboardAcquired(); }
int32_t directXObjects() { return liveComObjects().load(); }

static WindowInfo describe(Window* w) {
  WindowInfo info;
  info.window = w->handle();
  info.title = w->title;
  info.class_name = w->window_class ? w->window_class->name : "";
  info.window_rect = w->window_rect;
  info.client_rect = clientRectOnScreen(w);
  info.style = w->style;
  info.ex_style = w->ex_style;
  info.visible = w->visible;
  info.topmost = w->topmost;
  info.layered = (w->ex_style & WS_EX_LAYERED) != 0;
  info.colour_key = w->colour_key;
  info.has_colour_key = w->has_colour_key;
  info.owner_thread = w->owner;
  return info;
}

std::vector<WindowInfo> windows() {
  std::lock_guard<std::mutex> hold(userLock());
  std::vector<WindowInfo> list;
  for (Window* w : desktop().windows) list.push_back(describe(w));
  return list;
}

bool windowInfo(HWND window, WindowInfo* out) {
  std::lock_guard<std::mutex> hold(userLock());
  Window* w = windowLocked(window);
  if (!w || !out) return false;
  *out = describe(w);
  return true;
}

std::vector<uint32_t> clientPixels(HWND window, int32_t* width, int32_t* height) {
  std::lock_guard<std::mutex> hold(userLock());
  Window* w = windowLocked(window);
  VirtualWindow* native = w && desktop().backend == &kVirtualBackend ? self(w->native) : nullptr;
  if (width) *width = native ? native->width : 0;
  if (height) *height = native ? native->height : 0;
  return native ? native->pixels : std::vector<uint32_t>{};
}

uint64_t presentedLines(HWND window) {
  std::lock_guard<std::mutex> hold(userLock());
  Window* w = windowLocked(window);
  return w ? w->presented_lines : 0;
}

HWND foregroundWindow() {
  std::lock_guard<std::mutex> hold(userLock());
  Window* w = desktop().foreground;
  return w ? w->handle() : nullptr;
}

void key(uint16_t virtual_key, uint8_t scan, bool extended, bool down, int character) {
  backendKey(virtual_key, scan, extended, down, character);
}

void mouseMove(int32_t screen_x, int32_t screen_y) { backendMouseMove(screen_x, screen_y); }
void mouseButton(int32_t button, bool down) { backendMouseButton(button, down); }
void mouseWheel(int32_t delta, bool horizontal) { backendMouseWheel(delta, horizontal); }
void requestClose(HWND window) { backendCloseRequest(window); }
void activate(HWND window) { backendActivate(window); }
void deactivateAll() { backendActivate(nullptr); }

POINT cursor() {
  std::lock_guard<std::mutex> hold(userLock());
  return desktop().cursor;
}

bool cursorClip(RECT* clip) {
  std::lock_guard<std::mutex> hold(userLock());
  Desktop& d = desktop();
  if (d.clipped && clip) *clip = d.clip;
  return d.clipped;
}

bool screenSaverActive() {
  std::lock_guard<std::mutex> hold(userLock());
  return desktop().screen_saver;
}

HCURSOR cursorShape() {
  std::lock_guard<std::mutex> hold(userLock());
  return desktop().cursor_shape;
}

}  // namespace zv::vdesk
