#include "scan/scan_testing.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <filesystem>
#include <initializer_list>
#include <random>
#include <regex>
#include <system_error>

namespace {

void AppendUtf8(uint32_t c, std::string* text) {
  if (c < 0x80) {
    *text += static_cast<char>(c);
    return;
  }
  const int length = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
  *text += static_cast<char>((0xF00 >> length) | c >> (6 * (length - 1)));
  for (int k = length - 2; k >= 0; --k)
    *text += static_cast<char>(0x80 | (c >> (6 * k) & 0x3F));
}

bool IsDevice(std::string name) {
  name = name.substr(0, name.find('.'));
  while (!name.empty() && name.back() == ' ')
    name.pop_back();
  for (char& c : name)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  for (const char* device : {"con", "prn", "aux", "nul"})
    if (name == device)
      return true;
  return name.size() == 4 && (name.compare(0, 3, "com") == 0 || name.compare(0, 3, "lpt") == 0) &&
         name[3] >= '0' && name[3] <= '9';
}

bool IsPortable(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         c == '.' || c == '_' || c == '-';
}

// Each expression is compiled once, on its first use.
const std::regex& Expression(const char* text) {
  static std::deque<std::pair<const char*, std::regex>> compiled;
  for (const auto& known : compiled)
    if (known.first == text)
      return known.second;
  compiled.emplace_back(text, std::regex(text, std::regex::ECMAScript));
  return compiled.back().second;
}

bool Matches(const std::string& text, const char* expression) {
  return std::regex_match(text, Expression(expression));
}

bool HoldsWordInAnyCase(const std::string& line) {
  for (size_t i = 0; i + 9 <= line.size(); ++i) {
    size_t k = 0;
    while (k < 9 && (line[i + k] | 0x20) == "compiling"[k])
      ++k;
    if (k == 9)
      return true;
  }
  return false;
}

}  // namespace

LeftOut ReasonByPieces(const std::string& line) {
  const size_t word = line.rfind("Compiling");
  if (word == std::string::npos)
    return LeftOut::kLetterCase;
  if (!Matches(line.substr(0, word + 9), ".*Compiling"))
    return LeftOut::kBreakBeforeWord;
  const std::string s = line.substr(word);
  // Pieces 1 to 6, the first from the word on, each as a prefix.
  if (!Matches(s, "Compiling[[:space:]]+[\\s\\S]*"))
    return LeftOut::kNoSpaceAfterWord;
  if (!Matches(s, "Compiling[[:space:]]+[[:punct:]]{2}[\\\\|\\//][\\s\\S]*"))
    return LeftOut::kNoSteps;
  std::smatch steps;
  if (!std::regex_match(s, steps,
                        Expression("(Compiling[[:space:]]+[[:punct:]]{2}[\\\\|\\//]"
                                   "[[:punct:]]{2}[\\\\|\\//])([\\s\\S]*)")))
    return LeftOut::kOneStep;
  // Pieces 7 to 9 on the rest.
  const std::string rest = steps[2].str();
  if (Matches(rest, "[\\s\\S]*\\r"))
    return LeftOut::kBreakAtEnd;
  if (!Matches(rest, "[\\s\\S]+[[:punct:]]{3}"))
    return Matches(rest, "[\\s\\S]*[[:space:]][[:punct:]]{3}[\\s\\S]*") ? LeftOut::kTextAfterTail
                                                                          : LeftOut::kNoTail;
  if (Matches(rest, "[\\s\\S]*[[:punct:]]{4}"))
    return LeftOut::kMorePunctuation;
  std::smatch tail;
  if (!std::regex_match(rest, tail,
                        Expression("([\\s\\S]*[^[:space:]])?[[:space:]]+[[:punct:]]{3}")))
    return LeftOut::kNoSpaceBeforeTail;
  if (!tail[1].matched)
    return LeftOut::kNoPath;
  const std::string path = tail[1].str();
  if (Matches(path, "[\\s\\S]*[\\r\\n][\\s\\S]*"))
    return LeftOut::kBreakInPath;
  if (!Matches(path, "[\\s\\S]*\\.[\\s\\S]*"))
    return LeftOut::kNoDot;
  if (Matches(path, "[\\s\\S]*\\."))
    return LeftOut::kNoExtension;
  if (Matches(path, "[\\s\\S]*\\.[^.]{2,}"))
    return LeftOut::kLongExtension;
  return LeftOut::kOtherExtension;
}

namespace {

// The line, at least as long as `length`, of a compile line: the path padded
// with components of 'd' up to the length.
std::string CompileLineOf(size_t length, const std::string& tail = ".c ...") {
  std::string line = "Compiling ../../";
  while (line.size() + tail.size() < length)
    line += line.size() % 64 == 63 ? '/' : 'd';
  return line + tail;
}

// An entry of `length` bytes of components of `component` bytes, and its
// compile line.
std::string EntryLine(size_t length, size_t component, char fill = 'e') {
  std::string entry;
  while (entry.size() < length)
    entry += entry.size() % (component + 1) == component ? '/' : fill;
  if (entry.back() == '/')
    entry.back() = fill;
  return "Compiling ../../" + entry + ".c ...\n";
}

constexpr size_t kLongestExplained = size_t{512} << 10;

}  // namespace

std::string TextOf(const LineText& text) {
  std::string whole;
  for (const LineText::Piece& piece : text.pieces)
    whole.append(piece.block.data(), piece.used);
  return whole;
}

std::string Utf8Text(const std::string& log) {
  const auto byte = [&](size_t i) -> uint32_t { return static_cast<unsigned char>(log[i]); };
  if (log.size() < 2 ||
      !((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF)))
    return log;
  const bool big = byte(0) == 0xFE;
  std::vector<uint32_t> units;
  for (size_t i = 2; i + 1 < log.size(); i += 2)
    units.push_back(big ? byte(i) << 8 | byte(i + 1) : byte(i + 1) << 8 | byte(i));
  std::string text;
  for (size_t i = 0; i < units.size(); ++i) {
    const uint32_t u = units[i];
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] < 0xE000) {
      AppendUtf8(0x10000 + ((u - 0xD800) << 10) + (units[++i] - 0xDC00), &text);
    } else {
      AppendUtf8(u >= 0xD800 && u < 0xE000 ? 0xFFFD : u, &text);
    }
  }
  if (log.size() % 2 == 1)
    AppendUtf8(0xFFFD, &text);
  return text;
}

bool IsPlainByRules(const std::string& entry, bool allowBlanks) {
  if (entry.empty() || entry.size() > 4096)
    return false;
  std::vector<std::string> components(1);
  for (const char c : entry) {
    if (c == '/')
      components.emplace_back();
    else
      components.back() += c;
  }
  for (const std::string& component : components) {
    if (component.empty() || component == ".." || component[0] == '-' ||
        component.size() > 255 || IsDevice(component))
      return false;
    for (size_t i = 0; i < component.size(); ++i) {
      const char c = component[i];
      const bool innerBlank = allowBlanks && c == ' ' && i > 0 && i + 1 < component.size() &&
                              component[i - 1] != ' ' && component[i + 1] != ' ';
      if (!IsPortable(c) && !innerBlank)
        return false;
    }
  }
  return true;
}

std::string ShownByModel(std::string_view text, uint64_t length) {
  std::string shown = "\"";
  for (size_t i = 0; i < text.size() && i < 200; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\\') {
      shown += "\\\\";
    } else if (c < 0x20 || c > 0x7E || c == '"') {
      char hex[5];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      shown += hex;
    } else {
      shown += static_cast<char>(c);
    }
  }
  shown += '"';
  const uint64_t whole = std::max<uint64_t>(length, text.size());
  if (whole > 200)
    shown += "... (" + std::to_string(whole) + " bytes)";
  return shown;
}

ScanOutcome ScanByRules(const std::string& input, const ScanOptions& options) {
  const std::string log = Utf8Text(input);
  const size_t stop = log.find('\x1a');
  ScanOutcome out;
  uint64_t number = 0;
  for (size_t begin = 0; begin < log.size();) {
    const size_t lineFeed = log.find('\n', begin);
    const size_t end = lineFeed == std::string::npos ? log.size() : lineFeed;
    std::string line = log.substr(begin, end - begin);
    if (lineFeed != std::string::npos && !line.empty() && line.back() == '\r')
      line.pop_back();
    ++number;
    const bool afterEnd = stop != std::string::npos && stop < begin;
    const bool cut = lineFeed == std::string::npos || (stop != std::string::npos && stop < end);
    begin = end + 1;
    std::string_view sourceFile;
    if (!afterEnd && !cut && MatchCompileLine(line, &sourceFile)) {
      std::string entry(sourceFile.substr(0, sourceFile.rfind('.')));
      for (char& c : entry)
        if (c == '\\')
          c = '/';
      if (options.strict && !IsPlainByRules(entry, options.allowBlanks)) {
        out.outcome = ScanResult::kRefused;
        out.refusedLine = number;
        out.refusedEntry = entry;
        out.refusedLength = entry.size();
        return out;
      }
      out.list += entry + '\n';
      continue;
    }
    if (!options.leftOut || !HoldsWordInAnyCase(line))
      continue;
    const LeftOut reason = afterEnd                        ? LeftOut::kAfterEndOfText
                           : cut                           ? LeftOut::kNoLineFeed
                           : line.size() > kLongestExplained ? LeftOut::kLongLine
                           : line.size() < 2048              ? ReasonByPieces(line)
                                                             : ExplainLeftOut(line);
    out.leftOut += std::to_string(number) + '\t' + LeftOutText(reason) + '\t' +
                   ShownByModel(line, line.size()) + '\n';
  }
  return out;
}

std::vector<EdgeLog> EdgeLogs(bool large) {
  std::vector<EdgeLog> logs;
  const std::string canonical = "Compiling ../../src/a.c ...";
  const std::string before = "Compiling ../../x.c ...\n";
  const std::string after = "Compiling ../../b.c ...\ncompiling b\n";
  {
    // Lines around the sizes of the blocks the tests read in, of their
    // halves and of a vector, compile lines and others, CR LF and LF.
    std::string log;
    for (const size_t length : std::initializer_list<size_t>{
             15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 128, 129, 2047, 2048, 2049, 4095, 4096, 4097})
      log += CompileLineOf(length) + "\n" + CompileLineOf(length, ".cpp ...") + "\r\n" +
             std::string(length, 'n') + "\n";
    logs.push_back({"lines of 15 to 4097 bytes", log});
  }
  // The longest entry and component that are plain, and one byte more.
  for (const size_t length : std::initializer_list<size_t>{4095, 4096, 4097})
    logs.push_back({"an entry of " + std::to_string(length) + " bytes",
                    before + EntryLine(length, 200) + after});
  for (const size_t component : std::initializer_list<size_t>{254, 255, 256})
    logs.push_back({"a component of " + std::to_string(component) + " bytes",
                    before + EntryLine(component + 10, component) + after});
  {
    // Entries on both sides of the sixteen bytes looked at at once, each
    // byte of the portable set in them; then a device name.
    std::string log;
    const std::string portable =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-";
    for (size_t length = 1; length <= 33; ++length)
      for (size_t at = 0; at + length <= portable.size(); at += length)
        log += "Compiling ../../" + std::string("a/") + portable.substr(at, length) + ".c ...\n";
    for (const char* device : {"lpt1", "COM9", "src/Aux.h", "nul .x", "con"})
      logs.push_back({std::string("short entries, then ") + device,
                      log + "Compiling ../../" + device + ".c ...\n" + after});
    for (const char* blanks : {"src/a b", "src/ab ", " ab", "a  b", "a b/c d/e"})
      logs.push_back({std::string("an entry with blanks: ") + blanks,
                      before + "Compiling ../../" + blanks + ".c ...\n" + after});
  }
  // Texts on both sides of the longest text shown, as lines explained and
  // as entries refused.
  for (const size_t length : std::initializer_list<size_t>{199, 200, 201})
    logs.push_back({"a text of " + std::to_string(length) + " bytes",
                    before + std::string(length - 9, 'c') + "compiling\n" +
                        "Compiling ../../$" + std::string(length - 1, 'e') + ".c ...\n" + after});
  // A Ctrl-Z, a CR and a line feed at each place of a compile line.
  for (size_t at = 0; at <= canonical.size() + 1; ++at) {
    for (const char c : {'\x1a', '\r', '\n'}) {
      std::string line = canonical + "\r";
      line.insert(std::min(at, line.size()), 1, c);
      logs.push_back({"byte " + std::to_string(c) + " at " + std::to_string(at),
                      before + line + "\n" + after});
    }
  }
  {
    // Each byte at each place of a compile line; the line cut at each
    // length; paths and tails around the shortest.
    std::string log;
    for (size_t at = 0; at < canonical.size(); ++at) {
      for (int c = 0; c < 256; ++c) {
        std::string line = "make: " + canonical;
        line[6 + at] = static_cast<char>(c);
        log += line + "\n";
      }
    }
    for (size_t length = 0; length <= canonical.size(); ++length)
      log += "make: " + canonical.substr(0, length) + "\n";
    for (const char* path : {"", "a", ".", ".c", "a.c", "a.cpp", "a.C", "a.", "a\r.c"})
      for (const char* blank : {"", " ", "\t", " \r", "\r"})
        for (const char* tail : {"", ".", "..", "...", "....", "... x", "x..."})
          log += std::string("Compiling ../../") + path + blank + tail + "\n";
    logs.push_back({"each byte at each place, each cut", log + "no line feed: compiling"});
    logs.push_back({"a last line of 300 bytes, a CR at its end and no line feed",
                    before + std::string(291, 'x') + "compiling\r"});
  }
  if (!large)
    return logs;
  {
    // A refused line's number counted by reading the log again, more than
    // a block of it.
    std::string log;
    while (log.size() < (size_t{3} << 19))
      log += before;
    logs.push_back({"a refused entry after 1.5 MiB", log + "Compiling ../../-x.c ...\n" + log});
  }
  // Lines around the longest that is explained, compile lines and not.
  for (const size_t length : {kLongestExplained, kLongestExplained + 1}) {
    logs.push_back({"a line of " + std::to_string(length) + " bytes",
                    before + CompileLineOf(length, ".cpp ...") + "\r\n" +
                        CompileLineOf(length, ".c ...") + "\n" + after,
                    true});
  }
  // The word across two pieces of a long line: one piece ends in each of
  // its bytes, whatever the block (a power of two) the line is read in.
  for (size_t cut = 0; cut <= 9; ++cut) {
    std::string line(kLongestExplained + 4096, 'x');
    line.replace(3 * 4096 - cut, 9, "compiling");
    logs.push_back({"the word across pieces, cut after " + std::to_string(cut),
                    line + "\n" + after, true});
  }
  return logs;
}

std::string AsUtf16(const std::string& text, bool bigEndian) {
  // The edges of UTF-8's lengths and of the surrogates: pairs, lone ones.
  std::vector<uint16_t> units = {0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0xD7FF, 0xD800, 0xDC00,
                                 0xDBFF, 0xDFFF, 0xE000, 0xDC00, 0xD800, 0x41};
  const std::string head = "Compiling ../../";
  units.insert(units.begin(), head.begin(), head.end());
  for (const char c : std::string(".c ...\r\n") + text)
    units.push_back(static_cast<unsigned char>(c));
  std::string bytes = bigEndian ? "\xfe\xff" : "\xff\xfe";
  for (const uint16_t unit : units) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    bytes += bigEndian ? high : low;
    bytes += bigEndian ? low : high;
  }
  return bytes;
}

int64_t TextSource::Read(char* data, size_t size) {
  const size_t length = std::min({size, most_, text_.size() - position_});
  memcpy(data, text_.data() + position_, length);
  position_ += length;
  return static_cast<int64_t>(length);
}

bool TextSource::ReadAt(uint64_t at, char* data, size_t size) {
  if (!canReadAgain_ || at > text_.size() || size > text_.size() - at)
    return false;
  memcpy(data, text_.data() + at, size);
  return true;
}

TestFolder::TestFolder() {
  std::random_device random;
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (;;) {
    const std::filesystem::path path = base / ("kestrane-test-" + std::to_string(random()));
    std::error_code error;
    if (std::filesystem::create_directory(path, error)) {
      path_ = path.string();
      return;
    }
    if (error)
      abort();
  }
}

TestFolder::~TestFolder() {
  std::error_code error;
  std::filesystem::remove_all(path_, error);
}

std::string TestFolder::Path(const std::string& name) const {
  return (std::filesystem::path(path_) / name).string();
}
