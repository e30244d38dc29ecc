// glscreen: a program that draws its screen with OpenGL. It opens a 640 x 480 32-bit
// screen with the OpenGL flag, prints a page of text into the framebuffer with the
// print statement, uploads the framebuffer as a GL_BGRA texture when rows of it
// changed, draws it as a quad filling the window 1:1, presents and handles the
// window's events. While nothing changes it sleeps until the window has an event
// (a key, a repaint, a switch), after which it draws the picture again. Escape or the
// close request ends it with status 0; Alt+Enter switches between window and full
// screen. The OpenGL functions come from "opengl32.dll" the Win32 way, so the same
// source builds for Windows. --version and --help are answered before anything opens.
#include <windows.h>
#include <GL/gl.h>

#include <cstdio>
#include <cstring>

#include "common/standard_options.h"
#include "examples/glscreen.h"
#include "gfx/key_queue.h"
#include "gfx/screen_mode.h"
#include "gfx/screen_state.h"
#include "runtime/runtime.h"

namespace {

constexpr int32_t KEY_ESCAPE = 27;

// Plain ASCII, so that every terminal and console shows it as it is.
constexpr char USAGE[] =
    "glscreen - eine Textseite, mit OpenGL gezeichnet\n"
    "           a page of text drawn with OpenGL\n"
    "\n"
    "Aufruf / usage: glscreen [--help | --version]\n"
    "\n"
    "Alt+Enter wechselt zwischen Fenster und Vollbild; Escape oder das Schliessen\n"
    "des Fensters beendet das Programm.\n"
    "Alt+Enter switches between window and full screen; Escape or closing the\n"
    "window ends the program.\n"
    "\n"
    "Mehr / more: man glscreen\n";

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

// Whether framebuffer rows changed since the last look; their marks are taken.
bool takeChangedRows() {
  zv::lockScreen();
  zv::ScreenState* s = zv::currentScreen();
  const size_t rows = static_cast<size_t>(s->height);
  const bool changed = s->dirty_lines && std::memchr(s->dirty_lines, 1, rows) != nullptr;
  if (changed) std::memset(s->dirty_lines, 0, rows);
  zv::unlockScreen(1, 0);
  return changed;
}

}  // namespace

int main(int argc, char** argv) {
  int status = 0;
  if (zv::answerStandardOption(argc, argv, "glscreen " ZV_VERSION "\n", USAGE, &status)) return status;
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
  bool draw = true;
  for (;;) {
    const bool upload = takeChangedRows();
    if (upload || draw) {
      glscreen::drawFrame(gl, upload);
      // The page copy statement: a driver that presents itself swaps the buffers and
      // handles the window's events instead.
      zv::call_hook<&zv::ConsoleHooks::copy_page>(-1, -1);
      draw = false;
    } else {
      // Nothing to draw: asleep until a message arrives that the last look at the
      // queue did not see. The events it brings are handled before the next frame.
      MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT);
      zv::currentScreen()->driver->pumpEvents();
      draw = true;
    }
    if (endRequested()) break;
  }
  zv::end_program(0);
}
