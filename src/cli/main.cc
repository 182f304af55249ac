// The process entry: one run from command line to list file.

#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/file_identity.h"
#include "cli/list_file.h"
#include "cli/source_tree.h"
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

int Fail(const std::string& sentence, int status) {
  std::cout << "Kestrane error: " << sentence << std::endl;
  return status;
}

// What is said when an output cannot be opened, or written.
struct Failures {
  const char* open;
  const char* write;
};
constexpr Failures kListFailures = {"Could not open output file",
                                    "Could not write output file"};
constexpr Failures kExplanationFailures = {"Could not open explanation file",
                                           "Could not write explanation file"};

// What became of an output: kSuccess where all went well, else the failure,
// told.
int Told(ListFile::Outcome outcome, const Failures& failures) {
  switch (outcome) {
    case ListFile::Outcome::kKept:
      return kSuccess;
    case ListFile::Outcome::kOpenFailed:
      return Fail(failures.open, kOutputFailed);
    case ListFile::Outcome::kWriteFailed:
      break;
  }
  return Fail(failures.write, kOutputFailed);
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
  // Bytes as they stand: line ends and Ctrl-Z are handled by the scan, the
  // same way on every platform.
  LogFile input;
  if (!ArgumentIsAsTyped(arguments, options.inputArgument) ||
      !input.Open(options.inputPath))
    return Fail("Could not open input file", kInputFailed);
  // The listed files are checked against the source tree when any of its
  // options is given, the current folder being the root unless one is named.
  // Its folders are resolved before anything is written.
  SourceTree tree;
  const bool checkTree = options.rootArgument != kNoArgument ||
                         options.extensionArgument != kNoArgument ||
                         options.excludeArgument != kNoArgument;
  if (checkTree &&
      !(ArgumentIsAsTyped(arguments, options.rootArgument) &&
        ArgumentIsAsTyped(arguments, options.extensionArgument) &&
        ArgumentIsAsTyped(arguments, options.excludeArgument) &&
        tree.Open(options.rootArgument != kNoArgument ? options.rootPath : ".",
                  options.extension, options.excludePath)))
    return Fail("Could not open source tree", kInputFailed);
  // The list goes into a temporary file while the log is read, or is kept in
  // memory until then; either way the log is closed before the list takes
  // its place, so both may name the same file. Whatever fails, the file that
  // was there stays as it was.
  const auto typed = [&arguments](size_t argument, const std::string& path) {
    return ArgumentIsAsTyped(arguments, argument) ? path : std::string();
  };
  ListFile output(typed(options.outputArgument, options.outputPath));
  SourceFileList sourceFiles;
  sourceFiles.sink = output.sink();
  ScanOptions scanOptions;
  scanOptions.strict = options.strict;
  scanOptions.allowBlanks = options.allowBlanks;
  scanOptions.check = checkTree ? &tree : nullptr;
  // The lines left out are told in a file of their own, written whole or
  // not at all, as the list is, and only where the list is.
  const bool explain = options.explainArgument != kNoArgument;
  std::optional<ListFile> explanation;
  LineText leftOut;
  if (explain) {
    explanation.emplace(typed(options.explainArgument, options.explainPath));
    leftOut.sink = explanation->sink();
    scanOptions.leftOut = &leftOut;
  }
  const ScanResult scan = ScanBuildLog(input, &sourceFiles, scanOptions);
  switch (scan.outcome) {
    case ScanResult::kComplete:
      break;
    case ScanResult::kReadFailed:
      return Fail("Could not read input file", kInputFailed);
    case ScanResult::kRefused:
      return Fail("Input file line " + std::to_string(scan.refusedLine) + ": " +
                      ShownText(scan.refusedEntry, scan.refusedLength) + " " +
                      scan.refusal,
                  kInputFailed);
  }

  // No output may be the log or another output: checked before anything is
  // written. (The list may be the log: it replaces it, as it always could.)
  if (explain) {
    const FileIdentity explained = explanation->Identity();
    if (IsSameFile(explained, IdentifyFile(options.inputPath)) ||
        IsSameFile(explained, output.Identity()))
      return Fail("Explanation file is the input or output file", kOutputFailed);
  }
  // Every output is made ready before any takes its place, and the list
  // goes last: a run that fails leaves the list as it was.
  int status = Told(output.Prepare(sourceFiles), kListFailures);
  if (status == kSuccess && explain)
    status = Told(explanation->Prepare(leftOut), kExplanationFailures);
  if (status == kSuccess && explain)
    status = Told(explanation->Commit(), kExplanationFailures);
  if (status == kSuccess)
    status = Told(output.Commit(), kListFailures);
  return status;
}
