// String descriptors and the pool of 256 temporaries (a free list built on first use).
#include "runtime/strings.h"

#include <cstdlib>
#include <cstring>

#include "runtime/runtime.h"

namespace zv {

namespace {

struct TempEntry {
  StringDesc desc;  // first member: a descriptor's address is its entry's address
  TempEntry* next;
};

struct TempPool {
  TempEntry entries[TEMP_POOL_SIZE];
  TempEntry* free_list;
  bool built;
  int32_t in_use;
};

TempPool pool;

void build_pool() {
  pool.free_list = nullptr;
  for (int i = TEMP_POOL_SIZE - 1; i >= 0; --i) {
    pool.entries[i].desc = StringDesc{};
    pool.entries[i].next = pool.free_list;
    pool.free_list = &pool.entries[i];
  }
  pool.in_use = 0;
  pool.built = true;
}

StringDesc* take_temp() {
  if (!pool.built) build_pool();
  TempEntry* e = pool.free_list;
  if (!e) return nullptr;
  pool.free_list = e->next;
  e->next = nullptr;
  ++pool.in_use;
  return &e->desc;
}

// Owned data: capacity rounded up to 32 bytes plus a NUL; an exact-size allocation
// when the rounded one fails.
char* allocate_data(int32_t length, int32_t* capacity) {
  size_t rounded = (static_cast<size_t>(length) + 31u) & ~size_t{31};
  if (rounded == 0) rounded = 32;
  char* p = static_cast<char*>(std::malloc(rounded + 1));
  if (p) {
    *capacity = static_cast<int32_t>(rounded);
    return p;
  }
  p = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
  if (p) *capacity = length;
  return p;
}

}  // namespace

StringDesc* empty_string() {
  StringDesc* e = &runtime().empty;
  *e = StringDesc{};
  return e;
}

bool is_temp(const StringDesc* s) {
  auto* p = reinterpret_cast<const TempEntry*>(s);
  return p >= pool.entries && p < pool.entries + TEMP_POOL_SIZE;
}

int32_t temps_in_use() { return pool.built ? pool.in_use : 0; }

StringDesc* temp_from_literal(const char* text, int32_t length) {
  StringDesc* t = take_temp();
  if (!t) return empty_string();
  if (!text || length < 0) length = 0;
  t->data = const_cast<char*>(text);
  t->length = static_cast<uint32_t>(length);
  t->capacity = length;
  return t;
}

StringDesc* temp_from_text(const char* text) {
  return temp_from_literal(text, text ? static_cast<int32_t>(std::strlen(text)) : 0);
}

StringDesc* temp_from_copy(const char* bytes, int32_t length) {
  StringDesc* t = take_temp();
  if (!t) return empty_string();
  *t = StringDesc{};
  if (length > 0 && !assign_string(t, bytes, length)) {
    release_temp(t);
    return empty_string();
  }
  return t;
}

void free_string(StringDesc* s) {
  if (!s) return;
  if (s->length & STRING_OWNED) std::free(s->data);
  *s = StringDesc{};
}

void release_temp(StringDesc* s) {
  if (!s) return;
  if (s->length & STRING_OWNED) free_string(s);
  if (!is_temp(s)) return;
  auto* e = reinterpret_cast<TempEntry*>(s);
  e->desc = StringDesc{};
  e->next = pool.free_list;
  pool.free_list = e;
  --pool.in_use;
}

bool assign_string(StringDesc* dest, const char* bytes, int32_t length) {
  if (!dest) return false;
  if (length <= 0 || !bytes) {
    free_string(dest);
    return true;
  }
  int32_t capacity = 0;
  char* data = allocate_data(length, &capacity);
  if (!data) return false;
  std::memcpy(data, bytes, static_cast<size_t>(length));
  data[length] = '\0';
  free_string(dest);
  dest->data = data;
  dest->length = static_cast<uint32_t>(length) | STRING_OWNED;
  dest->capacity = capacity;
  return true;
}

bool move_string(StringDesc* dest, StringDesc* src) {
  if (!dest || dest == src) return dest != nullptr;
  if (!src) {
    free_string(dest);
    return true;
  }
  bool ok = true;
  if (src->length & STRING_OWNED) {
    free_string(dest);
    *dest = *src;
    *src = StringDesc{};
  } else {
    ok = assign_string(dest, src->data, string_length(src));
  }
  if (is_temp(src)) release_temp(src);
  return ok;
}

void reset_temp_pool() {
  if (pool.built)
    for (auto& e : pool.entries) free_string(&e.desc);
  pool.built = false;
  pool.in_use = 0;
  pool.free_list = nullptr;
}

}  // namespace zv
