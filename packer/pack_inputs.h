// What build and archive pack: the --input folder with its child checked to
// be a program the launcher can start, or (build) a ready attached-data file
// copied verbatim. Reads the input files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "packer/input_tree.h"
#include "packer/options.h"
#include "packer/result.h"

namespace quorin::packer {

// The files of --input with --child first, the child a Windows x64 program.
// When --output lies inside --input, the file at --output and the partial
// files of runs that write it are not packed, as the folder will hold this
// run's output in their place: warning then names those left out ("" when
// none were). An --output that is the child itself is refused: writing it
// would replace the program being packed.
Result collect_program_folder(const ParsedArgs& parsed, std::vector<InputFile>& files, std::string& warning);

// Copies a ready attached-data file to out, verbatim; length gets its size.
Result copy_attached(const std::filesystem::path& path, std::FILE* out, std::uint64_t& length);

}  // namespace quorin::packer
