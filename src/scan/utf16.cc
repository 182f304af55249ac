#include "scan/utf16.h"

#include <algorithm>
#include <cstring>

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

Utf16Order ByteOrderOf(const char* data, size_t size) {
  if (size < 2)
    return Utf16Order::kNone;
  const auto first = static_cast<unsigned char>(data[0]);
  const auto second = static_cast<unsigned char>(data[1]);
  return first == 0xFF && second == 0xFE   ? Utf16Order::kLittleEndian
         : first == 0xFE && second == 0xFF ? Utf16Order::kBigEndian
                                           : Utf16Order::kNone;
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

Utf16Source::Utf16Source(ByteSource& source, Utf16Order order)
    : source_(source), raw_(new char[kRawSize]), text_(new char[Utf8Room(kRawSize)]) {
  decoder_.bigEndian = order == Utf16Order::kBigEndian;
}

int64_t Utf16Source::Read(char* data, size_t size) {
  // A read may give a lone byte, or a high surrogate, and no text yet.
  while (textBegin_ == textEnd_ && !ended_) {
    const int64_t got = source_.Read(raw_.get(), kRawSize);
    if (got < 0)
      return -1;
    ended_ = got == 0;
    textBegin_ = 0;
    textEnd_ = DecodeUtf16(&decoder_, raw_.get(), static_cast<size_t>(got), ended_, text_.get());
  }
  const size_t length = std::min(size, textEnd_ - textBegin_);
  memcpy(data, text_.get() + textBegin_, length);
  textBegin_ += length;
  return static_cast<int64_t>(length);
}
