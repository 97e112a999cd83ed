// The resource section of a launcher (.rsrc): the directory tree of types,
// ids and languages, the data entries and the data, laid out for the RVA the
// section will have. Pure code: bytes out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorin::packer {

// Resource types, the neutral language, and the signature that opens the
// fixed part of version information: the packer writes them into launchers
// and reads them in the child program.
inline constexpr std::uint16_t kResourceTypeIcon = 3;
inline constexpr std::uint16_t kResourceTypeGroupIcon = 14;
inline constexpr std::uint16_t kResourceTypeVersion = 16;
inline constexpr std::uint16_t kResourceTypeManifest = 24;
inline constexpr std::uint16_t kLanguageNeutral = 0;
inline constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BD;

struct Resource {
  std::uint16_t type = 0;      // one of the types above
  std::uint16_t id = 0;
  std::uint16_t language = 0;  // 0: language-neutral
  std::string data;
};

// The section's bytes for resources (any order; they are sorted as the tree
// wants them: by type, then id, then language), for a section at rva.
std::string resource_section(std::vector<Resource> resources, std::uint32_t rva);

}  // namespace quorin::packer
