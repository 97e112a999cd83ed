// CRC-32 (zlib's, the reflected IEEE polynomial) by carry-less multiplication:
// the data is folded 64 bytes a step with PCLMULQDQ, or 128 bytes a step with
// the 256-bit VPCLMULQDQ, on processors that have them. Pure code: compiler
// intrinsics, no system calls.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorin::payload {

enum class FoldWidth {
  kNone,  // no carry-less multiplication: zlib's tables alone
  k128,   // PCLMULQDQ: at least 64 bytes
  k256,   // VPCLMULQDQ on 256-bit registers (AVX2): at least 128 bytes
};

// The widest folding this processor can run.
FoldWidth crc32_fold_width();

// The fewest bytes a fold of that width takes.
inline constexpr std::size_t crc32_fold_minimum(FoldWidth width) { return width == FoldWidth::k256 ? 128 : 64; }

// zlib's crc32(crc, data, size) over the first (size rounded down to 16)
// bytes, for size >= crc32_fold_minimum(width) and a width this processor
// runs; the caller continues over the rest. consumed is how many it took.
std::uint32_t crc32_fold(FoldWidth width, std::uint32_t crc, const unsigned char* data, std::size_t size,
                         std::size_t& consumed);

}  // namespace quorin::payload
