// The build command: an application folder (or ready attached data) into a
// launcher exe. Touches the file system.
#pragma once

#include "packer/options.h"

namespace quorin::packer {

// Returns the exit code.
int run_build(const CommandSpec& command, const ParsedArgs& parsed);

}  // namespace quorin::packer
