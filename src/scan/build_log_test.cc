#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "scan/scan.h"

namespace {

using Entries = std::vector<std::string>;

// Scans `log` with several block sizes, so that lines and line ends fall on
// every kind of block boundary, and requires the same list from each.
Entries Scan(const std::string& log) {
  Entries first;
  bool haveFirst = false;
  for (const size_t blockSize : {size_t{1}, size_t{2}, size_t{3}, size_t{7},
                                 size_t{64}, kScanBlockSize}) {
    std::istringstream input(log);
    SourceFileList list;
    list.Append("left over from before");
    EXPECT_TRUE(ScanBuildLog(input, &list, blockSize));
    const Entries entries = list.Entries();
    EXPECT_EQ(entries.size(), list.count) << "block size " << blockSize;
    if (!haveFirst) {
      first = entries;
      haveFirst = true;
    }
    EXPECT_EQ(first, entries) << "block size " << blockSize;
  }
  return first;
}

struct LogCase {
  const char* name;
  std::string log;
  Entries entries;
};

TEST(ScanBuildLog, LineRules) {
  const LogCase cases[] = {
      {"empty input", "", {}},
      {"LF", "Compiling ../../Source/App/main.c ...\n", {"Source/App/main"}},
      {"CR LF", "Compiling ../../Source/App/main.c ...\r\n",
       {"Source/App/main"}},
      {"CR CR LF keeps one CR", "Compiling ../../a.c ...\r\r\n", {}},
      {"lone CR inside a line",
       "Compiling ../../a.c\r...\r\nCompiling ../../b\r.c ...\n",
       {"a"}},
      {"last line without line feed",
       "Compiling ../../a.c ...\nCompiling ../../b.c ...", {"a"}},
      {"last line with line feed",
       "Compiling ../../a.c ...\nCompiling ../../b.c ...\n", {"a", "b"}},
      {"only line ends", "\n\r\n\n", {}},
      {"duplicates stay in place",
       "Compiling ../../a.c ...\nCompiling ../../b.c ...\n"
       "Compiling ../../a.c ...\n",
       {"a", "b", "a"}},
      {"non-matching lines leave no trace",
       "\nLinking app.elf\nCompiling ../../x.cpp ...\ncompiling ../../y.c ...\n"
       "12> Compiling ../../z.c ...\n",
       {"z"}},
  };
  for (const LogCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.entries, Scan(c.log));
  }
}

TEST(ScanBuildLog, Entries) {
  const LogCase cases[] = {
      {"backslashes become slashes",
       "Compiling ..\\..\\Source\\App\\main.c ...\n", {"Source/App/main"}},
      {"only the last dot counts", "Compiling ../../dir.old/a.c ...\n",
       {"dir.old/a"}},
      {"a lone .c gives an empty entry",
       "Compiling ../../.c ...\nCompiling ../../b.c ...\n", {"", "b"}},
      {"case and blanks stay", "Compiling ../../My Dir\\File.p ...\n",
       {"My Dir/File"}},
      {"the path ends at the last dot", "Compiling ../../a.c b.c ...\n",
       {"a.c b"}},
  };
  for (const LogCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.entries, Scan(c.log));
  }
}

TEST(ScanBuildLog, CtrlZEndsTheInput) {
  const LogCase cases[] = {
      {"between lines",
       "Compiling ../../a.c ...\n\x1a" "Compiling ../../b.c ...\n", {"a"}},
      {"inside a line, before its line feed",
       "Compiling ../../a.c ...\nCompiling ../../b.c ...\x1a\n", {"a"}},
      {"first byte", "\x1a" "Compiling ../../a.c ...\n", {}},
  };
  for (const LogCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.entries, Scan(c.log));
  }
}

TEST(ScanBuildLog, LinesLongerThanABlock) {
  const std::string path(5000, 'p');
  const std::string log = "Compiling ../../" + path + ".c ...\r\n" +
                          std::string(3 * 4096, 'x') + "\n" +
                          "Compiling ../../b.c ...\n";
  for (const size_t blockSize : {size_t{100}, size_t{4096}}) {
    std::istringstream input(log);
    SourceFileList list;
    ASSERT_TRUE(ScanBuildLog(input, &list, blockSize));
    EXPECT_EQ((Entries{path, "b"}), list.Entries());
  }
}

// A path this long is turned into its entry where it lies in the buffer,
// and the list goes on after it.
TEST(ScanBuildLog, TenMegabyteLine) {
  std::string path;
  while (path.size() < (10u << 20))
    path += "dir.v2\\sub/";
  std::string entry = path + "file";
  for (char& c : entry)
    if (c == '\\')
      c = '/';
  const std::string log = "Compiling ../../" + path + "file.c ...\r\n" +
                          std::string(10 << 20, 'z') + "\n" +
                          "Compiling ../../c.c ...\nCompiling ../../d.c ...\n";
  for (const size_t blockSize : {size_t{4096}, kScanBlockSize}) {
    std::istringstream input(log);
    SourceFileList list;
    ASSERT_TRUE(ScanBuildLog(input, &list, blockSize));
    EXPECT_EQ(3u, list.count);
    EXPECT_TRUE(list.Text() == entry + "\nc\nd\n") << "block size " << blockSize;
  }
}

// A stream of `repeats` copies of `unit`, made up as it is read.
class RepeatingBuffer : public std::streambuf {
 public:
  RepeatingBuffer(std::string unit, uint64_t repeats)
      : unit_(std::move(unit)), repeats_(repeats) {}

 protected:
  int_type underflow() override {
    if (repeats_ == 0)
      return traits_type::eof();
    --repeats_;
    setg(unit_.data(), unit_.data(), unit_.data() + unit_.size());
    return traits_type::to_int_type(unit_[0]);
  }

 private:
  std::string unit_;
  uint64_t repeats_;
};

// Sizes past 4 GiB must not wrap. The stream repeats one cache-resident
// stretch, so this takes well under a second.
TEST(ScanBuildLog, MoreThanFourGiB) {
  const std::string unit = "3> Compiling ../../big/a.c ...\r\n" +
                           std::string(40000, 'o') + " lib.c ...\n";
  const uint64_t repeats = (uint64_t{9} << 29) / unit.size() + 1;  // 4.5 GiB
  RepeatingBuffer buffer(unit, repeats);
  std::istream input(&buffer);
  SourceFileList list;
  ASSERT_TRUE(ScanBuildLog(input, &list));
  EXPECT_EQ(repeats, list.count);
  EXPECT_EQ(repeats * 6, list.size());  // "big/a\n" each
}

// A stream whose storage fails partway through, as a disk or a special file
// can: the library turns the failure into badbit.
class FailingBuffer : public std::streambuf {
 public:
  explicit FailingBuffer(std::string prefix) : prefix_(std::move(prefix)) {
    setg(prefix_.data(), prefix_.data(), prefix_.data() + prefix_.size());
  }

 protected:
  int_type underflow() override { throw std::runtime_error("I/O error"); }

 private:
  std::string prefix_;
};

TEST(ScanBuildLog, ReportsAReadError) {
  FailingBuffer failing("Compiling ../../a.c ...\n");
  std::istream input(&failing);
  SourceFileList list;
  EXPECT_FALSE(ScanBuildLog(input, &list, 64));
}

TEST(ScanBuildLog, ClosesTheFile) {
  const std::string path =
      testing::TempDir() + "kestrane_scan_closes_the_file.log";
  std::ofstream(path) << "Compiling ../../a.c ...\n";
  std::ifstream input(path, std::ios::binary);
  ASSERT_TRUE(input.is_open());
  SourceFileList list;
  EXPECT_TRUE(ScanBuildLog(input, &list));
  EXPECT_FALSE(input.is_open());
  EXPECT_EQ(Entries{"a"}, list.Entries());
  std::remove(path.c_str());
}

}  // namespace
