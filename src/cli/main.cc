// The process entry: one run from command line to list file.

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "cli/command_line.h"
#include "cli/list_file.h"
#include "cli/typed_argument.h"
#include "identity/banner.h"
#include "scan/scan.h"

namespace {

// Exit statuses.
constexpr int kSuccess = 0;
constexpr int kUsage = -1;
constexpr int kInputFailed = -2;
constexpr int kOutputFailed = -3;

void PrintLine(const char* text) { std::cout << text << std::endl; }

int Fail(const char* sentence, int status) {
  std::cout << "Kestrane error: " << sentence << std::endl;
  return status;
}

// Some platforms open a directory for reading and fail only on the first
// read; a directory is not a log, so it is refused as one that cannot open.
bool OpenInput(const std::string& path, std::ifstream* input) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error))
    return false;
  // Binary: line ends and Ctrl-Z are handled by the scan, the same way on
  // every platform.
  input->open(path, std::ios::in | std::ios::binary);
  return input->is_open();
}

}  // namespace

int main(int argc, char* argv[]) {
  // Before anything else. With an empty argument vector argv[0] is the null
  // pointer that ends it, and the banner takes that for a program without
  // readable version information: it prints nothing.
  ShowVersionBanner(argv[0]);

  if (argc < 2) {
    PrintLine("Kestrane error: Not enough command line arguments.");
    PrintLine("Usage: Kestrane.exe");
    PrintLine(" --input=INFILE");
    PrintLine(" --output=OUTFILE");
    return kUsage;
  }

  const std::vector<std::string> arguments(argv, argv + argc);
  CommandLineOptions options;
  ParseCommandLine(&options, arguments);

  // A path that did not reach the program as typed would name a look-alike:
  // the input is refused, and so is the output, once the log was read.
  std::ifstream input;
  if (!ArgumentIsAsTyped(arguments, options.inputArgument) ||
      !OpenInput(options.inputPath, &input))
    return Fail("Could not open input file", kInputFailed);
  // The list goes into a temporary file while the log is read, or is kept in
  // memory until then; either way the log is closed before the list takes
  // its place, so both may name the same file. Whatever fails, the file that
  // was there stays as it was.
  ListFile output(ArgumentIsAsTyped(arguments, options.outputArgument)
                      ? options.outputPath
                      : std::string());
  SourceFileList sourceFiles;
  sourceFiles.sink = output.sink();
  if (!ScanBuildLog(input, &sourceFiles))
    return Fail("Could not read input file", kInputFailed);

  switch (output.Keep(sourceFiles)) {
    case ListFile::Outcome::kKept:
      return kSuccess;
    case ListFile::Outcome::kOpenFailed:
      return Fail("Could not open output file", kOutputFailed);
    case ListFile::Outcome::kWriteFailed:
      break;
  }
  return Fail("Could not write output file", kOutputFailed);
}
