// Reading the command line.
#ifndef KESTRANE_CLI_COMMAND_LINE_H_
#define KESTRANE_CLI_COMMAND_LINE_H_

#include <cstddef>
#include <string>
#include <vector>

/// Stands for "no argument" where an argument's place in the list is asked.
constexpr size_t kNoArgument = static_cast<size_t>(-1);

struct CommandLineOptions {
  std::string inputPath;   // the build log to read
  std::string outputPath;  // the list file to write
  // Where in the argument list each option was found, kNoArgument when no
  // argument names it: the whole argument has to reach the program intact
  // for its path to be the one that was typed (see typed_argument.h).
  size_t inputArgument = kNoArgument;
  size_t outputArgument = kNoArgument;
  // "--strict": only plain relative paths may be listed (scan/plain_path.h).
  bool strict = false;
  // "--allow-blanks": with "--strict", a blank may stand inside a name.
  bool allowBlanks = false;
  // "--explain=FILE": where the lines left out are told; the argument is
  // kNoArgument when none names it.
  std::string explainPath;
  size_t explainArgument = kNoArgument;
  // "--changes=FILE": where what changed since the list it replaces is told.
  std::string changesPath;
  size_t changesArgument = kNoArgument;
  // "--root=DIR", "--extension=EXT", "--exclude=DIR": the listed files are
  // checked against the source tree (source_tree.h) when any of them is
  // given. Each argument is kNoArgument when none names it.
  std::string rootPath;
  size_t rootArgument = kNoArgument;
  std::string extension = ".c";  // what the build puts after each entry
  size_t extensionArgument = kNoArgument;
  std::string excludePath;
  size_t excludeArgument = kNoArgument;
};

/// Fills `options` from `arguments`, the whole argument vector with the program
/// path first. Each option is taken from the first argument that contains its
/// name anywhere ("--input", "--output"); the path is the rest of that argument
/// after a fixed cut (8 and 9 characters), whatever stands before the cut. An
/// argument too short to hold a path leaves the path as it was, and later
/// arguments are not consulted. The option's argument is recorded even when it
/// yields no path. "--strict" and "--allow-blanks" count only as arguments of
/// their own; "--explain=", "--changes=", "--root=", "--extension=" and "--exclude=" only
/// at an argument's beginning, after the program path: the first argument
/// that begins with one gives its value, the rest of that argument.
/// Everything else is ignored.
void ParseCommandLine(CommandLineOptions* options,
                      const std::vector<std::string>& arguments);

#endif  // KESTRANE_CLI_COMMAND_LINE_H_
