// What glscreen does, for the program, its window test (which prints the page on a
// screen in memory to know the picture the window must show) and the frame
// benchmark: the fixed page of text it prints into its framebuffer, the OpenGL
// functions it takes from "opengl32.dll", and the drawing of one frame.
#pragma once

#include <windows.h>
#include <GL/gl.h>

#include "gfx/screen_state.h"
#include "runtime/hooks.h"
#include "runtime/print.h"

namespace glscreen {

constexpr int32_t WIDTH = 640, HEIGHT = 480, DEPTH = 32;
constexpr int32_t OPENGL_FLAG = 0x02;

inline void printPage() {
  using zv::ConsoleHooks;
  zv::call_hook<&ConsoleHooks::colour>(0xFFFF55, 0x0000AA, 0);
  zv::print_text(0, " glscreen: the framebuffer drawn by OpenGL ",
                 zv::PRINT_NEWLINE);
  zv::call_hook<&ConsoleHooks::colour>(0xAAAAAA, 0x000000, 0);
  zv::print_newline(0, zv::PRINT_NEWLINE);
  zv::print_text(0, "When it changes, the 640 x 480 framebuffer goes up as a GL_BGRA texture", zv::PRINT_NEWLINE);
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


// The texture is the next powers of two above the screen, which OpenGL 1.1 needs;
// the screen fills its top left corner.
constexpr GLsizei TEXTURE_WIDTH = 1024, TEXTURE_HEIGHT = 512;

struct GlFunctions {
  void(APIENTRY* Viewport)(GLint, GLint, GLsizei, GLsizei);
  void(APIENTRY* MatrixMode)(GLenum);
  void(APIENTRY* LoadIdentity)();
  void(APIENTRY* Ortho)(GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble);
  void(APIENTRY* Enable)(GLenum);
  void(APIENTRY* Disable)(GLenum);
  void(APIENTRY* GenTextures)(GLsizei, GLuint*);
  void(APIENTRY* BindTexture)(GLenum, GLuint);
  void(APIENTRY* TexParameteri)(GLenum, GLenum, GLint);
  void(APIENTRY* TexImage2D)(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum, const GLvoid*);
  void(APIENTRY* TexSubImage2D)(GLenum, GLint, GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, const GLvoid*);
  void(APIENTRY* PixelStorei)(GLenum, GLint);
  void(APIENTRY* ClearColor)(GLclampf, GLclampf, GLclampf, GLclampf);
  void(APIENTRY* Clear)(GLbitfield);
  void(APIENTRY* Begin)(GLenum);
  void(APIENTRY* End)();
  void(APIENTRY* TexCoord2f)(GLfloat, GLfloat);
  void(APIENTRY* Vertex2f)(GLfloat, GLfloat);
};

template <class Function>
inline bool resolve(HMODULE module, const char* name, Function* out) {
  *out = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
  return *out != nullptr;
}

inline bool loadGl(GlFunctions* gl) {
  HMODULE module = LoadLibraryA("opengl32.dll");
  return module && resolve(module, "glViewport", &gl->Viewport) && resolve(module, "glMatrixMode", &gl->MatrixMode) &&
         resolve(module, "glLoadIdentity", &gl->LoadIdentity) && resolve(module, "glOrtho", &gl->Ortho) &&
         resolve(module, "glEnable", &gl->Enable) && resolve(module, "glDisable", &gl->Disable) &&
         resolve(module, "glGenTextures", &gl->GenTextures) && resolve(module, "glBindTexture", &gl->BindTexture) &&
         resolve(module, "glTexParameteri", &gl->TexParameteri) && resolve(module, "glTexImage2D", &gl->TexImage2D) &&
         resolve(module, "glTexSubImage2D", &gl->TexSubImage2D) && resolve(module, "glPixelStorei", &gl->PixelStorei) &&
         resolve(module, "glClearColor", &gl->ClearColor) && resolve(module, "glClear", &gl->Clear) &&
         resolve(module, "glBegin", &gl->Begin) && resolve(module, "glEnd", &gl->End) &&
         resolve(module, "glTexCoord2f", &gl->TexCoord2f) && resolve(module, "glVertex2f", &gl->Vertex2f);
}

// One texel per pixel: nearest sampling, a projection of one unit per pixel with the
// origin at the top left, and an empty texture the size of two powers.
inline void setUp(const GlFunctions& gl, GLuint* texture) {
  gl.Viewport(0, 0, WIDTH, HEIGHT);
  gl.MatrixMode(GL_PROJECTION);
  gl.LoadIdentity();
  gl.Ortho(0, WIDTH, HEIGHT, 0, -1, 1);
  gl.MatrixMode(GL_MODELVIEW);
  gl.LoadIdentity();
  gl.Disable(GL_DEPTH_TEST);
  gl.Disable(GL_LIGHTING);
  gl.Disable(GL_BLEND);
  gl.Enable(GL_TEXTURE_2D);
  gl.GenTextures(1, texture);
  gl.BindTexture(GL_TEXTURE_2D, *texture);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
  gl.PixelStorei(GL_UNPACK_ALIGNMENT, 4);
  gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGB8, TEXTURE_WIDTH, TEXTURE_HEIGHT, 0, GL_BGRA_EXT, GL_UNSIGNED_BYTE, nullptr);
  gl.ClearColor(0, 0, 0, 1);
}

// The quad with the texture; the framebuffer goes up first unless the texture holds
// it already.
inline void drawFrame(const GlFunctions& gl, bool upload = true) {
  if (upload) {
    zv::lockScreen();
    const zv::ScreenState* s = zv::currentScreen();
    gl.TexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, s->width, s->height, GL_BGRA_EXT, GL_UNSIGNED_BYTE, s->framebuffer);
    zv::unlockScreen(1, 0);
  }
  const GLfloat right = static_cast<GLfloat>(WIDTH) / TEXTURE_WIDTH;
  const GLfloat bottom = static_cast<GLfloat>(HEIGHT) / TEXTURE_HEIGHT;
  gl.Clear(GL_COLOR_BUFFER_BIT);
  gl.Begin(GL_QUADS);
  gl.TexCoord2f(0, 0);
  gl.Vertex2f(0, 0);
  gl.TexCoord2f(right, 0);
  gl.Vertex2f(WIDTH, 0);
  gl.TexCoord2f(right, bottom);
  gl.Vertex2f(WIDTH, HEIGHT);
  gl.TexCoord2f(0, bottom);
  gl.Vertex2f(0, HEIGHT);
  gl.End();
}

}  // namespace glscreen
