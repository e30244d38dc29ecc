// What the X11 backend and its GLX part (x11_glx.cpp) share: the OpenGL table of the
// backend, and where a window's picture lies inside its X window.
#pragma once

#include "platform/win32/backend.h"

namespace zv::win32::x11 {

extern const GlBackend kGlx;

// The X window of a layer window and the rectangle inside it where OpenGL draws: the
// place of the picture, scaled by the factor a full-screen mode or the desktop's scale
// factor gives the window. The program draws its client area unscaled into the lower
// left corner of that rectangle, and the buffer swap enlarges it to the whole.
struct Placement {
  unsigned long xid;
  int32_t x, y, width, height;
  int32_t scale;
};
Placement placementOf(NativeWindow* window);
// Returns once the server has carried out the backend's requests, so that the layer
// window's new geometry is in place before a drawable inside it is shown.
void settle();

}  // namespace zv::win32::x11
