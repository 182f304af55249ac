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
  setg(nullptr, nullptr, nullptr);
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

std::streamsize LogFile::xsgetn(char* data, std::streamsize size) {
  std::streamsize got = 0;
  // What underflow() holds comes first.
  for (; gptr() < egptr() && got < size; gbump(1))
    data[got++] = *gptr();
  const uint64_t from = position_;
  while (got < size && !failed_) {
    const int64_t read =
        ReadSome(sizeAtOpen_ >= 0 ? static_cast<int64_t>(position_) : -1,
                 data + got, static_cast<size_t>(size - got));
    if (read < 0) {
      failed_ = true;
      break;
    }
    if (read == 0) {
      // A regular file ends no sooner than it did when it was opened.
      if (sizeAtOpen_ >= 0 && position_ < static_cast<uint64_t>(sizeAtOpen_))
        failed_ = true;
      break;
    }
    position_ += static_cast<uint64_t>(read);
    got += static_cast<std::streamsize>(read);
  }
  if (from == first_.size() && from < kFirstBytes)
    first_.append(data + (got - static_cast<std::streamsize>(position_ - from)),
                  static_cast<size_t>(std::min<uint64_t>(position_, kFirstBytes) - from));
  CheckSize();
  return got;
}

LogFile::int_type LogFile::underflow() {
  if (gptr() < egptr())
    return traits_type::to_int_type(*gptr());
  // The byte before is kept, so that one byte can be put back.
  const bool before = gptr() != nullptr && gptr() > eback();
  if (before)
    held_[0] = gptr()[-1];
  char* const next = held_ + 1;
  if (xsgetn(next, 1) != 1)
    return traits_type::eof();
  setg(before ? held_ : next, next, next + 1);
  return traits_type::to_int_type(*next);
}

LogFile::pos_type LogFile::seekoff(off_type offset, std::ios_base::seekdir way,
                                   std::ios_base::openmode which) {
  // Only a regular file can be read again; the bytes underflow() holds
  // were read from before `position_`.
  if (sizeAtOpen_ < 0 || !(which & std::ios_base::in))
    return pos_type(off_type(-1));
  const auto held = static_cast<uint64_t>(egptr() - gptr());
  const auto now = static_cast<off_type>(position_ - held);
  off_type target;
  if (way == std::ios_base::beg)
    target = offset;
  else if (way == std::ios_base::cur)
    target = now + offset;
  else
    return pos_type(off_type(-1));
  if (target < 0)
    return pos_type(off_type(-1));
  if (target != now) {
    setg(nullptr, nullptr, nullptr);
    position_ = static_cast<uint64_t>(target);
  }
  return pos_type(target);
}

LogFile::pos_type LogFile::seekpos(pos_type position,
                                   std::ios_base::openmode which) {
  return seekoff(off_type(position), std::ios_base::beg, which);
}
