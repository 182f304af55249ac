#include "scan/file_scan.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "scan/blocks.h"
#include "scan/byte_masks.h"

namespace {

// A log this large is scanned by two threads where there are two cores.
constexpr int64_t kThreadedLog = int64_t{8} << 20;
// Read at once to finish a block's last line (at most a block).
constexpr size_t kTailPiece = size_t{16} << 10;
// A line longer than a block is read on in pieces of two blocks.
constexpr size_t kCarried = 16;  // bytes of the last piece before the next

class FileScan {
 public:
  FileScan(LogFile& file, SourceFileList* list, size_t blockSize, int workers)
      : file_(file), delivery_(list, &file), blockSize_(blockSize),
        tailPiece_(std::min(kTailPiece, blockSize)), strict_(list->strict),
        workers_(workers),
        slots_(4 * (static_cast<size_t>(workers) + 1)) {}

  bool Run();

 private:
  Block& SlotOf(uint64_t number) { return slots_[number % slots_.size()]; }
  // Whether a block may be taken: its slot free, and not past the end.
  bool CanTake() const {
    return next_ < limit_ && next_ < delivered_ + slots_.size();
  }
  // Wakes the threads that wait, if any: waking costs a system call on some
  // systems even when nobody waits.
  void Notify() {
    if (waiting_ > 0)
      helpers_.changed.notify_all();
  }
  void Take(std::unique_lock<std::mutex>* lock, char* text);
  // Room for a block's text: a thread's own, so that it stays in the cache
  // of the core that reads it in and scans it.
  MemoryBlock TextRoom() const {
    return MemoryBlock(2 * blockSize_ + tailPiece_ + kScanPadding, true);
  }
  void Read(uint64_t number, Block* block, char* text);
  void FollowLongLine(Block* block, char* text, size_t lineStart,
                      size_t filled, uint64_t from);
  void Work();

  LogFile& file_;
  BlockDelivery delivery_;
  const size_t blockSize_;
  const size_t tailPiece_;
  const bool strict_;
  const int workers_;  // threads to start besides this one
  std::vector<Block> slots_;

  // Under helpers_.mutex:
  uint64_t next_ = 0;            // the next block to take
  uint64_t delivered_ = 0;       // blocks handed to the list
  uint64_t limit_ = UINT64_MAX;  // blocks from here on lie past the end
  uint64_t longLineEnd_ = 0;     // where the last long line followed ended
  int waiting_ = 0;              // threads waiting for a change
  Helpers helpers_;
};

bool FileScan::Run() {
  // Room for a block and a last line as long again; a longer one is
  // followed on its own.
  for (Block& slot : slots_)
    if (!slot.Allocate(2 * blockSize_ + tailPiece_, false))
      return false;
  MemoryBlock text = TextRoom();
  if (!text.data())
    return false;
  helpers_.Start(workers_, [this] { Work(); });
  std::unique_lock<std::mutex> lock(helpers_.mutex);
  for (;;) {
    // This thread alone hands blocks to the list, in order.
    while (delivered_ < next_ && SlotOf(delivered_).done) {
      Block& block = SlotOf(delivered_);
      lock.unlock();
      const bool delivered = !block.failed && delivery_.Deliver(&block);
      lock.lock();
      ++delivered_;
      Notify();
      if (!delivered)
        return false;
      if (delivery_.ended())
        return true;
    }
    if (delivered_ >= limit_)
      return true;
    if (CanTake()) {
      Take(&lock, text.data());
    } else {
      ++waiting_;
      helpers_.changed.wait(lock);
      --waiting_;
    }
  }
}

// Takes the next block and reads and scans it, without the lock.
void FileScan::Take(std::unique_lock<std::mutex>* lock, char* text) {
  const uint64_t number = next_++;
  Block& block = SlotOf(number);
  block.done = false;  // before anyone may look: it held a block handed over
  // A block within a long line that another block followed to its end holds
  // no line's beginning: it is not read again.
  const bool within = (number + 1) * blockSize_ <= longLineEnd_;
  lock->unlock();
  if (within)
    block.Reset();
  else
    Read(number, &block, text);
  lock->lock();
  block.done = true;
  if (block.endOfLog && number + 1 < limit_)
    limit_ = number + 1;
  Notify();
}

void FileScan::Work() {
  MemoryBlock text = TextRoom();
  if (!text.data())
    return;  // this thread does not help
  std::unique_lock<std::mutex> lock(helpers_.mutex);
  for (;;) {
    ++waiting_;
    helpers_.changed.wait(lock,
                          [this] { return helpers_.stopping || CanTake(); });
    --waiting_;
    if (helpers_.stopping)
      return;
    Take(&lock, text.data());
  }
}

// Reads block `number` and scans the lines that begin in it: from the
// first line end at or after the byte before it, through the line end of
// its last line, wherever that lies. A little more than the block is read at
// once, which nearly always holds that line end.
void FileScan::Read(uint64_t number, Block* block, char* text) {
  block->Reset();
  const size_t capacity = 2 * blockSize_ + tailPiece_;
  const uint64_t offset = number * blockSize_;
  const uint64_t from = number == 0 ? 0 : offset - 1;
  const size_t blockEnd = static_cast<size_t>(offset - from) + blockSize_;
  size_t want = blockEnd + tailPiece_;
  const int64_t read = file_.ReadAt(from, text, want);
  if (read < 0) {
    block->failed = true;
    return;
  }
  size_t filled = static_cast<size_t>(read);
  bool atEnd = filled < want;
  // The log ends in the block: nothing begins after it.
  const bool endsHere = atEnd && filled <= blockEnd;
  const size_t begin = number == 0 ? 0 : Find(text, filled, '\n') + 1;
  if (begin >= blockEnd || begin > filled) {
    block->endOfLog = endsHere;  // no line begins in the block
    return;
  }
  // Its last line, unless it ends in the block or is the next block's.
  const size_t inBlock = std::min(filled, blockEnd);
  const size_t last = FindLast(text + begin, inBlock - begin, '\n');
  const size_t lastLine = last < inBlock - begin ? begin + last + 1 : begin;
  size_t end = lastLine;
  if (lastLine < inBlock) {
    for (size_t searched = inBlock;;) {
      const size_t lineFeed = Find(text + searched, filled - searched, '\n');
      if (lineFeed < filled - searched) {
        end = searched + lineFeed + 1;
        break;
      }
      searched = filled;
      if (atEnd || filled == capacity)
        break;
      want = std::min(tailPiece_, capacity - filled);
      const int64_t more = file_.ReadAt(from + filled, text + filled, want);
      if (more < 0) {
        block->failed = true;
        return;
      }
      filled += static_cast<size_t>(more);
      atEnd = static_cast<size_t>(more) < want;
    }
  }
  block->ScanText(text + begin, end - begin, strict_);
  if (block->scan.ended || end != lastLine || lastLine >= inBlock) {
    block->endOfLog = endsHere;
    return;
  }
  // The last line did not end: the log ended in it, or it is longer than
  // a block.
  if (atEnd) {
    block->endOfLog = true;
    return;
  }
  FollowLongLine(block, text, lastLine, filled, from);
}

// Follows the line that begins at `lineStart` of the `filled` bytes read at
// `from` into `text`, which holds no line feed after it, to its end. Only
// what decides the match is kept; the entry, if the line has one, is read
// again when it is handed to the list. `text` is used for the pieces read.
void FileScan::FollowLongLine(Block* block, char* text, size_t lineStart,
                              size_t filled, uint64_t from) {
  const char* data = text + lineStart;
  size_t size = filled - lineStart;
  if (Find(data, size, kEndOfText) < size) {
    block->endOfLog = true;
    return;
  }
  LongLineMatch match;
  uint64_t position = from + filled;
  const size_t piece = 2 * blockSize_;
  char carried[kCarried];
  size_t carriedSize = 0;
  for (;;) {
    match.Take(data, size);
    // The line's last bytes go before the next piece.
    const size_t kept = std::min(carriedSize, kCarried - std::min(size, kCarried));
    memmove(carried, carried + carriedSize - kept, kept);
    const size_t fresh = std::min(size, kCarried);
    memcpy(carried + kept, data + size - fresh, fresh);
    carriedSize = kept + fresh;
    memcpy(text + kCarried - carriedSize, carried, carriedSize);
    char* const next = text + kCarried;
    const int64_t got = file_.ReadAt(position, next, piece);
    if (got < 0) {
      block->failed = true;
      return;
    }
    size = static_cast<size_t>(got);
    position += size;
    const size_t stop = FindEither(next, size, '\n', kEndOfText);
    if (stop < size && next[stop] == '\n') {
      match.Take(next, stop);
      LongEntry& entry = block->longLine;
      entry.line = true;
      uint64_t begin = 0;
      uint64_t end = 0;
      if (match.End(&begin, &end)) {
        entry.inFile = true;
        entry.offset = from + lineStart + begin;
        entry.length = end - begin;
      }
      std::lock_guard<std::mutex> lock(helpers_.mutex);
      longLineEnd_ = std::max<uint64_t>(longLineEnd_, position - size + stop + 1);
      return;
    }
    if (stop < size || size < piece) {
      block->endOfLog = true;  // a Ctrl-Z, or the end, before a line feed
      return;
    }
    data = next;
  }
}

}  // namespace

bool ScanLogFile(LogFile& file, SourceFileList* list, size_t blockSize,
                 int workers) {
  list->Clear();
  bool complete;
  {
    FileScan scan(file, list, blockSize, workers);
    complete = scan.Run();
  }
  if (list->sink)
    list->Drain();
  return complete && !file.failed();
}

int HelpingThreads(const LogFile& file) {
  return file.size() >= kThreadedLog && std::thread::hardware_concurrency() > 1;
}

bool StartsWithByteOrderMark(LogFile& file) {
  unsigned char mark[2];
  return file.ReadAt(0, reinterpret_cast<char*>(mark), 2) == 2 &&
         ((mark[0] == 0xFF && mark[1] == 0xFE) ||
          (mark[0] == 0xFE && mark[1] == 0xFF));
}
