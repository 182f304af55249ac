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

}  // namespace

void ParseCommandLine(CommandLineOptions* options,
                      const std::vector<std::string>& arguments) {
  ReadOption(arguments, "--input", 8, &options->inputPath,
             &options->inputArgument);
  ReadOption(arguments, "--output", 9, &options->outputPath,
             &options->outputArgument);
  constexpr std::string_view kExplain = "--explain=";
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    options->strict = options->strict || argument == "--strict";
    options->allowBlanks = options->allowBlanks || argument == "--allow-blanks";
    if (options->explainArgument == kNoArgument &&
        argument.compare(0, kExplain.size(), kExplain) == 0) {
      options->explainPath = argument.substr(kExplain.size());
      options->explainArgument = i;
    }
  }
}
