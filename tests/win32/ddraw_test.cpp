// DirectDraw of the Win32 layer, called directly: reference counts that free, the
// primary surface's format for every display depth, blits clipped to the clipper's
// window, colour fill, and lost surfaces with their restore. (Exclusive mode and the
// DirectInput keyboard are tested through the DirectX driver.)
#include <ddraw.h>

#include "tests/win32/win32_test_support.h"

namespace zv::win32test {
namespace {

class DirectDrawTest : public Win32Test {
 protected:
  void SetUp() override {
    Win32Test::SetUp();
    objects_before_ = vdesk::directXObjects();
    IDirectDraw* first = nullptr;
    ASSERT_EQ(DirectDrawCreate(nullptr, &first, nullptr), DD_OK);
    ASSERT_EQ(first->QueryInterface(IID_IDirectDraw2, reinterpret_cast<void**>(&ddraw_)), DD_OK);
    EXPECT_EQ(first->Release(), 1u);  // the object lives on through its second interface
  }
  void TearDown() override {
    if (ddraw_) {
      EXPECT_EQ(ddraw_->Release(), 0u);
    }
    EXPECT_EQ(vdesk::directXObjects(), objects_before_);
    Win32Test::TearDown();
  }

  IDirectDrawSurface* surface(DWORD caps, int32_t width = 0, int32_t height = 0) {
    DDSURFACEDESC d{};
    d.dwSize = sizeof d;
    d.dwFlags = DDSD_CAPS | (width ? DDSD_WIDTH | DDSD_HEIGHT : 0);
    d.dwWidth = static_cast<DWORD>(width);
    d.dwHeight = static_cast<DWORD>(height);
    d.ddsCaps.dwCaps = caps;
    IDirectDrawSurface* made = nullptr;
    EXPECT_EQ(ddraw_->CreateSurface(&d, &made, nullptr), DD_OK);
    return made;
  }

  // Fills a locked surface's rows with 32-bit values of (x, y).
  static void paint(IDirectDrawSurface* target) {
    DDSURFACEDESC d{};
    d.dwSize = sizeof d;
    ASSERT_EQ(target->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
    for (DWORD y = 0; y < d.dwHeight; ++y)
      for (DWORD x = 0; x < d.dwWidth; ++x)
        static_cast<uint32_t*>(d.lpSurface)[y * static_cast<DWORD>(d.lPitch) / 4 + x] = 0xFF000000u | (y << 8) | x;
    ASSERT_EQ(target->Unlock(d.lpSurface), DD_OK);
  }

  IDirectDraw2* ddraw_ = nullptr;
  int32_t objects_before_ = 0;
};

TEST_F(DirectDrawTest, PrimaryFormatFollowsTheDisplayDepth) {
  struct Case {
    int32_t bits;
    DWORD count, red, green, blue, flags;
  };
  const Case cases[] = {{8, 8, 0, 0, 0, DDPF_RGB | DDPF_PALETTEINDEXED8},
                        {15, 16, 0x7C00, 0x3E0, 0x1F, DDPF_RGB},
                        {16, 16, 0xF800, 0x7E0, 0x1F, DDPF_RGB},
                        {24, 24, 0xFF0000, 0xFF00, 0xFF, DDPF_RGB},
                        {32, 32, 0xFF0000, 0xFF00, 0xFF, DDPF_RGB}};
  ASSERT_EQ(ddraw_->SetCooperativeLevel(nullptr, DDSCL_NORMAL), DD_OK);
  for (const Case& c : cases) {
    vdesk::changeDisplayModeFromOutside({640, 480, c.bits, 60});
    IDirectDrawSurface* primary = surface(DDSCAPS_PRIMARYSURFACE);
    DDPIXELFORMAT f{};
    f.dwSize = sizeof f;
    ASSERT_EQ(primary->GetPixelFormat(&f), DD_OK);
    EXPECT_EQ(std::vector<DWORD>({f.dwFlags, f.dwRGBBitCount, f.dwRBitMask, f.dwGBitMask, f.dwBBitMask}),
              std::vector<DWORD>({c.flags, c.count, c.red, c.green, c.blue}))
        << c.bits << " bits";
    EXPECT_EQ(primary->Release(), 0u);
  }
}

TEST_F(DirectDrawTest, BlitToThePrimaryIsClippedToTheClipperWindow) {
  HWND window = makeWindow(64, 32, WS_POPUP);
  ASSERT_EQ(ddraw_->SetCooperativeLevel(window, DDSCL_NORMAL), DD_OK);
  IDirectDrawClipper* clipper = nullptr;
  ASSERT_EQ(ddraw_->CreateClipper(0, &clipper, nullptr), DD_OK);
  ASSERT_EQ(clipper->SetHWnd(0, window), DD_OK);
  IDirectDrawSurface* primary = surface(DDSCAPS_PRIMARYSURFACE);
  ASSERT_EQ(primary->SetClipper(clipper), DD_OK);
  EXPECT_EQ(clipper->Release(), 1u);  // the surface holds it
  IDirectDrawSurface* back = surface(DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY, 64, 32);
  paint(back);

  // A rectangle reaching 10 pixels left of the client area: those columns are cut.
  vdesk::WindowInfo info{};
  ASSERT_TRUE(vdesk::windowInfo(window, &info));
  RECT to{info.client_rect.left - 10, info.client_rect.top, info.client_rect.left + 54, info.client_rect.top + 32};
  RECT from{0, 0, 64, 32};
  ASSERT_EQ(primary->Blt(&to, back, &from, DDBLT_WAIT, nullptr), DD_OK);
  int32_t width = 0, height = 0;
  std::vector<uint32_t> pixels = vdesk::clientPixels(window, &width, &height);
  ASSERT_EQ(width, 64);
  EXPECT_EQ(pixels[0], 10u);                           // source column 10 at client column 0
  EXPECT_EQ(pixels[5 * 64 + 53], (5u << 8) | 63u);     // the last source column
  EXPECT_EQ(pixels[5 * 64 + 54], 0u);                  // nothing right of the rectangle
  RECT bigger{0, 0, 65, 32};
  EXPECT_EQ(primary->Blt(&to, back, &bigger, DDBLT_WAIT, nullptr), DDERR_INVALIDRECT);

  // Colour fill of the off-screen surface, shown by the next blit.
  DDBLTFX fill{};
  fill.dwSize = sizeof fill;
  fill.dwFillColor = 0x00123456;
  RECT band{0, 4, 64, 6};
  ASSERT_EQ(back->Blt(&band, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fill), DD_OK);
  ASSERT_EQ(primary->Blt(&to, back, &from, DDBLT_WAIT, nullptr), DD_OK);
  pixels = vdesk::clientPixels(window, &width, &height);
  EXPECT_EQ(pixels[4 * 64 + 20], 0x123456u);
  EXPECT_EQ(pixels[6 * 64 + 20], (6u << 8) | 30u);

  // Rectangles of different sizes stretch: a 16 x 8 corner doubled into the client
  // area, each source pixel a 2 x 2 block; the clipper still cuts it.
  const RECT corner{0, 0, 16, 8};
  const RECT doubled{to.left, to.top, to.left + 32, to.top + 16};
  ASSERT_EQ(primary->Blt(const_cast<RECT*>(&doubled), back, const_cast<RECT*>(&corner), DDBLT_WAIT, nullptr), DD_OK);
  pixels = vdesk::clientPixels(window, &width, &height);
  EXPECT_EQ(pixels[0], 5u);                         // client column 0 is stretched column 10: source column 5
  EXPECT_EQ(pixels[1], 5u);
  EXPECT_EQ(pixels[2], 6u);
  EXPECT_EQ(pixels[3 * 64 + 21], (1u << 8) | 15u);  // the last source column, row 1
  EXPECT_EQ(pixels[3 * 64 + 22], (3u << 8) | 32u);  // right of it: the earlier picture

  EXPECT_EQ(back->Release(), 0u);
  EXPECT_EQ(primary->Release(), 0u);
}

TEST_F(DirectDrawTest, LostSurfacesRefuseWorkUntilRestored) {
  HWND window = makeWindow(64, 32);
  ASSERT_EQ(ddraw_->SetCooperativeLevel(window, DDSCL_NORMAL), DD_OK);
  IDirectDrawSurface* primary = surface(DDSCAPS_PRIMARYSURFACE);
  IDirectDrawSurface* back = surface(DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY, 8, 8);
  paint(back);
  vdesk::loseSurfaces();
  DDSURFACEDESC d{};
  d.dwSize = sizeof d;
  EXPECT_EQ(primary->IsLost(), DDERR_SURFACELOST);
  EXPECT_EQ(back->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DDERR_SURFACELOST);
  EXPECT_EQ(primary->Blt(nullptr, back, nullptr, DDBLT_WAIT, nullptr), DDERR_SURFACELOST);
  EXPECT_EQ(back->Restore(), DD_OK);
  EXPECT_EQ(primary->Restore(), DD_OK);
  ASSERT_EQ(back->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
  EXPECT_EQ(static_cast<uint32_t*>(d.lpSurface)[9], 0u);  // the memory came back empty
  EXPECT_EQ(back->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DDERR_SURFACEBUSY);
  back->Unlock(d.lpSurface);

  // A mode changed meanwhile: the primary belongs to the old one.
  vdesk::changeDisplayModeFromOutside({800, 600, 16, 60});
  EXPECT_EQ(primary->Restore(), DDERR_WRONGMODE);
  EXPECT_EQ(back->Restore(), DD_OK);
  back->Release();
  primary->Release();
}

}  // namespace
}  // namespace zv::win32test
