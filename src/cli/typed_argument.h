// Whether an argument reached the program as it was typed.
#ifndef KESTRANE_CLI_TYPED_ARGUMENT_H_
#define KESTRANE_CLI_TYPED_ARGUMENT_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.h"

/// Whether entry `index` of `arguments`, the argument vector with the program
/// path first, holds exactly what was typed, so that a path cut from it names
/// the file that was meant. Windows hands a program its 8-bit arguments in the
/// process code page and puts a look-alike ("best fit": "ł" becomes "l") or a
/// "?" where that code page has no character; UTF-8 loses nothing, and neither
/// do the other platforms, whose arguments are bytes. kNoArgument, no
/// argument at all, counts as typed. One file per platform.
bool ArgumentIsAsTyped(const std::vector<std::string>& arguments, size_t index);

/// Splits a Windows command line into its arguments the way msvcrt splits it
/// into main()'s 8-bit argument vector, so that the two line up entry for
/// entry: the program path runs up to the next quote when it begins with one,
/// else up to white space; after it, white space outside quotes separates,
/// quotes group and are dropped, 2n backslashes before a quote become n and
/// 2n+1 become n and a literal quote, and two quotes inside quotes give one
/// literal quote and end the quoted part. Other backslashes stay as they are.
std::vector<std::wstring> SplitCommandLine(std::wstring_view commandLine);

#endif  // KESTRANE_CLI_TYPED_ARGUMENT_H_
