// Reading a build log line by line and collecting its compiled source files.
//
// The log is read in large blocks into one buffer and lines are found with
// memchr; a line is looked at where it lies in the buffer and is moved only
// when it straddles the end of a block. Memory is therefore bounded by the
// longest line plus the list, whatever the size of the log.

#include "scan/scan.h"

#include <algorithm>
#include <cstring>
#include <istream>
#include <utility>

#include "scan/plain_path.h"
#include "scan/utf16.h"

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

// The scan's buffer: [lineStart, filled) is a line not yet ended.
struct ScanBuffer {
  MemoryBlock block;
  size_t lineStart = 0;
  size_t filled = 0;

  // Moves the unfinished line to the front of `to`.
  void MoveLineTo(char* to) {
    filled -= lineStart;
    if (filled > 0)
      memmove(to, block.data() + lineStart, filled);
    lineStart = 0;
  }

  // Keeps only the unfinished line, at the front, with room for a block
  // after it. A line that outgrows the buffer doubles it; once it has
  // ended, the memory goes back.
  bool MakeRoom(size_t blockSize) {
    if (lineStart > 0)
      MoveLineTo(block.data());
    if (block.capacity() - filled < blockSize)
      return block.Resize(std::max(2 * block.capacity(), filled + blockSize));
    if (block.capacity() > 4 * blockSize && filled < blockSize)
      block.Resize(2 * blockSize);
    return true;
  }
};

// Keeps the entry at `entry` (without its line feed), or refuses it when the
// scan is strict and it is no plain relative path.
bool Accept(const char* entry, size_t length, uint64_t line,
            SourceFileList* list) {
  if (!list->strict || IsPlainRelativePath(std::string_view(entry, length)))
    return true;
  list->refused.line = line;
  list->refused.entry.assign(entry, length);
  return false;
}

// Examines the line [begin, end) of `buffer`, line number `line` of the log,
// and adds its entry, if any.
bool ScanLine(size_t begin, size_t end, uint64_t line, size_t blockSize,
              ScanBuffer* buffer, SourceFileList* list) {
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
    const size_t length = WriteEntry(sourceFile, out);
    if (!Accept(out, length - 1, line, list))
      return false;
    list->Extend(length);
    return true;
  }

  // A huge entry is made in place, and the buffer that holds it becomes a
  // piece of the list. What follows the line came with the last read, less
  // than a block, so the fresh buffer keeps it with room for another read.
  const size_t pathStart = static_cast<size_t>(sourceFile.data() - data);
  const size_t entryEnd = pathStart + WriteEntry(sourceFile, data + pathStart);
  if (!Accept(data + pathStart, entryEnd - pathStart - 1, line, list))
    return false;
  MemoryBlock fresh(2 * blockSize);
  if (!fresh.data())
    return false;
  buffer->MoveLineTo(fresh.data());
  std::swap(buffer->block, fresh);
  list->Adopt(std::move(fresh), pathStart, entryEnd);
  return true;
}

// The scan of the log's text, `input`, into `list`.
bool ScanText(std::istream& input, SourceFileList* list, size_t blockSize) {
  ScanBuffer buffer;
  uint64_t line = 0;
  for (bool atEnd = false; !atEnd;) {
    if (!buffer.MakeRoom(blockSize))
      return false;
    // The unfinished line before this read holds no line feed.
    size_t searchFrom = buffer.filled;
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

    // A line may hand the buffer to the list, so its address is taken anew.
    while (const void* found = memchr(buffer.block.data() + searchFrom, '\n',
                                      buffer.filled - searchFrom)) {
      const size_t lineEnd = static_cast<size_t>(
          static_cast<const char*>(found) - buffer.block.data());
      const size_t lineStart = buffer.lineStart;
      buffer.lineStart = lineEnd + 1;
      if (!ScanLine(lineStart, lineEnd, ++line, blockSize, &buffer, list))
        return false;
      searchFrom = buffer.lineStart;
    }
    if (list->sink)
      list->Drain();
  }
  // What is left is a last line without a line feed: it does not count.
  return true;
}

}  // namespace

bool ScanBuildLog(std::istream& input, SourceFileList* list,
                  size_t blockSize) {
  list->Clear();
  if (blockSize == 0)
    blockSize = kScanBlockSize;
  const Utf16Order order = ReadByteOrderMark(input);
  if (order == Utf16Order::kNone)
    return ScanText(input, list, blockSize);
  Utf16Buffer decoded(input, order);
  std::istream text(&decoded);
  return ScanText(text, list, blockSize) && !decoded.failed();
}

bool ScanBuildLog(LogFile& input, SourceFileList* list) {
  std::istream stream(&input);
  const bool complete = ScanBuildLog(stream, list, kScanBlockSize);
  input.Close();
  return complete && !input.failed();
}
