// The window drivers of gfx/win32 as the driver list sees them: one accessor per
// driver table. This header needs nothing of the Win32 API, so the portable driver
// list can include it.
#pragma once

#include "gfx/window_driver.h"

namespace zv {

// "DirectX": presents the framebuffer through DirectDraw surfaces and reads the
// keyboard through DirectInput, windowed or full screen; refuses the OpenGL and
// shaped-window flags.
const WindowDriver& ddrawWindowDriver();

// "GDI": presents the framebuffer through device-independent bitmaps, windowed or
// full screen; refuses the OpenGL flag.
const WindowDriver& gdiWindowDriver();

// "OpenGL": a window with a current OpenGL context for a program that draws with
// OpenGL itself; serves only the OpenGL flag.
const WindowDriver& openGlWindowDriver();

}  // namespace zv
