#include "scan/log_file.h"


bool LogFile::Open(const std::string& path) {
  Close();
  failed_ = false;
  position_ = 0;
  setg(nullptr, nullptr, nullptr);
  if (!OpenFile(path))
    return false;
  sizeAtOpen_ = CurrentSize();
  return true;
}

void LogFile::Close() {
  if (file_ != kNoFile)
    CloseFile();
  file_ = kNoFile;
}

std::streamsize LogFile::xsgetn(char* data, std::streamsize size) {
  std::streamsize got = 0;
  // What underflow() holds comes first.
  for (; gptr() < egptr() && got < size; gbump(1))
    data[got++] = *gptr();
  while (got < size && !failed_) {
    const int64_t read =
        ReadFile(data + got, static_cast<size_t>(size - got));
    if (read < 0) {
      failed_ = true;
      break;
    }
    if (read == 0) {
      // The end. A regular file that ends before what was there, or that is
      // now shorter than that or than what was read, was cut while it was
      // read.
      const int64_t now = CurrentSize();
      if (sizeAtOpen_ >= 0 &&
          (position_ < static_cast<uint64_t>(sizeAtOpen_) || now < sizeAtOpen_ ||
           static_cast<uint64_t>(now) < position_))
        failed_ = true;
      break;
    }
    position_ += static_cast<uint64_t>(read);
    got += static_cast<std::streamsize>(read);
  }
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
