// DirectDraw as the window drivers use it, for hosts other than Windows: the
// DirectDraw object (IDirectDraw, IDirectDraw2), surfaces, palettes and clippers,
// with the real constant values, GUIDs and record layouts. Interfaces list only the
// methods the drivers call. Implemented by the zvwin32 library (ddraw.cpp) over the
// layer's backend; a program reaches the two entry points through
// LoadLibraryA("ddraw.dll") and GetProcAddress.
#pragma once

#include <unknwn.h>
#include <windows.h>

// ---------------------------------------------------------------------------
// GUIDs
inline constexpr GUID IID_IDirectDraw = {0x6C14DB80, 0xA733, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
inline constexpr GUID IID_IDirectDraw2 = {0xB3A6F3E0, 0x2B43, 0x11CF, {0xA2, 0xDE, 0x00, 0xAA, 0x00, 0xB9, 0x33, 0x56}};

// ---------------------------------------------------------------------------
// Results
#define _FACDD 0x876
#define MAKE_DDHRESULT(code) MAKE_HRESULT(1, _FACDD, code)
#define DD_OK S_OK
#define DDERR_GENERIC E_FAIL
#define DDERR_INVALIDPARAMS E_INVALIDARG
#define DDERR_OUTOFMEMORY E_OUTOFMEMORY
#define DDERR_UNSUPPORTED E_NOTIMPL
#define DDERR_INVALIDCAPS MAKE_DDHRESULT(100)
#define DDERR_INVALIDMODE MAKE_DDHRESULT(120)
#define DDERR_INVALIDOBJECT MAKE_DDHRESULT(130)
#define DDERR_INVALIDPIXELFORMAT MAKE_DDHRESULT(145)
#define DDERR_INVALIDRECT MAKE_DDHRESULT(150)
#define DDERR_NOCLIPLIST MAKE_DDHRESULT(205)
#define DDERR_NOCOOPERATIVELEVELSET MAKE_DDHRESULT(212)
#define DDERR_NOEXCLUSIVEMODE MAKE_DDHRESULT(225)
#define DDERR_NOSTRETCHHW MAKE_DDHRESULT(310)
#define DDERR_SURFACEBUSY MAKE_DDHRESULT(430)
#define DDERR_SURFACELOST MAKE_DDHRESULT(450)
#define DDERR_INVALIDDIRECTDRAWGUID MAKE_DDHRESULT(561)
#define DDERR_NOHWND MAKE_DDHRESULT(569)
#define DDERR_EXCLUSIVEMODEALREADYSET MAKE_DDHRESULT(581)
#define DDERR_NOTLOCKED MAKE_DDHRESULT(584)
#define DDERR_WRONGMODE MAKE_DDHRESULT(587)
#define DDERR_NOTPALETTIZED MAKE_DDHRESULT(589)

// ---------------------------------------------------------------------------
// Flags
#define DDSCL_FULLSCREEN 0x00000001
#define DDSCL_ALLOWREBOOT 0x00000002
#define DDSCL_NOWINDOWCHANGES 0x00000004
#define DDSCL_NORMAL 0x00000008
#define DDSCL_EXCLUSIVE 0x00000010

#define DDSD_CAPS 0x00000001
#define DDSD_HEIGHT 0x00000002
#define DDSD_WIDTH 0x00000004
#define DDSD_PITCH 0x00000008
#define DDSD_PIXELFORMAT 0x00001000
#define DDSD_REFRESHRATE 0x00040000

#define DDSCAPS_OFFSCREENPLAIN 0x00000040
#define DDSCAPS_PRIMARYSURFACE 0x00000200
#define DDSCAPS_SYSTEMMEMORY 0x00000800
#define DDSCAPS_VIDEOMEMORY 0x00004000
#define DDSCAPS_STANDARDVGAMODE 0x40000000

#define DDPF_PALETTEINDEXED8 0x00000020
#define DDPF_RGB 0x00000040

#define DDPCAPS_8BIT 0x00000004
#define DDPCAPS_ALLOW256 0x00000040

#define DDLOCK_WAIT 0x00000001
#define DDBLT_COLORFILL 0x00000400
#define DDBLT_WAIT 0x01000000

#define DDSDM_STANDARDVGAMODE 0x00000001
#define DDEDM_REFRESHRATES 0x00000001
#define DDEDM_STANDARDVGAMODES 0x00000002
#define DDWAITVB_BLOCKBEGIN 0x00000001
#define DDWAITVB_BLOCKBEGINEVENT 0x00000002
#define DDWAITVB_BLOCKEND 0x00000004

#define DDENUM_ATTACHEDSECONDARYDEVICES 0x00000001
#define DDENUMRET_CANCEL 0
#define DDENUMRET_OK 1

#define DDCREATE_HARDWAREONLY ((GUID*)1)
#define DDCREATE_EMULATIONONLY ((GUID*)2)

// ---------------------------------------------------------------------------
// Records (sizes on x86-64: DDPIXELFORMAT 32, DDSURFACEDESC 120, DDBLTFX 128)
typedef struct _DDCOLORKEY {
  DWORD dwColorSpaceLowValue;
  DWORD dwColorSpaceHighValue;
} DDCOLORKEY, *LPDDCOLORKEY;

typedef struct _DDSCAPS {
  DWORD dwCaps;
} DDSCAPS, *LPDDSCAPS;

typedef struct _DDPIXELFORMAT {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwFourCC;
  union {
    DWORD dwRGBBitCount;
    DWORD dwYUVBitCount;
    DWORD dwZBufferBitDepth;
    DWORD dwAlphaBitDepth;
  };
  union {
    DWORD dwRBitMask;
    DWORD dwYBitMask;
  };
  union {
    DWORD dwGBitMask;
    DWORD dwUBitMask;
  };
  union {
    DWORD dwBBitMask;
    DWORD dwVBitMask;
  };
  union {
    DWORD dwRGBAlphaBitMask;
    DWORD dwYUVAlphaBitMask;
  };
} DDPIXELFORMAT, *LPDDPIXELFORMAT;

typedef struct _DDSURFACEDESC {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwHeight;
  DWORD dwWidth;
  union {
    LONG lPitch;
    DWORD dwLinearSize;
  };
  DWORD dwBackBufferCount;
  union {
    DWORD dwMipMapCount;
    DWORD dwZBufferBitDepth;
    DWORD dwRefreshRate;
  };
  DWORD dwAlphaBitDepth;
  DWORD dwReserved;
  LPVOID lpSurface;
  DDCOLORKEY ddckCKDestOverlay;
  DDCOLORKEY ddckCKDestBlt;
  DDCOLORKEY ddckCKSrcOverlay;
  DDCOLORKEY ddckCKSrcBlt;
  DDPIXELFORMAT ddpfPixelFormat;
  DDSCAPS ddsCaps;
} DDSURFACEDESC, *LPDDSURFACEDESC;

struct IDirectDrawSurface;

typedef struct _DDBLTFX {
  DWORD dwSize;
  DWORD dwDDFX;
  DWORD dwROP;
  DWORD dwDDROP;
  DWORD dwRotationAngle;
  DWORD dwZBufferOpCode;
  DWORD dwZBufferLow;
  DWORD dwZBufferHigh;
  DWORD dwZBufferBaseDest;
  DWORD dwZDestConstBitDepth;
  union {
    DWORD dwZDestConst;
    IDirectDrawSurface* lpDDSZBufferDest;
  };
  DWORD dwZSrcConstBitDepth;
  union {
    DWORD dwZSrcConst;
    IDirectDrawSurface* lpDDSZBufferSrc;
  };
  DWORD dwAlphaEdgeBlendBitDepth;
  DWORD dwAlphaEdgeBlend;
  DWORD dwReserved;
  DWORD dwAlphaDestConstBitDepth;
  union {
    DWORD dwAlphaDestConst;
    IDirectDrawSurface* lpDDSAlphaDest;
  };
  DWORD dwAlphaSrcConstBitDepth;
  union {
    DWORD dwAlphaSrcConst;
    IDirectDrawSurface* lpDDSAlphaSrc;
  };
  union {
    DWORD dwFillColor;
    DWORD dwFillDepth;
    DWORD dwFillPixel;
    IDirectDrawSurface* lpDDSPattern;
  };
  DDCOLORKEY ddckDestColorkey;
  DDCOLORKEY ddckSrcColorkey;
} DDBLTFX, *LPDDBLTFX;

// ---------------------------------------------------------------------------
// Interfaces
struct IDirectDrawClipper : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetHWnd(DWORD flags, HWND window) = 0;
};

struct IDirectDrawPalette : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetEntries(DWORD flags, DWORD start, DWORD count, LPPALETTEENTRY entries) = 0;
};

struct IDirectDrawSurface : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Blt(LPRECT destination_rect, IDirectDrawSurface* source, LPRECT source_rect,
                                        DWORD flags, LPDDBLTFX effects) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPixelFormat(LPDDPIXELFORMAT format) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsLost() = 0;
  virtual HRESULT STDMETHODCALLTYPE Lock(LPRECT rect, LPDDSURFACEDESC description, DWORD flags, HANDLE event) = 0;
  virtual HRESULT STDMETHODCALLTYPE Restore() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetClipper(IDirectDrawClipper* clipper) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPalette(IDirectDrawPalette* palette) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unlock(LPVOID surface_data) = 0;
};

typedef HRESULT(CALLBACK* LPDDENUMMODESCALLBACK)(LPDDSURFACEDESC mode, LPVOID context);

// The first interface of the DirectDraw object: only IUnknown is used of it.
struct IDirectDraw : public IUnknown {};

struct IDirectDraw2 : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateClipper(DWORD flags, IDirectDrawClipper** clipper, IUnknown* outer) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreatePalette(DWORD flags, LPPALETTEENTRY entries, IDirectDrawPalette** palette,
                                                  IUnknown* outer) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateSurface(LPDDSURFACEDESC description, IDirectDrawSurface** surface,
                                                  IUnknown* outer) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumDisplayModes(DWORD flags, LPDDSURFACEDESC filter, LPVOID context,
                                                     LPDDENUMMODESCALLBACK callback) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMonitorFrequency(LPDWORD frequency) = 0;
  virtual HRESULT STDMETHODCALLTYPE RestoreDisplayMode() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetCooperativeLevel(HWND window, DWORD flags) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDisplayMode(DWORD width, DWORD height, DWORD bits, DWORD refresh_rate,
                                                   DWORD flags) = 0;
  virtual HRESULT STDMETHODCALLTYPE WaitForVerticalBlank(DWORD flags, HANDLE event) = 0;
};

typedef IDirectDraw* LPDIRECTDRAW;
typedef IDirectDraw2* LPDIRECTDRAW2;
typedef IDirectDrawSurface* LPDIRECTDRAWSURFACE;
typedef IDirectDrawPalette* LPDIRECTDRAWPALETTE;
typedef IDirectDrawClipper* LPDIRECTDRAWCLIPPER;

typedef BOOL(CALLBACK* LPDDENUMCALLBACKEXA)(GUID* guid, LPSTR description, LPSTR name, LPVOID context,
                                            HMONITOR monitor);
typedef HRESULT(WINAPI* LPDIRECTDRAWENUMERATEEXA)(LPDDENUMCALLBACKEXA callback, LPVOID context, DWORD flags);

extern "C" {
HRESULT WINAPI DirectDrawCreate(GUID* device, LPDIRECTDRAW* object, IUnknown* outer);
HRESULT WINAPI DirectDrawEnumerateExA(LPDDENUMCALLBACKEXA callback, LPVOID context, DWORD flags);
}
