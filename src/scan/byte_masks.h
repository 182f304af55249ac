// Finding bytes many at a time: 64 bytes of text classified at once into bit
// masks, one bit per byte, with the vector instructions every processor of
// its kind has (SSE2 on x86-64, NEON on AArch64; plain code elsewhere). The
// scan walks the set bits instead of calling into the C runtime per line.
#ifndef KESTRANE_SCAN_BYTE_MASKS_H_
#define KESTRANE_SCAN_BYTE_MASKS_H_

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__) || defined(_M_X64) || \
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
inline int LowestBit(uint64_t bits) {
#if defined(_MSC_VER) && !defined(__clang__)
  unsigned long index;
  _BitScanForward64(&index, bits);
  return static_cast<int>(index);
#else
  return __builtin_ctzll(bits);
#endif
}

/// The position of the highest set bit of `bits`, which is not 0.
inline int HighestBit(uint64_t bits) {
#if defined(_MSC_VER) && !defined(__clang__)
  unsigned long index;
  _BitScanReverse64(&index, bits);
  return static_cast<int>(index);
#else
  return 63 - __builtin_clzll(bits);
#endif
}

/// Bits [0, n) set, for n from 0 to 64.
inline uint64_t LowBits(int n) {
  return n >= 64 ? ~uint64_t{0} : (uint64_t{1} << n) - 1;
}

/// 64 bytes of text, loaded once and compared as often as needed.
class Bytes64 {
 public:
  /// Reads the 64 bytes at `p`, which must all be readable.
  explicit Bytes64(const char* p) {
#if defined(KESTRANE_SSE2)
    for (int i = 0; i < 4; ++i)
      v_[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
#elif defined(KESTRANE_NEON)
    for (int i = 0; i < 4; ++i)
      v_[i] = vld1q_u8(reinterpret_cast<const uint8_t*>(p + 16 * i));
#else
    for (int i = 0; i < 64; ++i)
      v_[i] = static_cast<unsigned char>(p[i]);
#endif
  }

  /// Bit i set where byte i is `c`.
  uint64_t Equal(char c) const {
#if defined(KESTRANE_SSE2)
    const __m128i k = _mm_set1_epi8(c);
    uint64_t mask = 0;
    for (int i = 0; i < 4; ++i)
      mask |= static_cast<uint64_t>(static_cast<uint32_t>(
                  _mm_movemask_epi8(_mm_cmpeq_epi8(v_[i], k))))
              << (16 * i);
    return mask;
#else
    return EqualEither(c, c);
#endif
  }

  /// Bit i set where byte i is `a` or `b`.
  uint64_t EqualEither(char a, char b) const {
#if defined(KESTRANE_SSE2)
    const __m128i ka = _mm_set1_epi8(a);
    const __m128i kb = _mm_set1_epi8(b);
    uint64_t mask = 0;
    for (int i = 0; i < 4; ++i)
      mask |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(
                  _mm_or_si128(_mm_cmpeq_epi8(v_[i], ka),
                               _mm_cmpeq_epi8(v_[i], kb)))))
              << (16 * i);
    return mask;
#elif defined(KESTRANE_NEON)
    const uint8x16_t ka = vdupq_n_u8(static_cast<uint8_t>(a));
    const uint8x16_t kb = vdupq_n_u8(static_cast<uint8_t>(b));
    // One bit per byte from the four comparisons, by pairwise sums.
    static const uint8_t kBits[16] = {1, 2, 4, 8, 16, 32, 64, 128,
                                      1, 2, 4, 8, 16, 32, 64, 128};
    const uint8x16_t bits = vld1q_u8(kBits);
    uint8x16_t t[4];
    for (int i = 0; i < 4; ++i)
      t[i] = vandq_u8(vorrq_u8(vceqq_u8(v_[i], ka), vceqq_u8(v_[i], kb)), bits);
    uint8x16_t sum = vpaddq_u8(vpaddq_u8(t[0], t[1]), vpaddq_u8(t[2], t[3]));
    sum = vpaddq_u8(sum, sum);
    return vgetq_lane_u64(vreinterpretq_u64_u8(sum), 0);
#else
    uint64_t mask = 0;
    for (int i = 0; i < 64; ++i)
      mask |= static_cast<uint64_t>(v_[i] == static_cast<unsigned char>(a) ||
                                    v_[i] == static_cast<unsigned char>(b))
              << i;
    return mask;
#endif
  }

 private:
#if defined(KESTRANE_SSE2)
  __m128i v_[4];
#elif defined(KESTRANE_NEON)
  uint8x16_t v_[4];
#else
  unsigned char v_[64];
#endif
};

/// Copies `n` bytes from `from` to `to`, sixteen at a time: up to 15 bytes
/// more are read after them and written after them.
inline void CopyLoosely(char* to, const char* from, size_t n) {
  for (size_t i = 0; i < n; i += 16) {
#if defined(KESTRANE_SSE2)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i)));
#elif defined(KESTRANE_NEON)
    vst1q_u8(reinterpret_cast<uint8_t*>(to + i),
             vld1q_u8(reinterpret_cast<const uint8_t*>(from + i)));
#else
    for (size_t k = 0; k < 16; ++k)
      to[i + k] = from[i + k];
#endif
  }
}

/// The first position in [0, n) of `p` that holds `a` or `b`, or n. Reads
/// nothing outside [p, p + n).
inline size_t FindEither(const char* p, size_t n, char a, char b) {
  size_t i = 0;
  for (; i + 64 <= n; i += 64) {
    const uint64_t found = Bytes64(p + i).EqualEither(a, b);
    if (found)
      return i + static_cast<size_t>(LowestBit(found));
  }
#if defined(KESTRANE_SSE2)
  // Sixteen at a time; the last sixteen overlap what was looked at already.
  if (n >= 16) {
    const __m128i ka = _mm_set1_epi8(a);
    const __m128i kb = _mm_set1_epi8(b);
    for (;; i += 16) {
      if (i + 16 > n)
        i = n - 16;
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      const int found = _mm_movemask_epi8(
          _mm_or_si128(_mm_cmpeq_epi8(v, ka), _mm_cmpeq_epi8(v, kb)));
      if (found)
        return i + static_cast<size_t>(LowestBit(static_cast<uint32_t>(found)));
      if (i + 16 >= n)
        return n;
    }
  }
#elif defined(KESTRANE_NEON)
  if (n >= 16) {
    const uint8x16_t ka = vdupq_n_u8(static_cast<uint8_t>(a));
    const uint8x16_t kb = vdupq_n_u8(static_cast<uint8_t>(b));
    for (;; i += 16) {
      if (i + 16 > n)
        i = n - 16;
      const uint8x16_t v = vld1q_u8(reinterpret_cast<const uint8_t*>(p + i));
      const uint8x16_t equal = vorrq_u8(vceqq_u8(v, ka), vceqq_u8(v, kb));
      // Four bits per byte.
      const uint64_t found = vget_lane_u64(
          vreinterpret_u64_u8(vshrn_n_u16(vreinterpretq_u16_u8(equal), 4)), 0);
      if (found)
        return i + static_cast<size_t>(LowestBit(found) / 4);
      if (i + 16 >= n)
        return n;
    }
  }
#endif
  for (; i < n; ++i)
    if (p[i] == a || p[i] == b)
      return i;
  return n;
}

/// The first position in [0, n) of `p` that holds `c`, or n.
inline size_t Find(const char* p, size_t n, char c) {
  size_t i = 0;
  for (; i + 64 <= n; i += 64)
    if (const uint64_t found = Bytes64(p + i).Equal(c))
      return i + static_cast<size_t>(LowestBit(found));
  return i + FindEither(p + i, n - i, c, c);
}

/// The last position in [0, n) of `p` that holds `c`, or n.
inline size_t FindLast(const char* p, size_t n, char c) {
  size_t i = n;
  for (; i >= 64; i -= 64)
    if (const uint64_t found = Bytes64(p + i - 64).Equal(c))
      return i - 64 + static_cast<size_t>(HighestBit(found));
  while (i > 0)
    if (p[--i] == c)
      return i;
  return n;
}

#endif  // KESTRANE_SCAN_BYTE_MASKS_H_
