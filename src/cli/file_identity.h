// Telling whether two names lead to one file, so that no output of a run
// replaces the log or another output.
#ifndef KESTRANE_CLI_FILE_IDENTITY_H_
#define KESTRANE_CLI_FILE_IDENTITY_H_

#include <cstdint>
#include <string>

/// What a path leads to, as far as sameness goes.
struct FileIdentity {
  enum Kind {
    kNone,     // nothing there can be told apart (a folder that is missing)
    kShared,   // a device, a pipe, or a descriptor of this process: outputs
               // may share it
    kFile,     // a file that exists: `device` and `file` are its own
    kNewName,  // a name not there yet: `device` and `file` are its folder's
  };
  Kind kind = kNone;
  uint64_t device = 0;  // POSIX: st_dev; Windows: the volume's serial number
  uint64_t file = 0;    // POSIX: st_ino; Windows: the file ID
  std::string name;     // kNewName: the name in that folder
};

/// What `path` leads to now, links followed. The name of a descriptor of
/// this process (/dev/stdin) leads to the file the descriptor is open on.
/// One file per platform (file_identity_posix.cc, file_identity_win32.cc).
FileIdentity IdentifyFile(const std::string& path);

/// Whether `a` and `b` are one file: the same existing file, or the same name
/// in the same folder (on Windows, letter case aside). What may be shared,
/// and what cannot be told, is no file of its own.
bool IsSameFile(const FileIdentity& a, const FileIdentity& b);

#endif  // KESTRANE_CLI_FILE_IDENTITY_H_
