// Build-log scanning: recognising the lines of a supplier's build log that
// announce a compiled source file, and collecting those files in log order.
#ifndef KESTRANE_SCAN_SCAN_H_
#define KESTRANE_SCAN_SCAN_H_

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "scan/log_file.h"
#include "scan/memory_block.h"

/// The regular expression that defines a compile line, in ECMAScript syntax.
/// A whole line must match it; capture group 1 is the source path as the log
/// spells it. MatchCompileLine gives exactly this expression's results without
/// running a regex engine; the text stays the definition and the tests' oracle.
std::string_view CompileLinePatternText();

/// True when the whole of `line` is a compile line; `sourceFile` then holds the
/// captured source path. On false, `sourceFile` is left as it was.
/// Linear in the line's length, no recursion, no allocation beyond the copy.
bool MatchCompileLine(std::string_view line, std::string* sourceFile);

/// As above, but `sourceFile` views the path inside `line` instead of copying.
bool MatchCompileLine(std::string_view line, std::string_view* sourceFile);

/// As above, for a line after which 128 bytes may be read (and are): faster
/// on the short lines that logs are made of.
bool MatchPaddedCompileLine(std::string_view line,
                            std::string_view* sourceFile);

/// Takes the text of a list as the scan finds it, so that a list need not be
/// held whole in memory: the list file being written, for one.
class ListSink {
 public:
  /// Takes the next `size` bytes of the text. A sink whose writing failed
  /// keeps that failure to itself and drops what follows.
  virtual void Write(const char* data, size_t size) = 0;

 protected:
  ~ListSink() = default;
};

/// The first entry of a log that a strict scan refused.
struct RefusedEntry {
  uint64_t line = 0;  // its line in the log, counted from 1; 0: none refused
  std::string entry;  // as it would have been listed
};

/// The compiled source files, in the order of their lines in the log.
///
/// Kept as the text of the list file itself: every entry followed by a line
/// feed. An entry never holds a line feed (lines end there), so the text is
/// its own index, and a log with millions of compile lines costs a few large
/// blocks instead of one allocation per entry. The text lies in pieces that
/// are never moved once written, so the list grows without copying itself.
/// Duplicates and empty entries stay, in their places.
struct SourceFileList {
  /// Bytes [begin, end) of `block` are the next stretch of the text.
  struct Piece {
    MemoryBlock block;
    size_t begin = 0;
    size_t end = 0;
  };
  std::vector<Piece> pieces;
  uint64_t count = 0;
  /// When set, the scan hands the text to the sink as it goes, and the list
  /// keeps only what it has not handed over yet.
  ListSink* sink = nullptr;
  /// When set, every entry must be a plain relative path (plain_path.h): the
  /// scan stops at the first that is not and tells it in `refused`.
  bool strict = false;
  RefusedEntry refused;

  void Clear();
  /// Room for `length` more bytes of text, to be filled with one entry and
  /// its line feed and then taken with Extend(length); null when memory ran
  /// out.
  char* Reserve(size_t length);
  void Extend(size_t length) {
    pieces.back().end += length;
    ++count;
  }
  /// Appends `entry` and its line feed; false when memory ran out.
  bool Append(std::string_view entry);
  /// Appends `size` bytes of text that hold `entries` entries, each with its
  /// line feed: handed to the sink at once where there is one.
  bool AppendEntries(const char* text, size_t size, uint64_t entries);
  /// Makes bytes [begin, end) of `block`, one entry and its line feed, the
  /// next stretch of the text, without copying them.
  void Adopt(MemoryBlock block, size_t begin, size_t end);
  /// Hands the text held to the sink, keeping a block of ordinary size for
  /// what comes next.
  void Drain();

  /// The size of the text held, in bytes.
  uint64_t size() const;
  /// The whole text, and the entries one by one: for small lists and tests.
  std::string Text() const;
  std::vector<std::string> Entries() const;
};

/// Read size used by ScanBuildLog unless a caller asks for another.
constexpr size_t kScanBlockSize = size_t{1} << 20;

/// Reads the build log from `input` to its end and fills `list` with one entry
/// per compile line: the captured path with everything from its last dot cut
/// off and backslashes turned into slashes.
///
/// A line ends at a line feed; one carriage return right before it belongs to
/// the line end. A last line without a line feed is not examined. A Ctrl-Z
/// byte (0x1A) ends the input, as text-mode reading does on Windows, so that
/// one log gives one list on every platform. A log that begins with a UTF-16
/// byte-order mark is read as UTF-16 and scanned as its UTF-8 text; any other
/// log is bytes, as they stand. With a sink, the list is handed to it after
/// every block and at the end. Returns false when reading failed before the
/// end of the input, memory ran out, or a strict scan refused an entry
/// (`list->refused` then tells which); `list` holds what was found until
/// then.
/// `workers` more threads help with the scan (see build_log.cc).
bool ScanBuildLog(std::istream& input, SourceFileList* list,
                  size_t blockSize = kScanBlockSize, int workers = 0);

/// As above, for the log opened by the driver; closes it before returning.
/// A log that could not be read whole (see LogFile) gives false as well.
bool ScanBuildLog(LogFile& input, SourceFileList* list);

#endif  // KESTRANE_SCAN_SCAN_H_
