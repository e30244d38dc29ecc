// Mode setting: the mode table, the statements on top of it and the core that takes
// the old screen down, builds the new one and starts a window driver for it.
#include "gfx/screen_mode.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "console/console.h"
#include "gfx/draw_context.h"
#include "gfx/key_queue.h"
#include "gfx/line_input.h"
#include "gfx/screen_hooks.h"
#include "gfx/screen_state.h"
#include "gfx/text_render.h"
#include "gfx/window_driver.h"
#include "platform/platform.h"
#include "runtime/channel.h"
#include "runtime/runtime.h"
#include "runtime/statements.h"

namespace zv {

namespace {

constexpr ScreenModeInfo NO_MODE{};

// Modes 1-21; 3-6 do not exist.
constexpr ScreenModeInfo mode_table[SCREEN_MODE_COUNT] = {
    {320, 200, 2, 1, 8, 16, 8, 40, 25, 0.0f},     {640, 200, 1, 2, 1, 16, 8, 80, 25, 0.0f},
    NO_MODE,                                      NO_MODE,
    NO_MODE,                                      NO_MODE,
    {320, 200, 4, 1, 8, 16, 8, 40, 25, 0.0f},     {640, 200, 4, 2, 4, 16, 8, 80, 25, 0.0f},
    {640, 350, 4, 1, 2, 64, 14, 80, 25, 0.0f},    {640, 350, 1, 1, 2, 2, 14, 80, 25, 0.0f},
    {640, 480, 1, 1, 1, 2, 16, 80, 30, 0.0f},     {640, 480, 4, 1, 1, 256, 16, 80, 30, 0.0f},
    {320, 200, 8, 1, 1, 256, 8, 40, 25, 0.0f},    {320, 240, 8, 1, 1, 256, 8, 40, 30, 0.0f},
    {400, 300, 8, 1, 1, 256, 8, 50, 37, 0.0f},    {512, 384, 8, 1, 1, 256, 16, 64, 24, 0.0f},
    {640, 400, 8, 1, 1, 256, 16, 80, 25, 0.0f},   {640, 480, 8, 1, 1, 256, 16, 80, 30, 0.0f},
    {800, 600, 8, 1, 1, 256, 16, 100, 37, 0.0f},  {1024, 768, 8, 1, 1, 256, 16, 128, 48, 0.0f},
    {1280, 1024, 8, 1, 1, 256, 16, 160, 64, 0.0f},
};

// Settings that outlive every screen.
char window_title[WINDOW_TITLE_SIZE] = {};
std::string driver_name_override;
bool exit_handler_registered = false;

void graphicsViewUpdate() {}

// Driver names compare without regard to letter case (ASCII).
bool sameName(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(*a) != lower(*b)) return false;
    if (*a == '\0') return true;
  }
}

const ConsoleHooks graphics_hooks = {
    graphicsInkey,         graphicsGetKey,          graphicsKeyHit,
    graphicsClearScreen,   colourHook,              graphicsLocate,
    graphicsWidth,         graphicsGetColumn,       graphicsGetRow,
    graphicsGetPosition,   graphicsGetSize,         graphicsPrintBuffer,
    graphicsPrintBufferWide, graphicsReadString,    graphicsKeyState,
    graphicsGetMouse,      graphicsSetMouse,        portInHook,
    portOutHook,           graphicsViewUpdate,      graphicsLineInput,
    graphicsLineInputWide, graphicsReadScreenCell,  graphicsSleep,
    graphicsIsRedirected,  copyPageHook,            setPagesHook,
};

// The null screen has no window that keys could come from: its keyboard slots stay
// empty, so the text console's keyboard serves (the terminal, or standard input
// when it is redirected), while the picture is drawn in memory.
void takeNullDriver(ScreenState* s) {
  s->driver = &nullWindowDriver();
  ConsoleHooks& hooks = console_hooks_table();
  hooks.inkey = nullptr;
  hooks.get_key = nullptr;
  hooks.key_hit = nullptr;
  hooks.key_state = nullptr;
  hooks.sleep = nullptr;
  hooks.is_redirected = nullptr;
}

void takeScreenDown() {
  ScreenState* s = currentScreen();
  if (!s) return;
  // The driver's thread stops before any buffer it reads is freed.
  if (s->driver && s->driver->close) s->driver->close();
  destroyScreenState(s);
}

// The program's file name without directories and extension, as the default title.
void titleFromModuleName() {
  std::string path = module_file_name();
  const size_t slash = path.find_last_of("/\\");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() > WINDOW_TITLE_SIZE - 1) name.resize(WINDOW_TITLE_SIZE - 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  std::memset(window_title, 0, sizeof window_title);
  std::memcpy(window_title, name.data(), name.size());
}

// Up to two opens of one driver: the requested refresh rate, then 0. A failed open
// is followed by the driver's close. The screen names the driver before its open
// starts the update thread, which may read the reference (a palette resend), and
// forgets it only once the close has stopped that thread.
bool tryDriver(const WindowDriver* driver, ScreenState* s, int32_t refresh_rate, int32_t flags) {
  if (!driver->open) return false;
  const int32_t rates[2] = {refresh_rate, 0};
  for (int32_t attempt = 0; attempt < 2; ++attempt) {
    s->driver = driver;
    if (driver->open(window_title, s->width, s->height * s->scanline_size, s->depth,
                     rates[attempt], flags) == 0)
      return true;
    if (driver->close) driver->close();
    s->driver = nullptr;
  }
  return false;
}

// One pass over the driver list; a filtered pass tries only the named drivers.
const WindowDriver* searchPass(ScreenState* s, const char* filter, int32_t refresh_rate,
                               int32_t flags) {
  for (const WindowDriver* const* d = windowDriverList(); *d; ++d) {
    if (filter && !sameName((*d)->name, filter)) continue;
    if (tryDriver(*d, s, refresh_rate, flags)) return *d;
  }
  return nullptr;
}

// With a name: the named drivers, then all; then both again with the full-screen
// bit toggled. Without one: all, then all toggled.
const WindowDriver* searchDrivers(ScreenState* s, const char* name, int32_t refresh_rate,
                                  int32_t flags) {
  const bool named = name && *name;
  for (int32_t toggled = 0; toggled < 2; ++toggled) {
    const int32_t pass_flags = toggled ? flags ^ SCREEN_FLAG_FULL_SCREEN : flags;
    if (named) {
      if (const WindowDriver* d = searchPass(s, name, refresh_rate, pass_flags)) return d;
    }
    if (const WindowDriver* d = searchPass(s, nullptr, refresh_rate, pass_flags)) return d;
  }
  return nullptr;
}

const char* chosenDriverName() {
  if (!driver_name_override.empty()) return driver_name_override.c_str();
  return environment_variable("ZVGFX");
}

// A mode set that cannot be completed leaves no screen and gives the console back.
int32_t failModeSet() {
  applyScreenMode(nullptr, 0, 0, 0, 0, SCREEN_FLAGS_CLOSING);
  return set_error(ERR_ILLEGAL_CALL);
}

}  // namespace

const ScreenModeInfo* screenModeInfo(int32_t mode) {
  if (mode < 1 || mode > SCREEN_MODE_COUNT) return nullptr;
  return &mode_table[mode - 1];
}

const ConsoleHooks& graphicsConsoleHooks() { return graphics_hooks; }

int32_t applyScreenMode(const ScreenModeInfo* info, int32_t mode_number, int32_t depth,
                        int32_t page_count, int32_t refresh_rate, int32_t flags) {
  if (page_count < 1) page_count = info ? info->page_count : 1;
  if (flags >= 0 && (flags & SCREEN_FLAG_SHAPED)) flags |= 0x1C;

  takeScreenDown();

  if (mode_number == 0 || !info || info->width == 0) {
    console_hooks_table() = ConsoleHooks{};
    if (flags != SCREEN_FLAGS_CLOSING) {
      call_hook<&ConsoleHooks::width>(80, 25);
      call_hook<&ConsoleHooks::clear_screen>(CLEAR_DEFAULT);
    }
    set_view_rows_raw(-1, -1);
  } else {
    console_hooks_table() = graphics_hooks;
    set_key_hit_wait(graphicsKeyHit, graphicsWaitKeyHit);
    ScreenState* s = createScreenState();
    if (!s) return failModeSet();
    s->mode_number = mode_number;
    s->width = info->width;
    s->height = info->height;
    int32_t screen_depth = info->depth;
    if (mode_number > 13 &&
        (depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32))
      screen_depth = depth;
    if (flags >= 0 && (flags & SCREEN_FLAG_OPENGL) && screen_depth < 16) screen_depth = 16;
    s->scanline_size = info->scanline_size;
    s->aspect = info->aspect != 0.0f
                    ? info->aspect
                    : static_cast<float>(static_cast<double>(info->height) / info->width *
                                         1.3333333333333333);
    normaliseScreenDepth(s, screen_depth);
    if (!allocateScreenBuffers(s, page_count)) {
      destroyScreenState(s);
      return failModeSet();
    }
    setCurrentScreen(s);
    if (flags != SCREEN_FLAGS_NULL) {
      if (flags & SCREEN_FLAG_ALPHA) s->state_flags |= SCREEN_ALPHA_PRIMITIVES;
      if (flags & SCREEN_FLAG_OPENGL) s->state_flags |= SCREEN_OPENGL;
      if (flags & SCREEN_FLAG_HIGH_PRIORITY) s->state_flags |= SCREEN_HIGH_PRIORITY;
    }
    selectPixelRoutines(s->bytes_per_pixel);
    if (window_title[0] == '\0') titleFromModuleName();

    const char* name = chosenDriverName();
    const bool windowless = flags == SCREEN_FLAGS_NULL || (name && sameName(name, "null"));
    if (windowless)
      takeNullDriver(s);
    else if (!searchDrivers(s, name, refresh_rate, flags))
      return failModeSet();

    // The built-in fonts and palettes are unpacked at their first lookup, which a run
    // whose drivers all fail (no display) never makes; a block that does not decode
    // leaves them blank, which shows but does not stop the screen. The driver's update
    // thread may already run: the screen lock keeps it off the half-filled record.
    lockScreen();
    s->default_palette = builtinPalette(info->palette_colours);
    s->font = builtinFont(info->font_height);
    unlockScreen(1, 0);
    s->text_columns = info->text_columns;
    s->text_rows = info->text_rows;
    if (!finishScreenBuild(s)) return failModeSet();
    if (!windowless) console_release_own_window();
    if (!exit_handler_registered) {
      exit_handler_registered = true;
      std::atexit(closeScreenAtExit);
    }
  }

  if (flags != SCREEN_FLAGS_CLOSING) {
    int32_t rows = 0;
    call_hook<&ConsoleHooks::get_size>(nullptr, &rows);
    set_view_rows(1, rows > 0 ? rows : 25, 0);
    if (ScreenState* s = currentScreen()) {
      int32_t top = 0;
      view_rows(&top, nullptr);
      s->cursor_column = 0;
      s->cursor_row = top - 1;
    }
  }
  return set_error(ERR_NONE);
}

int32_t setScreenMode(int32_t mode, int32_t depth, int32_t page_count, int32_t flags,
                      int32_t refresh_rate) {
  if (static_cast<uint32_t>(mode) > SCREEN_MODE_COUNT) return set_error(ERR_ILLEGAL_CALL);
  const ScreenModeInfo* info = mode == 0 ? nullptr : screenModeInfo(mode);
  if (info && info->width == 0) return set_error(ERR_ILLEGAL_CALL);
  const int32_t error = applyScreenMode(info, mode, depth, page_count, refresh_rate, flags);
  if (error == ERR_NONE) screen_record()->column = 0;
  return error;
}

int32_t setScreenModePages(int32_t mode, int32_t active_page, int32_t visible_page) {
  const int32_t error = setScreenMode(mode, 0, 0, 0, 0);
  if (error != ERR_NONE) return error;
  if (active_page < 0 && visible_page < 0) return 0;
  return call_hook<&ConsoleHooks::set_pages>(active_page, visible_page);
}

int32_t setScreenSize(int32_t width, int32_t height, int32_t depth, int32_t page_count,
                      int32_t flags, int32_t refresh_rate) {
  const bool depth_ok = depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 15 ||
                        depth == 16 || depth == 24 || depth == 32;
  // The record keeps sizes in 16 bits; larger screens are refused rather than
  // silently cut.
  if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF || !depth_ok)
    return set_error(ERR_ILLEGAL_CALL);
  ScreenModeInfo info{};
  info.width = static_cast<uint16_t>(width);
  info.height = static_cast<uint16_t>(height);
  info.depth = static_cast<uint8_t>(depth);
  info.scanline_size = 1;
  info.page_count = 1;
  info.palette_colours = 256;
  info.font_height = 8;
  info.text_columns = static_cast<uint16_t>(width / 8);
  info.text_rows = static_cast<uint16_t>(height / 8);
  info.aspect = 1.0f;
  const int32_t error = applyScreenMode(&info, -1, -1, page_count, refresh_rate, flags);
  if (error == ERR_NONE) screen_record()->column = 0;
  return error;
}

void setWindowTitle(const char* text, int32_t length) {
  std::memset(window_title, 0, sizeof window_title);
  if (text && length > 0) {
    const size_t n = length < WINDOW_TITLE_SIZE - 1 ? static_cast<size_t>(length)
                                                    : static_cast<size_t>(WINDOW_TITLE_SIZE - 1);
    std::memcpy(window_title, text, n);
  }
  ScreenState* s = currentScreen();
  if (s && s->driver && s->driver->setTitle) s->driver->setTitle(window_title);
}

const char* windowTitle() { return window_title; }

void setScreenDriverName(const char* name) { driver_name_override = name ? name : ""; }

void closeScreenAtExit() {
  if (currentScreen()) applyScreenMode(nullptr, 0, 0, 0, 0, SCREEN_FLAGS_CLOSING);
}

}  // namespace zv
