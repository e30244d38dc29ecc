// USER32 windows and messages of the Win32 layer: window classes, top-level windows
// owned by the thread that created them, one message queue per thread (posted and
// input messages in order, then WM_QUIT, WM_PAINT and WM_TIMER when nothing else
// waits), PeekMessageA/GetMessageA/TranslateMessage/DispatchMessageA, SendMessageA,
// DefWindowProcA, timers, paint regions, activation and window placement.
#include "platform/win32/layer.h"

#include <windows.h>

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace zv::win32 {

std::mutex& userLock() {
  static std::mutex* lock = new std::mutex;  // never destroyed: threads may outlive main
  return *lock;
}

// The first use of the layer picks the real display's backend when there is one;
// tests install theirs (or none) afterwards.
Desktop& desktop() {
  static Desktop* d = [] {
    auto* created = new Desktop;
    created->backend = openDisplayBackend();
    if (created->backend) created->poll_events.store(created->backend->pollEvents, std::memory_order_release);
    return created;
  }();
  return *d;
}

namespace {

// The calling thread's queue; it goes when the thread ends. The pointer is a plain
// thread-local, so that calls made while the thread's storage is being torn down
// (exit handlers on the program's thread) still find a valid, empty state.
thread_local ThreadQueue* t_queue = nullptr;

struct QueueGuard {
  ~QueueGuard() { releaseThreadQueue(); }
};
thread_local QueueGuard t_queue_guard;

bool inRange(UINT message, UINT low, UINT high) {
  if (low == 0 && high == 0) return true;
  return message >= low && message <= high;
}

bool matches(const MSG& msg, HWND filter, UINT low, UINT high) {
  if (filter == reinterpret_cast<HWND>(-1)) {
    if (msg.hwnd) return false;
  } else if (filter && msg.hwnd != filter) {
    return false;
  }
  return inRange(msg.message, low, high);
}

// Runs the messages other threads sent to this one; the lock is left meanwhile.
void runSentLocked(std::unique_lock<std::mutex>& hold, ThreadQueue* queue) {
  Desktop& d = desktop();
  while (!queue->sent.empty()) {
    SentMessage* sent = queue->sent.front();
    queue->sent.pop_front();
    Window* window = windowLocked(sent->msg.hwnd);
    WNDPROC proc = window ? window->proc : nullptr;
    hold.unlock();
    LRESULT result = proc ? proc(sent->msg.hwnd, sent->msg.message, sent->msg.wParam, sent->msg.lParam) : 0;
    hold.lock();
    sent->result = result;
    sent->done = true;
    d.sent_done.notify_all();
  }
}

// Where hardware input goes now: a key to the thread's focus window (which stays the
// thread's while another program has the focus, as on Windows), a mouse message
// to the window it was aimed at while that still exists; null when the thread has no
// such window.
Window* inputTargetLocked(const ThreadQueue* queue, const MSG& msg) {
  Window* window = msg.hwnd ? windowLocked(msg.hwnd) : queue->focus;
  return window && window->owner == queue->id ? window : nullptr;
}

// Keys pressed or released while none of the thread's windows had the focus never
// reached its queue: once it has the focus and has taken all its input, its keyboard
// state is the keyboard's as it is now.
void syncKeyStateLocked(ThreadQueue* queue) {
  const Desktop& d = desktop();
  if (!d.foreground || d.foreground->owner != queue->id) return;
  for (const QueuedMessage& m : queue->messages)
    if (m.input) return;
  for (size_t vk = 0; vk < 256; ++vk)
    queue->key_state[vk] = static_cast<BYTE>((queue->key_state[vk] & 0x01) | (d.async_keys[vk] & 0x80));
}

// Finds the next message for the filter; with remove it is taken out of the queue
// (and a key message applied to the thread's keyboard state).
bool fetchLocked(std::unique_lock<std::mutex>& hold, ThreadQueue* queue, MSG* out, HWND filter, UINT low,
                 UINT high, bool remove) {
  // Whatever waits in the queue now has been looked at: MsgWaitForMultipleObjects
  // returns for what arrives after this.
  if (queue->input_event) ResetEvent(queue->input_event);
  if (!queue->sent.empty()) runSentLocked(hold, queue);
  syncKeyStateLocked(queue);
  for (auto it = queue->messages.begin(), next = it; it != queue->messages.end(); it = next) {
    ++next;
    MSG msg = it->msg;
    if (it->input) {
      Window* target = inputTargetLocked(queue, msg);
      if (!target) {
        // No window of this thread takes it: gone, but the key state follows it, so
        // that no key stays down when its window was replaced meanwhile.
        applyKeyStateLocked(queue, msg);
        next = queue->messages.erase(it);
        continue;
      }
      msg.hwnd = target->handle();
    }
    if (!matches(msg, filter, low, high)) continue;
    *out = msg;
    if (remove) {
      if (out->message == WM_KEYDOWN || out->message == WM_SYSKEYDOWN) {
        queue->last_key = *out;
        queue->last_key_character = it->character;
      }
      queue->messages.erase(it);
      applyKeyStateLocked(queue, *out);
    }
    return true;
  }
  Desktop& d = desktop();
  if (queue->quit) {
    *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(queue->quit_code), 0, static_cast<DWORD>(nowMs()), d.cursor};
    if (remove) queue->quit = false;
    return true;
  }
  if (queue->invalid_windows > 0 && inRange(WM_PAINT, low, high)) {
    for (Window* window : d.windows) {
      if (window->owner != queue->id || !window->invalid || !window->visible) continue;
      if (filter && filter != window->handle()) continue;
      *out = MSG{window->handle(), WM_PAINT, 0, 0, static_cast<DWORD>(nowMs()), d.cursor};
      return true;  // stays until the update region is validated
    }
  }
  if (!queue->timers.empty() && inRange(WM_TIMER, low, high)) {
    int64_t now = nowMs();
    for (Timer& timer : queue->timers) {
      if (timer.due_ms > now) continue;
      if (filter == reinterpret_cast<HWND>(-1) ? timer.window != nullptr : filter && filter != timer.window) continue;
      *out = MSG{timer.window, WM_TIMER, timer.id, reinterpret_cast<LPARAM>(timer.proc), static_cast<DWORD>(now),
                 d.cursor};
      if (remove) timer.due_ms = now + timer.elapse;
      return true;
    }
  }
  return false;
}

int64_t nextTimerLocked(const ThreadQueue* queue) {
  int64_t next = INT64_MAX;
  for (const Timer& timer : queue->timers) next = std::min(next, timer.due_ms);
  return next;
}

void pollBackend() {
  if (void (*poll)() = desktop().poll_events.load(std::memory_order_acquire)) poll();
}

WindowClass* findClassLocked(LPCSTR name) {
  Desktop& d = desktop();
  for (auto& c : d.classes) {
    if (IS_INTRESOURCE(name) ? c->atom == static_cast<ATOM>(reinterpret_cast<uintptr_t>(name))
                             : strcasecmp(c->name.c_str(), name) == 0) {
      return c.get();
    }
  }
  return nullptr;
}

// Z-order: topmost windows first, the newest raised on top of its band.
void placeInZOrderLocked(Window* window, bool to_front) {
  auto& z = desktop().z_order;
  z.erase(std::remove(z.begin(), z.end(), window), z.end());
  auto first_plain = std::find_if(z.begin(), z.end(), [](Window* w) { return !w->topmost; });
  if (window->topmost) {
    z.insert(to_front ? z.begin() : first_plain, window);
  } else {
    z.insert(to_front ? first_plain : z.end(), window);
  }
}

BOOL showLocked(Window* window, int command) {
  Desktop& d = desktop();
  BOOL was_visible = window->visible ? TRUE : FALSE;
  if (command == SW_HIDE) {
    if (window->visible) {
      window->visible = false;
      if (d.backend && window->native) d.backend->showWindow(window->native, false);
      if (d.foreground == window) activateLocked(nullptr);
    }
    return was_visible;
  }
  if (!window->visible) {
    window->visible = true;
    window->style |= WS_VISIBLE;
    if (d.backend && window->native) d.backend->showWindow(window->native, true);
    invalidateLocked(window, nullptr);
  }
  bool activate = command != SW_SHOWNOACTIVATE && command != SW_SHOWNA && command != SW_SHOWMINNOACTIVE;
  if (activate) activateLocked(window);
  if (command == SW_MAXIMIZE) {
    RECT client = clientRectOnScreen(window);
    postLocked(window, WM_SIZE, SIZE_MAXIMIZED,
               MAKELPARAM(client.right - client.left, client.bottom - client.top));
  }
  return was_visible;
}

ThreadQueue* ownerQueueLocked(Window* window) { return queueLocked(window->owner); }

}  // namespace

// Senders waiting for the thread's answer are released with 0.
void releaseThreadQueue() {
  if (!t_queue) return;
  std::lock_guard<std::mutex> hold(userLock());
  Desktop& d = desktop();
  d.queues.erase(t_queue->id);
  for (SentMessage* sent : t_queue->sent) sent->done = true;
  d.sent_done.notify_all();
  if (t_queue->input_event) CloseHandle(t_queue->input_event);
  delete t_queue;
  t_queue = nullptr;
}

ThreadQueue* currentQueueLocked() {
  if (!t_queue) {
    static_cast<void>(&t_queue_guard);  // registers the thread's clean-up
    t_queue = new ThreadQueue;
    t_queue->id = GetCurrentThreadId();
    desktop().queues[t_queue->id] = t_queue;
  }
  return t_queue;
}

ThreadQueue* queueLocked(DWORD thread_id) {
  auto& queues = desktop().queues;
  auto it = queues.find(thread_id);
  return it == queues.end() ? nullptr : it->second;
}

void wakeQueueLocked(ThreadQueue* queue) {
  queue->wake.notify_all();
  if (queue->input_event) SetEvent(queue->input_event);
}

Window* windowLocked(HWND handle) {
  if (!handle) return nullptr;
  for (Window* window : desktop().windows) {
    if (window->handle() == handle) return window;
  }
  return nullptr;
}

NativeWindowDesc describeLocked(Window* window) {
  return NativeWindowDesc{window->handle(),
                          window->title.c_str(),
                          window->window_rect,
                          clientRectOnScreen(window),
                          window->style,
                          window->ex_style,
                          window->window_class ? iconPixels(window->window_class->wc.hIcon) : nullptr};
}

Window* validWindowLocked(HWND handle) {
  Window* window = windowLocked(handle);
  if (!window) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return window;
}

Window* windowAtLocked(POINT point) {
  for (Window* window : desktop().z_order) {
    const RECT& r = window->window_rect;
    if (window->visible && point.x >= r.left && point.x < r.right && point.y >= r.top && point.y < r.bottom) {
      return window;
    }
  }
  return nullptr;
}

RECT clientRectOnScreen(const Window* window) {
  const RECT& r = window->window_rect;
  const RECT& f = window->frame;
  RECT client{r.left + f.left, r.top + f.top, r.right - f.right, r.bottom - f.bottom};
  if (client.right < client.left) client.right = client.left;
  if (client.bottom < client.top) client.bottom = client.top;
  return client;
}

void applyMinimumSize(DWORD style, RECT* r) {
  // Popup windows without a sizing frame are left as asked.
  if ((style & WS_POPUP) && !(style & WS_THICKFRAME)) return;
  r->right = std::max(r->right, r->left + kMinTrackWidth);
  r->bottom = std::max(r->bottom, r->top + kMinTrackHeight);
}

RECT frameInsets(DWORD style, DWORD ex_style, bool menu) {
  LONG border = 0;
  if (style & WS_THICKFRAME) {
    border = 4;
  } else if ((style & WS_DLGFRAME) || (ex_style & WS_EX_DLGMODALFRAME)) {
    border = 3;
  } else if (style & WS_BORDER) {
    border = 1;
  }
  RECT f{border, border, border, border};
  if ((style & WS_CAPTION) == WS_CAPTION) f.top += 19;
  if (menu) f.top += 19;
  if (ex_style & WS_EX_CLIENTEDGE) {
    f.left += 2;
    f.top += 2;
    f.right += 2;
    f.bottom += 2;
  }
  return f;
}

bool postToThreadLocked(DWORD thread_id, HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                        int character) {
  ThreadQueue* queue = queueLocked(thread_id);
  if (!queue) return false;
  queue->messages.push_back(
      QueuedMessage{MSG{window, message, wparam, lparam, static_cast<DWORD>(nowMs()), desktop().cursor}, character});
  wakeQueueLocked(queue);
  return true;
}

bool postInputLocked(DWORD thread_id, HWND window, UINT message, WPARAM wparam, LPARAM lparam, int character) {
  if (!postToThreadLocked(thread_id, window, message, wparam, lparam, character)) return false;
  queueLocked(thread_id)->messages.back().input = true;
  return true;
}

bool postLocked(Window* window, UINT message, WPARAM wparam, LPARAM lparam) {
  return postToThreadLocked(window->owner, window->handle(), message, wparam, lparam);
}

void invalidateLocked(Window* window, const RECT* rect) {
  RECT client = clientRectOnScreen(window);
  RECT full{0, 0, client.right - client.left, client.bottom - client.top};
  RECT r = full;
  if (rect) {
    r.left = std::max(rect->left, full.left);
    r.top = std::max(rect->top, full.top);
    r.right = std::min(rect->right, full.right);
    r.bottom = std::min(rect->bottom, full.bottom);
    if (r.left >= r.right || r.top >= r.bottom) return;
  }
  if (window->invalid) {
    window->update.left = std::min(window->update.left, r.left);
    window->update.top = std::min(window->update.top, r.top);
    window->update.right = std::max(window->update.right, r.right);
    window->update.bottom = std::max(window->update.bottom, r.bottom);
    return;
  }
  window->invalid = true;
  window->update = r;
  if (ThreadQueue* queue = ownerQueueLocked(window)) {
    ++queue->invalid_windows;
    wakeQueueLocked(queue);
  }
}

void validateLocked(Window* window) {
  if (!window->invalid) return;
  window->invalid = false;
  if (ThreadQueue* queue = ownerQueueLocked(window)) --queue->invalid_windows;
}

void activateLocked(Window* window) {
  Desktop& d = desktop();
  if (d.foreground == window) return;
  Window* previous = d.foreground;
  d.foreground = window;
  d.alt_alone = false;
  if (previous) postLocked(previous, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(window ? window->handle() : nullptr));
  if (window) {
    if (ThreadQueue* queue = ownerQueueLocked(window)) queue->focus = window;
    postLocked(window, WM_ACTIVATE, WA_ACTIVE, reinterpret_cast<LPARAM>(previous ? previous->handle() : nullptr));
    placeInZOrderLocked(window, true);
    if (d.backend && window->native && d.backend->raiseWindow) d.backend->raiseWindow(window->native);
  }
}

void destroyWindowRecordLocked(Window* window) {
  Desktop& d = desktop();
  HWND handle = window->handle();
  validateLocked(window);
  d.windows.erase(std::remove(d.windows.begin(), d.windows.end(), window), d.windows.end());
  d.z_order.erase(std::remove(d.z_order.begin(), d.z_order.end(), window), d.z_order.end());
  if (d.foreground == window) d.foreground = nullptr;
  if (d.capture == window) d.capture = nullptr;
  if (d.tracking == window) d.tracking = nullptr;
  if (d.last_click.window == window) d.last_click = {};
  if (window->window_class) --window->window_class->windows;
  if (ThreadQueue* queue = ownerQueueLocked(window)) {
    if (queue->focus == window) queue->focus = nullptr;
    auto& timers = queue->timers;
    timers.erase(std::remove_if(timers.begin(), timers.end(), [&](const Timer& t) { return t.window == handle; }),
                 timers.end());
    auto& messages = queue->messages;
    // Hardware input stays: it is addressed, or dropped with its key state applied,
    // when it is taken out.
    messages.erase(std::remove_if(messages.begin(), messages.end(),
                                  [&](const QueuedMessage& m) { return !m.input && m.msg.hwnd == handle; }),
                   messages.end());
  }
  if (d.backend && window->native && window->pixel_format && d.backend->opengl)
    d.backend->opengl->releaseWindow(window->native);
  if (d.backend && window->native) d.backend->destroyWindow(window->native);
  window->native = nullptr;
  // The record is freed only after many more windows have gone, so that a stale
  // handle does not soon name a new window that happens to get the same address.
  d.retired.emplace_back(window);
  if (d.retired.size() > 256) d.retired.pop_front();
}

}  // namespace zv::win32

using namespace zv::win32;

extern "C" {

ATOM RegisterClassA(const WNDCLASSA* window_class) {
  if (!window_class || !window_class->lpszClassName || !window_class->lpfnWndProc ||
      IS_INTRESOURCE(window_class->lpszClassName)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::lock_guard<std::mutex> hold(userLock());
  Desktop& d = desktop();
  if (findClassLocked(window_class->lpszClassName)) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  auto record = std::make_unique<WindowClass>();
  record->name = window_class->lpszClassName;
  record->wc = *window_class;
  record->wc.lpszClassName = nullptr;
  record->wc.lpszMenuName = nullptr;
  record->atom = d.next_atom++;
  ATOM atom = record->atom;
  d.classes.push_back(std::move(record));
  return atom;
}

BOOL UnregisterClassA(LPCSTR class_name, HINSTANCE) {
  if (!class_name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> hold(userLock());
  Desktop& d = desktop();
  WindowClass* record = findClassLocked(class_name);
  if (!record) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  if (record->windows > 0) {
    SetLastError(ERROR_CLASS_HAS_WINDOWS);
    return FALSE;
  }
  d.classes.erase(std::remove_if(d.classes.begin(), d.classes.end(), [&](auto& c) { return c.get() == record; }),
                  d.classes.end());
  return TRUE;
}

HWND CreateWindowExA(DWORD ex_style, LPCSTR class_name, LPCSTR window_name, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID parameter) {
  std::unique_lock<std::mutex> hold(userLock());
  Desktop& d = desktop();
  WindowClass* window_class = class_name ? findClassLocked(class_name) : nullptr;
  if (!window_class) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return nullptr;
  }
  if (style & WS_CHILD) {  // the drivers make top-level windows only
    SetLastError(ERROR_INVALID_WINDOW_STYLE);
    return nullptr;
  }
  if (!d.backend) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  if (!(style & WS_POPUP)) style |= WS_CAPTION | WS_CLIPSIBLINGS;  // an overlapped window has a caption
  DisplayMode screen = d.backend->currentMode();
  if (x == CW_USEDEFAULT) x = y = 0;
  if (width == CW_USEDEFAULT) {
    width = screen.width * 3 / 4;
    height = screen.height * 3 / 4;
  }
  auto* window = new Window;
  window->window_class = window_class;
  window->proc = window_class->wc.lpfnWndProc;
  window->title = window_name ? window_name : "";
  window->style = style & ~static_cast<DWORD>(WS_VISIBLE);
  window->ex_style = ex_style;
  window->window_rect = RECT{x, y, x + std::max(width, 0), y + std::max(height, 0)};
  applyMinimumSize(style, &window->window_rect);
  window->frame = frameInsets(style, ex_style, menu != nullptr);
  window->owner = GetCurrentThreadId();
  window->instance = instance;
  window->topmost = (ex_style & WS_EX_TOPMOST) != 0;
  window->dc.window = window;
  currentQueueLocked();
  window->native = d.backend->createWindow(describeLocked(window));
  if (!window->native) {
    delete window;
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  d.windows.push_back(window);
  placeInZOrderLocked(window, true);
  ++window_class->windows;
  HWND handle = window->handle();
  WNDPROC proc = window->proc;
  hold.unlock();

  CREATESTRUCTA create{parameter, instance, menu, parent, height, width, y, x, static_cast<LONG>(style),
                       window_name, class_name, ex_style};
  if (proc(handle, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create)) == 0) {
    hold.lock();
    if (Window* w = windowLocked(handle)) destroyWindowRecordLocked(w);
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if (proc(handle, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
    DestroyWindow(handle);
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  hold.lock();
  window = windowLocked(handle);
  if (!window) return nullptr;  // destroyed while being created
  if (style & WS_VISIBLE) showLocked(window, SW_SHOW);
  return handle;
}

BOOL DestroyWindow(HWND handle) {
  std::unique_lock<std::mutex> hold(userLock());
  Window* window = validWindowLocked(handle);
  if (!window) return FALSE;
  // Only the owner destroys its window, unless the owner has ended (a program
  // cleaning up after its window thread).
  if (window->owner != GetCurrentThreadId() && queueLocked(window->owner)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (window->destroying) return TRUE;
  window->destroying = true;
  if (window->visible) showLocked(window, SW_HIDE);
  WNDPROC proc = window->proc;
  hold.unlock();
  proc(handle, WM_DESTROY, 0, 0);
  proc(handle, WM_NCDESTROY, 0, 0);
  hold.lock();
  if ((window = windowLocked(handle))) destroyWindowRecordLocked(window);
  return TRUE;
}

BOOL IsWindow(HWND handle) {
  std::lock_guard<std::mutex> hold(userLock());
  return windowLocked(handle) ? TRUE : FALSE;
}

// The callback runs without the lock, over the windows there were when the
// enumeration began (those destroyed meanwhile are left out).
BOOL EnumWindows(WNDENUMPROC callback, LPARAM lparam) {
  if (!callback) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<HWND> handles;
  {
    std::lock_guard<std::mutex> hold(userLock());
    for (Window* window : desktop().z_order) handles.push_back(window->handle());
  }
  for (HWND handle : handles) {
    if (IsWindow(handle) && !callback(handle, lparam)) break;
  }
  return TRUE;
}

DWORD GetWindowThreadProcessId(HWND handle, LPDWORD process_id) {
  std::lock_guard<std::mutex> hold(userLock());
  Window* window = validWindowLocked(handle);
  if (!window) return 0;
  if (process_id) *process_id = GetCurrentProcessId();
  return window->owner;
}

BOOL IsWindowVisible(HWND handle) {
  std::lock_guard<std::mutex> hold(userLock());
  Window* window = windowLocked(handle);
  return window && window->visible ? TRUE : FALSE;
}

BOOL ShowWindow(HWND handle, int command) {
  std::lock_guard<std::mutex> hold(userLock());
  Window* window = validWindowLocked(handle);
  if (!window) return FALSE;
  return showLocked(window, command);
}

BOOL UpdateWindow(HWND handle) {
  std::unique_lock<std::mutex> hold(userLock());
  Window* window = validWindowLocked(handle);
  if (!window) return FALSE;
  bool paint = window->invalid && window->visible && window->owner == GetCurrentThreadId();
  WNDPROC proc = window->proc;
  hold.unlock();
  if (paint) proc(handle, WM_PAINT, 0, 0);
  return TRUE;
}

BOOL PeekMessageA(LPMSG msg, HWND window, UINT filter_min, UINT filter_max, UINT remove) {
  pollBackend();
  std::unique_lock<std::mutex> hold(userLock());
  if (window && window != reinterpret_cast<HWND>(-1) && !windowLocked(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  ThreadQueue* queue = currentQueueLocked();
  return fetchLocked(hold, queue, msg, window, filter_min, filter_max, (remove & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL GetMessageA(LPMSG msg, HWND window, UINT filter_min, UINT filter_max) {
  for (;;) {
    pollBackend();
    std::unique_lock<std::mutex> hold(userLock());
    if (window && window != reinterpret_cast<HWND>(-1) && !windowLocked(window)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return -1;
    }
    ThreadQueue* queue = currentQueueLocked();
    if (fetchLocked(hold, queue, msg, window, filter_min, filter_max, true)) {
      return msg->message == WM_QUIT ? FALSE : TRUE;
    }
    int64_t wake = nextTimerLocked(queue);
    bool polling = desktop().backend && desktop().backend->pollEvents;
    if (polling) wake = std::min(wake, nowMs() + 10);
    if (wake == INT64_MAX) {
      queue->wake.wait(hold);
    } else {
      int64_t wait = std::max<int64_t>(wake - nowMs(), 0);
      queue->wake.wait_for(hold, std::chrono::milliseconds(wait));
    }
  }
}

// The objects, or a message that arrives after the thread last looked at its queue
// (posted, input, sent, a paint request), or a timer of the thread falling due, which
// answers WAIT_OBJECT_0 + count. Every kind of message counts, whatever the mask.
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all, DWORD milliseconds, DWORD) {
  if (count >= MAXIMUM_WAIT_OBJECTS || (count > 0 && !handles) || wait_all) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  HANDLE objects[MAXIMUM_WAIT_OBJECTS];
  std::copy_n(handles, count, objects);
  int64_t timer_due = INT64_MAX;
  {
    std::lock_guard<std::mutex> hold(userLock());
    ThreadQueue* queue = currentQueueLocked();
    if (!queue->input_event) queue->input_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!queue->input_event) return WAIT_FAILED;
    if (!queue->sent.empty()) return WAIT_OBJECT_0 + count;
    objects[count] = queue->input_event;
    timer_due = nextTimerLocked(queue);
    // A backend read on the caller's thread is read again within 10 ms.
    if (desktop().backend && desktop().backend->pollEvents) timer_due = std::min(timer_due, nowMs() + 10);
  }
  DWORD wait = milliseconds;
  bool timer_first = false;
  if (timer_due != INT64_MAX) {
    const int64_t until_timer = std::max<int64_t>(timer_due - nowMs(), 0);
    if (milliseconds == INFINITE || until_timer < static_cast<int64_t>(milliseconds)) {
      wait = static_cast<DWORD>(until_timer);
      timer_first = true;
    }
  }
  const DWORD woken = WaitForMultipleObjects(count + 1, objects, FALSE, wait);
  return woken == WAIT_TIMEOUT && timer_first ? WAIT_OBJECT_0 + count : woken;
}

BOOL TranslateMessage(const MSG* msg) {
  if (!msg) return FALSE;
  UINT m = msg->message;
  if (m != WM_KEYDOWN && m != WM_SYSKEYDOWN) return m == WM_KEYUP || m == WM_SYSKEYUP;
  std::lock_guard<std::mutex> hold(userLock());
  ThreadQueue* queue = currentQueueLocked();
  // The character the backend's layout gave with this very key, else the US layout's.
  const MSG& last = queue->last_key;
  bool from_backend = queue->last_key_character != kLayoutCharacter && last.hwnd == msg->hwnd &&
                      last.message == m && last.wParam == msg->wParam && last.lParam == msg->lParam &&
                      last.time == msg->time;
  int character = -1;
  if (from_backend) {
    character = queue->last_key_character == kNoCharacter ? -1 : queue->last_key_character;
  } else {
    WORD produced = 0;
    UINT scan = static_cast<UINT>(msg->lParam >> 16) & 0xFFFF;
    if (usToAscii(static_cast<UINT>(msg->wParam), scan, queue->key_state, &produced) == 1) character = produced & 0xFF;
  }
  if (character < 0) return TRUE;
  // A dead key gives WM_DEADCHAR and waits for the next character, which it changes.
  int characters[2];
  const int count = deadKeyCharactersLocked(queue, character, characters);
  MSG next = *msg;
  if (count < 0) {
    next.message = m == WM_KEYDOWN ? WM_DEADCHAR : WM_SYSDEADCHAR;
  } else {
    next.message = m == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR;
  }
  // They are the very next messages the thread takes.
  for (int i = std::max(count, 1) - 1; i >= 0; --i) {
    next.wParam = static_cast<WPARAM>(characters[i] & 0xFF);
    queue->messages.push_front(QueuedMessage{next, kLayoutCharacter});
  }
  return TRUE;
}

LRESULT DispatchMessageA(const MSG* msg) {
  if (!msg) return 0;
  std::unique_lock<std::mutex> hold(userLock());
  if (msg->message == WM_TIMER && msg->lParam) {
    // Only a procedure that a timer of this thread names is called.
    ThreadQueue* queue = currentQueueLocked();
    auto proc = reinterpret_cast<TIMERPROC>(msg->lParam);
    bool known = std::any_of(queue->timers.begin(), queue->timers.end(),
                             [&](const Timer& t) { return t.proc == proc && t.window == msg->hwnd; });
    hold.unlock();
    if (known) proc(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
    return 0;
  }
  Window* window = validWindowLocked(msg->hwnd);
  if (!window) return 0;
  if (window->owner != GetCurrentThreadId()) {
    SetLastError(ERROR_WINDOW_OF_OTHER_THREAD);
    return 0;
  }
  WNDPROC proc = window->proc;
  hold.unlock();
  return proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL PostMessageA(HWND handle, UINT message, WPARAM wparam, LPARAM lparam) {
  std::lock_guard<std::mutex> hold(userLock());
  if (!handle) {  // a thread message to the caller
    currentQueueLocked();
    return postToThreadLocked(GetCurrentThreadId(), nullptr, message, wparam, lparam) ? TRUE : FALSE;
  }
  Window* window = validWindowLocked(handle);
  if (!window) return FALSE;
  if (!postLocked(window, message, wparam, lparam)) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  return TRUE;
}

BOOL PostThreadMessageA(DWORD thread_id, UINT message, WPARAM wparam, LPARAM lparam) {
  std::lock_guard<std::mutex> hold(userLock());
  if (!postToThreadLocked(thread_id, nullptr, message, wparam, lparam)) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  return TRUE;
}

LRESULT SendMessageA(HWND handle, UINT message, WPARAM wparam, LPARAM lparam) {
  std::unique_lock<std::mutex> hold(userLock());
  Window* window = validWindowLocked(handle);
  if (!window) return 0;
  if (window->owner == GetCurrentThreadId()) {
    WNDPROC proc = window->proc;
    hold.unlock();
    return proc(handle, message, wparam, lparam);
  }
  // Another thread's window: its procedure runs on its thread when that thread
  // next looks at its queue; we wait for the answer.
  ThreadQueue* queue = queueLocked(window->owner);
  if (!queue) return 0;
  SentMessage sent;
  sent.msg = MSG{handle, message, wparam, lparam, GetTickCount(), desktop().cursor};
  queue->sent.push_back(&sent);
  wakeQueueLocked(queue);
  desktop().sent_done.wait(hold, [&] { return sent.done; });
  return sent.result;
}

void PostQuitMessage(int exit_code) {
  std::lock_guard<std::mutex> hold(userLock());
  ThreadQueue* queue = currentQueueLocked();
  queue->quit = true;
  queue->quit_code = exit_code;
}

LRESULT DefWindowProcA(HWND handle, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_NCCREATE:
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(handle);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(handle, &paint);
      EndPaint(handle, &paint);
      return 0;
    }
    case WM_SETCURSOR: {
      HCURSOR cursor = nullptr;
      {
        std::lock_guard<std::mutex> hold(userLock());
        Window* window = windowLocked(handle);
        if (window && window->window_class) cursor = window->window_class->wc.hCursor;
      }
      SetCursor(cursor);
      return TRUE;
    }
    case WM_SYSKEYDOWN:
      // Alt+F4 asks to close the window, unless its class says it has no close.
      if (wparam == VK_F4 && (lparam & (1 << 29))) {
        bool closable = true;
        {
          std::lock_guard<std::mutex> hold(userLock());
          Window* window = windowLocked(handle);
          closable = window && !(window->window_class->wc.style & CS_NOCLOSE);
        }
        if (closable) PostMessageA(handle, WM_SYSCOMMAND, SC_CLOSE, 0);
      }
      return 0;
    case WM_SYSCHAR:
      if (lparam & (1 << 29)) SendMessageA(handle, WM_SYSCOMMAND, SC_KEYMENU, static_cast<LPARAM>(wparam));
      return 0;
    case WM_SYSCOMMAND:
      switch (wparam & 0xFFF0) {
        case SC_CLOSE:
          SendMessageA(handle, WM_CLOSE, 0, 0);
          break;
        case SC_MAXIMIZE:
          ShowWindow(handle, SW_MAXIMIZE);
          break;
        default:
          break;
      }
      return 0;
    case WM_MOUSEACTIVATE:
      return 1;  // MA_ACTIVATE
    case WM_NCHITTEST:
      return HTCLIENT;
    default:
      return 0;
  }
}

BOOL SetWindowTextA(HWND handle, LPCSTR text) {
  std::lock_guard<std::mutex> hold(userLock());
  Window* window = validWindowLocked(handle);
  if (!window) return FALSE;
  window->title = text ? text : "";
  Desktop& d = desktop();
  if (d.backend && window->native) d.backend->setTitle(window->native, window->title.c_str());
  return TRUE;
}

int GetClassNameA(HWND handle, LPSTR name, int size) {
  std::lock_guard<std::mutex> hold(userLock());
  Window* window = validWindowLocked(handle);
  if (!window || !name || size <= 0 || !window->window_class) {
    if (window) SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::string& class_name = window->window_class->name;
  const int length = std::min(static_cast<int>(class_name.size()), size - 1);
  std::memcpy(name, class_name.data(), static_cast<size_t>(length));
  name[length] = '\0';
  return length;
}

int GetWindowTextA(HWND handle, LPSTR text, int size) {
  std::lock_guard<std::mutex> hold(userLock());
  Window* window = windowLocked(handle);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    if (text && size > 0) text[0] = 0;
    return 0;
  }
  if (!text || size <= 0) return 0;
  size_t n = std::min(window->title.size(), static_cast<size_t>(size - 1));
  std::memcpy(text, window->title.data(), n);
  text[n] = 0;
  return static_cast<int>(n);
}

BOOL GetWindowRect(HWND handle, LPRECT rect) {
  std::lock_guard<std::mutex> hold(userLock());
  Window* window = windowLocked(handle);
  if (!window || !rect) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  *rect = window->window_rect;
  return TRUE;
}

BOOL GetClientRect(HWND handle, LPRECT rect) {
  std::lock_guard<std::mutex> hold(userLock());
  Window* window = windowLocked(handle);
  if (!window || !rect) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  RECT client = clientRectOnScreen(window);
  *rect = RECT{0, 0, client.right - client.left, client.bottom - client.top};
  return TRUE;
}

BOOL ClientToScreen(HWND handle, LPPOINT point) {
  std::lock_guard<std::mutex> hold(userLock());
  Window* window = windowLocked(handle);
  if (!window || !point) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  RECT client = clientRectOnScreen(window);
  point->x += client.left;
  point->y += client.top;
  return TRUE;
}

BOOL ScreenToClient(HWND handle, LPPOINT point) {
  std::lock_guard<std::mutex> hold(userLock());
  Window* window = windowLocked(handle);
  if (!window || !point) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  RECT client = clientRectOnScreen(window);
  point->x -= client.left;
  point->y -= client.top;
  return TRUE;
}

BOOL PtInRect(const RECT* rect, POINT point) {
  return rect && point.x >= rect->left && point.x < rect->right && point.y >= rect->top && point.y < rect->bottom;
}

BOOL SetRect(LPRECT rect, int left, int top, int right, int bottom) {
  if (!rect) return FALSE;
  *rect = RECT{left, top, right, bottom};
  return TRUE;
}

BOOL AdjustWindowRectEx(LPRECT rect, DWORD style, BOOL menu, DWORD ex_style) {
  if (!rect) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  RECT f = frameInsets(style, ex_style, menu != FALSE);
  rect->left -= f.left;
  rect->top -= f.top;
  rect->right += f.right;
  rect->bottom += f.bottom;
  return TRUE;
}

BOOL AdjustWindowRect(LPRECT rect, DWORD style, BOOL menu) { return AdjustWindowRectEx(rect, style, menu, 0); }

BOOL SetWindowPos(HWND handle, HWND insert_after, int x, int y, int width, int height, UINT flags) {
  std::lock_guard<std::mutex> hold(userLock());
  Desktop& d = desktop();
  Window* window = validWindowLocked(handle);
  if (!window) return FALSE;
  RECT before = window->window_rect;
  RECT& r = window->window_rect;
  if (!(flags & SWP_NOMOVE)) {
    r = RECT{x, y, x + (before.right - before.left), y + (before.bottom - before.top)};
  }
  if (!(flags & SWP_NOSIZE)) {
    r.right = r.left + std::max(width, 0);
    r.bottom = r.top + std::max(height, 0);
    applyMinimumSize(window->style, &r);
  }
  if (!(flags & SWP_NOZORDER)) {
    bool was_topmost = window->topmost;
    if (insert_after == HWND_TOPMOST) {
      window->topmost = true;
    } else if (insert_after == HWND_NOTOPMOST) {
      window->topmost = false;
    }
    window->ex_style = window->topmost ? window->ex_style | WS_EX_TOPMOST : window->ex_style & ~WS_EX_TOPMOST;
    placeInZOrderLocked(window, insert_after != HWND_BOTTOM);
    if (was_topmost != window->topmost && d.backend && window->native && d.backend->setTopmost) {
      d.backend->setTopmost(window->native, window->topmost);
    }
  }
  bool moved = r.left != before.left || r.top != before.top;
  bool sized = (r.right - r.left) != (before.right - before.left) || (r.bottom - r.top) != (before.bottom - before.top);
  if ((moved || sized) && d.backend && window->native) d.backend->placeWindow(window->native, describeLocked(window));
  if (sized) {
    RECT client = clientRectOnScreen(window);
    postLocked(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right - client.left, client.bottom - client.top));
    invalidateLocked(window, nullptr);
  }
  if (moved) {
    RECT client = clientRectOnScreen(window);
    postLocked(window, WM_MOVE, 0, MAKELPARAM(client.left, client.top));
  }
  if (flags & SWP_SHOWWINDOW) showLocked(window, (flags & SWP_NOACTIVATE) ? SW_SHOWNA : SW_SHOW);
  if (flags & SWP_HIDEWINDOW) showLocked(window, SW_HIDE);
  return TRUE;
}

BOOL SetForegroundWindow(HWND handle) {
  std::lock_guard<std::mutex> hold(userLock());
  Window* window = validWindowLocked(handle);
  if (!window) return FALSE;
  activateLocked(window);
  return TRUE;
}

HWND GetForegroundWindow(void) {
  std::lock_guard<std::mutex> hold(userLock());
  Window* window = desktop().foreground;
  return window ? window->handle() : nullptr;
}

HWND GetActiveWindow(void) {
  std::lock_guard<std::mutex> hold(userLock());
  Window* window = desktop().foreground;
  return window && window->owner == GetCurrentThreadId() ? window->handle() : nullptr;
}

HWND GetFocus(void) { return GetActiveWindow(); }

HWND SetFocus(HWND handle) {
  HWND previous = GetFocus();
  if (handle) SetForegroundWindow(handle);
  return previous;
}

HWND WindowFromPoint(POINT point) {
  std::lock_guard<std::mutex> hold(userLock());
  Window* window = windowAtLocked(point);
  return window ? window->handle() : nullptr;
}

HDC BeginPaint(HWND handle, LPPAINTSTRUCT paint) {
  std::lock_guard<std::mutex> hold(userLock());
  Window* window = windowLocked(handle);
  if (!window || !paint) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  std::memset(paint, 0, sizeof *paint);
  paint->hdc = windowDcLocked(window);
  if (window->invalid) paint->rcPaint = window->update;
  validateLocked(window);
  return paint->hdc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT*) { return TRUE; }

BOOL InvalidateRect(HWND handle, const RECT* rect, BOOL) {
  std::lock_guard<std::mutex> hold(userLock());
  if (!handle) {
    for (Window* window : desktop().windows) invalidateLocked(window, nullptr);
    return TRUE;
  }
  Window* window = validWindowLocked(handle);
  if (!window) return FALSE;
  invalidateLocked(window, rect);
  return TRUE;
}

BOOL ValidateRect(HWND handle, const RECT* rect) {
  std::lock_guard<std::mutex> hold(userLock());
  Window* window = validWindowLocked(handle);
  if (!window) return FALSE;
  // The update region is kept as one rectangle: a rectangle validates it when it
  // covers it.
  if (window->invalid && (!rect || (rect->left <= window->update.left && rect->top <= window->update.top &&
                                    rect->right >= window->update.right && rect->bottom >= window->update.bottom))) {
    validateLocked(window);
  }
  return TRUE;
}

BOOL GetUpdateRect(HWND handle, LPRECT rect, BOOL) {
  std::lock_guard<std::mutex> hold(userLock());
  Window* window = validWindowLocked(handle);
  if (!window) return FALSE;
  if (rect) *rect = window->invalid ? window->update : RECT{0, 0, 0, 0};
  return window->invalid ? TRUE : FALSE;
}

UINT_PTR SetTimer(HWND handle, UINT_PTR id, UINT elapse, TIMERPROC timer_proc) {
  std::lock_guard<std::mutex> hold(userLock());
  if (handle) {
    Window* window = validWindowLocked(handle);
    if (!window) return 0;
    if (window->owner != GetCurrentThreadId()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return 0;
    }
  }
  ThreadQueue* queue = currentQueueLocked();
  elapse = std::clamp<UINT>(elapse, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
  if (!handle && id == 0) {
    UINT_PTR next = 0x7000;
    for (const Timer& t : queue->timers) {
      if (!t.window) next = std::max(next, t.id + 1);
    }
    id = next;
  }
  Timer timer{handle, id, elapse, timer_proc, nowMs() + elapse};
  auto it = std::find_if(queue->timers.begin(), queue->timers.end(),
                         [&](const Timer& t) { return t.window == handle && t.id == id; });
  if (it != queue->timers.end()) {
    *it = timer;
  } else {
    queue->timers.push_back(timer);
  }
  wakeQueueLocked(queue);
  return handle && id == 0 ? 1 : id;
}

BOOL KillTimer(HWND handle, UINT_PTR id) {
  std::lock_guard<std::mutex> hold(userLock());
  ThreadQueue* queue = currentQueueLocked();
  if (handle) {
    Window* window = windowLocked(handle);
    if (window) queue = queueLocked(window->owner);
  }
  if (queue) {
    auto& timers = queue->timers;
    auto it = std::find_if(timers.begin(), timers.end(), [&](const Timer& t) { return t.window == handle && t.id == id; });
    if (it != timers.end()) {
      timers.erase(it);
      return TRUE;
    }
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

BOOL FlashWindowEx(PFLASHWINFO info) {
  if (!info || info->cbSize != sizeof(FLASHWINFO)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // Nothing flashes; the answer is whether the window was the active one.
  std::lock_guard<std::mutex> hold(userLock());
  Window* window = validWindowLocked(info->hwnd);
  if (!window) return FALSE;
  return desktop().foreground == window ? TRUE : FALSE;
}

BOOL SetLayeredWindowAttributes(HWND handle, COLORREF key, BYTE alpha, DWORD flags) {
  std::lock_guard<std::mutex> hold(userLock());
  Window* window = validWindowLocked(handle);
  if (!window) return FALSE;
  if (!(window->ex_style & WS_EX_LAYERED)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  window->has_colour_key = (flags & LWA_COLORKEY) != 0;
  window->colour_key = key;
  window->alpha = (flags & LWA_ALPHA) ? alpha : 255;
  Desktop& d = desktop();
  if (d.backend && window->native && d.backend->setColourKey) {
    uint32_t rgb = static_cast<uint32_t>(GetRValue(key)) << 16 | static_cast<uint32_t>(GetGValue(key)) << 8 |
                   GetBValue(key);
    d.backend->setColourKey(window->native, window->has_colour_key, rgb);
  }
  return TRUE;
}

}  // extern "C"
