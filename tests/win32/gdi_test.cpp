// GDI of the Win32 layer: SetDIBitsToDevice into a window's client area for every
// source depth, top-down and bottom-up bitmaps, bands of lines, clipping; palettes
// and GetDeviceCaps.
#include "tests/win32/win32_test_support.h"

#include <cstring>

#include "tests/support/dib.h"

namespace zv::win32test {
namespace {

// A BITMAPINFO with room for a full colour table.
struct DibInfo {
  BITMAPINFOHEADER header;
  RGBQUAD colours[256];
};

DibInfo dibInfo(int width, int height, int bits) {
  DibInfo info{};
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  info.header.biWidth = width;
  info.header.biHeight = height;
  info.header.biPlanes = 1;
  info.header.biBitCount = static_cast<WORD>(bits);
  info.header.biCompression = BI_RGB;
  info.header.biClrUsed = bits == 8 ? 256 : 0;
  for (int i = 0; i < 256; ++i) {
    info.colours[i] = RGBQUAD{static_cast<BYTE>(i), static_cast<BYTE>(255 - i), static_cast<BYTE>(i * 7), 0xEE};
  }
  return info;
}

uint32_t colourOf(int index) {
  return static_cast<uint32_t>(static_cast<BYTE>(index * 7)) << 16 | static_cast<uint32_t>(255 - index) << 8 |
         static_cast<uint32_t>(index);
}

size_t strideOf(int width, int bits) { return static_cast<size_t>((width * bits + 31) / 32 * 4); }

// An 8-bit picture: pixel (x, y) of the picture (y from the top) has index (x + 3y) & 255.
BYTE indexAt(int x, int y) { return static_cast<BYTE>((x + 3 * y) & 255); }

class Gdi : public Win32Test {
 protected:
  void SetUp() override {
    Win32Test::SetUp();
    window_ = makeWindow(kWidth, kHeight, WS_POPUP);  // frameless: narrower than the smallest framed window
    dc_ = GetDC(window_);
  }
  void TearDown() override {
    ReleaseDC(window_, dc_);
    Win32Test::TearDown();
  }
  std::vector<uint32_t> pixels() {
    int32_t width = 0, height = 0;
    std::vector<uint32_t> p = zv::vdesk::clientPixels(window_, &width, &height);
    EXPECT_EQ(width, kWidth);
    EXPECT_EQ(height, kHeight);
    return p;
  }
  // Offers the one display mode and switches to it.
  static LONG changeDisplay(int32_t width, int32_t height, int32_t bits, int32_t frequency) {
    zv::vdesk::setDisplayModes({{width, height, bits, frequency}});
    DEVMODEA mode{};
    mode.dmSize = sizeof mode;
    mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT | DM_BITSPERPEL;
    mode.dmPelsWidth = static_cast<DWORD>(width);
    mode.dmPelsHeight = static_cast<DWORD>(height);
    mode.dmBitsPerPel = static_cast<DWORD>(bits);
    return ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN);
  }
  static constexpr int kWidth = 37, kHeight = 29;  // odd: rows of bitmaps are padded
  HWND window_ = nullptr;
  HDC dc_ = nullptr;
};

TEST_F(Gdi, EightBitTopDownBandGoesToItsLinesThroughTheColourTable) {
  DibInfo info = dibInfo(kWidth, -kHeight, 8);
  size_t stride = strideOf(kWidth, 8);
  std::vector<BYTE> frame(stride * kHeight, 0);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) frame[y * stride + x] = indexAt(x, y);
  }
  const int top = 5, count = 20;  // the band of lines 5 to 24
  EXPECT_EQ(SetDIBitsToDevice(dc_, 0, top, kWidth, count, 0, 0, 0, count, frame.data() + top * stride,
                              reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS),
            count);
  std::vector<uint32_t> p = pixels();
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      uint32_t expected = y >= top && y < top + count ? colourOf(indexAt(x, y)) : 0;
      ASSERT_EQ(p[y * kWidth + x], expected) << x << "," << y;
    }
  }
  EXPECT_EQ(zv::vdesk::presentedLines(window_), static_cast<uint64_t>(count));
}

TEST_F(Gdi, EightBitBottomUpStoresItsLastLineFirst) {
  DibInfo info = dibInfo(kWidth, kHeight, 8);
  size_t stride = strideOf(kWidth, 8);
  std::vector<BYTE> bits(stride * kHeight, 0);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) bits[(kHeight - 1 - y) * stride + x] = indexAt(x, y);
  }
  // Scans 3 to 9 counted from the bottom: picture lines kHeight-10 to kHeight-4.
  const UINT start = 3, lines = 7;
  EXPECT_EQ(SetDIBitsToDevice(dc_, 0, 0, kWidth, kHeight, 0, 0, start, lines, bits.data() + start * stride,
                              reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS),
            static_cast<int>(lines));
  std::vector<uint32_t> p = pixels();
  for (int y = 0; y < kHeight; ++y) {
    bool drawn = y >= kHeight - 10 && y <= kHeight - 4;
    for (int x = 0; x < kWidth; ++x) {
      ASSERT_EQ(p[y * kWidth + x], drawn ? colourOf(indexAt(x, y)) : 0u) << x << "," << y;
    }
  }
  // The whole picture at once.
  SetDIBitsToDevice(dc_, 0, 0, kWidth, kHeight, 0, 0, 0, kHeight, bits.data(), reinterpret_cast<BITMAPINFO*>(&info),
                    DIB_RGB_COLORS);
  p = pixels();
  EXPECT_EQ(p[0], colourOf(indexAt(0, 0)));
  EXPECT_EQ(p[(kHeight - 1) * kWidth + 5], colourOf(indexAt(5, kHeight - 1)));
}

// A picture taller than the bands it is shown in: every supplied line lands on its
// row and nothing else changes, top-down and bottom-up, cut at the window's top.
TEST_F(Gdi, TallPicturesLandLineForLineAcrossTheirBands) {
  constexpr int width = 3, height = 520, shown = 500, y_dest = -7, start = 3, lines = 510;
  HWND tall = makeWindow(width, shown, WS_POPUP);
  HDC dc = GetDC(tall);
  for (const bool top_down : {true, false}) {
    SCOPED_TRACE(top_down ? "top-down" : "bottom-up");
    std::vector<uint32_t> picture(static_cast<size_t>(width) * height);  // stored line by line
    for (int scan = 0; scan < height; ++scan)
      for (int x = 0; x < width; ++x) picture[static_cast<size_t>(scan) * width + x] = 0x100u * scan + x + 1;
    const BITMAPINFO info = zv::test::bitmapInfo32(width, top_down ? height : -height);  // negative: bottom-up
    ASSERT_EQ(SetDIBitsToDevice(dc, 0, y_dest, width, height, 0, 0, start, lines,
                                picture.data() + static_cast<size_t>(start) * width, &info, DIB_RGB_COLORS),
              lines);
    int32_t w = 0, h = 0;
    const std::vector<uint32_t> p = zv::vdesk::clientPixels(tall, &w, &h);
    ASSERT_EQ(h, shown);
    for (int row = 0; row < shown; ++row) {
      const int line = row - y_dest;  // of the picture, from its top
      const int scan = top_down ? line : height - 1 - line;
      for (int x = 0; x < width; ++x) {
        const uint32_t expected = scan >= start && scan < start + lines ? 0x100u * scan + x + 1 : 0;
        ASSERT_EQ(p[static_cast<size_t>(row) * width + x], expected) << x << ", " << row;
      }
    }
    // The next picture starts from black.
    std::vector<uint32_t> black(static_cast<size_t>(width) * shown);
    const BITMAPINFO clear = zv::test::bitmapInfo32(width, shown);
    SetDIBitsToDevice(dc, 0, 0, width, shown, 0, 0, 0, shown, black.data(), &clear, DIB_RGB_COLORS);
  }
  ReleaseDC(tall, dc);
}

TEST_F(Gdi, SixteenBitsAre555WithFieldsWidenedAsTheScreenShowsThem) {
  DibInfo info = dibInfo(3, -2, 16);
  size_t stride = strideOf(3, 16);  // 6 bytes of pixels, 8 per line
  ASSERT_EQ(stride, 8u);
  const uint16_t source[2][4] = {{0x7FFF, 0x7C00, 0x03E0, 0xBEEF}, {0x001F, 0x0421, 0x8000, 0xBEEF}};
  std::vector<BYTE> bits(stride * 2);
  std::memcpy(bits.data(), source, sizeof source);
  SetDIBitsToDevice(dc_, 1, 1, 3, 2, 0, 0, 0, 2, bits.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  std::vector<uint32_t> p = pixels();
  const uint32_t expected[2][3] = {{0xFFFFFF, 0xFF0000, 0x00FF00}, {0x0000FF, 0x080808, 0x000000}};
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) EXPECT_EQ(p[(1 + y) * kWidth + 1 + x], expected[y][x]) << x << "," << y;
  }
  EXPECT_EQ(p[kWidth + 4], 0u);  // the padding is not a pixel
}

TEST_F(Gdi, ThirtyTwoBitsLoseTheirTopByte) {
  DibInfo info = dibInfo(2, -1, 32);
  const uint32_t bits[2] = {0xAA123456, 0xFFFFFFFF};
  SetDIBitsToDevice(dc_, 0, 0, 2, 1, 0, 0, 0, 1, bits, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  std::vector<uint32_t> p = pixels();
  EXPECT_EQ(p[0], 0x123456u);
  EXPECT_EQ(p[1], 0xFFFFFFu);
}

TEST_F(Gdi, PixelsOutsideTheClientAreaAreDropped) {
  const int width = kWidth + 10, height = kHeight + 10;
  DibInfo info = dibInfo(width, -height, 32);
  std::vector<uint32_t> bits(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) bits[y * width + x] = static_cast<uint32_t>(y << 8 | x);
  }
  // Placed 4 left of and 6 above the client area: source (4, 6) lands at (0, 0).
  EXPECT_EQ(SetDIBitsToDevice(dc_, -4, -6, width, height, 0, 0, 0, height, bits.data(),
                              reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS),
            height);
  std::vector<uint32_t> p = pixels();
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) ASSERT_EQ(p[y * kWidth + x], static_cast<uint32_t>((y + 6) << 8 | (x + 4)));
  }
  EXPECT_EQ(zv::vdesk::presentedLines(window_), static_cast<uint64_t>(kHeight));
  // Entirely outside: nothing written.
  SetDIBitsToDevice(dc_, kWidth, 0, width, height, 0, 0, 0, height, bits.data(), reinterpret_cast<BITMAPINFO*>(&info),
                    DIB_RGB_COLORS);
  EXPECT_EQ(zv::vdesk::presentedLines(window_), static_cast<uint64_t>(kHeight));
}

TEST_F(Gdi, PaletteColoursIndexTheSelectedPalette) {
  struct {
    WORD version, count;
    PALETTEENTRY entries[4];
  } logical{0x300, 4, {{10, 20, 30, 0}, {40, 50, 60, 0}, {70, 80, 90, 0}, {1, 2, 3, 0}}};
  HPALETTE palette = CreatePalette(reinterpret_cast<LOGPALETTE*>(&logical));
  ASSERT_NE(palette, nullptr);
  PALETTEENTRY changed{200, 100, 50, PC_NOCOLLAPSE};
  EXPECT_EQ(SetPaletteEntries(palette, 3, 5, &changed), 1u);  // only one entry is left from 3
  HPALETTE previous = SelectPalette(dc_, palette, FALSE);
  EXPECT_EQ(previous, static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)));
  EXPECT_EQ(RealizePalette(dc_), 4u);
  struct {
    BITMAPINFOHEADER header;
    WORD indexes[256];
  } info{};
  info.header = dibInfo(2, -1, 8).header;
  info.header.biClrUsed = 2;
  info.indexes[0] = 3;
  info.indexes[1] = 1;
  const BYTE bits[4] = {0, 1, 0, 0};
  SetDIBitsToDevice(dc_, 0, 0, 2, 1, 0, 0, 0, 1, bits, reinterpret_cast<BITMAPINFO*>(&info), DIB_PAL_COLORS);
  std::vector<uint32_t> p = pixels();
  EXPECT_EQ(p[0], 0xC86432u);
  EXPECT_EQ(p[1], 0x28323Cu);
  EXPECT_TRUE(DeleteObject(palette));
  EXPECT_FALSE(DeleteObject(palette));
  EXPECT_EQ(SelectPalette(dc_, palette, FALSE), nullptr);    // no longer a palette
  EXPECT_EQ(SelectPalette(dc_, previous, FALSE), previous);  // deleting it put the default back
}

// On a palettised display RGB colours show as the nearest of the context's realised
// palette; a window's common context comes with the default palette each time it is
// taken, whatever was selected into it before ReleaseDC.
TEST_F(Gdi, ACommonContextComesWithTheDefaultPaletteEachTime) {
  ASSERT_EQ(changeDisplay(1024, 768, 8, 60), DISP_CHANGE_SUCCESSFUL);
  struct {
    WORD version, count;
    PALETTEENTRY entries[2];
  } logical{0x300, 2, {{10, 20, 30, 0}, {250, 240, 230, 0}}};
  HPALETTE palette = CreatePalette(reinterpret_cast<LOGPALETTE*>(&logical));
  DibInfo info = dibInfo(1, -1, 8);
  info.colours[0] = RGBQUAD{30, 20, 10, 0};  // (10, 20, 30) as blue, green, red
  const BYTE bits[4] = {};
  const auto shown = [&](HDC dc) {
    SetDIBitsToDevice(dc, 0, 0, 1, 1, 0, 0, 0, 1, bits, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    return pixels()[0];
  };
  SelectPalette(dc_, palette, FALSE);
  RealizePalette(dc_);
  EXPECT_EQ(shown(dc_), 0x0A141Eu);  // in the realised palette
  ReleaseDC(window_, dc_);
  dc_ = GetDC(window_);
  EXPECT_EQ(shown(dc_), 0x000000u);  // the nearest of the twenty static colours
  EXPECT_EQ(SelectPalette(dc_, palette, FALSE), static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)));
  DeleteObject(palette);
}

TEST_F(Gdi, DeviceCapsFollowTheDisplayMode) {
  EXPECT_EQ(GetDeviceCaps(dc_, HORZRES), 1024);
  EXPECT_EQ(GetDeviceCaps(dc_, VERTRES), 768);
  EXPECT_EQ(GetDeviceCaps(dc_, BITSPIXEL), 32);
  EXPECT_EQ(GetDeviceCaps(dc_, VREFRESH), 60);
  ASSERT_EQ(changeDisplay(640, 480, 8, 70), DISP_CHANGE_SUCCESSFUL);
  EXPECT_EQ(GetDeviceCaps(dc_, HORZRES), 640);
  EXPECT_EQ(GetDeviceCaps(dc_, VREFRESH), 70);
  EXPECT_EQ(GetDeviceCaps(dc_, SIZEPALETTE), 256);
  EXPECT_EQ(GetDeviceCaps(dc_, RASTERCAPS) & RC_PALETTE, RC_PALETTE);
}

TEST_F(Gdi, BadBitmapsAndStaleContextsDrawNothing) {
  DibInfo info = dibInfo(4, -1, 8);
  const BYTE bits[4] = {1, 2, 3, 4};
  info.header.biCompression = BI_RLE8;
  EXPECT_EQ(SetDIBitsToDevice(dc_, 0, 0, 4, 1, 0, 0, 0, 1, bits, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS), 0);
  info = dibInfo(4, -1, 4);
  EXPECT_EQ(SetDIBitsToDevice(dc_, 0, 0, 4, 1, 0, 0, 0, 1, bits, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS), 0);
  info = dibInfo(4, -1, 8);
  EXPECT_EQ(SetDIBitsToDevice(dc_, 0, 0, 4, 1, 0, 0, 5, 1, bits, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS), 0);
  DestroyWindow(window_);
  EXPECT_EQ(SetDIBitsToDevice(dc_, 0, 0, 4, 1, 0, 0, 0, 1, bits, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS), 0);
  EXPECT_EQ(zv::vdesk::presentedLines(window_), 0u);
}

// Reading a window back: BitBlt from its context into a bottom-up DIB section of a
// memory context, from an offset source and clipped at the window's edge; the
// window is the one EnumWindows finds for this process.
TEST_F(Gdi, BitBltReadsTheClientAreaIntoADibSection) {
  std::vector<uint32_t> bits(static_cast<size_t>(kWidth) * kHeight);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) bits[static_cast<size_t>(y) * kWidth + x] = colourOf((x + 3 * y) & 255);
  BITMAPINFO info = zv::test::bitmapInfo32(kWidth, kHeight);
  ASSERT_EQ(SetDIBitsToDevice(dc_, 0, 0, kWidth, kHeight, 0, 0, 0, kHeight, bits.data(), &info, DIB_RGB_COLORS),
            kHeight);

  HDC memory = CreateCompatibleDC(dc_);
  info.bmiHeader.biWidth = 8;
  info.bmiHeader.biHeight = 4;  // bottom-up: the last row first in memory
  void* raw = nullptr;
  HBITMAP dib = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &raw, nullptr, 0);
  ASSERT_NE(dib, nullptr);
  HGDIOBJ previous = SelectObject(memory, dib);
  ASSERT_NE(previous, HGDI_ERROR);
  // Source columns 33 to 40 of rows 2 to 5: the window ends after column 36.
  ASSERT_TRUE(BitBlt(memory, 0, 0, 8, 4, dc_, 33, 2, SRCCOPY));
  const auto* out = static_cast<const uint32_t*>(raw);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 8; ++x) {
      const uint32_t expected = 33 + x < kWidth ? colourOf((33 + x + 3 * (2 + y)) & 255) : 0;
      EXPECT_EQ(out[(3 - y) * 8 + x], expected) << x << ", " << y;
    }
  }
  EXPECT_EQ(SelectObject(memory, previous), dib);
  EXPECT_TRUE(DeleteObject(dib));
  EXPECT_TRUE(DeleteDC(memory));
  EXPECT_FALSE(DeleteDC(memory));

  HWND found = nullptr;
  EnumWindows(
      [](HWND candidate, LPARAM result) -> BOOL {
        DWORD process = 0;
        GetWindowThreadProcessId(candidate, &process);
        if (process != GetCurrentProcessId()) return TRUE;
        *reinterpret_cast<HWND*>(result) = candidate;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  EXPECT_EQ(found, window_);
}

}  // namespace
}  // namespace zv::win32test
