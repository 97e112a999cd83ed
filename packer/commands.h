// The packer's commands, each given its parsed options. Touches the file system.
#pragma once

#include <string>

#include "packer/archive_writer.h"
#include "packer/options.h"

namespace quorin::packer {

inline constexpr const char* kPackerVersion = "0.1.0";
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;  // 128 + SIGINT, as shells report it

// A progress display on stderr when it is a terminal and --quiet is not given,
// else nullptr: "LABEL: done of total MiB (percent), rate, time left", one
// line rewritten in place, ended when done reaches total.
ProgressFn progress_display(const ParsedArgs& parsed, const char* label);

// Ends a progress line that an interrupt or a failure left unfinished.
void end_progress_line();

// Runs the command; returns the process exit code. invocation is the whole
// command line, for the header of generated files.
int run_command(const CommandSpec& command, const ParsedArgs& parsed, const std::string& invocation);

}  // namespace quorin::packer
