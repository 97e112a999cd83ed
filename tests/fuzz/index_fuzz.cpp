// Fuzzing the archive's index reader: the input is an index as the launcher
// finds it in its image, read as it is and again with its checksum made
// right, so that the walk behind the checksum is reached. Whatever the
// bytes, index_check reads only within them; an index it accepts is read
// entry by entry to its checksum, every name is one the name rule accepts,
// and the totals are its entries'. Pure test code.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "payload/checksum.h"

#include "payload/entry_name.h"
#include "payload/index.h"

namespace {

using namespace quorin::payload;

void require(bool condition) {
  if (!condition) std::abort();
}

void check_index(const std::uint8_t* data, std::size_t size) {
  IndexHeader header;
  if (index_check(data, size, header) != IndexProblem::kNone) return;
  std::uint64_t offset = kIndexHeaderSize;
  std::uint64_t data_bytes = 0;
  std::uint64_t archive_bytes = 2;
  IndexEntry entry;
  for (std::uint64_t i = 0; i < header.entries; ++i) {
    offset = index_read_entry(data, offset, entry);
    require(offset <= size - kIndexChecksumSize);
    require(entry_name_problem(entry.name, entry.name_len) == NameProblem::kNone);
    require(entry.stored_checksum != 0);
    data_bytes += entry.size;
    archive_bytes += archive_entry_bytes(entry.name_len, entry.size);
  }
  require(offset == size - kIndexChecksumSize);
  require(data_bytes == header.data_bytes && archive_bytes == header.archive_bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  check_index(data, size);
  if (size < kIndexChecksumSize) return 0;
  // A copy of exactly size bytes, so that a read past them is caught.
  std::vector<std::uint8_t> sealed(data, data + size);
  const std::uint32_t crc = crc32_update(0, sealed.data(), size - kIndexChecksumSize);
  for (std::size_t i = 0; i < kIndexChecksumSize; ++i) sealed[size - kIndexChecksumSize + i] = (crc >> (8 * i)) & 0xFF;
  check_index(sealed.data(), sealed.size());
  return 0;
}
