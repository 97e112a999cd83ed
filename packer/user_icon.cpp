// A user's --icon. Reads the file.
#include "packer/user_icon.h"

#include <cstdint>
#include <string>

#include "packer/platform.h"
#include "packer/png_signature.h"

namespace quorin::packer {

namespace fs = std::filesystem;

// The directory of an .ico gives each image's size; a PNG image carries its
// own as well, and Windows draws a PNG whose two sizes disagree wrongly or
// not at all, so they must agree.
Result read_launcher_icon(const fs::path& path, std::vector<IconImage>& images) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (ec || !fs::exists(status)) return fail("icon '" + path_text(path) + "': no such file");
  if (!fs::is_regular_file(status)) return fail("icon '" + path_text(path) + "': not a file");
  if (Result r = read_icon_file(path, images); !r) return r;
  for (std::size_t i = 0; i < images.size(); ++i) {
    const IconImage& image = images[i];
    const std::string which = "icon '" + path_text(path) + "': image " + std::to_string(i + 1);
    if (image.data.compare(0, kPngSignature.size(), kPngSignature) != 0) continue;
    // The IHDR chunk comes first: length, "IHDR", width and height big-endian.
    if (image.data.size() < 24 || image.data.compare(12, 4, "IHDR") != 0) return fail(which + ": a damaged PNG");
    auto big_endian = [&image](std::size_t at) {
      std::uint32_t value = 0;
      for (int k = 0; k < 4; ++k) value = (value << 8) | static_cast<unsigned char>(image.data[at + k]);
      return value;
    };
    const std::uint32_t width = big_endian(16), height = big_endian(20);
    if (width != image.width || height != image.height) {
      return fail(which + ": its PNG is " + std::to_string(width) + "x" + std::to_string(height) +
                  " but the directory says " + std::to_string(image.width) + "x" + std::to_string(image.height) +
                  " (icons hold images of 1 to 256 pixels a side)");
    }
  }
  return ok();
}

}  // namespace quorin::packer
