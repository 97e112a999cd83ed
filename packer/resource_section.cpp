// The resource section of a launcher. Pure code.
//
// Layout, every offset from the section's start:
//   root directory (16 bytes) and one 8-byte entry per type
//   per type: a directory and one entry per id
//   per id: a directory and one entry per language
//   the data entries (16 bytes each: data RVA, size, code page, reserved)
//   the data, each on an 8-byte boundary
// A directory entry holds the id and the offset of what it leads to; the top
// bit of that offset marks a subdirectory.
#include "packer/resource_section.h"

#include <algorithm>
#include <tuple>

#include "packer/little_endian.h"

namespace quorin::packer {

namespace {

constexpr std::uint32_t kSubdirectory = 0x80000000u;
constexpr std::size_t kDirectorySize = 16;
constexpr std::size_t kEntrySize = 8;
constexpr std::size_t kDataEntrySize = 16;

void put_directory(std::string& out, std::size_t id_entries) {
  put_le(out, 0, 4);  // characteristics
  put_le(out, 0, 4);  // no time stamp: the same inputs give the same bytes
  put_le(out, 0, 2);  // major version
  put_le(out, 0, 2);  // minor version
  put_le(out, 0, 2);  // named entries
  put_le(out, id_entries, 2);
}

void pad_to(std::string& out, std::size_t alignment) {
  while (out.size() % alignment != 0) out.push_back('\0');
}

}  // namespace

std::string resource_section(std::vector<Resource> resources, std::uint32_t rva) {
  std::sort(resources.begin(), resources.end(), [](const Resource& a, const Resource& b) {
    return std::tie(a.type, a.id, a.language) < std::tie(b.type, b.id, b.language);
  });
  // The groups at each level: [begin, end) ranges of resources.
  std::vector<std::pair<std::size_t, std::size_t>> types, ids;
  for (std::size_t i = 0; i < resources.size(); ++i) {
    if (i == 0 || resources[i].type != resources[i - 1].type) types.push_back({i, i});
    types.back().second = i + 1;
    if (i == 0 || resources[i].type != resources[i - 1].type || resources[i].id != resources[i - 1].id) {
      ids.push_back({i, i});
    }
    ids.back().second = i + 1;
  }
  // Where each part starts.
  const std::size_t root_size = kDirectorySize + kEntrySize * types.size();
  std::vector<std::size_t> type_at, id_at;
  std::size_t at = root_size;
  for (const auto& [begin, end] : types) {
    type_at.push_back(at);
    std::size_t distinct = 0;
    for (const auto& id : ids) distinct += id.first >= begin && id.first < end ? 1 : 0;
    at += kDirectorySize + kEntrySize * distinct;
  }
  for (const auto& [begin, end] : ids) {
    id_at.push_back(at);
    at += kDirectorySize + kEntrySize * (end - begin);
  }
  const std::size_t data_entries_at = at;
  at += kDataEntrySize * resources.size();
  std::vector<std::size_t> data_at;
  for (const Resource& resource : resources) {
    at = (at + 7) / 8 * 8;
    data_at.push_back(at);
    at += resource.data.size();
  }

  std::string out;
  put_directory(out, types.size());
  std::size_t next_id = 0;
  for (std::size_t t = 0; t < types.size(); ++t) {
    put_le(out, resources[types[t].first].type, 4);
    put_le(out, kSubdirectory | type_at[t], 4);
  }
  for (std::size_t t = 0; t < types.size(); ++t) {
    std::size_t distinct = 0;
    for (const auto& id : ids) distinct += id.first >= types[t].first && id.first < types[t].second ? 1 : 0;
    put_directory(out, distinct);
    for (std::size_t k = 0; k < distinct; ++k, ++next_id) {
      put_le(out, resources[ids[next_id].first].id, 4);
      put_le(out, kSubdirectory | id_at[next_id], 4);
    }
  }
  for (const auto& [begin, end] : ids) {
    put_directory(out, end - begin);
    for (std::size_t r = begin; r < end; ++r) {
      put_le(out, resources[r].language, 4);
      put_le(out, data_entries_at + kDataEntrySize * r, 4);
    }
  }
  for (std::size_t r = 0; r < resources.size(); ++r) {
    put_le(out, rva + data_at[r], 4);
    put_le(out, resources[r].data.size(), 4);
    put_le(out, 0, 4);  // code page
    put_le(out, 0, 4);
  }
  for (std::size_t r = 0; r < resources.size(); ++r) {
    pad_to(out, 8);
    out += resources[r].data;
  }
  return out;
}

}  // namespace quorin::packer
