// The archive's index: every entry's name, size and stored checksum in the
// archive's order, and the archive's totals. The packer writes it into the
// launcher beside the attached data, so that a start can learn what the
// archive holds without decoding the frame. It carries a checksum of its own:
// an index that fails any check is taken for none, and the start decodes the
// archive as a launcher without an index does. Pure code.
//
//   offset  size  field
//   0       4     "QZIX"
//   4       4     version, u32 LE: kIndexVersion
//   8       8     entries N, u64 LE
//   16      8     data bytes: the entries' sizes added up, u64 LE
//   24      8     archive bytes: the frame's content, end marker included, u64 LE
//   32      8     attached bytes: the length L of the attached data it indexes, u64 LE
//   40      ...   N entries, each: name length n (u16 LE, 1..1023), the name's
//                 n UTF-16LE units, size (u64 LE), stored checksum (u32 LE)
//   L - 4   4     CRC-32 of the L - 4 bytes in front of it, u32 LE
#pragma once

#include <cstddef>
#include <cstdint>

#include "payload/format.h"

namespace quorin::payload {

inline constexpr unsigned char kIndexMagic[4] = {'Q', 'Z', 'I', 'X'};
inline constexpr std::uint32_t kIndexVersion = 1;
inline constexpr std::size_t kIndexHeaderSize = 40;
inline constexpr std::size_t kIndexNameLengthSize = 2;
inline constexpr std::size_t kIndexChecksumSize = 4;

struct IndexHeader {
  std::uint64_t entries = 0;
  std::uint64_t data_bytes = 0;
  std::uint64_t archive_bytes = 0;
  std::uint64_t attached_bytes = 0;  // an index of other attached data is none
};

struct IndexEntry {
  wchar_t name[kEntryNameCap];  // terminated
  std::size_t name_len = 0;
  std::uint64_t size = 0;
  std::uint32_t stored_checksum = 0;
};

enum class IndexProblem {
  kNone,
  kTooShort,       // fewer bytes than a header and a checksum
  kMagic,          // no "QZIX" in front
  kVersion,        // a version this launcher does not read
  kChecksum,       // its CRC-32 is not the one it carries
  kEntryCut,       // an entry runs past the end, or entries end early
  kBadName,        // a name the name rule refuses, or of length 0 or over 1023
  kStoredZero,     // a stored checksum of 0, which is never written
  kTrailingBytes,  // bytes between the last entry and the checksum
  kTotals,         // the totals are not those of its entries
};

// Checks the whole index at data (length bytes): the magic, version and
// checksum, every entry within bounds with a sound name and a stored checksum
// other than 0, and the totals; fills header. Anything but kNone: no index.
IndexProblem index_check(const unsigned char* data, std::uint64_t length, IndexHeader& header);

// What the problem means, for the packer's messages: a phrase without a stop.
const char* index_problem_text(IndexProblem problem);

// Reads the entry at offset (kIndexHeaderSize for the first) of an index that
// index_check accepted, and returns the offset of the next one.
std::uint64_t index_read_entry(const unsigned char* data, std::uint64_t offset, IndexEntry& entry);

// The bytes an entry takes in the archive: its name and terminator, size and
// checksum fields, and its data.
inline constexpr std::uint64_t archive_entry_bytes(std::size_t name_len, std::uint64_t size) {
  return 2 * (static_cast<std::uint64_t>(name_len) + 1) + kSizeFieldSize + kChecksumFieldSize + size;
}

}  // namespace quorin::payload
