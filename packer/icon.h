// The launcher's icon: the packer's own (packer/default_icon.ico, which the
// packer carries inside itself) or the images of a user's .ico file, both
// read by one parser. Pure code apart from reading the user's file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "packer/result.h"

namespace quorin::packer {

struct IconImage {
  unsigned width = 0;   // 1..256
  unsigned height = 0;  // 1..256
  unsigned bit_count = 0;
  unsigned planes = 1;
  std::string data;     // a DIB (header, colours, mask) or a PNG, as in an .ico file
};

// The packer's own icon: ten 32-bpp images of 16 to 256 pixels, bitmaps
// below 48 pixels and PNG files from 48 up. Fails only on a packer built
// with a damaged icon file.
Result default_icon(std::vector<IconImage>& images);

// Reads an .ico file; fails on anything the launcher's icon group cannot carry.
Result read_icon_file(const std::filesystem::path& path, std::vector<IconImage>& images);

// Parses .ico bytes: a user's file (read_icon_file) and the packer's own.
Result parse_icon(const std::string& bytes, std::vector<IconImage>& images);

}  // namespace quorin::packer
