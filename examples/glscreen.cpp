// glscreen: a program that draws its screen with OpenGL. It opens a 640 x 480 32-bit
// screen with the OpenGL flag, prints a page of text into the framebuffer with the
// print statement, and every frame uploads the framebuffer as a GL_BGRA texture,
// draws it as a quad filling the window 1:1, presents and handles the window's
// events. Escape or the close request ends it with status 0; Alt+Enter switches
// between window and full screen. The OpenGL functions come from "opengl32.dll" the
// Win32 way, so the same source builds for Windows.
#include <windows.h>
#include <GL/gl.h>

#include <cstdio>

#include "examples/glscreen.h"
#include "gfx/key_queue.h"
#include "gfx/screen_mode.h"
#include "gfx/screen_state.h"
#include "runtime/runtime.h"

namespace {

constexpr int32_t KEY_ESCAPE = 27;

// Every key waiting; true when one of them ends the program.
bool endRequested() {
  bool end = false;
  zv::lockScreen();
  while (zv::keysQueued() > 0) {
    const int32_t key = zv::popKey();
    end = end || key == KEY_ESCAPE || key == zv::KEY_CLOSE_REQUEST;
  }
  zv::unlockScreen(1, 0);
  return end;
}

}  // namespace

int main(int argc, char** argv) {
  zv::runtime_init(argc, argv, 0);
  if (zv::setScreenSize(glscreen::WIDTH, glscreen::HEIGHT, glscreen::DEPTH, 1, glscreen::OPENGL_FLAG, 0) != 0 ||
      !zv::currentScreen()) {
    std::fputs("glscreen: no OpenGL screen could be opened\n", stderr);
    zv::end_program(1);
  }
  glscreen::GlFunctions gl{};
  if (!glscreen::loadGl(&gl)) {
    std::fputs("glscreen: opengl32.dll lacks a function this program needs\n", stderr);
    zv::end_program(1);
  }
  glscreen::printPage();
  GLuint texture = 0;
  glscreen::setUp(gl, &texture);
  while (!endRequested()) {
    glscreen::drawFrame(gl);
    // The page copy statement: a driver that presents itself swaps the buffers and
    // handles the window's events instead.
    zv::call_hook<&zv::ConsoleHooks::copy_page>(-1, -1);
    Sleep(10);
  }
  zv::end_program(0);
}
