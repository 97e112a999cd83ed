// The generate command: the baked-constants source the launcher stub is
// built with. Writes one file.
#pragma once

#include <string>

#include "packer/options.h"

namespace quorin::packer {

// invocation is the whole command line, for the generated file's header.
// Returns the exit code.
int run_generate(const CommandSpec& command, const ParsedArgs& parsed, const std::string& invocation);

}  // namespace quorin::packer
