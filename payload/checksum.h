// The checksum of payload data: zlib's CRC-32 started from 0, with a result of
// 0 stored as 1, so that 0 can mean "no usable file on disk". Pure code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorin::payload {

inline constexpr std::uint32_t stored_checksum(std::uint32_t crc) { return crc == 0 ? 1 : crc; }

// The CRC-32 register after data, continuing from crc (0 to start).
std::uint32_t crc32_update(std::uint32_t crc, const unsigned char* data, std::uint64_t size);

// The stored form of the CRC-32 of data: never 0.
inline std::uint32_t checksum_of(const unsigned char* data, std::uint64_t size) {
  return stored_checksum(crc32_update(0, data, size));
}

}  // namespace quorin::payload
