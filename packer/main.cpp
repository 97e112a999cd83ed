// quorin-pack: builds single-file launchers. Parses the command line and runs
// one command; errors are one line, "quorin-pack: <what failed>: <why>".
#include <cstdio>
#include <string>
#include <vector>

#include "packer/commands.h"
#include "packer/exit_status.h"
#include "packer/options.h"
#include "packer/platform.h"

using namespace quorin::packer;

int main(int argc, char** argv) {
  const std::vector<std::string> args = program_arguments(argc, argv);
  if (args.empty()) {
    std::fputs("quorin-pack: missing command\nTry 'quorin-pack --help'.\n", stderr);
    return kExitUsage;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    // "help COMMAND" is "COMMAND --help".
    const CommandSpec* about = args.size() > 1 ? find_command(args[1]) : nullptr;
    std::fputs(about != nullptr ? command_help(*about).c_str() : general_help().c_str(), stdout);
    return 0;
  }
  if (args[0] == "--version" || args[0] == "-V") {
    // The project's version, from the build (CMakeLists.txt).
    std::printf("quorin-pack %s\n", QUORIN_PACKER_VERSION);
    return 0;
  }
  const CommandSpec* command = find_command(args[0]);
  if (command == nullptr) {
    const bool option = args[0].size() > 1 && args[0][0] == '-';
    std::vector<std::string> known = {"--help", "--version"};
    if (!option) {
      known.clear();
      for (const CommandSpec& spec : commands()) known.push_back(spec.name);
    }
    const std::string nearest = nearest_name(args[0], known);
    std::fprintf(stderr, "quorin-pack: unknown %s '%s'%s\nTry 'quorin-pack --help'.\n", option ? "option" : "command",
                 args[0].c_str(), nearest.empty() ? "" : (" (did you mean '" + nearest + "'?)").c_str());
    return kExitUsage;
  }
  ParsedArgs parsed;
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (const auto error = parse_args(*command, rest, parsed)) return usage_error(*command, *error);
  if (parsed.help) {
    std::fputs(command_help(*command).c_str(), stdout);
    return 0;
  }
  if (!watch_for_interrupts()) return report("watching for interrupts: the system refused the handler");
  std::string invocation = "quorin-pack";
  for (const std::string& arg : args) invocation += " " + arg;
  return run_command(*command, parsed, invocation);
}
