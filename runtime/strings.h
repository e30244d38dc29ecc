// String descriptors, the pool of temporary descriptors that carries literals into
// statements, and the few operations on owned string data.
#pragma once

#include <cstdint>

namespace zv {

// data: the characters (NUL-terminated when owned; may point at a literal).
// length: low 31 bits the character count; bit 31 set when the descriptor owns
// heap data that its release must free. capacity: bytes reserved for data.
struct StringDesc {
  char* data;
  uint32_t length;
  int32_t capacity;
};

constexpr uint32_t STRING_OWNED = 0x80000000u;
constexpr int32_t TEMP_POOL_SIZE = 256;

inline int32_t string_length(const StringDesc* s) {
  return s ? static_cast<int32_t>(s->length & ~STRING_OWNED) : 0;
}

// The shared empty descriptor (no data, length 0).
StringDesc* empty_string();

// A temporary descriptor pointing at the literal, or the empty descriptor when all
// 256 temporaries are in use.
StringDesc* temp_from_literal(const char* text, int32_t length);
StringDesc* temp_from_text(const char* text);

// A temporary descriptor that owns a copy of the bytes (the empty descriptor when
// the pool is exhausted or memory runs out).
StringDesc* temp_from_copy(const char* bytes, int32_t length);

// Frees owned data and clears the descriptor; a descriptor of the pool goes back to
// the pool. Null and descriptors outside the pool (other than freeing) are left.
void release_temp(StringDesc* s);

// True when the descriptor is one of the pool's temporaries.
bool is_temp(const StringDesc* s);

// Number of temporaries currently taken from the pool.
int32_t temps_in_use();

// Makes dest own a copy of the bytes (previous owned data freed). Capacity is
// rounded up to a multiple of 32 plus a NUL byte; false when memory runs out.
bool assign_string(StringDesc* dest, const char* bytes, int32_t length);

// Moves the contents of src into dest (dest's old data freed); a temporary src
// goes back to the pool. Literal data is copied so that dest always owns it.
bool move_string(StringDesc* dest, StringDesc* src);

// Frees owned data and clears the descriptor, wherever it lives.
void free_string(StringDesc* s);

// Resets the pool to all-free; used when the runtime context is cleared.
void reset_temp_pool();

}  // namespace zv
