// Xlib and libXext (MIT-SHM, the shape extension), loaded at run time: the program
// links no X library, so it starts where none is installed, and loads them only
// when a display is to be opened. Each function the backend
// uses is a pointer of the same name and type in zv::win32, filled by loadX11();
// the backend's calls (XOpenDisplay(...)) find these pointers before Xlib's own
// declarations. Xlib's macros need nothing here: DefaultScreen and the like read
// the Display, and XDestroyImage and XPutPixel call through the image's functions.
#pragma once

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/shape.h>

namespace zv::win32 {

// The functions by library: libX11.so.6 (X) and libXext.so.6 (XEXT).
#define ZV_X11_FUNCTIONS(X, XEXT)                                                                                 \
  X(XOpenDisplay) X(XCloseDisplay) X(XSetErrorHandler) X(XSetIOErrorHandler) X(XFlush) X(XSync) X(XQLength)       \
  X(XPending) X(XNextEvent) X(XPeekEvent) X(XEventsQueued) X(XNoOp) X(XFree) X(XInternAtom)                       \
  X(XResourceManagerString) X(XCreateWindow) X(XDestroyWindow) X(XMapWindow) X(XMapRaised) X(XUnmapWindow)        \
  X(XMoveResizeWindow) X(XRaiseWindow) X(XClearWindow) X(XChangeProperty) X(XGetWindowProperty) X(XSendEvent)     \
  X(XSetWMProtocols) X(XSetWMNormalHints) X(XSetWMHints) X(XSetClassHint) X(XAllocSizeHints) X(XAllocWMHints)     \
  X(XAllocClassHint) X(XSetInputFocus) X(XTranslateCoordinates) X(XGrabPointer) X(XUngrabPointer) X(XWarpPointer) \
  X(XDefineCursor) X(XUndefineCursor) X(XCreateBitmapFromData) X(XCreatePixmapCursor) X(XFreePixmap)             \
  X(XCreateColormap) X(XFreeColormap) X(XCreateImage) X(XPutImage) X(XGetScreenSaver) X(XSetScreenSaver)          \
  X(XResetScreenSaver) X(XLookupString) X(XRefreshKeyboardMapping) X(XkbGetMap) X(XkbGetNames)                    \
  X(XkbFreeKeyboard) X(XkbKeycodeToKeysym) X(XkbSetDetectableAutoRepeat) X(XSelectInput)                         \
  XEXT(XShmQueryVersion) XEXT(XShmCreateImage) XEXT(XShmAttach) XEXT(XShmDetach) XEXT(XShmPutImage)              \
  XEXT(XShapeCombineRectangles)

#define ZV_X11_DECLARE(name) extern decltype(&::name) name;
ZV_X11_FUNCTIONS(ZV_X11_DECLARE, ZV_X11_DECLARE)
#undef ZV_X11_DECLARE

// Loads both libraries and every function, once; false (and the pointers unusable)
// when a library or a function is missing, which the backend treats as a display
// that cannot be opened. The soname of libX11 can be replaced by the environment
// variable ZV_X11_LIBRARY, so that tests can make it missing.
bool loadX11();

// The soname of libGL, which the GLX part loads itself.
inline constexpr const char* kGlLibrary = "libGL.so.1";

}  // namespace zv::win32
