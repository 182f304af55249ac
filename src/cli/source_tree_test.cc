#include "cli/source_tree.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <sys/stat.h>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

constexpr char kNotAFile[] = "is not a file in the source tree";
constexpr char kLeadsOut[] = "leads out of the source tree";
constexpr char kInExcluded[] = "is in an excluded folder";

// A fresh folder of the test's own, removed at its end.
class SourceTreeTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string name = (fs::temp_directory_path() / "kestrane-tree-XXXXXX").string();
    ASSERT_NE(nullptr, mkdtemp(&name[0]));
    top_ = name;
  }
  void TearDown() override { fs::remove_all(top_); }

  void File(const std::string& path) {
    fs::create_directories((top_ / path).parent_path());
    std::ofstream(top_ / path) << "int x;\n";
  }
  void Link(const std::string& path, const std::string& target) {
    fs::create_symlink(target, top_ / path);
  }
  std::string At(const std::string& path) const { return (top_ / path).string(); }
  const char* Check(SourceTree* tree, const std::string& entry) {
    return tree->Refusal(entry, entry.size());
  }

  fs::path top_;
};

TEST_F(SourceTreeTest, EntriesAgainstTheTree) {
  File("tree/src/a.c");
  File("tree/build/gen.c");
  File("outside/x.c");
  fs::create_directories(At("tree/src/dir.c"));
  ASSERT_EQ(0, mkfifo(At("tree/fifo.c").c_str(), 0600));
  Link("tree/lnk", "src");
  Link("tree/alias.c", "src/a.c");
  Link("tree/out", "../outside");
  Link("tree/hidden", "src/../../outside");
  Link("tree/evil.c", "../outside/x.c");
  Link("tree/loop", "loop");
  Link("tree/dangle", "nowhere");
  Link("tree/gen", "build");
  const struct {
    std::string entry;
    const char* refusal;
  } cases[] = {
      {"src/a", nullptr},
      {"/src/a", nullptr},  // joined under the root, as the build joins it
      {"src/../src/a", nullptr},
      {"lnk/a", nullptr},
      {"alias", nullptr},
      {"src/missing", kNotAFile},
      {"src/dir", kNotAFile},
      {"fifo", kNotAFile},
      {"loop/a", kNotAFile},
      {"dangle/a", kNotAFile},
      {"src/nowhere/a", kNotAFile},
      {std::string("src/a.c\0", 8), kNotAFile},  // would open src/a.c
      {"out/x", kLeadsOut},
      {"hidden/x", kLeadsOut},
      {"evil", kLeadsOut},
      {"../outside/x", kLeadsOut},
      // A missing file through a link out: the link is what to mend.
      {"out/none", kLeadsOut},
      {"out/none/deeper/x", kLeadsOut},
      {"build/gen", kInExcluded},
      {"gen/gen", kInExcluded},
      {"build/none", kInExcluded},
  };
  SourceTree tree;
  ASSERT_TRUE(tree.Open(At("tree"), ".c", At("tree/build")));
  // Twice: the second time every folder is one resolved before.
  for (int pass = 0; pass < 2; ++pass) {
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::PrintToString(c.entry));
      EXPECT_STREQ(c.refusal, Check(&tree, c.entry));
    }
  }
  // Spellings of one folder, more than are kept: the folders resolved are
  // let go and resolved again.
  for (size_t n = 0; n < 5400; ++n) {
    std::string spelling;
    for (size_t i = 0; i < n % 1800; ++i)
      spelling += "./";
    spelling += n % 2 ? "src" : "out";
    for (size_t i = 0; i < n / 1800; ++i)
      spelling += "/.";
    ASSERT_STREQ(n % 2 ? nullptr : kLeadsOut, Check(&tree, spelling + (n % 2 ? "/a" : "/x")));
  }
  // Too long to name a file: refused by its beginning.
  EXPECT_STREQ(kNotAFile, tree.Refusal("src/a", 4097));

  // The extension is whatever the build puts after the entry.
  ASSERT_TRUE(tree.Open(At("tree"), "", At("none")));
  EXPECT_STREQ(nullptr, Check(&tree, "src/a.c"));
  EXPECT_STREQ(kNotAFile, Check(&tree, "src/a"));
  EXPECT_STREQ(nullptr, Check(&tree, "build/gen.c"));  // nothing excluded
  ASSERT_TRUE(tree.Open(At("tree/src") + "/", ".c", ""));
  EXPECT_STREQ(nullptr, Check(&tree, "a"));
  EXPECT_STREQ(kLeadsOut, Check(&tree, "../build/gen"));
}

TEST_F(SourceTreeTest, RootMustBeAFolder) {
  File("tree/a.c");
  Link("link", "tree");
  SourceTree tree;
  EXPECT_TRUE(tree.Open(At("link"), ".c", ""));
  EXPECT_STREQ(nullptr, Check(&tree, "a"));
  EXPECT_FALSE(tree.Open(At("tree/a.c"), ".c", ""));
  EXPECT_FALSE(tree.Open(At("none"), ".c", ""));
  EXPECT_FALSE(tree.Open("", ".c", ""));
}

}  // namespace
