// Reading a build log as a stream (a pipe, a device, a UTF-16 log as its
// UTF-8 text) and collecting its compiled source files.
//
// The log is read in blocks, and each block is cut after its last line end:
// what follows is carried to the front of the next. So every block holds
// whole lines, which are scanned on their own (line_scan.h): by this thread,
// or by a second one as well while this one reads ahead and hands the
// entries of the blocks that are done to the list, in the order of the log.
// A few blocks are under way at a time, whatever the size of the log. A line
// too long for a block is followed on its own, and held from its first
// Compiling on. Regular files are read another way, by both threads at once
// (file_scan.h).

#include "scan/scan.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <istream>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "scan/blocks.h"
#include "scan/byte_masks.h"
#include "scan/file_scan.h"
#include "scan/plain_path.h"
#include "scan/utf16.h"

namespace {

// Blocks under way at a time with a second thread: one read ahead, one
// scanned by each thread, one waiting to be handed over.
constexpr size_t kBlocksUnderWay = 4;

constexpr char kWord[] = "Compiling";
constexpr size_t kWordLength = sizeof(kWord) - 1;

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

// Reads up to `size` more bytes of the log; false when reading failed.
// Fewer than `size` only at its end.
using ReadMore = std::function<bool(char* data, size_t size, size_t* got)>;

// How a long line ended.
enum class LongLineEnd { kLineFeed, kEndOfLog, kFailed };

// Follows a line whose first `size` bytes (no line feed among them) are at
// `start`, reading on in pieces of `piece` bytes, until its line feed, and
// makes its entry, if it has one, into `entry`. A Ctrl-Z before the line
// feed ends the log there. Only what may count is kept: a line without the
// word Compiling costs no memory. What follows the line feed in its last
// piece is copied to `rest` (room for `piece` bytes), and its size set in
// `*restSize`.
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

// A block, and where its whole lines end within what was read.
struct Slot {
  Block block;
  size_t size = 0;    // bytes of whole lines
  size_t filled = 0;  // bytes read
};

class StreamScan {
 public:
  StreamScan(std::istream& input, SourceFileList* list, size_t blockSize,
             int workers)
      : input_(input), delivery_(list), blockSize_(blockSize),
        strict_(list->strict), workers_(workers),
        slots_(workers > 0 ? kBlocksUnderWay : 2) {}

  bool Run();

 private:
  Slot& SlotOf(uint64_t number) { return slots_[number % slots_.size()]; }
  bool Read(char* data, size_t size, size_t* got);
  bool Fill(Slot* slot, const char* carry, size_t carrySize);
  void Dispatch(Slot* slot);
  void ScanQueued(std::unique_lock<std::mutex>* lock);
  bool DeliverBefore(uint64_t number);
  void Work();
  void Scan(Slot* slot) {
    slot->block.ScanText(slot->block.text.data(), slot->size, strict_);
  }

  std::istream& input_;
  BlockDelivery delivery_;
  const size_t blockSize_;
  const bool strict_;
  const int workers_;  // threads to start besides this one
  std::vector<Slot> slots_;
  uint64_t dispatched_ = 0;  // blocks handed to a scan
  uint64_t delivered_ = 0;   // blocks handed to the list
  bool atEnd_ = false;       // the stream has no more
  std::deque<Slot*> queue_;  // under helpers_.mutex: blocks to scan
  Helpers helpers_;
};

bool StreamScan::Run() {
  // Room for a block and an unfinished line as long as a block; a longer
  // line is followed on its own.
  for (Slot& slot : slots_)
    if (!slot.block.Allocate(2 * blockSize_, true))
      return false;
  helpers_.Start(workers_, [this] { Work(); });
  MemoryBlock rest(blockSize_ + kScanPadding, false);
  if (!rest.data())
    return false;
  const char* carry = nullptr;
  size_t carrySize = 0;
  while (!delivery_.ended()) {
    // A slot is free once the block that had it was handed over.
    if (dispatched_ >= slots_.size() &&
        !DeliverBefore(dispatched_ - slots_.size() + 1))
      return false;
    if (delivery_.ended())
      break;
    Slot& slot = SlotOf(dispatched_);
    if (!Fill(&slot, carry, carrySize))
      return false;
    if (slot.size > 0) {
      carry = slot.block.text.data() + slot.size;
      carrySize = slot.filled - slot.size;
      Dispatch(&slot);
      continue;
    }
    // No line end in a whole block: a long line, unless the log ended.
    if (atEnd_)
      break;
    // After every line before it, unless one of those ended the log.
    if (!DeliverBefore(dispatched_))
      return false;
    if (delivery_.ended())
      break;
    const ReadMore read = [this](char* data, size_t size, size_t* got) {
      return Read(data, size, got);
    };
    carry = rest.data();
    carrySize = 0;
    switch (FollowLongLine(slot.block.text.data(), slot.filled, read,
                           blockSize_, strict_,
                           &slot.block.longLine, rest.data(), &carrySize)) {
      case LongLineEnd::kFailed:
        return false;
      case LongLineEnd::kEndOfLog:
        return true;  // what was read is a last line without a line feed
      case LongLineEnd::kLineFeed:
        break;
    }
    slot.block.done = true;
    ++dispatched_;
    if (!DeliverBefore(dispatched_))
      return false;
  }
  // What is left is a last line without a line feed: it does not count.
  return DeliverBefore(dispatched_);
}

bool StreamScan::Read(char* data, size_t size, size_t* got) {
  input_.read(data, static_cast<std::streamsize>(size));
  *got = static_cast<size_t>(input_.gcount());
  atEnd_ = *got < size;
  return !input_.bad();
}

// Puts the unfinished line `carry` first in the slot's block and reads until
// a line ends, the block is full or the log ends.
bool StreamScan::Fill(Slot* slot, const char* carry, size_t carrySize) {
  // No other thread looks at a slot until it is dispatched.
  slot->block.Reset();
  slot->block.done = false;
  char* const text = slot->block.text.data();
  if (carrySize > 0)
    memmove(text, carry, carrySize);
  slot->filled = carrySize;
  // Only what follows a long line may hold line ends already.
  const size_t carried = FindLast(text, carrySize, '\n');
  slot->size = carried < carrySize ? carried + 1 : 0;
  const size_t capacity = 2 * blockSize_;
  while (slot->size == 0 && !atEnd_ && slot->filled < capacity) {
    size_t got = 0;
    if (!Read(text + slot->filled,
              std::min(blockSize_, capacity - slot->filled), &got))
      return false;
    const size_t last = FindLast(text + slot->filled, got, '\n');
    if (last < got)
      slot->size = slot->filled + last + 1;
    slot->filled += got;
  }
  return true;
}

void StreamScan::Dispatch(Slot* slot) {
  ++dispatched_;
  if (helpers_.none()) {
    Scan(slot);
    slot->block.done = true;
    return;
  }
  {
    std::lock_guard<std::mutex> lock(helpers_.mutex);
    queue_.push_back(slot);
  }
  helpers_.changed.notify_all();
}

// Scans the first block in the queue, without the lock.
void StreamScan::ScanQueued(std::unique_lock<std::mutex>* lock) {
  Slot* slot = queue_.front();
  queue_.pop_front();
  lock->unlock();
  Scan(slot);
  lock->lock();
  slot->block.done = true;
  helpers_.changed.notify_all();
}

void StreamScan::Work() {
  std::unique_lock<std::mutex> lock(helpers_.mutex);
  for (;;) {
    helpers_.changed.wait(
        lock, [this] { return helpers_.stopping || !queue_.empty(); });
    if (helpers_.stopping)
      return;
    ScanQueued(&lock);
  }
}

// Hands the blocks before `number` to the list, in order, scanning queued
// ones here while they wait.
bool StreamScan::DeliverBefore(uint64_t number) {
  while (delivered_ < number && !delivery_.ended()) {
    Slot& slot = SlotOf(delivered_);
    if (!helpers_.none()) {
      std::unique_lock<std::mutex> lock(helpers_.mutex);
      while (!slot.block.done) {
        if (queue_.empty())
          helpers_.changed.wait(lock);
        else
          ScanQueued(&lock);
      }
    }
    ++delivered_;
    if (!delivery_.Deliver(&slot.block))
      return false;
  }
  return true;
}

bool ScanStream(std::istream& input, SourceFileList* list, size_t blockSize,
                int workers) {
  StreamScan scan(input, list, blockSize, workers);
  return scan.Run();
}

}  // namespace

bool ScanBuildLog(std::istream& input, SourceFileList* list, size_t blockSize,
                  int workers) {
  list->Clear();
  if (blockSize == 0)
    blockSize = kScanBlockSize;
  bool complete;
  const Utf16Order order = ReadByteOrderMark(input);
  if (order == Utf16Order::kNone) {
    complete = ScanStream(input, list, blockSize, workers);
  } else {
    Utf16Buffer decoded(input, order);
    std::istream text(&decoded);
    complete = ScanStream(text, list, blockSize, workers) && !decoded.failed();
  }
  if (list->sink)
    list->Drain();
  return complete;
}

bool ScanBuildLog(LogFile& input, SourceFileList* list) {
  bool complete;
  if (input.size() >= 0 && !StartsWithByteOrderMark(input)) {
    complete = ScanLogFile(input, list, kFileBlockSize, HelpingThreads(input));
  } else {
    std::istream stream(&input);
    complete =
        ScanBuildLog(stream, list, kScanBlockSize, HelpingThreads(input));
  }
  input.Close();
  return complete && !input.failed();
}
