#include <string>

#include <gtest/gtest.h>

#include "scan/scan_testing.h"
#include "scan/utf16.h"

namespace {

// `units` as the bytes of UTF-16 in either order.
std::string Bytes(const std::u16string& units, bool bigEndian) {
  std::string bytes;
  for (const char16_t unit : units) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    bytes += bigEndian ? std::string{high, low} : std::string{low, high};
  }
  return bytes;
}

// Decodes `bytes` cut in two at `cut`, as two reads would give them.
std::string Decode(const std::string& bytes, bool bigEndian, size_t cut) {
  Utf16Decoder decoder;
  decoder.bigEndian = bigEndian;
  std::string text(Utf8Room(bytes.size()) * 2, '\0');
  size_t length = DecodeUtf16(&decoder, bytes.data(), cut, false, &text[0]);
  length += DecodeUtf16(&decoder, bytes.data() + cut, bytes.size() - cut, true,
                        &text[length]);
  text.resize(length);
  return text;
}

TEST(DecodeUtf16, EveryCutInEitherOrder) {
  const struct {
    const char* name;
    std::u16string units;
    std::string text;
    std::string tail;  // after the last complete unit: a lone byte
  } cases[] = {
      {"ASCII, NUL and Ctrl-Z", std::u16string(u"a\r\n\x1a\0z", 6),
       std::string("a\r\n\x1a\0z", 6), ""},
      {"two and three bytes", u"\u00e9\u20ac\uFFFD", "\xc3\xa9\xe2\x82\xac\xef\xbf\xbd", ""},
      {"surrogate pair", u"x\U0001F600y", "x\xf0\x9f\x98\x80y", ""},
      {"lone high surrogate", u"\xd83d" u"a", "\xef\xbf\xbd" "a", ""},
      {"high surrogate twice", u"\xd83d\xd83d\xde00", "\xef\xbf\xbd\xf0\x9f\x98\x80", ""},
      {"lone low surrogate", u"a\xde00", "a\xef\xbf\xbd", ""},
      {"the surrogates' neighbours", u"\ud7ff\ue000", "\xed\x9f\xbf\xee\x80\x80", ""},
      {"high surrogate at the end", u"a\xd83d", "a\xef\xbf\xbd", ""},
      {"odd byte at the end", u"a", "a\xef\xbf\xbd", "b"},
  };
  for (const auto& c : cases) {
    for (const bool bigEndian : {false, true}) {
      const std::string bytes = Bytes(c.units, bigEndian) + c.tail;
      for (size_t cut = 0; cut <= bytes.size(); ++cut) {
        SCOPED_TRACE(testing::Message() << c.name << (bigEndian ? " BE" : " LE")
                                        << ", cut at " << cut);
        EXPECT_EQ(c.text, Decode(bytes, bigEndian, cut));
      }
    }
  }
}

// Each pair of code units at the edges of UTF-8's lengths and of the
// surrogates, cut at each byte, against a plain decoding.
TEST(DecodeUtf16, EachPairOfEdgeUnits) {
  const char16_t edges[] = {0x0,    0x7F,   0x80,   0x7FF,  0x800,  0xD7FF, 0xD800,
                            0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFFFD, 0xFFFF};
  for (const bool bigEndian : {false, true}) {
    for (const char16_t first : edges) {
      for (const char16_t second : edges) {
        const std::string bytes = Bytes(std::u16string{first, second}, bigEndian);
        const std::string text =
            Utf8Text((bigEndian ? std::string("\xfe\xff") : std::string("\xff\xfe")) + bytes);
        for (size_t cut = 0; cut <= bytes.size(); ++cut)
          ASSERT_EQ(text, Decode(bytes, bigEndian, cut))
              << std::hex << first << " " << second << " cut at " << cut;
      }
    }
  }
}

TEST(ByteOrderOf, TakesOnlyAMark) {
  const struct {
    std::string log;
    Utf16Order order;
  } cases[] = {
      {"\xff\xfe" "a", Utf16Order::kLittleEndian},
      {"\xfe\xff", Utf16Order::kBigEndian},
      {"\xff", Utf16Order::kNone},
      {"\xff\xff", Utf16Order::kNone},
      {"\xfe" "a", Utf16Order::kNone},
      {"\xef\xbb\xbf" "a", Utf16Order::kNone},
      {"", Utf16Order::kNone},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.order, ByteOrderOf(c.log.data(), c.log.size())) << testing::PrintToString(c.log);
}

}  // namespace
