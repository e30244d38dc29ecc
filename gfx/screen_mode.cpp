// The screen-mode statement. This build links no window driver, so every graphics
// mode finds none and the run stays on the text console; mode 0 is the text console.
#include "gfx/screen_mode.h"

#include "runtime/runtime.h"

namespace zv {

int32_t setScreenMode(int32_t mode, int32_t, int32_t, int32_t, int32_t) {
  return set_error(mode == 0 ? ERR_NONE : ERR_ILLEGAL_CALL);
}

}  // namespace zv
