// The verify command: a launcher exe or attached-data file checked the way
// the launcher reads it. Reads the file.
#pragma once

#include "packer/options.h"

namespace quorin::packer {

// One line on stdout per problem, then a count; "FILE: ok" and exit 0 when
// there is none, exit 1 otherwise.
int run_verify(const ParsedArgs& parsed);

}  // namespace quorin::packer
