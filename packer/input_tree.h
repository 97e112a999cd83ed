// The application folder as the archive will hold it: the child program first,
// then every other regular file in a stable order, with the names the launcher
// joins to its target directory. Reads the file system.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "packer/result.h"

namespace quorin::packer {

struct InputFile {
  std::filesystem::path source;
  std::u16string name;  // relative, backslash-separated
  std::uint64_t size = 0;
};

// Lists dir with child_name (relative to dir, '/' or '\' separated) first.
// Fails on a missing folder or child, a child that is not a regular file, an
// unreadable entry, or a name the launcher could not use.
Result collect_input(const std::filesystem::path& dir, const std::string& child_name,
                     std::vector<InputFile>& files);

// Why a relative name cannot be unpacked by the launcher, or "" when it can.
std::string check_entry_name(const std::u16string& name);

}  // namespace quorin::packer
