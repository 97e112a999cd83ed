// The launcher's CRC-32 against zlib's crc32, on lengths from 0 to a few
// hundred KiB, every alignment of the start and data fed in pieces, for tests
// on the host and under Wine alike (each build has its own code paths).
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>

#include "payload/checksum.h"
#include "tests/common/archive_bytes.h"

namespace quorin::test_archive {

// "" when every case agrees, else the first that does not.
inline std::string crc_disagreement() {
  const std::string data = noise(300000, 20261209);
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  std::uint32_t pick = 7;
  for (int round = 0; round < 400; ++round) {
    pick = pick * 1103515245u + 12345u;
    const std::size_t offset = pick % 64;  // every alignment, and beyond
    const std::size_t length = round < 80 ? static_cast<std::size_t>(round) : (pick >> 8) % (data.size() - 64);
    const std::size_t split = length == 0 ? 0 : (pick >> 4) % length;
    const uLong expected = crc32(crc32(0L, Z_NULL, 0), bytes + offset, static_cast<uInt>(length));
    const std::uint32_t whole = payload::crc32_update(0, bytes + offset, length);
    const std::uint32_t pieces =
        payload::crc32_update(payload::crc32_update(0, bytes + offset, split), bytes + offset + split, length - split);
    if (whole != expected || pieces != expected) {
      return "offset " + std::to_string(offset) + ", length " + std::to_string(length) + ", split " +
             std::to_string(split);
    }
  }
  return "";
}

}  // namespace quorin::test_archive
