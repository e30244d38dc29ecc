// DirectInput of the Win32 layer: the DirectInput object and the system keyboard
// device. The device reads the layer's keyboard by scan code (extended keys at scan
// code + 128, whatever the backend), placed by the data format the program set: each
// key object of the format gets one byte, 0x80 while the key is down.
#include "platform/win32/com_object.h"
#include "platform/win32/layer.h"

#include <dinput.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace zv::win32 {
namespace {

class Keyboard;

// Live keyboard devices; guarded by the layer's lock.
std::vector<Keyboard*>& keyboards() {
  static auto* all = new std::vector<Keyboard*>;
  return *all;
}

class Keyboard final : public ComObject<IDirectInputDeviceA> {
 public:
  Keyboard() {
    std::lock_guard<std::mutex> hold(userLock());
    keyboards().push_back(this);
  }
  ~Keyboard() override {
    std::lock_guard<std::mutex> hold(userLock());
    auto& all = keyboards();
    all.erase(std::remove(all.begin(), all.end(), this), all.end());
  }

  HRESULT STDMETHODCALLTYPE GetDeviceState(DWORD size, LPVOID data) override {
    std::lock_guard<std::mutex> hold(userLock());
    if (!data || !has_format_ || size != data_size_) return DIERR_INVALIDPARAM;
    if (lost_) {
      lost_ = false;  // said once; afterwards the device is simply not acquired
      return DIERR_INPUTLOST;
    }
    if (!acquired_) return DIERR_NOTACQUIRED;
    auto* bytes = static_cast<uint8_t*>(data);
    std::memset(bytes, 0, size);
    const BYTE* keys = desktop().keyboard_device;
    for (const Placement& p : placements_) bytes[p.offset] = keys[p.key];
    return DI_OK;
  }

  HRESULT STDMETHODCALLTYPE SetDataFormat(LPCDIDATAFORMAT format) override {
    if (!format || format->dwSize != sizeof(DIDATAFORMAT) || format->dwObjSize != sizeof(DIOBJECTDATAFORMAT) ||
        format->dwDataSize % 4 != 0 || (format->dwNumObjs && !format->rgodf))
      return DIERR_INVALIDPARAM;
    std::vector<Placement> placements;
    bool taken[256] = {};
    for (DWORD i = 0; i < format->dwNumObjs; ++i) {
      const DIOBJECTDATAFORMAT& o = format->rgodf[i];
      const bool optional = (o.dwType & DIDFT_OPTIONAL) != 0;
      // A keyboard has buttons only: key objects (or objects of any kind) that are buttons.
      const bool key_kind = !o.pguid || IsEqualGUID(*o.pguid, GUID_Key);
      const bool button = DIDFT_GETTYPE(o.dwType) == 0 || (DIDFT_GETTYPE(o.dwType) & DIDFT_BUTTON);
      int32_t key = -1;
      if (key_kind && button) {
        if ((o.dwType & DIDFT_ANYINSTANCE) == DIDFT_ANYINSTANCE) {
          key = static_cast<int32_t>(std::find(taken, taken + 256, false) - taken);
        } else if (DIDFT_GETINSTANCE(o.dwType) < 256) {
          key = DIDFT_GETINSTANCE(o.dwType);
        }
      }
      if (key < 0 || key > 255 || taken[key]) {
        if (optional) continue;
        return DIERR_INVALIDPARAM;
      }
      if (o.dwOfs >= format->dwDataSize) return DIERR_INVALIDPARAM;
      taken[key] = true;
      placements.push_back(Placement{o.dwOfs, static_cast<uint8_t>(key)});
    }
    std::lock_guard<std::mutex> hold(userLock());
    if (acquired_) return DIERR_ACQUIRED;
    placements_ = std::move(placements);
    data_size_ = format->dwDataSize;
    has_format_ = true;
    return DI_OK;
  }

  HRESULT STDMETHODCALLTYPE Acquire() override {
    std::lock_guard<std::mutex> hold(userLock());
    if (!has_format_) return DIERR_INVALIDPARAM;
    if (acquired_) return S_FALSE;
    acquired_ = true;
    lost_ = false;
    return DI_OK;
  }

  HRESULT STDMETHODCALLTYPE Unacquire() override {
    std::lock_guard<std::mutex> hold(userLock());
    if (!acquired_) return DI_NOEFFECT;
    acquired_ = false;
    return DI_OK;
  }

  // Lock held.
  void takeAcquisitionLocked() {
    if (!acquired_) return;
    acquired_ = false;
    lost_ = true;
  }
  bool acquiredLocked() const { return acquired_; }

 private:
  struct Placement {
    DWORD offset;
    uint8_t key;
  };
  std::vector<Placement> placements_;
  DWORD data_size_ = 0;
  bool has_format_ = false;
  bool acquired_ = false;
  bool lost_ = false;
};

class DirectInput final : public ComObject<IDirectInputA> {
 public:
  HRESULT STDMETHODCALLTYPE CreateDevice(REFGUID device, IDirectInputDeviceA** object, LPUNKNOWN outer) override {
    if (!object) return DIERR_INVALIDPARAM;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (!IsEqualGUID(device, GUID_SysKeyboard)) return DIERR_DEVICENOTREG;
    *object = new (std::nothrow) Keyboard;
    return *object ? DI_OK : DIERR_OUTOFMEMORY;
  }
};

}  // namespace

void takeKeyboardAcquisition() {
  std::lock_guard<std::mutex> hold(userLock());
  for (Keyboard* keyboard : keyboards()) keyboard->takeAcquisitionLocked();
}

bool keyboardAcquired() {
  std::lock_guard<std::mutex> hold(userLock());
  return std::any_of(keyboards().begin(), keyboards().end(), [](const Keyboard* k) { return k->acquiredLocked(); });
}

}  // namespace zv::win32

using namespace zv::win32;

extern "C" {

HRESULT WINAPI DirectInputCreateA(HINSTANCE, DWORD version, LPDIRECTINPUTA* object, LPUNKNOWN outer) {
  if (!object) return DIERR_INVALIDPARAM;
  *object = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  if (version < 0x0300) return DIERR_OLDDIRECTINPUTVERSION;
  if (version > 0x0700) return DIERR_BETADIRECTINPUTVERSION;
  *object = new (std::nothrow) DirectInput;
  return *object ? DI_OK : DIERR_OUTOFMEMORY;
}

}  // extern "C"
