// The packer's command line: commands, options and their help, and the usage
// rules every command shares. Pure code.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quorin::packer {

// The ranges of --level (zstd's levels) and --threads.
inline constexpr int kLowestLevel = 1;
inline constexpr int kHighestLevel = 22;
inline constexpr int kMostThreads = 256;

struct OptionSpec {
  const char* name;        // "--input"
  const char* value_name;  // "DIR", or nullptr for a flag
  const char* help;        // ends with "(default: ...)" or "(required)"
  char short_name = 0;     // 'o' for "-o", or 0
  bool repeatable = false; // may be given more than once, each value kept
};

struct ParsedArgs {
  std::map<std::string, std::string> values;  // option name -> value ("" for flags; the last one given)
  std::map<std::string, std::vector<std::string>> repeated;  // a repeatable option's values, in order
  std::vector<std::string> positional;
  bool help = false;
};

struct CommandSpec {
  const char* name;
  const char* usage;       // after "quorin-pack "
  const char* summary;
  std::vector<OptionSpec> options;
  const char* operand;     // "FILE" for list/verify/extract, nullptr for none
  std::vector<const char*> required;
  // Rules between options that a list of required ones cannot say; the
  // one-line message for the first one broken, or nullopt.
  std::optional<std::string> (*check)(const ParsedArgs& parsed) = nullptr;
};

// True when the option is on the command line.
bool given(const ParsedArgs& parsed, const char* name);

const std::vector<CommandSpec>& commands();
const CommandSpec* find_command(const std::string& name);

// Parses args (after the command name): options as "--name VALUE" or
// "--name=VALUE", short ones as "-o VALUE" or "-oVALUE" ("-T2") and bundled
// as getopt takes them ("-qo VALUE", "-qoVALUE"), "-1" to "-22" for
// "--level", "--" ends the options, "-h" is "--help". On a usage
// error returns the one-line message (with the nearest known option for an
// unknown one) and leaves parsed partly filled; with --help it stops at once
// and checks nothing more.
std::optional<std::string> parse_args(const CommandSpec& command, const std::vector<std::string>& args,
                                      ParsedArgs& parsed);

// The known name nearest to name (edit distance, two neighbours swapped
// counting as one edit; at most a third of its length away), or "".
std::string nearest_name(const std::string& name, const std::vector<std::string>& known);

std::string command_help(const CommandSpec& command);
std::string general_help();

}  // namespace quorin::packer
