#include "cli/command_line.h"

#include <string_view>

namespace {

// Sets `*path` from the first argument that mentions `name`.
void ReadOption(const std::vector<std::string>& arguments,
                std::string_view name, size_t cut, std::string* path) {
  for (const std::string& argument : arguments) {
    if (argument.find(name) == std::string::npos)
      continue;
    if (argument.size() > cut)
      path->assign(argument, cut, std::string::npos);
    return;
  }
}

}  // namespace

void ParseCommandLine(CommandLineOptions* options,
                      const std::vector<std::string>& arguments) {
  ReadOption(arguments, "--input", 8, &options->inputPath);
  ReadOption(arguments, "--output", 9, &options->outputPath);
}
