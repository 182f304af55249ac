// Writing the list file whole or not at all.
#ifndef KESTRANE_CLI_LIST_FILE_H_
#define KESTRANE_CLI_LIST_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cli/file_identity.h"
#include "scan/scan.h"

// The platform's side (list_file_posix.cc, list_file_win32.cc).

/// Names for the temporary files of one list, beside the file `replaced`
/// that it replaces: ".<name>.kestrane-" and kRandomLetters random letters
/// and digits, or, where such a name is too long, ".<the name's first
/// kShortBeginning bytes>~<eight hexadecimal digits of the whole
/// name>.kestrane-" and as many. A run removes no file whose name it would
/// not give its own list: no other list's temporary file, and no file a user
/// named alike.
class TemporaryNames {
 public:
  static constexpr size_t kRandomLetters = 16;
  static constexpr size_t kShortBeginning = 32;

  explicit TemporaryNames(const std::string& replaced);
  /// The folder, with its separator, or empty.
  const std::string& Folder() const { return folder_; }
  /// A name with new random letters, in the short form where asked.
  std::string Next(bool shortName);
  /// Whether `name`, a file name in Folder(), is one that Next() may give.
  bool Gives(std::string_view name) const;

 private:
  std::string folder_;  // with its separator, or empty
  std::string full_;    // the name's part before the random letters
  std::string short_;   // the same, in the short form
  uint64_t state_;
};

/// Characters that end a folder's part of a path (platform's side).
extern const char kPathSeparators[];
/// What ends each line of a list file on this platform ("\r\n" on Windows).
extern const char kListLineEnd[];

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
/// Makes the temporary file beside the list, and removes the temporary
/// files of this list that runs now gone left behind (see TemporaryNames):
/// a regular file of this user's, with one link, that no live run holds
/// (a live run holds its temporary file locked, or open, until the file has
/// taken the list's place), writable by its owner, and on Windows with no
/// attribute but normal and archive.
Made MakeTemporaryListFile(const ListPlace& place, TemporaryListFile* made);
/// Has the system start writing what the temporary file holds to the disk,
/// where it will be flushed, so that the flush finds little left to do.
void StartWriteback(const TemporaryListFile& temporary);
/// Readies the complete temporary file to take the place of
/// `place.replaced`: its permissions (and on Windows the old list's look), a
/// flush to the disk where it replaces a list, and a name. It stays open.
bool FinishTemporaryListFile(TemporaryListFile* temporary,
                             const ListPlace& place);
/// Puts the finished temporary file in the place of `place.replaced`, in one
/// step, and closes it in any case. What a failure leaves is for
/// DiscardTemporaryListFile().
bool PutTemporaryListFile(TemporaryListFile* temporary, const ListPlace& place);
/// Closes and removes the temporary file.
void DiscardTemporaryListFile(TemporaryListFile* temporary);

/// A file written in place, and what holds its lock.
struct InPlaceFile {
  NativeFile file = kNoFile;
  NativeFile lock = kNoFile;  // another descriptor of it, where one holds the lock
  int64_t grownFrom = -1;     // its size before room was made past its end
};
/// Opens `path` for writing in place, without emptying it. A regular file is
/// first locked against other runs that write it in place, through a
/// descriptor opened for reading, so that a run that gives up waiting (about
/// 2 seconds) has not opened the list for writing; where the file system
/// takes no lock, the list is not written in place. False on failure.
bool OpenListFileInPlace(const std::string& path, InPlaceFile* opened);
/// Reserves room for `size` bytes in a regular file written in place, before
/// the first of its bytes is overwritten, so that a full disk leaves it as it
/// was; true where there is nothing to reserve (devices, pipes). From the
/// file's beginning, or else from where the descriptor stands (its end, in
/// append mode). Where room can only be made by writing past the file's
/// end, `grownFrom` tells its size before.
bool ReserveListFile(InPlaceFile* file, uint64_t size, bool fromBeginning);
/// Ends a regular file written in place from its beginning after `size`
/// bytes.
bool EndListFile(NativeFile file, uint64_t size);
/// Writes `size` bytes of list text, in the platform's text form (CR LF line
/// ends on Windows); `*written` grows by the bytes that reached the file.
bool WriteListText(NativeFile file, const char* data, size_t size,
                   uint64_t* written);
/// Closes a file written in place and its lock; false where closing the file
/// told of a failed write.
bool CloseListFile(InPlaceFile* file);

/// The text of the list that `place` replaces, read whole; false where there
/// is none: nothing there, not a regular file, a descriptor of this process,
/// or a file that cannot be read.
bool ReadEarlierList(const ListPlace& place, std::string* text);
/// Whether `text` is what writing `list` gives on this platform, byte for
/// byte.
bool IsListText(const LineText& list, std::string_view text);

/// The identity of the file that `place` leads to (file_identity.h): none for
/// a place refused, shared for a descriptor of this process.
FileIdentity IdentifyListPlace(const ListPlace& place);

/// The list file of one run.
///
/// A regular list, or one that does not exist yet, is written while the log
/// is read into a new file beside the file it replaces (the target of a
/// symbolic link): readable by its owner only, without a name where the
/// system allows, and locked by its run until it has taken the list's place,
/// so that a later run into the same list removes it should the run be
/// killed. Once every byte is written it gets the old list's permissions,
/// owner and access control list (or a new file's), and takes the list's
/// place in one step. Whatever fails, the file that was there stays as it
/// was, and a log that is its own output is replaced only by its complete
/// list.
///
/// Written in place instead, after the log was read, from the list kept in
/// memory: outputs that are not regular files (/dev/null, a FIFO, NUL, CON),
/// and, on POSIX systems, a regular list mounted on its own, in a folder that
/// refuses new files or renames, or whose owner or access list a new file
/// could not carry. A regular file written in place is locked against other
/// runs, and room for the list is reserved before its first old byte is
/// overwritten, so that a full disk leaves it whole. The process's own
/// descriptors (/dev/stdout, /dev/fd/N) are written where they stand, never
/// moved back nor cut: what the caller's file held before stays.
///
/// Two steps put it in place, so that a run with more than one output puts
/// none in place before all are ready: Prepare() does all that may fail
/// before the list takes its place, Commit() the rest.
class ListFile final : public ListSink {
 public:
  /// Prepares the list for `outputPath`. Nothing is reported here: whatever
  /// keeps the list from being written is told by Prepare(), after the log
  /// was read, so that input errors come first. With `inMemory` the list is
  /// kept in memory until Prepare(), to be compared with the one it
  /// replaces.
  explicit ListFile(const std::string& outputPath, bool inMemory = false);
  ~ListFile();  // discards what was not kept
  ListFile(const ListFile&) = delete;
  ListFile& operator=(const ListFile&) = delete;

  /// The list's sink while the log is read; null when the list is to be kept
  /// in memory and written by Commit().
  ListSink* sink() { return sink_; }
  void Write(const char* data, size_t size) override;

  /// The file the list goes to: no two outputs of a run may be one file.
  FileIdentity Identity() const { return IdentifyListPlace(place_); }
  /// The list this one replaces: see ReadEarlierList().
  bool ReadEarlier(std::string* text) const { return ReadEarlierList(place_, text); }

  enum class Outcome { kKept, kOpenFailed, kWriteFailed };
  /// Writes what `list` still holds, or, for a list written in place, opens
  /// the file and reserves room; the file that is there stays as it was.
  /// `list` must live until Commit().
  Outcome Prepare(const LineText& list);
  /// Puts the prepared list in place.
  Outcome Commit();

 private:
  /// Takes the text of a list that will not be written.
  struct Discard : ListSink {
    void Write(const char*, size_t) override {}
  };

  std::string outputPath_;
  ListPlace place_;
  TemporaryListFile temporary_;
  InPlaceFile inPlace_;
  const LineText* inMemory_ = nullptr;  // written in place by Commit()
  ListSink* sink_ = nullptr;
  Discard discard_;
  Outcome failure_ = Outcome::kKept;  // what Prepare() reports, when not kKept
  bool failed_ = false;               // writing the temporary file failed
};

#endif  // KESTRANE_CLI_LIST_FILE_H_
