#include "scan/line_scan.h"

#include "scan/byte_masks.h"
#include "scan/plain_path.h"
#include "scan/scan.h"

void CopyWithSlashes(const char* in, size_t length, char* out, bool padded) {
  size_t i = 0;
#if defined(KESTRANE_SSE2)
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i slash = _mm_set1_epi8('/');
  for (; padded ? i < length : i + 16 <= length; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    const __m128i is = _mm_cmpeq_epi8(v, backslash);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                     _mm_or_si128(_mm_andnot_si128(is, v), _mm_and_si128(is, slash)));
  }
#elif defined(KESTRANE_NEON)
  const uint8x16_t backslash = vdupq_n_u8('\\');
  const uint8x16_t slash = vdupq_n_u8('/');
  for (; padded ? i < length : i + 16 <= length; i += 16) {
    const uint8x16_t v = vld1q_u8(reinterpret_cast<const uint8_t*>(in + i));
    vst1q_u8(reinterpret_cast<uint8_t*>(out + i),
             vbslq_u8(vceqq_u8(v, backslash), slash, v));
  }
#else
  (void)padded;
#endif
  for (; i < length; ++i)
    out[i] = in[i] == '\\' ? '/' : in[i];
}

bool SlashesInPlace(char* text, size_t size) {
  size_t i = 0;
#if defined(KESTRANE_SSE2)
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i slash = _mm_set1_epi8('/');
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i stop = _mm_set1_epi8(kEndOfText);
  __m128i breaks = _mm_setzero_si128();
  for (; i + 16 <= size; i += 16) {
    auto* const at = reinterpret_cast<__m128i*>(text + i);
    const __m128i v = _mm_loadu_si128(at);
    breaks = _mm_or_si128(breaks, _mm_or_si128(_mm_cmpeq_epi8(v, cr),
                                                 _mm_or_si128(_mm_cmpeq_epi8(v, lf),
                                                              _mm_cmpeq_epi8(v, stop))));
    const __m128i is = _mm_cmpeq_epi8(v, backslash);
    _mm_storeu_si128(at, _mm_or_si128(_mm_andnot_si128(is, v), _mm_and_si128(is, slash)));
  }
  if (_mm_movemask_epi8(breaks) != 0)
    return false;
#endif
  for (; i < size; ++i) {
    if (text[i] == '\r' || text[i] == '\n' || text[i] == kEndOfText)
      return false;
    if (text[i] == '\\')
      text[i] = '/';
  }
  return true;
}

size_t WriteEntry(std::string_view sourceFile, char* out, bool padded) {
  // A captured path ends in a dot and one character; the general rule is the
  // last dot.
  const size_t size = sourceFile.size();
  size_t length = size >= 2 && sourceFile[size - 2] == '.' ? size - 2
                                                            : sourceFile.rfind('.');
  if (length == std::string_view::npos)
    length = size;
  CopyWithSlashes(sourceFile.data(), length, out, padded);
  out[length] = '\n';
  return length + 1;
}

LineScan ScanLines(const char* text, size_t size, bool strict, char* out) {
  LineScan scan;
  size_t lineStart = 0;
  for (size_t block = 0; block < size && !scan.ended; block += 64) {
    const Bytes64 bytes(text + block);
    uint64_t found = bytes.EqualEither('\n', kEndOfText);
    if (size - block < 64)
      found &= LowBits(static_cast<int>(size - block));
    if (!found)
      continue;  // within a line, as most of a long line's blocks are
    uint64_t ends = found & bytes.Equal('\n');
    if (const uint64_t stops = found & ~ends) {
      // A Ctrl-Z ends the log: the line that holds it has no line end.
      ends &= LowBits(LowestBit(stops));
      scan.ended = true;
    }
    for (; ends; ends &= ends - 1) {
      const size_t lineEnd = block + static_cast<size_t>(LowestBit(ends));
      const size_t begin = lineStart;
      lineStart = lineEnd + 1;
      ++scan.lines;
      // One CR before the line feed belongs to the line end.
      const size_t end =
          lineEnd > begin && text[lineEnd - 1] == '\r' ? lineEnd - 1 : lineEnd;
      std::string_view sourceFile;
      if (!MatchPaddedCompileLine(std::string_view(text + begin, end - begin),
                                  &sourceFile))
        continue;
      char* const entry = out + scan.written;
      const size_t length = WriteEntry(sourceFile, entry, true);
      if (strict && !IsPlainRelativePath(std::string_view(entry, length - 1))) {
        scan.refusedLine = scan.lines;
        scan.refusedEntry = std::string_view(entry, length - 1);
        return scan;
      }
      scan.written += length;
      ++scan.entries;
    }
  }
  return scan;
}
