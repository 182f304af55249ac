#include "scan/log_file.h"

#include <algorithm>

namespace {

// The first bytes of a log, read again when it has been read, to tell a log
// rewritten from its start meanwhile.
constexpr size_t kFirstBytes = size_t{64} << 10;

}  // namespace

bool LogFile::Open(const std::string& path) {
  Close();
  failed_ = false;
  position_ = 0;
  first_.clear();
  if (!OpenFile(path))
    return false;
  sizeAtOpen_ = CurrentSize();
  return true;
}

void LogFile::Close() {
  if (file_ == kNoFile)
    return;
  if (sizeAtOpen_ >= 0 && !failed_ && !first_.empty()) {
    std::string again(first_.size(), '\0');
    if (ReadSome(0, &again[0], again.size()) != static_cast<int64_t>(again.size()) ||
        again != first_)
      failed_ = true;
  }
  CloseFile();
  file_ = kNoFile;
}

// A regular file that is now shorter than it was when it was opened, or
// than what was read of it, was cut while it was read: rewritten from its
// start, perhaps, by the build that makes it. No system counts truncations,
// so this is looked at after every read, and once more at the end, where
// the file's first bytes are compared with what was read of them (Close).
// A file that only grows is read as far as it reached.
void LogFile::CheckSize() {
  if (sizeAtOpen_ < 0)
    return;
  const int64_t now = CurrentSize();
  if (now < sizeAtOpen_ || static_cast<uint64_t>(now) < position_)
    failed_ = true;
}

int64_t LogFile::Read(char* data, size_t size) {
  if (failed_)
    return -1;
  const int64_t got =
      ReadSome(sizeAtOpen_ >= 0 ? static_cast<int64_t>(position_) : -1, data, size);
  if (got < 0) {
    failed_ = true;
    return -1;
  }
  // A regular file ends no sooner than it did when it was opened.
  if (got == 0 && sizeAtOpen_ >= 0 && position_ < static_cast<uint64_t>(sizeAtOpen_))
    failed_ = true;
  if (position_ == first_.size() && position_ < kFirstBytes)
    first_.append(data, static_cast<size_t>(std::min<uint64_t>(
                            static_cast<uint64_t>(got), kFirstBytes - position_)));
  position_ += static_cast<uint64_t>(got);
  CheckSize();
  return failed_ ? -1 : got;
}

bool LogFile::ReadAt(uint64_t at, char* data, size_t size) {
  if (!CanReadAgain())
    return false;
  for (size_t done = 0; done < size;) {
    const int64_t got =
        ReadSome(static_cast<int64_t>(at + done), data + done, size - done);
    if (got <= 0)
      return false;
    done += static_cast<size_t>(got);
  }
  CheckSize();
  return !failed_;
}
