// The driver list in search order and the Null driver.
#include "gfx/window_driver.h"

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
    nullptr,
};

}  // namespace

const WindowDriver* const* windowDriverList() { return driver_list; }

const WindowDriver& nullWindowDriver() { return null_driver; }

}  // namespace zv
