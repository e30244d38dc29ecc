// Reference counting for the COM objects of the Win32 layer (DirectDraw and
// DirectInput): an object starts with one reference and deletes itself when the
// last one is released. Every live object is counted, so that tests can check that
// a program released everything it made.
#pragma once

#include <unknwn.h>

#include <atomic>
#include <cstdint>

namespace zv::win32 {

std::atomic<int32_t>& liveComObjects();

template <class Interface>
class ComObject : public Interface {
 public:
  ComObject() { liveComObjects().fetch_add(1); }
  virtual ~ComObject() { liveComObjects().fetch_sub(1); }
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  // Objects with more than one interface answer for them themselves.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    if (object) *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return references_.fetch_add(1) + 1; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = references_.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return left;
  }

 private:
  std::atomic<ULONG> references_{1};
};

}  // namespace zv::win32
