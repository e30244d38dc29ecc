// The "OpenGL" window driver: gives a program that draws with OpenGL itself a window
// with a current rendering context. It shows nothing of the framebuffer; present
// swaps the buffers and pumpEvents refreshes the key states and handles the window's
// messages on the program's thread (there is no update thread, so lock and unlock
// have nothing to exclude). OpenGL and WGL come from "opengl32.dll" at run time.
// The window is made once and only restyled on a switch between window and full
// screen, so the context survives it.
#include <windows.h>
#include <GL/gl.h>
#include <GL/wglext.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "gfx/screen_state.h"
#include "gfx/win32/drivers.h"
#include "common/key_translation.h"
#include "gfx/win32/window.h"

#ifndef GL_MULTISAMPLE
#define GL_MULTISAMPLE 0x809D
#endif

namespace zv {

namespace {

constexpr int32_t WINDOW_STENCIL = 0x10000;
constexpr int32_t WINDOW_ACCUMULATION = 0x20000;
constexpr int32_t WINDOW_MULTISAMPLE = 0x40000;
constexpr size_t EXTENSIONS_SIZE = 16384;
constexpr DWORD DESCRIPTOR_FLAGS = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
constexpr DWORD PROBE_STYLE = WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
constexpr DWORD WINDOW_STYLE = WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
constexpr DWORD FRAME_BITS = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;

using wglCreateContextFunction = HGLRC(WINAPI*)(HDC);
using wglMakeCurrentFunction = BOOL(WINAPI*)(HDC, HGLRC);
using wglDeleteContextFunction = BOOL(WINAPI*)(HGLRC);
using wglGetProcAddressFunction = PROC(WINAPI*)(LPCSTR);

// The fifteen OpenGL entry points the driver resolves, in the order it resolves them.
constexpr const char* GL_FUNCTION_NAMES[] = {
    "glEnable",      "glDisable",   "glGetString", "glViewport",   "glMatrixMode",
    "glLoadIdentity", "glOrtho",    "glShadeModel", "glDepthMask", "glClearColor",
    "glClear",       "glGenTextures", "glDeleteTextures", "glBindTexture", "glTexImage2D",
};
constexpr size_t GL_FUNCTION_COUNT = sizeof GL_FUNCTION_NAMES / sizeof GL_FUNCTION_NAMES[0];
constexpr size_t GL_ENABLE = 0, GL_GET_STRING = 2;
using glEnableFunction = void(APIENTRY*)(GLenum);
using glGetStringFunction = const GLubyte*(APIENTRY*)(GLenum);

// Pixel-format settings: 0 means not chosen.
struct FormatSettings {
  int32_t colour, red, green, blue, alpha, depth, stencil, accum, accum_red, accum_green, accum_blue, accum_alpha,
      samples;
};

struct OpenGlState {
  HMODULE gl_module = nullptr;
  wglCreateContextFunction wglCreateContext = nullptr;
  wglMakeCurrentFunction wglMakeCurrent = nullptr;
  wglDeleteContextFunction wglDeleteContext = nullptr;
  wglGetProcAddressFunction wglGetProcAddress = nullptr;
  PFNWGLGETEXTENSIONSSTRINGARBPROC wglGetExtensionsStringARB = nullptr;
  PFNWGLGETEXTENSIONSSTRINGEXTPROC wglGetExtensionsStringEXT = nullptr;
  PFNWGLCHOOSEPIXELFORMATARBPROC wglChoosePixelFormatARB = nullptr;
  FARPROC gl_functions[GL_FUNCTION_COUNT] = {};
  char gl_extensions[EXTENSIONS_SIZE] = {};
  HDC gl_dc = nullptr;
  HGLRC gl_context = nullptr;
  FormatSettings settings{};
  bool display_changed = false;  // the display mode is ours to restore
};

OpenGlState gl;

template <class Function>
Function entryPoint(FARPROC address) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

template <class Function>
Function glFunction(size_t index) {
  return entryPoint<Function>(gl.gl_functions[index]);
}

// An extension counts as listed when its name stands in the list as a whole word.
bool extensionListed(const char* list, std::string_view name) {
  const std::string_view text(list);
  for (size_t at = text.find(name); at != std::string_view::npos; at = text.find(name, at + 1)) {
    const size_t end = at + name.size();
    if ((at == 0 || text[at - 1] == ' ') && (end == text.size() || text[end] == ' ')) return true;
  }
  return false;
}

// The OpenGL extensions, then the WGL ones, cut to fit the buffer.
void collectExtensions(const char* wgl_extensions) {
  std::memset(gl.gl_extensions, 0, sizeof gl.gl_extensions);
  const auto* opengl = reinterpret_cast<const char*>(glFunction<glGetStringFunction>(GL_GET_STRING)(GL_EXTENSIONS));
  size_t length = 0;
  auto append = [&](const char* text) {
    for (; text && *text && length + 1 < sizeof gl.gl_extensions; ++text) gl.gl_extensions[length++] = *text;
  };
  append(opengl);
  // A blank keeps the last OpenGL name and the first WGL name apart.
  if (length > 0 && gl.gl_extensions[length - 1] != ' ' && wgl_extensions && *wgl_extensions) append(" ");
  append(wgl_extensions);
}

// The window set-up, at open and at every switch between window and full screen:
// the display mode, the style and the place of the one window, shown and in front.
int32_t openGlSetUp() {
  WindowState& w = windowState();
  MONITORINFOEXA monitor{};
  const bool have_monitor = monitorInfo(&monitor);
  DWORD style = static_cast<DWORD>(GetWindowLongA(w.window, GWL_STYLE));
  int32_t x, y, outer_width, outer_height;
  UINT position_flags;
  if (w.flags & WINDOW_FULL_SCREEN) {
    if (changeToFullScreenMode(have_monitor ? &monitor : nullptr) != DISP_CHANGE_SUCCESSFUL) return -1;
    gl.display_changed = true;
    style = (style & ~FRAME_BITS) | WS_POPUP;
    x = have_monitor ? monitor.rcMonitor.left : 0;
    y = have_monitor ? monitor.rcMonitor.top : 0;
    outer_width = w.width;
    outer_height = w.height;
    position_flags = SWP_FRAMECHANGED;
  } else {
    if (w.flags & WINDOW_NO_FRAME) {
      style = (style & ~FRAME_BITS) | WS_POPUP;
    } else {
      style = (style | FRAME_BITS) & ~static_cast<DWORD>(WS_POPUP | WS_THICKFRAME);
      if (w.flags & WINDOW_NO_SWITCH) style &= ~static_cast<DWORD>(WS_MAXIMIZEBOX);
    }
    RECT outer{0, 0, w.width, w.height};
    AdjustWindowRect(&outer, style, FALSE);
    outer_width = outer.right - outer.left;
    outer_height = outer.bottom - outer.top;
    const POINT at = centredPosition(have_monitor ? &monitor : nullptr, outer_width, outer_height);
    x = at.x;
    y = at.y;
    position_flags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED | SWP_NOOWNERZORDER | SWP_NOSENDCHANGING;
  }
  SetWindowLongA(w.window, GWL_STYLE, static_cast<LONG>(style));
  SetWindowPos(w.window, nullptr, x, y, outer_width, outer_height, position_flags);
  ShowWindow(w.window, SW_SHOW);
  SetForegroundWindow(w.window);
  w.is_active = 1;
  // 0 and 1 stand for the hardware's default rate: not a rate to wait by.
  const int rate = gl.gl_dc ? GetDeviceCaps(gl.gl_dc, VREFRESH) : 0;
  if (ScreenState* s = currentScreen()) s->refresh_rate = rate > 1 ? rate : 0;
  return 0;
}

void restoreDisplayMode() {
  if (!gl.display_changed) return;
  ChangeDisplaySettingsA(nullptr, 0);
  gl.display_changed = false;
}

// Before a switch: the window is hidden and the desktop's mode comes back; the
// context stays.
void openGlHide() {
  restoreDisplayMode();
  if (windowState().window) ShowWindow(windowState().window, SW_HIDE);
}

// Each size of the settings with its field of the pixel format descriptor and its
// attribute of wglChoosePixelFormatARB, in the order of the attribute list; an
// optional size of 0 is left out of that list.
struct FormatField {
  int32_t FormatSettings::*setting;
  BYTE PIXELFORMATDESCRIPTOR::*descriptor;
  int attribute;
  bool optional;
};
constexpr FormatField FORMAT_FIELDS[] = {
    {&FormatSettings::colour, &PIXELFORMATDESCRIPTOR::cColorBits, WGL_COLOR_BITS_ARB, false},
    {&FormatSettings::red, &PIXELFORMATDESCRIPTOR::cRedBits, WGL_RED_BITS_ARB, false},
    {&FormatSettings::green, &PIXELFORMATDESCRIPTOR::cGreenBits, WGL_GREEN_BITS_ARB, false},
    {&FormatSettings::blue, &PIXELFORMATDESCRIPTOR::cBlueBits, WGL_BLUE_BITS_ARB, false},
    {&FormatSettings::alpha, &PIXELFORMATDESCRIPTOR::cAlphaBits, WGL_ALPHA_BITS_ARB, false},
    {&FormatSettings::depth, &PIXELFORMATDESCRIPTOR::cDepthBits, WGL_DEPTH_BITS_ARB, false},
    {&FormatSettings::accum, &PIXELFORMATDESCRIPTOR::cAccumBits, WGL_ACCUM_BITS_ARB, true},
    {&FormatSettings::accum_red, &PIXELFORMATDESCRIPTOR::cAccumRedBits, WGL_ACCUM_RED_BITS_ARB, true},
    {&FormatSettings::accum_green, &PIXELFORMATDESCRIPTOR::cAccumGreenBits, WGL_ACCUM_GREEN_BITS_ARB, true},
    {&FormatSettings::accum_blue, &PIXELFORMATDESCRIPTOR::cAccumBlueBits, WGL_ACCUM_BLUE_BITS_ARB, true},
    {&FormatSettings::accum_alpha, &PIXELFORMATDESCRIPTOR::cAccumAlphaBits, WGL_ACCUM_ALPHA_BITS_ARB, true},
    {&FormatSettings::stencil, &PIXELFORMATDESCRIPTOR::cStencilBits, WGL_STENCIL_BITS_ARB, true},
};

void fillDescriptor(PIXELFORMATDESCRIPTOR* d, const FormatSettings& f) {
  std::memset(d, 0, sizeof *d);
  d->nSize = sizeof *d;
  d->nVersion = 1;
  d->dwFlags = DESCRIPTOR_FLAGS;
  d->iPixelType = PFD_TYPE_RGBA;
  for (const FormatField& field : FORMAT_FIELDS) d->*field.descriptor = static_cast<BYTE>(f.*field.setting);
}

// Channel sizes by size class: 1, 2, 3 and 4 bytes a pixel.
constexpr int32_t CHANNEL_BITS[4] = {0, 5, 8, 8};
constexpr int32_t ALPHA_BITS[4] = {0, 0, 0, 8};

int32_t sizeClass(int32_t bits) {
  const int32_t k = (bits + 7) / 8 - 1;
  return k > 3 ? 3 : k;
}

// The channel sizes of a size class, where still 0.
void fillChannels(int32_t& red, int32_t& green, int32_t& blue, int32_t& alpha, int32_t size_class) {
  for (int32_t* channel : {&red, &green, &blue})
    if (*channel == 0) *channel = CHANNEL_BITS[size_class];
  if (alpha == 0) alpha = ALPHA_BITS[size_class];
}

void fillDefaults(FormatSettings* f, int32_t depth, int32_t flags) {
  if (f->colour == 0) f->colour = f->red + f->green + f->blue + f->alpha;
  if (f->colour == 0) f->colour = depth;
  const int32_t k = sizeClass(f->colour);
  if (k >= 0) fillChannels(f->red, f->green, f->blue, f->alpha, k);
  if (f->accum == 0) f->accum = f->accum_red + f->accum_green + f->accum_blue + f->accum_alpha;
  int32_t accum_class = sizeClass(f->accum);
  if (accum_class < 0 && (flags & WINDOW_ACCUMULATION)) {
    f->accum = 32;
    accum_class = 3;
  }
  if (accum_class >= 0) fillChannels(f->accum_red, f->accum_green, f->accum_blue, f->accum_alpha, accum_class);
  if (f->depth == 0) f->depth = 16;
  if (f->stencil == 0 && (flags & WINDOW_STENCIL)) f->stencil = 8;
  if (f->samples == 0 && (flags & WINDOW_MULTISAMPLE)) f->samples = 4;
}

// The attribute list of wglChoosePixelFormatARB, terminated by 0.
void fillAttributes(int (&list)[40], const FormatSettings& f) {
  int n = 0;
  auto put = [&](int name, int value) {
    list[n++] = name;
    list[n++] = value;
  };
  put(WGL_DRAW_TO_WINDOW_ARB, 1);
  put(WGL_ACCELERATION_ARB, WGL_FULL_ACCELERATION_ARB);
  put(WGL_DOUBLE_BUFFER_ARB, 1);
  for (const FormatField& field : FORMAT_FIELDS)
    if (!field.optional || f.*field.setting != 0) put(field.attribute, f.*field.setting);
  if (f.samples != 0) {
    put(WGL_SAMPLE_BUFFERS_ARB, 1);
    put(WGL_SAMPLES_ARB, f.samples);
  }
  list[n] = 0;
}

// The probe window with a context current, to read the extension strings and resolve
// the entry points. False when something is missing; the probe is released either way.
bool probe() {
  WindowState& w = windowState();
  HWND window = CreateWindowExA(0, w.class_name, "OpenGL setup", PROBE_STYLE, 0, 0, 8, 8, nullptr, nullptr,
                                w.instance, nullptr);
  if (!window) return false;
  HDC dc = GetDC(window);
  PIXELFORMATDESCRIPTOR descriptor;
  std::memset(&descriptor, 0, sizeof descriptor);
  descriptor.nSize = sizeof descriptor;
  descriptor.nVersion = 1;
  descriptor.dwFlags = DESCRIPTOR_FLAGS;
  descriptor.iPixelType = PFD_TYPE_RGBA;
  descriptor.cDepthBits = 32;
  HGLRC context = nullptr;
  const int format = dc ? ChoosePixelFormat(dc, &descriptor) : 0;
  if (format != 0 && SetPixelFormat(dc, format, &descriptor)) context = gl.wglCreateContext(dc);
  bool ready = context && gl.wglMakeCurrent(dc, context);

  if (ready) {
    gl.wglGetProcAddress = entryPoint<wglGetProcAddressFunction>(GetProcAddress(gl.gl_module, "wglGetProcAddress"));
    const char* wgl_extensions = nullptr;
    if (gl.wglGetProcAddress) {
      gl.wglGetExtensionsStringARB = entryPoint<PFNWGLGETEXTENSIONSSTRINGARBPROC>(
          reinterpret_cast<FARPROC>(gl.wglGetProcAddress("wglGetExtensionsStringARB")));
      if (!gl.wglGetExtensionsStringARB)
        gl.wglGetExtensionsStringEXT = entryPoint<PFNWGLGETEXTENSIONSSTRINGEXTPROC>(
            reinterpret_cast<FARPROC>(gl.wglGetProcAddress("wglGetExtensionsStringEXT")));
      if (gl.wglGetExtensionsStringARB) wgl_extensions = gl.wglGetExtensionsStringARB(dc);
      else if (gl.wglGetExtensionsStringEXT) wgl_extensions = gl.wglGetExtensionsStringEXT();
    }
    for (size_t i = 0; i < GL_FUNCTION_COUNT && ready; ++i) {
      gl.gl_functions[i] = GetProcAddress(gl.gl_module, GL_FUNCTION_NAMES[i]);
      ready = gl.gl_functions[i] != nullptr;
    }
    if (ready) {
      collectExtensions(wgl_extensions);
      ready = extensionListed(gl.gl_extensions, "GL_EXT_bgra");
    }
    if (ready && gl.wglGetProcAddress && extensionListed(gl.gl_extensions, "WGL_ARB_pixel_format"))
      gl.wglChoosePixelFormatARB = entryPoint<PFNWGLCHOOSEPIXELFORMATARBPROC>(
          reinterpret_cast<FARPROC>(gl.wglGetProcAddress("wglChoosePixelFormatARB")));
  }

  if (context) {
    gl.wglMakeCurrent(nullptr, nullptr);
    gl.wglDeleteContext(context);
  }
  if (dc) ReleaseDC(window, dc);
  DestroyWindow(window);
  return ready;
}

// wglChoosePixelFormatARB with fewer samples after each refusal (down to none), then
// the descriptor. The accepted sample count is left in the settings.
int choosePixelFormat(const PIXELFORMATDESCRIPTOR& descriptor) {
  FormatSettings& f = gl.settings;
  if (gl.wglChoosePixelFormatARB) {
    for (;;) {
      int attributes[40];
      fillAttributes(attributes, f);
      int format = 0;
      UINT count = 0;
      if (gl.wglChoosePixelFormatARB(gl.gl_dc, attributes, nullptr, 1, &format, &count) && count > 0 && format != 0)
        return format;
      if (f.samples == 0 || f.samples - 2 < 0) break;
      f.samples -= 2;
    }
  }
  // A format from the descriptor has no sample buffers.
  f.samples = 0;
  return ChoosePixelFormat(gl.gl_dc, &descriptor);
}

int32_t openGlOpen(const char* title, int32_t width, int32_t height, int32_t depth, int32_t refresh_rate,
                   int32_t flags) {
  WindowState& w = windowState();
  w.clear();
  // Most opens are not for OpenGL: they fail before the large state is cleared.
  if (!(flags & WINDOW_OPENGL)) return -1;
  gl = OpenGlState{};

  gl.gl_module = LoadLibraryA("opengl32.dll");
  if (!gl.gl_module) return -1;
  gl.wglCreateContext = entryPoint<wglCreateContextFunction>(GetProcAddress(gl.gl_module, "wglCreateContext"));
  gl.wglMakeCurrent = entryPoint<wglMakeCurrentFunction>(GetProcAddress(gl.gl_module, "wglMakeCurrent"));
  gl.wglDeleteContext = entryPoint<wglDeleteContextFunction>(GetProcAddress(gl.gl_module, "wglDeleteContext"));
  if (!gl.wglCreateContext || !gl.wglMakeCurrent || !gl.wglDeleteContext) return -1;

  w.driver_init = openGlSetUp;
  w.driver_exit = openGlHide;
  w.driver_paint = nullptr;
  w.driver_thread = nullptr;
  if (commonInitialise(title, width, height, depth < 8 ? 8 : depth, refresh_rate, flags) != 0) return -1;
  if (!probe()) return -1;

  if (createWindow(WINDOW_STYLE, 0, 0, 0, 8, 8) != 0 || openGlSetUp() != 0) return -1;
  const ScreenState* s = currentScreen();
  fillDefaults(&gl.settings, s ? s->depth : w.depth, flags);
  PIXELFORMATDESCRIPTOR descriptor;
  fillDescriptor(&descriptor, gl.settings);
  gl.gl_dc = GetDC(w.window);
  if (!gl.gl_dc) return -1;
  const int format = choosePixelFormat(descriptor);
  if (format == 0) return -1;
  if (!SetPixelFormat(gl.gl_dc, format, &descriptor)) return -1;
  gl.gl_context = gl.wglCreateContext(gl.gl_dc);
  if (!gl.gl_context || !gl.wglMakeCurrent(gl.gl_dc, gl.gl_context)) return -1;
  // Only a format that was accepted with sample buffers multisamples.
  if (gl.settings.samples > 0) glFunction<glEnableFunction>(GL_ENABLE)(GL_MULTISAMPLE);
  return 0;
}

// Releases the context, the device context, the display mode, the window and the
// module, then the common exit; also after an open that failed half way.
void openGlClose() {
  WindowState& w = windowState();
  if (gl.gl_module) {
    if (gl.gl_context) {
      gl.wglMakeCurrent(nullptr, nullptr);
      gl.wglDeleteContext(gl.gl_context);
      gl.gl_context = nullptr;
    }
    if (gl.gl_dc) ReleaseDC(w.window, gl.gl_dc);
    gl.gl_dc = nullptr;
    restoreDisplayMode();
    if (w.window) DestroyWindow(w.window);
    w.window = nullptr;
    FreeLibrary(gl.gl_module);
    gl.gl_module = nullptr;
  }
  // The window is gone already: the common exit must not hide it again.
  w.driver_exit = nullptr;
  commonExit();
}

void openGlNothing() {}

void openGlPresent() {
  if (gl.gl_dc) SwapBuffers(gl.gl_dc);
}

void openGlPumpEvents() {
  WindowState& w = windowState();
  if (w.is_active) {
    BYTE keys[256];
    ScreenState* s = currentScreen();
    if (s && s->key_states && GetKeyboardState(keys)) refreshKeyStates(keys, s->key_states);
  }
  pumpMessages();
}

// The display modes of exactly that depth.
int32_t* openGlListModes(int32_t depth, int32_t* count) {
  return listDisplayModes(depth, count, [](int32_t bits, int32_t wanted) { return bits == wanted; });
}

const WindowDriver opengl_driver = {
    "OpenGL",         openGlOpen,      openGlClose,     openGlNothing,  openGlNothing,
    nullptr,          windowWaitRetrace, windowReadMouse, windowSetMouse, windowSetTitle,
    windowMoveWindow, openGlListModes, openGlPresent,   openGlPumpEvents,
};

}  // namespace

const WindowDriver& openGlWindowDriver() { return opengl_driver; }

}  // namespace zv
