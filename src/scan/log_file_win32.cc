// Reading the log on Windows.

#include "scan/log_file.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

constexpr size_t kLargestRead = size_t{1} << 30;

HANDLE Handle(intptr_t file) { return reinterpret_cast<HANDLE>(file); }

}  // namespace

bool LogFile::OpenFile(const std::string& path) {
  if (path.empty())
    return false;
  // Shared every way: the build that writes the log may still hold it. A
  // folder opens only with backup semantics, which are not asked for: a
  // folder is no log.
  const HANDLE file = CreateFileA(
      path.c_str(), GENERIC_READ,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  file_ = reinterpret_cast<intptr_t>(file);
  return true;
}

int64_t LogFile::ReadSome(int64_t offset, char* data, size_t size) const {
  DWORD got = 0;
  const DWORD wanted =
      static_cast<DWORD>(size < kLargestRead ? size : kLargestRead);
  // A regular file is read at a place of its own on every call, so that
  // reading it again (ReadAt) does not move where Read() stands.
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  if (::ReadFile(Handle(file_), data, wanted, &got,
                 offset < 0 ? nullptr : &at))
    return got;
  // The end of the file, or the writing end of a pipe has closed.
  const DWORD error = GetLastError();
  return error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE ? 0 : -1;
}

int64_t LogFile::CurrentSize() const {
  LARGE_INTEGER size;
  if (GetFileType(Handle(file_)) != FILE_TYPE_DISK ||
      !GetFileSizeEx(Handle(file_), &size))
    return -1;
  return size.QuadPart;
}

void LogFile::CloseFile() { CloseHandle(Handle(file_)); }
