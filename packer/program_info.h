// What the packer learns about the child program from its file: whether it
// is a Windows x64 program the launcher can start, the file version and
// texts of its version information, and its subsystem. Pure code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "packer/result.h"

namespace quorin::packer {

// Fails, saying what the file is instead, unless it is a PE32+ executable
// image for AMD64 (not a DLL, not 32-bit, not for another processor).
Result check_x64_program(const unsigned char* data, std::uint64_t size);

// The file version in the program's version information
// (VS_FIXEDFILEINFO), as "A.B.C.D"; nullopt when it carries none, or when
// its resources lie (in part) past the end of the file: a cut program's
// version is not read, and its build goes on with the default.
std::optional<std::string> program_file_version(const unsigned char* data, std::uint64_t size);

// A text of the version information's string table (StringFileInfo: the
// first table that has key, as "CompanyName"), blanks at either end taken
// off; nullopt when there is none or it is empty.
std::optional<std::u16string> program_version_text(const unsigned char* data, std::uint64_t size,
                                                   const std::u16string& key);

// The image's Subsystem field (2 Windows GUI, 3 console); 0 when the bytes
// are no PE32+ image whose headers can be read. Enough of the file to hold
// the headers will do.
std::uint16_t program_subsystem(const unsigned char* data, std::uint64_t size);

}  // namespace quorin::packer
