#include "cli/list_file.h"

#include <chrono>

TemporaryNames::TemporaryNames(const std::string& replaced) {
  const size_t name = replaced.find_last_of(kPathSeparators) + 1;
  folder_ = replaced.substr(0, name);
  name_ = replaced.substr(name);
  // Two runs at the same moment differ at least in where their stacks lie;
  // a name that is taken all the same is tried again.
  state_ = static_cast<uint64_t>(
               std::chrono::steady_clock::now().time_since_epoch().count()) ^
           reinterpret_cast<uintptr_t>(this);
}

namespace {

constexpr std::string_view kTemporaryMark = ".kestrane-";
constexpr size_t kTemporaryLetters = 6;
constexpr char kTemporaryCharacters[] = "abcdefghijklmnopqrstuvwxyz0123456789";

}  // namespace

bool IsTemporaryListName(std::string_view name) {
  const size_t tail = kTemporaryMark.size() + kTemporaryLetters;
  if (name.size() < tail || name[0] != '.')
    return false;
  const std::string_view end = name.substr(name.size() - tail);
  return end.substr(0, kTemporaryMark.size()) == kTemporaryMark &&
         end.find_first_not_of(kTemporaryCharacters, kTemporaryMark.size()) ==
             std::string_view::npos;
}

std::string TemporaryNames::Next(bool shortName) {
  state_ = state_ * 6364136223846793005u + 1442695040888963407u;
  uint64_t bits = state_ >> 20;
  std::string suffix(kTemporaryLetters, '0');
  for (char& c : suffix) {
    c = kTemporaryCharacters[bits % 36];
    bits /= 36;
  }
  return folder_ + (shortName ? "" : "." + name_) +
         std::string(kTemporaryMark) + suffix;
}

ListFile::ListFile(const std::string& outputPath)
    : outputPath_(outputPath), place_(InspectListTarget(outputPath)) {
  switch (place_.kind) {
    case ListPlace::kRefused:
      failure_ = Outcome::kOpenFailed;
      sink_ = &drain_;
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
      sink_ = this;
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
  sink_ = &drain_;
}

ListFile::~ListFile() { DiscardTemporaryListFile(&temporary_); }

void ListFile::Write(const char* data, size_t size) {
  uint64_t written = 0;
  if (!failed_ && !WriteListText(temporary_.file, data, size, &written))
    failed_ = true;
  if (!failed_)
    StartWriteback(temporary_);
}

ListFile::Outcome ListFile::Keep(const SourceFileList& list) {
  if (failure_ != Outcome::kKept)
    return failure_;
  if (temporary_.file == kNoFile)
    return KeepInPlace(list);
  if (place_.kind == ListPlace::kRegularFile && !MayWriteList(place_.replaced))
    return Outcome::kOpenFailed;
  bool written = !failed_;
  uint64_t size = 0;
  for (const SourceFileList::Piece& piece : list.pieces)
    written = written && WriteListText(temporary_.file,
                                       piece.block.data(), piece.used, &size);
  if (written && KeepTemporaryListFile(&temporary_, place_)) {
    temporary_.path.clear();  // it is the list now
    return Outcome::kKept;
  }
  DiscardTemporaryListFile(&temporary_);
  return Outcome::kWriteFailed;
}

ListFile::Outcome ListFile::KeepInPlace(const SourceFileList& list) {
  const bool own = place_.kind != ListPlace::kDescriptor;
  const NativeFile file =
      own ? OpenListFileInPlace(outputPath_) : place_.descriptor;
  if (file == kNoFile)
    return Outcome::kOpenFailed;
  // Room for the text with a CR before each line feed is enough everywhere.
  bool written = ReserveListFile(file, list.size() + list.count);
  uint64_t size = 0;
  for (const SourceFileList::Piece& piece : list.pieces)
    written = written && WriteListText(file, piece.block.data(), piece.used, &size);
  written = written && EndListFile(file, size);
  if (own)
    written = CloseListFile(file) && written;
  return written ? Outcome::kKept : Outcome::kWriteFailed;
}
