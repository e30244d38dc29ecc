// OpenGL of the Win32 layer over its backend's: the pixel-format calls of GDI32
// (ChoosePixelFormat, SetPixelFormat, DescribePixelFormat, SwapBuffers), the WGL
// calls of opengl32.dll with the extensions WGL_ARB_extensions_string,
// WGL_EXT_extensions_string and WGL_ARB_pixel_format (WGL_ARB_multisample adds the
// sample attributes), opengl32's export lookup of the OpenGL 1.1 functions, and the
// window-long calls that restyle a window. Format choice happens here, over the
// backend's list, so that every backend answers alike; the requests are kept for
// the virtual desktop's tests.
#include "platform/win32/layer.h"
#include "platform/win32/opengl.h"
#include "platform/win32/virtual_desktop.h"

#include <windows.h>
#include <GL/wglext.h>

#include <algorithm>
#include <cstring>
#include <string_view>

namespace zv::win32 {
namespace {

struct ContextRecord {
  GlContext* native;
  const GlBackend* backend;
};

thread_local ContextRecord* t_current = nullptr;
thread_local HDC t_current_dc = nullptr;

std::vector<vdesk::GlRequest>& requestsLocked() {
  static auto* requests = new std::vector<vdesk::GlRequest>;
  return *requests;
}

const GlBackend* glLocked() {
  const Backend* backend = desktop().backend;
  return backend ? backend->opengl : nullptr;
}

Window* windowOfDcLocked(HDC dc) {
  if (!dc) return nullptr;
  for (Window* window : desktop().windows)
    if (reinterpret_cast<HDC>(&window->dc) == dc) return window;
  return nullptr;
}

// The window of the device context when OpenGL can draw in it (a native window with
// a pixel format set), else null.
Window* glWindowOfDcLocked(HDC dc) {
  Window* window = windowOfDcLocked(dc);
  return window && window->native && window->pixel_format != 0 ? window : nullptr;
}

// Whether the blank-separated list names the extension: the name as a whole word.
bool listed(std::string_view list, std::string_view name) {
  for (size_t at = list.find(name); at != std::string_view::npos; at = list.find(name, at + 1)) {
    const bool starts = at == 0 || list[at - 1] == ' ';
    const size_t end = at + name.size();
    if (starts && (end == list.size() || list[end] == ' ')) return true;
  }
  return false;
}

bool wglListed(const char* name) {
  std::lock_guard<std::mutex> hold(userLock());
  const GlBackend* gl = glLocked();
  return gl && gl->wglExtensions && listed(gl->wglExtensions(), name);
}

int32_t colourBits(const PIXELFORMATDESCRIPTOR& d) { return d.cColorBits; }

// How far a format lies beyond what was asked, for choosing among those that fit:
// fewer extra samples first, then fewer extra colour, depth, stencil and
// accumulation bits.
int64_t excess(const GlFormat& f, const vdesk::GlRequest& r) {
  const PIXELFORMATDESCRIPTOR& d = f.descriptor;
  const int64_t samples = f.samples - std::max(r.samples, 0);
  const int64_t colour = colourBits(d) - r.colour + d.cAlphaBits - r.alpha;
  const int64_t depth = d.cDepthBits - r.depth;
  const int64_t stencil = d.cStencilBits - r.stencil;
  const int64_t accum = d.cAccumBits - r.accum;
  return (((samples * 256 + colour) * 256 + depth) * 256 + stencil) * 256 + accum;
}

bool fits(const GlFormat& f, const vdesk::GlRequest& r) {
  const PIXELFORMATDESCRIPTOR& d = f.descriptor;
  const DWORD needed = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | (r.double_buffer ? PFD_DOUBLEBUFFER : 0);
  if ((d.dwFlags & needed) != needed || d.iPixelType != PFD_TYPE_RGBA) return false;
  if (r.accelerated && !f.accelerated) return false;
  return colourBits(d) >= r.colour && d.cRedBits >= r.red && d.cGreenBits >= r.green && d.cBlueBits >= r.blue &&
         d.cAlphaBits >= r.alpha && d.cDepthBits >= r.depth && d.cStencilBits >= r.stencil &&
         d.cAccumBits >= r.accum && d.cAccumRedBits >= r.accum_red && d.cAccumGreenBits >= r.accum_green &&
         d.cAccumBlueBits >= r.accum_blue && d.cAccumAlphaBits >= r.accum_alpha && f.samples >= std::max(r.samples, 0);
}

// The fitting format that exceeds the request least (the first of equals), 0 when
// none fits.
int32_t bestLocked(const GlBackend* gl, const vdesk::GlRequest& request) {
  int32_t best = 0;
  int64_t best_excess = 0;
  const int32_t count = gl->formatCount();
  for (int32_t number = 1; number <= count; ++number) {
    GlFormat f{};
    if (!gl->format(number, &f) || !fits(f, request)) continue;
    const int64_t e = excess(f, request);
    if (best == 0 || e < best_excess) {
      best = number;
      best_excess = e;
    }
  }
  return best;
}

// Keeps a request with its answer for the tests.
int32_t noteLocked(vdesk::GlRequest request, int32_t answer) {
  request.answer = answer;
  auto& requests = requestsLocked();
  if (requests.size() < 1024) requests.push_back(request);
  return answer;
}

// The ARB attribute list as a request; false for an attribute the backend's
// extensions do not offer.
bool readAttributes(const int* attributes, bool multisample, vdesk::GlRequest* r) {
  r->arb = true;
  for (const int* a = attributes; a && a[0] != 0; a += 2) {
    const int value = a[1];
    switch (a[0]) {
      case WGL_DRAW_TO_WINDOW_ARB:
      case WGL_SUPPORT_OPENGL_ARB: break;
      case WGL_ACCELERATION_ARB: r->accelerated = value == WGL_FULL_ACCELERATION_ARB; break;
      case WGL_DOUBLE_BUFFER_ARB: r->double_buffer = value != 0; break;
      case WGL_PIXEL_TYPE_ARB:
        if (value != WGL_TYPE_RGBA_ARB) return false;
        break;
      case WGL_COLOR_BITS_ARB: r->colour = value; break;
      case WGL_RED_BITS_ARB: r->red = value; break;
      case WGL_GREEN_BITS_ARB: r->green = value; break;
      case WGL_BLUE_BITS_ARB: r->blue = value; break;
      case WGL_ALPHA_BITS_ARB: r->alpha = value; break;
      case WGL_DEPTH_BITS_ARB: r->depth = value; break;
      case WGL_STENCIL_BITS_ARB: r->stencil = value; break;
      case WGL_ACCUM_BITS_ARB: r->accum = value; break;
      case WGL_ACCUM_RED_BITS_ARB: r->accum_red = value; break;
      case WGL_ACCUM_GREEN_BITS_ARB: r->accum_green = value; break;
      case WGL_ACCUM_BLUE_BITS_ARB: r->accum_blue = value; break;
      case WGL_ACCUM_ALPHA_BITS_ARB: r->accum_alpha = value; break;
      case WGL_SAMPLE_BUFFERS_ARB:
        if (!multisample) return false;
        if (value == 0) r->samples = 0;
        break;
      case WGL_SAMPLES_ARB:
        if (!multisample) return false;
        r->samples = value;
        break;
      default: return false;
    }
  }
  return true;
}

// The extension functions wglGetProcAddress hands out itself.
const char* WINAPI extensionsStringArb(HDC) {
  std::lock_guard<std::mutex> hold(userLock());
  const GlBackend* gl = glLocked();
  return gl && gl->wglExtensions ? gl->wglExtensions() : "";
}

const char* WINAPI extensionsStringExt() { return extensionsStringArb(nullptr); }

BOOL WINAPI choosePixelFormatArb(HDC dc, const int* attributes, const FLOAT*, UINT max_formats, int* formats,
                                 UINT* count) {
  std::lock_guard<std::mutex> hold(userLock());
  const GlBackend* gl = glLocked();
  if (count) *count = 0;
  if (!gl || !windowOfDcLocked(dc) || !formats || !count) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  vdesk::GlRequest request{};
  request.samples = -1;
  if (!readAttributes(attributes, listed(gl->wglExtensions(), "WGL_ARB_multisample"), &request)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const int32_t chosen = noteLocked(request, bestLocked(gl, request));
  if (chosen != 0 && max_formats > 0) {
    formats[0] = chosen;
    *count = 1;
  }
  return TRUE;
}

template <class Function>
PROC asProc(Function function) {
  return reinterpret_cast<PROC>(reinterpret_cast<void (*)()>(function));
}

// The OpenGL 1.1 functions opengl32.dll exports by name; everything newer comes
// through wglGetProcAddress, as on Windows.
constexpr std::string_view kGl11Functions[] = {
    "glAlphaFunc", "glBegin", "glBindTexture", "glBlendFunc", "glClear", "glClearColor", "glClearDepth",
    "glColor3f", "glColor3ub", "glColor4f", "glColor4ub", "glColorPointer", "glCopyTexSubImage2D", "glCullFace",
    "glDeleteTextures", "glDepthFunc", "glDepthMask", "glDisable", "glDisableClientState", "glDrawArrays",
    "glDrawBuffer", "glDrawElements", "glDrawPixels", "glEnable", "glEnableClientState", "glEnd", "glFinish",
    "glFlush", "glFrontFace", "glFrustum", "glGenTextures", "glGetBooleanv", "glGetError", "glGetFloatv",
    "glGetIntegerv", "glGetString", "glGetTexImage", "glHint", "glIsEnabled", "glIsTexture", "glLineWidth",
    "glLoadIdentity", "glLoadMatrixf", "glMatrixMode", "glMultMatrixf", "glNormal3f", "glOrtho", "glPixelStorei",
    "glPixelZoom", "glPointSize", "glPolygonMode", "glPopMatrix", "glPushMatrix", "glRasterPos2i", "glReadBuffer",
    "glReadPixels", "glRotatef", "glScalef", "glScissor", "glShadeModel", "glTexCoord2f", "glTexCoord2i",
    "glTexCoordPointer", "glTexEnvf", "glTexEnvi", "glTexImage2D", "glTexParameterf", "glTexParameteri",
    "glTexSubImage2D", "glTranslatef", "glVertex2f", "glVertex2i", "glVertex3f", "glVertexPointer", "glViewport",
};

}  // namespace

bool openglLoadable() {
  std::lock_guard<std::mutex> hold(userLock());
  const GlBackend* gl = glLocked();
  return gl && gl->available();
}

FARPROC openglExport(const char* name) {
  const std::string_view wanted(name);
  if (std::find(std::begin(kGl11Functions), std::end(kGl11Functions), wanted) == std::end(kGl11Functions))
    return nullptr;
  std::lock_guard<std::mutex> hold(userLock());
  const GlBackend* gl = glLocked();
  return gl ? reinterpret_cast<FARPROC>(gl->procAddress(name)) : nullptr;
}

}  // namespace zv::win32

namespace zv::vdesk {

std::vector<GlRequest> glRequests() {
  std::lock_guard<std::mutex> hold(win32::userLock());
  return win32::requestsLocked();
}

void clearGlRequests() {
  std::lock_guard<std::mutex> hold(win32::userLock());
  win32::requestsLocked().clear();
}

}  // namespace zv::vdesk

using namespace zv::win32;

extern "C" {

int ChoosePixelFormat(HDC dc, const PIXELFORMATDESCRIPTOR* descriptor) {
  std::lock_guard<std::mutex> hold(userLock());
  const GlBackend* gl = glLocked();
  if (!gl || !windowOfDcLocked(dc) || !descriptor) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const PIXELFORMATDESCRIPTOR& d = *descriptor;
  zv::vdesk::GlRequest request{};
  request.double_buffer = (d.dwFlags & PFD_DOUBLEBUFFER) != 0;
  request.colour = d.cColorBits;
  request.red = d.cRedBits;
  request.green = d.cGreenBits;
  request.blue = d.cBlueBits;
  request.alpha = d.cAlphaBits;
  request.accum = d.cAccumBits;
  request.accum_red = d.cAccumRedBits;
  request.accum_green = d.cAccumGreenBits;
  request.accum_blue = d.cAccumBlueBits;
  request.accum_alpha = d.cAccumAlphaBits;
  request.depth = d.cDepthBits;
  request.stencil = d.cStencilBits;
  request.samples = 0;
  int32_t chosen = bestLocked(gl, request);
  if (chosen == 0) {
    // The descriptor is a wish: without an exact fit, any format that draws with
    // OpenGL into a window will do.
    zv::vdesk::GlRequest loose{};
    loose.double_buffer = request.double_buffer;
    chosen = bestLocked(gl, loose);
  }
  return noteLocked(request, chosen);
}

int DescribePixelFormat(HDC dc, int format, UINT size, LPPIXELFORMATDESCRIPTOR descriptor) {
  std::lock_guard<std::mutex> hold(userLock());
  const GlBackend* gl = glLocked();
  if (!gl || !windowOfDcLocked(dc)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const int count = gl->formatCount();
  if (!descriptor) return count;
  GlFormat f{};
  if (format < 1 || format > count || size < sizeof(PIXELFORMATDESCRIPTOR) || !gl->format(format, &f)) {
    SetLastError(ERROR_INVALID_PIXEL_FORMAT);
    return 0;
  }
  *descriptor = f.descriptor;
  return count;
}

int GetPixelFormat(HDC dc) {
  std::lock_guard<std::mutex> hold(userLock());
  Window* window = windowOfDcLocked(dc);
  return window ? window->pixel_format : 0;
}

BOOL SetPixelFormat(HDC dc, int format, const PIXELFORMATDESCRIPTOR*) {
  std::lock_guard<std::mutex> hold(userLock());
  const GlBackend* gl = glLocked();
  Window* window = windowOfDcLocked(dc);
  if (!gl || !window || !window->native || format < 1 || format > gl->formatCount()) {
    SetLastError(ERROR_INVALID_PIXEL_FORMAT);
    return FALSE;
  }
  // A window's pixel format is set once.
  if (window->pixel_format != 0) return window->pixel_format == format ? TRUE : FALSE;
  if (!gl->setFormat(window->native, format)) {
    SetLastError(ERROR_INVALID_PIXEL_FORMAT);
    return FALSE;
  }
  window->pixel_format = format;
  return TRUE;
}

BOOL SwapBuffers(HDC dc) {
  std::lock_guard<std::mutex> hold(userLock());
  const GlBackend* gl = glLocked();
  Window* window = glWindowOfDcLocked(dc);
  if (!gl || !window) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return gl->swapBuffers(window->native) ? TRUE : FALSE;
}

HGLRC wglCreateContext(HDC dc) {
  std::lock_guard<std::mutex> hold(userLock());
  const GlBackend* gl = glLocked();
  Window* window = glWindowOfDcLocked(dc);
  if (!gl || !window) {
    SetLastError(ERROR_INVALID_PIXEL_FORMAT);
    return nullptr;
  }
  GlContext* native = gl->createContext(window->native);
  if (!native) return nullptr;
  return reinterpret_cast<HGLRC>(new ContextRecord{native, gl});
}

BOOL wglMakeCurrent(HDC dc, HGLRC context) {
  std::lock_guard<std::mutex> hold(userLock());
  const GlBackend* gl = glLocked();
  if (!context) {
    if (t_current && t_current->backend == gl && gl) gl->makeCurrent(nullptr, nullptr);
    t_current = nullptr;
    t_current_dc = nullptr;
    return TRUE;
  }
  auto* record = reinterpret_cast<ContextRecord*>(context);
  Window* window = glWindowOfDcLocked(dc);
  if (!gl || record->backend != gl || !window ||
      !gl->makeCurrent(window->native, record->native)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  t_current = record;
  t_current_dc = dc;
  return TRUE;
}

BOOL wglDeleteContext(HGLRC context) {
  if (!context) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  auto* record = reinterpret_cast<ContextRecord*>(context);
  std::lock_guard<std::mutex> hold(userLock());
  const GlBackend* gl = glLocked();
  if (t_current == record) {
    if (gl == record->backend) gl->makeCurrent(nullptr, nullptr);
    t_current = nullptr;
    t_current_dc = nullptr;
  }
  // A context of a backend that has gone since went with it.
  if (gl == record->backend) gl->deleteContext(record->native);
  delete record;
  return TRUE;
}

HGLRC wglGetCurrentContext(void) { return reinterpret_cast<HGLRC>(t_current); }
HDC wglGetCurrentDC(void) { return t_current_dc; }

PROC wglGetProcAddress(LPCSTR name) {
  if (!name || !t_current) return nullptr;
  const std::string_view wanted(name);
  if (wanted == "wglGetExtensionsStringARB" && wglListed("WGL_ARB_extensions_string"))
    return asProc(&extensionsStringArb);
  if (wanted == "wglGetExtensionsStringEXT" && wglListed("WGL_EXT_extensions_string"))
    return asProc(&extensionsStringExt);
  if (wanted == "wglChoosePixelFormatARB" && wglListed("WGL_ARB_pixel_format")) return asProc(&choosePixelFormatArb);
  if (wanted.substr(0, 2) != "gl") return nullptr;
  std::lock_guard<std::mutex> hold(userLock());
  const GlBackend* gl = glLocked();
  return gl ? reinterpret_cast<PROC>(gl->procAddress(name)) : nullptr;
}

LONG GetWindowLongA(HWND handle, int index) {
  std::lock_guard<std::mutex> hold(userLock());
  Window* window = windowLocked(handle);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (index == GWL_STYLE) return static_cast<LONG>(window->style | (window->visible ? WS_VISIBLE : 0));
  if (index == GWL_EXSTYLE) return static_cast<LONG>(window->ex_style);
  SetLastError(ERROR_INVALID_INDEX);
  return 0;
}

// A new style takes its frame at once: the window keeps its rectangle and its client
// area shrinks or grows by the frame's difference.
LONG SetWindowLongA(HWND handle, int index, LONG value) {
  std::lock_guard<std::mutex> hold(userLock());
  Desktop& d = desktop();
  Window* window = windowLocked(handle);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  LONG before;
  if (index == GWL_STYLE) {
    before = static_cast<LONG>(window->style | (window->visible ? WS_VISIBLE : 0));
    window->style = static_cast<DWORD>(value) & ~static_cast<DWORD>(WS_VISIBLE);
  } else if (index == GWL_EXSTYLE) {
    before = static_cast<LONG>(window->ex_style);
    window->ex_style = static_cast<DWORD>(value);
  } else {
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
  }
  window->frame = frameInsets(window->style, window->ex_style, false);
  if (d.backend && window->native) {
    d.backend->placeWindow(window->native, describeLocked(window));
  }
  return before;
}

}  // extern "C"
