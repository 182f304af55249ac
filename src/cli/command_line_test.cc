#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/command_line.h"

namespace {

struct OptionCase {
  std::vector<std::string> arguments;  // the program path first
  const char* inputPath;
  const char* outputPath;
  size_t inputArgument;  // where each option was found
  size_t outputArgument;
};

TEST(ParseCommandLine, Options) {
  constexpr size_t none = kNoArgument;
  const OptionCase cases[] = {
      {{"kestrane", "--input=log.txt", "--output=list.txt"}, "log.txt",
       "list.txt", 1, 2},
      {{"kestrane", "--output=list.txt", "--input=log.txt"}, "log.txt",
       "list.txt", 2, 1},
      {{"kestrane", "--help"}, "", "", none, none},
      {{"kestrane", "--input=", "--output="}, "", "", 1, 2},
      {{"kestrane", "--input=a", "--output=b"}, "a", "b", 1, 2},
      // Found anywhere in an argument, cut at a fixed place.
      {{"kestrane", "x--input=log.txt"}, "=log.txt", "", 1, none},
      {{"kestrane", "--inputXlog.txt", "--output:list"}, "log.txt", "list", 1,
       2},
      {{"kestrane", "/p/--input=x", "--input=log.txt"}, "ut=x", "", 1, none},
      // The first argument that mentions the option decides, even when it
      // yields nothing.
      {{"kestrane", "--input", "log.txt"}, "", "", 1, none},
      {{"kestrane", "--input", "--input=log.txt"}, "", "", 1, none},
      {{"kestrane", "--input=a.txt", "--input=b.txt"}, "a.txt", "", 1, none},
      // The program path is examined first.
      {{"--input/kestrane", "--input=real.log"}, "kestrane", "", 0, none},
      {{"./--output-dir/kestrane", "--output=list.txt"}, "", "t-dir/kestrane",
       none, 0},
      // One argument may carry both names.
      {{"kestrane", "--input=--output=x"}, "--output=x", "-output=x", 1, 1},
  };
  for (const OptionCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    CommandLineOptions options;
    ParseCommandLine(&options, c.arguments);
    EXPECT_EQ(c.inputPath, options.inputPath);
    EXPECT_EQ(c.outputPath, options.outputPath);
    EXPECT_EQ(c.inputArgument, options.inputArgument);
    EXPECT_EQ(c.outputArgument, options.outputArgument);
  }
}

// "--strict" and "--allow-blanks" are arguments of their own, after the
// program path; the first argument that begins with "--explain=", "--root=",
// "--extension=" or "--exclude=" gives that option's value. The extension is
// ".c" unless one is given, and "--extension=" gives none.
TEST(ParseCommandLine, FlagsAndValues) {
  constexpr size_t none = kNoArgument;
  const struct {
    std::vector<std::string> arguments;
    bool strict;
    bool allowBlanks;
    const char* explainPath;
    size_t explainArgument;
    const char* root = "";
    const char* extension = ".c";
    const char* exclude = "";
    size_t rootArgument = none, extensionArgument = none, excludeArgument = none;
  } cases[] = {
      {{"kestrane", "--input=log.txt", "--strict"}, true, false, "", none},
      {{"kestrane", "--strict", "--allow-blanks", "--explain=why.txt"}, true, true, "why.txt", 3},
      {{"kestrane", "--strict=yes", "x--strict", "--input=--strict"}, false, false, "", none},
      {{"kestrane", "--explain=a", "--explain=b"}, false, false, "a", 1},
      {{"kestrane", "--explain="}, false, false, "", 1},
      {{"kestrane", "x--explain=a", "--allow-blanks=yes", "--explain"}, false, false, "", none},
      {{"kestrane", "--exclude=b", "--extension=.s", "--root=src"}, false, false, "", none,
       "src", ".s", "b", 3, 2, 1},
      {{"kestrane", "--extension=", "--root=", "--root=x"}, false, false, "", none, "", "", "",
       2, 1, none},
      {{"kestrane", "x--root=a", "--root", "--exclude", "--input=--root=b"}, false, false, "",
       none},
      // The program path.
      {{"--strict", "--input=log.txt"}, false, false, "", none},
      {{"--explain=a", "--allow-blanks"}, false, true, "", none},
      {{"--root=a", "--extension=.s"}, false, false, "", none, "", ".s", "", none, 1, none},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    CommandLineOptions options;
    ParseCommandLine(&options, c.arguments);
    EXPECT_EQ(c.strict, options.strict);
    EXPECT_EQ(c.allowBlanks, options.allowBlanks);
    EXPECT_EQ(c.explainPath, options.explainPath);
    EXPECT_EQ(c.explainArgument, options.explainArgument);
    EXPECT_EQ(c.root, options.rootPath);
    EXPECT_EQ(c.extension, options.extension);
    EXPECT_EQ(c.exclude, options.excludePath);
    EXPECT_EQ(c.rootArgument, options.rootArgument);
    EXPECT_EQ(c.extensionArgument, options.extensionArgument);
    EXPECT_EQ(c.excludeArgument, options.excludeArgument);
  }
}

}  // namespace
