// The launcher stub the packer carries (stub_image.S brings in its bytes).
#include "packer/stub_image.h"

extern "C" const unsigned char quorin_stub_image[];
extern "C" const unsigned char quorin_stub_image_end[];

namespace quorin::packer {

std::string_view stub_image() {
  return {reinterpret_cast<const char*>(quorin_stub_image),
          static_cast<std::size_t>(quorin_stub_image_end - quorin_stub_image)};
}

}  // namespace quorin::packer
