// Splitting a Windows command line. Portable, so that its rules are tested
// on every build machine; only the Windows build uses it.

#include "cli/typed_argument.h"

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

}  // namespace

std::vector<std::wstring> SplitCommandLine(std::wstring_view line) {
  std::vector<std::wstring> arguments(1);
  size_t i = 0;

  // The program path is a file name: no escapes, and a quote only delimits.
  if (!line.empty() && line[0] == L'"') {
    for (i = 1; i < line.size() && line[i] != L'"'; ++i)
      arguments[0] += line[i];
    if (i < line.size())
      ++i;
  } else {
    for (; i < line.size() && !IsBlank(line[i]); ++i)
      arguments[0] += line[i];
  }

  bool quoted = false;
  for (;;) {
    while (i < line.size() && IsBlank(line[i]))
      ++i;
    if (i == line.size())
      return arguments;
    std::wstring argument;
    for (;;) {
      size_t backslashes = 0;
      for (; i < line.size() && line[i] == L'\\'; ++i)
        ++backslashes;
      bool literal = true;
      if (i < line.size() && line[i] == L'"') {
        if (backslashes % 2 == 0) {
          if (quoted && i + 1 < line.size() && line[i + 1] == L'"')
            ++i;  // the second quote is the literal one
          else
            literal = false;
          quoted = !quoted;
        }
        backslashes /= 2;
      }
      argument.append(backslashes, L'\\');
      if (i == line.size() || (!quoted && IsBlank(line[i])))
        break;
      if (literal)
        argument += line[i];
      ++i;
    }
    arguments.push_back(argument);
  }
}
