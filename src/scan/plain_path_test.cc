#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "scan/plain_path.h"
#include "scan/scan_testing.h"

namespace {

struct PathCase {
  const char* name;
  std::string entry;
  bool plain;         // under --strict
  bool withBlanks;    // under --strict --allow-blanks
};

TEST(IsPlainRelativePath, AcceptsOnlyPortableRelativePaths) {
  std::string longest;  // of components shorter than the longest
  while (longest.size() < kLongestPlainPath)
    longest += longest.size() % 200 == 199 ? '/' : 'a';
  const std::string component(kLongestPlainComponent, 'c');
  const PathCase cases[] = {
      {"portable characters", "src/App_2/main-v1.0", true, true},
      {"one component", "main", true, true},
      {"a dot component and a dot file", "./src/.hidden", true, true},
      {"dots inside a name", "a..b/...", true, true},
      {"every letter and digit, sixteen at a time",
       "ABCDEFGHIJKLMNOPQRSTUVWXYZ/abcdefghijklmnopqrstuvwxyz/0123456789", true, true},
      {"empty entry", "", false, false},
      {"absolute", "/etc/passwd", false, false},
      {"empty component", "src//a", false, false},
      {"trailing separator", "src/", false, false},
      {"parent step", "src/../../x", false, false},
      {"parent step alone", "..", false, false},
      {"option", "src/-o", false, false},
      {"option first", "-wrapper", false, false},
      {"drive letter", "C:/Work/x", false, false},
      {"UNC path (backslashes became slashes)", "//server/share/x", false, false},
      {"shell", ";id>/tmp/pwned;echo", false, false},
      {"make variable", "$(shell id)", false, false},
      {"generator expression", "a$<SEMICOLON>b", false, false},
      {"response file", "@rsp", false, false},
      {"quote", "a\"b", false, false},
      {"comment", "a#b", false, false},
      {"NUL", std::string("a\0b", 3), false, false},
      {"escape sequence", "\x1b]0;title\x07", false, false},
      {"UTF-8", "Quelle/\xc3\x9c" "bersicht", false, false},
      {"a blank inside a name", "Source Files/main", false, true},
      {"blanks at a component's ends", "Source/ main", false, false},
      {"blank before a separator", "Source /main", false, false},
      {"two blanks", "a  b", false, false},
      {"tab", "a\tb", false, false},
      {"devices", "src/app/aux", false, false},
      {"device in capitals, first", "COM1", false, false},
      {"device with extensions", "src/AUX.old", false, false},
      {"device with a blank before the dot", "NUL .x", false, false},
      {"printer ports 0 to 9", "lpt0/LPT9", false, false},
      {"names that only begin like devices", "COM10/console/auxiliary/nul2/conn", true, true},
      {"the longest entry", longest, true, true},
      {"one byte longer", longest + "a", false, false},
      {"the longest component", component + "/" + component, true, true},
      {"a component one byte longer", "a/" + component + "c", false, false},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.plain, IsPlainRelativePath(c.entry));
    EXPECT_EQ(c.withBlanks, IsPlainRelativePath(c.entry, true));
  }
}

// Against a table of the rules: each byte at each place of entries on both
// sides of the sixteen bytes looked at at once, and after a separator; the
// device names and their near misses, first and after a separator, in each
// letter case.
TEST(IsPlainRelativePath, AgreesWithTheRules) {
  std::vector<std::string> entries;
  for (size_t length = 1; length <= 33; ++length) {
    for (size_t at = 0; at < length; ++at) {
      for (int byte = 0; byte < 256; ++byte) {
        std::string entry(length, 'x');
        entry[at] = static_cast<char>(byte);
        entries.push_back(entry);
        if (length > 2 && at > 0)
          entries.push_back(entry.substr(0, 1) + "/" + entry.substr(1));
      }
    }
  }
  for (const char* name : {"con", "prn", "aux", "nul", "com", "lpt", "cob", "lpu"}) {
    for (const char* digit : {"", "0", "5", "9", ":", "/"}) {
      for (const char* after : {"", ".c", " .x", "  .c", " ", " x", "x", "0"}) {
        for (const char* before : {"", "src/", "0123456789abcdef/"}) {
          for (const bool upper : {false, true}) {
            std::string entry = std::string(before) + name + digit + after;
            if (upper)
              for (char& c : entry)
                c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 0x20 : c);
            entries.push_back(entry);
          }
        }
      }
    }
  }
  for (const std::string& entry : entries) {
    for (const bool allowBlanks : {false, true}) {
      ASSERT_EQ(IsPlainByRules(entry, allowBlanks), IsPlainRelativePath(entry, allowBlanks))
          << testing::PrintToString(entry) << (allowBlanks ? " with blanks" : "");
    }
  }
}

}  // namespace
