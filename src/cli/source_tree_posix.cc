// The source tree on POSIX systems: paths are bytes, resolved by realpath().

#include "cli/source_tree.h"

#include <climits>
#include <cstdlib>

#include <sys/stat.h>

const char kNativeSeparator = '/';

namespace {

PathKind KindOf(mode_t mode) {
  if (S_ISREG(mode))
    return PathKind::kFile;
  if (S_ISDIR(mode))
    return PathKind::kFolder;
  return S_ISLNK(mode) ? PathKind::kLink : PathKind::kOther;
}

}  // namespace

bool ToNativePath(std::string_view path, NativePath* native) {
  native->assign(path.data(), path.size());
  return true;
}

PathKind LookAt(const NativePath& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0 ? KindOf(status.st_mode) : PathKind::kMissing;
}

PathKind Resolve(const NativePath& path, NativePath* resolved) {
  char buffer[PATH_MAX];
  struct stat status;
  if (!realpath(path.c_str(), buffer) || stat(buffer, &status) != 0)
    return PathKind::kMissing;
  resolved->assign(buffer);
  return KindOf(status.st_mode);
}

bool IsWithin(const NativePath& path, const NativePath& folder) {
  // A resolved path ends in '/' only when it is the file system's root.
  return path.compare(0, folder.size(), folder) == 0 &&
         (path.size() == folder.size() || folder.back() == '/' || path[folder.size()] == '/');
}
