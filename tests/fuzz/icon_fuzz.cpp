// Fuzzing the reader of a user's .ico file (build --icon): the directory and
// each image's bitmap header. The input is the whole file. What it takes has
// images of 1 to 256 pixels a side with their data, a bitmap's depth is an
// icon format, and the images together hold no more than the file. Pure
// test code.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "packer/icon.h"
#include "tests/fuzz/fuzz_units.h"

namespace {

// An icon group holds up to 65535 images; their directory fits in 1 MiB.
constexpr std::size_t kMaxInput = 1 << 20;

bool is_icon_depth(unsigned bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 24 || bits == 32; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::vector<quorin::packer::IconImage> images;
  const quorin::packer::Result read = quorin::packer::parse_icon(bytes, images);
  if (!read) {
    QUORIN_FUZZ_CHECK(!read.error.empty());
    return 0;
  }
  QUORIN_FUZZ_CHECK(!images.empty() && images.size() <= 0xFFFF);
  std::uint64_t total = 0;
  for (const quorin::packer::IconImage& image : images) {
    QUORIN_FUZZ_CHECK(image.width >= 1 && image.width <= 256 && image.height >= 1 && image.height <= 256);
    QUORIN_FUZZ_CHECK(!image.data.empty() && image.planes >= 1);
    const bool png = image.data.compare(0, 8, "\x89PNG\r\n\x1a\n", 8) == 0;
    QUORIN_FUZZ_CHECK(png ? image.bit_count != 0 : is_icon_depth(image.bit_count));
    total += image.data.size();
  }
  QUORIN_FUZZ_CHECK(total <= size);
  return 0;
}
