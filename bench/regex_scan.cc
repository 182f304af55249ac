// The straightforward way to get the list: std::getline and std::regex with
// the compile-line expression. A yardstick for the benchmarks; it recurses
// once per character and so only survives logs with short lines.
//
//   kestrane_regex_scan LOG LIST

#include <fstream>
#include <iostream>
#include <regex>
#include <string>

#include "scan/scan.h"

int main(int argc, char* argv[]) {
  if (argc != 3) {
    std::cerr << "usage: kestrane_regex_scan LOG LIST\n";
    return 2;
  }
  std::ifstream log(argv[1], std::ios::binary);
  std::ofstream list(argv[2], std::ios::binary);
  if (!log || !list) {
    std::cerr << "kestrane_regex_scan: cannot open the files\n";
    return 1;
  }
  const std::regex pattern(std::string(CompileLinePatternText()),
                           std::regex::ECMAScript);
  std::smatch match;
  std::string line;
  // A line counts only when a line feed ends it.
  while (std::getline(log, line) && !log.eof()) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (!std::regex_match(line, match, pattern))
      continue;
    std::string entry = match[1].str();
    entry.erase(entry.rfind('.'));
    for (char& c : entry)
      if (c == '\\')
        c = '/';
    list << entry << '\n';
  }
  return list.good() ? 0 : 1;
}
