#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/typed_argument.h"

namespace {

using Arguments = std::vector<std::wstring>;

// The narrow argument vector that msvcrt makes of these command lines; the
// examples of Microsoft's "Parsing C++ command-line arguments" among them.
TEST(SplitCommandLine, AsMsvcrtSplitsTheArgumentVector) {
  const struct {
    const wchar_t* line;
    Arguments arguments;
  } cases[] = {
      {L"Kestrane.exe", {L"Kestrane.exe"}},
      {L"Kestrane --input=a.log\t --output=b.txt  ",
       {L"Kestrane", L"--input=a.log", L"--output=b.txt"}},
      {L"", {L""}},
      // The program path: quotes delimit, backslashes are plain.
      {L"\"C:\\Tools\\my tools\\Kestrane.exe\" x",
       {L"C:\\Tools\\my tools\\Kestrane.exe", L"x"}},
      {L"\"C:\\a b\\k.exe\"x", {L"C:\\a b\\k.exe", L"x"}},
      {L"C:\\k\\\"x y", {L"C:\\k\\\"x", L"y"}},
      {L"k \"abc\" d e", {L"k", L"abc", L"d", L"e"}},
      {L"k a\\\\b d\"e f\"g h", {L"k", L"a\\\\b", L"de fg", L"h"}},
      {L"k a\\\\\\\"b c d", {L"k", L"a\\\"b", L"c", L"d"}},
      {L"k a\\\\\\\\\"b c\" d e", {L"k", L"a\\\\b c", L"d", L"e"}},
      {L"k \"--output=C:\\My Lists\\\\\"", {L"k", L"--output=C:\\My Lists\\"}},
      {L"k \"\" \"x", {L"k", L"", L"x"}},
      // Two quotes inside quotes: one literal quote, and the quoted part
      // ends there (msvcrt; the C runtime of 2008 and later goes on).
      {L"k \"a\"\"b c\"", {L"k", L"a\"b", L"c"}},
      {L"k --input=\u0142.log \u30c4", {L"k", L"--input=\u0142.log", L"\u30c4"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.arguments, SplitCommandLine(c.line))
        << testing::PrintToString(std::wstring(c.line));
}

}  // namespace
