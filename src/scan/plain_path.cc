#include "scan/plain_path.h"

#include <array>

namespace {

// The POSIX portable file-name character set.
constexpr std::array<bool, 256> PortableCharacters() {
  std::array<bool, 256> table{};
  for (int c = 'A'; c <= 'Z'; ++c)
    table[static_cast<size_t>(c)] = table[static_cast<size_t>(c - 'A' + 'a')] = true;
  for (int c = '0'; c <= '9'; ++c)
    table[static_cast<size_t>(c)] = true;
  table['.'] = table['_'] = table['-'] = true;
  return table;
}

constexpr std::array<bool, 256> kPortable = PortableCharacters();

}  // namespace

bool IsPlainRelativePath(std::string_view entry) {
  PlainPathCheck check;
  return check.Take(entry) && check.End();
}

bool PlainPathCheck::Take(std::string_view piece) {
  for (const char c : piece) {
    if (c == '/') {
      if (!ComponentIsPlain())
        return false;
      length_ = 0;
      continue;
    }
    if (!kPortable[static_cast<unsigned char>(c)])
      return false;
    if (length_ == 0)
      first_ = c;
    else if (length_ == 1)
      second_ = c;
    ++length_;
  }
  return true;
}
