// list, verify and extract: reading a launcher exe or an attached-data file on
// the build machine the way the launcher reads it on the user's.
#pragma once

#include "packer/options.h"

namespace quorin::packer {

int run_list(const ParsedArgs& parsed);
int run_verify(const ParsedArgs& parsed);
int run_extract(const ParsedArgs& parsed);

}  // namespace quorin::packer
