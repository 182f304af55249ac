// The list file on POSIX systems: rename(2) puts it in place.

#include "cli/list_file.h"

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const char kPathSeparators[] = "/";

namespace {

// The kernel's own limit of symbolic links followed in one path.
constexpr int kMaxLinks = 40;

std::string ReadLink(const std::string& path) {
  std::string target(256, '\0');
  for (;;) {
    const ssize_t length = readlink(path.c_str(), &target[0], target.size());
    if (length < 0)
      return std::string();
    if (static_cast<size_t>(length) < target.size()) {
      target.resize(static_cast<size_t>(length));
      return target;
    }
    target.resize(2 * target.size());
  }
}

// The links in /dev and /proc (/dev/stdout, /dev/fd/1, /proc/self/fd/1)
// name files this process has open, which are written where they are.
bool InSystemFolder(const std::string& folder) {
  char* real = realpath(folder.empty() ? "." : folder.c_str(), nullptr);
  if (!real)
    return true;
  const std::string_view path(real);
  const bool system = path == "/dev" || path == "/proc" ||
                      path.substr(0, 5) == "/dev/" ||
                      path.substr(0, 6) == "/proc/";
  free(real);
  return system;
}

}  // namespace

ListTarget InspectListTarget(const std::string& outputPath,
                             std::string* replaced) {
  *replaced = outputPath;
  if (outputPath.empty())
    return ListTarget::kInPlace;
  struct stat status;
  for (int links = 0;; ++links) {
    if (lstat(replaced->c_str(), &status) != 0)
      return errno == ENOENT ? ListTarget::kNewFile : ListTarget::kInPlace;
    if (!S_ISLNK(status.st_mode))
      break;
    // The link stays; the file it leads to gets the list.
    const std::string folder =
        replaced->substr(0, replaced->find_last_of('/') + 1);
    const std::string target = ReadLink(*replaced);
    if (links == kMaxLinks || target.empty() || InSystemFolder(folder))
      return ListTarget::kInPlace;
    *replaced = target[0] == '/' ? target : folder + target;
  }
  if (!S_ISREG(status.st_mode))
    return ListTarget::kInPlace;
  // Whether this user may write the file, asked of the system itself: a
  // rename must not overrule the file's own permission.
  const int probe = open(replaced->c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (probe < 0)
    return ListTarget::kInPlace;
  close(probe);
  return ListTarget::kRegularFile;
}

int CreateTemporaryListFile(const std::string& path, const char* existing) {
  // 0666 less the umask, as for any file the tool creates.
  const int file =
      open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC,
           0666);
  if (file < 0 || !existing)
    return file;
  // The list keeps its owner and permissions, or is written in place.
  struct stat old, fresh;
  bool kept = stat(existing, &old) == 0 && fstat(file, &fresh) == 0;
  if (kept && (old.st_uid != fresh.st_uid || old.st_gid != fresh.st_gid))
    kept = fchown(file, old.st_uid, old.st_gid) == 0;
  kept = kept && fchmod(file, old.st_mode & 07777) == 0;
  if (kept)
    return file;
  close(file);
  unlink(path.c_str());
  errno = EPERM;
  return -1;
}

bool ReplaceWithTemporary(const std::string& temporary,
                          const std::string& replaced) {
  return rename(temporary.c_str(), replaced.c_str()) == 0;
}

int OpenListFileInPlace(const std::string& path) {
  return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY | O_CLOEXEC,
              0666);
}

bool WriteListText(int file, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = write(file, data, size);
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0)
      return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool CloseListFile(int file) { return close(file) == 0; }

void RemoveListFile(const std::string& path) { unlink(path.c_str()); }
