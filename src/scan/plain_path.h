// The entries that --strict lets through: paths that every route from the
// list into a build (a shell, make, CMake, a compiler's command line, a
// Windows console) takes as one plain file name, inside the tree.
#ifndef KESTRANE_SCAN_PLAIN_PATH_H_
#define KESTRANE_SCAN_PLAIN_PATH_H_

#include <cstddef>
#include <string_view>

/// The longest entry, and the longest component of one, that is plain: what
/// file systems and build tools take (GNU make crashes on names of some
/// megabytes, CMake needs a dozen times an entry's size in memory).
constexpr size_t kLongestPlainPath = 4096;
constexpr size_t kLongestPlainComponent = 255;

/// True when `entry` is a plain relative path: components separated by '/',
/// each made of the POSIX portable file-name characters (A-Z a-z 0-9 . _ -),
/// none empty, none "..", none starting with '-', none a Windows device name
/// (CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9, in any letter case, with or
/// without an extension), none longer than kLongestPlainComponent, the whole
/// no longer than kLongestPlainPath. So no absolute path, drive letter, UNC
/// path, blank, quote, shell or make character, response file ('@'), option,
/// control byte or byte from 0x80 up passes. With `allowBlanks`, a blank
/// (0x20) may stand inside a component, between two other characters.
/// Linear, no allocation.
bool IsPlainRelativePath(std::string_view entry, bool allowBlanks = false);


#endif  // KESTRANE_SCAN_PLAIN_PATH_H_
