// Fuzz target: the block-wise scan against a plain reading of the line rules,
// with blocks small enough that lines and line ends straddle them and most
// lines are long ones. The first byte of the input chooses the block size,
// whether the scan is strict and whether the list goes to a sink. The log is
// scanned from a stream that can be read again, from one that cannot (a
// pipe), and as a file. UTF-16 logs are decoded whole here, and a stretch at
// a time by the scan.

#include <cstddef>
#include <cstdint>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

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

// Whether a component names a Windows device: CON, PRN, AUX, NUL, COM0-9 or
// LPT0-9 in any letter case, before a dot or the end.
bool Device(std::string component) {
  component = component.substr(0, component.find('.'));
  for (char& c : component)
    c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  for (const char* name : {"con", "prn", "aux", "nul"})
    if (component == name)
      return true;
  return component.size() == 4 && (component.compare(0, 3, "com") == 0 ||
                                   component.compare(0, 3, "lpt") == 0) &&
         isdigit(static_cast<unsigned char>(component[3]));
}

// What --strict lets through, read from its definition: components split at
// '/', each non-empty, not "..", not an option, not a device, of portable
// characters, no longer than 255 bytes; no more than 4096 in all.
bool Plain(const std::string& entry) {
  if (entry.size() > 4096)
    return false;
  std::vector<std::string> components(1);
  for (const char c : entry) {
    if (c == '/')
      components.emplace_back();
    else
      components.back() += c;
  }
  for (const std::string& component : components) {
    if (component.empty() || component == ".." || component[0] == '-' ||
        component.size() > 255 || Device(component))
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

// Takes the list as a list file does.
struct StringSink : ListSink {
  std::string text;
  void Write(const char* data, size_t size) override { text.append(data, size); }
};

// A stream that cannot be read again, as a pipe cannot.
class PipeBuffer : public std::stringbuf {
 public:
  explicit PipeBuffer(const std::string& text) : std::stringbuf(text) {}

 protected:
  pos_type seekoff(off_type, std::ios_base::seekdir, std::ios_base::openmode) override {
    return pos_type(off_type(-1));
  }
  pos_type seekpos(pos_type, std::ios_base::openmode) override {
    return pos_type(off_type(-1));
  }
};

// A file in memory that LogFile opens by name: nothing is left on a disk,
// whatever ends the fuzzer.
const std::string& MemoryFile() {
  static const std::string name = [] {
    const int file = memfd_create("kestrane_build_log_fuzz", 0);
    if (file < 0)
      abort();
    return "/proc/self/fd/" + std::to_string(file);
  }();
  return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0)
    return -1;
  ScanOptions options;
  options.blockSize = 1 + data[0] % 32;
  options.strict = data[0] & 0x80;
  const std::string log(reinterpret_cast<const char*>(data) + 1, size - 1);
  uint64_t refusedLine = 0;
  const std::vector<std::string> expected =
      ReferenceScan(log, options.strict, &refusedLine);
  {
    std::ofstream file(MemoryFile(), std::ios::binary | std::ios::trunc);
    file << log;
  }
  for (int way = 0; way < 3; ++way) {
    SourceFileList list;
    StringSink sink;
    if (data[0] & 0x20)
      list.sink = &sink;
    ScanResult result;
    if (way == 0) {
      std::istringstream input(log);
      result = ScanBuildLog(input, &list, options);
    } else if (way == 1) {
      PipeBuffer pipe(log);
      std::istream input(&pipe);
      result = ScanBuildLog(input, &list, options);
    } else {
      LogFile file;
      if (!file.Open(MemoryFile()))
        abort();
      result = ScanBuildLog(file, &list, options);
    }
    const ScanResult::Outcome outcome =
        refusedLine == 0 ? ScanResult::kComplete : ScanResult::kRefused;
    if (result.outcome != outcome || result.refusedLine != refusedLine)
      abort();
    // With a sink, all of the list was handed over; a refused entry never
    // reaches the list.
    if (list.sink && list.size() != 0)
      abort();
    const std::vector<std::string> entries =
        Lines(list.sink ? sink.text : list.Text());
    if (entries.size() != list.count || entries != expected)
      abort();
  }
  return 0;
}
