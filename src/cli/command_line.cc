#include "cli/command_line.h"

#include <string_view>

namespace {

// Sets `*path` from the first argument that mentions `name`, and `*index`
// to that argument's place.
void ReadOption(const std::vector<std::string>& arguments,
                std::string_view name, size_t cut, std::string* path,
                size_t* index) {
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument.find(name) == std::string::npos)
      continue;
    if (argument.size() > cut)
      path->assign(argument, cut, std::string::npos);
    *index = i;
    return;
  }
}

// Sets `*value` from argument `i` if it begins with `prefix` and no earlier
// one did.
void ReadPrefixed(const std::string& argument, size_t i, std::string_view prefix,
                  std::string* value, size_t* index) {
  if (*index == kNoArgument && argument.compare(0, prefix.size(), prefix) == 0) {
    value->assign(argument, prefix.size(), std::string::npos);
    *index = i;
  }
}

}  // namespace

void ParseCommandLine(CommandLineOptions* options,
                      const std::vector<std::string>& arguments) {
  ReadOption(arguments, "--input", 8, &options->inputPath,
             &options->inputArgument);
  ReadOption(arguments, "--output", 9, &options->outputPath,
             &options->outputArgument);
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    options->strict = options->strict || argument == "--strict";
    options->allowBlanks = options->allowBlanks || argument == "--allow-blanks";
    ReadPrefixed(argument, i, "--explain=", &options->explainPath, &options->explainArgument);
    ReadPrefixed(argument, i, "--changes=", &options->changesPath, &options->changesArgument);
    ReadPrefixed(argument, i, "--root=", &options->rootPath, &options->rootArgument);
    ReadPrefixed(argument, i, "--extension=", &options->extension,
                 &options->extensionArgument);
    ReadPrefixed(argument, i, "--exclude=", &options->excludePath, &options->excludeArgument);
  }
}
