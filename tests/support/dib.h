// The BITMAPINFO of a 32-bit top-down DIB (line 0 first in memory, no colour table),
// as the tests and benchmarks hand pictures to SetDIBitsToDevice and read windows back
// into DIB sections. Needs <windows.h>: the system's on Windows, the layer's elsewhere.
#pragma once

#include <windows.h>

namespace zv::test {

inline BITMAPINFO bitmapInfo32(LONG width, LONG height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

}  // namespace zv::test
