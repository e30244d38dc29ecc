// The pixel-format, WGL and window-long parts of the Win32 API, for hosts other than
// Windows: the records and constants by their real names and values (the descriptor
// is 40 bytes), implemented by opengl.cpp of the zvwin32 library over its backend's
// OpenGL. Included by windows.h, after the basic types.
#pragma once

typedef struct tagPIXELFORMATDESCRIPTOR {
  WORD nSize;
  WORD nVersion;
  DWORD dwFlags;
  BYTE iPixelType;
  BYTE cColorBits;
  BYTE cRedBits;
  BYTE cRedShift;
  BYTE cGreenBits;
  BYTE cGreenShift;
  BYTE cBlueBits;
  BYTE cBlueShift;
  BYTE cAlphaBits;
  BYTE cAlphaShift;
  BYTE cAccumBits;
  BYTE cAccumRedBits;
  BYTE cAccumGreenBits;
  BYTE cAccumBlueBits;
  BYTE cAccumAlphaBits;
  BYTE cDepthBits;
  BYTE cStencilBits;
  BYTE cAuxBuffers;
  BYTE iLayerType;
  BYTE bReserved;
  DWORD dwLayerMask;
  DWORD dwVisibleMask;
  DWORD dwDamageMask;
} PIXELFORMATDESCRIPTOR, *PPIXELFORMATDESCRIPTOR, *LPPIXELFORMATDESCRIPTOR;

#define PFD_TYPE_RGBA 0
#define PFD_TYPE_COLORINDEX 1
#define PFD_MAIN_PLANE 0
#define PFD_DOUBLEBUFFER 0x00000001
#define PFD_STEREO 0x00000002
#define PFD_DRAW_TO_WINDOW 0x00000004
#define PFD_DRAW_TO_BITMAP 0x00000008
#define PFD_SUPPORT_GDI 0x00000010
#define PFD_SUPPORT_OPENGL 0x00000020
#define PFD_GENERIC_FORMAT 0x00000040
#define PFD_GENERIC_ACCELERATED 0x00001000

#define GWL_STYLE (-16)
#define GWL_EXSTYLE (-20)

extern "C" {
int ChoosePixelFormat(HDC dc, const PIXELFORMATDESCRIPTOR* descriptor);
BOOL SetPixelFormat(HDC dc, int format, const PIXELFORMATDESCRIPTOR* descriptor);
int GetPixelFormat(HDC dc);
int DescribePixelFormat(HDC dc, int format, UINT size, LPPIXELFORMATDESCRIPTOR descriptor);
BOOL SwapBuffers(HDC dc);

HGLRC wglCreateContext(HDC dc);
BOOL wglDeleteContext(HGLRC context);
BOOL wglMakeCurrent(HDC dc, HGLRC context);
HGLRC wglGetCurrentContext(void);
HDC wglGetCurrentDC(void);
PROC wglGetProcAddress(LPCSTR name);

LONG GetWindowLongA(HWND window, int index);
LONG SetWindowLongA(HWND window, int index, LONG value);
// The style words of a window, as the 64-bit name asks for them.
inline LONG_PTR GetWindowLongPtrA(HWND window, int index) { return GetWindowLongA(window, index); }
}  // extern "C"

#define GetWindowLong GetWindowLongA
#define SetWindowLong SetWindowLongA
