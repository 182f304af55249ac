// The version information on Windows: read by the system from the version
// resource of the executable file itself.

#include "identity/banner.h"

#include <cstring>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

// The zero-terminated text at `query`, or "" when the entry is missing.
std::string QueryText(const std::vector<char>& info, const char* query) {
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(info.data(), query, &value, &length) || !value)
    return std::string();
  return static_cast<const char*>(value);
}

}  // namespace

ProgramIdentity ReadProgramIdentity(const char* programPath) {
  ProgramIdentity identity;
  if (!programPath)
    return identity;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(programPath, &ignored);
  if (size == 0)
    return identity;
  std::vector<char> info(size);
  if (!GetFileVersionInfoA(programPath, 0, size, info.data()))
    return identity;

  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(info.data(), "\\", &value, &length) || !value ||
      length < sizeof(VS_FIXEDFILEINFO))
    return identity;
  VS_FIXEDFILEINFO fixed;
  memcpy(&fixed, value, sizeof fixed);
  identity.versionFound = true;
  identity.versionText = VersionText(fixed.dwFileVersionMS);
  identity.copyrightText =
      QueryText(info, "\\StringFileInfo\\040904b0\\LegalCopyright");
  identity.originalFileName =
      QueryText(info, "\\StringFileInfo\\040904b0\\OriginalFilename");
  return identity;
}
