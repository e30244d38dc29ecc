// OpenGL of the X11 backend through GLX. libGL is loaded at run time, so the program
// runs where it is missing; OpenGL is available when it loads and the display has
// the GLX extension. Rendering has an X connection of its own: the OpenGL functions
// are called by the program without the layer's lock, and the implementation talks
// to the server on that connection from the rendering thread only, never meeting the
// backend's event thread. A window with a pixel format gets a child X window of the
// format's visual over its client area, which takes no input (an empty input shape),
// so every event still reaches the layer's window. Formats are the double-buffered
// true-colour window configurations of the screen's depth. A window whose picture is
// scaled (a full-screen mode, the desktop's scale factor) gets a child of the scaled
// size; the program draws its client area unscaled in the lower left corner, and the
// buffer swap first enlarges that corner to the whole back buffer, each pixel a block
// of scale x scale, through a framebuffer object of the client area's size.
#include "platform/win32/x11/x11_glx.h"

#include "platform/win32/x11/x11_library.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
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

// The OpenGL values the buffer swap's enlargement uses.
constexpr unsigned GL_COLOR_BUFFER_BIT = 0x4000, GL_NEAREST = 0x2600, GL_SCISSOR_TEST = 0x0C11,
                   GL_DRAW_BUFFER = 0x0C01, GL_READ_BUFFER = 0x0C02, GL_BACK = 0x0405, GL_VERSION = 0x1F02,
                   GL_EXTENSIONS = 0x1F03, GL_RGBA8 = 0x8058, GL_DRAW_FRAMEBUFFER_BINDING = 0x8CA6,
                   GL_RENDERBUFFER_BINDING = 0x8CA7, GL_READ_FRAMEBUFFER = 0x8CA8, GL_DRAW_FRAMEBUFFER = 0x8CA9,
                   GL_READ_FRAMEBUFFER_BINDING = 0x8CAA, GL_FRAMEBUFFER_COMPLETE = 0x8CD5,
                   GL_COLOR_ATTACHMENT0 = 0x8CE0, GL_RENDERBUFFER = 0x8D41;

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
  GLXContext (*GetCurrentContext)();
  ::Window (*GetCurrentDrawable)();
};

// The functions of the enlargement, taken for the context that is current at a swap.
struct Blitter {
  const unsigned char* (*GetString)(unsigned);
  void (*GetIntegerv)(unsigned, int*);
  unsigned char (*IsEnabled)(unsigned);
  void (*Enable)(unsigned);
  void (*Disable)(unsigned);
  void (*ReadBuffer)(unsigned);
  void (*DrawBuffer)(unsigned);
  void (*GenFramebuffers)(int, unsigned*);
  void (*BindFramebuffer)(unsigned, unsigned);
  void (*FramebufferRenderbuffer)(unsigned, unsigned, unsigned, unsigned);
  unsigned (*CheckFramebufferStatus)(unsigned);
  void (*GenRenderbuffers)(int, unsigned*);
  void (*BindRenderbuffer)(unsigned, unsigned);
  void (*RenderbufferStorage)(unsigned, unsigned, int, int);
  void (*BlitFramebuffer)(int, int, int, int, int, int, int, int, unsigned, unsigned);
};

// A context's framebuffer object holding the client area between the two copies.
struct Stage {
  bool tried = false, usable = false;
  unsigned framebuffer = 0, renderbuffer = 0;
  int32_t width = 0, height = 0;
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
  bool blitter_loaded = false, blitter_complete = false;
  Blitter blit{};
  std::unordered_map<GLXContext, Stage> stages;  // the contexts' objects go with them
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
      load(s.library, "glXGetProcAddressARB", &g.GetProcAddressARB) &&
      load(s.library, "glXGetCurrentContext", &g.GetCurrentContext) &&
      load(s.library, "glXGetCurrentDrawable", &g.GetCurrentDrawable);
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

// Puts the child over the picture's place, which moves and changes size as the layer
// window goes between window and full screen.
void place(Drawable& d, const Placement& now) {
  if (now.x == d.shown.x && now.y == d.shown.y && now.width == d.shown.width && now.height == d.shown.height) return;
  d.shown = now;
  XMoveResizeWindow(state().display, d.child, now.x, now.y, static_cast<unsigned>(now.width > 0 ? now.width : 1),
                    static_cast<unsigned>(now.height > 0 ? now.height : 1));
}

template <class Function>
bool loadGl(const char* name, Function* out) {
  State& s = state();
  void* address = dlsym(s.library, name);
  if (!address) address = s.glx.GetProcAddressARB(reinterpret_cast<const unsigned char*>(name));
  *out = reinterpret_cast<Function>(address);
  return address != nullptr;
}

bool loadBlitter() {
  State& s = state();
  if (s.blitter_loaded) return s.blitter_complete;
  s.blitter_loaded = true;
  Blitter& b = s.blit;
  s.blitter_complete =
      loadGl("glGetString", &b.GetString) && loadGl("glGetIntegerv", &b.GetIntegerv) &&
      loadGl("glIsEnabled", &b.IsEnabled) && loadGl("glEnable", &b.Enable) && loadGl("glDisable", &b.Disable) &&
      loadGl("glReadBuffer", &b.ReadBuffer) && loadGl("glDrawBuffer", &b.DrawBuffer) &&
      loadGl("glGenFramebuffers", &b.GenFramebuffers) && loadGl("glBindFramebuffer", &b.BindFramebuffer) &&
      loadGl("glFramebufferRenderbuffer", &b.FramebufferRenderbuffer) &&
      loadGl("glCheckFramebufferStatus", &b.CheckFramebufferStatus) &&
      loadGl("glGenRenderbuffers", &b.GenRenderbuffers) && loadGl("glBindRenderbuffer", &b.BindRenderbuffer) &&
      loadGl("glRenderbufferStorage", &b.RenderbufferStorage) && loadGl("glBlitFramebuffer", &b.BlitFramebuffer);
  return s.blitter_complete;
}

// Whether the current context has framebuffer objects with blits: OpenGL 3.0 or the
// extension that brought them.
bool blitsFramebuffers() {
  const Blitter& b = state().blit;
  const char* version = reinterpret_cast<const char*>(b.GetString(GL_VERSION));
  if (version && std::atoi(version) >= 3) return true;
  const char* extensions = reinterpret_cast<const char*>(b.GetString(GL_EXTENSIONS));
  return extensions && std::strstr(extensions, "GL_ARB_framebuffer_object") != nullptr;
}

// The context's stage, made or resized to the client area; false when the context
// cannot have one.
bool prepareStage(Stage& stage, int32_t width, int32_t height) {
  const Blitter& b = state().blit;
  if (!stage.tried) {
    stage.tried = true;
    stage.usable = blitsFramebuffers();
    if (!stage.usable) return false;
    b.GenFramebuffers(1, &stage.framebuffer);
    b.GenRenderbuffers(1, &stage.renderbuffer);
  }
  if (!stage.usable) return false;
  if (stage.width != width || stage.height != height) {
    b.BindRenderbuffer(GL_RENDERBUFFER, stage.renderbuffer);
    b.RenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    b.BindFramebuffer(GL_DRAW_FRAMEBUFFER, stage.framebuffer);
    b.FramebufferRenderbuffer(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, stage.renderbuffer);
    stage.usable = b.CheckFramebufferStatus(GL_DRAW_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    stage.width = width;
    stage.height = height;
  }
  return stage.usable;
}

// Shows the client area the program drew in the lower left corner of the back buffer
// scaled to the whole of the picture's place: copied to the stage, the child placed,
// and copied back scaled with the nearest pixel (a copy within one buffer may not overlap), so that
// the frame drawn before a switch is also the first one shown after it. Needs the
// window's drawable current on this thread; the program's framebuffer bindings,
// buffers and scissor test are left as they were. False when nothing was done.
bool present(Drawable& d, const Placement& now) {
  State& s = state();
  const GLXContext context = s.glx.GetCurrentContext();
  if (!context || s.glx.GetCurrentDrawable() != d.child || !loadBlitter()) return false;
  const Blitter& b = s.blit;
  const int32_t width = now.width / now.scale, height = now.height / now.scale;
  if (width <= 0 || height <= 0) return false;
  int read_binding = 0, draw_binding = 0, renderbuffer_binding = 0, read_buffer = 0, draw_buffer = 0;
  b.GetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &read_binding);
  b.GetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &draw_binding);
  b.GetIntegerv(GL_RENDERBUFFER_BINDING, &renderbuffer_binding);
  const bool scissor = b.IsEnabled(GL_SCISSOR_TEST) != 0;
  Stage& stage = s.stages[context];
  const bool staged = prepareStage(stage, width, height);
  if (staged) {
    if (scissor) b.Disable(GL_SCISSOR_TEST);
    b.BindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    b.GetIntegerv(GL_READ_BUFFER, &read_buffer);
    b.ReadBuffer(GL_BACK);
    b.BindFramebuffer(GL_DRAW_FRAMEBUFFER, stage.framebuffer);
    b.BlitFramebuffer(0, 0, width, height, 0, 0, width, height, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    b.ReadBuffer(static_cast<unsigned>(read_buffer));
    if (now.width != d.shown.width || now.height != d.shown.height) {
      settle();
      place(d, now);
      XSync(s.display, False);
      // The renderer takes a drawable's new size after a swap: the old buffer is
      // swapped once so that the staged frame goes into one of the new size.
      s.glx.SwapBuffers(s.display, d.child);
    }
    b.BindFramebuffer(GL_READ_FRAMEBUFFER, stage.framebuffer);
    b.BindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    b.GetIntegerv(GL_DRAW_BUFFER, &draw_buffer);
    b.DrawBuffer(GL_BACK);
    b.BlitFramebuffer(0, 0, width, height, 0, 0, now.width, now.height, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    b.DrawBuffer(static_cast<unsigned>(draw_buffer));
    if (scissor) b.Enable(GL_SCISSOR_TEST);
  }
  b.BindRenderbuffer(GL_RENDERBUFFER, static_cast<unsigned>(renderbuffer_binding));
  b.BindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<unsigned>(read_binding));
  b.BindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<unsigned>(draw_binding));
  return staged;
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
  place(found->second, placementOf(window));
  return s.glx.MakeCurrent(s.display, found->second.child, reinterpret_cast<GLXContext>(context)) == True;
}

void deleteContext(GlContext* context) {
  State& s = state();
  s.stages.erase(reinterpret_cast<GLXContext>(context));
  s.glx.DestroyContext(s.display, reinterpret_cast<GLXContext>(context));
  XFlush(s.display);
}

// A picture shown 1:1 at an unchanged size is swapped as it is; without a stage the
// child is only placed (a frame drawn before a change of size is then lost).
bool swapBuffers(NativeWindow* window) {
  State& s = state();
  auto found = s.drawables.find(window);
  if (found == s.drawables.end()) return false;
  Drawable& d = found->second;
  const Placement now = placementOf(window);
  const bool resized = now.width != d.shown.width || now.height != d.shown.height;
  if ((now.scale == 1 && !resized) || !present(d, now)) place(d, now);
  s.glx.SwapBuffers(s.display, d.child);
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
