// POSIX and Windows implementations of the platform services.
#include "platform/platform.h"

#include <atomic>
#include <cerrno>
#include <cfenv>
#include <cstdint>
#include <cstdlib>
#include <chrono>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <malloc.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zv {

void* aligned_allocate(size_t alignment, size_t size) {
#ifdef _WIN32
  return _aligned_malloc(size, alignment);
#else
  return std::aligned_alloc(alignment, size);
#endif
}

void aligned_free(void* memory) {
#ifdef _WIN32
  _aligned_free(memory);
#else
  std::free(memory);
#endif
}

void sleep_ms(int32_t milliseconds) {
  if (milliseconds <= 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void beep(int32_t frequency_hz, int32_t duration_ms) {
#ifdef _WIN32
  Beep(static_cast<DWORD>(frequency_hz), static_cast<DWORD>(duration_ms));
#else
  // A terminal bell is the only sound a console program can count on here; it is
  // sent to the controlling terminal so that it never lands in redirected output.
  (void)frequency_hz;
  (void)duration_ms;
  if (isatty(STDOUT_FILENO)) {
    const char bell = '\a';
    ssize_t ignored = write(STDOUT_FILENO, &bell, 1);
    (void)ignored;
  }
#endif
}

#ifdef _WIN32
static bool lock_range(std::FILE* stream, int64_t offset, int64_t length, bool lock) {
  if (!stream || length == 0 || offset < 0) return false;
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  // Offsets from 2^63 up are refused and a range reaching past the last offset is
  // locked up to it, as on other hosts (LockFile refuses a range that wraps).
  const auto start = static_cast<uint64_t>(offset);
  auto count = static_cast<uint64_t>(length);
  if (count > UINT64_MAX - start) count = UINT64_MAX - start;
  if (count == 0) return false;
  DWORD lo = static_cast<DWORD>(start), hi = static_cast<DWORD>(start >> 32);
  DWORD nlo = static_cast<DWORD>(count), nhi = static_cast<DWORD>(count >> 32);
  return lock ? LockFile(h, lo, hi, nlo, nhi) != 0 : UnlockFile(h, lo, hi, nlo, nhi) != 0;
}
#else
// Locks of the open file description (per open, not per process) where the host
// has them: two streams of this process on one file then conflict, and closing
// one stream leaves the locks of the other in place, as LockFile's locks behave.
#ifdef F_OFD_SETLK
constexpr int SET_LOCK = F_OFD_SETLK;
#else
constexpr int SET_LOCK = F_SETLK;
#endif

static bool lock_range(std::FILE* stream, int64_t offset, int64_t length, bool lock) {
  if (!stream || length == 0 || offset < 0) return false;
  // Offset and length are unsigned 64-bit counts, as LockFile takes them; a range
  // reaching past the largest file offset is locked to the end of all offsets.
  const auto start = static_cast<uint64_t>(offset), count = static_cast<uint64_t>(length);
  const uint64_t room = static_cast<uint64_t>(INT64_MAX) - start;
  struct flock fl {};
  // A write lock needs a stream opened for writing; a read-only stream gets a
  // shared lock, which is what a reader can hold.
  int flags = fcntl(fileno(stream), F_GETFL);
  bool writable = flags >= 0 && (flags & O_ACCMODE) != O_RDONLY;
  fl.l_type = lock ? (writable ? F_WRLCK : F_RDLCK) : F_UNLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(start);
  fl.l_len = count > room ? 0 : static_cast<off_t>(count);  // 0: to the end of all offsets
  fl.l_pid = 0;  // must be 0 for open-file-description locks
  // Like LockFile: fail at once when the range is held elsewhere, never wait.
  return fcntl(fileno(stream), SET_LOCK, &fl) == 0;
}
#endif

bool lock_file(std::FILE* stream, int64_t offset, int64_t length) {
  return lock_range(stream, offset, length, true);
}

bool unlock_file(std::FILE* stream, int64_t offset, int64_t length) {
  return lock_range(stream, offset, length, false);
}

void open_missing_standard_descriptors() {
#ifndef _WIN32
  // open takes the lowest free descriptor, so with the lower ones already open the
  // null device lands on the closed one itself.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
#endif
}

std::string host_file_name(const char* name) {
  std::string path = name ? name : "";
#ifndef _WIN32
  bool drive = path.size() >= 3 &&
               ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
               path[1] == ':' && (path[2] == '\\' || path[2] == '/');
  if (drive) path.erase(0, 3);
  for (char& c : path)
    if (c == '\\') c = '/';
#endif
  return path;
}

std::FILE* open_file(const char* name, const char* mode) {
  return std::fopen(host_file_name(name).c_str(), mode);
}

std::FILE* open_file_for_sole_writing(const char* name) {
  const std::string path = host_file_name(name);
#ifdef _WIN32
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD why = GetLastError();
    errno = why == ERROR_SHARING_VIOLATION || why == ERROR_LOCK_VIOLATION ? EBUSY
            : why == ERROR_PATH_NOT_FOUND || why == ERROR_FILE_NOT_FOUND ? ENOENT
            : why == ERROR_DISK_FULL ? ENOSPC : EACCES;
    return nullptr;
  }
  if (!SetEndOfFile(h)) {
    CloseHandle(h);
    errno = EACCES;
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(h);
    return nullptr;
  }
  std::FILE* stream = _fdopen(fd, "wb");
  if (!stream) _close(fd);
  return stream;
#else
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int why = errno == EWOULDBLOCK ? EBUSY : errno;
    close(fd);
    errno = why;
    return nullptr;
  }
  // Only a regular file has a length to cut (a device such as /dev/null has none).
  struct stat about {};
  const bool regular = fstat(fd, &about) == 0 && S_ISREG(about.st_mode);
  std::FILE* stream = !regular || ftruncate(fd, 0) == 0 ? fdopen(fd, "wb") : nullptr;
  if (!stream) {
    const int why = errno;
    close(fd);
    errno = why;
  }
  return stream;
#endif
}

std::FILE* reopen_file(const char* name, const char* mode, std::FILE* stream) {
  return std::freopen(host_file_name(name).c_str(), mode, stream);
}

void setup_floating_point() {
#if defined(__x86_64__) || defined(__i386__)
#if defined(_MSC_VER)
  unsigned int current;
  _controlfp_s(&current, 0, 0x30300);
#else
  // x87 control word: precision control 64-bit (bits 8-9 = 11), rounding to nearest
  // (bits 10-11 = 00); the exception masks are kept.
  uint16_t cw;
  __asm__ volatile("fnstcw %0" : "=m"(cw));
  cw = static_cast<uint16_t>((cw & ~0x0F00u) | 0x0300u);
  __asm__ volatile("fldcw %0" : : "m"(cw));
#endif
#endif
  std::fesetround(FE_TONEAREST);
}

bool stdin_is_terminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdin)) != 0;
#else
  return isatty(STDIN_FILENO) != 0;
#endif
}

bool stdout_is_terminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdout)) != 0;
#else
  return isatty(STDOUT_FILENO) != 0;
#endif
}

std::string module_file_name() {
#ifdef _WIN32
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::string(path, n) : std::string();
#else
  std::string path(256, '\0');
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < path.size()) {
      path.resize(static_cast<size_t>(n));
      return path;
    }
    if (path.size() >= 65536) return {};
    path.resize(path.size() * 2);
  }
#endif
}

const char* environment_variable(const char* name) { return std::getenv(name); }

namespace {
std::atomic<FatalExitHandler> fatal_exit_handler{nullptr};
}  // namespace

void set_fatal_exit_handler(FatalExitHandler handler) { fatal_exit_handler.store(handler); }

void fatal_exit(int32_t status) {
  if (FatalExitHandler handler = fatal_exit_handler.load()) handler();
  std::_Exit(status);
}

}  // namespace zv
