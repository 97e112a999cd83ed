// Writing the archive's index. Pure code.
#include "packer/index_writer.h"

#include "packer/little_endian.h"
#include "payload/checksum.h"
#include "payload/index.h"

namespace quorin::packer {

std::string index_bytes(const std::vector<IndexRecord>& records, std::uint64_t attached_bytes) {
  std::uint64_t data_bytes = 0;
  std::uint64_t archive_bytes = 2;  // the end marker
  for (const IndexRecord& record : records) {
    data_bytes += record.size;
    archive_bytes += payload::archive_entry_bytes(record.name.size(), record.size);
  }
  std::string out(reinterpret_cast<const char*>(payload::kIndexMagic), sizeof payload::kIndexMagic);
  put_le(out, payload::kIndexVersion, 4);
  put_le(out, records.size(), 8);
  put_le(out, data_bytes, 8);
  put_le(out, archive_bytes, 8);
  put_le(out, attached_bytes, 8);
  for (const IndexRecord& record : records) {
    put_le(out, record.name.size(), payload::kIndexNameLengthSize);
    for (const char16_t unit : record.name) put_le(out, unit, 2);
    put_le(out, record.size, payload::kSizeFieldSize);
    put_le(out, record.stored_checksum, payload::kChecksumFieldSize);
  }
  const std::uint32_t crc = payload::crc32_update(0, reinterpret_cast<const unsigned char*>(out.data()), out.size());
  put_le(out, crc, payload::kIndexChecksumSize);
  return out;
}

}  // namespace quorin::packer
