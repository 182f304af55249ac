// Fuzz target: the block-wise scan against a plain reading of the line rules,
// with blocks small enough that lines and line ends straddle them. The first
// byte of the input chooses the block size, whether the scan is strict,
// whether a second thread helps and whether the list goes to a sink. The log
// is scanned as a stream and as a file.
// UTF-16 logs are decoded whole here, and a stretch at a time by the scan.

#include <cstddef>
#include <cstdint>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "scan/file_scan.h"
#include "scan/scan.h"

namespace {

void AppendUtf8(uint32_t c, std::string* text) {
  if (c < 0x80) {
    *text += static_cast<char>(c);
    return;
  }
  const int length = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
  *text += static_cast<char>((0xF00 >> length) | c >> (6 * (length - 1)));
  for (int k = length - 2; k >= 0; --k)
    *text += static_cast<char>(0x80 | (c >> (6 * k) & 0x3F));
}

// A log with a UTF-16 byte-order mark is its text in UTF-8: pairs of
// surrogates joined, a lone one or a lone last byte U+FFFD.
std::string Text(const std::string& log) {
  const auto byte = [&](size_t i) -> uint32_t {
    return static_cast<unsigned char>(log[i]);
  };
  if (log.size() < 2 || !((byte(0) == 0xFF && byte(1) == 0xFE) ||
                          (byte(0) == 0xFE && byte(1) == 0xFF)))
    return log;
  const bool big = byte(0) == 0xFE;
  std::vector<uint32_t> units;
  for (size_t i = 2; i + 1 < log.size(); i += 2)
    units.push_back(big ? byte(i) << 8 | byte(i + 1) : byte(i + 1) << 8 | byte(i));
  std::string text;
  for (size_t i = 0; i < units.size(); ++i) {
    const uint32_t u = units[i];
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < units.size() &&
        units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
      AppendUtf8(0x10000 + ((u - 0xD800) << 10) + (units[++i] - 0xDC00), &text);
    } else {
      AppendUtf8(u >= 0xD800 && u < 0xE000 ? 0xFFFD : u, &text);
    }
  }
  if (log.size() % 2 == 1)
    AppendUtf8(0xFFFD, &text);
  return text;
}

// What --strict lets through, read from its definition: components split at
// '/', each non-empty, not "..", not an option, of portable characters.
bool Plain(const std::string& entry) {
  std::vector<std::string> components(1);
  for (const char c : entry) {
    if (c == '/')
      components.emplace_back();
    else
      components.back() += c;
  }
  for (const std::string& component : components) {
    if (component.empty() || component == ".." || component[0] == '-')
      return false;
    for (const char c : component)
      if (!(isalnum(static_cast<unsigned char>(c)) && static_cast<unsigned char>(c) < 0x80) &&
          c != '.' && c != '_' && c != '-')
        return false;
  }
  return true;
}

// The rules, one at a time: the input ends at Ctrl-Z; lines end at a line
// feed, one CR before it belongs to the line end; a last line without a line
// feed does not count; an entry is the path up to its last dot, with slashes
// for backslashes.
// A strict scan stops at the first entry that is not Plain(): its line
// number goes to `*refusedLine`.
std::vector<std::string> ReferenceScan(const std::string& input, bool strict,
                                       uint64_t* refusedLine) {
  std::string log = Text(input);
  const size_t stop = log.find('\x1a');
  if (stop != std::string::npos)
    log.resize(stop);
  std::vector<std::string> entries;
  size_t begin = 0;
  uint64_t number = 0;
  for (size_t end; (end = log.find('\n', begin)) != std::string::npos;
       begin = end + 1) {
    ++number;
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
    if (strict && !Plain(sourceFile)) {
      *refusedLine = number;
      return entries;
    }
    entries.push_back(sourceFile);
  }
  return entries;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t begin = 0, end; (end = text.find('\n', begin)) != std::string::npos;
       begin = end + 1)
    lines.emplace_back(text, begin, end - begin);
  return lines;
}

// Takes the list as a list file does, bytes taken back and all.
struct StringSink : ListSink {
  std::string text;
  void Write(const char* data, size_t size) override { text.append(data, size); }
  void Unwrite(uint64_t size) override {
    if (size > text.size() || text.find('\n', text.size() - size) != std::string::npos)
      abort();  // only what has no line feed is taken back
    text.resize(text.size() - size);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0)
    return -1;
  const size_t blockSize = 1 + data[0] % 32;
  const bool strict = data[0] & 0x80;
  const int workers = data[0] & 0x40 ? 1 : 0;
  const std::string log(reinterpret_cast<const char*>(data) + 1, size - 1);
  uint64_t refusedLine = 0;
  const std::vector<std::string> expected =
      ReferenceScan(log, strict, &refusedLine);
  // As a stream, and, unless it is UTF-16, as a file read block by block.
  // The file goes when the fuzzer ends.
  static const struct LogPath {
    std::string name =
        "/tmp/kestrane_build_log_fuzz_" + std::to_string(getpid()) + ".log";
    ~LogPath() { std::remove(name.c_str()); }
  } logPath;
  const std::string& path = logPath.name;
  const bool asFile = Text(log) == log;
  if (asFile)
    std::ofstream(path, std::ios::binary | std::ios::trunc) << log;
  for (int way = 0; way < (asFile ? 2 : 1); ++way) {
    SourceFileList list;
    list.strict = strict;
    StringSink sink;
    if (data[0] & 0x20)
      list.sink = &sink;
    bool complete;
    if (way == 0) {
      std::istringstream input(log);
      complete = ScanBuildLog(input, &list, blockSize, workers);
    } else {
      LogFile file;
      complete = file.Open(path) && ScanLogFile(file, &list, blockSize, workers);
    }
    if (complete != (refusedLine == 0) || list.refused.line != refusedLine)
      abort();
    // With a sink, all of the list was handed over: whole entries, and of a
    // refused one perhaps a beginning, which a list file never keeps.
    if (list.sink && list.size() != 0)
      abort();
    const std::vector<std::string> entries =
        list.sink ? Lines(sink.text) : list.Entries();
    if (entries.size() != list.count || entries != expected)
      abort();
  }
  return 0;
}
