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
  const size_t n = entry.size();
  size_t start = 0;  // of the component being read
  for (size_t i = 0; i <= n; ++i) {
    if (i < n && entry[i] != '/') {
      if (!kPortable[static_cast<unsigned char>(entry[i])])
        return false;
      continue;
    }
    const size_t length = i - start;
    if (length == 0 || entry[start] == '-' ||
        (length == 2 && entry[start] == '.' && entry[start + 1] == '.'))
      return false;
    start = i + 1;
  }
  return true;
}
