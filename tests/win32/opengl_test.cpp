// WGL and the window-long calls of the layer on the virtual desktop's recording
// OpenGL: the format a window keeps, the rules of a current context, and a style
// change that moves the client area within the window's rectangle.
#include "tests/win32/win32_test_support.h"

#include <GL/wglext.h>

namespace zv::win32test {
namespace {

class OpenGl : public Win32Test {};

TEST_F(OpenGl, WindowKeepsItsFirstFormatAndContextsNeedOne) {
  HWND window = makeWindow();
  HDC dc = GetDC(window);
  PIXELFORMATDESCRIPTOR wanted{};
  wanted.nSize = sizeof wanted;
  wanted.nVersion = 1;
  wanted.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
  wanted.cColorBits = 16;
  EXPECT_EQ(wglCreateContext(dc), nullptr);  // no format yet
  const int format = ChoosePixelFormat(dc, &wanted);
  PIXELFORMATDESCRIPTOR got{};
  ASSERT_GT(DescribePixelFormat(dc, format, sizeof got, &got), 0);
  EXPECT_EQ(got.cColorBits, 16);  // the closest of the 32- and 16-bit formats
  EXPECT_TRUE(SetPixelFormat(dc, format, &wanted));
  EXPECT_FALSE(SetPixelFormat(dc, format == 1 ? 2 : 1, &wanted));
  EXPECT_EQ(GetPixelFormat(dc), format);

  EXPECT_EQ(wglGetProcAddress("wglChoosePixelFormatARB"), nullptr);  // nothing current
  HGLRC context = wglCreateContext(dc);
  ASSERT_NE(context, nullptr);
  ASSERT_TRUE(wglMakeCurrent(dc, context));
  EXPECT_EQ(wglGetCurrentContext(), context);
  EXPECT_EQ(wglGetProcAddress("wglGetExtensionsStringEXT"), nullptr);  // not among the extensions
  EXPECT_TRUE(wglDeleteContext(context));
  EXPECT_EQ(wglGetCurrentContext(), nullptr);
  ReleaseDC(window, dc);
}

TEST_F(OpenGl, ChoosePixelFormatArbRefusesAttributesOfAnExtensionNotOffered) {
  vdesk::setGlExtensions("GL_EXT_bgra", "WGL_ARB_extensions_string WGL_ARB_pixel_format");
  HWND window = makeWindow();
  HDC dc = GetDC(window);
  PIXELFORMATDESCRIPTOR any{};
  any.nSize = sizeof any;
  any.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
  ASSERT_TRUE(SetPixelFormat(dc, ChoosePixelFormat(dc, &any), &any));
  HGLRC context = wglCreateContext(dc);
  ASSERT_TRUE(wglMakeCurrent(dc, context));
  auto choose = reinterpret_cast<PFNWGLCHOOSEPIXELFORMATARBPROC>(
      reinterpret_cast<void (*)()>(wglGetProcAddress("wglChoosePixelFormatARB")));
  ASSERT_NE(choose, nullptr);
  int found = 0;
  UINT count = 9;
  const int multisampled[] = {WGL_COLOR_BITS_ARB, 32, WGL_SAMPLE_BUFFERS_ARB, 1, WGL_SAMPLES_ARB, 4, 0};
  EXPECT_FALSE(choose(dc, multisampled, nullptr, 1, &found, &count));
  EXPECT_EQ(count, 0u);
  const int plain[] = {WGL_COLOR_BITS_ARB, 32, WGL_DEPTH_BITS_ARB, 16, 0};
  EXPECT_TRUE(choose(dc, plain, nullptr, 1, &found, &count));
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(found, 1);
  wglMakeCurrent(nullptr, nullptr);
  wglDeleteContext(context);
  ReleaseDC(window, dc);
}

TEST_F(OpenGl, NewStyleTakesItsFrameWithinTheSameWindowRectangle) {
  HWND window = makeWindow(640, 480);
  RECT outer{}, client{};
  GetWindowRect(window, &outer);
  const LONG style = GetWindowLongA(window, GWL_STYLE);
  EXPECT_TRUE(style & WS_VISIBLE);
  EXPECT_EQ(SetWindowLongA(window, GWL_STYLE, (style & ~WS_CAPTION) | WS_POPUP), style);
  RECT after{};
  GetWindowRect(window, &after);
  GetClientRect(window, &client);
  EXPECT_EQ(after.right - after.left, outer.right - outer.left);
  EXPECT_EQ(client.right, outer.right - outer.left);
  EXPECT_EQ(client.bottom, outer.bottom - outer.top);
}

}  // namespace
}  // namespace zv::win32test
