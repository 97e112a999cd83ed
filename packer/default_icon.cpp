// The packer's own icon, read from the .ico file it carries. Pure code over
// bytes linked into the packer.
#include "packer/icon.h"

// default_icon.S brings in the bytes of packer/default_icon.ico.
extern "C" const unsigned char quorin_default_icon[];
extern "C" const unsigned char quorin_default_icon_end[];

namespace quorin::packer {

Result default_icon(std::vector<IconImage>& images) {
  const std::string bytes(reinterpret_cast<const char*>(quorin_default_icon),
                          static_cast<std::size_t>(quorin_default_icon_end - quorin_default_icon));
  if (Result r = parse_icon(bytes, images); !r) return fail("the packer's own icon: " + r.error);
  return ok();
}

}  // namespace quorin::packer
