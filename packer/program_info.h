// What the packer learns about the child program from its file: whether it
// is a Windows x64 program the launcher can start, and the file version in
// its version information. Pure code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "packer/result.h"

namespace quorin::packer {

// Fails, saying what the file is instead, unless it is a PE32+ executable
// image for AMD64 (not a DLL, not 32-bit, not for another processor).
Result check_x64_program(const unsigned char* data, std::uint64_t size);

// The first three parts of the file version in the program's version
// information (VS_FIXEDFILEINFO), as "X.Y.Z"; nullopt when it carries none,
// or when its resources lie (in part) past the end of the file: a cut
// program's version is not read, and its build goes on with the default.
std::optional<std::string> program_file_version(const unsigned char* data, std::uint64_t size);

}  // namespace quorin::packer
