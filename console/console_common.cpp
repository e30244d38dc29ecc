// The parts of the text console backend that are the same on every host. See
// console_common.h.
#include "console/console_common.h"

#include <cerrno>
#include <cstdio>
#include <vector>

namespace zv {

StringDesc* console_key_string(int32_t code) {
  if (code <= 0) return temp_from_literal("", 0);
  char bytes[2];
  if (code >= 256) {
    bytes[0] = static_cast<char>(255);
    bytes[1] = static_cast<char>((code >> 8) & 0xFF);
    return temp_from_copy(bytes, 2);
  }
  bytes[0] = static_cast<char>(code);
  return temp_from_copy(bytes, 1);
}

void console_print_wide(PrintBytes print, const uint16_t* text, int32_t length, int32_t flags) {
  std::vector<uint8_t> bytes;
  for (int32_t i = 0; text && i < length; ++i) {
    uint16_t u = text[i];
    if (u < 256) {
      bytes.push_back(static_cast<uint8_t>(u));
      continue;
    }
    bytes.push_back('?');
    if (u >= 0xD800 && u <= 0xDBFF) ++i;  // the pair gives one character
  }
  print(bytes.data(), static_cast<int32_t>(bytes.size()), flags);
}

char* console_read_line(int32_t (*get_key)(), PrintBytes print, char* buffer, int32_t length) {
  if (!buffer) return nullptr;
  if (length <= 0) return buffer;
  int32_t n = 0;
  for (;;) {
    int32_t k = get_key();
    if (k > 255 || k <= 0 || k == 7) continue;
    if (k == 8) {
      if (n > 0) {
        --n;
        print(reinterpret_cast<const uint8_t*>("\b \b"), 3, 0);
      }
      continue;
    }
    if (n < length - 1) {
      buffer[n++] = static_cast<char>(k);
      uint8_t b = static_cast<uint8_t>(k);
      print(&b, 1, 0);
    }
    if (k == 13) break;
  }
  buffer[n] = '\0';
  return buffer;
}

int32_t console_redirected_key(bool& after_cr, bool wait, bool (*has_data)()) {
  for (;;) {
    if (!wait && !has_data()) return -2;
    int ch = std::getc(stdin);
    if (ch == EOF) {
      if (std::ferror(stdin) && errno == EINTR) {
        std::clearerr(stdin);
        continue;
      }
      return -1;
    }
    bool line_end_follows_cr = after_cr;
    after_cr = ch == '\r';
    if (ch == '\n') {
      if (line_end_follows_cr) continue;
      return 13;
    }
    if (ch == 0) continue;
    return ch;
  }
}

int32_t console_pop_key(std::deque<int32_t>& keys) {
  int32_t code = keys.front();
  keys.pop_front();
  return code;
}

int32_t console_key_state(int32_t) { return 0; }

int32_t console_get_mouse(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip) {
  for (int32_t* out : {x, y, wheel, buttons, clip})
    if (out) *out = -1;
  return 1;
}

int32_t console_set_mouse(int32_t, int32_t, int32_t, int32_t) { return 1; }
int32_t console_port_in(int32_t) { return -1; }
int32_t console_port_out(int32_t, int32_t) { return -1; }
void console_view_update() {}
int32_t console_read_screen_cell(int32_t, int32_t, int32_t) { return 0; }  // no cell shadow is kept

// One page: 0 (or -1 for the current one).
int32_t console_copy_page(int32_t source, int32_t destination) {
  bool ok = (source == 0 || source == -1) && (destination == 0 || destination == -1);
  return ok ? 0 : 1;
}

int32_t console_set_pages(int32_t, int32_t) { return 0; }

}  // namespace zv
