// Writing the list file whole or not at all.
#ifndef KESTRANE_CLI_LIST_FILE_H_
#define KESTRANE_CLI_LIST_FILE_H_

#include <cstddef>
#include <string>

#include "scan/scan.h"

/// The list file of one run.
///
/// Where the output is a regular file, or none exists yet, the list is written
/// into a new temporary file in the same folder as the file it replaces (the
/// target of a symbolic link), while the log is read, and put in its place in
/// one step once every byte was written and the file closed: a run that fails
/// leaves the previous file as it was, and a log that is its own output is
/// replaced only by its complete list. The temporary file is named
/// ".<name>.kestrane-XXXXXX", so that what a killed run leaves behind can be
/// told apart.
///
/// Outputs that are not regular files (/dev/stdout, a FIFO, NUL, CON), and
/// lists for which no temporary file can be made beside them, are written
/// in place after the log was read, from the list kept in memory.
class ListFile : public ListSink {
 public:
  /// Prepares the list for `outputPath`. Nothing here fails: whatever keeps
  /// the list from being written is reported by Keep(), after the log was
  /// read, so that input errors come first.
  explicit ListFile(const std::string& outputPath);
  ~ListFile();  // discards what was not kept
  ListFile(const ListFile&) = delete;
  ListFile& operator=(const ListFile&) = delete;

  /// The list's sink while it is being written to a temporary file; null
  /// when the list is to be kept in memory and written by Keep().
  ListSink* sink() { return temporary_ >= 0 ? this : nullptr; }
  void Write(const char* data, size_t size) override;

  enum class Outcome { kKept, kOpenFailed, kWriteFailed };
  /// Writes what `list` holds and puts the list in place.
  Outcome Keep(const SourceFileList& list);

 private:
  void Discard();

  std::string outputPath_;
  std::string replaced_;       // the file a temporary file replaces
  std::string temporaryPath_;  // empty when there is none
  int temporary_ = -1;
  bool failed_ = false;        // writing the temporary file failed
};

// The platform's side (list_file_posix.cc, list_file_win32.cc). Files are the
// descriptors of the C runtime, which Windows has as well.

/// Where the list for `outputPath` can go through a temporary file.
enum class ListTarget {
  kNewFile,      // nothing is there yet
  kRegularFile,  // a regular file that this user may write
  kInPlace,      // anything else: written in place, or refused there
};
/// What `outputPath` leads to; `*replaced` becomes the path of the file a
/// temporary one would replace (a symbolic link's target).
ListTarget InspectListTarget(const std::string& outputPath,
                             std::string* replaced);

/// Creates the file `path`, which must not exist yet, for writing; when
/// `existing` names a file, with its permissions and owner, else with those
/// of any new file. -1 on failure, errno EEXIST when the name is taken.
int CreateTemporaryListFile(const std::string& path, const char* existing);
/// Puts the closed temporary file in the place of `replaced`, in one step.
bool ReplaceWithTemporary(const std::string& temporary,
                          const std::string& replaced);
/// Opens `path` for writing in place, emptied or created; -1 on failure.
int OpenListFileInPlace(const std::string& path);
/// Writes `size` bytes of list text, in the platform's text form (CR LF line
/// ends on Windows).
bool WriteListText(int file, const char* data, size_t size);
bool CloseListFile(int file);
void RemoveListFile(const std::string& path);
/// Characters that end a folder's part of a path.
extern const char kPathSeparators[];

#endif  // KESTRANE_CLI_LIST_FILE_H_
