// The packer's failure lines. Prints on stderr.
#include "packer/exit_status.h"

#include <cstdio>

#include "packer/progress.h"

namespace quorin::packer {

int report(const std::string& message) {
  end_progress_line();
  std::fprintf(stderr, "quorin-pack: %s\n", message.c_str());
  return kExitFailure;
}

int usage_error(const CommandSpec& command, const std::string& message) {
  std::fprintf(stderr, "quorin-pack %s: %s\nTry 'quorin-pack %s --help'.\n", command.name, message.c_str(),
               command.name);
  return kExitUsage;
}

}  // namespace quorin::packer
