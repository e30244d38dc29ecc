// The recording OpenGL of the virtual desktop (recording_gl.cpp), as the desktop's
// backend table and its enable() reach it.
#pragma once

#include "platform/win32/backend.h"

namespace zv::win32 {

extern const GlBackend kRecordingGl;
// Back to what enable() offers: OpenGL available, the default extensions and
// formats, no calls noted. The layer's lock is held.
void resetRecordingGlLocked();

}  // namespace zv::win32
