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

/// MatchCompileLine for a line too long to hold, read in pieces: only a few
/// positions of it are kept, so a line of any length costs no memory.
class LongLineMatch {
 public:
  /// The next `size` bytes of the line, none of them its line feed. The
  /// line's 16 bytes before them (or as many as it has) are readable before
  /// `data`.
  void Take(const char* data, size_t size);
  /// The line ended after what was taken, perhaps with the CR of its CR LF.
  /// True when it is a compile line: bytes [*begin, *end) of the line are
  /// then its captured path up to the path's last dot.
  bool End(uint64_t* begin, uint64_t* end) const;

  /// The bytes taken so far.
  uint64_t size() const { return taken_; }
  /// How many places of the word were found whose steps follow them, and
  /// where the entry of the last of them would begin.
  uint64_t heads() const { return heads_; }
  uint64_t lastHeadEntry() const { return latest_.steps + kStepsLength; }

 private:
  static constexpr uint64_t kNone = ~uint64_t{0};
  static constexpr uint64_t kStepsLength = 6;
  // A place of the word whose white space and steps fit: where the steps
  // begin, and the first CR at or after there.
  struct Head {
    uint64_t steps = kNone;
    uint64_t carriageReturn = kNone;
  };
  struct NonSpace {
    uint64_t at;
    unsigned char c;
  };
  // Adds a head if the six bytes at `s`, place `steps` of the line, are steps.
  void CheckSteps(const char* s, uint64_t steps);

  uint64_t taken_ = 0;
  uint64_t heads_ = 0;
  uint64_t wordsFrom_ = 0;   // places of the word before this were looked at
  uint64_t firstCR_ = kNone;
  // A word whose white space runs on past what was taken: it is looked at
  // again from `pendingAt_`.
  uint64_t pendingWord_ = kNone;
  uint64_t pendingAt_ = 0;
  Head latest_;    // the rightmost head found,
  Head previous_;  // and the one before: the only one that may still count
                   // if the rightmost lies past the dot
  NonSpace last_[5] = {};  // the last non-space bytes, oldest first,
  int lastCount_ = 0;      // the last `lastCount_` of them in use
  unsigned char lastByte_ = 0;
};

/// Takes the text of a list as the scan finds it, so that a list need not be
/// held whole in memory: the list file being written, for one.
class ListSink {
 public:
  /// Takes the next `size` bytes of the text. A sink whose writing failed
  /// keeps that failure to itself and drops what follows.
  virtual void Write(const char* data, size_t size) = 0;
  /// Drops the last `size` bytes it took, none of them a line feed: the
  /// scan may hand over an entry before it knows that the line has one.
  virtual void Unwrite(uint64_t size) = 0;

 protected:
  ~ListSink() = default;
};

/// The first entry of a log that a strict scan refused.
struct RefusedEntry {
  uint64_t line = 0;  // its line in the log, counted from 1; 0: none refused
  std::string entry;  // as it would have been listed, or its beginning
  uint64_t length = 0;  // its length, where `entry` holds only its beginning
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
