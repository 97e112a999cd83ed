// The imports check over an application folder as build and archive pack it:
// each file that starts as a Windows program does is read and what it
// imports judged (import_check.h). Reads the input files.
#pragma once

#include <string>
#include <vector>

#include "packer/import_check.h"
#include "packer/input_tree.h"
#include "packer/options.h"
#include "packer/result.h"

namespace quorin::packer {

// The --allow-missing-dll names; a usage error for one that is no file name.
Result allowed_missing_dlls(const ParsedArgs& parsed, std::vector<std::string>& names);

// The findings over files (the child first), with a warning for each image
// whose tables cannot be read. A file that cannot be read now is left to
// the packing, which says why.
ImportFindings check_folder_imports(const std::vector<InputFile>& files, const std::vector<std::string>& allowed);

}  // namespace quorin::packer
