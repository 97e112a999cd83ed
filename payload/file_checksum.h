// The checksum of a file on disk, for the skip of current files: the CRC-32 of
// its content (0 stored as 1) when it has the expected size, else 0. Talks to
// the system; safe on any thread, each with its own buffer.
#pragma once

#include <cstdint>

namespace quorin::payload {

// Files below this size are read whole into the caller's buffer, larger ones
// are checked through a mapping.
inline constexpr std::uint64_t kReadCheckCap = std::uint64_t{1} << 20;

// 0 when the file at path is missing, unreadable or of another size than
// expected_size; buffer holds kReadCheckCap bytes.
std::uint32_t file_checksum(const wchar_t* path, std::uint64_t expected_size, unsigned char* buffer);

}  // namespace quorin::payload
