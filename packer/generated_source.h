// The sources that bake a launcher's constants: the C++ constants file and the
// assembler file that brings in the attached data. Pure code: text out.
#pragma once

#include <cstdint>
#include <string>

namespace quorin::packer {

struct BakedConstants {
  std::u16string spec;
  std::u16string company;
  std::u16string product;
  std::u16string version;
};

// The defaults every launcher gets unless the packer is told otherwise.
BakedConstants default_constants();

// command: the packer command line that produced the file, for its header.
std::string constants_source(const BakedConstants& constants, const std::string& command);

// .incbin of attached_file (a file name without quotes or backslashes), and its length.
std::string attached_data_source(const std::string& attached_file, std::uint64_t length);

}  // namespace quorin::packer
