// The extract command: the archive of a launcher exe or attached-data file
// unpacked into a folder, as the launcher would. Writes inside that folder.
#pragma once

#include "packer/options.h"

namespace quorin::packer {

// Unpacks into --output, skipping files already there with the entry's size
// and checksum. Each file is written under a temporary name beside it and
// takes its real name only when its data has the stored checksum, so a file
// on disk is never replaced by damaged data and no temporary stays behind.
// Entries with names the launcher must not use are left out. Exit 1 on any
// such entry or wrong checksum (reported), or on a failure.
int run_extract(const ParsedArgs& parsed);

}  // namespace quorin::packer
