// The eight bytes every PNG file starts with; an icon image that starts with
// them is a PNG, else a bitmap. Pure code.
#pragma once

#include <string_view>

namespace quorin::packer {

inline constexpr std::string_view kPngSignature{"\x89PNG\r\n\x1a\n", 8};

}  // namespace quorin::packer
