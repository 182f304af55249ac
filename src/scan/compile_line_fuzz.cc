// Fuzz target: the matcher against the compile-line expression itself, run
// by the standard library's engine, and the matcher of long lines, taken in
// pieces, against the matcher. Any difference in the match or in the
// captured path is a crash.

#include <algorithm>
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
  std::string_view sourceFile = "untouched";
  const bool actual = MatchCompileLine(line, &sourceFile);
  if (expected != actual)
    abort();
  if (expected ? sourceFile != match[1].str() : sourceFile != "untouched")
    abort();
  // A line too long to hold is matched in pieces, as a log's line: one CR
  // at its end belongs to the line end.
  if (line.find('\n') == std::string::npos) {
    std::string logLine = line;
    if (!logLine.empty() && logLine.back() == '\r')
      logLine.pop_back();
    std::string_view whole;
    const bool wanted = MatchCompileLine(logLine, &whole);
    const size_t piece = 1 + size % 23;
    LineMatch inPieces;
    for (size_t at = 0; at < line.size(); at += piece)
      inPieces.Take(line.data() + at, std::min(piece, line.size() - at));
    uint64_t begin = 0;
    uint64_t end = 0;
    if (inPieces.End(&begin, &end) != wanted ||
        (wanted && std::string_view(line).substr(begin, end - begin + 2) != whole))
      abort();
  }
  return 0;
}
