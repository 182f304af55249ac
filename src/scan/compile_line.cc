// Recognising compile lines.
//
// A compile line is defined by CompileLinePatternText under ECMAScript rules.
// Regex engines that backtrack recurse once per character of the line and
// overflow the stack on the long command lines real build logs are full of, so
// the expression is matched here by hand, in one linear pass: a line held
// whole by MatchTail and MatchHead, a line taken in pieces by LineMatch,
// which finds the same heads and tail and keeps only their places. What
// makes that possible is the shape of the expression:
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

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "scan/byte_masks.h"

namespace {

// Character classes of the classic "C" locale; bytes from 0x80 up are in
// none. One table lookup each.
enum : uint8_t { kSpace = 1, kPunct = 2, kSeparator = 4, kExtension = 8 };

constexpr std::array<uint8_t, 256> CharacterClasses() {
  std::array<uint8_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    uint8_t classes = 0;
    if (c == ' ' || (c >= '\t' && c <= '\r'))
      classes |= kSpace;
    if ((c >= '!' && c <= '/') || (c >= ':' && c <= '@') ||
        (c >= '[' && c <= '`') || (c >= '{' && c <= '~'))
      classes |= kPunct;
    if (c == '\\' || c == '|' || c == '/')
      classes |= kSeparator;
    if (c == 'c' || c == 'p' || c == '|')
      classes |= kExtension;
    table[static_cast<size_t>(c)] = classes;
  }
  return table;
}

constexpr std::array<uint8_t, 256> kClasses = CharacterClasses();

bool Is(uint8_t classes, unsigned char c) { return kClasses[c] & classes; }
bool IsSpace(unsigned char c) { return Is(kSpace, c); }
bool IsPunct(unsigned char c) { return Is(kPunct, c); }
bool IsSeparator(unsigned char c) { return Is(kSeparator, c); }
bool IsExtension(unsigned char c) { return Is(kExtension, c); }

constexpr char kWord[] = "Compiling";
constexpr char kLowerWord[] = "compiling";
static_assert(sizeof(kWord) - 1 == kWordLength, "the word's length");
// The shortest text that can follow the start of the word up to the end of the
// captured path's dot: the word, one blank, the steps, and the dot itself.
constexpr size_t kWordToDot = kWordLength + 1 + kStepsLength;

// One step: two punctuation characters and a separator.
bool IsStep(const char* s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  return IsPunct(p[0]) && IsPunct(p[1]) && IsSeparator(p[2]);
}

bool IsWordAt(const char* s, size_t at) {
  return memcmp(s + at, kWord, kWordLength) == 0;
}

// Where the captured path starts if the word stands at `word`, or 0 when the
// white space and the steps after the word do not fit before `dot`.
size_t PathStartAfterWord(const char* s, size_t word, size_t dot) {
  size_t steps = word + kWordLength;
  while (steps < dot && IsSpace(static_cast<unsigned char>(s[steps])))
    ++steps;
  if (steps == word + kWordLength || steps + kStepsLength > dot)
    return 0;
  return IsStep(s + steps) && IsStep(s + steps + 3) ? steps + kStepsLength : 0;
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

namespace {

template <bool kAnyCase>
size_t FindWordIn(const char* s, size_t n, char stop) {
  // Candidates begin with the word's first letter, and are compared whole:
  // most text holds few, and one comparison passes over it.
  const auto found = [s, n, stop](size_t at) {
    if (s[at] == stop)
      return true;
    if (n - at < kWordLength)
      return false;
    if (!kAnyCase)
      return IsWordAt(s, at);
    for (size_t k = 0; k < kWordLength; ++k)
      if (static_cast<char>(s[at + k] | 0x20) != kLowerWord[k])
        return false;
    return true;
  };
  if (n < 16) {
    for (size_t i = 0; i < n; ++i)
      if (found(i))
        return i;
    return n;
  }
  const Bytes16 initial = Splat(kAnyCase ? kLowerWord[0] : kWord[0]);
  const Bytes16 end = Splat(stop);
  const auto candidates = [&](size_t at) {
    const Bytes16 v = Load16(s + at);
    return Or(Equal(kAnyCase ? FoldCase(v) : v, initial), Equal(v, end));
  };
  const auto first = [&](size_t at, uint32_t m) {
    for (; m; m &= m - 1) {
      const size_t place = at + static_cast<size_t>(LowestBit(m));
      if (found(place))
        return place;
    }
    return n;
  };
  size_t i = 0;
  // Sixty-four bytes at a time while they hold no candidate, then sixteen,
  // the last sixteen overlapping those looked at already.
  for (; i + 64 <= n; i += 64) {
    const Bytes16 some[4] = {candidates(i), candidates(i + 16), candidates(i + 32),
                             candidates(i + 48)};
    if (Mask(Or(Or(some[0], some[1]), Or(some[2], some[3]))) == 0)
      continue;
    for (size_t k = 0; k < 4; ++k) {
      const size_t place = first(i + 16 * k, Mask(some[k]));
      if (place != n)
        return place;
    }
  }
  for (;; i += 16) {
    const size_t at = i + 16 <= n ? i : n - 16;
    const size_t place = first(at, Mask(candidates(at)));
    if (place != n || at + 16 == n)
      return place;
  }
}

}  // namespace

size_t FindWord(const char* s, size_t n, char stop) {
  return FindWordIn<false>(s, n, stop);
}

size_t FindWordInAnyCase(const char* s, size_t n, char stop) {
  return FindWordIn<true>(s, n, stop);
}

namespace {

// The tail: three punctuation characters, white space, then the dot and E.
// Sets where the captured path ends and where its dot stands.
bool MatchTail(const char* s, size_t n, size_t* pathEnd, size_t* dot) {
  const auto at = [s](size_t i) { return static_cast<unsigned char>(s[i]); };
  if (n < kWordToDot + 2 + 1 + 3)
    return false;
  if (!IsPunct(at(n - 1)) || !IsPunct(at(n - 2)) || !IsPunct(at(n - 3)))
    return false;
  size_t end = n - 3;
  while (end > 0 && IsSpace(at(end - 1)))
    --end;
  if (end == n - 3 || end < kWordToDot + 2)
    return false;
  if (!IsExtension(at(end - 1)) || s[end - 2] != '.')
    return false;
  *pathEnd = end;
  *dot = end - 2;
  return true;
}

// The rest, once the tail fits: where the captured path starts, or 0. One
// pass over the line up to the dot, sixteen bytes at a time, finds the CRs and
// LFs (the characters that the expression's dots do not match) and the places
// of the word. The word may not stand after a break, and every break before
// the dot has to lie in the white space after the word that counts. Of the
// words that fit, the rightmost counts; the white-space runs examined after
// different words do not overlap, so the whole stays linear. Should a break
// lie after the rightmost word's white space, no word before it can hold the
// break in its white space either: then the line does not match.
size_t MatchHead(const char* s, size_t n, size_t dot) {
  const size_t lastWord = dot - kWordToDot;  // the word begins at or before
  const Bytes16 cr = Splat('\r');
  const Bytes16 lf = Splat('\n');
  const Bytes16 initial = Splat(kWord[0]);
  size_t firstBreak = dot;
  size_t lastBreak = 0;
  size_t pathStart = 0;
  // The sixteen bytes at `at`, of which those in `mask` are the line's
  // before the dot and not looked at yet.
  const auto look = [&](size_t at, uint32_t mask) {
    const Bytes16 v = Load16(s + at);
    if (uint32_t breaks = Mask(Or(Equal(v, cr), Equal(v, lf)))) {
      if ((breaks &= mask) != 0) {
        firstBreak = std::min(firstBreak, at + static_cast<size_t>(LowestBit(breaks)));
        lastBreak = at + static_cast<size_t>(HighestBit(breaks)) + 1;
      }
    }
    for (uint32_t m = Mask(Equal(v, initial)) & mask; m; m &= m - 1) {
      const size_t word = at + static_cast<size_t>(LowestBit(m));
      if (word > lastWord || word + kWordLength > firstBreak)
        break;
      if (word < pathStart || !IsWordAt(s, word))
        continue;
      if (const size_t start = PathStartAfterWord(s, word, dot))
        pathStart = start;
    }
  };
  size_t i = 0;
  for (; i + 16 <= dot; i += 16)
    look(i, 0xFFFFu);
  if (i < dot) {
    // The last sixteen overlap what was looked at already (a compile line
    // is longer than sixteen bytes).
    const size_t at = std::min(i, n - 16);
    look(at, (0xFFFFu << (i - at)) & ((1u << (dot - at)) - 1));
  }
  return pathStart != 0 && lastBreak <= pathStart - kStepsLength ? pathStart : 0;
}

}  // namespace

bool MatchCompileLine(std::string_view line, std::string_view* sourceFile) {
  size_t pathEnd = 0;
  size_t dot = 0;
  if (!MatchTail(line.data(), line.size(), &pathEnd, &dot))
    return false;
  const size_t pathStart = MatchHead(line.data(), line.size(), dot);
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

// A line, piece by piece. Its heads are found word by word from the left, as
// MatchHead finds them, keeping the last two that fit: only the rightmost can
// lie past the dot, since a word after it would have to stand after the dot,
// where no letter but the extension may. Its tail is read from the last five
// bytes that are not white space. A break (CR or LF) may stand neither
// before a head's word nor between its steps and the dot; the words after
// the line's first break are not looked at.
void LineMatch::Take(const char* data, size_t size) {
  if (size == 0)
    return;
  const uint64_t begin = taken_;
  const uint64_t end = begin + size;
  const auto place = [data, begin](uint64_t at) {
    return data + (static_cast<int64_t>(at) - static_cast<int64_t>(begin));
  };
  const auto at = [&place](uint64_t i) {
    return static_cast<unsigned char>(*place(i));
  };
  // The line's bytes before `data` that may be looked at again.
  const uint64_t back = begin < kLookBack ? begin : kLookBack;
  const size_t span = static_cast<size_t>(back) + size;
  const size_t breakAt = FindEither(data - back, span, '\r', '\n');
  const uint64_t firstBreakHere = breakAt < span ? begin - back + breakAt : kNone;
  if (firstBreak_ == kNone)
    firstBreak_ = firstBreakHere;

  if (pendingWord_ != kNone) {
    uint64_t steps = pendingAt_;
    while (steps < end && IsSpace(at(steps)))
      ++steps;
    if (steps + kStepsLength <= end) {
      CheckSteps(place(steps), steps);
      pendingWord_ = kNone;
    } else {
      pendingAt_ = steps;
    }
  }
  // A word needs its letters, a blank and the steps after it: one that
  // begins in the last kWordToDot - 1 bytes is looked at with the next piece,
  // which reads them again, or cannot fit at all.
  static_assert(kLookBack >= kWordToDot - 1, "a word is looked at whole");
  const uint64_t wordsTo =
      std::min(end >= kWordToDot ? end - (kWordToDot - 1) : 0, firstBreak_);
  for (uint64_t from = wordsFrom_; from < wordsTo;) {
    // Words that begin before `wordsTo`, whose letters end before the end.
    const size_t length = static_cast<size_t>(wordsTo - from) + kWordLength - 1;
    // No line feed is taken: it stops nothing.
    const uint64_t word = from + FindWord(place(from), length, '\n');
    if (word >= wordsTo)
      break;
    from = word + 1;
    if (!IsSpace(at(word + kWordLength)))
      continue;
    uint64_t steps = word + kWordLength + 1;
    while (steps < end && IsSpace(at(steps)))
      ++steps;
    if (steps + kStepsLength > end) {
      // No word can follow before the end of the piece.
      pendingWord_ = word;
      pendingAt_ = steps;
      break;
    }
    CheckSteps(place(steps), steps);
  }
  wordsFrom_ = std::max(wordsFrom_, wordsTo);

  if (firstBreakHere != kNone) {
    for (Head* head : {&latest_, &previous_}) {
      if (head->steps == kNone || head->lineBreak != kNone)
        continue;
      const uint64_t from = std::max(head->steps, begin - back);
      if (from >= end)
        continue;
      const size_t next = FindEither(place(from), static_cast<size_t>(end - from), '\r', '\n');
      if (from + next < end)
        head->lineBreak = from + next;
    }
  }

  // The last bytes that are not white space, newest first.
  NonSpace found[5];
  int count = 0;
  for (size_t i = size; i > 0 && count < 5; --i) {
    const auto c = static_cast<unsigned char>(data[i - 1]);
    if (!IsSpace(c))
      found[count++] = NonSpace{begin + i - 1, c};
  }
  const int kept = std::min(lastCount_, 5 - count);
  for (int i = 0; i < kept; ++i)
    last_[i] = last_[lastCount_ - kept + i];
  for (int i = 0; i < count; ++i)
    last_[kept + i] = found[count - 1 - i];
  lastCount_ = kept + count;
  lastByte_ = static_cast<unsigned char>(data[size - 1]);
  taken_ = end;
}

void LineMatch::CheckSteps(const char* s, uint64_t steps) {
  if (!IsStep(s) || !IsStep(s + 3))
    return;
  previous_ = latest_;
  latest_ = Head{steps, kNone};
  if (firstPath_ == kNone)
    firstPath_ = steps + kStepsLength;
}

bool LineMatch::End(uint64_t* begin, uint64_t* end) const {
  uint64_t n = taken_;
  if (n > 0 && lastByte_ == '\r')
    --n;  // CR LF is one line end
  if (lastCount_ < 5)
    return false;
  // Oldest first: the dot, the extension, the three punctuation characters.
  const NonSpace* t = last_;
  if (t[4].at != n - 1 || t[3].at != n - 2 || t[2].at != n - 3 ||
      !IsPunct(t[4].c) || !IsPunct(t[3].c) || !IsPunct(t[2].c))
    return false;
  const uint64_t extension = t[1].at;
  if (extension + 1 >= n - 3 || !IsExtension(t[1].c) || t[0].c != '.' ||
      t[0].at + 1 != extension || extension + 1 < kWordToDot + 2)
    return false;
  const uint64_t dot = t[0].at;
  const auto fits = [dot](const Head& head) {
    return head.steps != kNone && head.steps + kStepsLength <= dot;
  };
  const Head* head = fits(latest_)     ? &latest_
                     : fits(previous_) ? &previous_
                                       : nullptr;
  if (!head || head->lineBreak < dot)
    return false;
  *begin = head->steps + kStepsLength;
  *end = dot;
  return true;
}

namespace {

// The rightmost place of the word in [0, n), or n.
size_t FindLastWord(const char* s, size_t n) {
  size_t last = n;
  for (size_t from = 0;;) {
    const size_t word = from + FindWord(s + from, n - from, kWord[0]);
    if (word == n)
      return last;
    if (n - word >= kWordLength && IsWordAt(s, word))
      last = word;
    from = word + 1;
  }
}

bool IsTail(const char* s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  return IsSpace(p[0]) && IsPunct(p[1]) && IsPunct(p[2]) && IsPunct(p[3]);
}

}  // namespace

LeftOut ExplainLeftOut(std::string_view line) {
  const char* const s = line.data();
  const size_t n = line.size();
  const auto at = [s](size_t i) { return static_cast<unsigned char>(s[i]); };
  const size_t word = FindLastWord(s, n);
  if (word == n)
    return LeftOut::kLetterCase;
  if (FindEither(s, word, '\r', '\n') < word)
    return LeftOut::kBreakBeforeWord;
  size_t steps = word + kWordLength;
  if (steps == n || !IsSpace(at(steps)))
    return LeftOut::kNoSpaceAfterWord;
  while (steps < n && IsSpace(at(steps)))
    ++steps;
  if (n - steps < 3 || !IsStep(s + steps))
    return LeftOut::kNoSteps;
  if (n - steps < kStepsLength || !IsStep(s + steps + 3))
    return LeftOut::kOneStep;
  const size_t path = steps + kStepsLength;
  // The tail bounds the path; a line cut short at its end is told first.
  if (s[n - 1] == '\r')
    return LeftOut::kBreakAtEnd;
  if (n - path < 4 || !IsPunct(at(n - 1)) || !IsPunct(at(n - 2)) || !IsPunct(at(n - 3))) {
    for (size_t i = path; i + 4 <= n; ++i)
      if (IsTail(s + i))
        return LeftOut::kTextAfterTail;
    return LeftOut::kNoTail;
  }
  if (IsPunct(at(n - 4)))
    return LeftOut::kMorePunctuation;
  if (!IsSpace(at(n - 4)))
    return LeftOut::kNoSpaceBeforeTail;
  size_t end = n - 4;
  while (end > path && IsSpace(at(end - 1)))
    --end;
  if (end == path)
    return LeftOut::kNoPath;
  if (FindEither(s + path, end - path, '\r', '\n') < end - path)
    return LeftOut::kBreakInPath;
  const size_t dot = FindLast(s + path, end - path, '.');
  if (dot == end - path)
    return LeftOut::kNoDot;
  const size_t extension = end - (path + dot + 1);
  if (extension == 0)
    return LeftOut::kNoExtension;
  if (extension > 1)
    return LeftOut::kLongExtension;
  // Anything else would have matched.
  return LeftOut::kOtherExtension;
}

const char* LeftOutText(LeftOut reason) {
  // In the order of LeftOut.
  static const char* const kTexts[] = {
      "the word is not written Compiling (letter case counts)",
      "a carriage return before the word Compiling",
      "no white space after the word Compiling",
      "no two steps like ../../ after the word",
      "one step where two are needed (../ for ../../)",
      "a carriage return at the end of the line (CR CR LF)",
      "text after the three punctuation characters",
      "the line does not end with white space and three punctuation characters",
      "more than three punctuation characters at the end",
      "no white space before the three punctuation characters",
      "no path after the steps",
      "a carriage return in the path",
      "no dot in the path",
      "nothing after the path's last dot",
      "a C++ file (more than one character after the last dot)",
      "the character after the last dot is not c, p or |",
      "the last line, which has no line feed",
      "after a Ctrl-Z, which ends the log",
      "a line over 512 KiB, too long to be told apart",
  };
  static_assert(sizeof kTexts / sizeof kTexts[0] == static_cast<size_t>(LeftOut::kLongLine) + 1,
                "a text for every reason");
  static_assert(kLongLineLength == size_t{512} << 10, "the long line's text says 512 KiB");
  return kTexts[static_cast<size_t>(reason)];
}

std::string ShownText(std::string_view text, uint64_t length) {
  constexpr size_t kLongest = 200;
  static const char kHex[] = "0123456789ABCDEF";
  std::string shown = "\"";
  for (size_t i = 0; i < text.size() && i < kLongest; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      shown += static_cast<char>(c);
    } else {
      shown += "\\x";
      shown += kHex[c >> 4];
      shown += kHex[c & 15];
    }
  }
  shown += '"';
  if (length < text.size())
    length = text.size();
  if (length > kLongest)
    shown += "... (" + std::to_string(length) + " bytes)";
  return shown;
}
