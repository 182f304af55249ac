// Program identification: the two-line banner that every run begins with,
// taken from the version information the executable carries.
#ifndef KESTRANE_IDENTITY_BANNER_H_
#define KESTRANE_IDENTITY_BANNER_H_

#include <cstdint>
#include <string>
#include <vector>

/// What the banner says, as read from the version information.
struct ProgramIdentity {
  std::string originalFileName;  // "OriginalFilename"; empty when missing
  std::string versionText;       // "major.minor" of the file version
  std::string copyrightText;     // "LegalCopyright"; empty when missing
  bool versionFound = false;     // the fixed version record was read
};

/// The day the program was built, "May 13 2020" (a space pads a one-digit
/// day). Honours SOURCE_DATE_EPOCH at build time.
const std::string& BuildDate();

/// "major.minor" from the most significant 32-bit word of a file version:
/// its upper and lower 16 bits, in decimal.
std::string VersionText(uint32_t fileVersionMostSignificant);

/// Reads the version information of the running executable. Platform
/// specific, one file per platform. Windows asks the system about the
/// executable's own file, however the program was started; elsewhere the
/// values come from the build. `programPath` (argv[0]) only tells whether
/// there was an argument vector: a null path (a start with an empty argument
/// vector) reads nothing.
ProgramIdentity ReadProgramIdentity(const char* programPath);

/// The banner's lines: file name, version and build date, then the copyright
/// notice. None when no version record was found.
std::vector<std::string> VersionBannerLines(const ProgramIdentity& identity,
                                            const std::string& buildDate);

/// Prints the banner of the running executable to standard output, flushing
/// after each line; `programPath` is argv[0], which may be null. Prints
/// nothing when the version information cannot be read; nothing here stops
/// the run.
void ShowVersionBanner(const char* programPath);

#endif  // KESTRANE_IDENTITY_BANNER_H_
