#include "cli/list_file.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr std::string_view kTemporaryMark = ".kestrane-";
constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr size_t kLetterCount = sizeof kLetters - 1;
static_assert(kLetterCount == 36, "letters and digits");

// 64 well-mixed bits from a state that merely counts (splitmix64).
uint64_t Mix(uint64_t* state) {
  uint64_t z = *state += 0x9E3779B97F4A7C15u;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return z ^ (z >> 31);
}

// FNV-1a: the list's whole name in the short form of its temporary names.
uint32_t NameHash(std::string_view name) {
  uint32_t hash = 2166136261u;
  for (const char c : name)
    hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  return hash;
}

}  // namespace

TemporaryNames::TemporaryNames(const std::string& replaced) {
  const size_t name = replaced.find_last_of(kPathSeparators) + 1;
  folder_ = replaced.substr(0, name);
  const std::string_view listName = std::string_view(replaced).substr(name);
  full_ = "." + std::string(listName) + std::string(kTemporaryMark);
  static const char kHex[] = "0123456789abcdef";
  std::string hash(8, '0');
  for (uint32_t bits = NameHash(listName), i = 8; i > 0; bits >>= 4)
    hash[--i] = kHex[bits & 15];
  short_ = "." + std::string(listName.substr(0, kShortBeginning)) + "~" + hash +
           std::string(kTemporaryMark);
  // Runs at the same moment differ at least in where their stacks lie, and
  // in the clock's last digits; a name that is taken all the same is tried
  // again.
  const uint64_t local = 0;
  state_ = static_cast<uint64_t>(
               std::chrono::steady_clock::now().time_since_epoch().count()) ^
           static_cast<uint64_t>(
               std::chrono::system_clock::now().time_since_epoch().count()) *
               31 ^
           reinterpret_cast<uintptr_t>(&local);
}

std::string TemporaryNames::Next(bool shortName) {
  std::string name = folder_ + (shortName ? short_ : full_);
  uint64_t bits = 0;
  for (size_t i = 0; i < kRandomLetters; ++i) {
    if (i % 12 == 0)  // twelve letters take 62 of the 64 bits
      bits = Mix(&state_);
    name += kLetters[bits % kLetterCount];
    bits /= kLetterCount;
  }
  return name;
}

bool TemporaryNames::Gives(std::string_view name) const {
  if (name.size() < kRandomLetters)
    return false;
  const std::string_view before = name.substr(0, name.size() - kRandomLetters);
  return (before == full_ || before == short_) &&
         name.find_first_not_of(kLetters, before.size()) == std::string_view::npos;
}

FileIdentity IdentifyListPlace(const ListPlace& place) {
  FileIdentity identity;
  if (place.kind == ListPlace::kDescriptor)
    identity.kind = FileIdentity::kShared;
  else if (place.kind != ListPlace::kRefused)
    identity = IdentifyFile(place.replaced);
  return identity;
}

bool IsListText(const LineText& list, std::string_view text) {
  const std::string_view lineEnd(kListLineEnd);
  size_t at = 0;  // in `text`
  for (const LineText::Piece& piece : list.pieces) {
    const std::string_view written(piece.block.data(), piece.used);
    for (size_t begin = 0; begin < written.size();) {
      const size_t lineFeed = std::min(written.find('\n', begin), written.size());
      const std::string_view line = written.substr(begin, lineFeed - begin);
      if (text.substr(at, line.size()) != line)
        return false;
      at += line.size();
      if (lineFeed < written.size()) {
        if (text.substr(at, lineEnd.size()) != lineEnd)
          return false;
        at += lineEnd.size();
      }
      begin = lineFeed + 1;
    }
  }
  return at == text.size();
}

ListFile::ListFile(const std::string& outputPath, bool inMemory)
    : outputPath_(outputPath), place_(InspectListTarget(outputPath)) {
  switch (place_.kind) {
    case ListPlace::kRefused:
      failure_ = Outcome::kOpenFailed;
      sink_ = &discard_;
      return;
    case ListPlace::kDescriptor:
    case ListPlace::kInPlace:
      return;  // kept in memory until the log has been read
    case ListPlace::kNewFile:
    case ListPlace::kRegularFile:
      break;
  }
  switch (MakeTemporaryListFile(place_, &temporary_)) {
    case Made::kMade:
      sink_ = inMemory ? nullptr : this;
      return;
    case Made::kInPlace:
      return;  // kept in memory until the log has been read
    case Made::kOpenFailed:
      failure_ = Outcome::kOpenFailed;
      break;
    case Made::kWriteFailed:
      failure_ = Outcome::kWriteFailed;
      break;
  }
  // The log is still read to its end, for its errors come first; the list
  // goes nowhere.
  sink_ = &discard_;
}

ListFile::~ListFile() {
  DiscardTemporaryListFile(&temporary_);
  // Room made past the end of a list that was not written goes again.
  if (inPlace_.grownFrom >= 0)
    EndListFile(inPlace_.file, static_cast<uint64_t>(inPlace_.grownFrom));
  if (place_.kind != ListPlace::kDescriptor)
    CloseListFile(&inPlace_);
}

void ListFile::Write(const char* data, size_t size) {
  uint64_t written = 0;
  if (!failed_ && !WriteListText(temporary_.file, data, size, &written))
    failed_ = true;
  if (!failed_)
    StartWriteback(temporary_);
}

ListFile::Outcome ListFile::Prepare(const LineText& list) {
  if (failure_ != Outcome::kKept)
    return failure_;
  if (temporary_.file == kNoFile) {
    // Written in place by Commit(): opened, locked and given room now.
    const bool own = place_.kind != ListPlace::kDescriptor;
    if (!own)
      inPlace_.file = place_.descriptor;
    else if (!OpenListFileInPlace(outputPath_, &inPlace_))
      return failure_ = Outcome::kOpenFailed;
    // Room for the text as written, no more: past a caller's descriptor,
    // which is not cut at the list's end, spare room would stay as zeros.
    const uint64_t lineEndBytes = std::string_view(kListLineEnd).size();
    if (!ReserveListFile(&inPlace_, list.size() + list.count * (lineEndBytes - 1), own))
      return failure_ = Outcome::kWriteFailed;
    inMemory_ = &list;
    return Outcome::kKept;
  }
  if (place_.kind == ListPlace::kRegularFile && !MayWriteList(place_.replaced))
    return failure_ = Outcome::kOpenFailed;
  bool written = !failed_;
  uint64_t size = 0;
  for (const LineText::Piece& piece : list.pieces)
    written = written && WriteListText(temporary_.file,
                                       piece.block.data(), piece.used, &size);
  if (written && FinishTemporaryListFile(&temporary_, place_))
    return Outcome::kKept;
  DiscardTemporaryListFile(&temporary_);
  return failure_ = Outcome::kWriteFailed;
}

ListFile::Outcome ListFile::Commit() {
  if (failure_ != Outcome::kKept)
    return failure_;
  if (!inMemory_) {
    if (PutTemporaryListFile(&temporary_, place_)) {
      temporary_.path.clear();  // it is the list now
      return Outcome::kKept;
    }
    DiscardTemporaryListFile(&temporary_);
    return Outcome::kWriteFailed;
  }
  bool written = true;
  uint64_t size = 0;
  for (const LineText::Piece& piece : inMemory_->pieces)
    written = written && WriteListText(inPlace_.file, piece.block.data(),
                                       piece.used, &size);
  inPlace_.grownFrom = -1;
  // The caller's descriptor goes on where the list ends, and stays open.
  if (place_.kind != ListPlace::kDescriptor) {
    written = written && EndListFile(inPlace_.file, size);
    written = CloseListFile(&inPlace_) && written;
  }
  return written ? Outcome::kKept : Outcome::kWriteFailed;
}
