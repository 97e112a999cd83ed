// The packer's command line: commands, options and their help. Pure code.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quorin::packer {

struct OptionSpec {
  const char* name;        // "--input"
  const char* value_name;  // "DIR", or nullptr for a flag
  const char* help;
};

struct CommandSpec {
  const char* name;
  const char* usage;       // after "quorin-pack "
  const char* summary;
  std::vector<OptionSpec> options;
  int positional_count;    // operands besides options (list/verify/extract FILE)
};

const std::vector<CommandSpec>& commands();
const CommandSpec* find_command(const std::string& name);

struct ParsedArgs {
  std::map<std::string, std::string> values;  // option name -> value ("" for flags)
  std::vector<std::string> positional;
  bool help = false;
};

// Parses args (after the command name); on a usage error returns the one-line
// message and leaves parsed partly filled.
std::optional<std::string> parse_args(const CommandSpec& command, const std::vector<std::string>& args,
                                      ParsedArgs& parsed);

std::string command_help(const CommandSpec& command);
std::string general_help();

}  // namespace quorin::packer
