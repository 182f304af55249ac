// Fuzz target: the matchers against the compile-line expression itself, run
// by the standard library's engine. Any difference in the match or in the
// captured path is a crash.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string>

#include "scan/scan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Longer lines overflow the stack of the recursive reference engine.
  if (size >= 2048)
    return -1;
  static const std::regex pattern(std::string(CompileLinePatternText()),
                                  std::regex::ECMAScript);
  const std::string line(reinterpret_cast<const char*>(data), size);
  std::smatch match;
  const bool expected = std::regex_match(line, match, pattern);
  std::string sourceFile = "untouched";
  const bool actual = MatchCompileLine(line, &sourceFile);
  if (expected != actual)
    abort();
  if (expected ? sourceFile != match[1].str() : sourceFile != "untouched")
    abort();
  // The scan's own matcher, on the line in a padded buffer.
  std::string padded = line + std::string(128, 'C');
  std::string_view path;
  if (MatchPaddedCompileLine(std::string_view(padded.data(), size), &path) !=
          expected ||
      (expected && path != match[1].str()))
    abort();
  return 0;
}
