// The packer's commands, one file each; this runs the one asked for. Touches
// the file system.
#pragma once

#include <string>

#include "packer/options.h"

namespace quorin::packer {

// Runs the command; returns the process exit code. invocation is the whole
// command line, for the header of generated files.
int run_command(const CommandSpec& command, const ParsedArgs& parsed, const std::string& invocation);

}  // namespace quorin::packer
