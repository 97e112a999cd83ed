// Linking a launcher: compiles the generated constants, assembles the attached
// data, converts the resources and links them with the launcher library using
// the mingw-w64 toolchain. Runs the toolchain's programs.
#pragma once

#include <filesystem>
#include <string>

#include "packer/generated_source.h"
#include "packer/result.h"

namespace quorin::packer {

struct LinkInputs {
  BakedConstants constants;
  std::string command;                   // for the generated file's header
  std::filesystem::path attached_data;   // the attached-data file, taken verbatim
  std::string resources;                 // the .res file's bytes
};

// Builds the exe at output inside work (a scratch folder the caller removes).
Result link_launcher(const LinkInputs& inputs, const std::filesystem::path& work,
                     const std::filesystem::path& output);

// Where the launcher library is: $QUORIN_LIB_DIR, else ../lib beside the packer.
std::filesystem::path launcher_library_dir();

}  // namespace quorin::packer
