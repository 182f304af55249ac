// The process entry: one run from command line to list file.

#include <algorithm>
#include <deque>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/file_identity.h"
#include "cli/list_changes.h"
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
constexpr Failures kChangesFailures = {"Could not open changes file",
                                       "Could not write changes file"};

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

// Tells in `report` what changed since the list that `output` replaces:
// nothing where the list is the same byte for byte, which then stays as it
// was (true). False with `*failed` where memory ran out.
bool SameAsEarlier(const ListFile& output, const SourceFileList& list,
                   LineText* report, bool* failed) {
  std::string earlier;
  std::string told = "no earlier list\n";
  if (output.ReadEarlier(&earlier)) {
    if (IsListText(list, earlier))
      return true;
    std::deque<std::string> joined;
    told = ListChangesText(CompareLists(ListEntries(earlier), ListEntries(list, &joined)));
  }
  *failed = !report->AppendText(told.data(), told.size());
  return false;
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
  // With a report of what changed, the list is kept in memory to be
  // compared with the one it replaces.
  const bool report = options.changesArgument != kNoArgument;
  ListFile output(typed(options.outputArgument, options.outputPath), report);
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
  std::optional<ListFile> changes;
  if (report)
    changes.emplace(typed(options.changesArgument, options.changesPath));
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
  const FileIdentity log = IdentifyFile(options.inputPath);
  const FileIdentity list = output.Identity();
  const FileIdentity explained = explain ? explanation->Identity() : FileIdentity();
  if (IsSameFile(explained, log) || IsSameFile(explained, list))
    return Fail("Explanation file is the input or output file", kOutputFailed);
  const FileIdentity reported = report ? changes->Identity() : FileIdentity();
  if (IsSameFile(reported, log) || IsSameFile(reported, list) ||
      IsSameFile(reported, explained))
    return Fail("Changes file is the input or output file", kOutputFailed);

  LineText changed;
  bool failed = false;
  const bool same = report && SameAsEarlier(output, sourceFiles, &changed, &failed);
  if (failed)
    return Fail(kChangesFailures.write, kOutputFailed);
  // Every output is made ready before any takes its place, and the list
  // goes last: a run that fails leaves the list as it was. A list that is
  // the same as the one there is not written at all.
  struct Output {
    ListFile* file;
    const LineText* text;
    const Failures* failures;
  };
  std::vector<Output> outputs;
  if (!same)
    outputs.push_back({&output, &sourceFiles, &kListFailures});
  if (explain)
    outputs.push_back({&*explanation, &leftOut, &kExplanationFailures});
  if (report)
    outputs.push_back({&*changes, &changed, &kChangesFailures});
  for (const Output& o : outputs)
    if (const int status = Told(o.file->Prepare(*o.text), *o.failures))
      return status;
  if (!same)
    std::rotate(outputs.begin(), outputs.begin() + 1, outputs.end());
  for (const Output& o : outputs)
    if (const int status = Told(o.file->Commit(), *o.failures))
      return status;
  return kSuccess;
}
