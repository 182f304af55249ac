#include "cli/list_file.h"

#include <cerrno>
#include <chrono>
#include <cstdint>

namespace {

// Tries at names that are taken before giving up on a temporary file.
constexpr int kNameAttempts = 100;

// Six letters and digits, another six on every call.
std::string NextSuffix(uint64_t* state) {
  static const char kCharacters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  *state = *state * 6364136223846793005u + 1442695040888963407u;
  uint64_t bits = *state >> 20;
  std::string suffix(6, '0');
  for (char& c : suffix) {
    c = kCharacters[bits % 36];
    bits /= 36;
  }
  return suffix;
}

}  // namespace

ListFile::ListFile(const std::string& outputPath) : outputPath_(outputPath) {
  const ListTarget target = InspectListTarget(outputPath, &replaced_);
  if (target == ListTarget::kInPlace)
    return;
  // ".<name>.kestrane-XXXXXX" beside the file it replaces, so that the
  // rename stays within one file system.
  const size_t name = replaced_.find_last_of(kPathSeparators) + 1;
  const std::string prefix = replaced_.substr(0, name) + "." +
                             replaced_.substr(name) + ".kestrane-";
  // Two runs at the same moment differ at least in where their stacks lie.
  uint64_t state =
      static_cast<uint64_t>(
          std::chrono::steady_clock::now().time_since_epoch().count()) ^
      reinterpret_cast<uintptr_t>(this);
  const char* existing =
      target == ListTarget::kRegularFile ? replaced_.c_str() : nullptr;
  for (int attempt = 0; attempt < kNameAttempts && temporary_ < 0; ++attempt) {
    temporaryPath_ = prefix + NextSuffix(&state);
    temporary_ = CreateTemporaryListFile(temporaryPath_, existing);
    if (temporary_ < 0 && errno != EEXIST)
      break;
  }
  if (temporary_ < 0)
    temporaryPath_.clear();  // the list is kept in memory and written in place
}

ListFile::~ListFile() { Discard(); }

void ListFile::Write(const char* data, size_t size) {
  if (!failed_ && !WriteListText(temporary_, data, size))
    failed_ = true;
}

ListFile::Outcome ListFile::Keep(const SourceFileList& list) {
  int file = temporary_;
  if (file < 0) {
    file = OpenListFileInPlace(outputPath_);
    if (file < 0)
      return Outcome::kOpenFailed;
  }
  bool written = !failed_;
  for (const SourceFileList::Piece& piece : list.pieces)
    written = written && WriteListText(file, piece.block.data() + piece.begin,
                                       piece.end - piece.begin);
  temporary_ = -1;
  written = CloseListFile(file) && written;
  if (temporaryPath_.empty())
    return written ? Outcome::kKept : Outcome::kWriteFailed;
  if (!written || !ReplaceWithTemporary(temporaryPath_, replaced_)) {
    Discard();
    return Outcome::kWriteFailed;
  }
  temporaryPath_.clear();
  return Outcome::kKept;
}

void ListFile::Discard() {
  if (temporary_ >= 0)
    CloseListFile(temporary_);  // Windows removes no open file
  temporary_ = -1;
  if (!temporaryPath_.empty())
    RemoveListFile(temporaryPath_);
  temporaryPath_.clear();
}
