// The recording OpenGL of the virtual desktop: pixel formats, extension strings and
// availability that a test chooses, contexts that exist only as counts, and OpenGL
// functions that draw nothing but note the calls a test asks about (enable and
// disable, buffer swaps). It lets every decision of a driver be tested without a GPU.
#include "platform/win32/virtual/recording_gl.h"

#include "platform/win32/layer.h"
#include "platform/win32/virtual_desktop.h"

#include <GL/gl.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace zv::win32 {
namespace {

// Guarded by the layer's lock (the backend's operations run under it), except the
// OpenGL functions, which a program calls without it: they take the lock themselves.
struct Recording {
  bool available = true;
  std::string gl_extensions, wgl_extensions;
  std::vector<vdesk::GlPixelFormat> formats;
  std::vector<std::string> calls;
  int32_t contexts = 0;
  GLuint next_texture = 1;
};

Recording& recording() {
  static auto* r = new Recording;
  return *r;
}

void noteLocked(std::string call) {
  auto& calls = recording().calls;
  if (calls.size() < 4096) calls.push_back(std::move(call));
}

void note(const char* name, GLenum value) {
  char text[48];
  std::snprintf(text, sizeof text, "%s %x", name, value);
  std::lock_guard<std::mutex> hold(userLock());
  noteLocked(text);
}

void APIENTRY recordEnable(GLenum cap) { note("glEnable", cap); }
void APIENTRY recordDisable(GLenum cap) { note("glDisable", cap); }

const GLubyte* APIENTRY recordGetString(GLenum name) {
  static std::string answer;  // valid until the next call, as the test's thread uses it
  std::lock_guard<std::mutex> hold(userLock());
  switch (name) {
    case GL_EXTENSIONS: answer = recording().gl_extensions; break;
    case GL_VENDOR: answer = "zv"; break;
    case GL_RENDERER: answer = "recording"; break;
    case GL_VERSION: answer = "1.1"; break;
    default: return nullptr;
  }
  return reinterpret_cast<const GLubyte*>(answer.c_str());
}

void APIENTRY recordGenTextures(GLsizei count, GLuint* names) {
  std::lock_guard<std::mutex> hold(userLock());
  for (GLsizei i = 0; i < count; ++i) names[i] = recording().next_texture++;
}

// Everything else of the implementation draws nothing.
void APIENTRY ignoreEnum(GLenum) {}
void APIENTRY ignoreVoid() {}
void APIENTRY ignoreViewport(GLint, GLint, GLsizei, GLsizei) {}
void APIENTRY ignoreOrtho(GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble) {}
void APIENTRY ignoreBoolean(GLboolean) {}
void APIENTRY ignoreClearColor(GLclampf, GLclampf, GLclampf, GLclampf) {}
void APIENTRY ignoreBitfield(GLbitfield) {}
void APIENTRY ignoreTextures(GLsizei, const GLuint*) {}
void APIENTRY ignoreBind(GLenum, GLuint) {}
void APIENTRY ignoreTexImage(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum, const GLvoid*) {}

template <class Function>
void* address(Function function) {
  return reinterpret_cast<void*>(function);
}

struct Entry {
  std::string_view name;
  void* function;
};

const Entry kFunctions[] = {
    {"glEnable", address(&recordEnable)},        {"glDisable", address(&recordDisable)},
    {"glGetString", address(&recordGetString)},  {"glViewport", address(&ignoreViewport)},
    {"glMatrixMode", address(&ignoreEnum)},      {"glLoadIdentity", address(&ignoreVoid)},
    {"glOrtho", address(&ignoreOrtho)},          {"glShadeModel", address(&ignoreEnum)},
    {"glDepthMask", address(&ignoreBoolean)},    {"glClearColor", address(&ignoreClearColor)},
    {"glClear", address(&ignoreBitfield)},       {"glGenTextures", address(&recordGenTextures)},
    {"glDeleteTextures", address(&ignoreTextures)}, {"glBindTexture", address(&ignoreBind)},
    {"glTexImage2D", address(&ignoreTexImage)},
};

bool available() { return recording().available; }
const char* wglExtensions() { return recording().wgl_extensions.c_str(); }
int32_t formatCount() { return static_cast<int32_t>(recording().formats.size()); }

bool format(int32_t number, GlFormat* out) {
  const auto& formats = recording().formats;
  if (number < 1 || static_cast<size_t>(number) > formats.size()) return false;
  const vdesk::GlPixelFormat& f = formats[static_cast<size_t>(number) - 1];
  PIXELFORMATDESCRIPTOR d{};
  d.nSize = sizeof d;
  d.nVersion = 1;
  d.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
  d.iPixelType = PFD_TYPE_RGBA;
  d.cColorBits = static_cast<BYTE>(f.colour);
  d.cRedBits = static_cast<BYTE>(f.red);
  d.cGreenBits = static_cast<BYTE>(f.green);
  d.cBlueBits = static_cast<BYTE>(f.blue);
  d.cAlphaBits = static_cast<BYTE>(f.alpha);
  d.cAccumBits = static_cast<BYTE>(f.accum);
  d.cAccumRedBits = d.cAccumGreenBits = d.cAccumBlueBits = d.cAccumAlphaBits = static_cast<BYTE>(f.accum / 4);
  d.cDepthBits = static_cast<BYTE>(f.depth);
  d.cStencilBits = static_cast<BYTE>(f.stencil);
  *out = GlFormat{d, f.samples, f.accelerated};
  return true;
}

bool setFormat(NativeWindow*, int32_t) { return true; }

GlContext* createContext(NativeWindow*) {
  ++recording().contexts;
  noteLocked("context");
  return reinterpret_cast<GlContext*>(&recording());
}

bool makeCurrent(NativeWindow*, GlContext*) { return true; }

void deleteContext(GlContext*) {
  --recording().contexts;
  noteLocked("delete");
}

bool swapBuffers(NativeWindow*) {
  noteLocked("swap");
  return true;
}

void releaseWindow(NativeWindow*) {}

void* procAddress(const char* name) {
  for (const Entry& entry : kFunctions)
    if (entry.name == name) return entry.function;
  return nullptr;
}

}  // namespace

const GlBackend kRecordingGl = {available,     wglExtensions, formatCount, format,        setFormat,
                                createContext, makeCurrent,   deleteContext, swapBuffers, releaseWindow,
                                procAddress};

void resetRecordingGlLocked() {
  Recording& r = recording();
  r = Recording{};
  r.gl_extensions = "GL_ARB_multitexture GL_EXT_bgra GL_EXT_texture_edge_clamp";
  r.wgl_extensions = "WGL_ARB_extensions_string WGL_ARB_pixel_format WGL_ARB_multisample";
  r.formats = {
      {32, 8, 8, 8, 8, 64, 24, 8, 0, true},
      {32, 8, 8, 8, 8, 64, 24, 8, 2, true},
      {32, 8, 8, 8, 8, 64, 24, 8, 4, true},
      {16, 5, 6, 5, 0, 0, 16, 0, 0, true},
  };
}

}  // namespace zv::win32

namespace zv::vdesk {

using win32::recording;
using win32::userLock;

void setOpenGlAvailable(bool available) {
  std::lock_guard<std::mutex> hold(userLock());
  recording().available = available;
}

void setGlExtensions(const std::string& gl, const std::string& wgl) {
  std::lock_guard<std::mutex> hold(userLock());
  recording().gl_extensions = gl;
  recording().wgl_extensions = wgl;
}

void setGlFormats(const std::vector<GlPixelFormat>& formats) {
  std::lock_guard<std::mutex> hold(userLock());
  recording().formats = formats;
}

std::vector<std::string> glCalls() {
  std::lock_guard<std::mutex> hold(userLock());
  return recording().calls;
}

int32_t glContexts() {
  std::lock_guard<std::mutex> hold(userLock());
  return recording().contexts;
}

}  // namespace zv::vdesk
