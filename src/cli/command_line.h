// Reading the command line.
#ifndef KESTRANE_CLI_COMMAND_LINE_H_
#define KESTRANE_CLI_COMMAND_LINE_H_

#include <string>
#include <vector>

struct CommandLineOptions {
  std::string inputPath;   // the build log to read
  std::string outputPath;  // the list file to write
};

/// Fills `options` from `arguments`, the whole argument vector with the program
/// path first. Each option is taken from the first argument that contains its
/// name anywhere ("--input", "--output"); the path is the rest of that argument
/// after a fixed cut (8 and 9 characters), whatever stands before the cut. An
/// argument too short to hold a path leaves the path as it was, and later
/// arguments are not consulted. Everything else is ignored.
void ParseCommandLine(CommandLineOptions* options,
                      const std::vector<std::string>& arguments);

#endif  // KESTRANE_CLI_COMMAND_LINE_H_
