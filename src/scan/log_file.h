// The build log as the driver opens it.
#ifndef KESTRANE_SCAN_LOG_FILE_H_
#define KESTRANE_SCAN_LOG_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

/// The bytes of a log as the scan reads them, from a file, a pipe, a device,
/// a decoding, or memory.
class ByteSource {
 public:
  /// Reads up to `size` bytes from where reading stands: how many; 0 at the
  /// end, -1 when reading failed.
  virtual int64_t Read(char* data, size_t size) = 0;
  /// Whether the log can be read again at any place (ReadAt), as a regular
  /// file can and a pipe cannot.
  virtual bool CanReadAgain() const { return false; }
  /// Reads `size` bytes from place `at` of the log (its first byte is 0),
  /// without moving where Read() stands; false when they are not all there
  /// or the log cannot be read again.
  virtual bool ReadAt(uint64_t /*at*/, char* /*data*/, size_t /*size*/) { return false; }

 protected:
  ~ByteSource() = default;
};

/// A log read straight from the system into the reader's own buffer, without
/// the C runtime's buffering in between. A regular file can be read again at
/// any place; other files cannot.
///
/// A regular file that shrinks while it is read, or is rewritten from its
/// start (by the build that makes it), has not been read whole, though its
/// reading ended without an error: that counts as a failed read, wherever it
/// can be seen. A file that only grows gives what was there when its end was
/// reached.
class LogFile final : public ByteSource {
 public:
  LogFile() = default;
  ~LogFile() { Close(); }
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  /// Opens `path` for reading; false when it is missing, unreadable or a
  /// folder, which is no log.
  bool Open(const std::string& path);
  void Close();
  bool is_open() const { return file_ != kNoFile; }

  /// Reading failed before the end, or the file shrank while it was read.
  bool failed() const { return failed_; }

  int64_t Read(char* data, size_t size) override;
  bool CanReadAgain() const override { return sizeAtOpen_ >= 0; }
  bool ReadAt(uint64_t at, char* data, size_t size) override;

 private:
  using NativeFile = intptr_t;  // a descriptor, or a Windows handle
  static constexpr NativeFile kNoFile = -1;

  // The platform's side (log_file_posix.cc, log_file_win32.cc).
  bool OpenFile(const std::string& path);
  /// Reads up to `size` bytes at `offset` of a regular file, or where the
  /// file stands (offset -1); -1 on failure, 0 at the end.
  int64_t ReadSome(int64_t offset, char* data, size_t size) const;
  /// The file's size now, or -1 where it has none (pipes, devices).
  int64_t CurrentSize() const;
  void CloseFile();
  void CheckSize();

  NativeFile file_ = kNoFile;
  int64_t sizeAtOpen_ = -1;  // -1: not a regular file
  uint64_t position_ = 0;
  bool failed_ = false;
  std::string first_;  // the file's first bytes, as they were read
};

#if !defined(_WIN32)
/// The descriptor that /dev/stdin, /dev/stdout, /dev/stderr, /dev/fd/N or
/// /proc/self/fd/N names, or -1. Such a name is used through the descriptor
/// itself: that works without /proc, and an output reopened would lose an
/// append mode (>> report) and begin a file anew.
int NamedDescriptor(std::string_view path);
#endif

#endif  // KESTRANE_SCAN_LOG_FILE_H_
