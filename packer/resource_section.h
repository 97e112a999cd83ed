// The resource section of a launcher (.rsrc): the directory tree of types,
// ids and languages, the data entries and the data, laid out for the RVA the
// section will have. Pure code: bytes out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorin::packer {

struct Resource {
  std::uint16_t type = 0;      // 3 icon, 14 icon group, 16 version, 24 manifest
  std::uint16_t id = 0;
  std::uint16_t language = 0;  // 0: language-neutral
  std::string data;
};

// The section's bytes for resources (any order; they are sorted as the tree
// wants them: by type, then id, then language), for a section at rva.
std::string resource_section(std::vector<Resource> resources, std::uint32_t rva);

}  // namespace quorin::packer
