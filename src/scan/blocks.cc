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

// An entry read again from the log file goes in pieces of this size.
constexpr size_t kFilePiece = size_t{256} << 10;
// As much of a refused entry as its message shows, and a little more.
constexpr size_t kShownBeginning = 256;

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
