// The source tree on Windows: paths in UTF-16, converted from the process
// code page; a path is resolved by opening it and asking the system for the
// final path of what it opened, every symbolic link and junction followed.
// Names are compared without regard to letter case, as the file systems
// that trees live on compare them. Paths are handed over without the "\\?\"
// prefix, so that the system takes them as a build's compiler will: with
// ".." taken before links, trailing dots and blanks dropped, device names
// naming devices, and beyond 260 characters only where long paths are
// enabled.

#include "cli/source_tree.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

const wchar_t kNativeSeparator = L'\\';

namespace {

// What an open file is; what is still a reparse point once opened is no
// link (a deduplicated or cloud file, a volume's mount point).
PathKind KindOf(HANDLE file) {
  FILE_ATTRIBUTE_TAG_INFO info;
  if (GetFileType(file) != FILE_TYPE_DISK ||
      !GetFileInformationByHandleEx(file, FileAttributeTagInfo, &info, sizeof info))
    return PathKind::kOther;
  return info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY ? PathKind::kFolder : PathKind::kFile;
}

// Whether the system takes `path` for a device: "aux.c" and "nul" in any
// folder are the devices AUX and NUL to Windows before 11.
bool IsDevice(const NativePath& path) {
  wchar_t full[16];  // more than any device's "\\.\NAME"
  const DWORD length = GetFullPathNameW(path.c_str(), 16, full, nullptr);
  return length > 0 && length < 16 && std::wstring_view(full, length).substr(0, 4) == L"\\\\.\\";
}

// The final path of an open file, without the "\\?\" that the system puts
// before it ("\\?\UNC\server\share" becomes "\\server\share").
bool FinalPath(HANDLE file, NativePath* path) {
  DWORD size = MAX_PATH;
  for (;;) {
    path->resize(size);
    const DWORD length = GetFinalPathNameByHandleW(file, &(*path)[0], size,
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0)
      return false;
    if (length < size) {
      path->resize(length);
      break;
    }
    size = length;
  }
  const std::wstring_view unc = L"\\\\?\\UNC\\", local = L"\\\\?\\";
  if (path->compare(0, unc.size(), unc) == 0)
    path->replace(0, unc.size(), L"\\\\");
  else if (path->compare(0, local.size(), local) == 0)
    path->erase(0, local.size());
  return true;
}

}  // namespace

bool ToNativePath(std::string_view path, NativePath* native) {
  native->clear();
  if (path.empty())
    return true;
  const int size = static_cast<int>(path.size());
  const int length =
      MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.data(), size, nullptr, 0);
  if (length <= 0)
    return false;
  native->resize(static_cast<size_t>(length));
  return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.data(), size, &(*native)[0],
                             length) == length;
}

// The attributes alone, which are a link's own where the path ends in one:
// no handle is opened, which costs several times as much.
PathKind LookAt(const NativePath& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
    return PathKind::kMissing;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
    return PathKind::kLink;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
    return PathKind::kFolder;
  return IsDevice(path) ? PathKind::kOther : PathKind::kFile;
}

PathKind Resolve(const NativePath& path, NativePath* resolved) {
  const HANDLE file =
      CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return PathKind::kMissing;
  PathKind kind = KindOf(file);
  if (!FinalPath(file, resolved))
    kind = PathKind::kMissing;
  CloseHandle(file);
  return kind;
}

bool IsWithin(const NativePath& path, const NativePath& folder) {
  if (path.size() < folder.size())
    return false;
  const int size = static_cast<int>(folder.size());
  return CompareStringOrdinal(path.data(), size, folder.data(), size, TRUE) == CSTR_EQUAL &&
         (path.size() == folder.size() || folder.back() == L'\\' ||
          path[folder.size()] == L'\\');
}
