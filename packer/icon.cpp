// The launcher's icon. Pure code apart from reading the user's .ico file.
#include "packer/icon.h"

#include "packer/little_endian.h"
#include "packer/platform.h"
#include "packer/png_signature.h"

namespace quorin::packer {

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
    if (std::string_view(image.data).substr(0, kPngSignature.size()) == kPngSignature) {
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
