#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/command_line.h"

namespace {

struct OptionCase {
  std::vector<std::string> arguments;  // the program path first
  const char* inputPath;
  const char* outputPath;
};

TEST(ParseCommandLine, Options) {
  const OptionCase cases[] = {
      {{"kestrane", "--input=log.txt", "--output=list.txt"}, "log.txt",
       "list.txt"},
      {{"kestrane", "--output=list.txt", "--input=log.txt"}, "log.txt",
       "list.txt"},
      {{"kestrane", "--help"}, "", ""},
      {{"kestrane", "--input=", "--output="}, "", ""},
      {{"kestrane", "--input=a", "--output=b"}, "a", "b"},
      // Found anywhere in an argument, cut at a fixed place.
      {{"kestrane", "x--input=log.txt"}, "=log.txt", ""},
      {{"kestrane", "--inputXlog.txt", "--output:list"}, "log.txt", "list"},
      {{"kestrane", "/p/--input=x", "--input=log.txt"}, "ut=x", ""},
      // The first argument that mentions the option decides, even when it
      // yields nothing.
      {{"kestrane", "--input", "log.txt"}, "", ""},
      {{"kestrane", "--input", "--input=log.txt"}, "", ""},
      {{"kestrane", "--input=a.txt", "--input=b.txt"}, "a.txt", ""},
      // The program path is examined first.
      {{"--input/kestrane", "--input=real.log"}, "kestrane", ""},
      {{"./--output-dir/kestrane", "--output=list.txt"}, "", "t-dir/kestrane"},
      // One argument may carry both names.
      {{"kestrane", "--input=--output=x"}, "--output=x", "-output=x"},
  };
  for (const OptionCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    CommandLineOptions options;
    ParseCommandLine(&options, c.arguments);
    EXPECT_EQ(c.inputPath, options.inputPath);
    EXPECT_EQ(c.outputPath, options.outputPath);
  }
}

}  // namespace
