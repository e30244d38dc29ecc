// The fixed page of text that glscreen prints into its framebuffer; the window test
// prints it too, on a screen in memory, to know the picture the window must show.
#pragma once

#include "runtime/hooks.h"
#include "runtime/print.h"

namespace glscreen {

constexpr int32_t WIDTH = 640, HEIGHT = 480, DEPTH = 32;
constexpr int32_t OPENGL_FLAG = 0x02;

inline void printPage() {
  using zv::ConsoleHooks;
  zv::call_hook<&ConsoleHooks::colour>(0xFFFF55, 0x0000AA, 0);
  zv::print_text(0, " glscreen: the framebuffer drawn by OpenGL                                      ",
                 zv::PRINT_NEWLINE);
  zv::call_hook<&ConsoleHooks::colour>(0xAAAAAA, 0x000000, 0);
  zv::print_newline(0, zv::PRINT_NEWLINE);
  zv::print_text(0, "Every frame the 640 x 480 framebuffer goes up as a GL_BGRA texture", zv::PRINT_NEWLINE);
  zv::print_text(0, "and is drawn as one quad that fills the window, texel for pixel.", zv::PRINT_NEWLINE);
  zv::print_newline(0, zv::PRINT_NEWLINE);
  zv::call_hook<&ConsoleHooks::colour>(0x55FF55, 0x000000, 0);
  zv::print_text(0, "  Alt+Enter   full screen and back", zv::PRINT_NEWLINE);
  zv::print_text(0, "  Escape      end", zv::PRINT_NEWLINE);
  zv::print_newline(0, zv::PRINT_NEWLINE);
  zv::call_hook<&ConsoleHooks::colour>(0xFF5555, 0x000000, 0);
  for (int row = 0; row < 8; ++row) {
    zv::print_text(0, "\xB0\xB1\xB2\xDB \x01\x02\x03\x04\x05\x06 0123456789 ABCDEFGHIJKLMNOPQRSTUVWXYZ "
                      "abcdefghijklmnopqrstuvwxyz \x80\x81\x82",
                   zv::PRINT_NEWLINE);
  }
}

}  // namespace glscreen
