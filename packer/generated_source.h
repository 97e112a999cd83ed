// The baked constants: their values, and the C++ source that gives the stub
// its defaults. Pure code: text out.
#pragma once

#include <cstdint>
#include <string>

namespace quorin::packer {

struct BakedConstants {
  std::u16string spec;
  std::u16string company;
  std::u16string product;
  std::u16string version;
  std::u16string build;  // the stamp {BUILD} stands for
  std::uint32_t keep_builds = 1;  // other builds of the product kept (kKeepEveryBuild: all)
  std::uint32_t progress_window = 1;  // 1: auto, 0: never
};

// The defaults every launcher gets unless the packer is told otherwise.
BakedConstants default_constants();

// The source that defines the stub's constants (generated/baked_constants.cpp);
// command: the packer command line that produced the file, for its header.
std::string constants_source(const BakedConstants& constants, const std::string& command);

}  // namespace quorin::packer
