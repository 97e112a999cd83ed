// How the packer's commands end: the exit codes, the one-line failure
// "quorin-pack: <what failed>: <why>" and the usage error that points to the
// command's help. Prints on stderr.
#pragma once

#include <string>

#include "packer/options.h"

namespace quorin::packer {

inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;  // 128 + SIGINT, as shells report it

// "quorin-pack: MESSAGE" on stderr after ending a progress line; returns 1.
int report(const std::string& message);

// "quorin-pack COMMAND: MESSAGE" and the pointer to the command's help on
// stderr; returns 2.
int usage_error(const CommandSpec& command, const std::string& message);

}  // namespace quorin::packer
