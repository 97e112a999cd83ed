// The launcher's icon. Pure code apart from reading the .ico file.
#include "packer/icon.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>

#include "packer/little_endian.h"
#include "packer/platform.h"
#include "packer/png.h"

namespace quorin::packer {

namespace {

float clamp01(float v) { return std::min(1.0f, std::max(0.0f, v)); }

// Only IEEE-exact operations (sqrt, +, *), so every machine draws the same bytes.
float length(float x, float y) { return std::sqrt(x * x + y * y); }

// Coverage of a point by a rounded square and by a ring (the letter's body)
// with a tail, in units of the image's size; smoothed over one pixel.
void shade(float x, float y, float pixel, float rgba[4]) {
  const float half = 0.46f, radius = 0.16f;
  const float qx = std::fabs(x - 0.5f) - (half - radius), qy = std::fabs(y - 0.5f) - (half - radius);
  const float outside = length(std::max(qx, 0.0f), std::max(qy, 0.0f)) + std::min(std::max(qx, qy), 0.0f) - radius;
  const float square = clamp01(0.5f - outside / pixel);
  const float r = length(x - 0.5f, y - 0.48f);
  const float ring = clamp01(0.5f - (std::fabs(r - 0.22f) - 0.065f) / pixel);
  // The tail: a short bar from the ring's lower right outwards.
  const float tx = x - 0.66f, ty = y - 0.66f;
  const float along = (tx + ty) * 0.7071f, across = (tx - ty) * 0.7071f;
  const float tail = clamp01(0.5f - (std::max(std::fabs(along) - 0.11f, std::fabs(across) - 0.055f)) / pixel);
  const float mark = std::max(ring, tail) * square;
  // A teal-to-blue gradient from top to bottom, the mark in white.
  const float base[3] = {0.05f + 0.05f * y, 0.55f - 0.25f * y, 0.62f + 0.2f * y};
  for (int c = 0; c < 3; ++c) rgba[c] = base[c] * (1.0f - mark) + mark;
  rgba[3] = square;
}

// The pixels of the mark at a size, rows from the top, R, G, B, A.
std::string draw_pixels(unsigned size) {
  std::string rgba;
  rgba.reserve(4 * static_cast<std::size_t>(size) * size);
  const float pixel = 1.0f / static_cast<float>(size);
  for (unsigned row = 0; row < size; ++row) {
    for (unsigned col = 0; col < size; ++col) {
      float shaded[4];
      shade((col + 0.5f) * pixel, (row + 0.5f) * pixel, pixel, shaded);
      for (int c = 0; c < 4; ++c) rgba.push_back(static_cast<char>(std::lround(clamp01(shaded[c]) * 255.0f)));
    }
  }
  return rgba;
}

// A 32-bpp DIB as an icon holds it: the header (whose height counts the
// colour rows and the mask rows), the rows bottom-up as B, G, R, A, then an
// AND mask of zeros, since the alpha channel decides.
std::string icon_bitmap(unsigned size, const std::string& rgba) {
  std::string dib;
  put_le(dib, 40, 4);
  put_le(dib, size, 4);
  put_le(dib, 2 * size, 4);
  put_le(dib, 1, 2);
  put_le(dib, 32, 2);
  put_le(dib, 0, 4);  // BI_RGB
  put_le(dib, size * size * 4, 4);
  put_le(dib, 0, 4);
  put_le(dib, 0, 4);
  put_le(dib, 0, 4);
  put_le(dib, 0, 4);
  for (unsigned row = size; row-- > 0;) {
    for (unsigned col = 0; col < size; ++col) {
      const std::size_t at = 4 * (static_cast<std::size_t>(row) * size + col);
      for (int c : {2, 1, 0, 3}) dib.push_back(rgba[at + c]);
    }
  }
  const unsigned mask_row = ((size + 31) / 32) * 4;  // rows padded to 32 bits
  dib.append(static_cast<std::size_t>(mask_row) * size, '\0');
  return dib;
}

IconImage draw_image(unsigned size) {
  IconImage image;
  image.width = image.height = size;
  image.bit_count = 32;
  const std::string rgba = draw_pixels(size);
  // Large images as PNG, as Windows takes them since Vista: a tenth of the
  // bitmap's size. Small ones stay bitmaps, which every reader of icons knows.
  image.data = size >= kPngIconFrom ? png_image(size, size, rgba) : icon_bitmap(size, rgba);
  return image;
}

}  // namespace

std::vector<IconImage> draw_default_icon() {
  std::vector<IconImage> images;
  for (unsigned size : kDefaultIconSizes) images.push_back(draw_image(size));
  return images;
}

Result parse_icon(const std::string& bytes, std::vector<IconImage>& images) {
  images.clear();
  if (bytes.size() < 6 || read_le(bytes, 0, 2) != 0 || read_le(bytes, 2, 2) != 1) {
    return fail("not an icon file (no .ico header)");
  }
  const unsigned count = read_le(bytes, 4, 2);
  if (count == 0) return fail("the icon file holds no images");
  if (bytes.size() < 6 + 16 * static_cast<std::size_t>(count)) return fail("the icon file is cut short");
  // Each image is copied out, so images that claim the same bytes over and
  // over would make a small file take gigabytes: together they may claim no
  // more than the file holds, as the images of a real .ico do.
  std::uint64_t claimed = 0;
  for (unsigned i = 0; i < count; ++i) {
    const std::size_t entry = 6 + 16 * static_cast<std::size_t>(i);
    IconImage image;
    image.width = bytes[entry] == 0 ? 256 : static_cast<unsigned char>(bytes[entry]);
    image.height = bytes[entry + 1] == 0 ? 256 : static_cast<unsigned char>(bytes[entry + 1]);
    image.planes = read_le(bytes, entry + 4, 2);
    image.bit_count = read_le(bytes, entry + 6, 2);
    const std::uint32_t size = read_le(bytes, entry + 8, 4);
    const std::uint32_t offset = read_le(bytes, entry + 12, 4);
    const std::string which = "image " + std::to_string(i + 1);
    if (size == 0 || offset > bytes.size() || size > bytes.size() - offset) {
      return fail(which + " lies outside the icon file");
    }
    claimed += size;
    if (claimed > bytes.size()) return fail("its images claim more bytes than the icon file holds (they overlap)");
    image.data = bytes.substr(offset, size);
    static const std::string kPng("\x89PNG\r\n\x1a\n", 8);
    if (image.data.compare(0, kPng.size(), kPng) == 0) {
      if (image.bit_count == 0) image.bit_count = 32;
    } else {
      if (size < 40 || read_le(image.data, 0, 4) != 40) return fail(which + " is neither a bitmap nor a PNG");
      const std::uint32_t dib_width = read_le(image.data, 4, 4);
      const std::uint32_t dib_height = read_le(image.data, 8, 4);
      if (dib_width != image.width || dib_height != 2 * image.height) {
        return fail(which + ": its bitmap is " + std::to_string(dib_width) + "x" + std::to_string(dib_height / 2) +
                    " but the directory says " + std::to_string(image.width) + "x" + std::to_string(image.height));
      }
      const unsigned bits = read_le(image.data, 14, 2);
      if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) {
        return fail(which + ": " + std::to_string(bits) + " bits per pixel is not an icon format");
      }
      image.bit_count = bits;
    }
    if (image.planes == 0) image.planes = 1;
    images.push_back(std::move(image));
  }
  return ok();
}

Result read_icon_file(const std::filesystem::path& path, std::vector<IconImage>& images) {
  // Mapped: the read is the file's size, whatever the file (a pipe or a
  // device is refused, not read without end).
  MappedFile file;
  if (Result r = map_whole_file(path, file); !r) return fail("icon " + r.error);
  const std::string bytes(reinterpret_cast<const char*>(file.data), file.size);
  if (Result r = parse_icon(bytes, images); !r) return fail("icon '" + path_text(path) + "': " + r.error);
  return ok();
}

}  // namespace quorin::packer
