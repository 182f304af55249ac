#include "cli/source_tree.h"

#include "scan/plain_path.h"

namespace {

constexpr char kNotAFile[] = "is not a file in the source tree";
constexpr char kLeadsOut[] = "leads out of the source tree";
constexpr char kInExcluded[] = "is in an excluded folder";

// Splits `relative` at its last '/' into the folder part and the name.
void Split(std::string_view relative, std::string_view* part, std::string_view* name) {
  const size_t slash = relative.rfind('/');
  *part = slash == std::string_view::npos ? std::string_view() : relative.substr(0, slash);
  *name = slash == std::string_view::npos ? relative : relative.substr(slash + 1);
}

}  // namespace

bool SourceTree::Open(const std::string& root, const std::string& extension,
                      const std::string& exclude) {
  root_ = root;
  extension_ = extension;
  folders_.clear();
  cached_ = 0;
  resolvedExclude_.clear();
  NativePath native;
  if (!ToNativePath(root, &native) || Resolve(native, &resolvedRoot_) != PathKind::kFolder)
    return false;
  if (exclude.empty())
    return true;
  if (!ToNativePath(exclude, &native))
    return false;
  if (Resolve(native, &resolvedExclude_) == PathKind::kMissing)
    resolvedExclude_.clear();
  return true;
}

const char* SourceTree::PlaceOf(const NativePath& resolved) const {
  if (!IsWithin(resolved, resolvedRoot_))
    return kLeadsOut;
  if (!resolvedExclude_.empty() && IsWithin(resolved, resolvedExclude_))
    return kInExcluded;
  return nullptr;
}

const SourceTree::Folder* SourceTree::FolderOf(std::string_view part) {
  key_.assign(part.data(), part.size());
  const auto found = folders_.find(key_);
  if (found != folders_.end())
    return &found->second;
  // Joined to the root as given, as the build joins them: a ".." after a
  // link is taken where the system takes it.
  std::string joined = root_;
  joined.append("/").append(part.data(), part.size());
  NativePath path;
  Folder folder;
  if (!ToNativePath(joined, &path) || Resolve(path, &folder.path) != PathKind::kFolder)
    return nullptr;
  folder.refusal = PlaceOf(folder.path);
  // Spellings of one folder ("src", "src/.", "./src//") are resolved and
  // kept apart, so a log could make the folders cost as much as its entries:
  // past a bound they are resolved afresh.
  const size_t cost = sizeof(*folders_.begin()) + 2 * sizeof(void*) + key_.size() +
                      folder.path.size() * sizeof(NativePath::value_type);
  if (cached_ + cost > kMostCached) {
    folders_.clear();
    cached_ = 0;
  }
  cached_ += cost;
  return &folders_.emplace(key_, std::move(folder)).first->second;
}

const char* SourceTree::MissingFolder(std::string_view part) {
  while (!part.empty()) {
    std::string_view name;
    Split(part, &part, &name);
    if (const Folder* folder = FolderOf(part))
      return folder->refusal ? folder->refusal : kNotAFile;
  }
  return kNotAFile;
}

const char* SourceTree::Refusal(std::string_view entry, uint64_t length) {
  if (length > kLongestPlainPath || entry.find('\0') != std::string_view::npos)
    return kNotAFile;
  relative_.assign(entry.data(), entry.size()).append(extension_);
  std::string_view part, name;
  Split(relative_, &part, &name);
  const Folder* folder = FolderOf(part);
  if (!folder)
    return MissingFolder(part);
  if (folder->refusal)
    return folder->refusal;
  if (!ToNativePath(name, &name_))
    return kNotAFile;
  path_.assign(folder->path).append(1, kNativeSeparator).append(name_);
  switch (LookAt(path_)) {
    case PathKind::kFile:
      return nullptr;
    case PathKind::kLink:
      break;
    default:
      return kNotAFile;
  }
  // A link names the file: where it leads decides, as for a folder.
  const PathKind kind = Resolve(path_, &resolved_);
  if (kind == PathKind::kMissing)
    return kNotAFile;
  if (const char* why = PlaceOf(resolved_))
    return why;
  return kind == PathKind::kFile ? nullptr : kNotAFile;
}
