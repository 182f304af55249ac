// File identities on Windows: the volume's serial number and the file ID,
// and names compared as Windows compares them, letter case aside.

#include "cli/file_identity.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

// Files and folders alike, without taking them from anyone.
HANDLE OpenToIdentify(const std::string& path) {
  return CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                     nullptr);
}

bool ReadIdentity(HANDLE file, FileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info))
    return false;
  identity->device = info.dwVolumeSerialNumber;
  identity->file = uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
  return true;
}

// The folder part of `path`, as a name that opens the folder.
std::string FolderOf(const std::string& path, size_t end) {
  if (end == std::string::npos)
    return ".";
  if (path[end] == ':')
    return path.substr(0, end + 1) + ".";  // "C:x": the drive's current folder
  if (end == 0 || path[end - 1] == ':')
    return path.substr(0, end + 1);  // a root: "\x", "C:\x"
  return path.substr(0, end);
}

std::wstring Wide(const std::string& text) {
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(),
                                         static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0)
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                        &wide[0], length);
  return wide;
}

}  // namespace

FileIdentity IdentifyFile(const std::string& path) {
  FileIdentity identity;
  if (path.empty())
    return identity;
  HANDLE file = OpenToIdentify(path);
  if (file != INVALID_HANDLE_VALUE) {
    if (GetFileType(file) != FILE_TYPE_DISK)
      identity.kind = FileIdentity::kShared;
    else if (ReadIdentity(file, &identity))
      identity.kind = FileIdentity::kFile;
    CloseHandle(file);
    return identity;
  }
  if (GetLastError() != ERROR_FILE_NOT_FOUND)
    return identity;
  // A name not there yet is told by its folder.
  const size_t end = path.find_last_of("\\/:");
  identity.name = path.substr(end == std::string::npos ? 0 : end + 1);
  file = OpenToIdentify(FolderOf(path, end));
  if (file == INVALID_HANDLE_VALUE)
    return identity;
  if (ReadIdentity(file, &identity))
    identity.kind = FileIdentity::kNewName;
  CloseHandle(file);
  return identity;
}

bool IsSameFile(const FileIdentity& a, const FileIdentity& b) {
  if (a.kind != b.kind ||
      (a.kind != FileIdentity::kFile && a.kind != FileIdentity::kNewName) ||
      a.device != b.device || a.file != b.file)
    return false;
  const std::wstring x = Wide(a.name);
  const std::wstring y = Wide(b.name);
  return CompareStringOrdinal(x.data(), static_cast<int>(x.size()), y.data(),
                              static_cast<int>(y.size()), TRUE) == CSTR_EQUAL;
}
