// The version information on Windows: read by the system from the version
// resource of the running executable's own file. Its path comes from the
// system, not from argv[0], which is only what the parent chose to pass:
// "Kestrane" without ".exe" (found through PATH), a name the code page
// cannot carry, or another program's name altogether ("kernel32").

#include "identity/banner.h"

#include <cstring>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

// The path of the running executable, "" when the system does not tell.
std::wstring ExecutablePath() {
  // Long paths are enabled by the manifest, so MAX_PATH may not be enough;
  // 32768 characters is the most any Windows path can hold.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(path.size());
    const DWORD length = GetModuleFileNameW(nullptr, &path[0], size);
    if (length == 0)
      return std::wstring();
    if (length < size) {
      path.resize(length);
      return path;
    }
    if (path.size() >= 32768)
      return std::wstring();
    path.resize(path.size() * 2);  // cut short: ask again with more room
  }
}

// The zero-terminated text at `query`, or "" when the entry is missing. The
// banner prints 8-bit text in the process code page, as it always has.
std::string QueryText(const std::vector<char>& info, const wchar_t* query) {
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(info.data(), query, &value, &length) || !value)
    return std::string();
  const wchar_t* text = static_cast<const wchar_t*>(value);
  const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0,
                                       nullptr, nullptr);
  if (size <= 1)
    return std::string();
  std::string converted(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, &converted[0], size, nullptr,
                      nullptr);
  converted.resize(static_cast<size_t>(size - 1));  // the terminating zero
  return converted;
}

}  // namespace

ProgramIdentity ReadProgramIdentity(const char* programPath) {
  ProgramIdentity identity;
  if (!programPath)
    return identity;
  const std::wstring path = ExecutablePath();
  if (path.empty())
    return identity;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0)
    return identity;
  std::vector<char> info(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, info.data()))
    return identity;

  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(info.data(), L"\\", &value, &length) || !value ||
      length < sizeof(VS_FIXEDFILEINFO))
    return identity;
  VS_FIXEDFILEINFO fixed;
  memcpy(&fixed, value, sizeof fixed);
  identity.versionFound = true;
  identity.versionText = VersionText(fixed.dwFileVersionMS);
  identity.copyrightText =
      QueryText(info, L"\\StringFileInfo\\040904b0\\LegalCopyright");
  identity.originalFileName =
      QueryText(info, L"\\StringFileInfo\\040904b0\\OriginalFilename");
  return identity;
}
