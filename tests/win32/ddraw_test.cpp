// DirectDraw and DirectInput of the Win32 layer, called directly: reference counts
// that free, the primary surface's format for every display depth, blits clipped to
// the clipper's window, colour fill, lost surfaces and their restore, and the
// keyboard device's data format and state.
#include <ddraw.h>
#include <dinput.h>

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
  HWND window = makeWindow(64, 32);
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

TEST_F(DirectDrawTest, ExclusiveLevelOwnsTheDisplayMode) {
  vdesk::setDisplayModes({{640, 480, 8, 60}, {1024, 768, 32, 60}});
  HWND window = makeWindow(1024, 768, WS_POPUP | WS_VISIBLE);
  ASSERT_EQ(ddraw_->SetCooperativeLevel(window, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE), DD_OK);
  IDirectDraw* other = nullptr;
  ASSERT_EQ(DirectDrawCreate(nullptr, &other, nullptr), DD_OK);
  IDirectDraw2* second = nullptr;
  ASSERT_EQ(other->QueryInterface(IID_IDirectDraw2, reinterpret_cast<void**>(&second)), DD_OK);
  other->Release();
  EXPECT_EQ(second->SetCooperativeLevel(window, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE), DDERR_EXCLUSIVEMODEALREADYSET);
  EXPECT_EQ(second->SetDisplayMode(640, 480, 8, 0, 0), DDERR_NOEXCLUSIVEMODE);
  EXPECT_EQ(ddraw_->SetDisplayMode(800, 600, 8, 0, 0), DDERR_INVALIDMODE);
  ASSERT_EQ(ddraw_->SetDisplayMode(640, 480, 8, 0, 0), DD_OK);
  EXPECT_EQ(second->Release(), 0u);
  // Releasing the owner gives the desktop its mode back.
  EXPECT_EQ(ddraw_->Release(), 0u);
  ddraw_ = nullptr;
  EXPECT_EQ(vdesk::currentDisplayMode().width, 1024);
}

TEST_F(DirectDrawTest, KeyboardDeviceReadsKeysByScanCode) {
  HWND window = makeWindow();
  (void)window;
  IDirectInputA* input = nullptr;
  EXPECT_EQ(DirectInputCreateA(nullptr, 0x200, &input, nullptr), DIERR_OLDDIRECTINPUTVERSION);
  ASSERT_EQ(DirectInputCreateA(nullptr, 0x300, &input, nullptr), DI_OK);
  IDirectInputDeviceA* keyboard = nullptr;
  const GUID mouse = {0x6F1D2B60, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0, 0}};
  EXPECT_EQ(input->CreateDevice(mouse, &keyboard, nullptr), DIERR_DEVICENOTREG);
  ASSERT_EQ(input->CreateDevice(GUID_SysKeyboard, &keyboard, nullptr), DI_OK);
  EXPECT_EQ(keyboard->Acquire(), DIERR_INVALIDPARAM);  // no data format yet

  // Two objects: Left (extended scan 0x4B) at byte 0, "a" (scan 30) at byte 5.
  DIOBJECTDATAFORMAT objects[2] = {{&GUID_Key, 0, DIDFT_BUTTON | DIDFT_MAKEINSTANCE(0xCB), 0},
                                   {&GUID_Key, 5, DIDFT_BUTTON | DIDFT_MAKEINSTANCE(30), 0}};
  DIDATAFORMAT format{sizeof(DIDATAFORMAT), sizeof(DIOBJECTDATAFORMAT), DIDF_RELAXIS, 8, 2, objects};
  ASSERT_EQ(keyboard->SetDataFormat(&format), DI_OK);
  BYTE state[8];
  EXPECT_EQ(keyboard->GetDeviceState(sizeof state, state), DIERR_NOTACQUIRED);
  ASSERT_EQ(keyboard->Acquire(), DI_OK);
  EXPECT_EQ(keyboard->SetDataFormat(&format), DIERR_ACQUIRED);
  vdesk::key(VK_LEFT, 0x4B, true, true);
  vdesk::key('A', 30, false, true);
  ASSERT_EQ(keyboard->GetDeviceState(sizeof state, state), DI_OK);
  EXPECT_EQ(std::vector<BYTE>(state, state + 8), std::vector<BYTE>({0x80, 0, 0, 0, 0, 0x80, 0, 0}));
  vdesk::key('A', 30, false, false);
  vdesk::takeKeyboardAcquisition();
  EXPECT_EQ(keyboard->GetDeviceState(sizeof state, state), DIERR_INPUTLOST);
  EXPECT_EQ(keyboard->GetDeviceState(sizeof state, state), DIERR_NOTACQUIRED);
  ASSERT_EQ(keyboard->Acquire(), DI_OK);
  ASSERT_EQ(keyboard->GetDeviceState(sizeof state, state), DI_OK);
  EXPECT_EQ(state[0], 0x80);
  EXPECT_EQ(state[5], 0);
  EXPECT_EQ(keyboard->Release(), 0u);
  EXPECT_EQ(input->Release(), 0u);
}

}  // namespace
}  // namespace zv::win32test
