// The list file on POSIX systems: written unnamed (Linux O_TMPFILE, named
// through /proc once complete) or under a temporary name, locked from before
// it has a name until it has taken the list's place by a rename.

#include "cli/list_file.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string_view>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#endif

const char kPathSeparators[] = "/";
const char kListLineEnd[] = "\n";

namespace {

// The kernel's own limit of symbolic links followed in one path.
constexpr int kMaxLinks = 40;
// Tries at names that are taken before giving up on a temporary file.
constexpr int kNameAttempts = 100;
// How long a run waits for another that writes the same list in place.
constexpr auto kPatience = std::chrono::milliseconds(2000);
constexpr auto kPause = std::chrono::milliseconds(10);
// The old list's access control list, as the kernel keeps it.
constexpr char kAccessList[] = "system.posix_acl_access";

int Descriptor(NativeFile file) { return static_cast<int>(file); }

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

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The links in /dev and /proc (/dev/stdout, /proc/self/fd/1) name files this
// process has open, which are written where they are.
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

bool FlushToDisk(int file) {
#if defined(__linux__)
  return fdatasync(file) == 0;
#else
  return fsync(file) == 0;
#endif
}

// Whether `path` still names the open file `file`.
bool StillNamed(int file, const std::string& path);

// Removes the temporary files of the list `replaced` that runs now gone left
// behind: see MakeTemporaryListFile().
void RemoveAbandoned(const std::string& replaced) {
  const TemporaryNames names(replaced);
  const std::string& folder = names.Folder();
  DIR* listing = opendir(folder.empty() ? "." : folder.c_str());
  if (!listing)
    return;
  while (const dirent* entry = readdir(listing)) {
    if (!names.Gives(entry->d_name))
      continue;
    const std::string path = folder + entry->d_name;
    const int file = open(path.c_str(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file < 0)
      continue;  // not readable, or gone meanwhile
    struct stat status;
    if (fstat(file, &status) == 0 && S_ISREG(status.st_mode) &&
        status.st_nlink == 1 && status.st_uid == geteuid() &&
        (status.st_mode & S_IWUSR) && flock(file, LOCK_EX | LOCK_NB) == 0 &&
        StillNamed(file, path))
      unlink(path.c_str());
    close(file);
  }
  closedir(listing);
}

bool StillNamed(int file, const std::string& path) {
  struct stat opened;
  struct stat named;
  return fstat(file, &opened) == 0 && lstat(path.c_str(), &named) == 0 &&
         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// Whether the folder takes new names but refuses renames and removals
// (Linux's append-only attribute): a temporary file made there would stay.
bool AppendOnlyFolder(const std::string& replaced) {
#if defined(__linux__)
  const std::string folder = FolderOf(replaced);
  const int descriptor = open(folder.empty() ? "." : folder.c_str(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0)
    return false;
  int attributes = 0;
  const bool appendOnly =
      ioctl(descriptor, FS_IOC_GETFLAGS, &attributes) == 0 &&
      (attributes & FS_APPEND_FL);
  close(descriptor);
  return appendOnly;
#else
  (void)replaced;
  return false;
#endif
}

// Whether `path` is mounted on its own (one file bound into a container):
// nothing can be renamed over it.
bool MountedOnItsOwn(const std::string& path) {
#if defined(STATX_ATTR_MOUNT_ROOT)
  struct statx status;
  return statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, 0, &status) == 0 &&
         (status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) &&
         (status.stx_attributes & STATX_ATTR_MOUNT_ROOT);
#else
  (void)path;
  return false;
#endif
}

// Gives the new list `file` the POSIX access control list of `old`, or none
// where `old` has none (a new file may have inherited its folder's default
// one). Its permissions then stay its owner's alone until it is complete:
// they set the list's mask, which the old list's permissions set back.
bool CarryAccessList(const std::string& old, int file) {
#if defined(__linux__)
  const ssize_t size = getxattr(old.c_str(), kAccessList, nullptr, 0);
  if (size < 0) {
    if (errno != ENODATA && errno != ENOTSUP)
      return false;
    return fremovexattr(file, kAccessList) == 0 || errno == ENODATA ||
           errno == ENOTSUP;
  }
  std::string list(static_cast<size_t>(size), '\0');
  return getxattr(old.c_str(), kAccessList, &list[0], list.size()) == size &&
         fsetxattr(file, kAccessList, list.data(), list.size(), 0) == 0 &&
         fchmod(file, 0600) == 0;
#else
  (void)old;
  (void)file;
  return true;
#endif
}

// Makes room for bytes [from, to) of a regular file past its end by writing
// them, on a file system that cannot reserve room otherwise, and flushes them
// to the disk, which on a network file system is when the server first tells
// whether it had room. On failure the file ends at `from` again.
bool FillPastEnd(int file, off_t from, off_t to) {
  static const char kZeros[1 << 16] = {};
  constexpr off_t kChunk = sizeof kZeros;
  bool filled = true;
  for (off_t at = from; filled && at < to;) {
    const size_t size = static_cast<size_t>(to - at < kChunk ? to - at : kChunk);
    const ssize_t done = pwrite(file, kZeros, size, at);
    filled = done > 0 || (done < 0 && errno == EINTR);
    at += done > 0 ? done : 0;
  }
  if (filled && FlushToDisk(file))
    return true;
  // Should cutting fail too, the old list is still whole, followed by zeros.
  while (ftruncate(file, from) != 0 && errno == EINTR) {
  }
  return false;
}

// How a failure to make a file there is to be taken.
Made MadeAfter(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
      return Made::kInPlace;
    case ENOSPC:
    case EDQUOT:
      return Made::kWriteFailed;
    default:
      return Made::kOpenFailed;
  }
}

// Makes a new file with a temporary name beside `replaced`, locked until it
// is closed.
Made MakeNamed(const std::string& replaced, TemporaryListFile* made) {
  TemporaryNames names(replaced);
  bool shortName = false;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string path = names.Next(shortName);
    const int file =
        open(path.c_str(),
             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
             0600);
    if (file >= 0) {
      // Another run's clean-up may have found the file before it was locked,
      // and removed it: once locked, it must still have its name. (Where
      // the file system has no locks, no clean-up removes anything.)
      flock(file, LOCK_EX);
      if (StillNamed(file, path)) {
        made->file = file;
        made->path = path;
        return Made::kMade;
      }
      close(file);
      continue;
    }
    if (errno == ENAMETOOLONG && !shortName)
      shortName = true;
    else if (errno != EEXIST)
      return MadeAfter(errno);
  }
  return Made::kOpenFailed;
}

// Makes a file without a name in the folder of `replaced`; false where the
// system or the file system has no such files, or no way to name one later.
bool MakeUnnamed(const std::string& replaced, TemporaryListFile* made,
                 Made* outcome) {
#if defined(O_TMPFILE)
  // An unnamed file is named by linking /proc/self/fd/N.
  if (access("/proc/self/fd", X_OK) != 0)
    return false;
  const std::string folder = FolderOf(replaced);
  const int file = open(folder.empty() ? "." : folder.c_str(),
                        O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (file < 0) {
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)
      return false;
    *outcome = MadeAfter(errno);
    return true;
  }
  flock(file, LOCK_EX);  // before it has a name
  made->file = file;
  made->unnamed = true;
  *outcome = Made::kMade;
  return true;
#else
  (void)replaced;
  (void)made;
  (void)outcome;
  return false;
#endif
}

// Gives the unnamed file `file` a temporary name beside `replaced`.
bool NameUnnamed(int file, const std::string& replaced, std::string* path) {
#if defined(O_TMPFILE)
  const std::string self = "/proc/self/fd/" + std::to_string(file);
  TemporaryNames names(replaced);
  bool shortName = false;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    *path = names.Next(shortName);
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path->c_str(),
               AT_SYMLINK_FOLLOW) == 0)
      return true;
    if (errno == ENAMETOOLONG && !shortName)
      shortName = true;
    else if (errno != EEXIST)
      break;
  }
#else
  (void)file;
  (void)replaced;
#endif
  path->clear();
  return false;
}

}  // namespace

ListPlace InspectListTarget(const std::string& outputPath) {
  ListPlace place;
  place.replaced = outputPath;
  if (outputPath.empty()) {
    place.kind = ListPlace::kRefused;
    return place;
  }
  struct stat status;
  for (int links = 0;; ++links) {
    const int descriptor = NamedDescriptor(place.replaced);
    if (descriptor >= 0) {
      const int flags = fcntl(descriptor, F_GETFL);
      place.kind = flags < 0 || (flags & O_ACCMODE) == O_RDONLY
                       ? ListPlace::kRefused
                       : ListPlace::kDescriptor;
      place.descriptor = descriptor;
      return place;
    }
    if (lstat(place.replaced.c_str(), &status) != 0) {
      place.kind =
          errno == ENOENT ? ListPlace::kNewFile : ListPlace::kRefused;
      return place;
    }
    if (!S_ISLNK(status.st_mode))
      break;
    // The link stays; the file it leads to gets the list.
    const std::string folder = FolderOf(place.replaced);
    const std::string target = ReadLink(place.replaced);
    if (links == kMaxLinks || target.empty() || InSystemFolder(folder))
      return place;  // in place: opening it tells what is wrong
    place.replaced = target[0] == '/' ? target : folder + target;
  }
  if (S_ISDIR(status.st_mode))
    place.kind = ListPlace::kRefused;
  if (S_ISREG(status.st_mode) && !MountedOnItsOwn(place.replaced))
    place.kind = ListPlace::kRegularFile;
  return place;
}

bool ReadEarlierList(const ListPlace& place, std::string* text) {
  if (place.kind != ListPlace::kRegularFile && place.kind != ListPlace::kInPlace)
    return false;
  const int file = open(place.replaced.c_str(),
                        O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  struct stat status;
  bool read = file >= 0 && fstat(file, &status) == 0 && S_ISREG(status.st_mode);
  if (read) {
    text->resize(static_cast<size_t>(status.st_size));
    size_t size = 0;
    for (;;) {
      if (size == text->size())
        text->resize(2 * size + 4096);  // it grew meanwhile
      const ssize_t got = ::read(file, &(*text)[size], text->size() - size);
      if (got < 0 && errno == EINTR)
        continue;
      if (got <= 0) {
        read = got == 0;
        break;
      }
      size += static_cast<size_t>(got);
    }
    text->resize(size);
  }
  if (file >= 0)
    close(file);
  return read;
}

bool MayWriteList(const std::string& path) {
  return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

Made MakeTemporaryListFile(const ListPlace& place, TemporaryListFile* made) {
  // A new list gets what any new file gets, 0666 less the umask, which can
  // only be read by changing it.
  const mode_t umaskBits = umask(0);
  umask(umaskBits);
  made->mode = 0666 & ~umaskBits;
  struct stat old;
  const bool replacing = place.kind == ListPlace::kRegularFile;
  if (replacing) {
    if (stat(place.replaced.c_str(), &old) != 0)
      return Made::kOpenFailed;
    made->mode = old.st_mode & 07777;
  }

  made->replaces = replacing;
  RemoveAbandoned(place.replaced);
  if (AppendOnlyFolder(place.replaced))
    return Made::kInPlace;
  Made outcome = Made::kMade;
  if (!MakeUnnamed(place.replaced, made, &outcome))
    outcome = MakeNamed(place.replaced, made);
  if (outcome != Made::kMade || !replacing)
    return outcome;
  // The list keeps its owner and access list, or is written in place. Its
  // permissions come last: until it is complete, only its owner may read it.
  const int file = Descriptor(made->file);
  struct stat fresh;
  if (fstat(file, &fresh) == 0 &&
      ((old.st_uid == fresh.st_uid && old.st_gid == fresh.st_gid) ||
       fchown(file, old.st_uid, old.st_gid) == 0) &&
      CarryAccessList(place.replaced, file))
    return Made::kMade;
  DiscardTemporaryListFile(made);
  return Made::kInPlace;
}

bool FinishTemporaryListFile(TemporaryListFile* temporary,
                             const ListPlace& place) {
  const int file = Descriptor(temporary->file);
  // A list that replaces one is on the disk before it takes its name: after
  // a power loss, some file systems would otherwise show the name with no
  // data, and the list that was there would be lost.
  bool finished = fchmod(file, static_cast<mode_t>(temporary->mode)) == 0 &&
                  (!temporary->replaces || FlushToDisk(file));
  if (finished && temporary->unnamed)
    finished = NameUnnamed(file, place.replaced, &temporary->path);
  // A file system may report a failed write only when a descriptor of the
  // file is closed. This one stays open, and the file locked, until it has
  // the list's name, so that no other run's clean-up takes it for abandoned.
  const int duplicate = finished ? dup(file) : -1;
  return duplicate >= 0 && close(duplicate) == 0;
}

bool PutTemporaryListFile(TemporaryListFile* temporary, const ListPlace& place) {
  const bool put = rename(temporary->path.c_str(), place.replaced.c_str()) == 0;
  close(Descriptor(temporary->file));
  temporary->file = kNoFile;
  return put;
}

void DiscardTemporaryListFile(TemporaryListFile* temporary) {
  if (temporary->file != kNoFile)
    close(Descriptor(temporary->file));
  temporary->file = kNoFile;
  if (!temporary->path.empty())
    unlink(temporary->path.c_str());
  temporary->path.clear();
}

// Takes the lock that runs writing one list in place take turns on, waiting
// for another run up to kPatience. False when that runs out, and where the
// file system takes no lock (ENOLCK: NFSv3 without its lock service), on
// which runs would mix their lists.
bool LockInTurn(int file) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  for (;;) {
    if (flock(file, LOCK_EX | LOCK_NB) == 0)
      return true;
    if (errno == EINTR)
      continue;
    if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline)
      return false;
    std::this_thread::sleep_for(kPause);
  }
}

bool OpenListFileInPlace(const std::string& path, InPlaceFile* opened) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) {
    if (errno != ENOENT)
      return false;
    // A new list where no temporary file can be made (an append-only
    // folder): made empty, then locked as any other.
    const int made = open(path.c_str(), O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666);
    if (made < 0 || close(made) != 0 || stat(path.c_str(), &status) != 0)
      return false;
  }
  if (!S_ISREG(status.st_mode)) {
    // Devices and pipes: nothing to take turns on.
    opened->file = open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    return opened->file >= 0;
  }
  // Locked through a descriptor that only reads: a run that gives up waiting
  // has not opened the list for writing, which file watchers would see.
  const int reader = open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (reader < 0)
    return false;
  opened->lock = reader;
  struct stat locked;
  struct stat written;
  if (!LockInTurn(reader) || fstat(reader, &locked) != 0 ||
      (opened->file = open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC)) < 0 ||
      fstat(Descriptor(opened->file), &written) != 0 ||
      written.st_dev != locked.st_dev || written.st_ino != locked.st_ino) {
    // Failed, or the name was given to another file meanwhile.
    CloseListFile(opened);
    return false;
  }
  return true;
}

bool ReserveListFile(InPlaceFile* opened, uint64_t size, bool fromBeginning) {
  const NativeFile file = opened->file;
  struct stat status;
  const int flags = fcntl(Descriptor(file), F_GETFL);
  if (fstat(Descriptor(file), &status) != 0 || flags < 0)
    return false;
  if (!S_ISREG(status.st_mode))
    return true;
  // Appending writes at the end, whatever the descriptor says.
  const bool append = flags & O_APPEND;
  const off_t start = append          ? status.st_size
                      : fromBeginning ? lseek(Descriptor(file), 0, SEEK_SET)
                                      : lseek(Descriptor(file), 0, SEEK_CUR);
  if (start < 0)
    return false;
  if (size == 0)
    return true;
  const off_t end = start + static_cast<off_t>(size);
#if defined(__linux__)
  // Allocated, but the file keeps its size: a failure later leaves it as it
  // was.
  if (fallocate(Descriptor(file), FALLOC_FL_KEEP_SIZE, start,
                static_cast<off_t>(size)) == 0)
    return true;
  if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)
    return false;
#endif
  // Without that (ext2, ext3, NFSv3, other systems): the bytes before the old
  // end have their room, and appending overwrites nothing.
  if (append || end <= status.st_size)
    return true;
  opened->grownFrom = status.st_size;
  return FillPastEnd(Descriptor(file), status.st_size, end);
}

bool EndListFile(NativeFile file, uint64_t size) {
  struct stat status;
  if (fstat(Descriptor(file), &status) != 0)
    return false;
  if (!S_ISREG(status.st_mode))
    return true;
  return ftruncate(Descriptor(file), static_cast<off_t>(size)) == 0;
}

bool WriteListText(NativeFile file, const char* data, size_t size,
                   uint64_t* written) {
  while (size > 0) {
    const ssize_t done = write(Descriptor(file), data, size);
    if (done < 0 && errno == EINTR)
      continue;
    if (done <= 0)
      return false;
    data += done;
    size -= static_cast<size_t>(done);
    *written += static_cast<uint64_t>(done);
  }
  return true;
}

void StartWriteback(const TemporaryListFile& temporary) {
#if defined(__linux__)
  // The disk starts on the list while the log is still read, so that the
  // flush before the rename finds little left to do.
  if (temporary.replaces)
    sync_file_range(Descriptor(temporary.file), 0, 0, SYNC_FILE_RANGE_WRITE);
#else
  (void)temporary;
#endif
}

bool CloseListFile(InPlaceFile* file) {
  const bool closed = file->file == kNoFile || close(Descriptor(file->file)) == 0;
  if (file->lock != kNoFile)
    close(Descriptor(file->lock));  // the lock goes last
  file->file = kNoFile;
  file->lock = kNoFile;
  return closed;
}
