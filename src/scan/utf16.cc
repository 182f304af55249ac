#include "scan/utf16.h"

namespace {

constexpr uint32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(uint32_t unit) { return unit >= 0xD800 && unit < 0xDC00; }
bool IsLowSurrogate(uint32_t unit) { return unit >= 0xDC00 && unit < 0xE000; }

char* PutUtf8(uint32_t c, char* out) {
  if (c < 0x80) {
    *out++ = static_cast<char>(c);
  } else if (c < 0x800) {
    *out++ = static_cast<char>(0xC0 | c >> 6);
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out++ = static_cast<char>(0xE0 | c >> 12);
    *out++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | c >> 18);
    *out++ = static_cast<char>(0x80 | (c >> 12 & 0x3F));
    *out++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

// Takes one code unit; a high surrogate waits for what follows it.
char* PutUnit(Utf16Decoder* decoder, uint32_t unit, char* out) {
  if (decoder->highSurrogate) {
    const uint32_t high = decoder->highSurrogate;
    decoder->highSurrogate = 0;
    if (IsLowSurrogate(unit))
      return PutUtf8(0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00), out);
    out = PutUtf8(kReplacement, out);
  }
  if (IsHighSurrogate(unit)) {
    decoder->highSurrogate = static_cast<uint16_t>(unit);
    return out;
  }
  return PutUtf8(IsLowSurrogate(unit) ? kReplacement : unit, out);
}

}  // namespace

Utf16Order ReadByteOrderMark(std::istream& input) {
  const int first = input.peek();
  if (first != 0xFF && first != 0xFE)
    return Utf16Order::kNone;
  input.get();
  if (input.peek() == (first == 0xFF ? 0xFE : 0xFF)) {
    input.get();
    return first == 0xFF ? Utf16Order::kLittleEndian : Utf16Order::kBigEndian;
  }
  input.putback(static_cast<char>(first));  // clears the end a peek may have met
  return Utf16Order::kNone;
}

size_t DecodeUtf16(Utf16Decoder* decoder, const char* in, size_t size,
                   bool end, char* out) {
  char* const start = out;
  const auto* bytes = reinterpret_cast<const unsigned char*>(in);
  const unsigned char* const last = bytes + size;
  const int big = decoder->bigEndian ? 1 : 0;
  if (decoder->pendingByte >= 0 && bytes != last) {
    const uint32_t pair[2] = {static_cast<uint32_t>(decoder->pendingByte),
                              *bytes++};
    decoder->pendingByte = -1;
    out = PutUnit(decoder, pair[big] | pair[1 - big] << 8, out);
  }
  for (; last - bytes >= 2; bytes += 2)
    out = PutUnit(decoder, static_cast<uint32_t>(bytes[big] | bytes[1 - big] << 8), out);
  if (bytes != last)
    decoder->pendingByte = *bytes;
  if (end) {
    if (decoder->highSurrogate)
      out = PutUtf8(kReplacement, out);
    if (decoder->pendingByte >= 0)
      out = PutUtf8(kReplacement, out);
    decoder->highSurrogate = 0;
    decoder->pendingByte = -1;
  }
  return static_cast<size_t>(out - start);
}

Utf16Buffer::Utf16Buffer(std::istream& source, Utf16Order order)
    : source_(source),
      raw_(new char[kRawSize]),
      text_(new char[Utf8Room(kRawSize)]) {
  decoder_.bigEndian = order == Utf16Order::kBigEndian;
}

Utf16Buffer::int_type Utf16Buffer::underflow() {
  // A read may give a lone byte, or a high surrogate, and no text yet.
  while (!ended_) {
    source_.read(raw_.get(), static_cast<std::streamsize>(kRawSize));
    const size_t got = static_cast<size_t>(source_.gcount());
    failed_ = source_.bad();
    ended_ = got < kRawSize || failed_;
    const size_t length = DecodeUtf16(&decoder_, raw_.get(), got, ended_, text_.get());
    if (length > 0) {
      setg(text_.get(), text_.get(), text_.get() + length);
      return traits_type::to_int_type(text_[0]);
    }
  }
  return traits_type::eof();
}
