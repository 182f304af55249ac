// Recognising compile lines.
//
// A compile line is defined by CompileLinePatternText under ECMAScript rules.
// Regex engines that backtrack recurse once per character of the line and
// overflow the stack on the long command lines real build logs are full of, so
// the expression is matched here by hand, in one linear pass. What makes that
// possible is the shape of the expression:
//
//   .*  Compiling  S+  PP X PP X  ( .* \. E )  S+  PPP
//
// S is white space, P punctuation, X one of \ | /, E one of c p |.
// - The last three characters are PPP. Before them comes a run of white space
//   and before that E, which is not white space; so the end of the captured
//   path is fixed: it is where the trailing run of white space begins.
// - Given a position of the word Compiling, the S+ after it has to be the whole
//   run of white space there (P is not white space), so the start of the
//   captured path is fixed as well.
// - Of all positions of the word that fit, greedy backtracking settles on the
//   rightmost. The dots of the expression match anything but CR and LF, and
//   those two may stand only in the white-space runs.

#include "scan/scan.h"

#include <cstring>

namespace {

// Character classes of the classic "C" locale; bytes from 0x80 up are neither.
bool IsSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool IsPunct(unsigned char c) {
  return (c >= '!' && c <= '/') || (c >= ':' && c <= '@') ||
         (c >= '[' && c <= '`') || (c >= '{' && c <= '~');
}

bool IsSeparator(unsigned char c) { return c == '\\' || c == '|' || c == '/'; }

bool IsExtension(unsigned char c) { return c == 'c' || c == 'p' || c == '|'; }

constexpr char kWord[] = "Compiling";
constexpr size_t kWordLength = sizeof(kWord) - 1;
// Between the end of the white space after the word and the captured path:
// two punctuation characters and a separator, twice.
constexpr size_t kStepsLength = 6;
// The shortest text that can follow the start of the word up to the end of the
// captured path's dot: the word, one blank, the steps, and the dot itself.
constexpr size_t kWordToDot = kWordLength + 1 + kStepsLength;

// CR and LF are the characters that the expression's dots do not match.

// Finds the first CR or LF in [from, to), or `to` when there is none.
size_t FindBreak(const char* s, size_t from, size_t to) {
  size_t found = to;
  if (from >= to)
    return found;
  if (const void* cr = memchr(s + from, '\r', to - from))
    found = static_cast<size_t>(static_cast<const char*>(cr) - s);
  if (const void* lf = memchr(s + from, '\n', found - from))
    found = static_cast<size_t>(static_cast<const char*>(lf) - s);
  return found;
}

// Finds the last CR or LF in [from, to), given that `from` holds one.
size_t FindLastBreak(const char* s, size_t from, size_t to) {
  size_t last = from;
  for (size_t next = FindBreak(s, from + 1, to); next < to;
       next = FindBreak(s, next + 1, to))
    last = next;
  return last;
}

// Where the captured path starts if the word Compiling stands at `word`, or 0
// when the fixed pieces after the word do not fit before `dot`.
// `breaksBefore`: no CR or LF stands at or after this position up to `dot`.
size_t PathStartAfterWord(const char* s, size_t word, size_t dot,
                          size_t breaksBefore) {
  size_t steps = word + kWordLength;
  while (steps < dot && IsSpace(static_cast<unsigned char>(s[steps])))
    ++steps;
  if (steps == word + kWordLength || steps + kStepsLength > dot)
    return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(s + steps);
  if (!IsPunct(p[0]) || !IsPunct(p[1]) || !IsSeparator(p[2]) ||
      !IsPunct(p[3]) || !IsPunct(p[4]) || !IsSeparator(p[5]))
    return 0;
  // A CR or LF past the white space would fall into the captured path.
  if (breaksBefore > steps)
    return 0;
  return steps + kStepsLength;
}

}  // namespace

std::string_view CompileLinePatternText() {
  static const std::string text = std::string(".*Compiling") +
                                  "[[:space:]]+" +
                                  "[[:punct:]]{2}" +
                                  "[\\\\|\\//]" +
                                  "[[:punct:]]{2}" +
                                  "[\\\\|\\//]" +
                                  "(.*\\.[cpp|c])" +
                                  "[[:space:]]+" +
                                  "[[:punct:]]{3}";
  return text;
}

bool MatchCompileLine(std::string_view line, std::string_view* sourceFile) {
  const char* s = line.data();
  const size_t n = line.size();
  const auto at = [s](size_t i) { return static_cast<unsigned char>(s[i]); };

  // The tail: three punctuation characters, white space, then dot and E.
  if (n < kWordToDot + 2 + 1 + 3)
    return false;
  if (!IsPunct(at(n - 1)) || !IsPunct(at(n - 2)) || !IsPunct(at(n - 3)))
    return false;
  size_t pathEnd = n - 3;
  while (pathEnd > 0 && IsSpace(at(pathEnd - 1)))
    --pathEnd;
  if (pathEnd == n - 3 || pathEnd < kWordToDot + 2)
    return false;
  const size_t dot = pathEnd - 2;
  if (!IsExtension(at(pathEnd - 1)) || s[dot] != '.')
    return false;

  // The word may not stand after a CR or LF (the leading dots stop there), and
  // any CR or LF up to the dot has to lie in the white space after the word.
  const size_t lastWord = dot - kWordToDot;
  const size_t firstBreak = FindBreak(s, 0, dot);
  const size_t lastBreak =
      firstBreak < dot ? FindLastBreak(s, firstBreak, dot) + 1 : 0;
  const size_t searchEnd = (firstBreak < lastWord ? firstBreak : lastWord) + 1;

  // Every fitting position of the word is tried and the rightmost kept; the
  // white-space runs examined after different positions do not overlap, so
  // the whole search stays linear.
  size_t pathStart = 0;
  for (size_t from = 0; from < searchEnd;) {
    const void* hit = memchr(s + from, 'C', searchEnd - from);
    if (!hit)
      break;
    const size_t word = static_cast<size_t>(static_cast<const char*>(hit) - s);
    from = word + 1;
    if (memcmp(s + word, kWord, kWordLength) != 0)
      continue;
    if (size_t start = PathStartAfterWord(s, word, dot, lastBreak)) {
      pathStart = start;
      from = start;
    }
  }
  if (pathStart == 0)
    return false;
  *sourceFile = line.substr(pathStart, pathEnd - pathStart);
  return true;
}

bool MatchCompileLine(std::string_view line, std::string* sourceFile) {
  std::string_view path;
  if (!MatchCompileLine(line, &path))
    return false;
  sourceFile->assign(path.data(), path.size());
  return true;
}
