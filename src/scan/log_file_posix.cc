// Reading the log on POSIX systems.

#include "scan/log_file.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The most one read(2) is asked for; Linux reads no more at once anyway.
constexpr size_t kLargestRead = size_t{1} << 30;

}  // namespace

int NamedDescriptor(std::string_view path) {
  if (path == "/dev/stdin")
    return 0;
  if (path == "/dev/stdout")
    return 1;
  if (path == "/dev/stderr")
    return 2;
  for (const std::string_view folder : {"/dev/fd/", "/proc/self/fd/"}) {
    if (path.substr(0, folder.size()) != folder || path.size() == folder.size())
      continue;
    int descriptor = 0;
    for (const char c : path.substr(folder.size())) {
      if (c < '0' || c > '9' || descriptor > 100000000)
        return -1;
      descriptor = descriptor * 10 + (c - '0');
    }
    return descriptor;
  }
  return -1;
}

bool LogFile::OpenFile(const std::string& path) {
  if (path.empty())
    return false;
  const int named = NamedDescriptor(path);
  const int file = named >= 0 ? fcntl(named, F_DUPFD_CLOEXEC, 0)
                              : open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (file < 0)
    return false;
  struct stat status;
  if (fstat(file, &status) != 0 || S_ISDIR(status.st_mode)) {
    close(file);
    return false;
  }
  file_ = file;
  return true;
}

int64_t LogFile::ReadSome(int64_t offset, char* data, size_t size) const {
  if (size > kLargestRead)
    size = kLargestRead;
  for (;;) {
    const ssize_t got =
        offset < 0 ? read(static_cast<int>(file_), data, size)
                   : pread(static_cast<int>(file_), data, size, offset);
    if (got >= 0 || errno != EINTR)
      return got;
  }
}

int64_t LogFile::CurrentSize() const {
  struct stat status;
  if (fstat(static_cast<int>(file_), &status) != 0 || !S_ISREG(status.st_mode))
    return -1;
  return static_cast<int64_t>(status.st_size);
}

void LogFile::CloseFile() { close(static_cast<int>(file_)); }
