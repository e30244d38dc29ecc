// USER32 screen services of the Win32 layer: the backend switch, display modes
// (ChangeDisplaySettings*A, EnumDisplaySettingsA), system metrics, the one monitor,
// the screen-saver setting, and the window events a backend reports (activation,
// the frame's close button, exposure).
#include "platform/win32/layer.h"

#include <windows.h>

#include <strings.h>

#include <cstring>

namespace zv::win32 {
namespace {

struct MonitorRecord {
  int unused;
};
MonitorRecord g_monitor;

HMONITOR monitorHandle() { return reinterpret_cast<HMONITOR>(&g_monitor); }

bool isOurDevice(LPCSTR name) { return !name || !*name || strcasecmp(name, "\\\\.\\DISPLAY1") == 0; }

DisplayMode currentModeLocked() {
  const Backend* backend = desktop().backend;
  return backend ? backend->currentMode() : DisplayMode{0, 0, 0, 0};
}

RECT workAreaLocked() {
  const Backend* backend = desktop().backend;
  RECT area{};
  if (backend && backend->workArea && backend->workArea(&area)) return area;
  DisplayMode m = currentModeLocked();
  return RECT{0, 0, m.width, m.height};
}

void fillDevMode(DEVMODEA* mode, const DisplayMode& m) {
  WORD size = mode->dmSize;
  WORD extra = mode->dmDriverExtra;
  std::memset(mode, 0, sizeof *mode);
  mode->dmSize = size ? size : sizeof(DEVMODEA);
  mode->dmDriverExtra = extra;
  mode->dmSpecVersion = DM_SPECVERSION;
  std::memcpy(mode->dmDeviceName, "\\\\.\\DISPLAY1", 13);
  mode->dmFields = DM_POSITION | DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFLAGS | DM_DISPLAYFREQUENCY;
  mode->dmBitsPerPel = static_cast<DWORD>(m.bits);
  mode->dmPelsWidth = static_cast<DWORD>(m.width);
  mode->dmPelsHeight = static_cast<DWORD>(m.height);
  mode->dmDisplayFrequency = static_cast<DWORD>(m.frequency);
}

}  // namespace

void displayModeChangedLocked() {
  Desktop& d = desktop();
  DisplayMode m = currentModeLocked();
  for (Window* window : d.windows) {
    postLocked(window, WM_DISPLAYCHANGE, static_cast<WPARAM>(m.bits), MAKELPARAM(m.width, m.height));
  }
  setCursorPosLocked(d.cursor.x, d.cursor.y, true);  // inside the new screen
  loseSurfacesLocked();
}

void installBackend(const Backend* backend) {
  std::lock_guard<std::mutex> hold(userLock());
  Desktop& d = desktop();
  while (!d.windows.empty()) destroyWindowRecordLocked(d.windows.back());
  d.backend = backend;
  d.poll_events.store(backend ? backend->pollEvents : nullptr, std::memory_order_release);
  d.foreground = d.capture = d.tracking = nullptr;
  d.cursor = POINT{0, 0};
  d.clipped = false;
  d.cursor_shape = nullptr;
  d.cursor_count = 0;
  d.screen_saver = true;
  d.alt_alone = false;
  std::memset(d.async_keys, 0, sizeof d.async_keys);
  std::memset(d.keyboard_device, 0, sizeof d.keyboard_device);
  for (auto& [id, queue] : d.queues) {
    std::memset(queue->key_state, 0, sizeof queue->key_state);
    queue->dead_accent = 0;
    queue->invalid_windows = 0;
  }
}

const Backend* installedBackend() {
  std::lock_guard<std::mutex> hold(userLock());
  return desktop().backend;
}

void backendCloseRequest(HWND handle) {
  std::lock_guard<std::mutex> hold(userLock());
  if (Window* window = windowLocked(handle)) postLocked(window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void backendActivate(HWND handle) {
  std::lock_guard<std::mutex> hold(userLock());
  Window* window = windowLocked(handle);
  if (handle && !window) return;
  activateLocked(window);
}

void backendExpose(HWND handle, const RECT* client_rect) {
  std::lock_guard<std::mutex> hold(userLock());
  if (Window* window = windowLocked(handle)) invalidateLocked(window, client_rect);
}

void backendMaximize(HWND handle) {
  std::lock_guard<std::mutex> hold(userLock());
  Window* window = windowLocked(handle);
  if (!window) return;
  RECT client = clientRectOnScreen(window);
  postLocked(window, WM_SIZE, SIZE_MAXIMIZED, MAKELPARAM(client.right - client.left, client.bottom - client.top));
}

void backendWindowMoved(HWND handle, int32_t client_x, int32_t client_y) {
  std::lock_guard<std::mutex> hold(userLock());
  Window* window = windowLocked(handle);
  if (!window) return;
  RECT client = clientRectOnScreen(window);
  LONG dx = client_x - client.left, dy = client_y - client.top;
  if (dx == 0 && dy == 0) return;
  RECT& r = window->window_rect;
  r = RECT{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
  postLocked(window, WM_MOVE, 0, MAKELPARAM(client_x, client_y));
}

}  // namespace zv::win32

using namespace zv::win32;

extern "C" {

LONG ChangeDisplaySettingsExA(LPCSTR device_name, DEVMODEA* mode, HWND, DWORD flags, LPVOID) {
  if (!isOurDevice(device_name)) return DISP_CHANGE_BADPARAM;
  std::lock_guard<std::mutex> hold(userLock());
  Desktop& d = desktop();
  if (!d.backend) return DISP_CHANGE_FAILED;
  DisplayMode before = d.backend->currentMode();
  LONG result;
  if (!mode) {
    result = d.backend->setMode(nullptr, false);
  } else {
    // Fields the record leaves out keep their present values.
    DisplayMode wanted = before;
    if (mode->dmFields & DM_PELSWIDTH) wanted.width = static_cast<int32_t>(mode->dmPelsWidth);
    if (mode->dmFields & DM_PELSHEIGHT) wanted.height = static_cast<int32_t>(mode->dmPelsHeight);
    if (mode->dmFields & DM_BITSPERPEL) wanted.bits = static_cast<int32_t>(mode->dmBitsPerPel);
    wanted.frequency = (mode->dmFields & DM_DISPLAYFREQUENCY) ? static_cast<int32_t>(mode->dmDisplayFrequency) : 0;
    result = d.backend->setMode(&wanted, (flags & CDS_TEST) != 0);
  }
  DisplayMode after = d.backend->currentMode();
  if (result == DISP_CHANGE_SUCCESSFUL &&
      (after.width != before.width || after.height != before.height || after.bits != before.bits)) {
    displayModeChangedLocked();
  }
  return result;
}

LONG ChangeDisplaySettingsA(DEVMODEA* mode, DWORD flags) {
  return ChangeDisplaySettingsExA(nullptr, mode, nullptr, flags, nullptr);
}

BOOL EnumDisplaySettingsA(LPCSTR device_name, DWORD mode_number, DEVMODEA* mode) {
  if (!mode || !isOurDevice(device_name)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> hold(userLock());
  const Backend* backend = desktop().backend;
  if (!backend) return FALSE;
  DisplayMode m;
  if (mode_number == ENUM_CURRENT_SETTINGS) {
    m = backend->currentMode();
  } else if (mode_number == ENUM_REGISTRY_SETTINGS) {
    m = backend->desktopMode();
  } else if (!backend->mode(static_cast<int32_t>(mode_number), &m)) {
    return FALSE;
  }
  fillDevMode(mode, m);
  return TRUE;
}

int GetSystemMetrics(int index) {
  std::lock_guard<std::mutex> hold(userLock());
  DisplayMode m = currentModeLocked();
  switch (index) {
    case SM_CXSCREEN:
    case SM_CXVIRTUALSCREEN:
    case SM_CXFULLSCREEN: return m.width;
    case SM_CYSCREEN:
    case SM_CYVIRTUALSCREEN: return m.height;
    case SM_CYFULLSCREEN: return m.height > 19 ? m.height - 19 : 0;
    case SM_CMONITORS: return desktop().backend ? 1 : 0;
    case SM_CYCAPTION: return 19;
    case SM_CXMINTRACK: return kMinTrackWidth;
    case SM_CYMINTRACK: return kMinTrackHeight;
    case SM_CXBORDER:
    case SM_CYBORDER: return 1;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME: return 3;
    case SM_CXFRAME:
    case SM_CYFRAME: return 4;
    case SM_MOUSEPRESENT: return desktop().backend ? 1 : 0;
    case SM_CXDOUBLECLK:
    case SM_CYDOUBLECLK: return 4;
    default: return 0;
  }
}

BOOL SystemParametersInfoA(UINT action, UINT uparam, PVOID pvparam, UINT) {
  std::lock_guard<std::mutex> hold(userLock());
  Desktop& d = desktop();
  switch (action) {
    case SPI_GETSCREENSAVEACTIVE:
      if (!pvparam) break;
      *static_cast<BOOL*>(pvparam) = d.screen_saver ? TRUE : FALSE;
      return TRUE;
    case SPI_SETSCREENSAVEACTIVE:
      d.screen_saver = uparam != 0;
      if (d.backend && d.backend->setScreenSaver) d.backend->setScreenSaver(d.screen_saver);
      return TRUE;
    case SPI_GETWORKAREA:
      if (!pvparam) break;
      *static_cast<RECT*>(pvparam) = workAreaLocked();
      return TRUE;
    default:
      break;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

HMONITOR MonitorFromPoint(POINT point, DWORD flags) {
  std::lock_guard<std::mutex> hold(userLock());
  if (!desktop().backend) return nullptr;
  DisplayMode m = currentModeLocked();
  RECT screen{0, 0, m.width, m.height};
  if (!PtInRect(&screen, point) && flags == MONITOR_DEFAULTTONULL) return nullptr;
  return monitorHandle();
}

HMONITOR MonitorFromWindow(HWND handle, DWORD flags) {
  std::lock_guard<std::mutex> hold(userLock());
  if (!desktop().backend) return nullptr;
  Window* window = windowLocked(handle);
  if (flags == MONITOR_DEFAULTTONULL) {
    DisplayMode m = currentModeLocked();
    if (!window) return nullptr;
    const RECT& r = window->window_rect;
    if (r.right <= 0 || r.bottom <= 0 || r.left >= m.width || r.top >= m.height) return nullptr;
  }
  return monitorHandle();
}

BOOL GetMonitorInfoA(HMONITOR monitor, LPMONITORINFO info) {
  if (monitor != monitorHandle()) {
    SetLastError(ERROR_INVALID_MONITOR_HANDLE);
    return FALSE;
  }
  if (!info || (info->cbSize != sizeof(MONITORINFO) && info->cbSize != sizeof(MONITORINFOEXA))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> hold(userLock());
  DisplayMode m = currentModeLocked();
  info->rcMonitor = RECT{0, 0, m.width, m.height};
  info->rcWork = workAreaLocked();
  info->dwFlags = MONITORINFOF_PRIMARY;
  if (info->cbSize == sizeof(MONITORINFOEXA)) {
    std::memcpy(static_cast<MONITORINFOEXA*>(info)->szDevice, "\\\\.\\DISPLAY1", 13);
  }
  return TRUE;
}

BOOL MessageBeep(UINT) { return TRUE; }

}  // extern "C"
