#include <fstream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "scan/file_scan.h"
#include "scan/line_scan.h"
#include "scan/scan.h"

namespace {

using Entries = std::vector<std::string>;

// Scans `log` with several block sizes, so that lines and line ends fall on
// every kind of block boundary (and of vector: 63, 64, 65), as a stream and
// as a file, by one thread and by two, and requires the same list from each.
Entries Scan(const std::string& log) {
  // One file per test: ctest runs tests side by side.
  const std::string path =
      testing::TempDir() + "kestrane_" +
      testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
  std::ofstream(path, std::ios::binary) << log;
  const bool utf16 = log.size() >= 2 && (log[0] == '\xff' || log[0] == '\xfe');
  Entries first;
  bool haveFirst = false;
  for (const size_t blockSize :
       {size_t{1}, size_t{2}, size_t{3}, size_t{7}, size_t{63}, size_t{64},
        size_t{65}, kScanBlockSize}) {
    for (const int way : {0, 1, 2, 3}) {  // stream or file, workers 0 or 1
      const int workers = way % 2;
      SourceFileList list;
      list.Append("left over from before");
      if (way < 2) {
        std::istringstream input(log);
        EXPECT_TRUE(ScanBuildLog(input, &list, blockSize, workers));
      } else {
        if (utf16)
          continue;  // decoded as a stream
        LogFile file;
        EXPECT_TRUE(file.Open(path));
        EXPECT_TRUE(ScanLogFile(file, &list, blockSize, workers));
      }
      const Entries entries = list.Entries();
      EXPECT_EQ(entries.size(), list.count) << "block size " << blockSize;
      if (!haveFirst) {
        first = entries;
        haveFirst = true;
      }
      EXPECT_EQ(first, entries)
          << "block size " << blockSize << ", way " << way;
    }
  }
  std::remove(path.c_str());
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
      {"before a line longer than a block",
       "x\x1a\nCompiling ../../" + std::string(300, 'l') + ".c ...\n", {}},
  };
  for (const LogCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.entries, Scan(c.log));
  }
}

// `text`, valid UTF-8, as UTF-16 with its byte-order mark.
std::string Utf16(const std::string& text, bool bigEndian) {
  std::u16string units;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    uint32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k)
      c = c << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += length;
    if (c >= 0x10000) {
      units += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      c = 0xDC00 + ((c - 0x10000) & 0x3FF);
    }
    units += static_cast<char16_t>(c);
  }
  std::string bytes = bigEndian ? "\xfe\xff" : "\xff\xfe";
  for (const char16_t unit : units) {
    const char pair[2] = {static_cast<char>(unit & 0xFF),
                          static_cast<char>(unit >> 8)};
    bytes += bigEndian ? pair[1] : pair[0];
    bytes += bigEndian ? pair[0] : pair[1];
  }
  return bytes;
}

TEST(ScanBuildLog, Utf16LogsGiveTheListOfTheirUtf8Text) {
  // Longer than the decoder's reads, as well as than the scan's blocks.
  const std::string longPath(100000, 'p');
  const std::string log =
      "1> Compiling ..\\..\\Quelle\\\u00dcbersicht.c ...\r\n"
      "Compiling ../../\u65e5\u672c/\u03b1.c ...\n"
      "Compiling ../../" + longPath + ".c ...\r\n"
      "Compiling ../../\U0001F600.c ...\r\n"
      "Compiling ../../a.c ...\n\x1a" "Compiling ../../after.c ...\n";
  const Entries entries = {"Quelle/\u00dcbersicht", "\u65e5\u672c/\u03b1",
                           longPath, "\U0001F600", "a"};
  EXPECT_EQ(entries, Scan(log));
  EXPECT_EQ(entries, Scan(Utf16(log, false)));
  EXPECT_EQ(entries, Scan(Utf16(log, true)));
  // A lone surrogate becomes U+FFFD (ED A0 80 is the UTF-8 form of U+D800).
  EXPECT_EQ((Entries{"x\xef\xbf\xbd"}),
            Scan(Utf16("Compiling ../../x\xed\xa0\x80.c ...\n", false)));
}

// Takes the list's text as the scan hands it over.
struct StringSink : ListSink {
  std::string text;
  std::vector<size_t> writes;
  void Write(const char* data, size_t size) override {
    text.append(data, size);
    writes.push_back(size);
  }
  void Unwrite(uint64_t size) override {
    text.resize(text.size() - static_cast<size_t>(size));
  }
};

TEST(ScanBuildLog, HandsTheListToItsSinkAsItGoes) {
  std::string log;
  for (int i = 0; i < 200000; ++i)
    log += "Compiling ../../module_" + std::to_string(i) + ".c ...\r\n";
  const std::string huge(20 << 20, 'h');
  log += "Compiling ../../" + huge + ".c ...\nCompiling ../../z.c ...\n";
  std::istringstream wholeInput(log);
  SourceFileList whole;
  ASSERT_TRUE(ScanBuildLog(wholeInput, &whole));

  std::istringstream input(log);
  SourceFileList streamed;
  StringSink sink;
  streamed.sink = &sink;
  ASSERT_TRUE(ScanBuildLog(input, &streamed));
  EXPECT_TRUE(sink.text == whole.Text());
  EXPECT_EQ(whole.count, streamed.count);
  // Nothing is left, and the list never held more than a block's entries,
  // but with the huge one; its buffer is not kept.
  EXPECT_EQ(0u, streamed.size());
  for (const size_t size : sink.writes)
    EXPECT_TRUE(size <= kScanBlockSize || size > huge.size()) << size;
  ASSERT_LE(streamed.pieces.size(), 1u);
  for (const SourceFileList::Piece& piece : streamed.pieces)
    EXPECT_LT(piece.block.capacity(), huge.size());
}

// A long line's entry, read again, must still be one line's path: sixteen
// bytes at a time and the rest one by one, every position is looked at.
TEST(SlashesInPlace, TurnsBackslashesAndRefusesLineBreaks) {
  for (size_t size = 0; size <= 40; ++size) {
    std::string text(size, 'a');
    for (size_t i = 0; i < size; i += 3)
      text[i] = '\\';
    std::string expected = text;
    for (char& c : expected)
      c = c == '\\' ? '/' : c;
    std::string converted = text;
    EXPECT_TRUE(SlashesInPlace(&converted[0], size));
    EXPECT_EQ(expected, converted);
    for (size_t at = 0; at < size; ++at) {
      for (const char stop : {'\r', '\n', kEndOfText}) {
        std::string broken = text;
        broken[at] = stop;
        EXPECT_FALSE(SlashesInPlace(&broken[0], size)) << size << " " << at;
      }
    }
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
  // Then a line that only looks like one until its end, and one with the
  // word twice: what went to a sink from the first must be taken back.
  const std::string mega(1 << 20, 'm');
  const std::string log = "Compiling ../../" + path + "file.c ...\r\n" +
                          std::string(10 << 20, 'z') + "\n" +
                          "Compiling ../../" + mega + ".cpp ...\n" +
                          "Compiling ../../a " + mega + " Compiling ../../" +
                          mega + ".c ...\n" +
                          "Compiling ../../c.c ...\nCompiling ../../d.c ...\n";
  const std::string file = testing::TempDir() + "kestrane_ten_megabyte_line.log";
  std::ofstream(file, std::ios::binary) << log;
  // As a file, the blocks within each long line are not read again: the
  // lines after them must still be found, by one thread or two, into the
  // list or its sink.
  for (const size_t blockSize : {size_t{4096}, kScanBlockSize}) {
    for (const int way : {0, 1, 2, 3, 4}) {
      SourceFileList list;
      StringSink sink;
      if (way == 0) {
        std::istringstream input(log);
        ASSERT_TRUE(ScanBuildLog(input, &list, blockSize));
      } else {
        LogFile input;
        ASSERT_TRUE(input.Open(file));
        list.sink = way > 2 ? &sink : nullptr;
        ASSERT_TRUE(ScanLogFile(input, &list, blockSize, (way - 1) % 2));
      }
      EXPECT_EQ(4u, list.count);
      EXPECT_TRUE(sink.text + list.Text() == entry + "\n" + mega + "\nc\nd\n")
          << "block size " << blockSize << ", way " << way;
    }
  }
  std::remove(file.c_str());
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
  LogFile input;
  ASSERT_TRUE(input.Open(path));
  SourceFileList list;
  EXPECT_TRUE(ScanBuildLog(input, &list));
  EXPECT_FALSE(input.is_open());
  EXPECT_EQ(Entries{"a"}, list.Entries());
  std::remove(path.c_str());
}

}  // namespace
