// Build-log scanning: recognising the lines of a supplier's build log that
// announce a compiled source file, and collecting those files in log order.
//
// Words of the scan, each with one meaning:
//   line       the log's bytes up to a line feed; one CR before the line feed
//              belongs to the line end, not to the line.
//   word       "Compiling", the word a compile line holds.
//   steps      the six bytes after the word's white space: two punctuation
//              characters and a separator, twice ("../../").
//   head       a place of the word followed by white space and steps: where a
//              compile line's path may begin.
//   path       what the expression captures: from after the steps to the
//              extension, as the log spells it.
//   tail       what ends a compile line: white space and three punctuation
//              characters.
//   entry      the path cut at its last dot, backslashes turned into slashes:
//              one line of the list.
//   block      what one read brings in; the scan looks at a block's lines.
//              (A MemoryBlock is memory, whatever it holds.)
//   carry      the unfinished last line of a block, moved to the front of the
//              next.
//   piece      what a block holds of a line that does not fit half a block,
//              or of the last line, which has no line feed: such a line is
//              taken in pieces by LineMatch, which keeps positions, not text.
//              (LineText's pieces are the blocks of memory that hold its
//              text.)
//   long line  a line of more than kLongLineLength bytes (512 KiB): when it
//              gives no entry, it is told as long, not looked at whole.
//   offset     where a byte stands in the log (in a UTF-16 log's text);
//   position   where it stands in its line.
//   kept       the bytes of a line taken in pieces, held from its first head
//              on, where the log cannot be read again to get its entry.
//   drain      hand the text held to its sink.
//   Ctrl-Z     byte 0x1A, the end of text: the log ends there.
#ifndef KESTRANE_SCAN_SCAN_H_
#define KESTRANE_SCAN_SCAN_H_

#include <cstddef>
#include <cstdint>
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
/// captured path, a part of `line`. On false, `sourceFile` is left as it was.
/// Linear in the line's length, no recursion; the scan calls it on every line
/// that holds the word.
bool MatchCompileLine(std::string_view line, std::string_view* sourceFile);

/// The length of the word, "Compiling", and of the steps after its white
/// space: two punctuation characters and a separator, twice ("../../").
constexpr size_t kWordLength = 9;
constexpr size_t kStepsLength = 6;

/// The first place in [0, n) where the word stands whole, or where the byte
/// `stop` stands, whichever comes first; n when there is neither. A line
/// without the word cannot match, so the scan looks for it, and for the
/// Ctrl-Z that ends a log, before anything else. With `anyCase`, the word in
/// any letter case, for lines to be explained.
size_t FindWord(const char* s, size_t n, char stop, bool anyCase = false);

/// Why a line that holds the word, in some letter case, gives no entry.
/// Each kind of miss has a text of its own (LeftOutText), which the build
/// routes print.
enum class LeftOut {
  kLetterCase,
  kBreakBeforeWord,
  kNoSpaceAfterWord,
  kNoSteps,
  kOneStep,
  kBreakAtEnd,
  kTextAfterTail,
  kNoTail,
  kMorePunctuation,
  kNoSpaceBeforeTail,
  kNoPath,
  kBreakInPath,
  kNoDot,
  kNoExtension,
  kLongExtension,
  kOtherExtension,
  kNoLineFeed,      // the last line, which has no line feed
  kAfterEndOfText,  // a line after a Ctrl-Z
  kLongLine,        // a line too long to be looked at whole
};

/// The first part of a compile line's shape that `line`, which is no compile
/// line, misses, for the rightmost place of the word: read from left to
/// right, but for the tail, which bounds the path. Off the scan's hot path:
/// only lines that hold the word and did not match are explained.
LeftOut ExplainLeftOut(std::string_view line);
/// The reason's text, in the words of the README's rules.
const char* LeftOutText(LeftOut reason);

/// `text`, of `length` bytes in all, as a terminal may safely show it, on one
/// line: quoted, a backslash as \\ (Windows paths stay readable), each byte
/// outside printable ASCII, and the quote, as \xHH, cut after kShownLength
/// bytes with the length told. A log's text could otherwise move the cursor,
/// rewrite what the user reads or set the window title.
constexpr size_t kShownLength = 200;
std::string ShownText(std::string_view text, uint64_t length);

/// The matcher of MatchCompileLine, for a line taken in pieces as the scan
/// reads it, one block's part at a time (a line held whole is taken in one):
/// only a few positions of it are kept, so a line of any length costs no memory.
class LineMatch {
 public:
  /// Bytes before a piece that Take() reads again: a word that straddles two
  /// pieces is found from the second.
  static constexpr size_t kLookBack = 16;

  /// The next `size` bytes of the line, none of them its line feed. The
  /// line's kLookBack bytes before them (or as many as it has) are readable
  /// before `data`.
  void Take(const char* data, size_t size);
  /// The line ended after what was taken, perhaps with the CR of its CR LF.
  /// True when it is a compile line: bytes [*begin, *end) of the line are
  /// then its path up to the path's last dot.
  bool End(uint64_t* begin, uint64_t* end) const;

  /// The bytes taken so far.
  uint64_t size() const { return taken_; }
  /// Those of the line, should it end there with a line feed: less the CR of
  /// its CR LF.
  uint64_t length() const { return taken_ - (lastByte_ == '\r' ? 1 : 0); }
  /// Where the path of the line's first head would begin; kNone until a
  /// head was found. Every path the line may have begins there or later,
  /// and the piece in which the head was found holds that position.
  uint64_t firstPath() const { return firstPath_; }
  static constexpr uint64_t kNone = ~uint64_t{0};

  /// A byte that is not white space, and its position.
  struct NonSpace {
    uint64_t at;
    unsigned char c;
  };

 private:
  friend bool MatchCompileLine(std::string_view line, std::string_view* sourceFile);
  // The heads in the next `size` bytes of the line, at `data`.
  void LookForHeads(const char* data, size_t size);
  // Adds a head if the six bytes at `s`, position `steps`, are steps.
  void CheckSteps(const char* s, uint64_t steps);
  // Where the path of the head that counts begins, if its dot is at `dot`;
  // kNone where no head fits.
  uint64_t PathBefore(uint64_t dot) const;

  uint64_t taken_ = 0;
  uint64_t wordsFrom_ = 0;       // words before this position were looked at
  uint64_t firstBreak_ = kNone;  // the first CR or LF
  // Where the white space of a word runs on past what was taken: it is
  // looked at again from there.
  uint64_t pendingAt_ = kNone;
  uint64_t firstPath_ = kNone;
  // The steps of the rightmost head, and of the one before: the only one
  // that may still count if the rightmost lies past the dot.
  uint64_t latest_ = kNone;
  uint64_t previous_ = kNone;
  uint64_t pathBreak_ = kNone;  // the first break at or after latest_
  NonSpace last_[5];   // the last non-space bytes, newest first,
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

 protected:
  ~ListSink() = default;
};

/// Text made of lines, each followed by a line feed, as the file it becomes
/// holds it: the list, and the lines that the scan leaves out. A line never
/// holds a line feed, so the text is its own index, and millions of lines
/// cost a few large blocks instead of one allocation each.
struct LineText {
  /// Bytes [0, used) of `block` are the next stretch of the text.
  struct Piece {
    MemoryBlock block;
    size_t used = 0;
  };
  std::vector<Piece> pieces;
  uint64_t count = 0;  // of lines
  /// When set, the text goes to the sink, a block at a time, and only what
  /// was not handed over yet is held.
  ListSink* sink = nullptr;

  void Clear();
  /// Room for `length` bytes at the end of the text, to be taken with
  /// Extend(); null when memory ran out.
  char* Room(size_t length) {
    if (!pieces.empty()) {
      Piece& last = pieces.back();
      if (last.block.capacity() - last.used >= length)
        return last.block.data() + last.used;
    }
    return NewPiece(length);
  }
  void Extend(size_t length) { pieces.back().used += length; }
  /// Appends `size` bytes of text: a line, or a piece of one; false when
  /// memory ran out.
  bool AppendText(const char* text, size_t size);
  /// Hands the text held to the sink, keeping a block for what comes next.
  void Drain();

  /// The size of the text held, in bytes.
  uint64_t size() const;

 private:
  char* NewPiece(size_t length);
};

/// The compiled source files, in the order of their lines in the log: one
/// entry a line. Duplicates and empty entries stay, in their places.
using SourceFileList = LineText;

/// A line longer than this, without its line end, is a long line: when it
/// gives no entry, that is its reason (LeftOutText says "512 KiB"), and it is
/// not looked at whole.
constexpr size_t kLongLineLength = size_t{512} << 10;

/// Read size of ScanBuildLog unless a caller asks for another.
constexpr size_t kScanBlockSize = size_t{1} << 20;

/// A check of each entry that the scan makes beyond --strict's rule: the
/// listed files against the source tree, for one.
class EntryCheck {
 public:
  /// Null when `entry` may be listed; else the end of the refusal's message
  /// ("is not a file in the source tree"). `entry` is the whole entry where
  /// `length` is at most kLongestPlainPath, else only its beginning: an entry
  /// that long names no file, and must be refused.
  virtual const char* Refusal(std::string_view entry, uint64_t length) = 0;

 protected:
  ~EntryCheck() = default;
};

/// The most lines left out that a scan tells one by one.
constexpr uint64_t kMostToldLines = 100000;

/// How a log is to be scanned.
struct ScanOptions {
  /// Every entry must be a plain relative path (plain_path.h): the scan stops
  /// at the first that is not.
  bool strict = false;
  /// With `strict`: a blank may stand inside a component.
  bool allowBlanks = false;
  /// When set, every entry that `strict` lets through is checked here too:
  /// the scan stops at the first it refuses.
  EntryCheck* check = nullptr;
  /// When set, every line that holds the word in any letter case but gives
  /// no entry is told here: its number, a tab, why (LeftOutText), a tab, and
  /// the line as ShownText() shows it; the first kMostToldLines of them, and
  /// then one line "N more lines left out", so that what is told stays a
  /// small part of any log.
  LineText* leftOut = nullptr;
  size_t blockSize = kScanBlockSize;
};

/// How a scan ended.
struct ScanResult {
  enum Outcome {
    kComplete,    // the log was read to its end
    kReadFailed,  // reading failed before the end, or memory ran out
    kRefused,     // a strict scan or the entry check refused an entry
  };
  Outcome outcome = kComplete;
  // The entry refused: why (the end of the message), its line in the log,
  // counted from 1, and the entry as it would have been listed, or its
  // beginning, and its length.
  const char* refusal = nullptr;
  uint64_t refusedLine = 0;
  std::string refusedEntry;
  uint64_t refusedLength = 0;
};

/// Reads the build log from `log` to its end and fills `list` with one entry
/// per compile line: the captured path with everything from its last dot cut
/// off and backslashes turned into slashes.
///
/// A line ends at a line feed; one carriage return right before it belongs to
/// the line end. A last line without a line feed is not examined. A Ctrl-Z
/// byte (0x1A) ends the input, as text-mode reading does on Windows, so that
/// one log gives one list on every platform. A log that begins with a UTF-16
/// byte-order mark is read as UTF-16 and scanned as its UTF-8 text; any other
/// log is bytes, as they stand. With a sink, the list is handed to it after
/// every block and at the end. `list` holds what was found until the scan
/// ended.
ScanResult ScanBuildLog(ByteSource& log, SourceFileList* list,
                        const ScanOptions& options = ScanOptions());

/// As above, for the log opened by the driver; closes it before returning.
/// A log that could not be read whole (see LogFile) counts as a failed read.
ScanResult ScanBuildLog(LogFile& input, SourceFileList* list,
                        const ScanOptions& options = ScanOptions());

#endif  // KESTRANE_SCAN_SCAN_H_
