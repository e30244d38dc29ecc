// USER32 input of the Win32 layer: the US keyboard layout (scan codes, virtual keys,
// ToAscii, MapVirtualKeyA), hardware key and mouse events turned into messages for
// the focus window's thread, the per-thread keyboard state applied when a message
// is taken from the queue, SendInput, and the cursor: position, clip, capture,
// shape, mouse-leave tracking.
#include "platform/win32/layer.h"

#include <program_resources.h>
#include <windows.h>

#include <strings.h>

#include <algorithm>
#include <array>
#include <cstdlib>

namespace zv::win32 {
namespace {

// Set-1 scan codes of the US layout: without the E0 prefix, then with it.
const BYTE kScanToVk[0x59] = {
    0,          VK_ESCAPE,  '1',         '2',       '3',          '4',          '5',       '6',
    '7',        '8',        '9',         '0',       VK_OEM_MINUS, VK_OEM_PLUS,  VK_BACK,   VK_TAB,
    'Q',        'W',        'E',         'R',       'T',          'Y',          'U',       'I',
    'O',        'P',        VK_OEM_4,    VK_OEM_6,  VK_RETURN,    VK_LCONTROL,  'A',       'S',
    'D',        'F',        'G',         'H',       'J',          'K',          'L',       VK_OEM_1,
    VK_OEM_7,   VK_OEM_3,   VK_LSHIFT,   VK_OEM_5,  'Z',          'X',          'C',       'V',
    'B',        'N',        'M',         VK_OEM_COMMA, VK_OEM_PERIOD, VK_OEM_2, VK_RSHIFT, VK_MULTIPLY,
    VK_LMENU,   VK_SPACE,   VK_CAPITAL,  VK_F1,     VK_F2,        VK_F3,        VK_F4,     VK_F5,
    VK_F6,      VK_F7,      VK_F8,       VK_F9,     VK_F10,       VK_NUMLOCK,   VK_SCROLL, VK_HOME,
    VK_UP,      VK_PRIOR,   VK_SUBTRACT, VK_LEFT,   VK_CLEAR,     VK_RIGHT,     VK_ADD,    VK_END,
    VK_DOWN,    VK_NEXT,    VK_INSERT,   VK_DELETE, VK_SNAPSHOT,  0,            VK_OEM_102, VK_F11,
    VK_F12};

struct ExtendedKey {
  BYTE scan, vk;
};
const ExtendedKey kExtendedKeys[] = {
    {0x1C, VK_RETURN}, {0x1D, VK_RCONTROL}, {0x35, VK_DIVIDE}, {0x37, VK_SNAPSHOT}, {0x38, VK_RMENU},
    {0x47, VK_HOME},   {0x48, VK_UP},       {0x49, VK_PRIOR},  {0x4B, VK_LEFT},     {0x4D, VK_RIGHT},
    {0x4F, VK_END},    {0x50, VK_DOWN},     {0x51, VK_NEXT},   {0x52, VK_INSERT},   {0x53, VK_DELETE},
    {0x5B, VK_LWIN},   {0x5C, VK_RWIN},     {0x5D, VK_APPS}};

// Keys whose scan code the tables above do not give directly.
struct KeyScan {
  BYTE vk;
  WORD scan;  // 0xE0xx for keys that exist only with the prefix
};
const KeyScan kVkScans[] = {
    {VK_SHIFT, 0x2A},    {VK_CONTROL, 0x1D},  {VK_MENU, 0x38},     {VK_NUMPAD0, 0x52},  {VK_NUMPAD1, 0x4F},
    {VK_NUMPAD2, 0x50},  {VK_NUMPAD3, 0x51},  {VK_NUMPAD4, 0x4B},  {VK_NUMPAD5, 0x4C},  {VK_NUMPAD6, 0x4D},
    {VK_NUMPAD7, 0x47},  {VK_NUMPAD8, 0x48},  {VK_NUMPAD9, 0x49},  {VK_DECIMAL, 0x53},  {VK_PAUSE, 0x45},
    {VK_RCONTROL, 0xE01D}, {VK_RMENU, 0xE038}, {VK_DIVIDE, 0xE035}, {VK_LWIN, 0xE05B}, {VK_RWIN, 0xE05C},
    {VK_APPS, 0xE05D}};

UINT genericVk(UINT vk) {
  switch (vk) {
    case VK_LSHIFT:
    case VK_RSHIFT: return VK_SHIFT;
    case VK_LCONTROL:
    case VK_RCONTROL: return VK_CONTROL;
    case VK_LMENU:
    case VK_RMENU: return VK_MENU;
    default: return vk;
  }
}

// The left or right key a modifier event stands for (0 for other keys).
UINT sidedVk(UINT vk, UINT scan, bool extended) {
  switch (vk) {
    case VK_SHIFT: return scan == 0x36 ? VK_RSHIFT : VK_LSHIFT;
    case VK_CONTROL: return extended ? VK_RCONTROL : VK_LCONTROL;
    case VK_MENU: return extended ? VK_RMENU : VK_LMENU;
    case VK_LSHIFT:
    case VK_RSHIFT:
    case VK_LCONTROL:
    case VK_RCONTROL:
    case VK_LMENU:
    case VK_RMENU: return vk;
    default: return 0;
  }
}

// Scan code of a virtual key, with 0xE0 in the high byte for keys that have only
// the prefixed form; 0 when the layout has no such key.
WORD scanOfVk(UINT vk) {
  for (const KeyScan& k : kVkScans) {
    if (k.vk == vk) return k.scan;
  }
  for (WORD scan = 1; scan < sizeof kScanToVk; ++scan) {
    if (kScanToVk[scan] == vk) return scan;
  }
  for (const ExtendedKey& k : kExtendedKeys) {
    if (k.vk == vk) return static_cast<WORD>(0xE000 | k.scan);
  }
  return 0;
}

UINT vkOfScan(UINT scan, bool extended) {
  if (extended) {
    for (const ExtendedKey& k : kExtendedKeys) {
      if (k.scan == scan) return k.vk;
    }
    return 0;
  }
  return scan < sizeof kScanToVk ? kScanToVk[scan] : 0;
}

// The character a key gives on the US layout, or -1. Control characters as the
// layout defines them (Ctrl+letter, Ctrl+[ and so on); Ctrl+Alt gives none.
int usCharacter(UINT vk, bool shift, bool control, bool caps) {
  if (vk >= 'A' && vk <= 'Z') {
    if (control) return static_cast<int>(vk - 'A' + 1);
    return (shift != caps) ? static_cast<int>(vk) : static_cast<int>(vk - 'A' + 'a');
  }
  if (vk >= '0' && vk <= '9') {
    if (control) {
      if (!shift) return -1;
      return vk == '2' ? 0x00 : vk == '6' ? 0x1E : -1;
    }
    return shift ? ")!@#$%^&*("[vk - '0'] : static_cast<int>(vk);
  }
  if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD9) return control ? -1 : static_cast<int>('0' + vk - VK_NUMPAD0);
  struct Row {
    BYTE vk;
    short plain, shifted, with_control, with_both;
  };
  static const Row rows[] = {
      {VK_SPACE, ' ', ' ', ' ', -1},           {VK_RETURN, 0x0D, 0x0D, 0x0A, -1},
      {VK_BACK, 0x08, 0x08, 0x7F, -1},         {VK_TAB, 0x09, 0x09, -1, -1},
      {VK_ESCAPE, 0x1B, 0x1B, 0x1B, -1},       {VK_CANCEL, -1, -1, 0x03, 0x03},
      {VK_OEM_1, ';', ':', -1, -1},            {VK_OEM_PLUS, '=', '+', -1, -1},
      {VK_OEM_COMMA, ',', '<', -1, -1},        {VK_OEM_MINUS, '-', '_', -1, 0x1F},
      {VK_OEM_PERIOD, '.', '>', -1, -1},       {VK_OEM_2, '/', '?', -1, -1},
      {VK_OEM_3, '`', '~', -1, -1},            {VK_OEM_4, '[', '{', 0x1B, -1},
      {VK_OEM_5, '\\', '|', 0x1C, -1},         {VK_OEM_6, ']', '}', 0x1D, -1},
      {VK_OEM_7, '\'', '"', -1, -1},           {VK_OEM_102, '\\', '|', 0x1C, -1},
      {VK_MULTIPLY, '*', '*', -1, -1},         {VK_ADD, '+', '+', -1, -1},
      {VK_SUBTRACT, '-', '-', -1, -1},         {VK_DECIMAL, '.', '.', -1, -1},
      {VK_DIVIDE, '/', '/', -1, -1}};
  for (const Row& row : rows) {
    if (row.vk != vk) continue;
    if (control) return shift ? row.with_both : row.with_control;
    return shift ? row.shifted : row.plain;
  }
  return -1;
}

// What an accent makes of a letter in Windows-1252: the accent's spacing form, the
// letters it combines with, and what each becomes.
struct Composition {
  uint8_t accent;
  const char* bases;
  const char* results;
};
const Composition kCompositions[] = {
    {'`', "AEIOUaeiou", "\xC0\xC8\xCC\xD2\xD9\xE0\xE8\xEC\xF2\xF9"},
    {0xB4, "AEIOUYaeiouy", "\xC1\xC9\xCD\xD3\xDA\xDD\xE1\xE9\xED\xF3\xFA\xFD"},
    {'^', "AEIOUaeiou", "\xC2\xCA\xCE\xD4\xDB\xE2\xEA\xEE\xF4\xFB"},
    {'~', "ANOano", "\xC3\xD1\xD5\xE3\xF1\xF5"},
    {0xA8, "AEIOUYaeiouy", "\xC4\xCB\xCF\xD6\xDC\x9F\xE4\xEB\xEF\xF6\xFC\xFF"},
    {0xB0, "Aa", "\xC5\xE5"},
    {0xB8, "Cc", "\xC7\xE7"}};

int composeAccent(int accent, int base) {
  for (const Composition& c : kCompositions) {
    if (c.accent != accent) continue;
    for (const char* b = c.bases; *b; ++b)
      if (*b == base) return static_cast<unsigned char>(c.results[b - c.bases]);
  }
  return -1;
}

// Sets a key's state byte: top bit down, low bit toggled on each fresh press.
void setKey(BYTE* state, UINT vk, bool down, bool fresh) {
  if (down) {
    if (fresh) state[vk] ^= 0x01;
    state[vk] |= 0x80;
  } else {
    state[vk] &= 0x7F;
  }
}

void updateKeyState(BYTE* state, UINT vk, UINT scan, bool extended, bool down, bool fresh) {
  UINT generic = genericVk(vk);
  UINT sided = sidedVk(vk, scan, extended);
  if (!sided) {
    setKey(state, generic, down, fresh);
    return;
  }
  setKey(state, sided, down, fresh);
  UINT left = generic == VK_SHIFT ? VK_LSHIFT : generic == VK_CONTROL ? VK_LCONTROL : VK_LMENU;
  bool any = ((state[left] | state[left + 1]) & 0x80) != 0;
  state[generic] = static_cast<BYTE>((state[generic] & 0x01) | (any ? 0x80 : 0));
}

WPARAM mouseKeys(const BYTE* keys) {
  WPARAM mk = 0;
  if (keys[VK_LBUTTON] & 0x80) mk |= MK_LBUTTON;
  if (keys[VK_RBUTTON] & 0x80) mk |= MK_RBUTTON;
  if (keys[VK_MBUTTON] & 0x80) mk |= MK_MBUTTON;
  if (keys[VK_XBUTTON1] & 0x80) mk |= MK_XBUTTON1;
  if (keys[VK_XBUTTON2] & 0x80) mk |= MK_XBUTTON2;
  if (keys[VK_SHIFT] & 0x80) mk |= MK_SHIFT;
  if (keys[VK_CONTROL] & 0x80) mk |= MK_CONTROL;
  return mk;
}

// The window that gets mouse messages at the cursor: the capture, else the window
// whose client area holds the cursor.
Window* mouseTargetLocked() {
  Desktop& d = desktop();
  if (d.capture) return d.capture;
  Window* window = windowAtLocked(d.cursor);
  if (!window) return nullptr;
  RECT client = clientRectOnScreen(window);
  return PtInRect(&client, d.cursor) ? window : nullptr;
}

LPARAM clientPoint(Window* window, POINT screen) {
  RECT client = clientRectOnScreen(window);
  return MAKELPARAM(static_cast<WORD>(static_cast<int16_t>(screen.x - client.left)),
                    static_cast<WORD>(static_cast<int16_t>(screen.y - client.top)));
}

// The leave notice waits while the tracked window has the capture: the moves outside
// still come to it, and the notice comes when the capture goes.
void checkLeaveLocked() {
  Desktop& d = desktop();
  if (!d.tracking || d.capture == d.tracking) return;
  RECT client = clientRectOnScreen(d.tracking);
  Window* under = windowAtLocked(d.cursor);
  if (under != d.tracking || !PtInRect(&client, d.cursor)) {
    postLocked(d.tracking, WM_MOUSELEAVE, 0, 0);
    d.tracking = nullptr;
  }
}

POINT clampCursorLocked(int32_t x, int32_t y) {
  Desktop& d = desktop();
  DisplayMode screen = d.backend ? d.backend->currentMode() : DisplayMode{0, 0, 0, 0};
  x = std::clamp(x, 0, std::max(screen.width - 1, 0));
  y = std::clamp(y, 0, std::max(screen.height - 1, 0));
  if (d.clipped) {
    x = std::clamp(x, d.clip.left, std::max(d.clip.right - 1, d.clip.left));
    y = std::clamp(y, d.clip.top, std::max(d.clip.bottom - 1, d.clip.top));
  }
  return POINT{x, y};
}

void injectKeyLocked(UINT vk, UINT scan, bool extended, bool down, int character = kLayoutCharacter) {
  Desktop& d = desktop();
  UINT generic = genericVk(vk);
  if (scan == 0) scan = scanOfVk(sidedVk(vk, 0, extended) ? sidedVk(vk, 0, extended) : vk) & 0xFF;
  if (vk == VK_RCONTROL || vk == VK_RMENU) extended = true;
  UINT sided = sidedVk(vk, scan, extended);
  BYTE* keys = d.async_keys;
  bool was_down = (keys[sided ? sided : generic] & 0x80) != 0;
  updateKeyState(keys, vk, scan, extended, down, !was_down);
  d.keyboard_device[(scan & 0x7F) | (extended ? 0x80 : 0)] = down ? 0x80 : 0;
  bool alt = (keys[VK_MENU] & 0x80) != 0;
  bool control = (keys[VK_CONTROL] & 0x80) != 0;
  UINT message;
  if (generic == VK_MENU) {
    // Alt released after another key is an ordinary key-up; alone it is a system one.
    if (down) {
      if (!was_down) d.alt_alone = true;
      message = control ? WM_KEYDOWN : WM_SYSKEYDOWN;
    } else {
      message = d.alt_alone && !control ? WM_SYSKEYUP : WM_KEYUP;
      d.alt_alone = false;
    }
  } else {
    if (down) d.alt_alone = false;
    bool system = (alt && !control) || generic == VK_F10;
    message = down ? (system ? WM_SYSKEYDOWN : WM_KEYDOWN) : (system ? WM_SYSKEYUP : WM_KEYUP);
  }
  uint32_t bits = 1u | (scan & 0xFF) << 16 | (extended ? 1u << 24 : 0) | (alt ? 1u << 29 : 0);
  if (down) {
    bits |= was_down ? 1u << 30 : 0;
  } else {
    bits |= 1u << 30 | 1u << 31;
  }
  if (d.foreground) {
    postInputLocked(d.foreground->owner, nullptr, message, generic, static_cast<LPARAM>(bits),
                    down ? character : kLayoutCharacter);
  }
}

void mouseMoveLocked(int32_t x, int32_t y) {
  Desktop& d = desktop();
  POINT p = clampCursorLocked(x, y);
  if (p.x == d.cursor.x && p.y == d.cursor.y) return;
  d.cursor = p;
  checkLeaveLocked();
  if (Window* target = mouseTargetLocked()) {
    postInputLocked(target->owner, target->handle(), WM_MOUSEMOVE, mouseKeys(d.async_keys), clientPoint(target, p));
  }
}

void mouseButtonLocked(int32_t button, bool down) {
  static const BYTE vks[5] = {VK_LBUTTON, VK_RBUTTON, VK_MBUTTON, VK_XBUTTON1, VK_XBUTTON2};
  static const UINT downs[5] = {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN, WM_XBUTTONDOWN, WM_XBUTTONDOWN};
  static const UINT ups[5] = {WM_LBUTTONUP, WM_RBUTTONUP, WM_MBUTTONUP, WM_XBUTTONUP, WM_XBUTTONUP};
  if (button < 0 || button > 4) return;
  Desktop& d = desktop();
  setKey(d.async_keys, vks[button], down, !(d.async_keys[vks[button]] & 0x80));
  Window* target = mouseTargetLocked();
  if (!target) return;
  WPARAM wparam = mouseKeys(d.async_keys);
  if (button >= 3) wparam |= static_cast<WPARAM>(button == 3 ? XBUTTON1 : XBUTTON2) << 16;
  UINT message = down ? downs[button] : ups[button];
  if (down) {
    // A second press of the same button, soon and near the first, in a window whose
    // class asks for it, is a double click; the press after that starts afresh.
    auto& last = d.last_click;
    int64_t now = nowMs();
    bool twice = last.message == message && last.window == target && now - last.time_ms <= d.double_click_ms &&
                 std::abs(d.cursor.x - last.at.x) <= 2 && std::abs(d.cursor.y - last.at.y) <= 2 &&
                 (target->window_class->wc.style & CS_DBLCLKS) &&
                 (button < 3 || HIWORD(wparam) == last.xbutton);
    if (twice) {
      message += 2;  // WM_xBUTTONDBLCLK
      last.message = 0;
    } else {
      last.message = message;
      last.window = target;
      last.at = d.cursor;
      last.time_ms = now;
      last.xbutton = HIWORD(wparam);
    }
  }
  postInputLocked(target->owner, target->handle(), message, wparam, clientPoint(target, d.cursor));
}

void mouseWheelLocked(int32_t delta, bool horizontal) {
  Desktop& d = desktop();
  Window* target = mouseTargetLocked();
  if (!target) target = d.foreground;
  if (!target) return;
  WPARAM wparam = mouseKeys(d.async_keys) | static_cast<WPARAM>(static_cast<WORD>(static_cast<int16_t>(delta))) << 16;
  postInputLocked(target->owner, target->handle(), horizontal ? WM_MOUSEHWHEEL : WM_MOUSEWHEEL, wparam,
                  MAKELPARAM(static_cast<WORD>(d.cursor.x), static_cast<WORD>(d.cursor.y)));
}

struct StockCursor {
  int unused;
};
StockCursor g_cursors[4];  // arrow, I-beam, wait, cross
StockCursor g_icons[6];    // application, hand, question, exclamation, asterisk, winlogo

}  // namespace

// Every stock icon shows the application's: a white window with a dark blue title bar
// and a black frame, on a transparent ground.
const uint32_t* iconPixels(HICON icon) {
  static const std::array<uint32_t, 32 * 32> picture = [] {
    std::array<uint32_t, 32 * 32> p{};
    for (int y = 3; y <= 28; ++y) {
      for (int x = 2; x <= 29; ++x) {
        const bool frame = x == 2 || x == 29 || y == 3 || y == 28;
        p[static_cast<size_t>(y) * 32 + static_cast<size_t>(x)] = frame ? 0xFF000000 : y <= 8 ? 0xFF000080 : 0xFFFFFFFF;
      }
    }
    return p;
  }();
  const auto* record = reinterpret_cast<const StockCursor*>(icon);
  if (record >= std::begin(g_icons) && record < std::end(g_icons)) return picture.data();
  size_t count = 0;
  const ResourceIcon* icons = programIcons ? programIcons(&count) : nullptr;
  const auto* resource = reinterpret_cast<const ResourceIcon*>(icon);
  return icons && resource >= icons && resource < icons + count ? resource->pixels : nullptr;
}

void setCursorPosLocked(int32_t x, int32_t y, bool from_hardware) {
  Desktop& d = desktop();
  mouseMoveLocked(x, y);
  if (!from_hardware && d.backend && d.backend->warpCursor) d.backend->warpCursor(d.cursor.x, d.cursor.y);
}

void applyKeyStateLocked(ThreadQueue* queue, const MSG& msg) {
  BYTE* state = queue->key_state;
  switch (msg.message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYUP: {
      auto bits = static_cast<uint32_t>(msg.lParam);
      bool down = !(bits & (1u << 31));
      updateKeyState(state, static_cast<UINT>(msg.wParam & 0xFF), (bits >> 16) & 0xFF, (bits >> 24) & 1, down,
                     down && !(bits & (1u << 30)));
      break;
    }
    case WM_LBUTTONDOWN: setKey(state, VK_LBUTTON, true, true); break;
    case WM_LBUTTONUP: setKey(state, VK_LBUTTON, false, false); break;
    case WM_RBUTTONDOWN: setKey(state, VK_RBUTTON, true, true); break;
    case WM_RBUTTONUP: setKey(state, VK_RBUTTON, false, false); break;
    case WM_MBUTTONDOWN: setKey(state, VK_MBUTTON, true, true); break;
    case WM_MBUTTONUP: setKey(state, VK_MBUTTON, false, false); break;
    case WM_XBUTTONDOWN:
    case WM_XBUTTONUP:
      setKey(state, HIWORD(msg.wParam) == XBUTTON1 ? VK_XBUTTON1 : VK_XBUTTON2, msg.message == WM_XBUTTONDOWN, true);
      break;
    default: break;
  }
}

int deadKeyCharactersLocked(ThreadQueue* queue, int character, int out[2]) {
  const int pending = queue->dead_accent;
  if (character >= kDeadKey) {
    const int accent = character & 0xFF;
    if (pending) {  // two dead keys: both accents as characters
      queue->dead_accent = 0;
      out[0] = pending;
      out[1] = accent;
      return 2;
    }
    queue->dead_accent = accent;
    out[0] = accent;
    return -1;
  }
  out[0] = character;
  if (!pending) return 1;
  queue->dead_accent = 0;
  const int composed = composeAccent(pending, character);
  if (character == ' ' || composed >= 0) {  // the space gives the accent alone
    out[0] = character == ' ' ? pending : composed;
    return 1;
  }
  out[0] = pending;
  out[1] = character;
  return 2;
}

void backendKey(uint16_t virtual_key, uint8_t scan, bool extended, bool down, int character) {
  std::lock_guard<std::mutex> hold(userLock());
  injectKeyLocked(virtual_key, scan, extended, down, character);
}

void backendMouseMove(int32_t screen_x, int32_t screen_y) {
  std::lock_guard<std::mutex> hold(userLock());
  mouseMoveLocked(screen_x, screen_y);
}

void backendMouseButton(int32_t button, bool down) {
  std::lock_guard<std::mutex> hold(userLock());
  mouseButtonLocked(button, down);
}

void backendMouseWheel(int32_t delta, bool horizontal) {
  std::lock_guard<std::mutex> hold(userLock());
  mouseWheelLocked(delta, horizontal);
}

int usToAscii(UINT virtual_key, UINT scan_code, const BYTE* key_state, LPWORD characters) {
  if (!key_state || !characters || (scan_code & 0x8000)) return 0;  // key releases give nothing
  bool shift = (key_state[VK_SHIFT] | key_state[VK_LSHIFT] | key_state[VK_RSHIFT]) & 0x80;
  bool control = (key_state[VK_CONTROL] | key_state[VK_LCONTROL] | key_state[VK_RCONTROL]) & 0x80;
  bool alt = (key_state[VK_MENU] | key_state[VK_LMENU] | key_state[VK_RMENU]) & 0x80;
  bool caps = key_state[VK_CAPITAL] & 0x01;
  if (control && alt) return 0;  // AltGr: the US layout has nothing there
  int c = usCharacter(virtual_key & 0xFF, shift, control, caps);
  if (c < 0) return 0;
  *characters = static_cast<WORD>(c);
  return 1;
}

}  // namespace zv::win32

using namespace zv::win32;

extern "C" {

int ToAscii(UINT virtual_key, UINT scan_code, const BYTE* key_state, LPWORD characters, UINT) {
  if (!key_state || !characters || (scan_code & 0x8000)) return 0;  // key releases give nothing
  // The key the thread has just taken, when the backend's layout gave its character:
  // the active layout's answer (AltGr characters and dead keys among them); else the
  // US layout's. Either goes through the dead-key state TranslateMessage also keeps.
  std::lock_guard<std::mutex> hold(userLock());
  ThreadQueue* queue = currentQueueLocked();
  const MSG& last = queue->last_key;
  int character = -1;
  if (queue->last_key_character != kLayoutCharacter && last.wParam == (virtual_key & 0xFF) &&
      ((static_cast<UINT>(last.lParam) >> 16) & 0xFF) == (scan_code & 0xFF)) {
    if (queue->last_key_character == kNoCharacter) return 0;
    character = queue->last_key_character;
  } else {
    WORD produced = 0;
    if (usToAscii(virtual_key, scan_code, key_state, &produced) != 1) return 0;
    character = produced;
  }
  int out[2];
  const int count = deadKeyCharactersLocked(queue, character, out);
  characters[0] = static_cast<WORD>(out[0]);
  if (count == 2) characters[1] = static_cast<WORD>(out[1]);
  return count;
}

UINT MapVirtualKeyA(UINT code, UINT map_type) {
  switch (map_type) {
    case MAPVK_VK_TO_VSC: return scanOfVk(code) & 0xFF;
    case MAPVK_VK_TO_VSC_EX: return scanOfVk(code);
    case MAPVK_VSC_TO_VK: return genericVk(vkOfScan(code & 0xFF, (code & 0xFF00) == 0xE000));
    case MAPVK_VSC_TO_VK_EX: return vkOfScan(code & 0xFF, (code & 0xFF00) == 0xE000);
    case MAPVK_VK_TO_CHAR: {
      {
        // The active layout's character of the key at the virtual key's position; a
        // key just taken that the backend reported dead is dead.
        std::lock_guard<std::mutex> hold(userLock());
        const ThreadQueue* queue = currentQueueLocked();
        if (queue->last_key_character >= kDeadKey && queue->last_key.wParam == code)
          return 0x80000000u | static_cast<UINT>(queue->last_key_character & 0xFF);
        const Backend* backend = desktop().backend;
        WORD scan = scanOfVk(code);
        if (backend && backend->layoutCharacter && scan != 0) {
          int32_t c = backend->layoutCharacter(static_cast<uint8_t>(scan & 0xFF), (scan >> 8) == 0xE0);
          if (c >= kDeadKey) return 0x80000000u | static_cast<UINT>(c & 0xFF);
          if (c >= 0) return static_cast<UINT>(c);
        }
      }
      if (code >= 'A' && code <= 'Z') return code;
      int c = usCharacter(code, false, false, false);
      return c < 0 ? 0 : static_cast<UINT>(c);
    }
    default: return 0;
  }
}

BOOL GetKeyboardState(PBYTE key_state) {
  if (!key_state) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> hold(userLock());
  std::copy(std::begin(currentQueueLocked()->key_state), std::end(currentQueueLocked()->key_state), key_state);
  return TRUE;
}

SHORT GetKeyState(int virtual_key) {
  std::lock_guard<std::mutex> hold(userLock());
  BYTE state = currentQueueLocked()->key_state[virtual_key & 0xFF];
  return static_cast<SHORT>(((state & 0x80) ? 0xFF80 : 0) | (state & 0x01));
}

SHORT GetAsyncKeyState(int virtual_key) {
  std::lock_guard<std::mutex> hold(userLock());
  return static_cast<SHORT>((desktop().async_keys[virtual_key & 0xFF] & 0x80) ? 0x8000 : 0);
}

UINT SendInput(UINT count, LPINPUT inputs, int size) {
  if (!inputs || size != static_cast<int>(sizeof(INPUT))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::lock_guard<std::mutex> hold(userLock());
  Desktop& d = desktop();
  if (!d.backend) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  for (UINT i = 0; i < count; ++i) {
    const INPUT& input = inputs[i];
    if (input.type == INPUT_KEYBOARD) {
      const KEYBDINPUT& k = input.ki;
      if (k.dwFlags & KEYEVENTF_UNICODE) continue;  // no packet keys
      bool extended = (k.dwFlags & KEYEVENTF_EXTENDEDKEY) != 0;
      UINT vk = k.wVk;
      UINT scan = k.wScan & 0xFF;
      if (k.dwFlags & KEYEVENTF_SCANCODE) vk = vkOfScan(scan, extended);
      if (vk == 0) continue;
      injectKeyLocked(vk, scan, extended, !(k.dwFlags & KEYEVENTF_KEYUP));
    } else if (input.type == INPUT_MOUSE) {
      const MOUSEINPUT& m = input.mi;
      if (m.dwFlags & MOUSEEVENTF_MOVE) {
        if (m.dwFlags & MOUSEEVENTF_ABSOLUTE) {
          DisplayMode screen = d.backend->currentMode();
          mouseMoveLocked(static_cast<int32_t>(static_cast<int64_t>(m.dx) * screen.width / 65536),
                          static_cast<int32_t>(static_cast<int64_t>(m.dy) * screen.height / 65536));
        } else {
          mouseMoveLocked(d.cursor.x + m.dx, d.cursor.y + m.dy);
        }
      }
      if (m.dwFlags & MOUSEEVENTF_LEFTDOWN) mouseButtonLocked(0, true);
      if (m.dwFlags & MOUSEEVENTF_LEFTUP) mouseButtonLocked(0, false);
      if (m.dwFlags & MOUSEEVENTF_RIGHTDOWN) mouseButtonLocked(1, true);
      if (m.dwFlags & MOUSEEVENTF_RIGHTUP) mouseButtonLocked(1, false);
      if (m.dwFlags & MOUSEEVENTF_MIDDLEDOWN) mouseButtonLocked(2, true);
      if (m.dwFlags & MOUSEEVENTF_MIDDLEUP) mouseButtonLocked(2, false);
      if (m.dwFlags & (MOUSEEVENTF_XDOWN | MOUSEEVENTF_XUP)) {
        int button = (m.mouseData & XBUTTON2) ? 4 : 3;
        mouseButtonLocked(button, (m.dwFlags & MOUSEEVENTF_XDOWN) != 0);
      }
      if (m.dwFlags & MOUSEEVENTF_WHEEL) mouseWheelLocked(static_cast<int32_t>(m.mouseData), false);
      if (m.dwFlags & MOUSEEVENTF_HWHEEL) mouseWheelLocked(static_cast<int32_t>(m.mouseData), true);
    }
  }
  return count;
}

UINT GetDoubleClickTime(void) {
  std::lock_guard<std::mutex> hold(userLock());
  return desktop().double_click_ms;
}

BOOL SetDoubleClickTime(UINT milliseconds) {
  std::lock_guard<std::mutex> hold(userLock());
  desktop().double_click_ms = milliseconds ? milliseconds : 500;
  return TRUE;
}

BOOL GetCursorPos(LPPOINT point) {
  if (!point) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> hold(userLock());
  *point = desktop().cursor;
  return TRUE;
}

BOOL SetCursorPos(int x, int y) {
  std::lock_guard<std::mutex> hold(userLock());
  if (!desktop().backend) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  setCursorPosLocked(x, y, false);
  return TRUE;
}

BOOL ClipCursor(const RECT* rect) {
  std::lock_guard<std::mutex> hold(userLock());
  Desktop& d = desktop();
  bool show = d.backend && d.backend->clipCursor;
  if (!rect) {
    if (d.clipped && show) d.backend->clipCursor(nullptr);
    d.clipped = false;
    return TRUE;
  }
  DisplayMode screen = d.backend ? d.backend->currentMode() : DisplayMode{0, 0, 0, 0};
  RECT clip{std::max<LONG>(rect->left, 0), std::max<LONG>(rect->top, 0), std::min<LONG>(rect->right, screen.width),
            std::min<LONG>(rect->bottom, screen.height)};
  if (clip.right <= clip.left || clip.bottom <= clip.top) {
    if (d.clipped && show) d.backend->clipCursor(nullptr);
    d.clipped = false;
    return TRUE;
  }
  d.clipped = true;
  d.clip = clip;
  setCursorPosLocked(d.cursor.x, d.cursor.y, false);  // brings the cursor inside
  if (show) d.backend->clipCursor(&d.clip);
  return TRUE;
}

BOOL GetClipCursor(LPRECT rect) {
  if (!rect) return FALSE;
  std::lock_guard<std::mutex> hold(userLock());
  Desktop& d = desktop();
  if (d.clipped) {
    *rect = d.clip;
  } else {
    DisplayMode screen = d.backend ? d.backend->currentMode() : DisplayMode{0, 0, 0, 0};
    *rect = RECT{0, 0, screen.width, screen.height};
  }
  return TRUE;
}

HWND SetCapture(HWND handle) {
  std::lock_guard<std::mutex> hold(userLock());
  Desktop& d = desktop();
  Window* window = windowLocked(handle);
  Window* previous = d.capture;
  if (!window) return nullptr;
  d.capture = window;
  return previous && previous->owner == GetCurrentThreadId() ? previous->handle() : nullptr;
}

BOOL ReleaseCapture(void) {
  std::lock_guard<std::mutex> hold(userLock());
  desktop().capture = nullptr;
  checkLeaveLocked();
  return TRUE;
}

HWND GetCapture(void) {
  std::lock_guard<std::mutex> hold(userLock());
  Window* window = desktop().capture;
  return window && window->owner == GetCurrentThreadId() ? window->handle() : nullptr;
}

HCURSOR SetCursor(HCURSOR cursor) {
  std::lock_guard<std::mutex> hold(userLock());
  Desktop& d = desktop();
  HCURSOR previous = d.cursor_shape;
  d.cursor_shape = cursor;
  if (previous != cursor && d.backend && d.backend->setCursorVisible) {
    d.backend->setCursorVisible(cursor != nullptr && d.cursor_count >= 0);
  }
  return previous;
}

int ShowCursor(BOOL show) {
  std::lock_guard<std::mutex> hold(userLock());
  Desktop& d = desktop();
  d.cursor_count += show ? 1 : -1;
  if (d.backend && d.backend->setCursorVisible) {
    d.backend->setCursorVisible(d.cursor_shape != nullptr && d.cursor_count >= 0);
  }
  return d.cursor_count;
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) {
  auto id = reinterpret_cast<uintptr_t>(name);
  if (!instance && IS_INTRESOURCE(name) && id >= 32512 && id <= 32515) {
    return reinterpret_cast<HCURSOR>(&g_cursors[id - 32512]);
  }
  SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);  // the modules carry no resources
  return nullptr;
}

HICON LoadIconA(HINSTANCE instance, LPCSTR name) {
  auto id = reinterpret_cast<uintptr_t>(name);
  if (!instance && IS_INTRESOURCE(name) && id >= 32512 && id <= 32517) {
    return reinterpret_cast<HICON>(&g_icons[id - 32512]);
  }
  // A named icon of the program's module, from the resources the program defines.
  if (instance && instance == GetModuleHandleA(nullptr) && !IS_INTRESOURCE(name) && programIcons) {
    size_t count = 0;
    const ResourceIcon* icons = programIcons(&count);
    for (size_t i = 0; i < count; ++i) {
      if (strcasecmp(icons[i].name, name) == 0) return reinterpret_cast<HICON>(const_cast<ResourceIcon*>(&icons[i]));
    }
  }
  SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return nullptr;
}

BOOL TrackMouseEvent(LPTRACKMOUSEEVENT track) {
  if (!track || track->cbSize != sizeof(TRACKMOUSEEVENT)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> hold(userLock());
  Desktop& d = desktop();
  if (track->dwFlags & TME_QUERY) {
    track->dwFlags = d.tracking ? TME_LEAVE : 0;
    track->hwndTrack = d.tracking ? d.tracking->handle() : nullptr;
    track->dwHoverTime = 0;
    return TRUE;
  }
  Window* window = validWindowLocked(track->hwndTrack);
  if (!window) return FALSE;
  if (!(track->dwFlags & TME_LEAVE)) return TRUE;  // hover is not reported
  if (track->dwFlags & TME_CANCEL) {
    if (d.tracking == window) d.tracking = nullptr;
    return TRUE;
  }
  d.tracking = window;
  checkLeaveLocked();  // already outside: the leave comes at once, as on Windows
  return TRUE;
}

}  // extern "C"
