// A user's --icon: a readable .ico file whose images the launcher's icon
// group can carry. Reads the file.
#pragma once

#include <filesystem>
#include <vector>

#include "packer/icon.h"
#include "packer/result.h"

namespace quorin::packer {

// The images of the .ico file at path; a PNG image's own size must be the
// one the directory gives.
Result read_launcher_icon(const std::filesystem::path& path, std::vector<IconImage>& images);

}  // namespace quorin::packer
