// Reading a build log as a stream (a pipe, a device, a UTF-16 log as its
// UTF-8 text) and collecting its compiled source files.
//
// The log is read in blocks, and each block is cut after its last line end:
// what follows is carried to the front of the next. So every block holds
// whole lines, which are scanned on their own (line_scan.h): by this thread,
// or by a second one as well while this one reads ahead and hands the
// entries of the blocks that are done to the list, in the order of the log.
// A few blocks are under way at a time, whatever the size of the log. A line
// too long for a block is followed on its own (blocks.h). Regular files are
// read another way, by both threads at once (file_scan.h).

#include "scan/scan.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <istream>
#include <mutex>
#include <vector>

#include "scan/blocks.h"
#include "scan/byte_masks.h"
#include "scan/file_scan.h"
#include "scan/utf16.h"

namespace {

// Blocks under way at a time with a second thread: one read ahead, one
// scanned by each thread, one waiting to be handed over.
constexpr size_t kBlocksUnderWay = 4;

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
