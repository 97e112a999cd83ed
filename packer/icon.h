// The launcher's icon: one the packer draws itself (ten 32-bpp images from 16
// to 256 pixels), or the images of a user's .ico file. Pure code apart from
// reading the file.
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

inline constexpr unsigned kDefaultIconSizes[] = {16, 20, 24, 32, 40, 48, 64, 96, 128, 256};
// The drawn icon's images from this size up are PNG files.
inline constexpr unsigned kPngIconFrom = 48;

std::vector<IconImage> draw_default_icon();

// Reads an .ico file; fails on anything the launcher's icon group cannot carry.
Result read_icon_file(const std::filesystem::path& path, std::vector<IconImage>& images);

// Parses .ico bytes (for read_icon_file and its tests).
Result parse_icon(const std::string& bytes, std::vector<IconImage>& images);

}  // namespace quorin::packer
