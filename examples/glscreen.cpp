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
#include <cstring>
#include <vector>

#include "examples/glscreen_page.h"
#include "gfx/key_queue.h"
#include "gfx/screen_mode.h"
#include "gfx/screen_state.h"
#include "runtime/runtime.h"

namespace {

// The texture is the next powers of two above the screen, which OpenGL 1.1 needs;
// the screen fills its top left corner.
constexpr GLsizei TEXTURE_WIDTH = 1024, TEXTURE_HEIGHT = 512;
constexpr int32_t KEY_ESCAPE = 27;

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
bool resolve(HMODULE module, const char* name, Function* out) {
  *out = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
  return *out != nullptr;
}

bool loadGl(GlFunctions* gl) {
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
void setUp(const GlFunctions& gl, GLuint* texture) {
  gl.Viewport(0, 0, glscreen::WIDTH, glscreen::HEIGHT);
  gl.MatrixMode(GL_PROJECTION);
  gl.LoadIdentity();
  gl.Ortho(0, glscreen::WIDTH, glscreen::HEIGHT, 0, -1, 1);
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

void drawFrame(const GlFunctions& gl) {
  zv::lockScreen();
  const zv::ScreenState* s = zv::currentScreen();
  gl.TexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, s->width, s->height, GL_BGRA_EXT, GL_UNSIGNED_BYTE, s->framebuffer);
  zv::unlockScreen(1, 0);
  const GLfloat right = static_cast<GLfloat>(glscreen::WIDTH) / TEXTURE_WIDTH;
  const GLfloat bottom = static_cast<GLfloat>(glscreen::HEIGHT) / TEXTURE_HEIGHT;
  gl.Clear(GL_COLOR_BUFFER_BIT);
  gl.Begin(GL_QUADS);
  gl.TexCoord2f(0, 0);
  gl.Vertex2f(0, 0);
  gl.TexCoord2f(right, 0);
  gl.Vertex2f(glscreen::WIDTH, 0);
  gl.TexCoord2f(right, bottom);
  gl.Vertex2f(glscreen::WIDTH, glscreen::HEIGHT);
  gl.TexCoord2f(0, bottom);
  gl.Vertex2f(0, glscreen::HEIGHT);
  gl.End();
}

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
  GlFunctions gl{};
  if (!loadGl(&gl)) {
    std::fputs("glscreen: opengl32.dll lacks a function this program needs\n", stderr);
    zv::end_program(1);
  }
  glscreen::printPage();
  GLuint texture = 0;
  setUp(gl, &texture);
  while (!endRequested()) {
    drawFrame(gl);
    // The page copy statement: a driver that presents itself swaps the buffers and
    // handles the window's events instead.
    zv::call_hook<&zv::ConsoleHooks::copy_page>(-1, -1);
    Sleep(10);
  }
  zv::end_program(0);
}
