// Reading the archive's index. Pure code: every read is bounded by the
// index's length, which the launcher takes from its baked constants.
#include "payload/index.h"

#include <cstdint>

#include "payload/checksum.h"
#include "payload/entry_name.h"

namespace quorin::payload {

namespace {

std::uint16_t decode_u16_le(const unsigned char* at) {
  return static_cast<std::uint16_t>(at[0] | at[1] << 8);
}

// The fixed fields after a name: its size and stored checksum.
constexpr std::uint64_t kEntryFieldsSize = kSizeFieldSize + kChecksumFieldSize;

// Reads one entry at offset, bounded by end (where the checksum starts);
// false when it does not fit.
bool read_bounded(const unsigned char* data, std::uint64_t& offset, std::uint64_t end, IndexEntry& entry) {
  if (end - offset < kIndexNameLengthSize) return false;
  const std::size_t len = decode_u16_le(data + offset);
  offset += kIndexNameLengthSize;
  entry.name_len = 0;
  entry.name[0] = L'\0';
  if (len == 0 || len >= kEntryNameCap) return true;  // the name rule refuses it below
  if ((end - offset) / 2 < len) return false;
  for (std::size_t i = 0; i < len; ++i) entry.name[i] = static_cast<wchar_t>(decode_u16_le(data + offset + 2 * i));
  entry.name[len] = L'\0';
  entry.name_len = len;
  offset += 2 * static_cast<std::uint64_t>(len);
  if (end - offset < kEntryFieldsSize) return false;
  entry.size = decode_u64_le(data + offset);
  entry.stored_checksum = decode_u32_le(data + offset + kSizeFieldSize);
  offset += kEntryFieldsSize;
  return true;
}

}  // namespace

IndexProblem index_check(const unsigned char* data, std::uint64_t length, IndexHeader& header) {
  header = {};
  if (length < kIndexHeaderSize + kIndexChecksumSize) return IndexProblem::kTooShort;
  for (std::size_t i = 0; i < sizeof kIndexMagic; ++i) {
    if (data[i] != kIndexMagic[i]) return IndexProblem::kMagic;
  }
  if (decode_u32_le(data + 4) != kIndexVersion) return IndexProblem::kVersion;
  const std::uint64_t end = length - kIndexChecksumSize;
  if (crc32_update(0, data, end) != decode_u32_le(data + end)) return IndexProblem::kChecksum;
  header.entries = decode_u64_le(data + 8);
  header.data_bytes = decode_u64_le(data + 16);
  header.archive_bytes = decode_u64_le(data + 24);
  header.attached_bytes = decode_u64_le(data + 32);

  // Every entry takes at least its name length, one unit and its fields, so
  // a count above what the bytes can hold is refused before any walk.
  const std::uint64_t least_entry = kIndexNameLengthSize + 2 + kEntryFieldsSize;
  if (header.entries > (end - kIndexHeaderSize) / least_entry) return IndexProblem::kEntryCut;
  std::uint64_t data_bytes = 0;
  std::uint64_t archive_bytes = 2;  // the end marker
  std::uint64_t offset = kIndexHeaderSize;
  IndexEntry entry;
  for (std::uint64_t i = 0; i < header.entries; ++i) {
    if (!read_bounded(data, offset, end, entry)) return IndexProblem::kEntryCut;
    if (entry.name_len == 0 || entry_name_problem(entry.name, entry.name_len) != NameProblem::kNone) {
      return IndexProblem::kBadName;
    }
    if (entry.stored_checksum == 0) return IndexProblem::kStoredZero;
    // Totals that would pass 2^64 are no archive's.
    const std::uint64_t bytes = archive_entry_bytes(entry.name_len, entry.size);
    if (entry.size > UINT64_MAX - data_bytes || bytes < entry.size || bytes > UINT64_MAX - archive_bytes) {
      return IndexProblem::kTotals;
    }
    data_bytes += entry.size;
    archive_bytes += bytes;
  }
  if (offset != end) return IndexProblem::kTrailingBytes;
  if (data_bytes != header.data_bytes || archive_bytes != header.archive_bytes) return IndexProblem::kTotals;
  return IndexProblem::kNone;
}

const char* index_problem_text(IndexProblem problem) {
  switch (problem) {
    case IndexProblem::kNone: return "a sound index";
    case IndexProblem::kTooShort: return "the index is shorter than its header and checksum";
    case IndexProblem::kMagic: return "the index does not start with \"QZIX\"";
    case IndexProblem::kVersion: return "the index has a version this packer does not read";
    case IndexProblem::kChecksum: return "the index's checksum is not that of its bytes";
    case IndexProblem::kEntryCut: return "an entry of the index runs past its end";
    case IndexProblem::kBadName: return "the index holds a name the launcher may not write";
    case IndexProblem::kStoredZero: return "the index holds a stored checksum of 0";
    case IndexProblem::kTrailingBytes: return "bytes follow the index's last entry";
    case IndexProblem::kTotals: return "the index's totals are not those of its entries";
  }
  return "an unknown problem";
}

std::uint64_t index_read_entry(const unsigned char* data, std::uint64_t offset, IndexEntry& entry) {
  // Accepted by index_check: every entry lies within the index.
  read_bounded(data, offset, UINT64_MAX, entry);
  return offset;
}

}  // namespace quorin::payload
