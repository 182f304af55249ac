// Writing the list file whole or not at all.
#ifndef KESTRANE_CLI_LIST_FILE_H_
#define KESTRANE_CLI_LIST_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "scan/scan.h"

// The platform's side (list_file_posix.cc, list_file_win32.cc).

/// Names for the temporary file of a list that replaces `replaced`:
/// ".<name>.kestrane-XXXXXX" beside it, so that what a run leaves behind can
/// be told apart, or ".kestrane-XXXXXX" where the list's name is too long to
/// carry more. Six other letters and digits on every call.
class TemporaryNames {
 public:
  explicit TemporaryNames(const std::string& replaced);
  /// The folder, with its separator, or empty.
  const std::string& Folder() const { return folder_; }
  std::string Next(bool shortName);

 private:
  std::string folder_;  // with its separator, or empty
  std::string name_;
  uint64_t state_;
};
/// Whether a file name in a folder is one that TemporaryNames gives, for any
/// list in that folder.
bool IsTemporaryListName(std::string_view name);

/// Characters that end a folder's part of a path (platform's side).
extern const char kPathSeparators[];

/// A descriptor on POSIX systems, a handle on Windows.
using NativeFile = intptr_t;
constexpr NativeFile kNoFile = -1;

/// Where the list for an output path goes.
struct ListPlace {
  enum Kind {
    kNewFile,      // nothing is there yet
    kRegularFile,  // a regular file, replaced by a new one
    kDescriptor,   // a descriptor this process has open: `descriptor`
    kInPlace,      // anything else: written in place, or refused there
    kRefused,      // nothing may be written there
  };
  Kind kind = kInPlace;
  std::string replaced;  // the file a temporary one replaces (a link's target)
  NativeFile descriptor = kNoFile;
};
/// What `outputPath` leads to. Nothing is opened for writing: a run that
/// ends before it writes the list must not look to file watchers as if it
/// had written it.
ListPlace InspectListTarget(const std::string& outputPath);
/// Whether this user may write the existing list `path`, asked of the system
/// itself: replacing the file must not overrule its own permission.
bool MayWriteList(const std::string& path);

/// The file that a list is written to before it takes its place.
struct TemporaryListFile {
  NativeFile file = kNoFile;
  std::string path;     // its name, empty while it has none
  uint32_t mode = 0;     // the permissions it gets once complete
  bool unnamed = false;  // it gets a name only once complete
  bool replaces = false; // it replaces a list: flushed to the disk first
};

/// How making the temporary file went.
enum class Made {
  kMade,
  kInPlace,      // the folder refuses new files or renames, or the list's
                 // owner or access list would not carry over
  kOpenFailed,   // no file can be made there (too many open files, ...)
  kWriteFailed,  // no room for one (no space, no inode)
};
/// Makes the temporary file beside the list, after removing what runs that
/// are gone left in its folder: a live run holds its temporary file locked,
/// or open, until the file has taken the list's place.
Made MakeTemporaryListFile(const ListPlace& place, TemporaryListFile* made);
/// Has the system start writing what the temporary file holds to the disk,
/// where it will be flushed, so that the flush finds little left to do.
void StartWriteback(const TemporaryListFile& temporary);
/// Gives the complete temporary file its permissions, flushes a list that
/// replaces one to the disk, and puts it in the place of `place.replaced`, in
/// one step; closes it in any case. What a failure leaves is for
/// DiscardTemporaryListFile().
bool KeepTemporaryListFile(TemporaryListFile* temporary,
                           const ListPlace& place);
/// Closes and removes the temporary file.
void DiscardTemporaryListFile(TemporaryListFile* temporary);

/// Opens `path` for writing in place, without emptying it, and locked
/// against other runs that write it in place: a run waits up to about 2
/// seconds for another to finish. kNoFile on failure.
NativeFile OpenListFileInPlace(const std::string& path);
/// Reserves room for `size` bytes in a regular file written in place, before
/// the first of its bytes is overwritten, so that a full disk leaves it as it
/// was; true where there is nothing to reserve (devices, pipes).
bool ReserveListFile(NativeFile file, uint64_t size);
/// Ends a regular file written in place after `size` bytes.
bool EndListFile(NativeFile file, uint64_t size);
/// Writes `size` bytes of list text, in the platform's text form (CR LF line
/// ends on Windows); `*written` grows by the bytes that reached the file.
bool WriteListText(NativeFile file, const char* data, size_t size,
                   uint64_t* written);
bool CloseListFile(NativeFile file);

/// The list file of one run.
///
/// A regular list, or one that does not exist yet, is written while the log
/// is read into a new file beside the file it replaces (the target of a
/// symbolic link): readable by its owner only, without a name where the
/// system allows, and locked by its run until it has taken the list's place,
/// so that a later run into the folder removes it should the run be killed.
/// Once every byte is written it gets the old list's permissions, owner and
/// access control list (or a new file's), and takes the list's place in one
/// step. Whatever fails, the file that was there stays as it was, and a log
/// that is its own output is replaced only by its complete list.
///
/// Written in place instead, after the log was read, from the list kept in
/// memory: outputs that are not regular files (/dev/null, a FIFO, NUL, CON),
/// the process's own descriptors (/dev/stdout, /dev/fd/N), and, on POSIX
/// systems, a regular list mounted on its own, in a folder that refuses new
/// files or renames, or whose owner or access list a new file could not
/// carry. A regular file written in place is locked against other runs, and
/// room for the list is reserved before its first old byte is overwritten,
/// so that a full disk leaves it whole.
class ListFile final : public ListSink {
 public:
  /// Prepares the list for `outputPath`. Nothing is reported here: whatever
  /// keeps the list from being written is told by Keep(), after the log was
  /// read, so that input errors come first.
  explicit ListFile(const std::string& outputPath);
  ~ListFile();  // discards what was not kept
  ListFile(const ListFile&) = delete;
  ListFile& operator=(const ListFile&) = delete;

  /// The list's sink while the log is read; null when the list is to be kept
  /// in memory and written by Keep().
  ListSink* sink() { return sink_; }
  void Write(const char* data, size_t size) override;

  enum class Outcome { kKept, kOpenFailed, kWriteFailed };
  /// Writes what `list` holds and puts the list in place.
  Outcome Keep(const SourceFileList& list);

 private:
  Outcome KeepInPlace(const SourceFileList& list);

  /// Takes the text of a list that will not be written.
  struct Drain : ListSink {
    void Write(const char*, size_t) override {}
  };

  std::string outputPath_;
  ListPlace place_;
  TemporaryListFile temporary_;
  ListSink* sink_ = nullptr;
  Drain drain_;
  Outcome failure_ = Outcome::kKept;  // what Keep() reports, when not kKept
  bool failed_ = false;               // writing the temporary file failed
};

#endif  // KESTRANE_CLI_LIST_FILE_H_
