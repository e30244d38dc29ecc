// What the X11 backend and its GLX part (x11_glx.cpp) share: the OpenGL table of the
// backend, and where a window's picture lies inside its X window.
#pragma once

#include "platform/win32/backend.h"

namespace zv::win32::x11 {

extern const GlBackend kGlx;

// The X window of a layer window and the rectangle inside it where OpenGL draws its
// client area: unscaled layer pixels, centred on the place of the scaled picture (a
// full-screen mode or the desktop's scale factor enlarge the window, not what OpenGL
// draws).
struct Placement {
  unsigned long xid;
  int32_t x, y, width, height;
};
Placement placementOf(NativeWindow* window);

}  // namespace zv::win32::x11
