#include "scan/plain_path.h"

#include <array>
#include <cstdint>

#include "scan/byte_masks.h"

namespace {

bool IsPortable(unsigned char c, bool allowBlanks) {
  const unsigned char lower = c | 0x20;
  return (lower >= 'a' && lower <= 'z') || (c >= '-' && c <= '9') || c == '_' ||
         (allowBlanks && c == ' ');
}

// Bit i set where byte i of `v` is portable, a separator, or an allowed
// blank (`blank`; else a separator again): every byte of every entry is
// looked at, so sixteen at a time.
uint32_t PortableMask(Bytes16 v, Bytes16 blank) {
  const Bytes16 letters = InRange(FoldCase(v), 'a', 'z');
  // '-' '.' '/' and the digits stand side by side.
  const Bytes16 marks = InRange(v, '-', '9');
  const Bytes16 others = Or(Equal(v, Splat('_')), Equal(v, blank));
  return Mask(Or(Or(letters, marks), others));
}

// The bytes that may begin a component that is not plain: none (the end, or
// a separator), an option, "..", or a device's name.
constexpr std::array<bool, 256> Doubtful() {
  std::array<bool, 256> table{};
  for (const char c : {'/', '-', '.', 'a', 'c', 'l', 'n', 'p', 'A', 'C', 'L', 'N', 'P'})
    table[static_cast<unsigned char>(c)] = true;
  return table;
}
constexpr std::array<bool, 256> kDoubtful = Doubtful();

// Whether the component at `begin` of the `n` bytes at `p` is a name that
// Windows opens as a device (CON, PRN, AUX, NUL, COM0-9, LPT0-9), whatever
// follows a dot and whatever blanks end the name.
bool IsDeviceName(const char* p, size_t begin, size_t n) {
  if (n - begin < 3)
    return false;
  char three[3];
  for (size_t i = 0; i < 3; ++i)
    three[i] = static_cast<char>(p[begin + i] | 0x20);
  const std::string_view name(three, 3);
  size_t end = begin + 3;
  if (name == "com" || name == "lpt") {
    if (end == n || p[end] < '0' || p[end] > '9')
      return false;
    ++end;
  } else if (name != "con" && name != "prn" && name != "aux" && name != "nul") {
    return false;
  }
  // Blanks may follow the name, and a dot anything.
  while (end < n && p[end] == ' ')
    ++end;
  return end == n || p[end] == '.' || p[end] == '/';
}

// Whether the component that begins at `begin` may begin so: not empty, not
// an option, not "..", not a device. Its length is checked where it ends.
// Asked only where its first byte is doubtful, or there is none.
bool BeginsPlainComponent(const char* p, size_t begin, size_t n) {
  if (begin == n)
    return false;
  const char c = p[begin];
  if (c == '/' || c == '-')
    return false;
  if (c == '.')
    return !(n - begin >= 2 && p[begin + 1] == '.' &&
             (n - begin == 2 || p[begin + 2] == '/'));
  return !IsDeviceName(p, begin, n);
}

bool IsDoubtful(const char* p, size_t begin, size_t n) {
  return begin == n || kDoubtful[static_cast<unsigned char>(p[begin])];
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
  if (n == 0 || n > kLongestPlainPath || p[n - 1] == '/' ||
      (IsDoubtful(p, 0, n) && !BeginsPlainComponent(p, 0, n)))
    return false;
  if (n < 16) {
    for (size_t i = 0; i < n; ++i) {
      if (!IsPortable(static_cast<unsigned char>(p[i]), allowBlanks) ||
          (p[i] == '/' && IsDoubtful(p, i + 1, n) && !BeginsPlainComponent(p, i + 1, n)))
        return false;
    }
    return !allowBlanks || BlanksAndLengthsArePlain(p, n);
  }
  // Sixteen bytes at a time, the last sixteen overlapping what was looked at
  // already: of them only the bytes not looked at count. A component begins
  // after each separator.
  const Bytes16 blank = Splat(allowBlanks ? ' ' : '/');
  const auto look = [&](size_t at, uint32_t fresh) {
    const Bytes16 v = Load16(p + at);
    if (~PortableMask(v, blank) & fresh)
      return false;
    for (uint32_t m = Mask(Equal(v, Splat('/'))) & fresh; m; m &= m - 1) {
      const size_t begin = at + static_cast<size_t>(LowestBit(m)) + 1;
      if (IsDoubtful(p, begin, n) && !BeginsPlainComponent(p, begin, n))
        return false;
    }
    return true;
  };
  size_t i = 0;
  for (; i + 16 <= n; i += 16)
    if (!look(i, 0xFFFFu))
      return false;
  if (i < n && !look(n - 16, 0xFFFFu << (16 - (n - i)) & 0xFFFFu))
    return false;
  return (!allowBlanks && n <= kLongestPlainComponent) ||
         BlanksAndLengthsArePlain(p, n);
}
