// The archive command: only the attached data of an application folder.
// Touches the file system.
#pragma once

#include "packer/options.h"

namespace quorin::packer {

// Returns the exit code.
int run_archive(const CommandSpec& command, const ParsedArgs& parsed);

}  // namespace quorin::packer
