// .ico files built byte by byte, for the icon reader's tests and fuzz seeds:
// the directory, then each image's data in order. Pure code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/common/archive_bytes.h"

namespace quorin::test_archive {

// One image of an .ico; side 0 stands for 256. offset and size, when not 0,
// replace what the directory would say of the image's data.
struct IcoImage {
  unsigned side = 0;
  std::string data;
  std::uint32_t offset = 0;
  std::uint32_t size = 0;
};

// count is the directory's image count, whatever the images given.
inline std::string ico_file(const std::vector<IcoImage>& images, std::size_t count) {
  std::string out;
  put_le(out, 0, 2);  // reserved
  put_le(out, 1, 2);  // type: icon
  put_le(out, count, 2);
  std::size_t at = 6 + 16 * images.size();
  for (const IcoImage& image : images) {
    out += {static_cast<char>(image.side), static_cast<char>(image.side), 0, 0};  // width, height, colours
    put_le(out, 1, 2);                                                             // planes
    put_le(out, 32, 2);                                                            // bits per pixel
    put_le(out, image.size != 0 ? image.size : image.data.size(), 4);
    put_le(out, image.offset != 0 ? image.offset : at, 4);
    at += image.data.size();
  }
  for (const IcoImage& image : images) out += image.data;
  return out;
}

// A DIB as an icon holds it: the header (its height counts the colour and
// the mask rows), then zero pixels, colours and mask, roughly sized.
inline std::string dib_image(std::uint32_t side, unsigned bits) {
  std::string out;
  put_le(out, 40, 4);
  put_le(out, side, 4);
  put_le(out, 2 * side, 4);
  put_le(out, 1, 2);
  put_le(out, bits, 2);
  return out + std::string(24 + side * side * bits / 8 + side * 4, '\0');
}

// The start of a PNG: its signature and the IHDR chunk with the sides.
inline std::string png_start(std::uint32_t side) {
  std::string out("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(side >> shift));
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(side >> shift));
  return out + std::string("\x08\x06\0\0\0", 5) + "and no pixels";
}

}  // namespace quorin::test_archive
