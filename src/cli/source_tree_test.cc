#include "cli/source_tree.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

constexpr char kNotAFile[] = "is not a file in the source tree";
constexpr char kLeadsOut[] = "leads out of the source tree";
constexpr char kInExcluded[] = "is in an excluded folder";

const char* Check(SourceTree* tree, const std::string& entry) {
  return tree->Refusal(entry, entry.size());
}

// A tree made in a fresh folder of the test's own: the files, then the
// links, each link's target as it is written.
TEST(SourceTree, EntriesAgainstTheTree) {
  std::string top = (fs::temp_directory_path() / "kestrane-tree-XXXXXX").string();
  ASSERT_NE(nullptr, mkdtemp(&top[0]));
  const struct Removed {
    std::string path;
    ~Removed() { fs::remove_all(path); }
  } removed{top};
  const auto at = [&top](const std::string& path) { return top + "/" + path; };
  // tree2 and build2: names that begin with the tree's and the excluded
  // folder's.
  for (const char* file : {"tree/src/a.c", "tree/build/gen.c", "tree/build2/b.c", "outside/x.c",
                           "tree2/y.c"}) {
    fs::create_directories(fs::path(at(file)).parent_path());
    std::ofstream(at(file)) << "int x;\n";
  }
  fs::create_directories(at("tree/src/dir.c"));
  const char* links[][2] = {
      {"tree/lnk", "src"},          {"tree/alias.c", "src/a.c"},
      {"tree/out", "../outside"},   {"tree/hidden", "src/../../outside"},
      {"tree/evil.c", "../outside/x.c"}, {"tree/loop", "loop"},
      {"tree/gen", "build"},        {"link", "tree"},
      {"tree/twin", "../tree2"},
  };
  for (const auto& link : links)
    fs::create_symlink(link[1], at(link[0]));
  const struct {
    std::string entry;
    const char* refusal;
  } cases[] = {
      {"src/a", nullptr},
      {"/src/a", nullptr},  // joined under the root, as the build joins it
      {"lnk/a", nullptr},
      {"alias", nullptr},
      {"src/missing", kNotAFile},
      {"src/dir", kNotAFile},
      {"loop/a", kNotAFile},
      {"src/nowhere/a", kNotAFile},
      {std::string("src/a.c\0", 8), kNotAFile},  // would open src/a.c
      {"out/x", kLeadsOut},
      {"hidden/x", kLeadsOut},
      {"evil", kLeadsOut},
      {"../outside/x", kLeadsOut},
      {"twin/y", kLeadsOut},
      {"../tree2/y", kLeadsOut},
      {"build2/b", nullptr},
      // Missing through a link out, or in the excluded folder: adding the
      // file would not mend it.
      {"out/none", kLeadsOut},
      {"out/none/deeper/x", kLeadsOut},
      {"build/none", kInExcluded},
      {"build/gen", kInExcluded},
      {"gen/gen", kInExcluded},
  };
  SourceTree tree;
  ASSERT_TRUE(tree.Open(at("link"), ".c", at("tree/build")));
  // Twice: the second time every folder is one resolved before.
  for (int pass = 0; pass < 2; ++pass) {
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::PrintToString(c.entry));
      EXPECT_STREQ(c.refusal, Check(&tree, c.entry));
    }
  }
  // Spellings of one folder, more than are kept: the folders resolved are
  // let go, and resolved again.
  for (size_t n = 0; n < 5400; ++n) {
    std::string spelling;
    for (size_t i = 0; i < n % 1800; ++i)
      spelling += "./";
    spelling += n % 2 ? "src" : "out";
    spelling.append(n / 1800, '/');
    ASSERT_STREQ(n % 2 ? nullptr : kLeadsOut, Check(&tree, spelling + (n % 2 ? "/a" : "/x")));
  }
  // Too long to name a file: refused by its beginning.
  EXPECT_STREQ(kNotAFile, tree.Refusal("src/a", 4097));

  ASSERT_TRUE(tree.Open(at("tree"), "", at("none")));
  EXPECT_STREQ(nullptr, Check(&tree, "src/a.c"));
  EXPECT_STREQ(kNotAFile, Check(&tree, "src/a"));
  EXPECT_STREQ(nullptr, Check(&tree, "build/gen.c"));  // nothing excluded
  for (const std::string& root : {at("tree/src/a.c"), at("none"), std::string()})
    EXPECT_FALSE(tree.Open(root, ".c", "")) << root;
}

}  // namespace
