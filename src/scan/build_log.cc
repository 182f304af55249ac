// Reading a build log line by line and collecting its compiled source files.
//
// The log is read in large blocks into one buffer and lines are found with
// memchr; a line is looked at where it lies in the buffer and is moved only
// when it straddles the end of a block. Memory is therefore bounded by the
// longest line plus the list, whatever the size of the log.

#include "scan/scan.h"

#include <cstdlib>
#include <cstring>
#include <istream>

namespace {

constexpr char kEndOfText = '\x1a';  // Ctrl-Z

// The read buffer. It grows with realloc, which lets the C library move a
// large block's pages instead of copying them: a line of hundreds of
// megabytes then costs its own size once, not three times.
struct ReadBuffer {
  char* data = nullptr;
  size_t capacity = 0;

  ReadBuffer() = default;
  ReadBuffer(const ReadBuffer&) = delete;
  ReadBuffer& operator=(const ReadBuffer&) = delete;
  ~ReadBuffer() { free(data); }

  bool Resize(size_t size) {
    void* moved = realloc(data, size);
    if (!moved)
      return false;
    data = static_cast<char*>(moved);
    capacity = size;
    return true;
  }
};

// Turns a captured path into a list entry: everything from the last dot is
// cut off and backslashes become slashes.
void AppendEntry(std::string_view sourceFile, SourceFileList* list) {
  const size_t dot = sourceFile.rfind('.');
  if (dot != std::string_view::npos)
    sourceFile = sourceFile.substr(0, dot);
  std::string& text = list->text;
  const size_t start = text.size();
  text.append(sourceFile);
  for (size_t i = start; i < text.size(); ++i) {
    if (text[i] == '\\')
      text[i] = '/';
  }
  text.push_back('\n');
  ++list->count;
}

void ScanLine(const char* begin, const char* end, SourceFileList* list) {
  if (end != begin && end[-1] == '\r')
    --end;  // CR LF is one line end
  std::string_view sourceFile;
  if (MatchCompileLine(std::string_view(begin, static_cast<size_t>(end - begin)),
                       &sourceFile))
    AppendEntry(sourceFile, list);
}

}  // namespace

std::vector<std::string> SourceFileList::Entries() const {
  std::vector<std::string> entries;
  size_t begin = 0;
  for (size_t end; (end = text.find('\n', begin)) != std::string::npos;
       begin = end + 1)
    entries.emplace_back(text, begin, end - begin);
  return entries;
}

bool ScanBuildLog(std::istream& input, SourceFileList* list,
                  size_t blockSize) {
  list->Clear();
  if (blockSize == 0)
    blockSize = kScanBlockSize;

  // The buffer holds [lineStart, filled): the start of a line not yet ended,
  // of which [lineStart, searched) is known to hold no line feed.
  ReadBuffer buffer;
  size_t lineStart = 0;
  size_t searched = 0;
  size_t filled = 0;
  for (bool atEnd = false; !atEnd;) {
    // Keep only the unfinished line, at the front, and make room for a block.
    if (lineStart > 0) {
      memmove(buffer.data, buffer.data + lineStart, filled - lineStart);
      filled -= lineStart;
      searched -= lineStart;
      lineStart = 0;
    }
    if (buffer.capacity - filled < blockSize) {
      size_t wanted = buffer.capacity * 2;
      if (wanted < filled + blockSize)
        wanted = filled + blockSize;
      if (!buffer.Resize(wanted))
        return false;
    } else if (buffer.capacity > 4 * blockSize && filled < blockSize) {
      // A long line has passed; give its memory back.
      buffer.Resize(2 * blockSize);
    }

    input.read(buffer.data + filled, static_cast<std::streamsize>(blockSize));
    size_t got = static_cast<size_t>(input.gcount());
    if (input.bad())
      return false;
    atEnd = got < blockSize;
    if (const void* stop = memchr(buffer.data + filled, kEndOfText, got)) {
      got = static_cast<size_t>(static_cast<const char*>(stop) -
                                (buffer.data + filled));
      atEnd = true;
    }
    filled += got;

    const char* const end = buffer.data + filled;
    const char* next = buffer.data + searched;
    while (const void* found = memchr(next, '\n', static_cast<size_t>(end - next))) {
      const char* lineEnd = static_cast<const char*>(found);
      ScanLine(buffer.data + lineStart, lineEnd, list);
      next = lineEnd + 1;
      lineStart = static_cast<size_t>(next - buffer.data);
    }
    searched = filled;
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
