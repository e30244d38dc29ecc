// KERNEL32 of the Win32 layer: modules and export tables, threads and events and
// the waits on them, critical sections, the version query, code pages.
#include "tests/win32/win32_test_support.h"

#include <atomic>
#include <string>

namespace zv::win32test {
namespace {

template <typename F>
F procedure(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

TEST(Modules, BuiltInModulesAnswerToTheirNamesInAnyForm) {
  HMODULE user32 = GetModuleHandleA("USER32");
  ASSERT_NE(user32, nullptr);
  EXPECT_EQ(GetModuleHandleA("user32.dll"), user32);
  EXPECT_EQ(LoadLibraryA("C:\\Windows\\System32\\User32.DLL"), user32);
  EXPECT_NE(GetModuleHandleA("kernel32"), user32);
  EXPECT_NE(GetModuleHandleA(nullptr), nullptr);
  EXPECT_EQ(GetModuleHandleA("nosuch.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_TRUE(FreeLibrary(user32));
  char path[8];
  EXPECT_EQ(GetModuleFileNameA(user32, path, sizeof path), sizeof path);  // cut, terminated
  EXPECT_EQ(path[7], 0);
}

TEST(Modules, GetProcAddressFindsExportsUnlessHidden) {
  HMODULE user32 = GetModuleHandleA("USER32");
  const char* optional[] = {"SetLayeredWindowAttributes", "MonitorFromWindow", "MonitorFromPoint", "FlashWindowEx",
                            "TrackMouseEvent", "GetMonitorInfoA", "ChangeDisplaySettingsExA"};
  for (const char* name : optional) EXPECT_NE(GetProcAddress(user32, name), nullptr) << name;
  EXPECT_EQ(procedure<BOOL (*)(LPTRACKMOUSEEVENT)>(user32, "TrackMouseEvent"), &TrackMouseEvent);
  EXPECT_EQ(GetProcAddress(user32, "trackmouseevent"), nullptr);  // names are exact
  EXPECT_EQ(GetProcAddress(user32, "CreateEventA"), nullptr);    // a KERNEL32 name
  EXPECT_EQ(GetProcAddress(user32, MAKEINTRESOURCEA(5)), nullptr);

  zv::vdesk::hideExport("user32.dll", "TrackMouseEvent", true);
  EXPECT_EQ(GetProcAddress(user32, "TrackMouseEvent"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_NE(GetProcAddress(user32, "FlashWindowEx"), nullptr);
  zv::vdesk::hideExport("USER32", "TrackMouseEvent", false);
  EXPECT_NE(GetProcAddress(user32, "TrackMouseEvent"), nullptr);
}

struct Gate {
  HANDLE open;
  HANDLE passed = nullptr;  // set once through, when given
  std::atomic<int> ran{0};
};

DWORD waitAtGate(LPVOID parameter) {
  auto* gate = static_cast<Gate*>(parameter);
  WaitForSingleObject(gate->open, INFINITE);
  ++gate->ran;
  if (gate->passed) SetEvent(gate->passed);
  return 7;
}

TEST(Threads, AWaitOnAnEventAndAThreadAnswersWhicheverComesFirst) {
  Gate gate;
  gate.open = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE started = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, waitAtGate, &gate, 0, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, GetCurrentThreadId());
  HANDLE both[2] = {started, thread};
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  SetEvent(started);
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, INFINITE), WAIT_OBJECT_0);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
  SetEvent(gate.open);
  // The auto-reset event was consumed by the first wait: the thread's end answers.
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, INFINITE), WAIT_OBJECT_0 + 1);
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);  // an ended thread stays signalled
  EXPECT_EQ(WaitForSingleObject(gate.open, 0), WAIT_OBJECT_0);  // a manual-reset event too
  for (HANDLE h : {thread, started, gate.open}) EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(CloseHandle(thread));
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_FAILED);
}

TEST(Threads, ClosingAThreadHandleLetsTheThreadRunOn) {
  Gate gate;
  gate.open = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  gate.passed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = CreateThread(nullptr, 0, waitAtGate, &gate, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL));
  EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_ABOVE_NORMAL);
  EXPECT_FALSE(SetThreadPriority(thread, 7));
  EXPECT_TRUE(CloseHandle(thread));
  SetEvent(gate.open);
  EXPECT_EQ(WaitForSingleObject(gate.passed, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(gate.ran, 1);
  CloseHandle(gate.passed);
  CloseHandle(gate.open);
  EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_NORMAL);
}

TEST(Threads, WaitAllNeedsEveryObject) {
  HANDLE a = CreateEventA(nullptr, FALSE, TRUE, nullptr);
  HANDLE b = CreateSemaphoreA(nullptr, 0, 2, nullptr);
  HANDLE both[2] = {a, b};
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);  // not consumed by the failed wait-all
  SetEvent(a);
  EXPECT_TRUE(ReleaseSemaphore(b, 2, nullptr));
  EXPECT_FALSE(ReleaseSemaphore(b, 1, nullptr));  // above the maximum
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(b, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  CloseHandle(a);
  CloseHandle(b);
}

struct Section {
  CRITICAL_SECTION section;
  BOOL entered_elsewhere = TRUE;
};

DWORD tryFromAnotherThread(LPVOID parameter) {
  auto* s = static_cast<Section*>(parameter);
  s->entered_elsewhere = TryEnterCriticalSection(&s->section);
  if (s->entered_elsewhere) LeaveCriticalSection(&s->section);
  return 0;
}

TEST(Threads, CriticalSectionsNestOnTheirThreadAndExcludeOthers) {
  Section s;
  InitializeCriticalSection(&s.section);
  EnterCriticalSection(&s.section);
  EXPECT_TRUE(TryEnterCriticalSection(&s.section));
  HANDLE thread = CreateThread(nullptr, 0, tryFromAnotherThread, &s, 0, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  EXPECT_FALSE(s.entered_elsewhere);
  LeaveCriticalSection(&s.section);
  LeaveCriticalSection(&s.section);
  thread = CreateThread(nullptr, 0, tryFromAnotherThread, &s, 0, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  EXPECT_TRUE(s.entered_elsewhere);
  DeleteCriticalSection(&s.section);
}

TEST(Version, AnswersWindowsTenWithoutAManifest) {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(info.dwMajorVersion * 256 + info.dwMinorVersion, 0x602u);
  EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  info.dwOSVersionInfoSize = 20;
  EXPECT_FALSE(GetVersionExA(&info));
}

std::u16string toWide(UINT code_page, const std::string& bytes) {
  int n = MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::u16string wide(static_cast<size_t>(n), u'\0');
  EXPECT_EQ(MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), n), n);
  return wide;
}

std::string toBytes(UINT code_page, const std::u16string& wide, BOOL* used_default = nullptr) {
  int n = WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                              used_default);
  std::string bytes(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(), n, nullptr, used_default);
  return bytes;
}

TEST(CodePages, AnsiCharactersReachCodePage437) {
  struct Row {
    std::string ansi;       // Windows-1252
    std::u16string wide;
    std::string oem;        // code page 437
    bool all_mapped;
  };
  const Row rows[] = {
      {"\xF6", u"\u00F6", "\x94", true},
      {"L\xF6sung \xC4\xDF", u"L\u00F6sung \u00C4\u00DF", "L\x94sung \x8E\xE1", true},
      {"\x80", u"\u20AC", "?", false},                // the euro sign is not in 437
      {"\x81", u"\u0081", "?", false},                // undefined in 1252: the C1 control
      {"\xB0\xB1\xB2", u"\u00B0\u00B1\u00B2", "\xF8\xF1\xFD", true},
      {"\x9F", u"\u0178", "?", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(toWide(CP_ACP, row.ansi), row.wide);
    EXPECT_EQ(toWide(1252, row.ansi), row.wide);
    BOOL used_default = FALSE;
    EXPECT_EQ(toBytes(437, row.wide, &used_default), row.oem);
    EXPECT_EQ(used_default == FALSE, row.all_mapped);
  }
  EXPECT_EQ(toWide(437, "\x94\xB3"), u"\u00F6\u2502");
  EXPECT_EQ(toBytes(CP_OEMCP, u"\u2502"), "\xB3");
}

TEST(CodePages, Utf8RoundTripsAndReportsShortBuffers) {
  const std::string utf8 = "a\xC3\xB6\xE2\x82\xAC\xF0\x9F\x98\x80";  // a, ö, €, U+1F600
  const std::u16string wide = u"a\u00F6\u20AC\U0001F600";
  EXPECT_EQ(toWide(CP_UTF8, utf8), wide);
  EXPECT_EQ(toBytes(CP_UTF8, wide), utf8);
  EXPECT_EQ(toWide(CP_UTF8, "\xC3"), u"\uFFFD");
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xC0\x80", 2, nullptr, 0), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));

  char16_t small[2];
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, small, 2), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, nullptr, 0), 4);  // the terminator counts
  EXPECT_EQ(MultiByteToWideChar(850, 0, "abc", 3, nullptr, 0), 0);    // a code page we lack
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
}  // namespace zv::win32test
