// Xlib and libXext loaded at run time: the pointers of x11_library.h, filled from one
// table of names. The libraries stay loaded for the rest of the program once they
// are in use; a failed load leaves nothing loaded.
#include "platform/win32/x11/x11_library.h"

#include <dlfcn.h>

#include <cstdlib>
#include <iterator>

namespace zv::win32 {

#define ZV_X11_DEFINE(name) decltype(&::name) name = nullptr;
ZV_X11_FUNCTIONS(ZV_X11_DEFINE, ZV_X11_DEFINE)
#undef ZV_X11_DEFINE

namespace {

struct Symbol {
  const char* name;
  void** address;
  bool in_xext;
};

#define ZV_X11_ENTRY(name) Symbol{#name, reinterpret_cast<void**>(&name), false},
#define ZV_XEXT_ENTRY(name) Symbol{#name, reinterpret_cast<void**>(&name), true},
const Symbol kSymbols[] = {ZV_X11_FUNCTIONS(ZV_X11_ENTRY, ZV_XEXT_ENTRY)};
#undef ZV_X11_ENTRY
#undef ZV_XEXT_ENTRY

bool load() {
  const char* x11_name = secure_getenv("ZV_X11_LIBRARY");
  void* x11 = dlopen(x11_name && *x11_name ? x11_name : "libX11.so.6", RTLD_NOW | RTLD_LOCAL);
  void* xext = x11 ? dlopen("libXext.so.6", RTLD_NOW | RTLD_LOCAL) : nullptr;
  bool complete = xext != nullptr;
  for (auto symbol = std::begin(kSymbols); complete && symbol != std::end(kSymbols); ++symbol) {
    *symbol->address = dlsym(symbol->in_xext ? xext : x11, symbol->name);
    complete = *symbol->address != nullptr;
  }
  if (!complete) {
    for (const Symbol& symbol : kSymbols) *symbol.address = nullptr;
    if (xext) dlclose(xext);
    if (x11) dlclose(x11);
  }
  return complete;
}

}  // namespace

bool loadX11() {
  static const bool loaded = load();
  return loaded;
}

}  // namespace zv::win32
