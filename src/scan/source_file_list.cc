#include "scan/scan.h"

#include <algorithm>
#include <cstring>

namespace {

// The first piece is small, for the many short lists; the next ones are
// large enough for a huge page each.
constexpr size_t kFirstPiece = size_t{64} << 10;
constexpr size_t kNextPiece = size_t{2} << 20;
// Text this large goes to a sink at once rather than through a block.
constexpr size_t kHandedOverAtOnce = size_t{64} << 10;

}  // namespace

void LineText::Clear() {
  pieces.clear();
  count = 0;
}

char* LineText::NewPiece(size_t length) {
  MemoryBlock block(std::max(pieces.empty() ? kFirstPiece : kNextPiece, length));
  if (!block.data())
    return nullptr;
  pieces.push_back(Piece{std::move(block), 0});
  return pieces.back().block.data();
}

bool LineText::AppendText(const char* text, size_t size) {
  if (sink && size >= kHandedOverAtOnce) {
    Drain();  // what came before goes first
    sink->Write(text, size);
    return true;
  }
  char* out = Room(size);
  if (!out)
    return false;
  if (size > 0)
    memcpy(out, text, size);
  Extend(size);
  return true;
}

void LineText::Drain() {
  for (Piece& piece : pieces) {
    if (piece.used > 0)
      sink->Write(piece.block.data(), piece.used);
    piece.used = 0;
  }
  // The last block takes what comes next.
  if (pieces.size() > 1)
    pieces.erase(pieces.begin(), pieces.end() - 1);
}

uint64_t LineText::size() const {
  uint64_t total = 0;
  for (const Piece& piece : pieces)
    total += piece.used;
  return total;
}
