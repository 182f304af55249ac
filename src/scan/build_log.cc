// Reading a build log and collecting its compiled source files: one road for
// every log, a file, a pipe or a device, and a UTF-16 log decoded as it is
// read.
//
// The log is read in blocks into one buffer. In a block the scan looks for
// the word first and finds a line's bounds only around it: a line without
// the word cannot match, so most bytes are looked at once, sixteen at a time.
// The unfinished last line of a block is carried to the front of the next. A
// line longer than half a block is taken in pieces by LineMatch instead,
// which keeps positions, not text; when the line has ended, its entry is
// read again from the log, or, where the log cannot be read again (a pipe, a
// UTF-16 log), it was kept from the line's first head on.

#include "scan/scan.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "scan/byte_masks.h"
#include "scan/plain_path.h"
#include "scan/utf16.h"

namespace {

/// Ctrl-Z: ends the log, as text-mode reading does on Windows.
constexpr char kEndOfText = '\x1a';
/// CopyWithSlashes reads and writes up to this many bytes past what it
/// copies: every buffer it works on has that much room after its text.
constexpr size_t kCopyOverrun = 15;
/// The entry of a line taken in pieces is read again, and goes to the list,
/// in stretches of this size.
constexpr size_t kEntryStretch = size_t{1} << 20;
/// As much of a refused entry as its message shows, and a little more.
constexpr size_t kShownBeginning = 256;
static_assert(kShownBeginning >= kShownLength, "a refused entry is shown whole or cut");
/// Why --strict refuses an entry.
constexpr char kNotPlain[] = "is not a plain relative path";

// Copies `length` bytes from `in` to `out` (which may be `in`), backslashes
// turned into slashes, sixteen at a time: see kCopyOverrun.
void CopyWithSlashes(const char* in, size_t length, char* out) {
  const Bytes16 backslash = Splat('\\');
  const Bytes16 change = Splat('\\' ^ '/');
  for (size_t i = 0; i < length; i += 16) {
    const Bytes16 v = Load16(in + i);
    Store16(out + i, Xor(v, And(Equal(v, backslash), change)));
  }
}

// Whether the `size` bytes at `data` hold a CR, a line feed or a Ctrl-Z,
// which no line's path does: in one pass, as the path may be long.
bool HoldsBreak(const char* data, size_t size) {
  Bytes16 found = Splat(0);
  size_t i = 0;
  for (; i + 16 <= size; i += 16) {
    const Bytes16 v = Load16(data + i);
    found = Or(found, Or(Or(Equal(v, Splat('\r')), Equal(v, Splat('\n'))),
                         Equal(v, Splat(kEndOfText))));
  }
  for (; i < size; ++i)
    if (data[i] == '\r' || data[i] == '\n' || data[i] == kEndOfText)
      return true;
  return Mask(found) != 0;
}

class LogScan {
 public:
  LogScan(ByteSource& log, SourceFileList* list, const ScanOptions& options)
      : log_(&log), list_(list), leftOut_(options.leftOut), options_(options) {}

  ScanResult Run();

 private:
  bool Read(char* data, size_t size, size_t* got);
  size_t ScanLines(size_t begin, size_t end);
  bool TakeLine(size_t begin, size_t end);
  // Hands the text held to the sinks.
  void Drain();
  // A Ctrl-Z at `at` of the block: whether the scan goes on, to explain.
  bool EndOfText(size_t at);
  // A line taken in pieces, from its first piece to its entry.
  void StartPieces(size_t begin, size_t end);
  void TakePiece(const char* data, size_t size);
  bool EndPieces(bool lineFeed);
  bool AddEntryOfPieces(uint64_t begin, uint64_t length);
  // The number of the line that begins at `begin` of the block, where lines
  // are numbered as the scan goes.
  uint64_t LineNumber(size_t begin);
  // The number of the refused line that begins at offset `offset`.
  uint64_t RefusedLineNumber(uint64_t offset, uint64_t numbered);
  uint64_t OffsetOf(size_t at) const { return readTo_ - (blockEnd_ - at); }
  // Tells the line numbered `number`, which begins at offset `begin` and
  // gives no entry: why, and the line, of `length` bytes in all; where it is
  // a long line, `text` holds only its beginning.
  void Tell(uint64_t number, uint64_t begin, std::string_view text, uint64_t length,
            bool lineFeed);
  // Why the entry, whole or by its beginning, may not be listed; null where
  // it may.
  const char* Refusal(std::string_view entry, uint64_t length) const;
  void Refuse(const char* why, std::string_view beginning, uint64_t length,
              uint64_t line);
  void Fail() { result_.outcome = ScanResult::kReadFailed; }
  bool ok() const { return result_.outcome == ScanResult::kComplete; }
  // The log has ended and nothing after is looked at.
  bool done() const { return ended_ && !leftOut_; }

  ByteSource* log_;
  std::optional<Utf16Source> utf16_;  // where log_ is a UTF-16 log's text
  SourceFileList* const list_;
  LineText* const leftOut_;
  const ScanOptions options_;
  // Lines are numbered as the scan goes where every left-out line is told
  // with its number, or where a refused line's number cannot be counted
  // afterwards by reading the log again (RefusedLineNumber): numbering every
  // log as it goes costs the dense log 15 % more instructions.
  bool numbered_ = false;
  ScanResult result_;

  MemoryBlock buffer_;
  char* text_ = nullptr;  // the block, after LineMatch::kLookBack bytes
  size_t blockEnd_ = 0;   // the end of what it holds
  uint64_t readTo_ = 0;   // offset after what was read
  bool atEnd_ = false;    // the log has no more
  bool ended_ = false;    // a Ctrl-Z ended it, at offset `endAt_`: what
  uint64_t endAt_ = 0;    // follows is only explained

  uint64_t untold_ = 0;     // lines left out past kMostToldLines
  uint64_t lines_ = 0;      // line feeds before text_[numberedTo_]
  size_t numberedTo_ = 0;

  // The line taken in pieces: where it begins in the log, and, where
  // the log cannot be read again, its bytes from its first head's path on.
  // Where lines are explained, its number, its text (up to a long line's
  // length, and its CR) and whether it holds the word.
  bool inPieces_ = false;
  uint64_t piecesStart_ = 0;
  LineMatch match_;
  MemoryBlock kept_;
  MemoryBlock stretch_;  // where the entry is read again, a stretch at a time
  size_t keptSize_ = 0;
  uint64_t piecesNumber_ = 0;
  std::string piecesText_;
  bool piecesWord_ = false;
};

ScanResult LogScan::Run() {
  // A block holds a byte-order mark at least.
  const size_t blockSize = std::max<size_t>(options_.blockSize, 2);
  buffer_ = MemoryBlock(LineMatch::kLookBack + blockSize + kCopyOverrun);
  if (!buffer_.data()) {
    Fail();
    return result_;
  }
  text_ = buffer_.data() + LineMatch::kLookBack;
  size_t held = 0;  // the carry, at the front of the block
  if (!Read(text_, 2, &held))
    return result_;
  // A log that begins with a UTF-16 byte-order mark is read as its text.
  const Utf16Order order = ByteOrderOf(text_, held);
  if (order != Utf16Order::kNone) {
    log_ = &utf16_.emplace(*log_, order);
    held = 0;
    readTo_ = 0;
  }
  numbered_ = leftOut_ || ((options_.strict || options_.check) && !log_->CanReadAgain());
  while (ok() && !done()) {
    // The last bytes of a line taken in pieces go before the block, where
    // LineMatch looks back at them with the next.
    if (inPieces_)
      memmove(text_ - LineMatch::kLookBack, text_ + blockEnd_ - LineMatch::kLookBack,
              LineMatch::kLookBack);
    size_t got = 0;
    if (!Read(text_ + held, blockSize - held, &got))
      break;
    const size_t end = blockEnd_ = held + got;
    size_t from = 0;
    if (inPieces_) {
      size_t lineEnd = FindEither(text_, end, '\n', ended_ ? '\n' : kEndOfText);
      if (lineEnd < end && text_[lineEnd] == kEndOfText && EndOfText(lineEnd))
        lineEnd += Find(text_ + lineEnd, end - lineEnd, '\n');
      TakePiece(text_, lineEnd);
      if (lineEnd == end || text_[lineEnd] == kEndOfText) {
        // A Ctrl-Z, or the end, before the line feed: a last line without
        // one, which does not count.
        if (lineEnd < end || atEnd_) {
          EndPieces(false);
          break;
        }
        continue;
      }
      if (!EndPieces(true))
        break;
      from = numberedTo_ = lineEnd + 1;
    }
    const size_t rest = ScanLines(from, end);
    if (!ok() || done())
      break;
    if (numbered_)
      LineNumber(rest);
    numberedTo_ = 0;
    held = end - rest;
    // What is left at the end is a last line without a line feed: taken in
    // pieces too, to be told as one.
    if (held <= blockSize / 2 && !atEnd_) {
      memmove(text_, text_ + rest, held);
    } else {
      StartPieces(rest, end);
      held = 0;
    }
    Drain();
  }
  if (untold_ > 0 && ok()) {
    const std::string more = std::to_string(untold_) + " more lines left out\n";
    if (!leftOut_->AppendText(more.data(), more.size()))
      Fail();
    ++leftOut_->count;
  }
  Drain();
  return result_;
}

void LogScan::Drain() {
  for (LineText* text : {list_, leftOut_})
    if (text && text->sink)
      text->Drain();
}

// Fills `size` bytes at `data` unless the log ends first; false where
// reading failed, which fails the scan.
bool LogScan::Read(char* data, size_t size, size_t* got) {
  *got = 0;
  int64_t read = 1;
  while (*got < size && (read = log_->Read(data + *got, size - *got)) > 0)
    *got += static_cast<size_t>(read);
  readTo_ += *got;
  atEnd_ = *got < size;
  if (read < 0)
    Fail();
  return read >= 0;
}

// Scans the whole lines in [begin, end) of the block, `begin` being a line's
// beginning; returns where the unfinished last line begins. A Ctrl-Z ends
// the log: the line that holds it has no line end. Lines after it are only
// explained, one by one.
size_t LogScan::ScanLines(size_t begin, size_t end) {
  while (ok()) {
    // The word, or what stops the search: a Ctrl-Z, or, after one, a line
    // feed.
    const size_t word = begin + FindWord(text_ + begin, end - begin, ended_ ? '\n' : kEndOfText,
                                         leftOut_ != nullptr);
    if (word == end)
      break;
    if (text_[word] == '\n') {  // a line after the end, without the word
      begin = word + 1;
      continue;
    }
    // The line's end, or a Ctrl-Z in it, where the search for the word may
    // have stopped: the line is then looked at again, as one after the end.
    const size_t lineEnd =
        word + FindEither(text_ + word, end - word, '\n', ended_ ? '\n' : kEndOfText);
    if (lineEnd == end)
      break;
    if (text_[lineEnd] == kEndOfText) {
      if (!EndOfText(lineEnd))
        break;
      continue;
    }
    const size_t before = FindLast(text_ + begin, word - begin, '\n');
    if (!TakeLine(before < word - begin ? begin + before + 1 : begin, lineEnd))
      Fail();
    begin = lineEnd + 1;
  }
  const size_t last = FindLast(text_ + begin, end - begin, '\n');
  return last < end - begin ? begin + last + 1 : begin;
}

bool LogScan::EndOfText(size_t at) {
  ended_ = true;
  endAt_ = OffsetOf(at);
  return leftOut_ != nullptr;
}

// The line [begin, lineFeed) of the block; false when memory ran out.
bool LogScan::TakeLine(size_t begin, size_t lineFeed) {
  size_t end = lineFeed;
  if (end > begin && text_[end - 1] == '\r')
    --end;  // CR LF is one line end
  const std::string_view line(text_ + begin, end - begin);
  std::string_view sourceFile;
  if (ended_ || !MatchCompileLine(line, &sourceFile)) {
    if (leftOut_)
      Tell(LineNumber(begin), OffsetOf(begin), line, line.size(), true);
    return true;
  }
  // A captured path ends in a dot and one character: they go.
  const size_t length = sourceFile.size() - 2;
  char* const entry = list_->Room(length + 1 + kCopyOverrun);
  if (!entry)
    return false;
  CopyWithSlashes(sourceFile.data(), length, entry);
  if (const char* why = Refusal(std::string_view(entry, length), length)) {
    Refuse(why, std::string_view(entry, std::min(length, kShownBeginning)), length,
           RefusedLineNumber(OffsetOf(begin), numbered_ ? LineNumber(begin) : 0));
    return true;
  }
  entry[length] = '\n';
  list_->Extend(length + 1);
  ++list_->count;
  return true;
}

void LogScan::Tell(uint64_t number, uint64_t begin, std::string_view text, uint64_t length,
                   bool lineFeed) {
  if (leftOut_->count >= kMostToldLines) {
    ++untold_;
    return;
  }
  LeftOut reason = LeftOut::kNoLineFeed;
  if (ended_ && begin > endAt_)
    reason = LeftOut::kAfterEndOfText;
  else if (!ended_ && lineFeed)
    reason = length > kLongLineLength ? LeftOut::kLongLine : ExplainLeftOut(text);
  const std::string told = std::to_string(number) + '\t' + LeftOutText(reason) + '\t' +
                           ShownText(text, length) + '\n';
  if (!leftOut_->AppendText(told.data(), told.size()))
    Fail();
  ++leftOut_->count;
}

uint64_t LogScan::RefusedLineNumber(uint64_t offset, uint64_t numbered) {
  if (numbered_)
    return numbered;
  MemoryBlock room(kEntryStretch);
  uint64_t lines = 0;
  for (uint64_t at = 0; at < offset && room.data();) {
    const size_t size = static_cast<size_t>(std::min<uint64_t>(kEntryStretch, offset - at));
    if (!log_->ReadAt(at, room.data(), size))
      break;
    lines += Count(room.data(), size, '\n');
    at += size;
  }
  return lines + 1;
}

uint64_t LogScan::LineNumber(size_t begin) {
  lines_ += Count(text_ + numberedTo_, begin - numberedTo_, '\n');
  numberedTo_ = begin;
  return lines_ + 1;
}

const char* LogScan::Refusal(std::string_view entry, uint64_t length) const {
  if (options_.strict &&
      (length > kLongestPlainPath || !IsPlainRelativePath(entry, options_.allowBlanks)))
    return kNotPlain;
  return options_.check ? options_.check->Refusal(entry, length) : nullptr;
}

void LogScan::Refuse(const char* why, std::string_view beginning, uint64_t length,
                     uint64_t line) {
  result_.outcome = ScanResult::kRefused;
  result_.refusal = why;
  result_.refusedLine = line;
  result_.refusedEntry.assign(beginning.data(), beginning.size());
  result_.refusedLength = length;
}

void LogScan::StartPieces(size_t begin, size_t end) {
  inPieces_ = true;
  piecesStart_ = OffsetOf(begin);
  match_ = LineMatch();
  keptSize_ = 0;
  piecesNumber_ = lines_ + 1;
  piecesText_.clear();
  piecesWord_ = false;
  TakePiece(text_ + begin, end - begin);
}

void LogScan::TakePiece(const char* data, size_t size) {
  const uint64_t at = match_.size();
  match_.Take(data, size);
  if (leftOut_ && !piecesWord_) {
    // A word that straddles two pieces is found from the second.
    const size_t back = static_cast<size_t>(std::min<uint64_t>(at, kWordLength - 1));
    piecesWord_ = FindWord(data - back, back + size, '\n', true) < back + size;
  }
  // Explained whole unless it is a long line.
  if (leftOut_ && piecesText_.size() <= kLongLineLength)
    piecesText_.append(data, std::min(size, kLongLineLength + 1 - piecesText_.size()));
  const uint64_t keptFrom = match_.firstPath();
  if (log_->CanReadAgain() || keptFrom == LineMatch::kNone || ended_)
    return;
  // Where it cannot be read again, the line is kept from its first head on.
  const size_t from = keptFrom > at ? static_cast<size_t>(keptFrom - at) : 0;
  const size_t more = size - from;
  if (kept_.capacity() < keptSize_ + more + kCopyOverrun) {
    MemoryBlock larger(2 * (keptSize_ + more + kCopyOverrun));
    if (!larger.data()) {
      Fail();
      return;
    }
    std::copy(kept_.data(), kept_.data() + keptSize_, larger.data());
    kept_ = std::move(larger);
  }
  memcpy(kept_.data() + keptSize_, data + from, more);
  keptSize_ += more;
}

// The line taken in pieces ended, at a line feed or not; false when the
// scan stops.
bool LogScan::EndPieces(bool lineFeed) {
  inPieces_ = false;
  if (!ok())
    return false;
  lines_ += lineFeed ? 1 : 0;
  uint64_t begin = 0;
  uint64_t end = 0;
  if (lineFeed && !ended_ && match_.End(&begin, &end)) {
    if (!AddEntryOfPieces(begin, end - begin) && ok())
      Fail();
    if (result_.outcome == ScanResult::kRefused)
      result_.refusedLine = RefusedLineNumber(piecesStart_, piecesNumber_);
  } else if (leftOut_ && piecesWord_) {
    // CR LF is one line end.
    const uint64_t length = lineFeed ? match_.length() : match_.size();
    const std::string_view text(piecesText_.data(),
                                static_cast<size_t>(std::min<uint64_t>(length, piecesText_.size())));
    Tell(piecesNumber_, piecesStart_, text, length, lineFeed);
  }
  return ok();
}

// Hands the entry of the line taken in pieces, its bytes [begin, begin +
// length), to the list, a stretch at a time. An entry too long to be plain,
// or to name a file, is refused by its beginning where entries are checked:
// no more of it is read.
bool LogScan::AddEntryOfPieces(uint64_t begin, uint64_t length) {
  static_assert(kLongestPlainPath <= kEntryStretch, "a plain entry is one stretch");
  if (!stretch_.data())
    stretch_ = MemoryBlock(kEntryStretch + kCopyOverrun);
  char* const room = stretch_.data();
  if (!room)
    return false;
  const bool checked = options_.strict || options_.check;
  const uint64_t wanted = checked && length > kLongestPlainPath ? kShownBeginning : length;
  uint64_t done = 0;
  do {  // once at least: an empty entry is checked too
    const size_t size = static_cast<size_t>(std::min<uint64_t>(kEntryStretch, wanted - done));
    const char* stretch;
    if (log_->CanReadAgain()) {
      // What was matched as one line's path holds no line break, nor a
      // Ctrl-Z: if it does now, the log was rewritten meanwhile.
      if (!log_->ReadAt(piecesStart_ + begin + done, room, size) || HoldsBreak(room, size))
        return false;
      stretch = room;
    } else {
      stretch = kept_.data() + (begin - match_.firstPath() + done);
    }
    CopyWithSlashes(stretch, size, room);
    const std::string_view text(room, size);
    if (const char* why = checked ? Refusal(text, length) : nullptr) {
      Refuse(why, text.substr(0, kShownBeginning), length, 0);
      return true;
    }
    if (!list_->AppendText(text.data(), text.size()))
      return false;
    done += size;
  } while (done < wanted);
  if (!list_->AppendText("\n", 1))
    return false;
  ++list_->count;
  return true;
}

}  // namespace

ScanResult ScanBuildLog(ByteSource& log, SourceFileList* list, const ScanOptions& options) {
  list->Clear();
  LogScan scan(log, list, options);
  return scan.Run();
}

ScanResult ScanBuildLog(LogFile& input, SourceFileList* list,
                        const ScanOptions& options) {
  ScanResult result = ScanBuildLog(static_cast<ByteSource&>(input), list, options);
  input.Close();
  if (input.failed() && result.outcome == ScanResult::kComplete)
    result.outcome = ScanResult::kReadFailed;
  return result;
}
