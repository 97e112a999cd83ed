// The checksum of payload data. Pure code over zlib's crc32, and folding
// (payload/crc32_fold.h) for the bulk where the processor can.
#include "payload/checksum.h"

#include <zlib.h>

#include "payload/crc32_fold.h"

namespace quorin::payload {

std::uint32_t crc32_update(std::uint32_t crc, const unsigned char* data, std::uint64_t size) {
  // Folding is several times as fast as zlib's tables; the processor is
  // asked once.
  static const FoldWidth width = crc32_fold_width();
  if (width != FoldWidth::kNone) {
    constexpr std::uint64_t kFoldPiece = std::uint64_t{1} << 30;
    std::size_t consumed = 0;
    while (size >= crc32_fold_minimum(width)) {
      crc = crc32_fold(width, crc, data, static_cast<std::size_t>(size < kFoldPiece ? size : kFoldPiece), consumed);
      data += consumed;
      size -= consumed;
    }
  }
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
