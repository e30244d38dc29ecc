// The resources of a program built on this layer. A Windows program carries its
// icons in its own file, compiled from a resource script; here the program defines
// programIcons() instead (common/program_resources.cpp), and LoadIconA with the
// program's module looks the name up there. The layer refers to the function weakly:
// in a program that does not define it the reference is null and the program has
// no icons, as a Windows program without resources.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zv::win32 {

struct ResourceIcon {
  const char* name;        // the name LoadIconA is given, compared without case
  const uint32_t* pixels;  // 32 x 32, rows top down, 0xAARRGGBB
};

// The program's icons; *count receives their number.
__attribute__((weak)) const ResourceIcon* programIcons(size_t* count);

}  // namespace zv::win32
