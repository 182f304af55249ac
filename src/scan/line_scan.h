// The scan of a stretch of whole lines: the hot loop of the program.
#ifndef KESTRANE_SCAN_LINE_SCAN_H_
#define KESTRANE_SCAN_LINE_SCAN_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

/// Bytes that must be readable after any text handed to ScanLines() and after
/// any entry's room, so that a line's first 128 bytes may be loaded at once.
constexpr size_t kScanPadding = 128;

/// Ctrl-Z: ends the log, as text-mode reading does on Windows.
constexpr char kEndOfText = '\x1a';

/// What ScanLines() found.
struct LineScan {
  uint64_t lines = 0;    // lines ended by a line feed
  uint64_t entries = 0;  // entries written
  size_t written = 0;    // bytes of entries, each with its line feed
  bool ended = false;    // a Ctrl-Z ended the log in the stretch
  // With `strict`: the first line whose entry is no plain relative path,
  // counted from 1 in the stretch, and that entry (in the output, after
  // `written`); 0 when there is none.
  uint64_t refusedLine = 0;
  std::string_view refusedEntry;
};

/// Scans `size` bytes of log text at `text`, which end with a line feed (a
/// last line without one is not examined), and writes the entry of every
/// compile line, with its line feed, to `out`, in order. `out` has room for
/// `size` bytes: an entry is shorter than its line. Both have kScanPadding
/// bytes of room after them. A Ctrl-Z ends the log: lines from the one that
/// holds it are not examined. With `strict`, scanning stops at the first
/// entry that is not a plain relative path.
LineScan ScanLines(const char* text, size_t size, bool strict, char* out);

/// Copies `length` bytes from `in` to `out` (which may be `in`), backslashes
/// turned into slashes, sixteen at a time; with `padded` the last sixteen may
/// run past the end.
void CopyWithSlashes(const char* in, size_t length, char* out, bool padded);

/// Turns the backslashes among the `size` bytes at `text` into slashes, as
/// CopyWithSlashes does in place; false when a CR, a line feed or a Ctrl-Z
/// is among them, which no entry holds.
bool SlashesInPlace(char* text, size_t size);

/// Writes the entry of the captured path `sourceFile` to `out`: everything
/// from its last dot cut off, backslashes turned into slashes, a line feed
/// after it. Returns the entry's length with its line feed. `out` may be the
/// path itself; with `padded`, 16 bytes after the path and after the entry
/// may be read and written, and are.
size_t WriteEntry(std::string_view sourceFile, char* out, bool padded);

#endif  // KESTRANE_SCAN_LINE_SCAN_H_
