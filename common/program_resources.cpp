// The programs' resources on hosts other than Windows, where the Win32 layer takes
// them from here rather than from the program file: the icon the window class asks
// for, ZV_PROGRAM_ICON, drawn at 32 x 32. common/program_resources.rc gives the
// Windows build the same picture.
#include <program_resources.h>

#include <iterator>
#include <vector>

#include "common/program_icon.h"

namespace zv::win32 {

const ResourceIcon* programIcons(size_t* count) {
  static const std::vector<uint32_t> picture = drawProgramIcon(32);
  static const ResourceIcon icons[] = {{"ZV_PROGRAM_ICON", picture.data()}};
  *count = std::size(icons);
  return icons;
}

}  // namespace zv::win32
