#include "scan/blocks.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "scan/byte_masks.h"
#include "scan/plain_path.h"

namespace {

constexpr char kWord[] = "Compiling";
constexpr size_t kWordLength = sizeof(kWord) - 1;

// An entry this long is not copied: the list takes over the buffer of the
// line that holds it, where it was made in place.
constexpr size_t kAdoptedEntry = size_t{1} << 20;

// An entry read again from the log file goes in pieces of this size.
constexpr size_t kFilePiece = size_t{256} << 10;
// As much of a refused entry as its message shows, and a little more.
constexpr size_t kShownBeginning = 256;

// The first occurrence of the word in [0, n), or n.
size_t FindWord(const char* s, size_t n) {
  for (size_t from = 0; from + kWordLength <= n;) {
    const size_t at = from + Find(s + from, n - kWordLength + 1 - from, 'C');
    if (at + kWordLength > n)
      return n;
    if (memcmp(s + at, kWord, kWordLength) == 0)
      return at;
    from = at + 1;
  }
  return n;
}

// A line longer than a block, while it is read. What stands before the
// line's first "Compiling" cannot change its match unless it holds a carriage
// return, which the expression's leading dots do not cross; then the line
// cannot match at all. So only the line from that word on is kept, or, until
// the word comes, the last few bytes that may be its start; and nothing at
// all once the line cannot match.
struct LongLine {
  MemoryBlock text;
  size_t size = 0;
  bool word = false;  // holds the word: kept whole from here on
  bool dead = false;  // cannot match

  void Trim() {
    char* const data = text.data();
    const size_t at = FindWord(data, size);
    word = at < size;
    const size_t before = word                  ? at
                          : size > kWordLength ? size - kWordLength + 1
                                               : 0;
    if (Find(data, before, '\r') < before) {
      dead = true;
      size = 0;
      return;
    }
    size -= before;
    memmove(data, data + before, size);
  }
};

// Makes the entry of the complete line [0, end) of `line`, if it has one.
bool TakeEntry(LongLine* line, size_t end, bool strict, LongEntry* entry) {
  char* const text = line->text.data();
  if (end > 0 && text[end - 1] == '\r')
    --end;  // CR LF is one line end
  std::string_view sourceFile;
  if (!MatchCompileLine(std::string_view(text, end), &sourceFile))
    return true;
  if (sourceFile.size() >= kAdoptedEntry) {
    const size_t begin = static_cast<size_t>(sourceFile.data() - text);
    entry->begin = begin;
    entry->end = begin + WriteEntry(sourceFile, text + begin, false);
    entry->text = std::move(line->text);
  } else {
    entry->text = MemoryBlock(sourceFile.size() + 1 + kScanPadding);
    if (!entry->text.data())
      return false;
    entry->begin = 0;
    entry->end = WriteEntry(sourceFile, entry->text.data(), false);
  }
  entry->refused =
      strict && !IsPlainRelativePath(std::string_view(
                    entry->text.data() + entry->begin, entry->end - entry->begin - 1));
  return true;
}

}  // namespace

bool Block::Allocate(size_t capacity, bool keepText) {
  // Used again and again, and mostly only in part: ordinary pages, of which
  // only those touched cost memory.
  if (keepText)
    text = MemoryBlock(capacity + kScanPadding, false);
  out = MemoryBlock(capacity + kScanPadding, false);
  return (!keepText || text.data()) && out.data();
}

void Block::Reset() {
  scan = LineScan();
  longLine = LongEntry();
  longLineAt = -1;
  endOfLog = failed = false;
}

void Block::ScanText(const char* lines, size_t size, bool strict) {
  scan = ScanLines(lines, size, strict, out.data());
}

LongLineEnd FollowLongLine(const char* start, size_t size,
                           const ReadMore& read, size_t piece, bool strict,
                           LongEntry* entry, char* rest, size_t* restSize) {
  if (Find(start, size, kEndOfText) < size)
    return LongLineEnd::kEndOfLog;
  LongLine line;
  line.text = MemoryBlock(size + 2 * piece + kScanPadding);
  if (!line.text.data())
    return LongLineEnd::kFailed;
  memcpy(line.text.data(), start, size);
  line.size = size;
  for (;;) {
    if (!line.word)
      line.Trim();
    if (line.dead)
      line.size = 0;
    const size_t from = line.size;
    if (line.text.capacity() - kScanPadding - line.size < piece &&
        !line.text.Resize(2 * line.text.capacity()))
      return LongLineEnd::kFailed;
    size_t got = 0;
    if (!read(line.text.data() + from, piece, &got))
      return LongLineEnd::kFailed;
    line.size += got;
    const size_t end =
        from + FindEither(line.text.data() + from, got, '\n', kEndOfText);
    if (end < line.size && line.text.data()[end] == '\n') {
      *restSize = line.size - end - 1;
      if (rest)
        memcpy(rest, line.text.data() + end + 1, *restSize);
      entry->line = true;
      if (!line.dead && !TakeEntry(&line, end, strict, entry))
        return LongLineEnd::kFailed;
      return LongLineEnd::kLineFeed;
    }
    if (end < line.size || got < piece)
      return LongLineEnd::kEndOfLog;  // a Ctrl-Z, or the end, before a line feed
  }
}

Helpers::~Helpers() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  changed.notify_all();
  for (std::thread& thread : threads_)
    thread.join();
}

void Helpers::Start(int count, const std::function<void()>& work) {
  for (int i = 0; i < count; ++i) {
    try {
      threads_.emplace_back(work);
    } catch (const std::system_error&) {
      break;
    }
  }
}

bool BlockDelivery::DeliverLines(Block* block) {
  const LineScan& scan = block->scan;
  if (!list_->AppendEntries(block->out.data(), scan.written, scan.entries))
    return false;
  if (scan.refusedLine != 0) {
    lines_ += scan.refusedLine;
    Refuse(scan.refusedEntry.data(), scan.refusedEntry.size(),
           scan.refusedEntry.size());
    return false;
  }
  lines_ += scan.lines;
  ended_ = scan.ended;
  return true;
}

bool BlockDelivery::DeliverLongLine(Block* block) {
  LongEntry& entry = block->longLine;
  if (entry.line) {
    ++lines_;
    const char* const text = entry.text.data() + entry.begin;
    const size_t size = entry.end - entry.begin;
    if (entry.refused) {
      Refuse(text, size - 1, size - 1);
      return false;
    }
    if (entry.handedOver) {
      ++list_->count;
    } else if (entry.inFile) {
      if (!DeliverFromFile(entry))
        return false;
    } else if (size >= kAdoptedEntry) {
      list_->Adopt(std::move(entry.text), entry.begin, entry.end);
      if (list_->sink)
        list_->Drain();
    } else if (size > 0 && !list_->AppendEntries(text, size, 1)) {
      return false;
    }
  }
  ended_ = block->endOfLog;
  return true;
}

void BlockDelivery::Refuse(const char* entry, size_t size, uint64_t length) {
  list_->refused.line = lines_;
  list_->refused.entry.assign(entry, size);
  list_->refused.length = length;
}

// A piece at a time: read, checked, given slashes and handed on.
bool BlockDelivery::DeliverFromFile(const LongEntry& entry) {
  const uint64_t length = entry.length;
  if (length > SIZE_MAX - 1)
    return false;
  // Without a sink the list holds the entry; it is read straight into it.
  char* whole = nullptr;
  MemoryBlock room;
  if (list_->sink) {
    list_->Drain();  // what came before goes first
    room = MemoryBlock(kFilePiece + kScanPadding, false);
    if (!room.data())
      return false;
  } else if (!(whole = list_->Reserve(static_cast<size_t>(length) + 1))) {
    return false;
  }
  PlainPathCheck check;
  std::string beginning;  // for the message, if it is refused
  for (uint64_t done = 0; done < length;) {
    const size_t size = static_cast<size_t>(std::min<uint64_t>(kFilePiece, length - done));
    char* const piece = whole ? whole + done : room.data();
    if (file_->ReadAt(entry.offset + done, piece, size) != static_cast<int64_t>(size))
      return false;
    // What was matched as one line's path was rewritten since: the log was
    // not read as one whole.
    if (!SlashesInPlace(piece, size))
      return false;
    if (list_->strict) {
      if (beginning.size() < kShownBeginning)
        beginning.append(piece, std::min(size, kShownBeginning - beginning.size()));
      if (!check.Take(std::string_view(piece, size))) {
        Refuse(beginning.data(), beginning.size(), length);
        return false;
      }
    }
    if (!whole)
      list_->sink->Write(piece, size);
    done += size;
  }
  if (list_->strict && !check.End()) {
    Refuse(beginning.data(), beginning.size(), length);
    return false;
  }
  if (whole) {
    whole[length] = '\n';
    list_->Extend(static_cast<size_t>(length) + 1);
  } else {
    list_->sink->Write("\n", 1);
    ++list_->count;
  }
  return true;
}
