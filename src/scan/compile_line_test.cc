#include <algorithm>
#include <initializer_list>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "scan/scan.h"
#include "scan/scan_testing.h"

namespace {

// The expression itself, run by the standard library's engine: the oracle.
// Only usable on short lines, where its recursion stays within the stack.
std::optional<std::string> MatchByRegex(const std::string& line) {
  static const std::regex pattern(std::string(CompileLinePatternText()),
                                  std::regex::ECMAScript);
  std::smatch match;
  if (!std::regex_match(line, match, pattern))
    return std::nullopt;
  return match[1].str();
}

std::optional<std::string> Match(const std::string& line) {
  std::string_view sourceFile;
  if (!MatchCompileLine(line, &sourceFile))
    return std::nullopt;
  return std::string(sourceFile);
}

// A line handed to LineMatch in pieces of `piece` bytes; as a log's line,
// one CR at its end belongs to the line end.
std::optional<std::string> MatchInPieces(const std::string& line, size_t piece) {
  LineMatch match;
  for (size_t at = 0; at < line.size(); at += piece)
    match.Take(line.data() + at, std::min(piece, line.size() - at));
  uint64_t begin = 0;
  uint64_t end = 0;
  if (!match.End(&begin, &end))
    return std::nullopt;
  return line.substr(begin, end - begin + 2);  // with the dot and extension
}

std::optional<std::string> MatchAsLogLine(std::string line) {
  if (!line.empty() && line.back() == '\r')
    line.pop_back();
  return Match(line);
}

TEST(CompileLinePatternText, IsTheNinePiecesJoined) {
  const std::string_view text = CompileLinePatternText();
  EXPECT_EQ(106u, text.size());
  EXPECT_EQ(
      ".*Compiling[[:space:]]+[[:punct:]]{2}[\\\\|\\//][[:punct:]]{2}"
      "[\\\\|\\//](.*\\.[cpp|c])[[:space:]]+[[:punct:]]{3}",
      text);
}

struct LineCase {
  const char* line;
  const char* path;  // nullptr: not a compile line
};

// Each line is checked against both the matcher and the expression, so a
// wrong expectation here shows up as well as a wrong matcher.
const LineCase kLines[] = {
    {"Compiling ../../Source/App/main.c ...", "Source/App/main.c"},
    {"12> Compiling ../../Source/App/main.c ...", "Source/App/main.c"},
    {"Compiling ../../a.c   !!!", "a.c"},
    {"Compiling ../../a.c b.c ...", "a.c b.c"},
    {"Compiling ../../src/x.cpp ...", nullptr},
    {"Compiling ../../a/b.c ... done", nullptr},
    {"Compiling ../../a.c ....", nullptr},
    {"Compiling ../a.c ...", nullptr},
    {"compiling ../../a.c ...", nullptr},
    // The word twice: the last occurrence that fits wins.
    {"Compiling ../../Compiling ../../x.c ...", "x.c"},
    {"Compiling ../../a.c Compiling ../x.c ...", "a.c Compiling ../x.c"},
    {"Compiling ../../.c ...", ".c"},
    // The last word's steps run into the dot: the one before it counts,
    // unless a CR stands in its path.
    {"Compiling ../../x Compiling ..|..| ...", "x Compiling ..|..|"},
    {"Compiling ../../x\r Compiling ..|..| ...", nullptr},
    // A CR in the last word's white space lies in the path of the one before.
    {"Compiling ../../x Compiling\r..|..| ...", nullptr},
    // A CR far from the word, beyond the first sixteen bytes of the path.
    {"Compiling ../../abcdefghijklmnopqrstuvwxyz0123456789abcdefghijklmnop\rq.c ...", nullptr},
    {"Compiling ../../a.p ...", "a.p"},
    {"Compiling ../../a.| ...", "a.|"},
    {"Compiling ../../a.C ...", nullptr},
    {"Compiling\t../../a.c\t...", "a.c"},
    {"Compiling \t \v\f../../a.c \t...", "a.c"},
    {"Compiling ../../a.c ...\r", nullptr},
    {"Compiling ../../a.c\r...", "a.c"},
    {"Compiling\r../../a.c ...", "a.c"},
    {"\rCompiling ../../a.c ...", nullptr},
    {"Compiling ../../a\r.c ...", nullptr},
    {"Compiling ..\\..\\a.c ...", "a.c"},
    {"Compiling ..|..|a.c ...", "a.c"},
    {"Compiling !@\\#$/a.c ~~~", "a.c"},
    {"Compiling ..-..\\a.c ...", nullptr},
    {"Compiling ../../a.c...", nullptr},
    {"Compiling../../a.c ...", nullptr},
    {"Compiling ../../a.c ..", nullptr},
    {"Compiling ../../ .c ...", " .c"},
    {"Compiling ../..//.c ...", "/.c"},
    {"", nullptr},
    {"...", nullptr},
};

TEST(MatchCompileLine, LinesWithSlashesAndBackslashes) {
  for (const LineCase& c : kLines) {
    for (const bool backslashes : {false, true}) {
      std::string line = c.line;
      std::string path = c.path ? c.path : "";
      if (backslashes) {
        for (std::string* text : {&line, &path}) {
          for (char& ch : *text)
            if (ch == '/')
              ch = '\\';
        }
      }
      SCOPED_TRACE(line);
      const std::optional<std::string> expected =
          c.path ? std::optional<std::string>(path) : std::nullopt;
      EXPECT_EQ(expected, MatchByRegex(line));
      EXPECT_EQ(expected, Match(line));
      for (const size_t piece : {size_t{1}, size_t{5}, size_t{16}, size_t{100}})
        EXPECT_EQ(MatchAsLogLine(line), MatchInPieces(line, piece)) << piece;
    }
  }
}

TEST(MatchCompileLine, NulAndHighBytesAreOrdinaryCharacters) {
  const std::string lines[] = {
      std::string("Compiling ../../a\0b.c ...", 25),
      std::string("\0Compiling ../../a.c ...", 24),
      "\xe4 Compiling ../../\xc3\xa9t\xc3\xa9.c ...",
      "Compiling\xa0../../a.c ...",  // no-break space is not white space
      "Compiling ../../a.c \x85..",
  };
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    EXPECT_EQ(MatchByRegex(line), Match(line));
  }
  EXPECT_EQ(std::string("a\0b.c", 5), Match(lines[0]));
}

TEST(MatchCompileLine, LeavesSourceFileAloneOnMismatch) {
  std::string_view sourceFile = "kept";
  EXPECT_FALSE(MatchCompileLine("Compiling ../../a.cpp ...", &sourceFile));
  EXPECT_EQ("kept", sourceFile);
  EXPECT_TRUE(MatchCompileLine("Compiling ../../b.c ...", &sourceFile));
  EXPECT_EQ("b.c", sourceFile);
}

// One line for each kind of miss, each the first part of the shape that it
// misses, for the rightmost place of the word.
TEST(ExplainLeftOut, NamesTheFirstPartMissed) {
  const std::pair<const char*, LeftOut> cases[] = {
      {"compiling ../../a.c ...", LeftOut::kLetterCase},
      {"\rCompiling ../../a.c ...", LeftOut::kBreakBeforeWord},
      {"Compiling../../a.c ...", LeftOut::kNoSpaceAfterWord},
      {"Compiling src/a.c ...", LeftOut::kNoSteps},
      {"Compiling ../a.c ...", LeftOut::kOneStep},
      {"Compiling ..\\a.c ...", LeftOut::kOneStep},
      {"Compiling ../../a.c ...\r", LeftOut::kBreakAtEnd},
      {"Compiling ../../a/b.c ... done", LeftOut::kTextAfterTail},
      {"Compiling ../../a.c", LeftOut::kNoTail},
      {"Compiling ../../a.c ....", LeftOut::kMorePunctuation},
      {"Compiling ../../a.c...", LeftOut::kNoSpaceBeforeTail},
      {"Compiling ../../ ...", LeftOut::kNoPath},
      {"Compiling ../../a\r.c ...", LeftOut::kBreakInPath},
      {"Compiling ../../Makefile ...", LeftOut::kNoDot},
      {"Compiling ../../a. ...", LeftOut::kNoExtension},
      {"Compiling ../../src/x.cpp ...", LeftOut::kLongExtension},
      {"Compiling ../../a.C ...", LeftOut::kOtherExtension},
      // The rightmost word counts, though an earlier one would fit further.
      {"Compiling ../../a.c Compiling x ...", LeftOut::kNoSteps},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    ASSERT_EQ(std::nullopt, MatchByRegex(c.first));
    ASSERT_EQ(c.second, ReasonByPieces(c.first));
    EXPECT_EQ(c.second, ExplainLeftOut(c.first));
    EXPECT_STRNE("", LeftOutText(c.second));
  }
}

// Each byte at each place of a compile line, for every class of the
// expression: the matcher, whole and in pieces, against the expression.
TEST(MatchCompileLine, EachByteAtEachPlace) {
  const std::string canonical = "Compiling ../../a.c ...";
  for (size_t at = 0; at < canonical.size(); ++at) {
    for (int c = 0; c < 256; ++c) {
      std::string line = canonical;
      line[at] = static_cast<char>(c);
      SCOPED_TRACE(testing::Message() << c << " at " << at);
      ASSERT_EQ(MatchByRegex(line), Match(line));
      if (c != '\n') {
        ASSERT_EQ(MatchAsLogLine(line), MatchInPieces(line, 1 + at % 7));
      }
    }
  }
}

// Lines far beyond what a recursive engine survives, shaped to make a naive
// search retry at every position.
TEST(MatchCompileLine, LongLines) {
  const std::string longPath(10 << 20, 'x');
  EXPECT_EQ(longPath + ".c", Match("Compiling ../../" + longPath + ".c ..."));
  EXPECT_EQ(std::nullopt, Match("Compiling ../../" + longPath + ".cpp ..."));

  std::string repeated;
  for (int i = 0; i < 200000; ++i)
    repeated += "Compiling ../../";
  EXPECT_EQ("x.c", Match(repeated + "x.c ..."));
  EXPECT_EQ(std::nullopt, Match(repeated + "\rx.c ..."));

  const std::string blanks(1 << 20, ' ');
  for (const std::string& line :
       {repeated + "x.c ...", repeated + "\rx.c ...", "Compiling" + blanks + "../../a.c" + blanks + "...\r"})
    EXPECT_EQ(MatchAsLogLine(line), MatchInPieces(line, 4096)) << line.size();
  EXPECT_EQ("a.c", Match("Compiling" + blanks + "../../a.c" + blanks + "..."));
  EXPECT_EQ("a.c", Match(std::string(1 << 20, 'C') + "ompiling ../../a.c ..."));
}

// Generates lines from the expression's own pieces so that near misses of
// every kind are common: a random walk over fragments, sometimes starting
// from a well-formed compile line and then damaged in a few places.
class LineGenerator {
 public:
  explicit LineGenerator(uint32_t seed) : random_(seed) {}

  std::string Next() {
    std::string line;
    if (Chance(2)) {
      line = Pick({"", "12> ", "  ", "\t", "make[2]: ", "Compiling "});
      line += "Compiling";
      line += Repeat(Pick({" ", "\t", "\v", "\f", "\r", "  "}), 1 + Below(3));
      for (int step = 0; step < 2; ++step)
        line += std::string(Pick({"..", "..", "!@", "-."})) +
                Pick({"/", "\\", "|", "/", "-"});
      line += Fragments(Below(4));
      line += Pick({".c", ".c", ".p", ".|", ".C", ".cpp", ".c ", "."});
      line += Repeat(Pick({" ", "\t", "\r", " \r"}), 1 + Below(2));
      line += Pick({"...", "...", "!!!", "~~~", "..", "....", "... done",
                    "..\r"});
      for (uint32_t damage = Chance(2) ? 0 : 1 + Below(2); damage > 0;
           --damage)
        Damage(&line);
    } else {
      line = Fragments(Below(40));
    }
    return line;
  }

 private:
  uint32_t Below(uint32_t bound) {
    return static_cast<uint32_t>(random_() % bound);
  }
  bool Chance(uint32_t oneIn) { return Below(oneIn) == 0; }

  const char* Pick(std::initializer_list<const char*> choices) {
    return choices.begin()[Below(static_cast<uint32_t>(choices.size()))];
  }

  static std::string Repeat(const char* piece, uint32_t times) {
    std::string text;
    while (times-- > 0)
      text += piece;
    return text;
  }

  std::string Fragment() {
    switch (Below(6)) {
      case 0:
        return Pick({"Compiling", "compiling", "Compilin", "CCompiling"});
      case 1:
        return Pick({" ", "\t", "\r", "\v", "\f", "\n", "   "});
      case 2:
        return Pick({"../", "..\\", "..|", "../../", "..\\..\\", "./"});
      case 3:
        return Pick({".c", ".p", ".|", ".C", ".cpp", ".", "..."});
      case 4: {
        std::string bytes;
        for (uint32_t i = 1 + Below(3); i > 0; --i)
          bytes.push_back(static_cast<char>(Below(256)));
        return bytes;
      }
      default:
        return Pick({"src", "a", "main", "dir.old", "x", "!", "#", "%", "--"});
    }
  }

  std::string Fragments(uint32_t count) {
    std::string text;
    while (count-- > 0)
      text += Fragment();
    return text;
  }

  void Damage(std::string* line) {
    if (line->empty())
      return;
    const size_t at = Below(static_cast<uint32_t>(line->size()));
    switch (Below(3)) {
      case 0:
        line->erase(at, 1);
        break;
      case 1:
        line->insert(at, Fragment());
        break;
      default:
        (*line)[at] = Fragment()[0];
    }
  }

  std::mt19937 random_;
};

TEST(MatchCompileLine, AgreesWithTheExpressionOnGeneratedLines) {
  constexpr uint32_t kSeed = 20261208;
  constexpr int kLineCount = 200000;
  LineGenerator generator(kSeed);
  int matched = 0;
  int disagreements = 0;
  for (int i = 0; i < kLineCount; ++i) {
    const std::string line = generator.Next();
    ASSERT_LT(line.size(), 2048u);
    const std::optional<std::string> expected = MatchByRegex(line);
    const std::optional<std::string> actual = Match(line);
    if (expected)
      ++matched;
    if (line.find('\n') == std::string::npos) {
      const size_t piece = 1 + static_cast<size_t>(i % 40);
      if (MatchInPieces(line, piece) != MatchAsLogLine(line) && ++disagreements <= 10)
        ADD_FAILURE() << "in pieces of " << piece << ": " << testing::PrintToString(line);
    }
    if (expected != actual && ++disagreements <= 10) {
      ADD_FAILURE() << "line " << i << " of seed " << kSeed << ": "
                    << testing::PrintToString(line) << "\n  expression: "
                    << testing::PrintToString(expected)
                    << "\n  matcher:    " << testing::PrintToString(actual);
    }
  }
  EXPECT_EQ(0, disagreements);
  // The generator has to produce both kinds of line in quantity, or the
  // comparison proves little.
  EXPECT_GT(matched, kLineCount / 20);
  EXPECT_LT(matched, kLineCount / 2);
}

// The reason of every line that holds the word and did not match, against
// the expression's pieces run as prefixes: generated lines, and each byte at
// each place of a compile line, each cut of one, paths and tails around the
// shortest (the lines of the edge logs, scan_testing.h).
TEST(ExplainLeftOut, AgreesWithThePiecesOfTheExpression) {
  std::vector<std::string> lines;
  LineGenerator generator(20261209);
  for (int i = 0; i < 50000; ++i)
    lines.push_back(generator.Next());
  for (const EdgeLog& edge : EdgeLogs(false)) {
    for (size_t begin = 0, end; (end = edge.log.find('\n', begin)) != std::string::npos;
         begin = end + 1)
      lines.push_back(edge.log.substr(begin, end - begin));
  }
  int explained = 0;
  for (const std::string& line : lines) {
    std::string lower = line;
    for (char& c : lower)
      c = static_cast<char>(c | 0x20);
    if (line.size() >= 2048 || lower.find("compiling") == std::string::npos || Match(line))
      continue;
    ++explained;
    ASSERT_EQ(ReasonByPieces(line), ExplainLeftOut(line)) << testing::PrintToString(line);
  }
  EXPECT_GT(explained, 10000);
}

// ShownText against a byte-by-byte model: each byte, and texts on both
// sides of the longest shown, with lengths told beyond what is given.
TEST(ShownText, AgreesWithAByteByByteModel) {
  for (int c = 0; c < 256; ++c) {
    const std::string text(1, static_cast<char>(c));
    ASSERT_EQ(ShownByModel(text, 1), ShownText(text, 1)) << c;
  }
  for (const size_t size : std::initializer_list<size_t>{0, 1, 199, 200, 201, 256}) {
    std::string text(size, 'a');
    for (size_t i = 0; i < size; ++i)
      text[i] = static_cast<char>(i * 37);
    for (const uint64_t length : {uint64_t{0}, uint64_t{size}, uint64_t{200}, uint64_t{201},
                                  uint64_t{1} << 40})
      ASSERT_EQ(ShownByModel(text, length), ShownText(text, length)) << size << " " << length;
  }
}

}  // namespace
