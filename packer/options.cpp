// The packer's command line. Pure code.
#include "packer/options.h"

#include <algorithm>

#include "packer/archive_writer.h"
#include "packer/build_defaults.h"
#include "packer/generated_source.h"
#include "packer/utf16.h"

namespace quorin::packer {

namespace {

const std::string kLevelHelp = "zstd compression level, " + std::to_string(kLowestLevel) + " to " +
                               std::to_string(kHighestLevel) + ", also as -" + std::to_string(kLowestLevel) + " to -" +
                               std::to_string(kHighestLevel) +
                               " (default: " + std::to_string(CompressOptions{}.level) + ")";
const OptionSpec kLevel{"--level", "N", kLevelHelp.c_str()};
const std::string kThreadsHelp = "compression threads, 1 to " + std::to_string(kMostThreads) + " (default: one per core)";
const OptionSpec kThreads{"--threads", "N", kThreadsHelp.c_str(), 'T'};
const OptionSpec kQuiet{"--quiet", nullptr, "no progress display and no summary (default: progress on a terminal only)",
                        'q'};
const OptionSpec kInput{"--input", "DIR", "the application folder to pack (required)"};
const OptionSpec kChild{"--child", "NAME",
                        "the program to start, relative to DIR (as bin/app.exe or bin\\app.exe); packed first "
                        "(required)"};
const OptionSpec kAllowMissingDll{
    "--allow-missing-dll", "NAME",
    "let the DLL NAME that packed programs import be missing from the input folder, as the user's machines have "
    "it; once per DLL (default: an imported DLL that is neither packed nor part of Windows is refused)",
    0, true};
const OptionSpec kHelp{"--help", nullptr, "show this help and exit", 'h'};
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

}  // namespace

bool given(const ParsedArgs& parsed, const char* name) { return parsed.values.count(name) != 0; }

namespace {

// build packs either a folder or ready attached data, never both.
std::optional<std::string> check_build(const ParsedArgs& parsed) {
  const bool from_attached = given(parsed, "--attached");
  if (from_attached) {
    if (given(parsed, "--input") || given(parsed, "--child")) {
      return std::string("give either --input DIR --child NAME, or --attached FILE, not both");
    }
    for (const char* option : {"--level", "--threads", "--allow-missing-dll"}) {
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

// "TEXT (default: VALUE)", with VALUE one of the stub's own constants.
std::string with_default(const char* text, const std::u16string& value) {
  return std::string(text) + " (default: " + utf16_to_utf8(value) + ")";
}

}  // namespace

// The table of every command and option that the parser, the help and (by
// the help) the man page and the completion test read: one long table, as
// data, rather than split across functions.
const std::vector<CommandSpec>& commands() {
  // The texts that hold a default are made from the one place it is kept.
  static const std::string kBuildSpecHelp =
      std::string("where the launcher unpacks, with placeholders such as {CACHE_DIR}; {BUILD} is the stamp of the "
                  "build: 12 hex digits of the archive's content, or YYYYMMDD_HHMMSS from SOURCE_DATE_EPOCH when it "
                  "is set (default: ") +
      kDefaultSpec + ")";
  static const std::string kBuildVersionHelp =
      "version, one to four numbers of 0 to 65535 (default: the child's own file version, else " +
      utf16_to_utf8(kDefaultVersion) + ")";
  // The stub's own constants, which generate writes.
  const BakedConstants stub = default_constants();
  static const std::string kStubSpecHelp = with_default("target directory spec", stub.spec);
  static const std::string kStubCompanyHelp = with_default("company name", stub.company);
  static const std::string kStubProductHelp = with_default("product name", stub.product);
  static const std::string kStubVersionHelp = with_default("version, one to four numbers of 0 to 65535", stub.version);
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
        {"--output", "OUT.exe", "the launcher to write, replaced only when the build succeeds (required)", 'o'},
        {"--spec", "TEXT", kBuildSpecHelp.c_str()},
        {"--company", "TEXT", "company name (default: the child's CompanyName, else the product)"},
        {"--product", "TEXT",
         "product name (default: the child's ProductName, else its file name without its extension)"},
        {"--version", "A.B.C.D", kBuildVersionHelp.c_str()},
        {"--subsystem", "console|windows",
         "the launcher's subsystem: console (a console opens or is shared) or windows (no console) (default: the "
         "child's)"},
        {"--keep-builds", "N|all",
         "with {BUILD} in the spec's last folder, how many other builds of the product a start keeps beside its "
         "own, the newest; older ones not in use are removed (default: 1; all keeps every build)"},
        {"--progress-window", "auto|never",
         "auto: a launcher of a windowed program shows a progress window while its first start still writes "
         "after 0.5 s; never: no window (default: auto)"},
        {"--original-filename", "TEXT", "OriginalFilename text (default: the file name of OUT.exe)"},
        {"--internal-name", "TEXT", "InternalName text (default: the file name of OUT.exe without its extension)"},
        {"--file-description", "TEXT", "FileDescription text (default: the file name of OUT.exe)"},
        {"--icon", "FILE.ico",
         "the launcher's icon, 1 to 256 pixels a side (default: the packer's own, 16 to 256 pixels)"},
        kAllowMissingDll, kLevel, kThreads, kQuiet,
        {"--json", nullptr,
         "print what was built as JSON on stdout, instead of the summary line (default: one summary line on stderr)"},
        kHelp},
       nullptr,
       {"--output"},
       check_build},
      {"archive",
       "archive --input DIR --child NAME --output FILE [OPTIONS]",
       "Write only the attached data (signature, zstd frame, trailing fields).",
       {kInput, kChild, {"--output", "FILE", "the attached-data file to write (required)", 'o'}, kAllowMissingDll,
        kLevel, kThreads, kQuiet, kHelp},
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
       {{"--json", nullptr, "print the problems as JSON (default: one line each)"}, kQuiet, kHelp},
       "FILE",
       {}},
      {"extract",
       "extract FILE --output DIR",
       "Unpack the archive of a launcher exe or attached-data file into DIR, as the launcher would.",
       {{"--output", "DIR", "the folder to unpack into, made when missing (required)", 'o'}, kQuiet, kHelp},
       "FILE",
       {"--output"}},
      {"generate",
       "generate --output FILE [OPTIONS]",
       "Write the baked-constants source a launcher is built with.",
       {{"--output", "FILE", "the C++ source to write (required)", 'o'}, {"--spec", "TEXT", kStubSpecHelp.c_str()},
        {"--company", "TEXT", kStubCompanyHelp.c_str()}, {"--product", "TEXT", kStubProductHelp.c_str()},
        {"--version", "A.B.C.D", kStubVersionHelp.c_str()}, kHelp},
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

std::string nearest_name(const std::string& name, const std::vector<std::string>& known) {
  std::string best;
  std::size_t best_distance = name.size() / 3 + 1;
  for (const std::string& candidate : known) {
    // Edit distance with two neighbours swapped as one edit ("biuld" is one
    // from "build"), one row at a time: before = row i - 2, above = row i - 1.
    std::vector<std::size_t> before(candidate.size() + 1), above(candidate.size() + 1), row(candidate.size() + 1);
    for (std::size_t j = 0; j <= candidate.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= name.size(); ++i) {
      before.swap(above);
      above.swap(row);
      row[0] = i;
      for (std::size_t j = 1; j <= candidate.size(); ++j) {
        row[j] = std::min({above[j] + 1, row[j - 1] + 1, above[j - 1] + (name[i - 1] == candidate[j - 1] ? 0 : 1)});
        if (i > 1 && j > 1 && name[i - 1] == candidate[j - 2] && name[i - 2] == candidate[j - 1]) {
          row[j] = std::min(row[j], before[j - 2] + 1);
        }
      }
    }
    if (row.back() < best_distance) {
      best_distance = row.back();
      best = candidate;
    }
  }
  return best;
}

namespace {

std::string unknown_option(const CommandSpec& command, const std::string& name) {
  std::vector<std::string> known;
  for (const OptionSpec& option : command.options) known.push_back(option.name);
  const std::string nearest = name.rfind("--", 0) == 0 ? nearest_name(name, known) : "";
  return "unknown option '" + name + "'" + (nearest.empty() ? "" : " (did you mean '" + nearest + "'?)");
}

// An unknown letter: the same letter in the other case ("-O" for "-o"), else
// the one long option that starts with it ("-j" for "--json"), else none.
std::string unknown_letter(const CommandSpec& command, char letter) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  std::string nearest;
  int starting = 0;
  for (const OptionSpec& option : command.options) {
    if (option.short_name != 0 && lower(option.short_name) == lower(letter)) {
      return "unknown option '-" + std::string(1, letter) + "' (did you mean '-" + option.short_name + "'?)";
    }
    if (option.name[2] == letter) {
      nearest = option.name;
      ++starting;
    }
  }
  return "unknown option '-" + std::string(1, letter) + "'" +
         (starting == 1 ? " (did you mean '" + nearest + "'?)" : "");
}

// "-1" .. "-22": the level, as zstd takes it.
bool is_level_option(const std::string& arg) {
  if (arg.size() < 2 || arg.size() > 3 || arg.find_first_not_of("0123456789", 1) != std::string::npos) return false;
  const int level = std::stoi(arg.substr(1));
  return level >= kLowestLevel && level <= kHighestLevel;
}

// One option met on the command line, with a value given in the same
// argument.
struct Met {
  const OptionSpec* option;
  std::optional<std::string> attached;
};

// The options arg names: a long one ("--name", "--name=VALUE"), a level
// ("-19"), or a bundle of short ones as getopt reads it: flags, the last of
// which may take a value from the rest of the argument or the next one
// ("-q", "-qo FILE", "-qoFILE", "-T2"). The usage error, or nullopt.
std::optional<std::string> match_options(const CommandSpec& command, const std::string& arg, std::vector<Met>& met) {
  if (arg[1] >= '0' && arg[1] <= '9') {
    for (const OptionSpec& candidate : command.options) {
      if (is_level_option(arg) && std::string(candidate.name) == "--level") {
        met.push_back({&candidate, arg.substr(1)});
        return std::nullopt;
      }
    }
    return unknown_option(command, arg);
  }
  if (arg[1] != '-') {
    for (std::size_t at = 1; at < arg.size(); ++at) {
      const OptionSpec* option = nullptr;
      for (const OptionSpec& candidate : command.options) {
        if (candidate.short_name != 0 && candidate.short_name == arg[at]) option = &candidate;
      }
      if (option == nullptr) return unknown_letter(command, arg[at]);
      met.push_back({option, std::nullopt});
      if (option->value_name != nullptr) {
        if (at + 1 < arg.size()) met.back().attached = arg.substr(at + 1);
        break;
      }
    }
    return std::nullopt;
  }
  const std::size_t equals = arg.find('=');
  const std::string name = arg.substr(0, equals);
  const OptionSpec* option = nullptr;
  for (const OptionSpec& candidate : command.options) {
    if (name == candidate.name) option = &candidate;
  }
  if (option == nullptr) return unknown_option(command, name);
  met.push_back({option, std::nullopt});
  if (equals != std::string::npos) {
    if (option->value_name == nullptr) return "option '" + name + "' takes no value";
    met.back().attached = arg.substr(equals + 1);
  }
  return std::nullopt;
}

}  // namespace

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
    std::vector<Met> met;
    if (auto error = match_options(command, arg, met)) return error;
    for (const auto& [option, attached] : met) {
      const std::string name = option->name;
      if (name == "--help") {
        parsed.help = true;
        return std::nullopt;
      }
      if (given(parsed, name.c_str()) && !option->repeatable) return "option '" + name + "' given twice";
      if (option->value_name == nullptr) {
        parsed.values[name] = "";
      } else if (attached) {
        parsed.values[name] = *attached;
      } else if (i + 1 < args.size()) {
        parsed.values[name] = args[++i];
      } else {
        return "option '" + name + "' needs a value (" + option->value_name + ")";
      }
      if (option->repeatable) parsed.repeated[name].push_back(parsed.values[name]);
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
    std::string left = option.short_name != 0 ? std::string("  -") + option.short_name + ", " : std::string("      ");
    left += option.name;
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
      "  -h, --help      show this help and exit\n"
      "  -V, --version   show the packer's version and exit\n"
      "\nRun 'quorin-pack COMMAND --help' for a command's options.\n"
      "Exit status: 0 on success, 1 on failure, 2 on a usage error.\n";
  return out;
}


}  // namespace quorin::packer
