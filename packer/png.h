// Writing an RGBA image as a PNG file (8 bits a channel, no interlace), as an
// icon may hold its large images. The same pixels give the same bytes on
// every system. Pure code over libdeflate.
#pragma once

#include <string>

namespace quorin::packer {

// rgba: height rows from the top, each width pixels of R, G, B, A.
std::string png_image(unsigned width, unsigned height, const std::string& rgba);

}  // namespace quorin::packer
