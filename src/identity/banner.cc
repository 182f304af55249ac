// The banner's text, the same on every platform; only ReadProgramIdentity
// differs (version_info_*.cc).

#include "identity/banner.h"

#include <iostream>

#include "identity/build_date.h"  // generated on every build

const std::string& BuildDate() {
  static const std::string date = KESTRANE_BUILD_DATE;
  return date;
}

std::string VersionText(uint32_t fileVersionMostSignificant) {
  return std::to_string(fileVersionMostSignificant >> 16) + "." +
         std::to_string(fileVersionMostSignificant & 0xffff);
}

std::vector<std::string> VersionBannerLines(const ProgramIdentity& identity,
                                            const std::string& buildDate) {
  if (!identity.versionFound)
    return {};
  return {identity.originalFileName + " version " + identity.versionText +
              " from " + buildDate,
          identity.copyrightText};
}

void ShowVersionBanner(const char* programPath) {
  // The lookup has released its buffers by the time anything is printed.
  const ProgramIdentity identity = ReadProgramIdentity(programPath);
  for (const std::string& line : VersionBannerLines(identity, BuildDate()))
    std::cout << line << std::endl;
}
