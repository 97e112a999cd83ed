// Archive and envelope bytes written the way the format lays them out, for
// tests on the host and under Wine alike. Pure code and zlib's crc32.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorin::test_archive {

inline void put_le(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// zlib's CRC-32 of data with 0 stored as 1.
inline std::uint32_t stored_checksum_of(const std::string& data) {
  const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(data.data()),
                          static_cast<uInt>(data.size()));
  return crc == 0 ? 1 : static_cast<std::uint32_t>(crc);
}

// One archive entry; the stored checksum is the right one unless given.
struct Entry {
  std::u16string name;
  std::string data;
  std::optional<std::uint32_t> stored_checksum;
};

// The archive: the entries, then the end marker unless left out.
inline std::string archive_bytes(const std::vector<Entry>& entries, bool end_marker = true) {
  std::string out;
  for (const Entry& entry : entries) {
    for (char16_t unit : entry.name) put_le(out, unit, 2);
    put_le(out, 0, 2);
    put_le(out, entry.data.size(), 8);
    put_le(out, entry.stored_checksum.value_or(stored_checksum_of(entry.data)), 4);
    out += entry.data;
  }
  if (end_marker) put_le(out, 0, 2);
  return out;
}

// The envelope around a frame: "QZY", the frame, five 0 bytes, the length in front.
inline std::string envelope(const std::string& frame, const std::string& signature = "QZY") {
  std::string out = signature + frame + std::string(5, '\0');
  put_le(out, out.size(), 8);
  return out;
}

// Where the blocks of the frame in attached data start: a 3-byte block header,
// bit 0 last, bits 1-2 type, bits 3-23 size; a raw or compressed block's
// content is "size" bytes long, a run-length block's one byte.
inline std::vector<std::size_t> block_offsets(const std::string& attached) {
  std::vector<std::size_t> offsets;
  const auto byte = [&attached](std::size_t at) { return static_cast<unsigned char>(attached[at]); };
  const unsigned descriptor = byte(3 + 4);
  const bool single_segment = (descriptor >> 5) & 1;
  static constexpr unsigned kDictionaryBytes[] = {0, 1, 2, 4};
  static constexpr unsigned kContentSizeBytes[] = {0, 2, 4, 8};
  const unsigned content_size_bytes =
      (descriptor >> 6) == 0 ? (single_segment ? 1 : 0) : kContentSizeBytes[descriptor >> 6];
  std::size_t at = 3 + 4 + 1 + (single_segment ? 0 : 1) + kDictionaryBytes[descriptor & 3] + content_size_bytes;
  for (;;) {
    offsets.push_back(at);
    const std::uint32_t header = byte(at) | (byte(at + 1) << 8) | (byte(at + 2) << 16);
    const unsigned type = (header >> 1) & 3;
    at += 3 + (type == 1 ? 1 : header >> 3);
    if (header & 1) break;
  }
  return offsets;
}

// Bytes a compressor cannot shrink, the same on every run.
inline std::string noise(std::size_t size, std::uint32_t seed) {
  std::string out(size, '\0');
  for (char& c : out) {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    c = static_cast<char>(seed);
  }
  return out;
}

// Window descriptor byte of a frame: window = 2^(10 + exponent) plus
// mantissa eighths of it. (7, 0) is 128 KiB, (17, 0) is 2^27.
constexpr unsigned char window_descriptor(unsigned exponent, unsigned mantissa) {
  return static_cast<unsigned char>(exponent << 3 | mantissa);
}

// One block of a hand-written frame: raw (the bytes as they are) or RLE (one
// byte repeated), so that no compressor is needed.
struct Block {
  bool rle = false;
  std::string bytes;     // raw: the content; RLE: one byte
  std::size_t size = 0;  // RLE: how many times
};

// Blocks that carry content as raw blocks of at most block_size bytes.
inline std::vector<Block> raw_blocks(const std::string& content, std::size_t block_size = 131072) {
  std::vector<Block> blocks;
  for (std::size_t at = 0; at < content.size(); at += block_size) {
    blocks.push_back({false, content.substr(at, block_size), 0});
  }
  if (blocks.empty()) blocks.push_back({false, "", 0});
  return blocks;
}

// A zstd frame: magic, a header with no content size and no dictionary, the
// blocks (the last one marked last), and the given 4 checksum bytes if any.
inline std::string frame_of(const std::vector<Block>& blocks, unsigned char window = window_descriptor(7, 0),
                            const std::optional<std::string>& checksum = std::nullopt) {
  std::string out = "\x28\xB5\x2F\xFD";
  // Frame header descriptor: no content size, not single segment, checksum
  // flag as asked, no dictionary id.
  out.push_back(static_cast<char>(checksum ? 0x04 : 0x00));
  out.push_back(static_cast<char>(window));
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    const Block& block = blocks[i];
    const std::uint32_t last = i + 1 == blocks.size() ? 1 : 0;
    const std::uint32_t size = static_cast<std::uint32_t>(block.rle ? block.size : block.bytes.size());
    put_le(out, last | (block.rle ? 1u : 0u) << 1 | size << 3, 3);
    out += block.bytes;
  }
  if (checksum) out += *checksum;
  return out;
}

// The attached data: "QZY", the frame, and with trailing fields the five 0
// bytes and the length in front of the 8-byte length field.
inline std::string attached_of(const std::string& frame, bool trailing_fields = true) {
  return trailing_fields ? envelope(frame) : "QZY" + frame;
}

// Bytes no two windows of which look alike: byte i depends on i and seed.
inline std::string pattern(std::size_t size, std::uint32_t seed) {
  // Spread the small seeds the tests use over the whole state.
  return noise(size, seed * 2654435761u + 1);
}

}  // namespace quorin::test_archive
