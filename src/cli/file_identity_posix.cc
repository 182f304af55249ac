// File identities on POSIX systems: device and inode.

#include "cli/file_identity.h"

#include <cerrno>

#include <sys/stat.h>

#include "scan/log_file.h"

FileIdentity IdentifyFile(const std::string& path) {
  FileIdentity identity;
  struct stat status;
  const int descriptor = NamedDescriptor(path);
  const bool found = descriptor >= 0 ? fstat(descriptor, &status) == 0
                                     : stat(path.c_str(), &status) == 0;
  if (!found && (descriptor >= 0 || errno != ENOENT || path.empty()))
    return identity;
  std::string folder;
  if (!found) {
    // A name not there yet is told by its folder.
    const size_t slash = path.find_last_of('/');
    folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    identity.name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    if (stat(folder.c_str(), &status) != 0)
      return identity;
  }
  const bool shared = S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode) ||
                      S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode);
  identity.kind = !found  ? FileIdentity::kNewName
                  : shared ? FileIdentity::kShared
                           : FileIdentity::kFile;
  identity.device = static_cast<uint64_t>(status.st_dev);
  identity.file = static_cast<uint64_t>(status.st_ino);
  return identity;
}

bool IsSameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.kind == b.kind &&
         (a.kind == FileIdentity::kFile || a.kind == FileIdentity::kNewName) &&
         a.device == b.device && a.file == b.file && a.name == b.name;
}
