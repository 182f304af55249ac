// Finding bytes sixteen at a time, with the vector instructions every
// processor of its kind has (SSE2 on x86-64, NEON on AArch64; plain code
// elsewhere): the scan walks bit masks instead of calling into the C runtime
// per line. Nothing here reads outside the bytes it is given.
#ifndef KESTRANE_SCAN_BYTE_MASKS_H_
#define KESTRANE_SCAN_BYTE_MASKS_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

// KESTRANE_PLAIN_BYTES asks for the plain code everywhere, so that its tests
// run where the vector code would be taken (the sanitizer build).
#if defined(KESTRANE_PLAIN_BYTES)
#elif defined(__SSE2__) || defined(_M_X64) || \
    (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define KESTRANE_SSE2 1
#include <emmintrin.h>
#elif defined(__aarch64__) || defined(_M_ARM64)
#define KESTRANE_NEON 1
#include <arm_neon.h>
#endif

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif

/// The position of the lowest set bit of `bits`, which is not 0.
inline int LowestBit(uint32_t bits) {
#if defined(_MSC_VER) && !defined(__clang__)
  unsigned long index;
  _BitScanForward(&index, bits);
  return static_cast<int>(index);
#else
  return __builtin_ctz(bits);
#endif
}

/// The position of the highest set bit of `bits`, which is not 0.
inline int HighestBit(uint32_t bits) {
#if defined(_MSC_VER) && !defined(__clang__)
  unsigned long index;
  _BitScanReverse(&index, bits);
  return static_cast<int>(index);
#else
  return 31 - __builtin_clz(bits);
#endif
}

/// Sixteen bytes, compared at once; Mask() gives one bit per byte.
#if defined(KESTRANE_SSE2)
using Bytes16 = __m128i;
inline Bytes16 Load16(const char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline Bytes16 Splat(char c) { return _mm_set1_epi8(c); }
inline Bytes16 Equal(Bytes16 a, Bytes16 b) { return _mm_cmpeq_epi8(a, b); }
inline Bytes16 And(Bytes16 a, Bytes16 b) { return _mm_and_si128(a, b); }
inline Bytes16 Or(Bytes16 a, Bytes16 b) { return _mm_or_si128(a, b); }
inline Bytes16 Xor(Bytes16 a, Bytes16 b) { return _mm_xor_si128(a, b); }
inline Bytes16 Min(Bytes16 a, Bytes16 b) { return _mm_min_epu8(a, b); }
inline Bytes16 Max(Bytes16 a, Bytes16 b) { return _mm_max_epu8(a, b); }
inline void Store16(char* p, Bytes16 v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}
inline uint32_t Mask(Bytes16 v) {
  return static_cast<uint32_t>(_mm_movemask_epi8(v));
}
#elif defined(KESTRANE_NEON)
using Bytes16 = uint8x16_t;
inline Bytes16 Load16(const char* p) {
  return vld1q_u8(reinterpret_cast<const uint8_t*>(p));
}
inline Bytes16 Splat(char c) { return vdupq_n_u8(static_cast<uint8_t>(c)); }
inline Bytes16 Equal(Bytes16 a, Bytes16 b) { return vceqq_u8(a, b); }
inline Bytes16 And(Bytes16 a, Bytes16 b) { return vandq_u8(a, b); }
inline Bytes16 Or(Bytes16 a, Bytes16 b) { return vorrq_u8(a, b); }
inline Bytes16 Xor(Bytes16 a, Bytes16 b) { return veorq_u8(a, b); }
inline Bytes16 Min(Bytes16 a, Bytes16 b) { return vminq_u8(a, b); }
inline Bytes16 Max(Bytes16 a, Bytes16 b) { return vmaxq_u8(a, b); }
inline void Store16(char* p, Bytes16 v) {
  vst1q_u8(reinterpret_cast<uint8_t*>(p), v);
}
inline uint32_t Mask(Bytes16 v) {
  static const uint8_t kBits[16] = {1, 2, 4, 8, 16, 32, 64, 128,
                                    1, 2, 4, 8, 16, 32, 64, 128};
  const uint8x16_t bits = vandq_u8(v, vld1q_u8(kBits));
  return static_cast<uint32_t>(vaddv_u8(vget_low_u8(bits))) |
         static_cast<uint32_t>(vaddv_u8(vget_high_u8(bits))) << 8;
}
#else
struct Bytes16 {
  unsigned char b[16];
};
// Each byte of `a` and `b` through `f`.
template <typename F>
Bytes16 EachByte(Bytes16 a, Bytes16 b, F f) {
  for (int i = 0; i < 16; ++i)
    a.b[i] = static_cast<unsigned char>(f(a.b[i], b.b[i]));
  return a;
}
inline Bytes16 Load16(const char* p) {
  Bytes16 v;
  memcpy(v.b, p, 16);
  return v;
}
inline void Store16(char* p, Bytes16 v) { memcpy(p, v.b, 16); }
inline Bytes16 Splat(char c) {
  Bytes16 v;
  memset(v.b, static_cast<unsigned char>(c), 16);
  return v;
}
inline Bytes16 Equal(Bytes16 a, Bytes16 b) {
  return EachByte(a, b, [](int x, int y) { return x == y ? 0xFF : 0; });
}
inline Bytes16 And(Bytes16 a, Bytes16 b) {
  return EachByte(a, b, [](int x, int y) { return x & y; });
}
inline Bytes16 Or(Bytes16 a, Bytes16 b) {
  return EachByte(a, b, [](int x, int y) { return x | y; });
}
inline Bytes16 Xor(Bytes16 a, Bytes16 b) {
  return EachByte(a, b, [](int x, int y) { return x ^ y; });
}
inline Bytes16 Min(Bytes16 a, Bytes16 b) {
  return EachByte(a, b, [](int x, int y) { return x < y ? x : y; });
}
inline Bytes16 Max(Bytes16 a, Bytes16 b) {
  return EachByte(a, b, [](int x, int y) { return x > y ? x : y; });
}
inline uint32_t Mask(Bytes16 v) {
  uint32_t mask = 0;
  for (int i = 0; i < 16; ++i)
    mask |= static_cast<uint32_t>(v.b[i] >> 7) << i;
  return mask;
}
#endif

/// Bytes16 with bit 5 set in every byte, so that a letter compares equal to
/// its lower case (and a few other bytes to other ones, which callers check).
inline Bytes16 FoldCase(Bytes16 v) { return Or(v, Splat(0x20)); }

/// Bytes16 with 0xFF where a byte lies in [low, high], unsigned.
inline Bytes16 InRange(Bytes16 v, char low, char high) {
  return Equal(Max(v, Splat(low)), Min(v, Splat(high)));
}

/// The first position in [0, n) of `p` that holds `a` or `b`, or n. Sixteen
/// bytes at a time; the last sixteen overlap what was looked at already.
inline size_t FindEither(const char* p, size_t n, char a, char b) {
  if (n < 16) {
    for (size_t i = 0; i < n; ++i)
      if (p[i] == a || p[i] == b)
        return i;
    return n;
  }
  const Bytes16 ka = Splat(a);
  const Bytes16 kb = Splat(b);
  for (size_t i = 0;; i += 16) {
    const size_t at = i + 16 <= n ? i : n - 16;
    const Bytes16 v = Load16(p + at);
    if (const uint32_t found = Mask(Or(Equal(v, ka), Equal(v, kb))))
      return at + static_cast<size_t>(LowestBit(found));
    if (at + 16 == n)
      return n;
  }
}

/// The first position in [0, n) of `p` that holds `c`, or n.
inline size_t Find(const char* p, size_t n, char c) { return FindEither(p, n, c, c); }

/// The last position in [0, n) of `p` that holds `c`, or n.
inline size_t FindLast(const char* p, size_t n, char c) {
  if (n < 16) {
    for (size_t i = n; i > 0; --i)
      if (p[i - 1] == c)
        return i - 1;
    return n;
  }
  const Bytes16 k = Splat(c);
  for (size_t end = n;; end -= 16) {
    const size_t at = end >= 16 ? end - 16 : 0;
    if (const uint32_t found = Mask(Equal(Load16(p + at), k)))
      return at + static_cast<size_t>(HighestBit(found));
    if (at == 0)
      return n;
  }
}

/// How many of the `n` bytes at `p` are `c`: for line numbers, which are
/// counted only where a text needs them.
inline uint64_t Count(const char* p, size_t n, char c) {
  const Bytes16 k = Splat(c);
  uint64_t count = 0;
  size_t i = 0;
  for (; i + 16 <= n; i += 16)
    for (uint32_t m = Mask(Equal(Load16(p + i), k)); m; m &= m - 1)
      ++count;
  for (; i < n; ++i)
    count += p[i] == c;
  return count;
}

#endif  // KESTRANE_SCAN_BYTE_MASKS_H_
