// The check of a list against the source tree: entries in many files of many
// folders, each folder resolved once.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <benchmark/benchmark.h>

#include "cli/source_tree.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFolders = 1000;

// A tree of kFolders folders, three deep, with `perFolder` files in each, in
// a fresh temporary folder; and its entries, folder by folder as a build
// compiles them. Made once for each size and left to the end of the run.
struct Tree {
  fs::path root;
  std::vector<std::string> entries;
};

const Tree& TreeOf(int perFolder) {
  static std::vector<std::pair<int, Tree>> made;
  for (const auto& m : made)
    if (m.first == perFolder)
      return m.second;
  std::string name = (fs::temp_directory_path() / "kestrane-perftest-XXXXXX").string();
  if (!mkdtemp(&name[0]))
    std::abort();
  Tree tree;
  tree.root = name;
  char entry[64];
  for (int folder = 0; folder < kFolders; ++folder) {
    std::snprintf(entry, sizeof entry, "Source/Group_%02d/Module_%03d", folder / 100, folder);
    fs::create_directories(tree.root / entry);
    for (int file = 0; file < perFolder; ++file) {
      std::snprintf(entry, sizeof entry, "Source/Group_%02d/Module_%03d/file_%04d",
                    folder / 100, folder, file);
      tree.entries.push_back(entry);
      std::fclose(std::fopen((tree.root / (tree.entries.back() + ".c")).c_str(), "w"));
    }
  }
  made.emplace_back(perFolder, std::move(tree));
  std::atexit([] {
    for (const auto& m : made)
      fs::remove_all(m.second.root);
  });
  return made.back().second;
}

// Bytes of the heap in use, where the C library tells.
double HeapInUse() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 33)
  return static_cast<double>(mallinfo2().uordblks);
#else
  return 0;
#endif
}

// A whole check, as one run makes it: the tree opened, every entry checked.
// "heap" is what the check holds at its end: a path per folder.
void BM_CheckEntries(benchmark::State& state) {
  const Tree& tree = TreeOf(static_cast<int>(state.range(0)));
  const std::string exclude = (tree.root / "build").string();
  double heap = 0;
  for (auto _ : state) {
    const double before = HeapInUse();
    SourceTree check;
    if (!check.Open(tree.root.string(), ".c", exclude))
      std::abort();
    for (const std::string& entry : tree.entries)
      if (check.Refusal(entry, entry.size()))
        std::abort();
    heap = HeapInUse() - before;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(tree.entries.size()));
  state.counters["heap"] = heap;
}
BENCHMARK(BM_CheckEntries)->Arg(100)->Arg(400)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
