// KERNEL32 of the Win32 layer: threads, events, semaphores and waits on them,
// critical sections, the last-error value, Sleep and GetTickCount, the version
// query, modules with export tables (built-in USER32, KERNEL32, GDI32 and the
// program), and the code-page conversions (Windows-1252, 437, UTF-8).
#include "platform/win32/layer.h"
#include "platform/win32/opengl.h"
#include "platform/win32/virtual_desktop.h"

#include <ddraw.h>
#include <dinput.h>
#include <windows.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <set>
#include <thread>

namespace zv::win32 {

int64_t nowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

namespace {

thread_local DWORD t_last_error = 0;
thread_local DWORD t_thread_id = 0;
thread_local int t_priority = THREAD_PRIORITY_NORMAL;
std::atomic<DWORD> g_next_thread_id{1};

// ---------------------------------------------------------------------------
// Kernel objects: one lock and one condition for all of them, so that a wait on
// several objects of different kinds is a plain loop over their states.
enum class Kind { thread, event, semaphore };

struct KernelObject {
  Kind kind;
  int references = 1;
  bool signalled = false;
  bool manual_reset = false;
  LONG count = 0, maximum = 0;  // semaphores
  DWORD exit_code = STILL_ACTIVE;
  DWORD thread_id = 0;
  int priority = THREAD_PRIORITY_NORMAL;
};

struct Kernel {
  std::mutex lock;
  std::condition_variable changed;
  std::unordered_set<KernelObject*> live;
};

Kernel& kernel() {
  static Kernel* k = new Kernel;  // never destroyed: detached threads may outlive main
  return *k;
}

thread_local KernelObject* t_thread_object = nullptr;  // set for threads of CreateThread

HANDLE const kCurrentThread = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));

KernelObject* objectLocked(HANDLE handle) {
  auto* object = static_cast<KernelObject*>(handle);
  return kernel().live.count(object) ? object : nullptr;
}

void releaseLocked(KernelObject* object) {
  if (--object->references == 0) {
    kernel().live.erase(object);
    delete object;
  }
}

KernelObject* newObjectLocked(Kind kind) {
  auto* object = new KernelObject{};
  object->kind = kind;
  kernel().live.insert(object);
  return object;
}

bool isReady(const KernelObject* object) {
  return object->kind == Kind::semaphore ? object->count > 0 : object->signalled;
}

void consume(KernelObject* object) {
  if (object->kind == Kind::semaphore) {
    --object->count;
  } else if (object->kind == Kind::event && !object->manual_reset) {
    object->signalled = false;
  }
}

}  // namespace

}  // namespace zv::win32

using namespace zv::win32;

extern "C" {

DWORD GetLastError(void) { return t_last_error; }
void SetLastError(DWORD error) { t_last_error = error; }

DWORD GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }

DWORD GetCurrentThreadId(void) {
  if (t_thread_id == 0) t_thread_id = g_next_thread_id.fetch_add(1);
  return t_thread_id;
}

HANDLE GetCurrentThread(void) { return kCurrentThread; }

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    std::this_thread::yield();
  } else if (milliseconds == INFINITE) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
}

DWORD GetTickCount(void) { return static_cast<DWORD>(nowMs()); }

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD,
                    LPDWORD thread_id) {
  if (!start) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Kernel& k = kernel();
  KernelObject* object;
  DWORD id = g_next_thread_id.fetch_add(1);
  {
    std::lock_guard<std::mutex> hold(k.lock);
    object = newObjectLocked(Kind::thread);
    object->references = 2;  // the handle and the running thread
    object->thread_id = id;
  }
  try {
    std::thread([object, start, parameter, id] {
      t_thread_id = id;
      t_thread_object = object;
      DWORD code = start(parameter);
      releaseThreadQueue();  // a thread that has ended has no queue
      Kernel& kk = kernel();
      std::lock_guard<std::mutex> hold(kk.lock);
      object->exit_code = code;
      object->signalled = true;
      t_thread_object = nullptr;
      releaseLocked(object);
      kk.changed.notify_all();
    }).detach();
  } catch (...) {
    std::lock_guard<std::mutex> hold(k.lock);
    k.live.erase(object);
    delete object;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (thread_id) *thread_id = id;
  return object;
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exit_code) {
  Kernel& k = kernel();
  std::lock_guard<std::mutex> hold(k.lock);
  if (thread == kCurrentThread) {
    if (exit_code) *exit_code = STILL_ACTIVE;
    return TRUE;
  }
  KernelObject* object = objectLocked(thread);
  if (!object || object->kind != Kind::thread || !exit_code) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *exit_code = object->exit_code;
  return TRUE;
}

BOOL SetThreadPriority(HANDLE thread, int priority) {
  bool valid = (priority >= -2 && priority <= 2) || priority == THREAD_PRIORITY_IDLE ||
               priority == THREAD_PRIORITY_TIME_CRITICAL;
  if (!valid) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Kernel& k = kernel();
  std::lock_guard<std::mutex> hold(k.lock);
  KernelObject* object = thread == kCurrentThread ? t_thread_object : objectLocked(thread);
  if (thread == kCurrentThread && !object) {
    t_priority = priority;
    return TRUE;
  }
  if (!object || object->kind != Kind::thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  object->priority = priority;
  return TRUE;
}

int GetThreadPriority(HANDLE thread) {
  Kernel& k = kernel();
  std::lock_guard<std::mutex> hold(k.lock);
  KernelObject* object = thread == kCurrentThread ? t_thread_object : objectLocked(thread);
  if (thread == kCurrentThread && !object) return t_priority;
  if (!object || object->kind != Kind::thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return THREAD_PRIORITY_ERROR_RETURN;
  }
  return object->priority;
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manual_reset, BOOL initial_state, LPCSTR) {
  Kernel& k = kernel();
  std::lock_guard<std::mutex> hold(k.lock);
  KernelObject* object = newObjectLocked(Kind::event);
  object->manual_reset = manual_reset != FALSE;
  object->signalled = initial_state != FALSE;
  return object;
}

static BOOL setEventState(HANDLE event, bool signalled) {
  Kernel& k = kernel();
  std::lock_guard<std::mutex> hold(k.lock);
  KernelObject* object = objectLocked(event);
  if (!object || object->kind != Kind::event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  object->signalled = signalled;
  if (signalled) k.changed.notify_all();
  return TRUE;
}

BOOL SetEvent(HANDLE event) { return setEventState(event, true); }
BOOL ResetEvent(HANDLE event) { return setEventState(event, false); }

HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES, LONG initial_count, LONG maximum_count, LPCSTR) {
  if (maximum_count <= 0 || initial_count < 0 || initial_count > maximum_count) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Kernel& k = kernel();
  std::lock_guard<std::mutex> hold(k.lock);
  KernelObject* object = newObjectLocked(Kind::semaphore);
  object->count = initial_count;
  object->maximum = maximum_count;
  return object;
}

BOOL ReleaseSemaphore(HANDLE semaphore, LONG release_count, LPLONG previous_count) {
  Kernel& k = kernel();
  std::lock_guard<std::mutex> hold(k.lock);
  KernelObject* object = objectLocked(semaphore);
  if (!object || object->kind != Kind::semaphore) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (release_count <= 0 || release_count > object->maximum - object->count) {
    SetLastError(ERROR_INVALID_PARAMETER);  // Windows says ERROR_TOO_MANY_POSTS; the count stays
    return FALSE;
  }
  if (previous_count) *previous_count = object->count;
  object->count += release_count;
  k.changed.notify_all();
  return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
  if (handle == kCurrentThread) return TRUE;
  Kernel& k = kernel();
  std::lock_guard<std::mutex> hold(k.lock);
  KernelObject* object = objectLocked(handle);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  releaseLocked(object);
  return TRUE;
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all, DWORD milliseconds) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  Kernel& k = kernel();
  std::unique_lock<std::mutex> hold(k.lock);
  KernelObject* objects[MAXIMUM_WAIT_OBJECTS];
  for (DWORD i = 0; i < count; ++i) {
    objects[i] = objectLocked(handles[i]);
    if (!objects[i]) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
  }
  // The objects stay referenced for the wait, so that a CloseHandle on another
  // thread cannot free one under us.
  for (DWORD i = 0; i < count; ++i) ++objects[i]->references;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  DWORD result = WAIT_TIMEOUT;
  for (;;) {
    if (wait_all) {
      bool all = true;
      for (DWORD i = 0; i < count; ++i) all = all && isReady(objects[i]);
      if (all) {
        for (DWORD i = 0; i < count; ++i) consume(objects[i]);
        result = WAIT_OBJECT_0;
        break;
      }
    } else {
      DWORD i = 0;
      while (i < count && !isReady(objects[i])) ++i;
      if (i < count) {
        consume(objects[i]);
        result = WAIT_OBJECT_0 + i;
        break;
      }
    }
    if (milliseconds == 0) break;
    if (milliseconds == INFINITE) {
      k.changed.wait(hold);
    } else if (k.changed.wait_until(hold, deadline) == std::cv_status::timeout) {
      milliseconds = 0;  // one last look
    }
  }
  for (DWORD i = 0; i < count; ++i) releaseLocked(objects[i]);
  return result;
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  if (object == kCurrentThread) {  // a thread never sees its own end
    if (milliseconds == INFINITE) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return WAIT_FAILED;
    }
    Sleep(milliseconds);
    return WAIT_TIMEOUT;
  }
  return WaitForMultipleObjects(1, &object, FALSE, milliseconds);
}

// Critical sections are recursive, as on Windows; the lock lives behind DebugInfo.
void InitializeCriticalSection(LPCRITICAL_SECTION section) {
  std::memset(section, 0, sizeof *section);
  section->LockCount = -1;
  section->DebugInfo = new std::recursive_mutex;
}

void EnterCriticalSection(LPCRITICAL_SECTION section) {
  static_cast<std::recursive_mutex*>(section->DebugInfo)->lock();
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
  static_cast<std::recursive_mutex*>(section->DebugInfo)->unlock();
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) {
  return static_cast<std::recursive_mutex*>(section->DebugInfo)->try_lock() ? TRUE : FALSE;
}

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
  delete static_cast<std::recursive_mutex*>(section->DebugInfo);
  section->DebugInfo = nullptr;
}

BOOL GetVersionExA(LPOSVERSIONINFOA info) {
  if (!info || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  // What Windows 10 answers a program without a compatibility manifest.
  info->dwMajorVersion = 6;
  info->dwMinorVersion = 2;
  info->dwBuildNumber = 9200;
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  return TRUE;
}

}  // extern "C"

// ---------------------------------------------------------------------------
// Modules and their export tables.
namespace zv::win32 {
namespace {

struct Export {
  const char* name;
  FARPROC address;
};

struct Module {
  const char* name;   // lower case, without ".dll"; "" for the program
  const char* path;
  std::vector<Export> exports;
  std::set<std::string> hidden;
  // A module whose presence depends on the backend (opengl32): whether it can be
  // loaded now, and its exports beyond the table.
  bool (*loadable)() = nullptr;
  FARPROC (*lookup)(const char* name) = nullptr;
};

// Through void (*)(), the one function type every function pointer casts to quietly.
#define ZV_EXPORT(f) Export{#f, reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&::f))}

struct Modules {
  std::mutex lock;
  Module program{"", "", {}, {}};
  Module user32{"user32", "C:\\windows\\system32\\user32.dll",
                {ZV_EXPORT(AdjustWindowRect), ZV_EXPORT(AdjustWindowRectEx), ZV_EXPORT(BeginPaint),
                 ZV_EXPORT(ChangeDisplaySettingsA), ZV_EXPORT(ChangeDisplaySettingsExA), ZV_EXPORT(ClientToScreen),
                 ZV_EXPORT(ClipCursor), ZV_EXPORT(CreateWindowExA), ZV_EXPORT(DefWindowProcA),
                 ZV_EXPORT(DestroyWindow), ZV_EXPORT(DispatchMessageA), ZV_EXPORT(EndPaint),
                 ZV_EXPORT(EnumDisplaySettingsA), ZV_EXPORT(FlashWindowEx), ZV_EXPORT(GetAsyncKeyState),
                 ZV_EXPORT(GetCapture), ZV_EXPORT(GetClientRect), ZV_EXPORT(GetClipCursor),
                 ZV_EXPORT(GetCursorPos), ZV_EXPORT(GetDC), ZV_EXPORT(GetFocus), ZV_EXPORT(GetForegroundWindow),
                 ZV_EXPORT(GetKeyboardState), ZV_EXPORT(GetKeyState), ZV_EXPORT(GetMessageA),
                 ZV_EXPORT(GetMonitorInfoA), ZV_EXPORT(GetSystemMetrics), ZV_EXPORT(GetWindowRect),
                 ZV_EXPORT(GetWindowTextA), ZV_EXPORT(InvalidateRect), ZV_EXPORT(IsWindow), ZV_EXPORT(KillTimer),
                 ZV_EXPORT(LoadCursorA), ZV_EXPORT(LoadIconA), ZV_EXPORT(MapVirtualKeyA),
                 ZV_EXPORT(MonitorFromPoint), ZV_EXPORT(MonitorFromWindow), ZV_EXPORT(MsgWaitForMultipleObjects), ZV_EXPORT(PeekMessageA),
                 ZV_EXPORT(PostMessageA), ZV_EXPORT(PostQuitMessage), ZV_EXPORT(PtInRect),
                 ZV_EXPORT(RegisterClassA), ZV_EXPORT(ReleaseCapture), ZV_EXPORT(ReleaseDC),
                 ZV_EXPORT(ScreenToClient), ZV_EXPORT(SendInput), ZV_EXPORT(SendMessageA), ZV_EXPORT(SetCapture),
                 ZV_EXPORT(SetCursor), ZV_EXPORT(SetCursorPos), ZV_EXPORT(SetForegroundWindow),
                 ZV_EXPORT(SetLayeredWindowAttributes), ZV_EXPORT(SetTimer), ZV_EXPORT(SetWindowPos),
                 ZV_EXPORT(SetWindowTextA), ZV_EXPORT(ShowWindow), ZV_EXPORT(SystemParametersInfoA),
                 ZV_EXPORT(ToAscii), ZV_EXPORT(TrackMouseEvent), ZV_EXPORT(TranslateMessage),
                 ZV_EXPORT(UnregisterClassA), ZV_EXPORT(ValidateRect), ZV_EXPORT(WindowFromPoint)},
                {}};
  Module kernel32{"kernel32", "C:\\windows\\system32\\kernel32.dll",
                  {ZV_EXPORT(CloseHandle), ZV_EXPORT(CreateEventA), ZV_EXPORT(CreateThread),
                   ZV_EXPORT(GetLastError), ZV_EXPORT(GetModuleHandleA), ZV_EXPORT(GetProcAddress),
                   ZV_EXPORT(GetTickCount), ZV_EXPORT(GetVersionExA), ZV_EXPORT(LoadLibraryA),
                   ZV_EXPORT(MultiByteToWideChar), ZV_EXPORT(SetEvent), ZV_EXPORT(Sleep),
                   ZV_EXPORT(WaitForMultipleObjects), ZV_EXPORT(WaitForSingleObject),
                   ZV_EXPORT(WideCharToMultiByte)},
                  {}};
  Module gdi32{"gdi32", "C:\\windows\\system32\\gdi32.dll",
               {ZV_EXPORT(CreatePalette), ZV_EXPORT(DeleteObject), ZV_EXPORT(GetDeviceCaps),
                ZV_EXPORT(RealizePalette), ZV_EXPORT(SelectPalette), ZV_EXPORT(SetDIBitsToDevice),
                ZV_EXPORT(SetPaletteEntries)},
               {}};
  Module opengl32{"opengl32", "C:\\windows\\system32\\opengl32.dll",
                  {ZV_EXPORT(wglCreateContext), ZV_EXPORT(wglDeleteContext), ZV_EXPORT(wglGetCurrentContext),
                   ZV_EXPORT(wglGetCurrentDC), ZV_EXPORT(wglGetProcAddress), ZV_EXPORT(wglMakeCurrent)},
                  {}, openglLoadable, openglExport};
  Module ddraw{"ddraw", "C:\\windows\\system32\\ddraw.dll",
              {ZV_EXPORT(DirectDrawCreate), ZV_EXPORT(DirectDrawEnumerateExA)}, {}};
  Module dinput{"dinput", "C:\\windows\\system32\\dinput.dll", {ZV_EXPORT(DirectInputCreateA)}, {}};
  Module* all[7] = {&program, &user32, &kernel32, &gdi32, &opengl32, &ddraw, &dinput};
};

#undef ZV_EXPORT

Modules& modules() {
  static Modules* m = new Modules;
  return *m;
}

// "USER32", "user32.dll", "C:\\windows\\system32\\USER32.DLL" all name user32.
Module* findModule(const char* name) {
  std::string base(name);
  size_t slash = base.find_last_of("\\/");
  if (slash != std::string::npos) base.erase(0, slash + 1);
  for (char& c : base) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (base.size() > 4 && base.compare(base.size() - 4, 4, ".dll") == 0) base.resize(base.size() - 4);
  Modules& m = modules();
  for (Module* module : m.all) {
    if (module != &m.program && base == module->name) return module->loadable && !module->loadable() ? nullptr : module;
  }
  return nullptr;
}

Module* moduleOf(HMODULE handle) {
  Modules& m = modules();
  for (Module* module : m.all) {
    if (reinterpret_cast<HMODULE>(module) == handle) return module;
  }
  return nullptr;
}

}  // namespace

void setExportHidden(const char* module_name, const char* name, bool hidden) {
  Module* module = findModule(module_name);
  if (!module) return;
  std::lock_guard<std::mutex> hold(modules().lock);
  if (hidden) {
    module->hidden.insert(name);
  } else {
    module->hidden.erase(name);
  }
}

}  // namespace zv::win32

extern "C" {

HMODULE GetModuleHandleA(LPCSTR name) {
  if (!name) return reinterpret_cast<HMODULE>(&modules().program);
  Module* module = findModule(name);
  if (!module) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(module);
}

HMODULE LoadLibraryA(LPCSTR name) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return GetModuleHandleA(name);
}

BOOL FreeLibrary(HMODULE module) {
  if (!moduleOf(module)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

FARPROC GetProcAddress(HMODULE handle, LPCSTR name) {
  Module* module = moduleOf(handle);
  if (!module) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!name || IS_INTRESOURCE(name)) {  // no ordinals in our tables
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  std::lock_guard<std::mutex> hold(modules().lock);
  if (!module->hidden.count(name)) {
    for (const Export& e : module->exports) {
      if (std::strcmp(e.name, name) == 0) return e.address;
    }
    if (module->lookup) {
      if (FARPROC address = module->lookup(name)) return address;
    }
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

DWORD GetModuleFileNameA(HMODULE handle, LPSTR file_name, DWORD size) {
  Module* module = handle ? moduleOf(handle) : &modules().program;
  if (!module) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  char path[4096];
  size_t length;
  if (module == &modules().program) {
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    length = n > 0 ? static_cast<size_t>(n) : 0;
  } else {
    length = std::strlen(module->path);
    std::memcpy(path, module->path, length);
  }
  if (size == 0 || !file_name) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (length >= size) {  // cut and terminated, as Windows since 6.0 does
    std::memcpy(file_name, path, size - 1);
    file_name[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(file_name, path, length);
  file_name[length] = 0;
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(length);
}

}  // extern "C"

// ---------------------------------------------------------------------------
// Code pages.
namespace zv::win32 {
namespace {

// Windows-1252, bytes 0x80 to 0x9F; the five bytes it leaves undefined map to the
// C1 controls of the same value, as Windows converts them.
const char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Code page 437, bytes 0x80 to 0xFF.
const char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

// The code page a request names, or 0 when we do not have it.
UINT resolveCodePage(UINT code_page) {
  switch (code_page) {
    case CP_ACP: return 1252;
    case CP_OEMCP: return 437;
    case 1252:
    case 437:
    case CP_UTF8: return code_page;
    default: return 0;
  }
}

int wideToByte(UINT code_page, char16_t unit) {
  if (unit < 0x80) return unit;
  if (code_page == 1252) {
    if (unit >= 0xA0 && unit <= 0xFF) return unit;
    for (int i = 0; i < 32; ++i) {
      if (kCp1252High[i] == unit) return 0x80 + i;
    }
    return -1;
  }
  for (int i = 0; i < 128; ++i) {
    if (kCp437High[i] == unit) return 0x80 + i;
  }
  return -1;
}

}  // namespace

int charToWide(UINT code_page, unsigned char byte) {
  if (byte < 0x80) return byte;
  if (code_page == 1252) return byte >= 0xA0 ? byte : kCp1252High[byte - 0x80];
  return kCp437High[byte - 0x80];
}

}  // namespace zv::win32

extern "C" {

int MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR source, int source_length, LPWSTR destination,
                        int destination_length) {
  UINT cp = resolveCodePage(code_page);
  if (!source || source_length == 0 || source_length < -1 || destination_length < 0 || cp == 0 ||
      (destination_length > 0 && !destination)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t n = source_length == -1 ? std::strlen(source) + 1 : static_cast<size_t>(source_length);
  const auto* in = reinterpret_cast<const unsigned char*>(source);
  int written = 0;
  auto put = [&](char16_t unit) -> bool {
    if (destination_length > 0) {
      if (written >= destination_length) return false;
      destination[written] = unit;
    }
    ++written;
    return true;
  };
  for (size_t i = 0; i < n;) {
    uint32_t code;
    if (cp != CP_UTF8) {
      code = static_cast<uint32_t>(charToWide(cp, in[i++]));
    } else {
      unsigned char b = in[i];
      int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
      uint32_t minimum = extra == 1 ? 0x80 : extra == 2 ? 0x800 : 0x10000;
      code = extra < 0 ? 0 : extra == 0 ? b : b & (0x3F >> extra);
      bool bad = extra < 0;
      size_t j = i + 1;
      for (int e = 0; e < extra && !bad; ++e, ++j) {
        if (j >= n || (in[j] & 0xC0) != 0x80) {
          bad = true;
        } else {
          code = code << 6 | (in[j] & 0x3F);
        }
      }
      if (!bad && extra > 0 && (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))) {
        bad = true;
      }
      if (bad) {
        if (flags & MB_ERR_INVALID_CHARS) {
          SetLastError(ERROR_NO_UNICODE_TRANSLATION);
          return 0;
        }
        code = 0xFFFD;
        j = i + 1;
      }
      i = j;
    }
    bool ok = code >= 0x10000 ? put(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10))) &&
                                    put(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)))
                              : put(static_cast<char16_t>(code));
    if (!ok) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
  }
  return written;
}

int WideCharToMultiByte(UINT code_page, DWORD, LPCWSTR source, int source_length, LPSTR destination,
                        int destination_length, LPCSTR default_char, LPBOOL used_default_char) {
  UINT cp = resolveCodePage(code_page);
  if (!source || source_length == 0 || source_length < -1 || destination_length < 0 || cp == 0 ||
      (destination_length > 0 && !destination) ||
      (cp == CP_UTF8 && (default_char || used_default_char))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t n = static_cast<size_t>(source_length);
  if (source_length == -1) {
    n = 0;
    while (source[n]) ++n;
    ++n;
  }
  if (used_default_char) *used_default_char = FALSE;
  int written = 0;
  auto put = [&](unsigned char byte) -> bool {
    if (destination_length > 0) {
      if (written >= destination_length) return false;
      destination[written] = static_cast<char>(byte);
    }
    ++written;
    return true;
  };
  for (size_t i = 0; i < n; ++i) {
    char16_t unit = source[i];
    bool ok = true;
    if (cp == CP_UTF8) {
      uint32_t code = unit;
      if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < n && source[i + 1] >= 0xDC00 && source[i + 1] <= 0xDFFF) {
        code = 0x10000 + ((unit - 0xD800u) << 10) + (source[i + 1] - 0xDC00u);
        ++i;
      } else if (unit >= 0xD800 && unit <= 0xDFFF) {
        code = 0xFFFD;  // a lone surrogate
      }
      if (code < 0x80) {
        ok = put(static_cast<unsigned char>(code));
      } else if (code < 0x800) {
        ok = put(static_cast<unsigned char>(0xC0 | code >> 6)) && put(static_cast<unsigned char>(0x80 | (code & 0x3F)));
      } else if (code < 0x10000) {
        ok = put(static_cast<unsigned char>(0xE0 | code >> 12)) &&
             put(static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F))) &&
             put(static_cast<unsigned char>(0x80 | (code & 0x3F)));
      } else {
        ok = put(static_cast<unsigned char>(0xF0 | code >> 18)) &&
             put(static_cast<unsigned char>(0x80 | ((code >> 12) & 0x3F))) &&
             put(static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F))) &&
             put(static_cast<unsigned char>(0x80 | (code & 0x3F)));
      }
    } else {
      int byte = wideToByte(cp, unit);
      if (byte < 0) {
        byte = default_char ? static_cast<unsigned char>(*default_char) : '?';
        if (used_default_char) *used_default_char = TRUE;
      }
      ok = put(static_cast<unsigned char>(byte));
    }
    if (!ok) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
  }
  return written;
}

}  // extern "C"
