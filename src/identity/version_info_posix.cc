// The version information on platforms whose executables carry no version
// resource: the values the Windows resource is made from, compiled in.

#include "identity/banner.h"
#include "identity/version_info.h"  // generated from cmake/version_info.cmake

ProgramIdentity ReadProgramIdentity(const char* programPath) {
  ProgramIdentity identity;
  if (!programPath)
    return identity;
  identity.versionFound = true;
  identity.versionText = VersionText(kFileVersionMostSignificant);
  identity.copyrightText = kLegalCopyright;
  identity.originalFileName = kOriginalFilename;
  return identity;
}
