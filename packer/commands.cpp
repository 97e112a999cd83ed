// The packer's commands by name. Touches the file system through them.
#include "packer/commands.h"

#include "packer/archive_command.h"
#include "packer/build_command.h"
#include "packer/exit_status.h"
#include "packer/extract_command.h"
#include "packer/generate_command.h"
#include "packer/list_command.h"
#include "packer/verify_command.h"

namespace quorin::packer {

int run_command(const CommandSpec& command, const ParsedArgs& parsed, const std::string& invocation) {
  const std::string name = command.name;
  if (name == "build") return run_build(command, parsed);
  if (name == "archive") return run_archive(command, parsed);
  if (name == "generate") return run_generate(command, parsed, invocation);
  if (name == "list") return run_list(parsed);
  if (name == "verify") return run_verify(parsed);
  if (name == "extract") return run_extract(parsed);
  return report("unknown command '" + name + "'");
}

}  // namespace quorin::packer
