// Build-log scanning: recognising the lines of a supplier's build log that
// announce a compiled source file, and collecting those files in log order.
#ifndef KESTRANE_SCAN_SCAN_H_
#define KESTRANE_SCAN_SCAN_H_

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

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

/// The compiled source files, in the order of their lines in the log.
///
/// Kept as the text of the list file itself: every entry followed by a line
/// feed. An entry never holds a line feed (lines end there), so the text is
/// its own index, and a log with millions of compile lines costs one growing
/// buffer instead of one allocation per entry. Duplicates and empty entries
/// stay, in their places.
struct SourceFileList {
  std::string text;
  uint64_t count = 0;

  void Clear() {
    text.clear();
    count = 0;
  }
  void Append(std::string_view entry) {
    text.append(entry);
    text.push_back('\n');
    ++count;
  }
  /// The entries one by one; meant for small lists and tests.
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
/// one log gives one list on every platform. Returns false when reading failed
/// before the end of the input; `list` then holds what was found until then.
bool ScanBuildLog(std::istream& input, SourceFileList* list,
                  size_t blockSize = kScanBlockSize);

/// As above, for the input file opened by the driver; closes it before
/// returning.
bool ScanBuildLog(std::ifstream& input, SourceFileList* list);

#endif  // KESTRANE_SCAN_SCAN_H_
