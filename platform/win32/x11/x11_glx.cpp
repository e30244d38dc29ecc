// OpenGL of the X11 backend through GLX. libGL is loaded at run time, so the program
// runs where it is missing; OpenGL is available when it loads and the display has
// the GLX extension. Rendering has an X connection of its own: the OpenGL functions
// are called by the program without the layer's lock, and the implementation talks
// to the server on that connection from the rendering thread only, never meeting the
// backend's event thread. A window with a pixel format gets a child X window of the
// format's visual over its client area, which takes no input (an empty input shape),
// so every event still reaches the layer's window. Formats are the double-buffered
// true-colour window configurations of the screen's depth.
#include "platform/win32/x11/x11_glx.h"

#include "platform/win32/x11/x11_library.h"

#include <dlfcn.h>

#include <unordered_map>
#include <vector>

namespace zv::win32::x11 {
namespace {

// GLX's own types and values, by their documented numbers.
using GLXFBConfig = struct GLXFBConfigRecord*;
using GLXContext = struct GLXContextRecord*;
constexpr int GLX_BUFFER_SIZE = 2, GLX_DOUBLEBUFFER = 5, GLX_RED_SIZE = 8, GLX_GREEN_SIZE = 9, GLX_BLUE_SIZE = 10,
              GLX_ALPHA_SIZE = 11, GLX_DEPTH_SIZE = 12, GLX_STENCIL_SIZE = 13, GLX_ACCUM_RED_SIZE = 14,
              GLX_ACCUM_GREEN_SIZE = 15, GLX_ACCUM_BLUE_SIZE = 16, GLX_ACCUM_ALPHA_SIZE = 17;
constexpr int GLX_CONFIG_CAVEAT = 0x20, GLX_X_VISUAL_TYPE = 0x22, GLX_SLOW_CONFIG = 0x8001,
              GLX_TRUE_COLOR = 0x8002, GLX_DRAWABLE_TYPE = 0x8010, GLX_RENDER_TYPE = 0x8011,
              GLX_X_RENDERABLE = 0x8012, GLX_RGBA_TYPE = 0x8014, GLX_WINDOW_BIT = 1, GLX_RGBA_BIT = 1,
              GLX_SAMPLE_BUFFERS = 100000, GLX_SAMPLES = 100001;

struct Glx {
  Bool (*QueryExtension)(Display*, int*, int*);
  GLXFBConfig* (*GetFBConfigs)(Display*, int, int*);
  int (*GetFBConfigAttrib)(Display*, GLXFBConfig, int, int*);
  XVisualInfo* (*GetVisualFromFBConfig)(Display*, GLXFBConfig);
  GLXContext (*CreateNewContext)(Display*, GLXFBConfig, int, GLXContext, Bool);
  Bool (*MakeCurrent)(Display*, ::Window, GLXContext);
  void (*DestroyContext)(Display*, GLXContext);
  void (*SwapBuffers)(Display*, ::Window);
  void* (*GetProcAddressARB)(const unsigned char*);
};

struct Drawable {
  ::Window child = 0;
  Colormap colormap = 0;
  int32_t format = 0;
  Placement shown{};
};

// Guarded by the layer's lock, under which the backend's operations run.
struct State {
  bool tried = false, available = false;
  void* library = nullptr;
  Glx glx{};
  Display* display = nullptr;  // the rendering connection
  std::vector<GLXFBConfig> configs;
  std::vector<GlFormat> formats;
  std::unordered_map<NativeWindow*, Drawable> drawables;
};

State& state() {
  static auto* s = new State;  // never destroyed: the library stays loaded
  return *s;
}

template <class Function>
bool load(void* library, const char* name, Function* out) {
  *out = reinterpret_cast<Function>(dlsym(library, name));
  return *out != nullptr;
}

int attribute(GLXFBConfig config, int name) {
  State& s = state();
  int value = 0;
  s.glx.GetFBConfigAttrib(s.display, config, name, &value);
  return value;
}

// The screen's double-buffered true-colour window configurations, as pixel formats.
void listFormats() {
  State& s = state();
  int count = 0;
  GLXFBConfig* configs = s.glx.GetFBConfigs(s.display, DefaultScreen(s.display), &count);
  const int depth = DefaultDepth(s.display, DefaultScreen(s.display));
  for (int i = 0; configs && i < count; ++i) {
    GLXFBConfig c = configs[i];
    if (!(attribute(c, GLX_DRAWABLE_TYPE) & GLX_WINDOW_BIT) || !(attribute(c, GLX_RENDER_TYPE) & GLX_RGBA_BIT) ||
        !attribute(c, GLX_X_RENDERABLE) || attribute(c, GLX_X_VISUAL_TYPE) != GLX_TRUE_COLOR ||
        !attribute(c, GLX_DOUBLEBUFFER))
      continue;
    XVisualInfo* visual = s.glx.GetVisualFromFBConfig(s.display, c);
    const bool same_depth = visual && visual->depth == depth;
    if (visual) XFree(visual);
    if (!same_depth) continue;
    PIXELFORMATDESCRIPTOR d{};
    d.nSize = sizeof d;
    d.nVersion = 1;
    d.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    d.iPixelType = PFD_TYPE_RGBA;
    d.cColorBits = static_cast<BYTE>(attribute(c, GLX_BUFFER_SIZE));
    d.cRedBits = static_cast<BYTE>(attribute(c, GLX_RED_SIZE));
    d.cGreenBits = static_cast<BYTE>(attribute(c, GLX_GREEN_SIZE));
    d.cBlueBits = static_cast<BYTE>(attribute(c, GLX_BLUE_SIZE));
    d.cAlphaBits = static_cast<BYTE>(attribute(c, GLX_ALPHA_SIZE));
    d.cAccumRedBits = static_cast<BYTE>(attribute(c, GLX_ACCUM_RED_SIZE));
    d.cAccumGreenBits = static_cast<BYTE>(attribute(c, GLX_ACCUM_GREEN_SIZE));
    d.cAccumBlueBits = static_cast<BYTE>(attribute(c, GLX_ACCUM_BLUE_SIZE));
    d.cAccumAlphaBits = static_cast<BYTE>(attribute(c, GLX_ACCUM_ALPHA_SIZE));
    d.cAccumBits = static_cast<BYTE>(d.cAccumRedBits + d.cAccumGreenBits + d.cAccumBlueBits + d.cAccumAlphaBits);
    d.cDepthBits = static_cast<BYTE>(attribute(c, GLX_DEPTH_SIZE));
    d.cStencilBits = static_cast<BYTE>(attribute(c, GLX_STENCIL_SIZE));
    const int32_t samples = attribute(c, GLX_SAMPLE_BUFFERS) ? attribute(c, GLX_SAMPLES) : 0;
    s.configs.push_back(c);
    s.formats.push_back(GlFormat{d, samples, attribute(c, GLX_CONFIG_CAVEAT) != GLX_SLOW_CONFIG});
  }
  if (configs) XFree(configs);
}

bool available() {
  State& s = state();
  if (s.tried) return s.available;
  s.tried = true;
  s.library = dlopen(kGlLibrary, RTLD_NOW | RTLD_LOCAL);
  if (!s.library) return false;
  Glx& g = s.glx;
  const bool complete =
      load(s.library, "glXQueryExtension", &g.QueryExtension) && load(s.library, "glXGetFBConfigs", &g.GetFBConfigs) &&
      load(s.library, "glXGetFBConfigAttrib", &g.GetFBConfigAttrib) &&
      load(s.library, "glXGetVisualFromFBConfig", &g.GetVisualFromFBConfig) &&
      load(s.library, "glXCreateNewContext", &g.CreateNewContext) && load(s.library, "glXMakeCurrent", &g.MakeCurrent) &&
      load(s.library, "glXDestroyContext", &g.DestroyContext) && load(s.library, "glXSwapBuffers", &g.SwapBuffers) &&
      load(s.library, "glXGetProcAddressARB", &g.GetProcAddressARB);
  if (!complete) return false;
  s.display = XOpenDisplay(nullptr);
  int error_base = 0, event_base = 0;
  if (!s.display || !g.QueryExtension(s.display, &error_base, &event_base)) return false;
  listFormats();
  s.available = !s.formats.empty();
  return s.available;
}

const char* wglExtensions() { return "WGL_ARB_extensions_string WGL_ARB_pixel_format WGL_ARB_multisample"; }

int32_t formatCount() { return static_cast<int32_t>(state().formats.size()); }

bool format(int32_t number, GlFormat* out) {
  const auto& formats = state().formats;
  if (number < 1 || static_cast<size_t>(number) > formats.size()) return false;
  *out = formats[static_cast<size_t>(number) - 1];
  return true;
}

// Keeps the child over the client area as the layer window moves between window and
// full screen.
void follow(NativeWindow* window, Drawable& d) {
  const Placement now = placementOf(window);
  if (now.x == d.shown.x && now.y == d.shown.y && now.width == d.shown.width && now.height == d.shown.height) return;
  d.shown = now;
  XMoveResizeWindow(state().display, d.child, now.x, now.y, static_cast<unsigned>(now.width > 0 ? now.width : 1),
                    static_cast<unsigned>(now.height > 0 ? now.height : 1));
}

bool setFormat(NativeWindow* window, int32_t number) {
  State& s = state();
  if (number < 1 || static_cast<size_t>(number) > s.configs.size() || s.drawables.count(window)) return false;
  XVisualInfo* visual = s.glx.GetVisualFromFBConfig(s.display, s.configs[static_cast<size_t>(number) - 1]);
  if (!visual) return false;
  const Placement at = placementOf(window);
  Drawable d;
  d.format = number;
  d.shown = at;
  d.colormap = XCreateColormap(s.display, at.xid, visual->visual, AllocNone);
  XSetWindowAttributes attributes{};
  attributes.colormap = d.colormap;
  attributes.border_pixel = 0;
  attributes.background_pixel = BlackPixel(s.display, DefaultScreen(s.display));
  d.child = XCreateWindow(s.display, at.xid, at.x, at.y, static_cast<unsigned>(at.width > 0 ? at.width : 1),
                          static_cast<unsigned>(at.height > 0 ? at.height : 1), 0, visual->depth, InputOutput,
                          visual->visual, CWColormap | CWBorderPixel | CWBackPixel, &attributes);
  XFree(visual);
  if (!d.child) {
    XFreeColormap(s.display, d.colormap);
    return false;
  }
  XShapeCombineRectangles(s.display, d.child, ShapeInput, 0, 0, nullptr, 0, ShapeSet, Unsorted);
  XMapWindow(s.display, d.child);
  XSync(s.display, False);
  s.drawables[window] = d;
  return true;
}

GlContext* createContext(NativeWindow* window) {
  State& s = state();
  auto found = s.drawables.find(window);
  if (found == s.drawables.end()) return nullptr;
  GLXContext context = s.glx.CreateNewContext(s.display, s.configs[static_cast<size_t>(found->second.format) - 1],
                                              GLX_RGBA_TYPE, nullptr, True);
  return reinterpret_cast<GlContext*>(context);
}

bool makeCurrent(NativeWindow* window, GlContext* context) {
  State& s = state();
  if (!window || !context) return s.glx.MakeCurrent(s.display, 0, nullptr) == True;
  auto found = s.drawables.find(window);
  if (found == s.drawables.end()) return false;
  follow(window, found->second);
  return s.glx.MakeCurrent(s.display, found->second.child, reinterpret_cast<GLXContext>(context)) == True;
}

void deleteContext(GlContext* context) {
  State& s = state();
  s.glx.DestroyContext(s.display, reinterpret_cast<GLXContext>(context));
  XFlush(s.display);
}

bool swapBuffers(NativeWindow* window) {
  State& s = state();
  auto found = s.drawables.find(window);
  if (found == s.drawables.end()) return false;
  follow(window, found->second);
  s.glx.SwapBuffers(s.display, found->second.child);
  XFlush(s.display);
  return true;
}

void releaseWindow(NativeWindow* window) {
  State& s = state();
  auto found = s.drawables.find(window);
  if (found == s.drawables.end()) return;
  XDestroyWindow(s.display, found->second.child);
  XFreeColormap(s.display, found->second.colormap);
  XSync(s.display, False);
  s.drawables.erase(found);
}

void* procAddress(const char* name) {
  State& s = state();
  if (!s.available) return nullptr;
  if (void* address = dlsym(s.library, name)) return address;
  return s.glx.GetProcAddressARB(reinterpret_cast<const unsigned char*>(name));
}

}  // namespace

const GlBackend kGlx = {available,     wglExtensions, formatCount,   format,      setFormat,     createContext,
                        makeCurrent,   deleteContext, swapBuffers,   releaseWindow, procAddress};

}  // namespace zv::win32::x11

#if defined(__SANITIZE_THREAD__)
// Mesa's renderer is not built for the thread checker: its worker threads hand work
// over through atomics the checker cannot see. Reports with the renderer (or the LLVM
// it compiles with) in a stack are left out; the program's own code stays checked.
extern "C" const char* __tsan_default_suppressions() {
  return "race:swrast_dri.so\nrace:libgallium\nrace:libLLVM\n"
         "deadlock:swrast_dri.so\ndeadlock:libgallium\ndeadlock:libLLVM\n";
}
#endif
