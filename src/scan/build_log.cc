// Reading a build log line by line and collecting its compiled source files.
//
// The log is read in large blocks into one buffer and lines are found with
// memchr; a line is looked at where it lies in the buffer and is moved only
// when it straddles the end of a block. Memory is therefore bounded by the
// longest line plus the list, whatever the size of the log.

#include "scan/scan.h"

#include <cstring>
#include <istream>
#include <utility>

namespace {

constexpr char kEndOfText = '\x1a';  // Ctrl-Z

// An entry this long is not copied into the list: the list takes over the
// read buffer that holds it, and reading goes on in a fresh one.
constexpr size_t kAdoptedEntry = size_t{1} << 20;

// Turns a captured path into a list entry at `out`: everything from the last
// dot is cut off, backslashes become slashes, a line feed ends it. Returns
// the entry's length with its line feed. `out` may be the path itself.
size_t WriteEntry(std::string_view sourceFile, char* out) {
  const size_t dot = sourceFile.rfind('.');
  const size_t length = dot == std::string_view::npos ? sourceFile.size() : dot;
  const char* in = sourceFile.data();
  for (size_t i = 0; i < length; ++i)
    out[i] = in[i] == '\\' ? '/' : in[i];
  out[length] = '\n';
  return length + 1;
}

// The scan's buffer: [lineStart, filled) is a line not yet ended, of which
// [lineStart, searched) is known to hold no line feed.
struct ScanBuffer {
  MemoryBlock block;
  size_t lineStart = 0;
  size_t searched = 0;
  size_t filled = 0;

  // Moves the unfinished line to `into`, which becomes the buffer; returns
  // the block that was the buffer before.
  MemoryBlock Replace(MemoryBlock into) {
    const size_t kept = filled - lineStart;
    if (kept > 0)
      memcpy(into.data(), block.data() + lineStart, kept);
    std::swap(block, into);
    searched -= lineStart;
    filled = kept;
    lineStart = 0;
    return into;
  }

  // Keeps only the unfinished line, at the front, with room for a block
  // after it. A line that outgrows the buffer doubles it; once it has
  // ended, the memory goes back.
  bool MakeRoom(size_t blockSize) {
    const size_t kept = filled - lineStart;
    if (lineStart > 0) {
      memmove(block.data(), block.data() + lineStart, kept);
      searched -= lineStart;
      filled = kept;
      lineStart = 0;
    }
    if (block.capacity() - kept < blockSize) {
      const size_t doubled = 2 * block.capacity();
      return block.Resize(doubled > kept + blockSize ? doubled
                                                     : kept + blockSize);
    }
    if (block.capacity() > 4 * blockSize && kept < blockSize)
      block.Resize(2 * blockSize);
    return true;
  }
};

// Examines the line [begin, end) of `buffer` and adds its entry, if any.
bool ScanLine(size_t begin, size_t end, size_t blockSize, ScanBuffer* buffer,
              SourceFileList* list) {
  char* const data = buffer->block.data();
  if (end != begin && data[end - 1] == '\r')
    --end;  // CR LF is one line end
  std::string_view sourceFile;
  if (!MatchCompileLine(std::string_view(data + begin, end - begin),
                        &sourceFile))
    return true;
  if (sourceFile.size() < kAdoptedEntry) {
    char* out = list->Reserve(sourceFile.size() + 1);
    if (!out)
      return false;
    list->Extend(WriteEntry(sourceFile, out));
    ++list->count;
    return true;
  }

  // A huge entry is made in place, and the buffer that holds it becomes a
  // piece of the list.
  const size_t pathStart = static_cast<size_t>(sourceFile.data() - data);
  const size_t entryEnd = pathStart + WriteEntry(sourceFile, data + pathStart);
  const size_t kept = buffer->filled - buffer->lineStart;
  MemoryBlock fresh(kept + blockSize > 2 * blockSize ? kept + blockSize
                                                     : 2 * blockSize);
  if (!fresh.data())
    return false;
  list->Adopt(buffer->Replace(std::move(fresh)), pathStart, entryEnd, 1);
  return true;
}

}  // namespace

bool ScanBuildLog(std::istream& input, SourceFileList* list,
                  size_t blockSize) {
  list->Clear();
  if (blockSize == 0)
    blockSize = kScanBlockSize;

  ScanBuffer buffer;
  for (bool atEnd = false; !atEnd;) {
    if (!buffer.MakeRoom(blockSize))
      return false;
    char* const data = buffer.block.data();
    input.read(data + buffer.filled, static_cast<std::streamsize>(blockSize));
    size_t got = static_cast<size_t>(input.gcount());
    if (input.bad())
      return false;
    atEnd = got < blockSize;
    if (const void* stop = memchr(data + buffer.filled, kEndOfText, got)) {
      got = static_cast<size_t>(static_cast<const char*>(stop) -
                                (data + buffer.filled));
      atEnd = true;
    }
    buffer.filled += got;

    while (const void* found = memchr(buffer.block.data() + buffer.searched,
                                      '\n', buffer.filled - buffer.searched)) {
      const size_t lineEnd =
          static_cast<size_t>(static_cast<const char*>(found) -
                              buffer.block.data());
      buffer.searched = lineEnd + 1;
      const size_t lineStart = buffer.lineStart;
      buffer.lineStart = lineEnd + 1;
      if (!ScanLine(lineStart, lineEnd, blockSize, &buffer, list))
        return false;
    }
    buffer.searched = buffer.filled;
  }
  // What is left is a last line without a line feed: it does not count.
  return true;
}

bool ScanBuildLog(std::ifstream& input, SourceFileList* list) {
  const bool complete =
      ScanBuildLog(static_cast<std::istream&>(input), list, kScanBlockSize);
  input.close();
  return complete;
}
