// Writing the archive's index (payload/index.h): every entry's name, size and
// stored checksum in the archive's order, the totals and a checksum. Pure
// code: records in, bytes out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorin::packer {

struct IndexRecord {
  std::u16string name;
  std::uint64_t size = 0;
  std::uint32_t stored_checksum = 0;
};

// The index of an archive whose entries are records, in their order, in
// attached data of attached_bytes bytes.
std::string index_bytes(const std::vector<IndexRecord>& records, std::uint64_t attached_bytes);

}  // namespace quorin::packer
