// What the module table of kernel.cpp needs of opengl32.dll (opengl.cpp): whether it
// can be loaded now, and its exports beyond the WGL functions.
#pragma once

#include <windows.h>

namespace zv::win32 {

// True while the backend offers OpenGL (on X11: the display has GLX).
bool openglLoadable();
// An OpenGL 1.1 function of the backend's implementation by name; null otherwise.
FARPROC openglExport(const char* name);

}  // namespace zv::win32
