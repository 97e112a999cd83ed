// What build and archive pack: the --input folder with its child checked to
// be a program the launcher can start, or (build) a ready attached-data file
// copied verbatim. Reads the input files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "packer/input_tree.h"
#include "packer/options.h"
#include "packer/result.h"

namespace quorin::packer {

// The files of --input with --child first, the child a Windows x64 program.
Result collect_program_folder(const ParsedArgs& parsed, std::vector<InputFile>& files);

// Copies a ready attached-data file to out, verbatim; length gets its size.
Result copy_attached(const std::filesystem::path& path, std::FILE* out, std::uint64_t& length);

}  // namespace quorin::packer
