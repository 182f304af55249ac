// What the scan's tests and fuzz targets share: plain readings of each rule
// (oracles), written from the rules and not from the code they check; the
// logs that aim at the edges of the scan's buffers and rules; a fresh folder
// for each test's files.
#ifndef KESTRANE_SCAN_SCAN_TESTING_H_
#define KESTRANE_SCAN_SCAN_TESTING_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "scan/scan.h"

/// The whole text that `text` holds.
std::string TextOf(const LineText& text);

/// A log with a UTF-16 byte-order mark as its UTF-8 text, pairs of
/// surrogates joined, a lone one or a lone last byte U+FFFD; any other log
/// as it stands.
std::string Utf8Text(const std::string& log);

/// --strict's rules as a table, one test per rule, on the entry's components.
bool IsPlainByRules(const std::string& entry, bool allowBlanks);

/// ShownText, byte by byte.
std::string ShownByModel(std::string_view text, uint64_t length);

/// Why `line`, which holds the word in some letter case and is no compile
/// line, gives no entry: the expression's pieces, run by the standard
/// library's engine as prefixes from the rightmost word on, the first that
/// fails, and how. For lines under 2 KiB, where the engine's recursion
/// stays within the stack.
LeftOut ReasonByPieces(const std::string& line);

/// What a scan gives, read line by line from the rules; the reasons of lines
/// under 2 KiB by ReasonByPieces, of longer ones by ExplainLeftOut.
struct ScanOutcome {
  std::string list;  // the list's text
  ScanResult::Outcome outcome = ScanResult::kComplete;
  uint64_t refusedLine = 0;
  std::string refusedEntry;
  uint64_t refusedLength = 0;
  std::string leftOut;  // the text of the lines left out
};
ScanOutcome ScanByRules(const std::string& log, const ScanOptions& options);

/// A log that aims at an edge, and its name.
struct EdgeLog {
  std::string name;
  std::string log;
  bool explainedOnly = false;  // aims at what is explained alone
};
/// Logs of lines around the sizes of blocks and half blocks, the sixteen
/// bytes of a vector, the longest plain entry and component, the longest
/// text shown and the longest line explained; a Ctrl-Z, a CR and each byte
/// at each place of a compile line; the word across two pieces of a long
/// line. Those over a MiB only where `large`.
std::vector<EdgeLog> EdgeLogs(bool large);
/// `text` as UTF-16 with its byte-order mark: each byte a code unit, with
/// the code units at the edges of UTF-8's lengths and of the surrogates
/// among them.
std::string AsUtf16(const std::string& text, bool bigEndian);

/// A log in memory, read in place, that can be read again as a file can, or
/// cannot, as a pipe cannot; reads give at most `most` bytes each, as a pipe
/// may.
class TextSource : public ByteSource {
 public:
  explicit TextSource(std::string_view text, bool canReadAgain = true, size_t most = ~size_t{0})
      : text_(text), canReadAgain_(canReadAgain), most_(most) {}
  int64_t Read(char* data, size_t size) override;
  bool CanReadAgain() const override { return canReadAgain_; }
  bool ReadAt(uint64_t at, char* data, size_t size) override;

 private:
  std::string_view text_;
  bool canReadAgain_;
  size_t most_;
  size_t position_ = 0;
};

/// A folder of its own, made fresh and removed with what it holds, so that
/// tests run side by side, from two checkouts too, never share a file.
class TestFolder {
 public:
  TestFolder();
  ~TestFolder();
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;
  std::string Path(const std::string& name) const;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

#endif  // KESTRANE_SCAN_SCAN_TESTING_H_
