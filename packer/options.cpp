// The packer's command line. Pure code apart from printing a usage error.
#include "packer/options.h"

#include <cstdio>

#include "packer/commands.h"

namespace quorin::packer {

namespace {

const OptionSpec kLevel{"--level", "N", "zstd compression level, 1 to 22 (default: 9)"};
const OptionSpec kThreads{"--threads", "N", "compression threads, 1 to 256 (default: one per core)"};
const OptionSpec kQuiet{"--quiet", nullptr, "no progress display (default: progress on a terminal only)"};
const OptionSpec kInput{"--input", "DIR", "the application folder to pack (required)"};
const OptionSpec kChild{"--child", "NAME",
                        "the program to start, relative to DIR (as bin/app.exe or bin\\app.exe); packed first "
                        "(required)"};
const OptionSpec kHelp{"--help", nullptr, "show this help and exit"};
const OptionSpec kSpec{"--spec", "TEXT",
                       "target directory spec (default: {CACHE_DIR}\\Brindlex\\PocketVariant\\{VERSION}\\20260923_175815)"};
const OptionSpec kCompany{"--company", "TEXT", "company name (default: Quadrel)"};
const OptionSpec kProduct{"--product", "TEXT", "product name (default: Brindlex Pocket Variant)"};
const OptionSpec kVersion{"--version", "X.Y.Z", "version, three numbers of 0 to 65535 (default: 3.1.95)"};

constexpr std::size_t kOptionColumn = 26;
constexpr std::size_t kCommandColumn = 12;
constexpr std::size_t kLineWidth = 79;

// "left" then "text" from column "column", its words wrapped at kLineWidth
// and continued in that column; a left part too wide for the column (two
// blanks at least before the text) stands on a line of its own.
std::string with_hanging_indent(std::string left, std::size_t column, const std::string& text) {
  std::string out;
  if (!left.empty() && left.size() + 2 > column) {
    out = left + "\n";
    left.clear();
  }
  left.resize(column, ' ');
  std::string line = left;
  std::size_t at = 0;
  bool first_word = true;
  while (at < text.size()) {
    std::size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(at, end - at);
    if (!first_word && line.size() + 1 + word.size() > kLineWidth) {
      out += line + "\n";
      line = std::string(column, ' ');
      first_word = true;
    }
    if (!first_word) line += ' ';
    line += word;
    first_word = false;
    at = end + 1;
  }
  return out + line + "\n";
}

bool given(const ParsedArgs& parsed, const char* name) { return parsed.values.count(name) != 0; }

// build packs either a folder or ready attached data, never both.
std::optional<std::string> check_build(const ParsedArgs& parsed) {
  const bool from_attached = given(parsed, "--attached");
  if (from_attached) {
    if (given(parsed, "--input") || given(parsed, "--child")) {
      return std::string("give either --input DIR --child NAME, or --attached FILE, not both");
    }
    for (const char* option : {"--level", "--threads"}) {
      if (given(parsed, option)) return std::string(option) + " has no use with --attached";
    }
    return std::nullopt;
  }
  if (!given(parsed, "--input") && !given(parsed, "--child")) {
    return std::string("give either --input DIR --child NAME, or --attached FILE");
  }
  for (const char* option : {"--input", "--child"}) {
    if (!given(parsed, option)) return std::string("missing ") + option + " (--input and --child go together)";
  }
  return std::nullopt;
}

}  // namespace

const std::vector<CommandSpec>& commands() {
  static const std::vector<CommandSpec> kCommands = {
      {"build",
       "build --input DIR --child NAME --output OUT.exe [OPTIONS]\n"
       "  or:  quorin-pack build --attached FILE --output OUT.exe [OPTIONS]",
       "Pack an application folder (or ready attached data) into a launcher exe.",
       {{"--input", "DIR", "the application folder to pack (required unless --attached)"},
        {"--child", "NAME",
         "the program to start, relative to DIR (as bin/app.exe or bin\\app.exe); packed first (required with "
         "--input)"},
        {"--attached", "FILE",
         "use this attached-data file verbatim instead of packing a folder (required unless --input)"},
        {"--output", "OUT.exe", "the launcher to write, replaced only when the build succeeds (required)"},
        kSpec, kCompany, kProduct, kVersion,
        {"--original-filename", "TEXT", "OriginalFilename text (default: Brindlex_POCKET_VARIANT_ONEFILE.exe)"},
        {"--internal-name", "TEXT", "InternalName text (default: Brindlex_POCKET_VARIANT_ONEFILE)"},
        {"--file-description", "TEXT", "FileDescription text (default: Brindlex_POCKET_VARIANT_ONEFILE.exe)"},
        {"--icon", "FILE.ico",
         "the launcher's icon, 1 to 256 pixels a side (default: one the packer draws, 16 to 256 pixels)"},
        kLevel, kThreads, kQuiet, kHelp},
       nullptr,
       {"--output"},
       check_build},
      {"archive",
       "archive --input DIR --child NAME --output FILE [OPTIONS]",
       "Write only the attached data (signature, zstd frame, trailing fields).",
       {kInput, kChild, {"--output", "FILE", "the attached-data file to write (required)"}, kLevel, kThreads, kQuiet,
        kHelp},
       nullptr,
       {"--input", "--child", "--output"}},
      {"list",
       "list FILE [--json]",
       "List the entries of a launcher exe or attached-data file, with totals and frame parameters.",
       {{"--json", nullptr, "print the listing as JSON (default: a table)"}, kQuiet, kHelp},
       "FILE",
       {}},
      {"verify",
       "verify FILE",
       "Check a launcher exe or attached-data file the way the launcher reads it: one line per problem, exit 1 "
       "on any.",
       {kQuiet, kHelp},
       "FILE",
       {}},
      {"extract",
       "extract FILE --output DIR",
       "Unpack the archive of a launcher exe or attached-data file into DIR, as the launcher would.",
       {{"--output", "DIR", "the folder to unpack into, made when missing (required)"}, kQuiet, kHelp},
       "FILE",
       {"--output"}},
      {"generate",
       "generate --output FILE [OPTIONS]",
       "Write the baked-constants source a launcher is built with.",
       {{"--output", "FILE", "the C++ source to write (required)"}, kSpec, kCompany, kProduct, kVersion, kHelp},
       nullptr,
       {"--output"}},
  };
  return kCommands;
}

const CommandSpec* find_command(const std::string& name) {
  for (const CommandSpec& command : commands()) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

std::optional<std::string> parse_args(const CommandSpec& command, const std::vector<std::string>& args,
                                      ParsedArgs& parsed) {
  bool options_ended = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!options_ended && arg == "--") {
      options_ended = true;
      continue;
    }
    // "-" alone is an operand, as in other Unix tools.
    if (options_ended || arg.size() < 2 || arg[0] != '-') {
      if (command.operand == nullptr || !parsed.positional.empty()) return "unexpected argument '" + arg + "'";
      parsed.positional.push_back(arg);
      continue;
    }
    if (arg == "-h") {
      parsed.help = true;
      return std::nullopt;
    }
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const OptionSpec* option = nullptr;
    for (const OptionSpec& candidate : command.options) {
      if (name == candidate.name) option = &candidate;
    }
    if (option == nullptr) return "unknown option '" + name + "'";
    if (name == "--help") {
      parsed.help = true;
      return std::nullopt;
    }
    if (given(parsed, name.c_str())) return "option '" + name + "' given twice";
    if (option->value_name == nullptr) {
      if (equals != std::string::npos) return "option '" + name + "' takes no value";
      parsed.values[name] = "";
    } else if (equals != std::string::npos) {
      parsed.values[name] = arg.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      parsed.values[name] = args[++i];
    } else {
      return "option '" + name + "' needs a value (" + option->value_name + ")";
    }
  }
  if (command.operand != nullptr && parsed.positional.empty()) {
    return std::string("missing ") + command.operand + " operand";
  }
  for (const char* name : command.required) {
    if (!given(parsed, name)) return std::string("missing ") + name;
  }
  if (command.check != nullptr) return command.check(parsed);
  return std::nullopt;
}

std::string command_help(const CommandSpec& command) {
  std::string out = "Usage: quorin-pack " + std::string(command.usage) + "\n" +
                    with_hanging_indent("", 0, command.summary) + "\nOptions:\n";
  for (const OptionSpec& option : command.options) {
    std::string left = "  " + std::string(option.name);
    if (option.value_name != nullptr) left += " " + std::string(option.value_name);
    out += with_hanging_indent(left, kOptionColumn, option.help);
  }
  out += "\nExit status: 0 on success, 1 on failure, 2 on a usage error.\n";
  return out;
}

std::string general_help() {
  std::string out =
      "Usage: quorin-pack COMMAND [OPTIONS]\n"
      "Build single-file Windows launchers: one exe that unpacks an application\n"
      "folder into a per-user cache and runs its program.\n\nCommands:\n";
  for (const CommandSpec& command : commands()) {
    std::string summary = command.summary;
    for (char& c : summary) c = c == '\n' ? ' ' : c;
    out += with_hanging_indent("  " + std::string(command.name), kCommandColumn, summary);
  }
  out +=
      "\nOptions:\n"
      "  --help      show this help and exit\n"
      "  --version   show the packer's version and exit\n"
      "\nRun 'quorin-pack COMMAND --help' for a command's options.\n"
      "Exit status: 0 on success, 1 on failure, 2 on a usage error.\n";
  return out;
}

int usage_error(const CommandSpec& command, const std::string& message) {
  std::fprintf(stderr, "quorin-pack %s: %s\nTry 'quorin-pack %s --help'.\n", command.name, message.c_str(),
               command.name);
  return kExitUsage;
}

}  // namespace quorin::packer
