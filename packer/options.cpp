// The packer's command line. Pure code.
#include "packer/options.h"

namespace quorin::packer {

namespace {

const OptionSpec kLevel{"--level", "N", "zstd compression level, 1 to 22 (default: 9)"};
const OptionSpec kThreads{"--threads", "N", "compression threads (default: every core)"};
const OptionSpec kQuiet{"--quiet", nullptr, "no progress display"};
const OptionSpec kInput{"--input", "DIR", "the application folder to pack"};
const OptionSpec kChild{"--child", "NAME", "the program in DIR to start, relative to DIR; packed first"};
const OptionSpec kHelp{"--help", nullptr, "show this help and exit"};

}  // namespace

const std::vector<CommandSpec>& commands() {
  static const std::vector<CommandSpec> kCommands = {
      {"build",
       "build (--input DIR --child NAME | --attached FILE) --output OUT.exe [OPTIONS]",
       "Pack an application folder (or ready attached data) into a launcher exe.",
       {kInput, kChild,
        {"--attached", "FILE", "use this attached-data file verbatim instead of packing a folder"},
        {"--output", "OUT.exe", "the launcher to write (replaced only when the build succeeds)"},
        {"--spec", "TEXT",
         "target directory spec (default: {CACHE_DIR}\\Brindlex\\PocketVariant\\{VERSION}\\20260923_175815)"},
        {"--company", "TEXT", "company name (default: Quadrel)"},
        {"--product", "TEXT", "product name (default: Brindlex Pocket Variant)"},
        {"--version", "X.Y.Z", "version, three numbers of 0 to 65535 (default: 3.1.95)"},
        {"--original-filename", "TEXT", "OriginalFilename text (default: Brindlex_POCKET_VARIANT_ONEFILE.exe)"},
        {"--internal-name", "TEXT", "InternalName text (default: Brindlex_POCKET_VARIANT_ONEFILE)"},
        {"--file-description", "TEXT", "FileDescription text (default: Brindlex_POCKET_VARIANT_ONEFILE.exe)"},
        {"--icon", "FILE.ico", "the launcher's icon (default: one the packer draws, 16 to 256 pixels)"},
        kLevel, kThreads, kQuiet, kHelp},
       0},
      {"archive",
       "archive --input DIR --child NAME --output FILE [OPTIONS]",
       "Write only the attached data (signature, zstd frame, trailing fields).",
       {kInput, kChild, {"--output", "FILE", "the attached-data file to write"}, kLevel, kThreads, kQuiet, kHelp},
       0},
      {"list",
       "list FILE [--json]",
       "List the entries of a launcher exe or attached-data file, with totals and frame parameters.",
       {{"--json", nullptr, "print the listing as JSON"}, kHelp},
       1},
      {"verify",
       "verify FILE",
       "Check a launcher exe or attached-data file the way the launcher reads it; exit 1 on any problem.",
       {kHelp},
       1},
      {"extract",
       "extract FILE --output DIR",
       "Unpack the archive of a launcher exe or attached-data file into DIR, as the launcher would.",
       {{"--output", "DIR", "the folder to unpack into (made when missing)"}, kHelp},
       1},
      {"generate",
       "generate --output FILE [--spec TEXT] [--company TEXT] [--product TEXT] [--version X.Y.Z]",
       "Write the baked-constants source a launcher is built with.",
       {{"--output", "FILE", "the C++ source to write"},
        {"--spec", "TEXT", "target directory spec"},
        {"--company", "TEXT", "company name"},
        {"--product", "TEXT", "product name"},
        {"--version", "X.Y.Z", "version"},
        kHelp},
       0},
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
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 2 || arg.compare(0, 2, "--") != 0 || arg == "--") {
      if (static_cast<int>(parsed.positional.size()) >= command.positional_count) {
        return "unexpected argument '" + arg + "'";
      }
      parsed.positional.push_back(arg);
      continue;
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
    if (parsed.values.count(name) != 0) return "option '" + name + "' given twice";
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
  if (static_cast<int>(parsed.positional.size()) < command.positional_count) {
    return std::string("missing FILE operand");
  }
  return std::nullopt;
}

std::string command_help(const CommandSpec& command) {
  std::string out = "Usage: quorin-pack " + std::string(command.usage) + "\n" + command.summary + "\n\nOptions:\n";
  for (const OptionSpec& option : command.options) {
    std::string left = "  " + std::string(option.name);
    if (option.value_name != nullptr) left += " " + std::string(option.value_name);
    if (left.size() < 26) {
      left.resize(26, ' ');
    } else {
      left += "\n" + std::string(26, ' ');
    }
    out += left + option.help + "\n";
  }
  return out;
}

std::string general_help() {
  std::string out =
      "Usage: quorin-pack COMMAND [OPTIONS]\n"
      "Build single-file Windows launchers: one exe that unpacks an application\n"
      "folder into a per-user cache and runs its program.\n\nCommands:\n";
  for (const CommandSpec& command : commands()) {
    std::string left = "  " + std::string(command.name);
    left.resize(12, ' ');
    out += left + command.summary + "\n";
  }
  out +=
      "\nOptions:\n"
      "  --help      show this help and exit\n"
      "  --version   show the packer's version and exit\n"
      "\nRun 'quorin-pack COMMAND --help' for a command's options.\n";
  return out;
}

}  // namespace quorin::packer
