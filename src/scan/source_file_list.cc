#include "scan/scan.h"

#include <algorithm>
#include <cstring>

namespace {

// The first piece is small, for the many short lists; the next ones are
// large enough for huge pages and double up to a size where the cost of a
// new piece no longer matters.
constexpr size_t kFirstPiece = size_t{64} << 10;
constexpr size_t kSecondPiece = size_t{2} << 20;
constexpr size_t kMaxDoublings = 3;  // up to 16 MiB
constexpr size_t kLargestPiece = kSecondPiece << kMaxDoublings;

}  // namespace

void SourceFileList::Clear() {
  pieces.clear();
  count = 0;
  refused = RefusedEntry();
}

char* SourceFileList::Reserve(size_t length) {
  size_t capacity = kFirstPiece;
  if (!pieces.empty()) {
    Piece& last = pieces.back();
    if (last.block.capacity() - last.end >= length)
      return last.block.data() + last.end;
    capacity = kSecondPiece << std::min(pieces.size() - 1, kMaxDoublings);
  }
  MemoryBlock block(std::max(capacity, length));
  if (!block.data())
    return nullptr;
  pieces.push_back(Piece{std::move(block), 0, 0});
  return pieces.back().block.data();
}

bool SourceFileList::Append(std::string_view entry) {
  char* out = Reserve(entry.size() + 1);
  if (!out)
    return false;
  if (!entry.empty())
    memcpy(out, entry.data(), entry.size());
  out[entry.size()] = '\n';
  Extend(entry.size() + 1);
  return true;
}

bool SourceFileList::AppendEntries(const char* text, size_t size,
                                   uint64_t entries) {
  count += entries;
  if (sink) {
    Drain();  // what came before goes first
    if (size > 0)
      sink->Write(text, size);
    return true;
  }
  if (size == 0)
    return true;
  char* out = Reserve(size);
  if (!out)
    return false;
  memcpy(out, text, size);
  pieces.back().end += size;
  return true;
}

void SourceFileList::Adopt(MemoryBlock block, size_t begin, size_t end) {
  pieces.push_back(Piece{std::move(block), begin, end});
  ++count;
}

void SourceFileList::Drain() {
  if (pieces.empty())
    return;
  for (const Piece& piece : pieces)
    sink->Write(piece.block.data() + piece.begin, piece.end - piece.begin);
  // The block of a huge entry goes; an ordinary one takes the next entries.
  MemoryBlock last = std::move(pieces.back().block);
  pieces.clear();
  if (last.capacity() <= kLargestPiece)
    pieces.push_back(Piece{std::move(last), 0, 0});
}

uint64_t SourceFileList::size() const {
  uint64_t total = 0;
  for (const Piece& piece : pieces)
    total += piece.end - piece.begin;
  return total;
}

std::string SourceFileList::Text() const {
  std::string text;
  for (const Piece& piece : pieces)
    text.append(piece.block.data() + piece.begin, piece.end - piece.begin);
  return text;
}

std::vector<std::string> SourceFileList::Entries() const {
  const std::string text = Text();
  std::vector<std::string> entries;
  size_t begin = 0;
  for (size_t end; (end = text.find('\n', begin)) != std::string::npos;
       begin = end + 1)
    entries.emplace_back(text, begin, end - begin);
  return entries;
}
