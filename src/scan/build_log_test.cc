#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "scan/plain_path.h"
#include "scan/scan.h"
#include "scan/scan_testing.h"

namespace {

using Entries = std::vector<std::string>;

// The lines of a list, one by one.
Entries Lines(const LineText& list) {
  const std::string text = TextOf(list);
  Entries lines;
  for (size_t begin = 0, end; (end = text.find('\n', begin)) != std::string::npos;
       begin = end + 1)
    lines.emplace_back(text, begin, end - begin);
  return lines;
}

// How a test reads its log: from memory, which can be read again like a
// file, as a pipe, which cannot (the scan keeps a long line's path as it
// reads it instead of reading it again) and gives a few bytes a read, or
// from a log file.
enum Way { kString, kPipe, kFile };

ScanResult ScanWay(const std::string& log, Way way, SourceFileList* list,
                   const ScanOptions& options) {
  if (way == kFile) {
    const TestFolder folder;
    const std::string path = folder.Path("build.log");
    std::ofstream(path, std::ios::binary) << log;
    LogFile file;
    EXPECT_TRUE(file.Open(path));
    return ScanBuildLog(file, list, options);
  }
  TextSource source(log, way != kPipe, way == kPipe ? 4093 : ~size_t{0});
  return ScanBuildLog(source, list, options);
}

// Scans `log` with several block sizes, so that lines and line ends fall on
// every kind of block boundary (and of vector: 15, 16, 17), each of the
// three ways, and requires the same list from each.
Entries Scan(const std::string& log) {
  Entries first;
  bool haveFirst = false;
  for (const size_t blockSize :
       {size_t{1}, size_t{2}, size_t{3}, size_t{7}, size_t{15}, size_t{16},
        size_t{17}, size_t{64}, kScanBlockSize}) {
    for (const Way way : {kString, kPipe, kFile}) {
      SourceFileList list;
      list.AppendText("left over from before\n", 22);
      ScanOptions options;
      options.blockSize = blockSize;
      EXPECT_EQ(ScanResult::kComplete, ScanWay(log, way, &list, options).outcome);
      const Entries entries = Lines(list);
      EXPECT_EQ(entries.size(), list.count) << "block size " << blockSize;
      if (!haveFirst) {
        first = entries;
        haveFirst = true;
      }
      EXPECT_EQ(first, entries) << "block size " << blockSize << ", way " << way;
    }
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

// The lines that hold the word in any letter case and give no entry are
// told, with their numbers, whatever the block size and the way, a line
// longer than half a block as well; the last line and those after a Ctrl-Z
// with reasons of their own.
TEST(ScanBuildLog, TellsTheLinesLeftOut) {
  const std::string blanks(300, ' ');
  const std::string log =
      "noise\n"
      "Compiling ../../a.c ...\r\n"
      "3> Compiling ../../x.cpp ...\n"
      "the COMPILING step\n"
      "Compiling" + blanks + "../a.c ...\n"
      "\tcompilinG\x1b[2J\n"
      "Compiling ../../b.c ...\x1a Compiling\n"
      "compiling\n"
      "last compiling";
  const std::string told =
      "3\ta C++ file (more than one character after the last dot)\t\"3> Compiling ../../x.cpp ...\"\n"
      "4\tthe word is not written Compiling (letter case counts)\t\"the COMPILING step\"\n"
      "5\tone step where two are needed (../ for ../../)\t\"Compiling" + blanks.substr(0, 191) + "\"... (319 bytes)\n"
      "6\tthe word is not written Compiling (letter case counts)\t\"\\x09compilinG\\x1B[2J\"\n"
      "7\tthe last line, which has no line feed\t\"Compiling ../../b.c ...\\x1A Compiling\"\n"
      "8\tafter a Ctrl-Z, which ends the log\t\"compiling\"\n"
      "9\tafter a Ctrl-Z, which ends the log\t\"last compiling\"\n";
  for (const size_t blockSize : {size_t{64}, size_t{400}, kScanBlockSize}) {
    for (const Way way : {kString, kPipe, kFile}) {
      SourceFileList list;
      LineText leftOut;
      ScanOptions options;
      options.blockSize = blockSize;
      options.leftOut = &leftOut;
      ASSERT_EQ(ScanResult::kComplete, ScanWay(log, way, &list, options).outcome);
      EXPECT_EQ(Entries{"a"}, Lines(list));
      EXPECT_EQ(told, TextOf(leftOut)) << blockSize << " " << way;
      EXPECT_EQ(7u, leftOut.count);
    }
  }
}

// Takes the list's text as the scan hands it over.
struct StringSink : ListSink {
  std::string text;
  std::vector<size_t> writes;
  void Write(const char* data, size_t size) override {
    text.append(data, size);
    writes.push_back(size);
  }
};

TEST(ScanBuildLog, HandsTheListToItsSinkAsItGoes) {
  std::string log;
  for (int i = 0; i < 200000; ++i)
    log += "Compiling ../../module_" + std::to_string(i) + ".c ...\r\n";
  const std::string huge(20 << 20, 'h');
  log += "Compiling ../../" + huge + ".c ...\nCompiling ../../z.c ...\n";
  TextSource wholeInput(log);
  SourceFileList whole;
  ASSERT_EQ(ScanResult::kComplete, ScanBuildLog(wholeInput, &whole).outcome);

  for (const Way way : {kString, kPipe}) {
    SourceFileList streamed;
    StringSink sink;
    streamed.sink = &sink;
    ASSERT_EQ(ScanResult::kComplete,
              ScanWay(log, way, &streamed, ScanOptions()).outcome);
    EXPECT_TRUE(sink.text == TextOf(whole));
    EXPECT_EQ(whole.count, streamed.count);
    // Nothing is left, and no write held more than a block's entries, or a
    // piece of the huge one.
    EXPECT_EQ(0u, streamed.size());
    for (const size_t size : sink.writes)
      EXPECT_LE(size, kScanBlockSize) << size;
  }
}

// A text too large to go through a block goes to the sink at once, after
// what was held: the order stays.
TEST(LineText, HandsItsTextToTheSinkInOrder) {
  LineText text;
  StringSink sink;
  text.sink = &sink;
  const std::string large(1 << 20, 'l');
  ASSERT_TRUE(text.AppendText("held\n", 5));
  ASSERT_TRUE(text.AppendText(large.data(), large.size()));
  ASSERT_TRUE(text.AppendText("\n", 1));
  text.Drain();
  EXPECT_TRUE(sink.text == "held\n" + large + "\n");
}

// Lines longer than a block, each way: the path of a compile line is read
// again from the log or kept from its head on; a line that only looks like
// one until its end gives nothing; of two heads the right one counts.
TEST(ScanBuildLog, LinesLongerThanABlock) {
  const std::string path(5000, 'p');
  const std::string log = "Compiling ../../" + path + ".c ...\r\n" +
                          std::string(3 * 4096, 'x') + "\n" +
                          "x Compiling ../../" + path + ".cpp ...\n" +
                          "\rCompiling ../../" + path + ".c ...\n" +
                          "Compiling ../../a" + path + " Compiling ..\\..\\b\\" +
                          path + ".c ...\n" +
                          "Compiling ../../b.c ...\n";
  for (const size_t blockSize : {size_t{100}, size_t{4096}}) {
    for (const Way way : {kString, kPipe, kFile}) {
      SourceFileList list;
      ScanOptions options;
      options.blockSize = blockSize;
      ASSERT_EQ(ScanResult::kComplete, ScanWay(log, way, &list, options).outcome);
      EXPECT_EQ((Entries{path, "b/" + path, "b"}), Lines(list))
          << blockSize << " " << way;
    }
  }
}

// A path this long goes to the list a piece at a time, and the list goes on
// after it.
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
  for (const Way way : {kString, kPipe, kFile}) {
    for (const bool sunk : {false, true}) {
      SourceFileList list;
      StringSink sink;
      list.sink = sunk ? &sink : nullptr;
      ASSERT_EQ(ScanResult::kComplete, ScanWay(log, way, &list, ScanOptions()).outcome);
      EXPECT_EQ(3u, list.count);
      EXPECT_TRUE(sink.text + TextOf(list) == entry + "\nc\nd\n") << way;
    }
  }
}

// A strict scan keeps the entries before the first it refuses, and tells
// that one with its line number, whichever block it lies in and however
// the log is read. An entry
// longer than a block is checked as it is read again, or as it was kept;
// the message gets its beginning and its length.
TEST(ScanBuildLog, StrictStopsAtTheFirstRefusedEntry) {
  // Long lines, of short entries and of one too long to be plain.
  const std::string blanks(1 << 20, ' ');
  const std::string huge = std::string(1 << 20, 'b') + "/x";
  const struct {
    std::string log;
    std::string listed;
    uint64_t line;
    std::string entry;  // its beginning, where it is long
    uint64_t length;
  } cases[] = {
      {"Compiling ../../src/a.c ...\r\n"
       "noise\n"
       "Compiling ../../src\\b.c ...\n"
       "Compiling ../../x/../../evil.c ...\n"
       "Compiling ../../\x1b[2J.c ...\n",
       "src/a\nsrc/b\n", 4, "x/../../evil", 12},
      {"Compiling ../../a.c" + blanks + "...\nCompiling ../../" + huge +
           ".c ...\nCompiling ../../z.c ...\n",
       "a\n", 2, huge.substr(0, 256), huge.size()},
      {"\nCompiling ../../a.c" + blanks + "...\nCompiling ../../src/CON.c" + blanks +
           "...\n",
       "a\n", 3, "src/CON", 7},
      {"\nCompiling ../../.c" + blanks + "...\n", "", 2, "", 0},
      {"Compiling ../../a/...c" + blanks + "...\n", "", 1, "a/..", 4},
  };
  for (const auto& c : cases) {
    for (const size_t blockSize : {size_t{3}, size_t{1} << 18}) {
      for (const Way way : {kString, kPipe, kFile}) {
        SourceFileList list;
        ScanOptions options;
        options.strict = true;
        options.blockSize = blockSize;
        // Numbered as the scan goes through a pipe, else counted afterwards.
        const ScanResult result = ScanWay(c.log, way, &list, options);
        EXPECT_EQ(ScanResult::kRefused, result.outcome);
        EXPECT_TRUE(c.listed == TextOf(list)) << blockSize << " " << TextOf(list).substr(0, 40);
        EXPECT_EQ(c.line, result.refusedLine);
        EXPECT_EQ(c.entry, result.refusedEntry);
        EXPECT_EQ(c.length, result.refusedLength);
      }
    }
  }
}

// An entry check sees every entry that --strict lets through, whole, or by
// its beginning where it is too long to name a file; the first it refuses
// stops the scan with its reason.
TEST(ScanBuildLog, EntryCheckRefusesWithItsOwnReason) {
  struct RefusesX : EntryCheck {
    std::vector<std::pair<std::string, uint64_t>> seen;
    const char* Refusal(std::string_view entry, uint64_t length) override {
      seen.emplace_back(std::string(entry), length);
      return entry.substr(0, 1) == "x" || length > kLongestPlainPath ? "is x" : nullptr;
    }
  };
  const std::string blanks(1 << 20, ' ');
  const std::string huge(4097, 'b');
  const struct {
    std::string log;
    bool strict;
    std::string listed;
    uint64_t line;
    const char* why;
    size_t seen;
  } cases[] = {
      {"Compiling ../../a.c ...\nCompiling ../../x/y.c ...\nCompiling ../../b.c ...\n",
       false, "a\n", 2, "is x", 2},
      {"Compiling ../../a.c ...\n\nCompiling ../../x/y.c" + blanks + "...\n", false, "a\n",
       3, "is x", 2},
      {"Compiling ../../a.c ...\nCompiling ../../" + huge + ".c" + blanks + "...\n", false,
       "a\n", 2, "is x", 2},
      {"Compiling ../../a.c ...\nCompiling ../../../y.c ...\n", true, "a\n", 2,
       "is not a plain relative path", 1},
  };
  for (const auto& c : cases) {
    for (const Way way : {kString, kPipe, kFile}) {
      RefusesX check;
      SourceFileList list;
      ScanOptions options;
      options.strict = c.strict;
      options.check = &check;
      options.blockSize = size_t{1} << 18;
      const ScanResult result = ScanWay(c.log, way, &list, options);
      EXPECT_EQ(ScanResult::kRefused, result.outcome);
      EXPECT_EQ(c.listed, TextOf(list));
      EXPECT_EQ(c.line, result.refusedLine);
      EXPECT_STREQ(c.why, result.refusal);
      ASSERT_EQ(c.seen, check.seen.size());
      EXPECT_EQ("a", check.seen[0].first);
      if (c.seen == 2 && c.log.find(huge) != std::string::npos) {
        EXPECT_EQ(huge.substr(0, 256), check.seen[1].first);
        EXPECT_EQ(huge.size(), check.seen[1].second);
      }
    }
  }
}

// Every log that aims at an edge, as bytes and as UTF-16 in either order,
// each way, in blocks that put its lines and line ends at every kind of
// block boundary, plain, strict and explained, against a line-by-line
// reading of the rules.
TEST(ScanBuildLog, EdgeLogsOnEveryRoute) {
  ScanOptions plain;
  ScanOptions strict;
  strict.strict = true;
  ScanOptions blanks = strict;
  blanks.allowBlanks = true;
  LineText told;
  ScanOptions explained;
  explained.leftOut = &told;
  ScanOptions strictExplained = strict;
  strictExplained.leftOut = &told;
  for (const EdgeLog& edge : EdgeLogs(true)) {
    for (const int encoding : {0, 1, 2}) {
      const std::string log =
          encoding == 0 ? edge.log : AsUtf16(edge.log, encoding == 2);
      // Blocks of a few bytes for short logs only, as they cost a read each;
      // a log shorter than a block is read whole.
      std::vector<size_t> blockSizes = {size_t{4096}};
      if (log.size() > 4096)
        blockSizes.push_back(kScanBlockSize);
      if (log.size() < (size_t{64} << 10))
        blockSizes.insert(blockSizes.end(), {size_t{16}, size_t{17}, size_t{64}});
      if (log.size() < (size_t{8} << 10))
        blockSizes.insert(blockSizes.end(), {size_t{1}, size_t{3}});
      for (const ScanOptions* base : {&plain, &strict, &blanks, &explained, &strictExplained}) {
        if (edge.explainedOnly && !base->leftOut)
          continue;
        const ScanOutcome expected = ScanByRules(log, *base);
        for (const size_t blockSize : blockSizes) {
          for (const Way way : {kString, kPipe, kFile}) {
            SCOPED_TRACE(testing::Message() << edge.name << ", encoding " << encoding
                                            << ", block " << blockSize << ", way " << way
                                            << ", strict " << base->strict << ", blanks "
                                            << base->allowBlanks << ", explained "
                                            << (base->leftOut != nullptr));
            ScanOptions options = *base;
            options.blockSize = blockSize;
            told.Clear();
            SourceFileList list;
            const ScanResult result = ScanWay(log, way, &list, options);
            ASSERT_EQ(expected.outcome, result.outcome);
            ASSERT_TRUE(expected.list == TextOf(list));
            ASSERT_TRUE(expected.leftOut == TextOf(told));
            ASSERT_EQ(expected.refusedLine, result.refusedLine);
            ASSERT_EQ(expected.refusedLength, result.refusedLength);
            ASSERT_EQ(ShownByModel(expected.refusedEntry, expected.refusedLength),
                      ShownText(result.refusedEntry, result.refusedLength));
          }
        }
      }
    }
  }
}

// A log of `repeats` copies of `unit`, made up as it is read.
class RepeatingSource : public ByteSource {
 public:
  RepeatingSource(std::string unit, uint64_t repeats)
      : unit_(std::move(unit)), repeats_(repeats) {}
  int64_t Read(char* data, size_t size) override {
    if (at_ == unit_.size() && repeats_ > 0) {
      --repeats_;
      at_ = 0;
    }
    const size_t length = std::min(size, unit_.size() - at_);
    memcpy(data, unit_.data() + at_, length);
    at_ += length;
    return static_cast<int64_t>(length);
  }

 private:
  std::string unit_;
  uint64_t repeats_;
  size_t at_ = unit_.size();
};

// Sizes past 4 GiB must not wrap. The log repeats one cache-resident
// stretch, so this takes well under a second.
TEST(ScanBuildLog, MoreThanFourGiB) {
  const std::string unit = "3> Compiling ../../big/a.c ...\r\n" +
                           std::string(40000, 'o') + " lib.c ...\n";
  const uint64_t repeats = (uint64_t{9} << 29) / unit.size() + 1;  // 4.5 GiB
  RepeatingSource input(unit, repeats);
  SourceFileList list;
  ASSERT_EQ(ScanResult::kComplete, ScanBuildLog(input, &list).outcome);
  EXPECT_EQ(repeats, list.count);
  EXPECT_EQ(repeats * 6, list.size());  // "big/a\n" each
}

// A log whose storage fails partway through, as a disk or a special file
// can, as bytes and as UTF-16.
TEST(ScanBuildLog, ReportsAReadError) {
  struct FailingSource : TextSource {
    using TextSource::TextSource;
    int64_t Read(char* data, size_t size) override {
      const int64_t got = TextSource::Read(data, size);
      return got > 0 ? got : -1;
    }
  };
  for (const std::string& log : {std::string("Compiling ../../a.c ...\n"),
                                 AsUtf16("Compiling ../../a.c ...\n", false)}) {
    FailingSource failing(log);
    SourceFileList list;
    ScanOptions options;
    options.blockSize = 64;
    EXPECT_EQ(ScanResult::kReadFailed, ScanBuildLog(failing, &list, options).outcome);
  }
}

// A log rewritten while it is read: the entry of a line taken in pieces,
// read again, now holds a break, which no path does. That is a failed read,
// not an entry.
TEST(ScanBuildLog, AnEntryReadAgainWithABreakIsAFailedRead) {
  struct Rewritten : TextSource {
    using TextSource::TextSource;
    char inserted = 0;
    size_t from = 0;  // the inserted byte's place, from the end
    bool ReadAt(uint64_t at, char* data, size_t size) override {
      if (!TextSource::ReadAt(at, data, size))
        return false;
      data[size - 1 - from] = inserted;
      return true;
    }
  };
  // The path's first, middle and last byte: the vector's and the rest's.
  const std::string log = "Compiling ../../" + std::string(300, 'p') + ".c ...\n";
  for (const char inserted : {'\r', '\n', '\x1a', 'q'}) {
    for (const size_t from : {size_t{0}, size_t{150}, size_t{299}}) {
      Rewritten source(log);
      source.inserted = inserted;
      source.from = from;
      SourceFileList list;
      ScanOptions options;
      options.blockSize = 64;
      EXPECT_EQ(inserted == 'q' ? ScanResult::kComplete : ScanResult::kReadFailed,
                ScanBuildLog(source, &list, options).outcome)
          << int{inserted} << " " << from;
    }
  }
}

TEST(ScanBuildLog, ClosesTheFile) {
  const TestFolder folder;
  const std::string path = folder.Path("build.log");
  std::ofstream(path) << "Compiling ../../a.c ...\n";
  LogFile input;
  ASSERT_TRUE(input.Open(path));
  SourceFileList list;
  EXPECT_EQ(ScanResult::kComplete, ScanBuildLog(input, &list).outcome);
  EXPECT_FALSE(input.is_open());
  EXPECT_EQ(Entries{"a"}, Lines(list));
}

}  // namespace
