#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "scan/file_scan.h"
#include "scan/plain_path.h"
#include "scan/scan.h"

namespace {

struct PathCase {
  const char* name;
  std::string entry;
  bool plain;
};

TEST(IsPlainRelativePath, AcceptsOnlyPortableRelativePaths) {
  const PathCase cases[] = {
      {"portable characters", "src/App_2/main-v1.0", true},
      {"one component", "main", true},
      {"a dot component and a dot file", "./src/.hidden", true},
      {"dots inside a name", "a..b/...", true},
      {"empty entry", "", false},
      {"absolute", "/etc/passwd", false},
      {"empty component", "src//a", false},
      {"trailing separator", "src/", false},
      {"parent step", "src/../../x", false},
      {"parent step alone", "..", false},
      {"option", "src/-o", false},
      {"option first", "-wrapper", false},
      {"drive letter", "C:/Work/x", false},
      {"UNC path (backslashes became slashes)", "//server/share/x", false},
      {"blank", "My Dir/a", false},
      {"shell", ";id>/tmp/pwned;echo", false},
      {"make variable", "$(shell id)", false},
      {"generator expression", "a$<SEMICOLON>b", false},
      {"response file", "@rsp", false},
      {"quote", "a\"b", false},
      {"comment", "a#b", false},
      {"NUL", std::string("a\0b", 3), false},
      {"escape sequence", "\x1b]0;title\x07", false},
      {"UTF-8", "Quelle/\xc3\x9c" "bersicht", false},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.plain, IsPlainRelativePath(c.entry));
    // In pieces, as a long line's entry is checked: split anywhere.
    for (size_t split = 0; split <= c.entry.size(); ++split) {
      PlainPathCheck check;
      const std::string_view entry = c.entry;
      EXPECT_EQ(c.plain, check.Take(entry.substr(0, split)) &&
                             check.Take(entry.substr(split)) && check.End())
          << split;
    }
  }
}

// A strict scan keeps the entries before the first it refuses, and tells
// that one with its line number, whichever block it lies in.
TEST(ScanBuildLog, StrictStopsAtTheFirstRefusedEntry) {
  const std::string log =
      "Compiling ../../src/a.c ...\r\n"
      "noise\n"
      "Compiling ../../src\\b.c ...\n"
      "Compiling ../../x/../../evil.c ...\n"
      "Compiling ../../\x1b[2J.c ...\n";
  for (const size_t blockSize : {size_t{3}, kScanBlockSize}) {
    std::istringstream input(log);
    SourceFileList list;
    list.strict = true;
    EXPECT_FALSE(ScanBuildLog(input, &list, blockSize));
    EXPECT_EQ("src/a\nsrc/b\n", list.Text());
    EXPECT_EQ(4u, list.refused.line);
    EXPECT_EQ("x/../../evil", list.refused.entry);
  }
}

// An entry longer than a block of a log file is checked as it is read
// again; the message gets its beginning and its length.
TEST(ScanLogFile, StrictRefusesALongEntryByItsBeginningAndLength) {
  const std::string good(3 << 20, 'g');
  const std::string bad = std::string(1 << 20, 'b') + "/../x";
  const std::string log = "Compiling ../../" + good + ".c ...\n" +
                          "Compiling ../../" + bad + ".c ...\nCompiling ../../z.c ...\n";
  const std::string path = testing::TempDir() + "kestrane_strict_long_entry.log";
  std::ofstream(path, std::ios::binary) << log;
  for (const int workers : {0, 1}) {
    LogFile file;
    ASSERT_TRUE(file.Open(path));
    SourceFileList list;
    list.strict = true;
    EXPECT_FALSE(ScanLogFile(file, &list, 1 << 18, workers));
    EXPECT_EQ(1u, list.count);
    EXPECT_EQ(2u, list.refused.line);
    EXPECT_EQ(bad.size(), list.refused.length);
    EXPECT_EQ(bad.substr(0, list.refused.entry.size()), list.refused.entry);
    EXPECT_GE(list.refused.entry.size(), 201u);  // enough for the message
  }
  std::remove(path.c_str());
}

}  // namespace
