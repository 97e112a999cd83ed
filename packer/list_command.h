// The list command: what a launcher exe or attached-data file holds. Reads
// the file.
#pragma once

#include "packer/options.h"

namespace quorin::packer {

// The entries (size, stored checksum, name) in archive order, the totals and
// the frame's parameters, as a table or (--json) as JSON. Exit 1 when the
// archive cannot be read to its end marker, after showing what it could.
int run_list(const ParsedArgs& parsed);

}  // namespace quorin::packer
