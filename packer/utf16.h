// UTF-8 (file names, command-line texts) to UTF-16 (what the launcher keeps).
// Pure code.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorin::packer {

// nullopt for text that is not valid UTF-8.
std::optional<std::u16string> utf8_to_utf16(std::string_view text);
std::string utf16_to_utf8(std::u16string_view text);

}  // namespace quorin::packer
