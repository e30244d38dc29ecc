// The few COM basics the DirectDraw and DirectInput headers build on, for hosts
// other than Windows: GUIDs, HRESULT with its common codes, and IUnknown as an
// abstract class whose virtual functions stand in for the interface's table.
#pragma once

#include <windows.h>

#include <cstring>

typedef struct _GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID, *LPGUID;
typedef GUID IID;
typedef const GUID* LPCGUID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
#define IsEqualIID IsEqualGUID

typedef LONG HRESULT;

#define SEVERITY_SUCCESS 0
#define SEVERITY_ERROR 1
#define FACILITY_WIN32 7
#define MAKE_HRESULT(severity, facility, code) \
  ((HRESULT)(((ULONG)(severity) << 31) | ((ULONG)(facility) << 16) | ((ULONG)(code))))
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_POINTER ((HRESULT)0x80004003)
#define E_FAIL ((HRESULT)0x80004005)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154)

#define STDMETHODCALLTYPE

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;

 protected:
  ~IUnknown() = default;  // objects go through Release, never delete
};
typedef IUnknown* LPUNKNOWN;
