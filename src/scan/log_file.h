// The build log as the driver opens it.
#ifndef KESTRANE_SCAN_LOG_FILE_H_
#define KESTRANE_SCAN_LOG_FILE_H_

#include <cstdint>
#include <streambuf>
#include <string>
#include <string_view>

/// A log read straight from the system into the reader's own buffer, without
/// the C runtime's buffering in between, as a stream buffer for the scan. A
/// regular file can be read again at any place (seekg); other files cannot.
///
/// A regular file that shrinks while it is read, or is rewritten from its
/// start (by the build that makes it), has not been read whole, though its
/// reading ended without an error: that counts as a failed read, wherever it
/// can be seen. A file that only grows gives what was there when its end was
/// reached.
class LogFile : public std::streambuf {
 public:
  LogFile() = default;
  ~LogFile() override { Close(); }
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  /// Opens `path` for reading; false when it is missing, unreadable or a
  /// folder, which is no log.
  bool Open(const std::string& path);
  void Close();
  bool is_open() const { return file_ != kNoFile; }
  /// The size of a regular file when it was opened; -1 for other files.
  int64_t size() const { return sizeAtOpen_; }

  /// Reading failed before the end, or the file shrank while it was read.
  bool failed() const { return failed_; }

 protected:
  std::streamsize xsgetn(char* data, std::streamsize size) override;
  int_type underflow() override;
  pos_type seekoff(off_type offset, std::ios_base::seekdir way,
                   std::ios_base::openmode which) override;
  pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

 private:
  using NativeFile = intptr_t;  // a descriptor, or a Windows handle
  static constexpr NativeFile kNoFile = -1;

  // The platform's side (log_file_posix.cc, log_file_win32.cc).
  bool OpenFile(const std::string& path);
  /// Reads up to `size` bytes at `offset` of a regular file, or where the
  /// stream stands (offset -1); -1 on failure, 0 at the end.
  int64_t ReadSome(int64_t offset, char* data, size_t size) const;
  /// The file's size now, or -1 where it has none (pipes, devices).
  int64_t CurrentSize() const;
  void CloseFile();
  void CheckSize();

  NativeFile file_ = kNoFile;
  int64_t sizeAtOpen_ = -1;  // -1: not a regular file
  uint64_t position_ = 0;
  bool failed_ = false;
  char held_[2] = {};  // underflow()'s byte, and the one before it
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
