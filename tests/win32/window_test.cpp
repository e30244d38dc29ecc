// Windows and message queues of the Win32 layer: creation and its refusal, windows
// owned by other threads (posting, sending, input from a third thread, destruction
// after the owner has ended), timers, paint requests, activation, the mouse and
// the cursor, placement.
#include "tests/win32/win32_test_support.h"

#include <atomic>
#include <string>
#include <thread>

namespace zv::win32test {
namespace {

using Windows = Win32Test;

HWND plainWindow(DWORD style = WS_POPUP, DWORD ex_style = 0) {
  return CreateWindowExA(ex_style, kClassName, "plain", style, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
}

TEST(NoDesktop, WindowsCannotBeCreatedWithoutABackend) {
  zv::vdesk::disable();
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.lpszClassName = "zvnodesktop";
  ASSERT_NE(RegisterClassA(&wc), 0);
  EXPECT_EQ(CreateWindowExA(0, "zvnodesktop", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 0);
  EXPECT_EQ(UnregisterClassA("ZVNODESKTOP", nullptr), TRUE);  // class names ignore case
}

TEST_F(Windows, CreationRefusedByTheDesktopFailsAndLeavesNothing) {
  zv::vdesk::refuseWindowCreation(true);
  EXPECT_EQ(plainWindow(), nullptr);
  EXPECT_TRUE(zv::vdesk::windows().empty());
  EXPECT_TRUE(log().take().empty());  // the procedure never ran
  zv::vdesk::refuseWindowCreation(false);
  HWND window = plainWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(log().messages(), (std::vector<UINT>{WM_NCCREATE, WM_CREATE}));
  EXPECT_FALSE(UnregisterClassA(kClassName, nullptr));  // a window still uses it
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS));
}

TEST_F(Windows, ShowingAndForegroundActivateAndDeactivate) {
  HWND first = plainWindow();
  HWND second = plainWindow();
  EXPECT_EQ(GetForegroundWindow(), nullptr);
  ShowWindow(first, SW_SHOW);
  SetForegroundWindow(first);  // already active: nothing new
  ShowWindow(second, SW_SHOWNA);
  SetForegroundWindow(second);
  zv::vdesk::deactivateAll();
  zv::vdesk::activate(first);
  std::vector<std::pair<HWND, WPARAM>> activations;
  for (const MSG& m : takeMessages()) {
    if (m.message == WM_ACTIVATE) activations.emplace_back(m.hwnd, m.wParam);
  }
  std::vector<std::pair<HWND, WPARAM>> expected = {{first, WA_ACTIVE},
                                                   {first, WA_INACTIVE},
                                                   {second, WA_ACTIVE},
                                                   {second, WA_INACTIVE},
                                                   {first, WA_ACTIVE}};
  EXPECT_EQ(activations, expected);
  EXPECT_EQ(GetForegroundWindow(), first);
  EXPECT_EQ(GetFocus(), first);
}

TEST_F(Windows, PaintComesWhenNothingElseWaitsAndUntilValidated) {
  HWND window = plainWindow();
  PostMessageA(window, WM_USER, 1, 2);
  std::vector<UINT> seen;
  for (const MSG& m : takeMessages()) seen.push_back(m.message);
  EXPECT_EQ(seen, (std::vector<UINT>{WM_USER}));  // hidden: no paint
  ShowWindow(window, SW_SHOWNA);
  PostMessageA(window, WM_USER, 3, 4);
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, window, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER));
  ASSERT_TRUE(PeekMessageA(&msg, window, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_PAINT));
  ASSERT_TRUE(PeekMessageA(&msg, window, 0, 0, PM_REMOVE));  // still invalid
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_PAINT));
  DispatchMessageA(&msg);  // DefWindowProcA validates
  EXPECT_FALSE(PeekMessageA(&msg, window, 0, 0, PM_REMOVE));
  RECT part{10, 10, 20, 20};
  InvalidateRect(window, &part, FALSE);
  PAINTSTRUCT paint;
  ASSERT_TRUE(PeekMessageA(&msg, window, WM_PAINT, WM_PAINT, PM_NOREMOVE));
  ASSERT_NE(BeginPaint(window, &paint), nullptr);
  EXPECT_EQ(paint.rcPaint.left, 10);
  EXPECT_EQ(paint.rcPaint.bottom, 20);
  EndPaint(window, &paint);
  EXPECT_FALSE(PeekMessageA(&msg, window, 0, 0, PM_REMOVE));
}

int g_timer_calls = 0;
UINT_PTR g_timer_id = 0;

void CALLBACK countingTimer(HWND window, UINT message, UINT_PTR id, DWORD) {
  EXPECT_EQ(message, static_cast<UINT>(WM_TIMER));
  ++g_timer_calls;
  g_timer_id = id;
  KillTimer(window, id);
}

TEST_F(Windows, TimersArriveAsMessagesAndDispatchCallsTheirProcedure) {
  HWND window = plainWindow();
  g_timer_calls = 0;
  ASSERT_EQ(SetTimer(window, 2, 1, countingTimer), 2u);
  MSG msg;
  while (g_timer_calls == 0 && GetMessageA(&msg, nullptr, 0, 0)) {
    if (msg.message == WM_TIMER) {
      EXPECT_EQ(msg.hwnd, window);
      EXPECT_EQ(msg.wParam, 2u);
    }
    DispatchMessageA(&msg);
  }
  EXPECT_EQ(g_timer_calls, 1);
  EXPECT_FALSE(KillTimer(window, 2));  // the procedure killed it

  UINT_PTR id = SetTimer(nullptr, 0, 1, countingTimer);  // a thread timer gets its own id
  ASSERT_NE(id, 0u);
  while (g_timer_calls == 1 && GetMessageA(&msg, nullptr, 0, 0)) DispatchMessageA(&msg);
  EXPECT_EQ(g_timer_id, id);
  // A forged WM_TIMER naming a procedure no timer has is not called.
  PostMessageA(window, WM_TIMER, 9, reinterpret_cast<LPARAM>(&countingTimer));
  pump();
  EXPECT_EQ(g_timer_calls, 2);
}

// A window on a thread of its own that pumps until it has seen a stop message.
struct WindowThread {
  HWND window = nullptr;
  HANDLE created = nullptr;
  HANDLE go_on = nullptr;  // set when the thread may leave without destroying its window
  std::atomic<int> chars{0};
  std::string typed;       // written by the window's thread only, read after it ended
  bool keep_window = false;
};

std::atomic<DWORD> g_window_thread{0};
constexpr const char* kThreadClass = "zvlayerthread";

// Answers WM_USER + 7 with twice its wParam when it runs on the window's own thread.
LRESULT CALLBACK threadWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_USER + 7) {
    return GetCurrentThreadId() == g_window_thread ? static_cast<LRESULT>(wparam * 2) : -1;
  }
  return recordingProc(window, message, wparam, lparam);
}

void registerThreadClass() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = threadWindowProc;
  wc.lpszClassName = kThreadClass;
  RegisterClassA(&wc);  // kept from an earlier test, or new
}

DWORD runWindowThread(LPVOID parameter) {
  auto* t = static_cast<WindowThread*>(parameter);
  g_window_thread = GetCurrentThreadId();
  t->window = CreateWindowExA(0, kThreadClass, "thread", WS_POPUP | WS_VISIBLE, 0, 0, 64, 48, nullptr, nullptr,
                              nullptr, nullptr);
  SetForegroundWindow(t->window);
  SetEvent(t->created);
  MSG msg;
  BYTE frame[64 * 48];
  for (int i = 0; i < 64 * 48; ++i) frame[i] = static_cast<BYTE>(i);
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];
  } info{};
  info.header = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), 64, -48, 1, 8, BI_RGB, 0, 0, 0, 256, 0};
  for (;;) {
    // The drivers' update cycle: present, then take what waits, then sleep.
    HDC dc = GetDC(t->window);
    SetDIBitsToDevice(dc, 0, 0, 64, 48, 0, 0, 0, 48, frame, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    ReleaseDC(t->window, dc);
    bool stop = false;
    while (PeekMessageA(&msg, t->window, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      if (msg.message == WM_CHAR) {
        t->typed.push_back(static_cast<char>(msg.wParam));
        ++t->chars;
      }
      if (msg.message == WM_USER + 1) stop = true;
      DispatchMessageA(&msg);
    }
    if (stop) break;
    Sleep(1);
  }
  if (t->keep_window) return 0;
  DestroyWindow(t->window);
  return 0;
}

TEST_F(Windows, InputFromAThirdThreadReachesTheWindowOfAnUpdateThread) {
  registerThreadClass();
  WindowThread t;
  t.created = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE thread = CreateThread(nullptr, 0, runWindowThread, &t, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(t.created, INFINITE), WAIT_OBJECT_0);
  HANDLE typist = CreateThread(
      nullptr, 0,
      [](LPVOID) -> DWORD {
        const char* text = "HALLO";
        for (const char* c = text; *c; ++c) {
          zv::vdesk::key(static_cast<uint16_t>(*c), static_cast<uint8_t>(MapVirtualKeyA(*c, MAPVK_VK_TO_VSC)), false,
                         true);
          zv::vdesk::key(static_cast<uint16_t>(*c), static_cast<uint8_t>(MapVirtualKeyA(*c, MAPVK_VK_TO_VSC)), false,
                         false);
        }
        return 0;
      },
      nullptr, 0, nullptr);
  // Meanwhile the picture can be read while the window's thread draws it.
  int32_t width = 0, height = 0;
  std::vector<uint32_t> pixels;
  do {
    pixels = zv::vdesk::clientPixels(t.window, &width, &height);
  } while (t.chars.load() < 5);
  WaitForSingleObject(typist, INFINITE);
  PostMessageA(t.window, WM_USER + 1, 0, 0);
  WaitForSingleObject(thread, INFINITE);
  EXPECT_EQ(t.typed, "hallo");
  EXPECT_EQ(width, 64);
  EXPECT_EQ(height, 48);
  EXPECT_FALSE(IsWindow(t.window));
  for (HANDLE h : {thread, typist, t.created}) CloseHandle(h);
}

TEST_F(Windows, PostAndSendReachTheOwnerThread) {
  registerThreadClass();
  WindowThread t;
  t.created = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE thread = CreateThread(nullptr, 0, runWindowThread, &t, 0, nullptr);
  WaitForSingleObject(t.created, INFINITE);
  EXPECT_EQ(SendMessageA(t.window, WM_USER + 7, 21, 0), 42);  // answered on the window's thread
  for (WPARAM i = 0; i < 5; ++i) EXPECT_TRUE(PostMessageA(t.window, WM_USER + 2, i, 0));
  PostMessageA(t.window, WM_USER + 1, 0, 0);
  WaitForSingleObject(thread, INFINITE);
  std::vector<WPARAM> order;
  for (const Seen& s : log().take()) {
    if (s.message == WM_USER + 2) order.push_back(s.wparam);
  }
  EXPECT_EQ(order, (std::vector<WPARAM>{0, 1, 2, 3, 4}));
  EXPECT_FALSE(PostMessageA(t.window, WM_USER, 0, 0));  // its thread destroyed it
  CloseHandle(thread);
  CloseHandle(t.created);
}

TEST_F(Windows, OnlyTheOwnerDestroysAWindowUntilItsThreadHasEnded) {
  registerThreadClass();
  WindowThread t;
  t.created = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  t.keep_window = true;
  HANDLE thread = CreateThread(nullptr, 0, runWindowThread, &t, 0, nullptr);
  WaitForSingleObject(t.created, INFINITE);
  EXPECT_FALSE(DestroyWindow(t.window));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  PostMessageA(t.window, WM_USER + 1, 0, 0);
  WaitForSingleObject(thread, INFINITE);
  log().take();
  EXPECT_TRUE(IsWindow(t.window));
  EXPECT_FALSE(PostMessageA(t.window, WM_USER, 0, 0));  // nobody reads its queue
  EXPECT_TRUE(DestroyWindow(t.window));                 // the program cleans up
  EXPECT_EQ(log().messages(), (std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}));
  EXPECT_FALSE(IsWindow(t.window));
  CloseHandle(thread);
  CloseHandle(t.created);
}

TEST_F(Windows, MouseMessagesCarryClientCoordinatesAndHonourClipAndCapture) {
  HWND window = makeWindow(200, 100);
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  zv::vdesk::mouseMove(origin.x + 10, origin.y + 20);
  zv::vdesk::mouseButton(0, true);
  zv::vdesk::mouseWheel(-240, false);
  zv::vdesk::mouseButton(3, true);
  std::vector<MSG> got = takeMessages();
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].message, static_cast<UINT>(WM_MOUSEMOVE));
  EXPECT_EQ(got[0].lParam, MAKELPARAM(10, 20));
  EXPECT_EQ(got[1].message, static_cast<UINT>(WM_LBUTTONDOWN));
  EXPECT_EQ(got[1].wParam, static_cast<WPARAM>(MK_LBUTTON));
  EXPECT_EQ(got[2].message, static_cast<UINT>(WM_MOUSEWHEEL));
  EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(got[2].wParam), -240);
  EXPECT_EQ(got[2].lParam, MAKELPARAM(origin.x + 10, origin.y + 20));  // screen coordinates
  EXPECT_EQ(got[3].message, static_cast<UINT>(WM_XBUTTONDOWN));
  EXPECT_EQ(GET_XBUTTON_WPARAM(got[3].wParam), XBUTTON1);
  EXPECT_EQ(LOWORD(got[3].wParam), MK_LBUTTON | MK_XBUTTON1);
  EXPECT_LT(GetKeyState(VK_LBUTTON), 0);

  // Captured, a move left of the window arrives with its coordinate wrapped to 16 bits.
  SetCapture(window);
  EXPECT_EQ(GetCapture(), window);
  zv::vdesk::mouseMove(origin.x - 3, origin.y + 5);
  got = takeMessages();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(LOWORD(got[0].lParam), 65533);
  ReleaseCapture();
  zv::vdesk::mouseMove(origin.x - 2, origin.y + 5);
  EXPECT_TRUE(takeMessages().empty());  // over the frame, not the client area

  RECT clip{origin.x, origin.y, origin.x + 200, origin.y + 100};
  ClipCursor(&clip);
  RECT in_force;
  ASSERT_TRUE(zv::vdesk::cursorClip(&in_force));
  EXPECT_EQ(in_force.right, clip.right);
  EXPECT_EQ(zv::vdesk::cursor().x, origin.x);  // pulled inside
  zv::vdesk::mouseMove(5000, 5000);
  POINT at;
  GetCursorPos(&at);
  EXPECT_EQ(at.x, origin.x + 199);
  EXPECT_EQ(at.y, origin.y + 99);
  ClipCursor(nullptr);
  EXPECT_FALSE(zv::vdesk::cursorClip(nullptr));
  SetCursorPos(3, 4);
  EXPECT_EQ(zv::vdesk::cursor().x, 3);
}

TEST_F(Windows, ASecondPressSoonAfterIsADoubleClickWhereTheClassAsks) {
  SetDoubleClickTime(60000);  // no test machine is that slow
  HWND window = makeWindow(200, 100);
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  zv::vdesk::mouseMove(origin.x + 10, origin.y + 10);
  for (int press = 0; press < 3; ++press) {
    zv::vdesk::mouseButton(0, true);
    zv::vdesk::mouseButton(0, false);
  }
  zv::vdesk::mouseButton(1, true);
  zv::vdesk::mouseMove(origin.x + 30, origin.y + 10);  // too far for a double click
  zv::vdesk::mouseButton(1, true);
  std::vector<UINT> seen;
  for (const MSG& m : takeMessages()) {
    if (m.message != WM_MOUSEMOVE) seen.push_back(m.message);
  }
  std::vector<UINT> expected = {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP,
                                WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDOWN, WM_RBUTTONDOWN};
  EXPECT_EQ(seen, expected);

  // A class without CS_DBLCLKS gets two plain presses.
  WNDCLASSA wc{};
  wc.lpfnWndProc = recordingProc;
  wc.lpszClassName = "zvnodoubleclicks";
  RegisterClassA(&wc);
  HWND plain = CreateWindowExA(0, "zvnodoubleclicks", "", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                               nullptr, nullptr);
  zv::vdesk::mouseMove(20, 20);
  zv::vdesk::mouseButton(0, true);
  zv::vdesk::mouseButton(0, true);
  seen.clear();
  for (const MSG& m : takeMessages(plain)) {
    if (m.message != WM_MOUSEMOVE && m.message != WM_ACTIVATE && m.message != WM_PAINT) seen.push_back(m.message);
  }
  EXPECT_EQ(seen, (std::vector<UINT>{WM_LBUTTONDOWN, WM_LBUTTONDOWN}));
  DestroyWindow(plain);
  UnregisterClassA("zvnodoubleclicks", nullptr);
  SetDoubleClickTime(0);
  EXPECT_EQ(GetDoubleClickTime(), 500u);
}

TEST_F(Windows, TrackMouseEventReportsTheLeaveOnce) {
  HWND window = makeWindow(200, 100);
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  zv::vdesk::mouseMove(origin.x + 1, origin.y + 1);
  TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, window, 0};
  ASSERT_TRUE(TrackMouseEvent(&track));
  zv::vdesk::mouseMove(origin.x + 2, origin.y + 1);
  zv::vdesk::mouseMove(origin.x + 500, origin.y + 1);
  zv::vdesk::mouseMove(origin.x + 3, origin.y + 1);
  std::vector<UINT> seen;
  for (const MSG& m : takeMessages()) seen.push_back(m.message);
  EXPECT_EQ(seen, (std::vector<UINT>{WM_MOUSEMOVE, WM_MOUSEMOVE, WM_MOUSELEAVE, WM_MOUSEMOVE}));
  track.cbSize = 16;
  EXPECT_FALSE(TrackMouseEvent(&track));

  // Dragging out with the capture: moves with coordinates outside, the leave only when
  // the capture is released.
  track.cbSize = sizeof track;
  ASSERT_TRUE(TrackMouseEvent(&track));
  SetCapture(window);
  zv::vdesk::mouseMove(origin.x + 300, origin.y - 4);
  std::vector<MSG> dragged = takeMessages();
  ASSERT_EQ(dragged.size(), 1u);
  EXPECT_EQ(dragged[0].message, static_cast<UINT>(WM_MOUSEMOVE));
  EXPECT_EQ(dragged[0].lParam, MAKELPARAM(300, 65532));
  ReleaseCapture();
  seen.clear();
  for (const MSG& m : takeMessages()) seen.push_back(m.message);
  EXPECT_EQ(seen, std::vector<UINT>{WM_MOUSELEAVE});
}

// MsgWaitForMultipleObjects ends on what arrives after the thread last looked at its
// queue, on its objects and on a timer of the thread; otherwise at its time-out.
constexpr DWORD kLong = 10000;  // a wait that only a fault lets run out

struct MessageWaitCase {
  const char* name;
  // Done before the wait, on the waiting thread: what is already there.
  void (*before)(HWND window);
  // Done 20 ms into the wait, on another thread.
  void (*during)(HWND window, HANDLE event);
  DWORD timeout;
  DWORD expected;  // WAIT_OBJECT_0 + 1 is the message
};

TEST_F(Windows, MessageWaitEndsOnNewMessagesObjectsAndTimers) {
  const MessageWaitCase cases[] = {
      {"nothing comes", [](HWND) {}, nullptr, 30, WAIT_TIMEOUT},
      {"an object is signalled", [](HWND) {}, [](HWND, HANDLE event) { SetEvent(event); }, kLong, WAIT_OBJECT_0},
      {"another thread posts", [](HWND) {},
       [](HWND window, HANDLE) { PostMessageA(window, WM_USER, 0, 0); }, kLong, WAIT_OBJECT_0 + 1},
      {"another thread sends", [](HWND) {},
       [](HWND window, HANDLE) { SendMessageA(window, WM_USER, 0, 0); }, kLong, WAIT_OBJECT_0 + 1},
      {"a message waits unseen", [](HWND window) { PostMessageA(window, WM_USER, 0, 0); }, nullptr, kLong,
       WAIT_OBJECT_0 + 1},
      {"a message was looked at", [](HWND window) {
         PostMessageA(window, WM_USER, 0, 0);
         MSG m;
         PeekMessageA(&m, window, 0, 0, PM_NOREMOVE);
       }, nullptr, 30, WAIT_TIMEOUT},
      {"a window needs painting", [](HWND) {},
       [](HWND window, HANDLE) { InvalidateRect(window, nullptr, FALSE); }, kLong, WAIT_OBJECT_0 + 1},
      {"a timer falls due", [](HWND window) { SetTimer(window, 7, 20, nullptr); }, nullptr, kLong, WAIT_OBJECT_0 + 1},
  };
  for (const MessageWaitCase& c : cases) {
    SCOPED_TRACE(c.name);
    HWND window = CreateWindowExA(0, kClassName, "wait", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    takeMessages();
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    c.before(window);
    std::thread other([&] {
      if (!c.during) return;
      Sleep(20);
      c.during(window, event);
    });
    // A sent message is answered while the waiting thread looks at its queue.
    DWORD woken = MsgWaitForMultipleObjects(1, &event, FALSE, c.timeout, QS_ALLINPUT);
    EXPECT_EQ(woken, c.expected);
    takeMessages();  // also answers a sender that is still waiting
    other.join();
    KillTimer(window, 7);
    DestroyWindow(window);
    CloseHandle(event);
    takeMessages();
  }
}

}  // namespace
}  // namespace zv::win32test
