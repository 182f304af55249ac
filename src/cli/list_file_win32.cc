// The list file on Windows: ReplaceFile puts it in place, keeping the
// attributes and access rights of the file it replaces.

#include "cli/list_file.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

const char kPathSeparators[] = "\\/:";

namespace {

constexpr unsigned kLargestWrite = 1u << 30;

bool WriteAll(int file, const char* data, size_t size) {
  while (size > 0) {
    const unsigned chunk =
        size < kLargestWrite ? static_cast<unsigned>(size) : kLargestWrite;
    const int written = _write(file, data, chunk);
    if (written <= 0)
      return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace

ListTarget InspectListTarget(const std::string& outputPath,
                             std::string* replaced) {
  *replaced = outputPath;
  if (outputPath.empty())
    return ListTarget::kInPlace;
  // Opening the file for writing asks what writing it would meet: access
  // rights, a lock, the read-only attribute (which Wine run by root lets
  // pass, so it is looked at too). The handle also tells a device (NUL, CON)
  // or a link from a file.
  const HANDLE file = CreateFileA(
      outputPath.c_str(), GENERIC_WRITE,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return GetLastError() == ERROR_FILE_NOT_FOUND ? ListTarget::kNewFile
                                                  : ListTarget::kInPlace;
  BY_HANDLE_FILE_INFORMATION info;
  const bool regular =
      GetFileType(file) == FILE_TYPE_DISK &&
      GetFileInformationByHandle(file, &info) &&
      !(info.dwFileAttributes & (FILE_ATTRIBUTE_READONLY |
                                 FILE_ATTRIBUTE_DIRECTORY |
                                 FILE_ATTRIBUTE_REPARSE_POINT));
  CloseHandle(file);
  return regular ? ListTarget::kRegularFile : ListTarget::kInPlace;
}

int CreateTemporaryListFile(const std::string& path, const char* /*existing*/) {
  return _open(path.c_str(),
               _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
               _S_IREAD | _S_IWRITE);
}

bool ReplaceWithTemporary(const std::string& temporary,
                          const std::string& replaced) {
  if (ReplaceFileA(replaced.c_str(), temporary.c_str(), nullptr,
                   REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
    return true;
  // No file to replace yet, or one that ReplaceFile cannot take: a rename
  // in one step all the same.
  return MoveFileExA(temporary.c_str(), replaced.c_str(),
                     MOVEFILE_REPLACE_EXISTING) != 0;
}

int OpenListFileInPlace(const std::string& path) {
  return _open(path.c_str(),
               _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
               _S_IREAD | _S_IWRITE);
}

bool WriteListText(int file, const char* data, size_t size) {
  char buffer[1 << 16];
  size_t used = 0;
  for (size_t i = 0; i < size; ++i) {
    if (used + 2 > sizeof buffer) {
      if (!WriteAll(file, buffer, used))
        return false;
      used = 0;
    }
    if (data[i] == '\n')
      buffer[used++] = '\r';
    buffer[used++] = data[i];
  }
  return WriteAll(file, buffer, used);
}

bool CloseListFile(int file) { return _close(file) == 0; }

void RemoveListFile(const std::string& path) { _unlink(path.c_str()); }
