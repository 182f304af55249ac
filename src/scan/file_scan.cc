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
// A line longer than a block is read on in pieces of two blocks, each after
// the line's last bytes before it, at which the match looks back.
constexpr size_t kCarried = 16;

// A piece of a long line, as the match saw it.
struct LinePiece {
  uint64_t at = 0;    // its place in the line
  int64_t got = 0;    // bytes read; -1: reading failed
  size_t size = 0;    // of them, the line's: up to a line feed or Ctrl-Z
  uint64_t heads = 0;          // LongLineMatch::heads() after it,
  uint64_t lastHeadEntry = 0;  // and lastHeadEntry()
};

// A long line as it is read: the match, and its last bytes, which go
// before the next piece.
struct LongLineRead {
  uint64_t start = 0;  // in the file
  LongLineMatch match;
  char carried[kCarried];
  size_t carriedSize = 0;
};

// The entry of a long line, handed to the list's sink while the line is
// read, from where the line's first head puts it: taken back when the line
// turns out not to be a compile line, and given up for reading it again from
// the file when a second head comes, which a compiler's line never has.
// Only where the sink can take bytes back and no check waits for the whole
// entry.
class EntryDraft {
 public:
  explicit EntryDraft(SourceFileList* list)
      : list_(list), on_(list->sink && !list->strict) {}

  // After the match took the piece at `data`; the line's 16 bytes before
  // it are before `data`. Turns them into the entry's text in place.
  void Take(const LinePiece& piece, char* data) {
    if (!on_ || piece.heads == 0)
      return;
    if (piece.heads > 1) {
      Discard();
      return;
    }
    if (!started_) {
      started_ = true;
      end_ = piece.lastHeadEntry;
      list_->Drain();  // what came before goes first
    }
    const uint64_t at = piece.at;
    const uint64_t to = at + piece.size;
    if (end_ >= to)
      return;
    // end_ lies at most 9 bytes back
    char* const from =
        data + (static_cast<int64_t>(end_) - static_cast<int64_t>(at));
    const size_t length = static_cast<size_t>(to - end_);
    CopyWithSlashes(from, length, from, false);
    list_->sink->Write(from, length);
    written_ += length;
    end_ = to;
  }

  // The line ended and its entry is [begin, end): whether it was handed over.
  bool Finish(uint64_t begin, uint64_t end) {
    if (!on_ || !started_ || end_ - written_ != begin) {
      Discard();
      return false;
    }
    list_->sink->Unwrite(end_ - end);  // the tail after the path
    list_->sink->Write("\n", 1);
    return true;
  }

  void Discard() {
    if (written_ > 0)
      list_->sink->Unwrite(written_);
    written_ = 0;
    on_ = false;
  }

 private:
  SourceFileList* const list_;
  bool on_;
  bool started_ = false;
  uint64_t end_ = 0;      // the line's bytes up to here were handed over
  uint64_t written_ = 0;  // that many of them
};

class FileScan {
 public:
  FileScan(LogFile& file, SourceFileList* list, size_t blockSize, int workers)
      : file_(file), list_(list), delivery_(list, &file), blockSize_(blockSize),
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
  void FollowLongLine(Block* block, char* text);
  void Work();

  // Reads piece `number` of the long line into `room`, after kCarried bytes
  // of room, and lets the match take it.
  void ReadPiece(uint64_t number, char* room, LinePiece* piece);
  // While a long line is followed, a helping thread reads and matches its
  // next piece while this one hands over the last: two pieces in turn.
  bool CanReadAhead() const {
    return ahead_.on && !ahead_.reading && !ahead_.ended &&
           ahead_.read < ahead_.used + 2;
  }
  void ReadAhead(std::unique_lock<std::mutex>* lock);
  // Piece `number` of the long line as a helping thread read it: where it
  // is (after kCarried bytes of room); null when there is no help.
  char* NextPiece(uint64_t number, LinePiece* piece);
  void PieceUsed();
  void EndReadAhead();

  LogFile& file_;
  SourceFileList* const list_;
  BlockDelivery delivery_;
  const size_t blockSize_;
  const size_t tailPiece_;
  const bool strict_;
  const int workers_;  // threads to start besides this one
  std::vector<Block> slots_;
  // The long line being followed: read by this thread, or, while `ahead_`
  // is on, by the helping thread whose turn `ahead_` gives.
  LongLineRead long_;

  // Under helpers_.mutex:
  uint64_t next_ = 0;            // the next block to take
  uint64_t delivered_ = 0;       // blocks handed to the list
  uint64_t limit_ = UINT64_MAX;  // blocks from here on lie past the end
  uint64_t longLineEnd_ = 0;     // where the last long line followed ended
  int waiting_ = 0;              // threads waiting for a change
  struct {
    MemoryBlock rooms[2];
    LinePiece pieces[2];
    uint64_t read = 0;     // pieces read
    uint64_t used = 0;     // pieces scanned
    bool on = false;       // pieces are wanted
    bool reading = false;  // one is being read
    bool ended = false;    // the last piece of the line was read
  } ahead_;
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
      bool delivered = !block.failed && delivery_.DeliverLines(&block);
      if (delivered && !delivery_.ended()) {
        // In turn, so that its entry may go to the list as it is read.
        if (block.longLineAt >= 0)
          FollowLongLine(&block, text.data());
        delivered = !block.failed && delivery_.DeliverLongLine(&block);
      }
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
  // Without room of its own this thread only reads ahead, which the
  // follower of a long line waits for.
  MemoryBlock text = TextRoom();
  const bool takes = text.data() != nullptr;
  std::unique_lock<std::mutex> lock(helpers_.mutex);
  for (;;) {
    ++waiting_;
    helpers_.changed.wait(lock, [this, takes] {
      return helpers_.stopping || CanReadAhead() || (takes && CanTake());
    });
    --waiting_;
    if (helpers_.stopping)
      return;
    if (CanReadAhead())
      ReadAhead(&lock);
    else
      Take(&lock, text.data());
  }
}

void FileScan::ReadPiece(uint64_t number, char* room, LinePiece* piece) {
  const size_t size = 2 * blockSize_;
  piece->at = number * size;
  piece->got = file_.ReadAt(long_.start + piece->at, room + kCarried, size);
  if (piece->got < 0)
    return;
  LongLineRead& line = long_;
  memcpy(room + kCarried - line.carriedSize, line.carried, line.carriedSize);
  const char* const data = room + kCarried;
  piece->size = FindEither(data, static_cast<size_t>(piece->got), '\n', kEndOfText);
  line.match.Take(data, piece->size);
  piece->heads = line.match.heads();
  piece->lastHeadEntry = line.match.lastHeadEntry();
  const size_t kept = std::min(line.carriedSize, kCarried - std::min(piece->size, kCarried));
  memmove(line.carried, line.carried + line.carriedSize - kept, kept);
  const size_t fresh = std::min(piece->size, kCarried);
  memcpy(line.carried + kept, data + piece->size - fresh, fresh);
  line.carriedSize = kept + fresh;
}

void FileScan::ReadAhead(std::unique_lock<std::mutex>* lock) {
  const uint64_t number = ahead_.read;
  char* const room = ahead_.rooms[number % 2].data();
  LinePiece* const piece = &ahead_.pieces[number % 2];
  ahead_.reading = true;
  lock->unlock();
  ReadPiece(number, room, piece);
  lock->lock();
  ++ahead_.read;
  ahead_.reading = false;
  // A piece that holds the line's end is its last.
  ahead_.ended = piece->got < static_cast<int64_t>(2 * blockSize_) ||
                 piece->size < static_cast<size_t>(piece->got);
  Notify();
}

char* FileScan::NextPiece(uint64_t number, LinePiece* piece) {
  if (helpers_.none())
    return nullptr;
  std::unique_lock<std::mutex> lock(helpers_.mutex);
  if (!ahead_.on) {
    for (MemoryBlock& room : ahead_.rooms)
      if (!room.data() &&
          !(room = MemoryBlock(kCarried + 2 * blockSize_ + kScanPadding)).data())
        return nullptr;
    ahead_.read = ahead_.used = number;
    ahead_.on = true;
    ahead_.ended = false;
    Notify();
  }
  ++waiting_;
  helpers_.changed.wait(lock, [this] { return ahead_.read > ahead_.used; });
  --waiting_;
  *piece = ahead_.pieces[ahead_.used % 2];
  return ahead_.rooms[ahead_.used % 2].data();
}

void FileScan::PieceUsed() {
  std::lock_guard<std::mutex> lock(helpers_.mutex);
  ++ahead_.used;
  Notify();
}

void FileScan::EndReadAhead() {
  std::unique_lock<std::mutex> lock(helpers_.mutex);
  ahead_.on = false;
  ++waiting_;
  helpers_.changed.wait(lock, [this] { return !ahead_.reading; });
  --waiting_;
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
  block->longLineAt = static_cast<int64_t>(from + lastLine);
}

// Follows the block's last line, which is longer than a block, from where it
// begins to its end. Only what decides the match is kept, and the entry, if
// the line has one, goes to the list as it is read or is read again from the
// file when the block is handed over. `text` is room for the pieces read.
void FileScan::FollowLongLine(Block* block, char* text) {
  long_ = LongLineRead();
  long_.start = static_cast<uint64_t>(block->longLineAt);
  EntryDraft draft(list_);
  bool readAhead = false;  // pieces came from ReadAhead()
  for (uint64_t number = 0;; ++number) {
    LinePiece piece;
    char* room = number > 0 ? NextPiece(number, &piece) : nullptr;
    const bool ahead = room != nullptr;
    readAhead = readAhead || ahead;
    if (!ahead) {
      room = text;
      ReadPiece(number, room, &piece);
    }
    if (piece.got < 0) {
      block->failed = true;
      break;
    }
    char* const data = room + kCarried;
    draft.Take(piece, data);
    const bool lineFeed =
        piece.size < static_cast<size_t>(piece.got) && data[piece.size] == '\n';
    const bool last = piece.size < static_cast<size_t>(piece.got) ||
                      piece.got < static_cast<int64_t>(2 * blockSize_);
    if (ahead)
      PieceUsed();
    if (lineFeed) {
      LongEntry& entry = block->longLine;
      entry.line = true;
      uint64_t begin = 0;
      uint64_t end = 0;
      if (long_.match.End(&begin, &end)) {
        entry.handedOver = draft.Finish(begin, end);
        entry.inFile = !entry.handedOver;
        entry.offset = long_.start + begin;
        entry.length = end - begin;
      }
      std::lock_guard<std::mutex> lock(helpers_.mutex);
      longLineEnd_ = std::max<uint64_t>(longLineEnd_,
                                        long_.start + piece.at + piece.size + 1);
      break;
    }
    if (last) {
      block->endOfLog = true;  // a Ctrl-Z, or the end, before a line feed
      break;
    }
  }
  if (!block->longLine.handedOver)
    draft.Discard();
  if (readAhead)
    EndReadAhead();
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
