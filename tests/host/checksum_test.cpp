// The payload checksum's CRC-32 against zlib's own: every length around the
// foldings' thresholds and 16-byte steps, every alignment, continued from
// other registers, split at any point, and each folding width on its own.
#include <gtest/gtest.h>

#include <zlib.h>

#include <string>

#include "payload/checksum.h"
#include "payload/crc32_fold.h"
#include "tests/common/archive_bytes.h"

namespace {

using quorin::payload::crc32_update;

std::uint32_t zlib_crc(std::uint32_t crc, const unsigned char* data, std::size_t size) {
  return static_cast<std::uint32_t>(crc32(crc, data, static_cast<uInt>(size)));
}

TEST(Checksum, SameAsZlibForEveryLengthAlignmentAndStartingRegister) {
  const std::string data = quorin::test_archive::noise(70000, 41);
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  for (const std::uint32_t start : {0u, 1u, 0xFFFFFFFFu, 0x12345678u}) {
    for (std::size_t offset = 0; offset < 16; ++offset) {
      for (std::size_t size = 0; size <= 1100; ++size) {
        ASSERT_EQ(crc32_update(start, bytes + offset, size), zlib_crc(start, bytes + offset, size))
            << "start " << start << ", offset " << offset << ", size " << size;
      }
    }
    for (const std::size_t size : {4095u, 32768u, 65537u, 69984u}) {
      EXPECT_EQ(crc32_update(start, bytes + 3, size), zlib_crc(start, bytes + 3, size)) << size;
    }
  }
}

TEST(Checksum, ContinuedAcrossAnySplitAsInOnePass) {
  const std::string data = quorin::test_archive::noise(5000, 42);
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  const std::uint32_t whole = zlib_crc(0, bytes, data.size());
  for (std::size_t split = 0; split <= data.size(); split += 37) {
    EXPECT_EQ(crc32_update(crc32_update(0, bytes, split), bytes + split, data.size() - split), whole) << split;
  }
}

TEST(Checksum, EachFoldingWidthTheProcessorRunsGivesZlibsRegister) {
  using quorin::payload::FoldWidth;
  const FoldWidth widest = quorin::payload::crc32_fold_width();
  if (widest == FoldWidth::kNone) GTEST_SKIP() << "no carry-less multiplication on this processor";
  const std::string data = quorin::test_archive::noise(3000, 43);
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  for (const FoldWidth width : {FoldWidth::k128, FoldWidth::k256}) {
    if (width == FoldWidth::k256 && widest != FoldWidth::k256) continue;
    for (std::size_t size = quorin::payload::crc32_fold_minimum(width); size <= data.size(); size += 7) {
      std::size_t consumed = 0;
      const std::uint32_t folded = quorin::payload::crc32_fold(width, 0x5A5A5A5A, bytes + 1, size, consumed);
      ASSERT_EQ(consumed, size & ~std::size_t{15});
      ASSERT_EQ(folded, zlib_crc(0x5A5A5A5A, bytes + 1, consumed)) << "width " << static_cast<int>(width) << ", size "
                                                                   << size;
    }
  }
}

}  // namespace
