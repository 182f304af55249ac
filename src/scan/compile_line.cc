// Recognising compile lines.
//
// A compile line is defined by CompileLinePatternText under ECMAScript rules.
// Regex engines that backtrack recurse once per character of the line and
// overflow the stack on the long command lines real build logs are full of, so
// the expression is matched here by hand, in one linear pass, by one matcher
// (LineMatch) that takes a line in one piece or in many and keeps only the
// places of its heads and tail. What makes that possible is the shape of the
// expression:
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

#include "scan/byte_masks.h"

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
    const Bytes16 a = candidates(i), b = candidates(i + 16), c = candidates(i + 32),
                  d = candidates(i + 48);
    if (Mask(Or(Or(a, b), Or(c, d))) == 0)
      continue;
    size_t place = first(i, Mask(a) | Mask(b) << 16);
    if (place == n)
      place = first(i + 32, Mask(c) | Mask(d) << 16);
    if (place != n)
      return place;
  }
  for (;; i += 16) {
    const size_t at = i + 16 <= n ? i : n - 16;
    const size_t place = first(at, Mask(candidates(at)));
    if (place != n || at + 16 == n)
      return place;
  }
}

// Whether the last five bytes of a line of `n` bytes that are not white
// space, newest first, are a tail after a dot and an extension; sets where
// the dot is.
inline bool TailFits(const LineMatch::NonSpace t[5], uint64_t n, uint64_t* dot) {
  // Newest first: the three punctuation characters, the extension, the dot.
  if (t[0].at + 1 != n || t[1].at + 2 != n || t[2].at + 3 != n || !IsPunct(t[0].c) ||
      !IsPunct(t[1].c) || !IsPunct(t[2].c))
    return false;
  const uint64_t extension = t[3].at;
  if (extension + 1 >= n - 3 || !IsExtension(t[3].c) || t[4].c != '.' ||
      t[4].at + 1 != extension || extension + 1 < kWordToDot + 2)
    return false;
  *dot = t[4].at;
  return true;
}

}  // namespace

size_t FindWord(const char* s, size_t n, char stop, bool anyCase) {
  return anyCase ? FindWordIn<true>(s, n, stop) : FindWordIn<false>(s, n, stop);
}

inline void LineMatch::CheckSteps(const char* s, uint64_t steps) {
  if (!IsStep(s) || !IsStep(s + 3))
    return;
  previous_ = latest_;
  latest_ = steps;
  pathBreak_ = kNone;
  if (firstPath_ == kNone)
    firstPath_ = steps + kStepsLength;
}

// The rightmost head counts if its steps end before the dot, else the one
// before it. No break may stand between the steps and the dot: for the one
// before the rightmost, that is the line's first break, since the words of
// both stand before that break and the rightmost's after its steps.
inline uint64_t LineMatch::PathBefore(uint64_t dot) const {
  if (latest_ != kNone && latest_ + kStepsLength <= dot)
    return pathBreak_ >= dot ? latest_ + kStepsLength : kNone;
  if (previous_ != kNone && previous_ + kStepsLength <= dot)
    return firstBreak_ >= dot ? previous_ + kStepsLength : kNone;
  return kNone;
}

bool MatchCompileLine(std::string_view line, std::string_view* sourceFile) {
  // A line held whole is a line taken in one piece, its tail read first, from
  // its own bytes: a word can begin only so far before the dot, and a line
  // without a tail costs nothing more.
  const size_t n = line.size();
  const auto at = [&line](size_t i) { return static_cast<unsigned char>(line[i]); };
  if (n < kWordToDot + 6 || !IsPunct(at(n - 1)) || !IsPunct(at(n - 2)) || !IsPunct(at(n - 3)))
    return false;
  // No extension stands before kWordToDot + 1 (TailFits).
  size_t extension = n - 4;
  while (extension > kWordToDot && IsSpace(at(extension)))
    --extension;
  const LineMatch::NonSpace tail[5] = {{n - 1, at(n - 1)},
                                       {n - 2, at(n - 2)},
                                       {n - 3, at(n - 3)},
                                       {extension, at(extension)},
                                       {extension - 1, at(extension - 1)}};
  uint64_t dot = 0;
  if (!TailFits(tail, n, &dot))
    return false;
  LineMatch match;
  match.LookForHeads(line.data(), static_cast<size_t>(dot));
  const uint64_t path = match.PathBefore(dot);
  if (path == LineMatch::kNone)
    return false;
  *sourceFile = std::string_view(line.data() + path, static_cast<size_t>(dot + 2 - path));
  return true;
}

// A line, piece by piece. Its heads are found word by word from the left,
// keeping the last two: only the rightmost can lie past the dot, since a
// word after it would have to stand after the dot, where no letter but the
// extension may. Its tail is read from the last five bytes that are not
// white space. A break (CR or LF) may stand neither before a head's word nor
// between its steps and the dot; the words after the line's first break are
// not looked at.
void LineMatch::Take(const char* data, size_t size) {
  if (size == 0)
    return;
  LookForHeads(data, size);
  // The last five bytes that are not white space, newest first: this
  // piece's, then those before.
  NonSpace found[5];
  int count = 0;
  for (size_t i = size; i > 0 && count < 5; --i) {
    const auto c = static_cast<unsigned char>(data[i - 1]);
    if (!IsSpace(c))
      found[count++] = NonSpace{taken_ + i - 1, c};
  }
  const int kept = std::min(lastCount_, 5 - count);
  std::copy_backward(last_, last_ + kept, last_ + count + kept);
  std::copy(found, found + count, last_);
  lastCount_ = kept + count;
  lastByte_ = static_cast<unsigned char>(data[size - 1]);
  taken_ += size;
}

// One pass, sixteen bytes at a time where as many can be read, over the
// bytes not looked at yet: the breaks, and the places of the word, each with
// the white space and the steps after it.
inline void LineMatch::LookForHeads(const char* data, size_t size) {
  const uint64_t begin = taken_;
  const uint64_t end = begin + size;
  const auto place = [&](uint64_t at) {
    return data + (static_cast<int64_t>(at) - static_cast<int64_t>(begin));
  };
  const auto at = [&place](uint64_t i) { return static_cast<unsigned char>(*place(i)); };
  // The line's bytes before `data` that may be looked at again.
  const uint64_t back = begin < kLookBack ? begin : kLookBack;
  if (pendingAt_ != kNone) {
    uint64_t steps = pendingAt_;
    while (steps < end && IsSpace(at(steps)))
      ++steps;
    pendingAt_ = steps;
    if (steps + kStepsLength <= end) {
      CheckSteps(place(steps), steps);
      pendingAt_ = kNone;
    }
  }
  // A word needs its letters, a blank and the steps after it: one that
  // begins in the last kWordToDot - 1 bytes is looked at with the next piece,
  // which reads them again, or cannot fit at all.
  static_assert(kLookBack >= kWordToDot - 1, "a word is looked at whole");
  const uint64_t wordsTo = end >= kWordToDot ? end - (kWordToDot - 1) : 0;
  bool looking = pendingAt_ == kNone;
  // The sixteen bytes at `chunk`, of which those in `fresh` were not looked
  // at yet: their breaks, and the places of the word among them.
  const Bytes16 cr = Splat('\r');
  const Bytes16 lf = Splat('\n');
  const Bytes16 initial = Splat(kWord[0]);
  const auto look = [&](uint64_t chunk, uint32_t fresh) {
    const Bytes16 v = Load16(place(chunk));
    uint32_t breaks = Mask(Or(Equal(v, cr), Equal(v, lf))) & fresh;
    uint32_t initials = Mask(Equal(v, initial)) & fresh;
    if ((breaks | initials) == 0)
      return;
    if (breaks)
      firstBreak_ = std::min(firstBreak_, chunk + static_cast<uint64_t>(LowestBit(breaks)));
    for (; looking && initials; initials &= initials - 1) {
      const uint64_t word = chunk + static_cast<uint64_t>(LowestBit(initials));
      if (word < wordsFrom_)
        continue;
      if (word >= wordsTo || word >= firstBreak_) {
        looking = false;
        break;
      }
      if (!IsWordAt(place(word), 0) || !IsSpace(at(word + kWordLength)))
        continue;
      uint64_t steps = word + kWordLength + 1;
      while (steps < end && IsSpace(at(steps)))
        ++steps;
      if (steps + kStepsLength > end) {
        // No word can follow before the end of the piece.
        pendingAt_ = steps;
        looking = false;
        break;
      }
      CheckSteps(place(steps), steps);
    }
    // The first break at or after the rightmost head's steps.
    if (breaks && pathBreak_ == kNone && latest_ < chunk + 16) {
      breaks &= latest_ > chunk ? ~0u << (latest_ - chunk) : ~0u;
      if (breaks)
        pathBreak_ = chunk + static_cast<uint64_t>(LowestBit(breaks));
    }
  };
  // From the first byte not looked at, or the first word's that may be,
  // within what can be read.
  uint64_t i = std::max(begin - back, std::min(wordsFrom_, begin));
  if (end - (begin - back) < 16) {
    // Too short a line yet for a word to fit: only its breaks count.
    const uint64_t found = i + FindEither(place(i), static_cast<size_t>(end - i), '\r', '\n');
    if (found < end)
      firstBreak_ = std::min(firstBreak_, found);
  } else {
    for (const uint64_t last = end - 16; i <= last; i += 16)
      look(i, 0xFFFFu);
    // The last sixteen overlap what was looked at already.
    if (i < end)
      look(end - 16, 0xFFFFu << (16 - (end - i)) & 0xFFFFu);
  }
  wordsFrom_ = std::max(wordsFrom_, std::min(wordsTo, firstBreak_));
}

bool LineMatch::End(uint64_t* begin, uint64_t* end) const {
  uint64_t dot = 0;
  if (lastCount_ < 5 || !TailFits(last_, length(), &dot))
    return false;
  const uint64_t path = PathBefore(dot);
  if (path == kNone)
    return false;
  *begin = path;
  *end = dot;
  return true;
}


LeftOut ExplainLeftOut(std::string_view line) {
  const char* const s = line.data();
  const size_t n = line.size();
  const auto at = [s](size_t i) { return static_cast<unsigned char>(s[i]); };
  // The rightmost place of the word: each first letter of it is looked at.
  size_t word = n;
  for (size_t i = 0; (i += FindWord(s + i, n - i, kWord[0])) < n; ++i)
    if (n - i >= kWordLength && IsWordAt(s, i))
      word = i;
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
      if (IsSpace(at(i)) && IsPunct(at(i + 1)) && IsPunct(at(i + 2)) && IsPunct(at(i + 3)))
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
  static const char kHex[] = "0123456789ABCDEF";
  std::string shown = "\"";
  for (size_t i = 0; i < text.size() && i < kShownLength; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      shown += static_cast<char>(c);
    } else if (c == '\\') {
      shown += "\\\\";  // a Windows path stays readable: ..\\..\\Source
    } else {
      shown += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
    }
  }
  shown += '"';
  length = std::max<uint64_t>(length, text.size());
  if (length > kShownLength)
    shown += "... (" + std::to_string(length) + " bytes)";
  return shown;
}
