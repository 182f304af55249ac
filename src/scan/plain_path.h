// The entries that --strict lets through: paths that every route from the
// list into a build (a shell, make, CMake, a compiler's command line) takes
// as one plain file name, inside the tree.
#ifndef KESTRANE_SCAN_PLAIN_PATH_H_
#define KESTRANE_SCAN_PLAIN_PATH_H_

#include <cstddef>
#include <string_view>

/// True when `entry` is a plain relative path: components separated by '/',
/// each made of the POSIX portable file-name characters (A-Z a-z 0-9 . _ -),
/// none empty, none "..", none starting with '-'. So no absolute path, drive
/// letter, UNC path, blank, quote, shell or make character, response file
/// ('@'), option, control byte or byte from 0x80 up passes. Linear, no
/// allocation.
bool IsPlainRelativePath(std::string_view entry);

/// The same check for an entry read in pieces.
class PlainPathCheck {
 public:
  /// The next piece of the entry; false once it cannot be plain.
  bool Take(std::string_view piece);
  /// The entry ended: whether it is plain.
  bool End() const { return ComponentIsPlain(); }

 private:
  bool ComponentIsPlain() const {
    return length_ > 0 && first_ != '-' &&
           !(length_ == 2 && first_ == '.' && second_ == '.');
  }

  size_t length_ = 0;  // of the component being read
  char first_ = 0;
  char second_ = 0;
};

#endif  // KESTRANE_SCAN_PLAIN_PATH_H_
