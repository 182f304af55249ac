// Fuzz target: the block-wise scan against a plain reading of the line rules,
// with blocks small enough that lines and line ends straddle them. The first
// byte of the input chooses the block size.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "scan/scan.h"

namespace {

// The rules, one at a time: the input ends at Ctrl-Z; lines end at a line
// feed, one CR before it belongs to the line end; a last line without a line
// feed does not count; an entry is the path up to its last dot, with slashes
// for backslashes.
std::vector<std::string> ReferenceScan(std::string log) {
  const size_t stop = log.find('\x1a');
  if (stop != std::string::npos)
    log.resize(stop);
  std::vector<std::string> entries;
  size_t begin = 0;
  for (size_t end; (end = log.find('\n', begin)) != std::string::npos;
       begin = end + 1) {
    std::string line = log.substr(begin, end - begin);
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    std::string sourceFile;
    if (!MatchCompileLine(line, &sourceFile))
      continue;
    const size_t dot = sourceFile.rfind('.');
    if (dot != std::string::npos)
      sourceFile.resize(dot);
    for (char& c : sourceFile)
      if (c == '\\')
        c = '/';
    entries.push_back(sourceFile);
  }
  return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0)
    return -1;
  const size_t blockSize = 1 + data[0] % 64;
  const std::string log(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::istringstream input(log);
  SourceFileList list;
  if (!ScanBuildLog(input, &list, blockSize))
    abort();
  const std::vector<std::string> entries = list.Entries();
  if (entries.size() != list.count || entries != ReferenceScan(log))
    abort();
  return 0;
}
