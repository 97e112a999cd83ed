// The file that list, verify and extract read: a launcher exe or an
// attached-data file, mapped, with its attached data found. Reads the file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "packer/attached_reader.h"
#include "packer/platform.h"
#include "packer/result.h"

namespace quorin::packer {

struct InspectedFile {
  std::string label;  // the file's name for messages
  MappedFile file;
  AttachedLocation where;
  const unsigned char* attached = nullptr;
};

// Maps path and finds its attached data; a failure names the file.
Result open_inspected(const std::filesystem::path& path, InspectedFile& inspected);

}  // namespace quorin::packer
