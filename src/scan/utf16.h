// Logs saved as UTF-16 (Windows PowerShell 5.1 writes them so for `>` and
// Out-File), read as their UTF-8 text so that they give the list of the same
// log saved as UTF-8.
#ifndef KESTRANE_SCAN_UTF16_H_
#define KESTRANE_SCAN_UTF16_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "scan/log_file.h"

enum class Utf16Order { kNone, kLittleEndian, kBigEndian };

/// The order of the UTF-16 byte-order mark (FF FE or FE FF) that the `size`
/// bytes at `data` begin with; kNone where they begin with none.
Utf16Order ByteOrderOf(const char* data, size_t size);

/// Where a decoding stands between two stretches of input.
struct Utf16Decoder {
  bool bigEndian = false;
  int pendingByte = -1;        // first byte of a code unit still incomplete
  uint16_t highSurrogate = 0;  // waiting for the low surrogate after it
};

/// Room the UTF-8 of `size` bytes of UTF-16 may need, with what a decoder
/// carries over from before.
constexpr size_t Utf8Room(size_t size) { return 3 * (size / 2 + 4); }

/// Decodes `size` bytes at `in` into UTF-8 at `out`, which has Utf8Room(size)
/// bytes; returns how many it wrote. A code unit or surrogate pair cut by the
/// end of `in` waits in `decoder` for the next call; with `end` the input ends
/// there, and what waits becomes U+FFFD. So does every lone surrogate.
size_t DecodeUtf16(Utf16Decoder* decoder, const char* in, size_t size,
                   bool end, char* out);

/// The UTF-8 text of the UTF-16 that `source` holds after its byte-order
/// mark, decoded a stretch at a time as it is read.
class Utf16Source final : public ByteSource {
 public:
  Utf16Source(ByteSource& source, Utf16Order order);
  int64_t Read(char* data, size_t size) override;

 private:
  static constexpr size_t kRawSize = size_t{64} << 10;

  ByteSource& source_;
  Utf16Decoder decoder_;
  std::unique_ptr<char[]> raw_;
  std::unique_ptr<char[]> text_;
  size_t textBegin_ = 0;  // decoded bytes not read yet
  size_t textEnd_ = 0;
  bool ended_ = false;
};

#endif  // KESTRANE_SCAN_UTF16_H_
