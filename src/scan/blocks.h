// What the two ways of reading a log share: the block, a stretch of the log
// scanned on its own; the entry of a line too long for a block; the helping
// threads; and the handing of the blocks' entries to the list, in log order.
#ifndef KESTRANE_SCAN_BLOCKS_H_
#define KESTRANE_SCAN_BLOCKS_H_

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "scan/line_scan.h"
#include "scan/memory_block.h"
#include "scan/scan.h"

/// An entry this long is not copied: the list takes over the buffer of the
/// line that holds it, where it was made in place.
constexpr size_t kAdoptedEntry = size_t{1} << 20;

/// The entry of a line longer than a block, made on its own.
struct LongEntry {
  bool line = false;     // such a line ended in the block
  bool refused = false;  // with strict: its entry is no plain relative path
  MemoryBlock text;      // the entry, with its line feed, at [begin, end)
  size_t begin = 0;
  size_t end = 0;
  // Or, in a log read as a file, where it is: bytes [offset, offset + length)
  // of the file, backslashes and all. It is read again as it is handed to
  // the list, so that a line of any length costs no memory.
  bool inFile = false;
  uint64_t offset = 0;
  uint64_t length = 0;
  // Or the entry was handed to the list's sink as the line was read.
  bool handedOver = false;
};

/// A stretch of the log, scanned on its own: whole lines, then perhaps a line
/// too long for a block.
struct Block {
  MemoryBlock text;  // what was read, where the block keeps it; kScanPadding
                     // bytes of room after it
  MemoryBlock out;   // the entries of its whole lines
  LineScan scan;
  LongEntry longLine;
  // In a log file: where its last line begins, when that line is longer than
  // a block and is yet to be followed; -1 when there is none.
  int64_t longLineAt = -1;
  bool endOfLog = false;  // the log ends in it (its end, or a Ctrl-Z)
  bool failed = false;    // reading failed, or memory ran out
  bool done = false;      // ready to be handed to the list

  /// Room for the entries of `capacity` bytes of text, and with `keepText`
  /// for the text itself.
  bool Allocate(size_t capacity, bool keepText);
  /// Ready to be filled anew; `done` is left to the caller, who guards it.
  void Reset();
  /// Scans the `size` bytes of whole lines at `text` (kScanPadding bytes of
  /// room after them).
  void ScanText(const char* text, size_t size, bool strict);
};

/// The threads that help a scan, and what they and the scan's own thread
/// share to take turns. Destroyed, it tells them to stop and waits for them,
/// so it comes last among the members of what they work on.
class Helpers {
 public:
  Helpers() = default;
  ~Helpers();
  Helpers(const Helpers&) = delete;
  Helpers& operator=(const Helpers&) = delete;

  /// Starts up to `count` threads that run `work`: without them the scan is
  /// the same, only slower.
  void Start(int count, const std::function<void()>& work);
  bool none() const { return threads_.empty(); }

  std::mutex mutex;
  std::condition_variable changed;
  bool stopping = false;  // under `mutex`: the work is to end

 private:
  std::vector<std::thread> threads_;
};

/// Hands blocks to a list, in the order of the log.
class BlockDelivery {
 public:
  /// `file`: the log, where entries are to be read from it again.
  explicit BlockDelivery(SourceFileList* list, LogFile* file = nullptr)
      : list_(list), file_(file) {}

  /// Adds the block's entries; false when the scan must stop before the
  /// block's end: an entry was refused, or memory ran out.
  bool Deliver(Block* block) {
    return DeliverLines(block) && (ended_ || DeliverLongLine(block));
  }
  /// Deliver() in two steps: the entries of the block's whole lines, then,
  /// unless those ended the log, the entry of the long line after them.
  bool DeliverLines(Block* block);
  bool DeliverLongLine(Block* block);
  /// A Ctrl-Z, or the end of the log, was met: what follows does not count.
  bool ended() const { return ended_; }

 private:
  bool DeliverFromFile(const LongEntry& entry);
  void Refuse(const char* entry, size_t size, uint64_t length);

  SourceFileList* list_;
  LogFile* file_;
  uint64_t lines_ = 0;  // lines of the blocks handed over
  bool ended_ = false;
};

#endif  // KESTRANE_SCAN_BLOCKS_H_
