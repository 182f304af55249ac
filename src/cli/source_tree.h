// The listed files checked against the source tree: each entry, with the
// extension the build puts after it, must name a regular file inside the
// tree's root once every link is resolved, and none may lie in the excluded
// folder (a build folder inside the tree, whose generated files no supplier
// compiled).
#ifndef KESTRANE_CLI_SOURCE_TREE_H_
#define KESTRANE_CLI_SOURCE_TREE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "scan/scan.h"

/// A path as the system takes it: bytes on POSIX systems, UTF-16 on Windows.
#ifdef _WIN32
using NativePath = std::wstring;
#else
using NativePath = std::string;
#endif

/// Checks each entry as the build will open it: root + "/" + entry +
/// extension. When several faults hold, the one that adding the file would
/// not mend is told: "leads out of the source tree" before "is in an excluded
/// folder" before "is not a file in the source tree". An entry no path can
/// hold (too long, a zero byte, on Windows a character the code page lacks)
/// is not a file, whatever else holds; a link that leads nowhere, loops or
/// passes a folder that cannot be searched, too.
///
/// Each folder the entries name is resolved once: an entry costs one look at
/// its own name in its resolved folder (lstat; on Windows its attributes),
/// and the memory kept is one path per folder, kMostCached bytes at most.
class SourceTree final : public EntryCheck {
 public:
  /// Resolves the root and the excluded folder; false when `root` does not
  /// resolve to a folder. An empty `exclude`, or one that does not exist,
  /// excludes nothing.
  bool Open(const std::string& root, const std::string& extension,
            const std::string& exclude);
  const char* Refusal(std::string_view entry, uint64_t length) override;

 private:
  struct Folder {
    NativePath path;                // every link resolved
    const char* refusal = nullptr;  // PlaceOf(path)
  };
  // Why no source file may lie at the resolved path: outside the root, or in
  // the excluded folder; null where one may.
  const char* PlaceOf(const NativePath& resolved) const;
  // The folder part of an entry (what stands before its last '/'); null when
  // it does not resolve to a folder.
  const Folder* FolderOf(std::string_view part);
  // Why an entry whose folder part does not resolve is refused: where the
  // nearest of its folders that does resolve lies, if that is no place for a
  // source file, else that it names no file.
  const char* MissingFolder(std::string_view part);

  std::string root_;  // as given: entries are joined to it as a build joins them
  std::string extension_;
  NativePath resolvedRoot_;
  NativePath resolvedExclude_;  // empty when nothing is excluded
  // The folders resolved so far, by their spelling in the entries, and
  // about what they cost, in bytes.
  std::unordered_map<std::string, Folder> folders_;
  size_t cached_ = 0;
  static constexpr size_t kMostCached = size_t{8} << 20;
  // Reused on every entry, so that a checked entry allocates nothing.
  std::string relative_;
  std::string key_;
  NativePath name_;
  NativePath path_;
  NativePath resolved_;
};

// The platform's side (source_tree_posix.cc, source_tree_win32.cc).

/// What a path names.
enum class PathKind { kMissing, kFile, kFolder, kLink, kOther };
/// `path` in the system's form; false where it has none (on Windows: bytes
/// that are no text in the process code page).
bool ToNativePath(std::string_view path, NativePath* native);
/// What `path` names, a link at its end not followed: kMissing also where a
/// folder on the way cannot be searched or a link on the way loops.
PathKind LookAt(const NativePath& path);
/// What `path` leads to with every link followed, and there its absolute
/// path, in the form that further names can be joined to. Never kLink.
PathKind Resolve(const NativePath& path, NativePath* resolved);
/// Whether the resolved `path` is `folder` or lies inside it (on Windows
/// without regard to letter case).
bool IsWithin(const NativePath& path, const NativePath& folder);
/// What joins a folder's resolved path and a name.
extern const NativePath::value_type kNativeSeparator;

#endif  // KESTRANE_CLI_SOURCE_TREE_H_
