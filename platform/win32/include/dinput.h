// DirectInput as the window drivers use it, for hosts other than Windows: the
// DirectInput object and the system keyboard device read as a 256-byte state, with
// the real constant values, GUIDs and record layouts. Interfaces list only the
// methods the drivers call. Implemented by the zvwin32 library (dinput.cpp); a
// program reaches DirectInputCreateA through LoadLibraryA("dinput.dll").
#pragma once

#include <unknwn.h>
#include <windows.h>

#ifndef DIRECTINPUT_VERSION
#define DIRECTINPUT_VERSION 0x0700
#endif

inline constexpr GUID GUID_SysKeyboard = {0x6F1D2B61, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr GUID GUID_Key = {0x55728220, 0xD33C, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

#define DI_OK S_OK
#define DI_NOEFFECT S_FALSE
#define DIERR_GENERIC E_FAIL
#define DIERR_INVALIDPARAM E_INVALIDARG
#define DIERR_NOINTERFACE E_NOINTERFACE
#define DIERR_OUTOFMEMORY E_OUTOFMEMORY
#define DIERR_DEVICENOTREG REGDB_E_CLASSNOTREG
#define DIERR_NOTACQUIRED MAKE_HRESULT(SEVERITY_ERROR, FACILITY_WIN32, 12)
#define DIERR_NOTINITIALIZED MAKE_HRESULT(SEVERITY_ERROR, FACILITY_WIN32, 21)
#define DIERR_INPUTLOST MAKE_HRESULT(SEVERITY_ERROR, FACILITY_WIN32, 30)
#define DIERR_ACQUIRED MAKE_HRESULT(SEVERITY_ERROR, FACILITY_WIN32, 170)
#define DIERR_OLDDIRECTINPUTVERSION MAKE_HRESULT(SEVERITY_ERROR, FACILITY_WIN32, 1150)
#define DIERR_BETADIRECTINPUTVERSION MAKE_HRESULT(SEVERITY_ERROR, FACILITY_WIN32, 1153)

#define DIDF_ABSAXIS 0x00000001
#define DIDF_RELAXIS 0x00000002

#define DIDFT_ALL 0x00000000
#define DIDFT_PSHBUTTON 0x00000004
#define DIDFT_TGLBUTTON 0x00000008
#define DIDFT_BUTTON 0x0000000C
#define DIDFT_ANYINSTANCE 0x00FFFF00
#define DIDFT_INSTANCEMASK DIDFT_ANYINSTANCE
#define DIDFT_MAKEINSTANCE(n) ((WORD)(n) << 8)
#define DIDFT_GETTYPE(n) LOBYTE(n)
#define DIDFT_GETINSTANCE(n) LOWORD((n) >> 8)
#define DIDFT_OPTIONAL 0x80000000

// Sizes on x86-64: DIOBJECTDATAFORMAT 24, DIDATAFORMAT 32.
typedef struct _DIOBJECTDATAFORMAT {
  const GUID* pguid;
  DWORD dwOfs;
  DWORD dwType;
  DWORD dwFlags;
} DIOBJECTDATAFORMAT, *LPDIOBJECTDATAFORMAT;
typedef const DIOBJECTDATAFORMAT* LPCDIOBJECTDATAFORMAT;

typedef struct _DIDATAFORMAT {
  DWORD dwSize;
  DWORD dwObjSize;
  DWORD dwFlags;
  DWORD dwDataSize;
  DWORD dwNumObjs;
  LPDIOBJECTDATAFORMAT rgodf;
} DIDATAFORMAT, *LPDIDATAFORMAT;
typedef const DIDATAFORMAT* LPCDIDATAFORMAT;

struct IDirectInputDeviceA : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetDeviceState(DWORD size, LPVOID data) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDataFormat(LPCDIDATAFORMAT format) = 0;
  virtual HRESULT STDMETHODCALLTYPE Acquire() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unacquire() = 0;
};

struct IDirectInputA : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateDevice(REFGUID device, IDirectInputDeviceA** object, LPUNKNOWN outer) = 0;
};

typedef IDirectInputA* LPDIRECTINPUTA;
typedef IDirectInputDeviceA* LPDIRECTINPUTDEVICEA;

extern "C" {
HRESULT WINAPI DirectInputCreateA(HINSTANCE instance, DWORD version, LPDIRECTINPUTA* object, LPUNKNOWN outer);
}
