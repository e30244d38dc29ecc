// Row kernels of the pixel-format converters and of the Win32 layer's bitmap copies:
// pixel rules, plain and vector kernels for one line, palette lookups, and the choice
// of vector unit.
//
// The vector kernels are written once with the compiler's vector types and
// instantiated for 16-byte registers (SSE2, the x86-64 baseline, or the generic
// vector unit elsewhere) and, on x86-64, for 32-byte registers in functions built
// for AVX2; the level is chosen once from the processor. The scalar form of the same
// rule finishes the pixels of a line that do not fill a whole vector.
#include "common/pixel_rows.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace zv {

namespace {

// ---- Unaligned loads and stores --------------------------------------------------

inline uint32_t load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline uint32_t load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void store16(uint8_t* p, uint32_t v) {
  const uint16_t w = static_cast<uint16_t>(v);
  std::memcpy(p, &w, 2);
}
inline void store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline void store24(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
}

constexpr int32_t bytesOfDepth(int32_t depth) { return depth == 15 ? 2 : depth / 8; }

// ---- Pixel rules -----------------------------------------------------------------

// The rules below return 32-byte vectors inside AVX2 functions; they are always
// inlined, so no vector ever crosses a call and the ABI note does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"
// Written for a scalar or a vector of lanes alike (T is uint32_t or a vector of
// uint32_t / uint16_t), so that the vector kernels and their scalar tails share them.

// 8-bit channels to a destination pixel; 24 bits is the 32-bit pixel's low three bytes.
template <int32_t Depth, int32_t Order>
constexpr uint32_t packRgb(uint32_t r, uint32_t g, uint32_t b) {
  const uint32_t high = Order == 0 ? r : b, low = Order == 0 ? b : r;
  if constexpr (Depth == 15) return (high >> 3) << 10 | (g >> 3) << 5 | low >> 3;
  if constexpr (Depth == 16) return (high >> 3) << 11 | (g >> 2) << 5 | low >> 3;
  return high << 16 | g << 8 | low;
}

// A 0x00BBGGRR palette entry to the destination. Order 1 at 32 bits is the entry as
// it is.
template <int32_t Depth, int32_t Order>
constexpr uint32_t fromPaletteEntry(uint32_t c) {
  if constexpr (Depth == 32 && Order == 1) return c;
  return packRgb<Depth, Order>(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

// A 5-6-5 pixel by shifts and masks (the vector rule; the plain 16-to-24/32 members
// take the expansion table, which gives the same values).
template <int32_t Depth, int32_t Order, class T>
[[gnu::always_inline]] inline T from16(const T& p) {
  if constexpr (Depth == 15 && Order == 0) return ((p >> 1) & 0x7FE0) | (p & 0x1F);
  if constexpr (Depth == 15 && Order == 1)
    return ((p & 0x1F) << 10) | ((p >> 1) & 0x3E0) | (p >> 11);
  if constexpr (Depth == 16 && Order == 0) return p;
  if constexpr (Depth == 16 && Order == 1) return ((p & 0x1F) << 11) | (p & 0x7E0) | (p >> 11);
  if constexpr (Order == 0) return ((p & 0xF800) << 8) | ((p & 0x7E0) << 5) | ((p & 0x1F) << 3);
  return ((p >> 8) & 0xF8) | ((p & 0x7E0) << 5) | ((p & 0x1F) << 19);
}

// A 0x00RRGGBB pixel. 32 bits order 0 is the pixel itself (the copy member).
template <int32_t Depth, int32_t Order, class T>
[[gnu::always_inline]] inline T from32(const T& p) {
  if constexpr (Depth == 15 && Order == 0)
    return ((p >> 9) & 0x7C00) | ((p >> 6) & 0x3E0) | ((p >> 3) & 0x1F);
  if constexpr (Depth == 15 && Order == 1)
    return ((p << 7) & 0x7C00) | ((p >> 6) & 0x3E0) | ((p >> 19) & 0x1F);
  if constexpr (Depth == 16 && Order == 0)
    return ((p >> 8) & 0xF800) | ((p >> 5) & 0x7E0) | ((p >> 3) & 0x1F);
  if constexpr (Depth == 16 && Order == 1)
    return ((p << 8) & 0xF800) | ((p >> 5) & 0x7E0) | ((p >> 19) & 0x1F);
  if constexpr (Order == 0) return p;
  return ((p & 0xFF) << 16) | (p & 0xFF00) | ((p >> 16) & 0xFF);
}

template <SourceLayout Src, int32_t Depth, int32_t Order, class T>
[[gnu::always_inline]] inline T fromSource(const T& p) {
  if constexpr (Src == SourceLayout::rgb16) return from16<Depth, Order>(p);
  else return from32<Depth, Order>(p);
}

// ---- Plain row kernels -------------------------------------------------------------

// Pixel x of a source line by the plain rules: palette lookup, the expansion table
// for 16 bits to 24/32, shifts otherwise.
template <SourceLayout Src, int32_t Depth, int32_t Order>
inline uint32_t plainPixel(const uint8_t* s, int32_t x, const uint32_t* table) {
  if constexpr (Src == SourceLayout::palettised) {
    return fromPaletteEntry<Depth, Order>(table[s[x]]);
  } else if constexpr (Src == SourceLayout::rgb16) {
    if constexpr (Depth >= 24) return table[s[2 * x]] | table[256 + s[2 * x + 1]];
    else return from16<Depth, Order>(load16(s + 2 * x));
  } else {
    return from32<Depth, Order>(load32(s + 4 * x));
  }
}

// Two 16-bit pixels per 32-bit store (the first in the low half), an odd last pixel
// with one 16-bit store; 24 bits byte by byte; 32 bits one store per pixel.
template <SourceLayout Src, int32_t Depth, int32_t Order>
void plainRow(uint8_t* d, const uint8_t* s, int32_t width, const uint32_t* table) {
  if constexpr (Depth == 15 || Depth == 16) {
    int32_t x = 0;
    for (; x + 1 < width; x += 2)
      store32(d + 2 * x, plainPixel<Src, Depth, Order>(s, x, table) |
                             plainPixel<Src, Depth, Order>(s, x + 1, table) << 16);
    if (x < width) store16(d + 2 * x, plainPixel<Src, Depth, Order>(s, x, table));
  } else if constexpr (Depth == 24) {
    for (int32_t x = 0; x < width; ++x) store24(d + 3 * x, plainPixel<Src, Depth, Order>(s, x, table));
  } else {
    for (int32_t x = 0; x < width; ++x) store32(d + 4 * x, plainPixel<Src, Depth, Order>(s, x, table));
  }
}

void copyBytes(uint8_t* d, const uint8_t* s, size_t n);

void copyRow16(uint8_t* d, const uint8_t* s, int32_t width, const uint32_t*) {
  copyBytes(d, s, static_cast<size_t>(width) * 2);
}
void copyRow32(uint8_t* d, const uint8_t* s, int32_t width, const uint32_t*) {
  copyBytes(d, s, static_cast<size_t>(width) * 4);
}

// ---- Vector row kernels ------------------------------------------------------------

template <int32_t Bytes>
struct Lanes {
  typedef uint32_t u32 __attribute__((vector_size(Bytes)));
  typedef uint16_t u16 __attribute__((vector_size(Bytes)));
  typedef uint16_t half16 __attribute__((vector_size(Bytes / 2)));
  typedef uint8_t u8 __attribute__((vector_size(Bytes)));
};

// Packs the 32-bit lanes' low three bytes into 3 * lanes bytes. With 16-byte vectors
// (no byte shuffle in SSE2) the four lanes are combined in general registers; with
// 32-byte ones each 16-byte block is one byte shuffle.
template <int32_t Bytes>
[[gnu::always_inline]] inline void store24Lanes(uint8_t* d, typename Lanes<Bytes>::u32 q) {
  if constexpr (Bytes == 16) {
    const uint64_t p0 = q[0] & 0xFFFFFF, p1 = q[1] & 0xFFFFFF, p2 = q[2] & 0xFFFFFF;
    const uint64_t low = p0 | p1 << 24 | p2 << 48;
    const uint32_t high = static_cast<uint32_t>(p2 >> 16) | q[3] << 8;
    std::memcpy(d, &low, 8);
    std::memcpy(d + 8, &high, 4);
    return;
  }
  using u8 = typename Lanes<16>::u8;
  for (int32_t block = 0; block < Bytes / 16; ++block) {
    u8 b;
    std::memcpy(&b, reinterpret_cast<const uint8_t*>(&q) + 16 * block, 16);
    const u8 packed = __builtin_shufflevector(b, b, 0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 3, 7, 11, 15);
    std::memcpy(d + 12 * block, &packed, 12);
  }
}

// One line of a 16- or 32-bit source, Bytes / 4 pixels a step (Bytes / 2 for 16 to
// 15/16 bits), the rest by the scalar rule.
template <int32_t Bytes, SourceLayout Src, int32_t Depth, int32_t Order>
[[gnu::always_inline]] inline void vectorRowBody(uint8_t* d, const uint8_t* s, int32_t width) {
  using L = Lanes<Bytes>;
  constexpr int32_t src_bytes = Src == SourceLayout::rgb16 ? 2 : 4;
  constexpr int32_t dst_bytes = bytesOfDepth(Depth);
  int32_t x = 0;
  if constexpr (Src == SourceLayout::rgb16 && Depth <= 16) {
    constexpr int32_t step = Bytes / 2;
    for (; x + step <= width; x += step) {
      typename L::u16 p;
      std::memcpy(&p, s + 2 * x, sizeof p);
      const typename L::u16 q = from16<Depth, Order>(p);
      std::memcpy(d + 2 * x, &q, sizeof q);
    }
  } else {
    constexpr int32_t step = Bytes / 4;
    for (; x + step <= width; x += step) {
      typename L::u32 p;
      if constexpr (Src == SourceLayout::rgb16) {
        typename L::half16 h;
        std::memcpy(&h, s + 2 * x, sizeof h);
        p = __builtin_convertvector(h, typename L::u32);
      } else {
        std::memcpy(&p, s + 4 * x, sizeof p);
      }
      const typename L::u32 q = fromSource<Src, Depth, Order>(p);
      if constexpr (Depth == 32) {
        std::memcpy(d + 4 * x, &q, sizeof q);
      } else if constexpr (Depth == 24) {
        store24Lanes<Bytes>(d + 3 * x, q);
      } else {
        // Every lane holds a 15- or 16-bit value, so narrowing keeps it whole. SSE2
        // packs only with signed saturation: sign-extending the low half first makes
        // that exact.
#if defined(__SSE2__)
        if constexpr (Bytes == 16) {
          __m128i v = reinterpret_cast<const __m128i&>(q);
          v = _mm_srai_epi32(_mm_slli_epi32(v, 16), 16);
          _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 2 * x), _mm_packs_epi32(v, v));
          continue;
        }
#endif
        const typename L::half16 narrow = __builtin_convertvector(q, typename L::half16);
        std::memcpy(d + 2 * x, &narrow, sizeof narrow);
      }
    }
  }
  for (; x < width; ++x) {
    const uint32_t p = src_bytes == 2 ? load16(s + 2 * x) : load32(s + 4 * x);
    const uint32_t q = fromSource<Src, Depth, Order>(p);
    if constexpr (dst_bytes == 2) store16(d + 2 * x, q);
    else if constexpr (dst_bytes == 3) store24(d + 3 * x, q);
    else store32(d + 4 * x, q);
  }
}

// A line copy in vector moves. The C library's copy of a few kilobytes may take the
// string-move instruction, which some processors run at a fraction of this speed
// when source and destination sit at the same offset within a page, as a 32-bit
// framebuffer row and a bitmap line often do.
template <int32_t Bytes>
[[gnu::always_inline]] inline void copyBody(uint8_t* d, const uint8_t* s, size_t n) {
  using u8 = typename Lanes<Bytes>::u8;
  size_t i = 0;
  for (; i + 2 * Bytes <= n; i += 2 * Bytes) {
    u8 a, b;
    std::memcpy(&a, s + i, Bytes);
    std::memcpy(&b, s + i + Bytes, Bytes);
    std::memcpy(d + i, &a, Bytes);
    std::memcpy(d + i + Bytes, &b, Bytes);
  }
  if (i < n) std::memcpy(d + i, s + i, n - i);
}

template <int32_t Bytes>
[[gnu::always_inline]] inline void alphaClearBody(uint8_t* d, const uint8_t* s, int32_t width) {
  using u32 = typename Lanes<Bytes>::u32;
  constexpr int32_t step = Bytes / 4;
  int32_t x = 0;
  for (; x + step <= width; x += step) {
    u32 p;
    std::memcpy(&p, s + 4 * x, sizeof p);
    p &= 0x00FFFFFF;
    std::memcpy(d + 4 * x, &p, sizeof p);
  }
  for (; x < width; ++x) store32(d + 4 * x, load32(s + 4 * x) & 0x00FFFFFFu);
}

template <SourceLayout Src, int32_t Depth, int32_t Order>
void vectorRow16(uint8_t* d, const uint8_t* s, int32_t width, const uint32_t*) {
  vectorRowBody<16, Src, Depth, Order>(d, s, width);
}
void alphaClearRow16(uint8_t* d, const uint8_t* s, int32_t width, const uint32_t*) {
  alphaClearBody<16>(d, s, width);
}
void copyBytes16(uint8_t* d, const uint8_t* s, size_t n) { copyBody<16>(d, s, n); }

#if defined(__x86_64__) || defined(__i386__)
#define ZV_HAVE_AVX2_KERNELS 1
template <SourceLayout Src, int32_t Depth, int32_t Order>
__attribute__((target("avx2"))) void vectorRow32(uint8_t* d, const uint8_t* s, int32_t width,
                                                 const uint32_t*) {
  vectorRowBody<32, Src, Depth, Order>(d, s, width);
}
__attribute__((target("avx2"))) void alphaClearRow32(uint8_t* d, const uint8_t* s, int32_t width,
                                                     const uint32_t*) {
  alphaClearBody<32>(d, s, width);
}
__attribute__((target("avx2"))) void copyBytes32(uint8_t* d, const uint8_t* s, size_t n) {
  copyBody<32>(d, s, n);
}

#endif

// ---- Vector level ------------------------------------------------------------------

// Asked of the processor at the first conversion. The compiler's own detection
// would ask in a start-up constructor of every program that links it, which costs a
// scripted run that never converts a pixel more than the rest of its start. AVX2
// needs the processor's bit and the system's saving of the 256-bit registers (bits 1
// and 2 of XCR0).
int32_t detectVectorLevel() {
#if defined(__x86_64__) || defined(__i386__)
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return 0;
  const int32_t base = (d & bit_SSE2) ? 1 : 0;
  if (!(c & bit_OSXSAVE) || !(c & bit_AVX)) return base;
  unsigned low = 0, high = 0;
  __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  if ((low & 6) != 6 || !__get_cpuid_count(7, 0, &a, &b, &c, &d)) return base;
  return (b & bit_AVX2) ? 2 : base;
#elif defined(__aarch64__) || defined(__ARM_NEON)
  return 1;
#else
  return 0;
#endif
}

int32_t processorVectorLevel() {
  static const int32_t level = detectVectorLevel();
  return level;
}

std::atomic<int32_t> vector_level{-1};

int32_t activeVectorLevel() {
  int32_t level = vector_level.load(std::memory_order_relaxed);
  if (level < 0) {
    level = processorVectorLevel();
    vector_level.store(level, std::memory_order_relaxed);
  }
  return level;
}

void copyBytes(uint8_t* d, const uint8_t* s, size_t n) {
  const int32_t level = activeVectorLevel();
#ifdef ZV_HAVE_AVX2_KERNELS
  if (level >= 2) return copyBytes32(d, s, n);
#endif
  if (level >= 1) return copyBytes16(d, s, n);
  std::memcpy(d, s, n);
}

// The kernel for the level now in use (16-byte vectors also stand in for level 0,
// where the compiler splits them into plain operations).
template <SourceLayout Src, int32_t Depth, int32_t Order>
RowKernel leveledKernel() {
#ifdef ZV_HAVE_AVX2_KERNELS
  if (activeVectorLevel() >= 2) return vectorRow32<Src, Depth, Order>;
#endif
  return vectorRow16<Src, Depth, Order>;
}

// Row kernels by (source, depth column, order), for the lookups of the Win32 layer.
template <template <SourceLayout, int32_t, int32_t> class Pick>
constexpr std::array<RowKernel, 24> kernelTable() {
  constexpr auto P = SourceLayout::palettised;
  constexpr auto S16 = SourceLayout::rgb16;
  constexpr auto S32 = SourceLayout::rgb32;
  return {Pick<P, 15, 0>::get(),   Pick<P, 16, 0>::get(),   Pick<P, 24, 0>::get(),
          Pick<P, 32, 0>::get(),   Pick<S16, 15, 0>::get(), Pick<S16, 16, 0>::get(),
          Pick<S16, 24, 0>::get(), Pick<S16, 32, 0>::get(), Pick<S32, 15, 0>::get(),
          Pick<S32, 16, 0>::get(), Pick<S32, 24, 0>::get(), Pick<S32, 32, 0>::get(),
          Pick<P, 15, 1>::get(),   Pick<P, 16, 1>::get(),   Pick<P, 24, 1>::get(),
          Pick<P, 32, 1>::get(),   Pick<S16, 15, 1>::get(), Pick<S16, 16, 1>::get(),
          Pick<S16, 24, 1>::get(), Pick<S16, 32, 1>::get(), Pick<S32, 15, 1>::get(),
          Pick<S32, 16, 1>::get(), Pick<S32, 24, 1>::get(), Pick<S32, 32, 1>::get()};
}

template <SourceLayout Src, int32_t Depth, int32_t Order>
struct PickPlain {
  static constexpr RowKernel get() {
    if constexpr (Src == SourceLayout::rgb16 && Depth == 16 && Order == 0) return copyRow16;
    else if constexpr (Src == SourceLayout::rgb32 && Depth == 32 && Order == 0) return copyRow32;
    else return plainRow<Src, Depth, Order>;
  }
};
constexpr std::array<RowKernel, 24> plain_kernels = kernelTable<PickPlain>();

int32_t kernelSlot(SourceLayout source, int32_t depth, int32_t order) {
  if (order != 0 && order != 1) return -1;
  const int32_t column = depth == 15 ? 0 : depth == 16 ? 1 : depth == 24 ? 2 : depth == 32 ? 3 : -1;
  if (column < 0) return -1;
  return order * 12 + static_cast<int32_t>(source) * 4 + column;
}

}  // namespace

void alphaClearRow(uint8_t* d, const uint8_t* s, int32_t width, const uint32_t*) {
  for (int32_t x = 0; x < width; ++x) store32(d + 4 * x, load32(s + 4 * x) & 0x00FFFFFFu);
}

void copyRowBytes(uint8_t* d, const uint8_t* s, size_t n) { copyBytes(d, s, n); }

void alphaClearRowVector(uint8_t* d, const uint8_t* s, int32_t width, const uint32_t*) {
#ifdef ZV_HAVE_AVX2_KERNELS
  if (activeVectorLevel() >= 2) return alphaClearRow32(d, s, width, nullptr);
#endif
  alphaClearRow16(d, s, width, nullptr);
}

// The lookups take eight indexes in one load. The 32-bit lookup joins two pixels in
// a 64-bit register, so eight pixels cost four stores (measured faster than eight);
// the 16-bit one stores each pixel from its register (joining four measured no
// faster). Gathering pixels in a small array and copying that out stalls on store
// forwarding, and the processors' gathers are slower than these scalar loads.
void lookupRow32(uint8_t* d, const uint8_t* s, int32_t width, const uint32_t* table) {
  int32_t x = 0;
  for (; x + 8 <= width; x += 8) {
    uint64_t i;
    std::memcpy(&i, s + x, 8);
#pragma GCC unroll 4
    for (int32_t k = 0; k < 8; k += 2) {
      const uint64_t pair = uint64_t{table[(i >> (8 * k)) & 0xFF]} |
                            uint64_t{table[(i >> (8 * k + 8)) & 0xFF]} << 32;
      std::memcpy(d + 4 * (x + k), &pair, 8);
    }
  }
  for (; x < width; ++x) store32(d + 4 * x, table[s[x]]);
}

void lookupRow24(uint8_t* d, const uint8_t* s, int32_t width, const uint32_t* table) {
  // Eight pixels, 24 bytes, in three 64-bit stores.
  int32_t x = 0;
  for (; x + 8 <= width; x += 8) {
    uint64_t i;
    std::memcpy(&i, s + x, 8);
    uint64_t p[8];
#pragma GCC unroll 8
    for (int32_t k = 0; k < 8; ++k) p[k] = table[(i >> (8 * k)) & 0xFF] & 0xFFFFFF;
    const uint64_t q0 = p[0] | p[1] << 24 | p[2] << 48;
    const uint64_t q1 = p[2] >> 16 | p[3] << 8 | p[4] << 32 | p[5] << 56;
    const uint64_t q2 = p[5] >> 8 | p[6] << 16 | p[7] << 40;
    std::memcpy(d + 3 * x, &q0, 8);
    std::memcpy(d + 3 * x + 8, &q1, 8);
    std::memcpy(d + 3 * x + 16, &q2, 8);
  }
  for (; x < width; ++x) store24(d + 3 * x, table[s[x]]);
}

void lookupRow16(uint8_t* d, const uint8_t* s, int32_t width, const uint16_t* table) {
  int32_t x = 0;
  for (; x + 8 <= width; x += 8) {
    uint64_t i;
    std::memcpy(&i, s + x, 8);
#pragma GCC unroll 8
    for (int32_t k = 0; k < 8; ++k) store16(d + 2 * (x + k), table[(i >> (8 * k)) & 0xFF]);
  }
  for (; x < width; ++x) store16(d + 2 * x, table[s[x]]);
}

void derivePaletteTable16(uint16_t* table16, const uint32_t* palette, int32_t depth, int32_t order) {
  for (int32_t i = 0; i < 256; ++i) {
    const uint32_t c = palette[i];
    const uint32_t q = depth == 15 ? (order == 0 ? fromPaletteEntry<15, 0>(c) : fromPaletteEntry<15, 1>(c))
                                   : (order == 0 ? fromPaletteEntry<16, 0>(c) : fromPaletteEntry<16, 1>(c));
    table16[i] = static_cast<uint16_t>(q);
  }
}

void derivePaletteTable32(uint32_t* table32, const uint32_t* palette, int32_t, int32_t order) {
  // 24 bits are the low three bytes of the 32-bit form.
  for (int32_t i = 0; i < 256; ++i)
    table32[i] = order == 0 ? fromPaletteEntry<32, 0>(palette[i]) : fromPaletteEntry<32, 1>(palette[i]);
}

RowKernel plainRowKernel(SourceLayout source, int32_t depth, int32_t order) {
  const int32_t slot = kernelSlot(source, depth, order);
  return slot < 0 ? nullptr : plain_kernels[static_cast<size_t>(slot)];
}

RowKernel vectorRowKernel(SourceLayout source, int32_t depth, int32_t order) {
  if (source == SourceLayout::palettised || kernelSlot(source, depth, order) < 0) return nullptr;
  using K = RowKernel (*)();
  constexpr auto S16 = SourceLayout::rgb16;
  constexpr auto S32 = SourceLayout::rgb32;
  static constexpr K pick[16] = {
      leveledKernel<S16, 15, 0>, leveledKernel<S16, 16, 0>, leveledKernel<S16, 24, 0>,
      leveledKernel<S16, 32, 0>, leveledKernel<S32, 15, 0>, leveledKernel<S32, 16, 0>,
      leveledKernel<S32, 24, 0>, leveledKernel<S32, 32, 0>, leveledKernel<S16, 15, 1>,
      leveledKernel<S16, 16, 1>, leveledKernel<S16, 24, 1>, leveledKernel<S16, 32, 1>,
      leveledKernel<S32, 15, 1>, leveledKernel<S32, 16, 1>, leveledKernel<S32, 24, 1>,
      leveledKernel<S32, 32, 1>};
  const int32_t column = depth == 15 ? 0 : depth == 16 ? 1 : depth == 24 ? 2 : 3;
  return pick[order * 8 + (source == S16 ? 0 : 4) + column]();
}

int32_t converterVectorLevel() { return activeVectorLevel(); }

int32_t setConverterVectorLevel(int32_t level) {
  const int32_t most = processorVectorLevel();
  const int32_t chosen = level < 0 ? 0 : level > most ? most : level;
  vector_level.store(chosen, std::memory_order_relaxed);
  return chosen;
}

}  // namespace zv
