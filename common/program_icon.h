// The program's icon: the invariant triangle of a plane collineation, its three
// invariant points as coloured dots and its three invariant lines through them drawn
// to the edges, on a dark rounded tile. This drawing is the one source of the picture:
// tools/make_icon turns it into the PNG files and the Windows icon file, and the
// Win32 layer serves it as the program's icon resource on hosts other than Windows.
#pragma once

#include <cstdint>
#include <vector>

namespace zv {

// The sizes the icon is drawn and installed at, in pixels.
inline constexpr int PROGRAM_ICON_SIZES[] = {16, 32, 48, 64, 128};

// The icon at size x size pixels, rows top down, each pixel 0xAARRGGBB with straight
// (not premultiplied) alpha.
std::vector<uint32_t> drawProgramIcon(int size);

}  // namespace zv
