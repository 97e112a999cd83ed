// The checksum of payload data. Pure code over libdeflate's CRC-32, which
// gives zlib's values (the same polynomial, preset and final complement) with
// carry-less multiplication where the processor has it: several times zlib's
// speed, and the CRC is most of what a second start does besides decoding.
#include "payload/checksum.h"

#include <libdeflate.h>

namespace quorin::payload {

std::uint32_t crc32_update(std::uint32_t crc, const unsigned char* data, std::uint64_t size) {
  // Pieces of at most 1 GiB: the count is a size_t, but a piece that size
  // costs nothing and keeps the loop the same on every system.
  constexpr std::uint64_t kPiece = std::uint64_t{1} << 30;
  while (size > 0) {
    const std::size_t piece = static_cast<std::size_t>(size < kPiece ? size : kPiece);
    crc = libdeflate_crc32(crc, data, piece);
    data += piece;
    size -= piece;
  }
  return crc;
}

}  // namespace quorin::payload
