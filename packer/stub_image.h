// The launcher stub the packer carries: the launcher's code with default
// constants and no attached data, from which every launcher is written.
#pragma once

#include <string_view>

namespace quorin::packer {

std::string_view stub_image();

}  // namespace quorin::packer
