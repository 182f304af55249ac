// Fuzz target: the block-wise scan against a line-by-line reading of the
// rules (ScanByRules), with blocks small enough that lines and line ends
// straddle them and most lines are taken in pieces. The first byte of the
// input chooses the block size, whether the scan is strict (and allows
// blanks), explains the lines left out and hands the list to a sink; with
// its bit 0x40, the rest of the input is put into one of the edge logs
// (scan_testing.h), chosen by the second byte. The log is scanned from
// memory that can be read again, as a pipe, and as a file.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include "scan/scan.h"
#include "scan/scan_testing.h"

namespace {

// Takes the list as a list file does.
struct StringSink : ListSink {
  std::string text;
  void Write(const char* data, size_t size) override { text.append(data, size); }
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
  if (size < 2)
    return -1;
  static const std::vector<EdgeLog> edges = EdgeLogs(false);
  LineText told;
  ScanOptions options;
  options.blockSize = 1 + data[0] % 32;
  options.strict = data[0] & 0x80;
  options.allowBlanks = (data[0] & 0x90) == 0x90;
  options.leftOut = data[0] & 0x08 ? &told : nullptr;
  std::string log(reinterpret_cast<const char*>(data) + 2, size - 2);
  if (data[0] & 0x40) {
    const std::string& edge = edges[data[1] % edges.size()].log;
    // Not the largest: a run stays fast.
    if (edge.size() > (size_t{16} << 10))
      return -1;
    log = edge.substr(0, data[1] * edge.size() / 256) + log +
          edge.substr(data[1] * edge.size() / 256);
  }
  const ScanOutcome expected = ScanByRules(log, options);
  {
    std::ofstream file(MemoryFile(), std::ios::binary | std::ios::trunc);
    file << log;
  }
  for (int way = 0; way < 3; ++way) {
    told.Clear();
    SourceFileList list;
    StringSink sink;
    if (data[0] & 0x20)
      list.sink = &sink;
    ScanResult result;
    if (way < 2) {
      TextSource source(log, way == 0, way == 0 ? ~size_t{0} : 1 + data[1] % 7);
      result = ScanBuildLog(source, &list, options);
    } else {
      LogFile file;
      if (!file.Open(MemoryFile()))
        abort();
      result = ScanBuildLog(file, &list, options);
    }
    // With a sink, all of the list was handed over; a refused entry never
    // reaches the list.
    if (list.sink && list.size() != 0)
      abort();
    if (result.outcome != expected.outcome || result.refusedLine != expected.refusedLine ||
        result.refusedLength != expected.refusedLength ||
        ShownText(result.refusedEntry, result.refusedLength) !=
            ShownByModel(expected.refusedEntry, expected.refusedLength) ||
        (list.sink ? sink.text : TextOf(list)) != expected.list ||
        (options.leftOut && TextOf(told) != expected.leftOut))
      abort();
  }
  return 0;
}
