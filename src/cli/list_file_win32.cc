// The list file on Windows: a temporary file that others may only read, and
// that Windows deletes should the run end before it is kept. Once complete
// it gets the old list's attributes and access control list and is renamed
// over the list through its own handle, the rename that MoveFileEx does with
// MOVEFILE_REPLACE_EXISTING: the list is never missing, and the temporary
// file stays open, which tells other runs that it is not abandoned, until it
// has the list's name. (ReplaceFile, which keeps more of the old list, is
// not used: under Wine it leaves the list missing for a moment, and a
// temporary file behind, and with a bare name it fails.)
//
// Another program (an editor, a virus scanner, the build that reads the list,
// another run) may hold the list or the temporary file for a moment, and
// Windows then refuses to open, replace or move it. That is waited out, as
// build tools on Windows do, for a bounded time, and never taken as a reason
// to write the list in place.

#include "cli/list_file.h"

#include <chrono>
#include <vector>

#include "scan/byte_masks.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

const char kPathSeparators[] = "\\/:";
const char kListLineEnd[] = "\r\n";

namespace {

constexpr int kNameAttempts = 100;
// How long a file that another program holds is waited for, in all.
constexpr auto kPatience = std::chrono::milliseconds(2000);
// Short pauses: a rename over the list finds a moment when no reader has it
// open sooner than with long ones (measured under Wine with a busy reader).
constexpr DWORD kLargestPause = 10;  // milliseconds
constexpr size_t kLargestWrite = size_t{1} << 30;

HANDLE Handle(NativeFile file) { return reinterpret_cast<HANDLE>(file); }
NativeFile Native(HANDLE handle) { return reinterpret_cast<NativeFile>(handle); }

// Whether a failure may be another program holding the file for a moment.
bool Transient(DWORD error) {
  switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_ACCESS_DENIED:  // also: a file being deleted, or renamed over
                               // while another program has it open
    case ERROR_USER_MAPPED_FILE:
      return true;
    default:
      return false;
  }
}

// Calls `attempt` until it succeeds, fails for good, or the patience is
// spent, pausing a little longer after each transient failure. The last
// error stays for the caller.
template <typename Attempt>
bool Retried(Attempt attempt) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  for (DWORD pause = 1;; pause = pause * 2 < kLargestPause ? pause * 2
                                                          : kLargestPause) {
    if (attempt())
      return true;
    const DWORD error = GetLastError();
    if (!Transient(error) || std::chrono::steady_clock::now() >= deadline) {
      SetLastError(error);
      return false;
    }
    Sleep(pause);
  }
}

// Marks an open file to be deleted when its last handle closes, or not.
bool DeleteOnClose(HANDLE file, bool remove) {
  FILE_DISPOSITION_INFO disposition;
  disposition.DeleteFile = remove ? TRUE : FALSE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                    sizeof disposition) != 0;
}

// Whether Windows deletes the open file when it is closed; true where that
// cannot be told.
bool DeletePending(HANDLE file) {
  FILE_STANDARD_INFO standard;
  return !GetFileInformationByHandleEx(file, FileStandardInfo, &standard,
                                       sizeof standard) ||
         standard.DeletePending;
}

bool WriteAll(HANDLE file, const char* data, size_t size) {
  while (size > 0) {
    DWORD done = 0;
    const DWORD chunk =
        static_cast<DWORD>(size < kLargestWrite ? size : kLargestWrite);
    if (!WriteFile(file, data, chunk, &done, nullptr) || done == 0)
      return false;
    data += done;
    size -= done;
  }
  return true;
}

bool IsRegular(HANDLE file) { return GetFileType(file) == FILE_TYPE_DISK; }

// The attributes a list keeps when it is replaced.
constexpr DWORD kCarriedAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
    FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// What `part` asks of an open file's security (its access control list,
// its owner), as a security descriptor that holds only that; empty where it
// cannot be read.
std::vector<char> SecurityOf(HANDLE file, SECURITY_INFORMATION part) {
  DWORD size = 0;
  GetKernelObjectSecurity(file, part, nullptr, 0, &size);
  std::vector<char> security(size);
  if (size == 0 || !GetKernelObjectSecurity(file, part, security.data(), size, &size))
    security.clear();
  return security;
}

// Gives the new list `file` what the old list `old` shows of itself that a
// new file does not get: its attributes, and its access control list where
// that differs from the one the new file got from its folder.
bool CarryLook(const std::string& old, HANDLE file) {
  const HANDLE from = CreateFileA(
      old.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, 0, nullptr);
  if (from == INVALID_HANDLE_VALUE)
    return false;
  BY_HANDLE_FILE_INFORMATION info;
  std::vector<char> security = SecurityOf(from, DACL_SECURITY_INFORMATION);
  const bool read = GetFileInformationByHandle(from, &info) && !security.empty();
  CloseHandle(from);
  if (!read)
    return false;
  FILE_BASIC_INFO basic = {};  // times of zero are left as they are
  basic.FileAttributes = info.dwFileAttributes & kCarriedAttributes;
  if (basic.FileAttributes == 0)
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(file, FileBasicInfo, &basic,
                                    sizeof basic) &&
         (security == SecurityOf(file, DACL_SECURITY_INFORMATION) ||
          SetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION,
                                  security.data()));
}

// Gives the open file `file` the name `path` (as a path is taken when a file
// is opened), replacing the file that has it, in one step.
bool RenameOpenFile(HANDLE file, const std::string& path) {
  const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS,
                                         path.c_str(), -1, nullptr, 0);
  if (length <= 0)
    return false;
  // Whole 8-byte units, for the alignment of the structure's handle.
  const size_t bytes =
      sizeof(FILE_RENAME_INFO) + static_cast<size_t>(length) * sizeof(WCHAR);
  std::vector<uint64_t> buffer((bytes + 7) / 8);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength =
      static_cast<DWORD>(static_cast<size_t>(length - 1) * sizeof(WCHAR));
  MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.c_str(), -1,
                      rename->FileName, length);
  return SetFileInformationByHandle(file, FileRenameInfo, rename,
                                    static_cast<DWORD>(bytes)) != 0;
}

bool SameOwner(std::vector<char>& a, std::vector<char>& b) {
  PSID x = nullptr;
  PSID y = nullptr;
  BOOL defaulted = FALSE;
  return !a.empty() && !b.empty() &&
         GetSecurityDescriptorOwner(a.data(), &x, &defaulted) &&
         GetSecurityDescriptorOwner(b.data(), &y, &defaulted) && x && y &&
         EqualSid(x, y);
}

// Removes the temporary files of the list `replaced` that runs now gone left
// behind (see MakeTemporaryListFile()); `made` is this run's own, whose
// owner is what this user's new files get. Windows deletes a temporary file
// itself when its run ends, however it ends, where the file system can: this
// finds only what one that cannot left.
void RemoveAbandoned(const std::string& replaced, HANDLE made) {
  const TemporaryNames names(replaced);
  std::vector<char> owner = SecurityOf(made, OWNER_SECURITY_INFORMATION);
  WIN32_FIND_DATAA found;
  const HANDLE search =
      FindFirstFileA((names.Folder() + "*.kestrane-*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE)
    return;
  constexpr DWORD kPlain = FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_ARCHIVE;
  do {
    if (!names.Gives(found.cFileName) || (found.dwFileAttributes & ~kPlain))
      continue;
    // Shared with no one: a live run has its file open, so this fails.
    const HANDLE file = CreateFileA(
        (names.Folder() + found.cFileName).c_str(),
        DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
      continue;
    BY_HANDLE_FILE_INFORMATION info;
    std::vector<char> fileOwner = SecurityOf(file, OWNER_SECURITY_INFORMATION);
    if (GetFileInformationByHandle(file, &info) &&
        (info.dwFileAttributes & ~kPlain) == 0 && info.nNumberOfLinks == 1 &&
        SameOwner(owner, fileOwner))
      DeleteOnClose(file, true);
    CloseHandle(file);
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

}  // namespace

ListPlace InspectListTarget(const std::string& outputPath) {
  ListPlace place;
  place.replaced = outputPath;
  if (outputPath.empty()) {
    place.kind = ListPlace::kRefused;
    return place;
  }
  // The handle tells a device (NUL, CON) or a link or a folder from a file,
  // and the read-only attribute; whether the user may write the file is
  // asked once the list is written (MayWriteList). What cannot be opened so
  // (CON, on some systems) is written in place, where opening it for
  // writing tells what is wrong.
  HANDLE file = INVALID_HANDLE_VALUE;
  const bool opened = Retried([&] {
    file = CreateFileA(
        outputPath.c_str(), FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    return file != INVALID_HANDLE_VALUE;
  });
  if (!opened) {
    const DWORD error = GetLastError();
    place.kind = error == ERROR_FILE_NOT_FOUND ? ListPlace::kNewFile
                                               : ListPlace::kInPlace;
    return place;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!IsRegular(file)) {
    place.kind = ListPlace::kInPlace;
  } else if (!GetFileInformationByHandle(file, &info) ||
             (info.dwFileAttributes &
              (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
    place.kind = ListPlace::kRefused;
  } else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    place.kind = ListPlace::kInPlace;  // a link: written where it leads
  } else {
    place.kind = ListPlace::kRegularFile;
  }
  CloseHandle(file);
  return place;
}

bool ReadEarlierList(const ListPlace& place, std::string* text) {
  if (place.kind != ListPlace::kRegularFile && place.kind != ListPlace::kInPlace)
    return false;
  const HANDLE file = CreateFileA(
      place.replaced.c_str(), GENERIC_READ,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  LARGE_INTEGER bytes;
  bool read = IsRegular(file) && GetFileSizeEx(file, &bytes);
  // A byte more than the file holds: the read that finds its end then needs
  // no larger buffer (which would take twice the list's memory).
  if (read)
    text->resize(static_cast<size_t>(bytes.QuadPart) + 1);
  size_t size = 0;
  while (read) {
    if (size == text->size())
      text->resize(2 * size + 65536);
    DWORD got = 0;
    const DWORD wanted = static_cast<DWORD>(
        text->size() - size < kLargestWrite ? text->size() - size : kLargestWrite);
    read = ReadFile(file, &(*text)[size], wanted, &got, nullptr) != 0;
    if (!read || got == 0)
      break;
    size += got;
  }
  text->resize(size);
  CloseHandle(file);
  return read;
}

bool MayWriteList(const std::string& path) {
  // Opened for writing, not written: this run writes the list now. The
  // read-only attribute, which Wine run by root lets pass, was looked at
  // before.
  HANDLE file = INVALID_HANDLE_VALUE;
  Retried([&] {
    file = CreateFileA(path.c_str(), GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
    return file != INVALID_HANDLE_VALUE;
  });
  return file != INVALID_HANDLE_VALUE && CloseHandle(file);
}

Made MakeTemporaryListFile(const ListPlace& place, TemporaryListFile* made) {
  TemporaryNames names(place.replaced);
  bool shortName = false;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string path = names.Next(shortName);
    // Shared for reading only, so that no other run deletes it, and a
    // reader can open the list as soon as it has the list's name. DELETE
    // access is what marking it for deletion and renaming it take, the
    // others reading and setting its access control list.
    const HANDLE file = CreateFileA(
        path.c_str(), GENERIC_WRITE | DELETE | READ_CONTROL | WRITE_DAC,
        FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      // Should the run end before the list is kept, Windows deletes it. A
      // file system that cannot do so leaves it behind, as a kill does
      // elsewhere.
      DeleteOnClose(file, true);
      made->file = Native(file);
      made->path = path;
      RemoveAbandoned(place.replaced, file);
      return Made::kMade;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_FILENAME_EXCED_RANGE && !shortName)
      shortName = true;
    else if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL)
      return Made::kWriteFailed;
    else if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
      return Made::kOpenFailed;
  }
  return Made::kOpenFailed;
}

bool FinishTemporaryListFile(TemporaryListFile* temporary,
                             const ListPlace& place) {
  const HANDLE file = Handle(temporary->file);
  // A list that replaces one is on the disk before it takes its name, so
  // that a power loss cannot lose the list that was there.
  return place.kind != ListPlace::kRegularFile ||
         (FlushFileBuffers(file) && CarryLook(place.replaced, file));
}

bool PutTemporaryListFile(TemporaryListFile* temporary, const ListPlace& place) {
  const HANDLE file = Handle(temporary->file);
  // Kept from here on (a file system that cannot delete on close never
  // marked it); a failure below removes it by name.
  bool put = (DeleteOnClose(file, false) || !DeletePending(file)) &&
             Retried([&] { return RenameOpenFile(file, place.replaced); });
  put = CloseHandle(file) && put;
  temporary->file = kNoFile;
  return put;
}

void DiscardTemporaryListFile(TemporaryListFile* temporary) {
  if (temporary->file != kNoFile)
    CloseHandle(Handle(temporary->file));  // deletes it, where marked so
  temporary->file = kNoFile;
  if (!temporary->path.empty())
    DeleteFileA(temporary->path.c_str());
  temporary->path.clear();
}

bool OpenListFileInPlace(const std::string& path, InPlaceFile* opened) {
  HANDLE file = INVALID_HANDLE_VALUE;
  Retried([&] {
    // Shared for reading only: runs that write the same list in place take
    // turns, and one that gives up has opened nothing.
    file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file != INVALID_HANDLE_VALUE;
  });
  opened->file = file == INVALID_HANDLE_VALUE ? kNoFile : Native(file);
  return opened->file != kNoFile;
}

bool ReserveListFile(InPlaceFile* opened, uint64_t size, bool fromBeginning) {
  const NativeFile file = opened->file;
  if (!IsRegular(Handle(file)))
    return true;
  FILE_ALLOCATION_INFO allocation;
  allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
  if (!SetFileInformationByHandle(Handle(file), FileAllocationInfo,
                                  &allocation, sizeof allocation) &&
      (GetLastError() == ERROR_DISK_FULL ||
       GetLastError() == ERROR_HANDLE_DISK_FULL))
    return false;
  LARGE_INTEGER start;
  start.QuadPart = 0;
  return !fromBeginning ||
         SetFilePointerEx(Handle(file), start, nullptr, FILE_BEGIN) != 0;
}

bool EndListFile(NativeFile file, uint64_t size) {
  if (!IsRegular(Handle(file)))
    return true;
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(size);
  return SetFilePointerEx(Handle(file), end, nullptr, FILE_BEGIN) &&
         SetEndOfFile(Handle(file));
}

bool WriteListText(NativeFile file, const char* data, size_t size,
                   uint64_t* written) {
  // Text form: a CR before every line feed. The line feeds of sixteen bytes
  // are found at once and the text between them copied sixteen bytes at a
  // time, which may run 15 bytes past what it copies: into the buffer's
  // spare room, and never past the end of `data`.
  constexpr size_t kSize = size_t{1} << 16;
  char buffer[kSize + 64];
  size_t used = 0;
  const auto flush = [&] {
    const bool ok = WriteAll(Handle(file), buffer, used);
    *written += ok ? used : 0;
    used = 0;
    return ok;
  };
  const Bytes16 lineFeed = Splat('\n');
  size_t i = 0;
  for (; i + 32 <= size; i += 16) {
    if (used + 2 * 16 > kSize && !flush())
      return false;
    size_t start = 0;
    for (uint32_t ends = Mask(Equal(Load16(data + i), lineFeed)); ends;
         ends &= ends - 1) {
      const size_t end = static_cast<size_t>(LowestBit(ends));
      Store16(buffer + used, Load16(data + i + start));
      used += end - start;
      buffer[used++] = '\r';
      buffer[used++] = '\n';
      start = end + 1;
    }
    Store16(buffer + used, Load16(data + i + start));
    used += 16 - start;
  }
  for (; i < size; ++i) {
    if (used + 2 > kSize && !flush())
      return false;
    if (data[i] == '\n')
      buffer[used++] = '\r';
    buffer[used++] = data[i];
  }
  return flush();
}

void StartWriteback(const TemporaryListFile&) {}

bool CloseListFile(InPlaceFile* file) {
  const bool closed =
      file->file == kNoFile || CloseHandle(Handle(file->file)) != 0;
  file->file = kNoFile;
  return closed;
}
