// The driver list in search order and the Null driver.
#include "gfx/window_driver.h"

#ifdef ZV_HAVE_WIN32_DRIVERS
#include "gfx/win32/drivers.h"
#endif

namespace zv {

namespace {

void nullLock() {}
void nullUnlock() {}

const WindowDriver null_driver = {
    "Null", nullptr, nullptr, nullLock, nullUnlock, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// "DirectX", "GDI", "OpenGL" go here, in that order, ahead of the terminating null.
const WindowDriver* const driver_list[] = {
#ifdef ZV_HAVE_WIN32_DRIVERS
    &ddrawWindowDriver(),
    &gdiWindowDriver(),
    &openGlWindowDriver(),
#endif
    nullptr,
};

const WindowDriver* const* active_list = driver_list;

}  // namespace

const WindowDriver* const* windowDriverList() { return active_list; }

void setWindowDriverList(const WindowDriver* const* list) { active_list = list ? list : driver_list; }

const WindowDriver& nullWindowDriver() { return null_driver; }

}  // namespace zv
