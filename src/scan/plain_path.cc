#include "scan/plain_path.h"

#include <algorithm>
#include <cstdint>

#include "scan/byte_masks.h"

namespace {

bool IsPortable(unsigned char c, bool allowBlanks) {
  const unsigned char lower = c | 0x20;
  return (lower >= 'a' && lower <= 'z') || (c >= '0' && c <= '9') ||
         c == '.' || c == '_' || c == '-' || c == '/' ||
         (allowBlanks && c == ' ');
}

// Bit i set where byte i of the sixteen at `p` is portable, a separator, or
// an allowed blank (`blank`; else a separator again): every byte of every
// entry is looked at, so sixteen at a time.
uint32_t PortableMask(Bytes16 v, Bytes16 blank) {
  const Bytes16 letters = InRange(FoldCase(v), 'a', 'z');
  const Bytes16 digits = InRange(v, '0', '9');
  // '-' '.' '/' stand side by side.
  const Bytes16 marks = InRange(v, '-', '/');
  const Bytes16 others = Or(Equal(v, Splat('_')), Equal(v, blank));
  return Mask(Or(Or(letters, digits), Or(marks, others)));
}

// Whether the component at `begin` of the `n` bytes at `p` is a name that
// Windows opens as a device (CON, PRN, AUX, NUL, COM0-9, LPT0-9), whatever
// follows a dot and whatever blanks end the name.
bool IsDeviceName(const char* p, size_t begin, size_t n) {
  if (n - begin < 3)
    return false;
  const auto lower = [p, begin](size_t i) {
    return static_cast<uint32_t>(static_cast<unsigned char>(p[begin + i] | 0x20));
  };
  const auto name = [](const char (&three)[4]) {
    return static_cast<uint32_t>(three[0]) << 16 | static_cast<uint32_t>(three[1]) << 8 |
           static_cast<uint32_t>(three[2]);
  };
  const uint32_t three = lower(0) << 16 | lower(1) << 8 | lower(2);
  size_t end = begin + 3;
  if (three == name("com") || three == name("lpt")) {
    if (end == n || p[end] < '0' || p[end] > '9')
      return false;
    ++end;
  } else if (three != name("con") && three != name("prn") && three != name("aux") &&
             three != name("nul")) {
    return false;
  }
  while (end < n && p[end] == ' ')
    ++end;
  return end == n || p[end] == '.' || p[end] == '/';
}

// Whether the component that begins at `begin` may begin so: not empty, not
// an option, not "..", not a device. Its length is checked where it ends.
bool BeginsPlainComponent(const char* p, size_t begin, size_t n) {
  if (begin == n)
    return false;
  const char c = p[begin];
  if (c == '/' || c == '-')
    return false;
  if (c == '.')
    return !(n - begin >= 2 && p[begin + 1] == '.' &&
             (n - begin == 2 || p[begin + 2] == '/'));
  const char lower = static_cast<char>(c | 0x20);
  if (lower != 'a' && lower != 'c' && lower != 'l' && lower != 'n' && lower != 'p')
    return true;
  return !IsDeviceName(p, begin, n);
}

// A blank between two other characters of a component only, and no
// component longer than the longest: for the entries that may break those
// rules, which few do.
bool BlanksAndLengthsArePlain(const char* p, size_t n) {
  size_t begin = 0;
  for (size_t i = 0; i <= n; ++i) {
    if (i == n || p[i] == '/') {
      if (i - begin > kLongestPlainComponent)
        return false;
      begin = i + 1;
    } else if (p[i] == ' ' &&
               (i == begin || i + 1 == n || p[i - 1] == ' ' || p[i + 1] == ' ' ||
                p[i + 1] == '/')) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool IsPlainRelativePath(std::string_view entry, bool allowBlanks) {
  const size_t n = entry.size();
  const char* const p = entry.data();
  if (n == 0 || n > kLongestPlainPath || p[n - 1] == '/')
    return false;
  if (n < 16) {
    for (size_t i = 0; i < n; ++i) {
      if (!IsPortable(static_cast<unsigned char>(p[i]), allowBlanks) ||
          ((i == 0 || p[i - 1] == '/') && !BeginsPlainComponent(p, i, n)))
        return false;
    }
    return !allowBlanks || BlanksAndLengthsArePlain(p, n);
  }
  // Sixteen bytes at a time, the last sixteen overlapping what was looked at
  // already: of them only the bytes not looked at count. A component begins
  // after a separator; where one begins with a byte that may begin a device
  // name or "..", or could be empty or an option, it is looked at closely.
  const Bytes16 blank = Splat(allowBlanks ? ' ' : '/');
  bool separatorBefore = true;  // the entry begins a component
  for (size_t i = 0; i < n; i += 16) {
    const size_t at = std::min(i, n - 16);
    const uint32_t fresh = 0xFFFFu << (i - at) & 0xFFFF;
    const Bytes16 v = Load16(p + at);
    if (~PortableMask(v, blank) & fresh)
      return false;
    const uint32_t separators = Mask(Equal(v, Splat('/')));
    const uint32_t begins =
        (separators << 1 | (at == i && separatorBefore ? 1 : 0)) & fresh;
    const Bytes16 lower = FoldCase(v);
    const uint32_t doubtful = Mask(
        Or(Or(Or(Equal(v, Splat('/')), Equal(v, Splat('-'))), Equal(v, Splat('.'))),
           Or(Or(Equal(lower, Splat('a')), Equal(lower, Splat('c'))),
              Or(Or(Equal(lower, Splat('l')), Equal(lower, Splat('n'))),
                 Equal(lower, Splat('p'))))));
    for (uint32_t m = begins & doubtful; m; m &= m - 1)
      if (!BeginsPlainComponent(p, at + static_cast<size_t>(LowestBit(m)), n))
        return false;
    separatorBefore = separators >> 15;
  }
  return (!allowBlanks && n <= kLongestPlainComponent) ||
         BlanksAndLengthsArePlain(p, n);
}
