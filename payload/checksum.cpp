// The checksum of payload data. Pure code over zlib's crc32.
#include "payload/checksum.h"

#include <zlib.h>

namespace quorin::payload {

std::uint32_t crc32_update(std::uint32_t crc, const unsigned char* data, std::uint64_t size) {
  uLong value = crc;
  // zlib takes 32-bit lengths: data of 4 GiB or more goes in pieces.
  constexpr std::uint64_t kPiece = std::uint64_t{1} << 30;
  while (size > 0) {
    const uInt piece = static_cast<uInt>(size < kPiece ? size : kPiece);
    value = crc32(value, data, piece);
    data += piece;
    size -= piece;
  }
  return static_cast<std::uint32_t>(value);
}

}  // namespace quorin::payload
