// The screen record's builders, its teardown and the nesting screen lock.
#include "gfx/screen_state.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "gfx/draw_context.h"
#include "gfx/palette.h"
#include "platform/platform.h"

namespace zv {

namespace {

ScreenState* current_screen = nullptr;
uint8_t* converter_scratch = nullptr;
int32_t screen_id_counter = 0;

void freeTextCellPages(ScreenState* s) {
  if (!s->text_pages) return;
  for (int32_t p = 0; p < s->page_count; ++p) std::free(s->text_pages[p]);
  std::free(s->text_pages);
  s->text_pages = nullptr;
}

void freeScreenBuffers(ScreenState* s) {
  freeTextCellPages(s);
  if (s->pages) {
    for (int32_t p = 0; p < s->page_count; ++p) aligned_free(s->pages[p]);
    std::free(s->pages);
  }
  s->pages = nullptr;
  s->framebuffer = nullptr;
  std::free(s->palette);
  std::free(s->device_palette);
  std::free(s->colour_association);
  std::free(s->dirty_lines);
  std::free(s->key_states);
  std::free(s->event_queue);
  delete s->event_lock;
  s->palette = s->device_palette = nullptr;
  s->colour_association = s->dirty_lines = s->key_states = nullptr;
  s->event_queue = nullptr;
  s->event_lock = nullptr;
  std::free(converter_scratch);
  converter_scratch = nullptr;
}

}  // namespace

ScreenState* currentScreen() { return current_screen; }
void setCurrentScreen(ScreenState* screen) { current_screen = screen; }
uint8_t* converterScratch() { return converter_scratch; }

ScreenState* createScreenState() {
  auto* s = new (std::nothrow) ScreenState{};
  if (s) s->id = ++screen_id_counter;
  return s;
}

void normaliseScreenDepth(ScreenState* s, int32_t depth) {
  if (depth == 15 || depth == 16) {
    s->depth = 16;
    s->colour_mask = 0xFFFF;
  } else if (depth == 24 || depth == 32) {
    s->depth = 32;
    s->colour_mask = 0xFFFFFFFF;
  } else {
    s->depth = depth;
    s->colour_mask = (1u << depth) - 1;
  }
  s->bytes_per_pixel = (s->depth + 7) / 8;
  s->pitch = s->bytes_per_pixel * s->width;
}

bool allocateScreenBuffers(ScreenState* s, int32_t page_count) {
  if (page_count < 1 || s->width < 1 || s->height < 1 || s->scanline_size < 1) return false;
  const size_t page_size = static_cast<size_t>(s->height) * static_cast<size_t>(s->pitch);
  // aligned_alloc wants a size that is a multiple of the alignment.
  const size_t rounded = (page_size + PAGE_ALIGNMENT - 1) / PAGE_ALIGNMENT * PAGE_ALIGNMENT;
  s->pages = static_cast<uint8_t**>(std::calloc(page_count, sizeof(uint8_t*)));
  bool ok = s->pages != nullptr;
  if (ok) s->page_count = page_count;
  for (int32_t p = 0; ok && p < page_count; ++p) {
    s->pages[p] = static_cast<uint8_t*>(aligned_allocate(PAGE_ALIGNMENT, rounded));
    ok = s->pages[p] != nullptr;
  }
  s->visible_page = 0;
  s->framebuffer = ok ? s->pages[0] : nullptr;
  s->dirty_lines = static_cast<uint8_t*>(
      std::calloc(static_cast<size_t>(s->height) * s->scanline_size, 1));
  s->palette = static_cast<uint32_t*>(std::calloc(256, sizeof(uint32_t)));
  s->device_palette = static_cast<uint32_t*>(std::calloc(256, sizeof(uint32_t)));
  // Zero-filled too: modes without an association table read it in the port-out hook.
  s->colour_association = static_cast<uint8_t*>(std::calloc(COLOUR_ASSOCIATION_SIZE, 1));
  s->key_states = static_cast<uint8_t*>(std::calloc(KEY_STATE_COUNT, 1));
  s->event_queue = static_cast<ScreenEvent*>(std::calloc(EVENT_QUEUE_SIZE, sizeof(ScreenEvent)));
  s->event_head = s->event_tail = 0;
  s->event_lock = new (std::nothrow) std::binary_semaphore(1);
  std::free(converter_scratch);
  converter_scratch = static_cast<uint8_t*>(std::calloc(CONVERTER_SCRATCH_SIZE, 1));
  ok = ok && s->dirty_lines && s->palette && s->device_palette && s->colour_association &&
       s->key_states && s->event_queue && s->event_lock && converter_scratch;
  if (!ok) freeScreenBuffers(s);
  return ok;
}

bool resetTextCellPages(ScreenState* s, int32_t active_page, uint32_t foreground,
                        uint32_t background) {
  freeTextCellPages(s);
  const size_t cells = static_cast<size_t>(s->text_columns > 0 ? s->text_columns : 0) *
                       static_cast<size_t>(s->text_rows > 0 ? s->text_rows : 0);
  s->text_pages = static_cast<TextCell**>(std::calloc(s->page_count, sizeof(TextCell*)));
  if (!s->text_pages) return false;
  for (int32_t p = 0; p < s->page_count; ++p) {
    s->text_pages[p] = static_cast<TextCell*>(std::calloc(cells ? cells : 1, sizeof(TextCell)));
    if (!s->text_pages[p]) {
      freeTextCellPages(s);
      return false;
    }
  }
  if (active_page >= 0 && active_page < s->page_count) {
    TextCell* page = s->text_pages[active_page];
    for (size_t i = 0; i < cells; ++i) page[i] = TextCell{32, 0, foreground, background};
  }
  return true;
}

void clearScreenPages(ScreenState* s, uint32_t colour) {
  for (int32_t p = 0; p < s->page_count; ++p) {
    uint8_t* row = s->pages[p];
    for (int32_t y = 0; y < s->height; ++y, row += s->pitch) {
      switch (s->bytes_per_pixel) {
        case 1:
          std::memset(row, static_cast<uint8_t>(colour), s->pitch);
          break;
        case 2: {
          const auto value = static_cast<uint16_t>(colour);
          for (int32_t x = 0; x < s->width; ++x) std::memcpy(row + 2 * x, &value, 2);
          break;
        }
        default:
          for (int32_t x = 0; x < s->width; ++x) std::memcpy(row + 4 * x, &colour, 4);
      }
    }
  }
}

bool finishScreenBuild(ScreenState* s) {
  // The driver is open by now and its update thread may be reading: everything
  // below happens under the screen lock.
  lockScreen();
  if (s->depth <= 8) resetPalette(-1);
  DrawContext* context = getDrawContext();
  bool ok = context && context->screen_id == s->id &&
            resetTextCellPages(s, context->active_page, context->foreground, context->background);
  if (ok) {
    clearScreenPages(s, context->background);
    markRowsDirty(s, 0, s->height - 1);
  }
  unlockScreen(1, 0);
  return ok;
}

void destroyScreenState(ScreenState* s) {
  if (!s) return;
  freeScreenBuffers(s);
  if (current_screen == s) current_screen = nullptr;
  delete s;
}

void markRowsDirty(ScreenState* s, int32_t first_row, int32_t last_row) {
  if (!s || !s->dirty_lines) return;
  if (first_row < 0) first_row = 0;
  if (last_row >= s->height) last_row = s->height - 1;
  if (first_row > last_row) return;
  std::memset(s->dirty_lines + first_row, 1, static_cast<size_t>(last_row - first_row + 1));
}

void setStateFlags(ScreenState* s, uint32_t mask, bool on) {
  const uint32_t flags = on ? s->state_flags | mask : s->state_flags & ~mask;
  if (flags == s->state_flags) return;
  lockScreen();
  s->state_flags = flags;
  unlockScreen(1, 0);
}

void lockScreen() {
  ScreenState* s = current_screen;
  if (!s) return;
  if (s->lock_count == 0 && s->driver && s->driver->lock) s->driver->lock();
  ++s->lock_count;
}

void unlockScreen(int32_t first_row, int32_t last_row) {
  ScreenState* s = current_screen;
  if (!s) return;
  const DrawContext* context = getDrawContext();
  if (context && context->active_page == s->visible_page) {
    if (last_row < 0) last_row = s->height - 1;
    if (first_row < 0) first_row = 0;
    if (first_row <= last_row && last_row < s->height) markRowsDirty(s, first_row, last_row);
  }
  if (s->lock_count > 0 && --s->lock_count == 0 && s->driver && s->driver->unlock)
    s->driver->unlock();
}

}  // namespace zv
