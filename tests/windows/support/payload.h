// Test support for the payload tests: archives and zstd frames written by
// hand (raw and RLE blocks, so no compressor is needed on Windows), CRC-32
// forging, and snapshots of what a folder tree holds. Talks to the system.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/common/archive_bytes.h"

namespace quorin::testing {

using ArchiveEntry = test_archive::Entry;
using test_archive::archive_bytes;
inline std::uint32_t checksum_of(const std::string& data) { return test_archive::stored_checksum_of(data); }

// Window descriptor byte of a frame: window = 2^(10 + exponent) plus
// mantissa eighths of it. (7, 0) is 128 KiB, (17, 0) is 2^27.
constexpr unsigned char window_descriptor(unsigned exponent, unsigned mantissa) {
  return static_cast<unsigned char>(exponent << 3 | mantissa);
}

// One block of a frame: raw (the bytes as they are) or RLE (one byte repeated).
struct Block {
  bool rle = false;
  std::string bytes;     // raw: the content; RLE: one byte
  std::size_t size = 0;  // RLE: how many times
};

// Blocks that carry content as raw blocks of at most block_size bytes.
std::vector<Block> raw_blocks(const std::string& content, std::size_t block_size = 131072);

// A zstd frame: magic, a header with no content size and no dictionary, the
// blocks (the last one marked last), and the given 4 checksum bytes if any.
std::string frame_of(const std::vector<Block>& blocks, unsigned char window = window_descriptor(7, 0),
                     const std::optional<std::string>& checksum = std::nullopt);

// The attached data: "QZY", the frame, and with trailing fields the five 0
// bytes and the length in front of the 8-byte length field.
std::string attached_of(const std::string& frame, bool trailing_fields = true);

// Bytes no two windows of which look alike: byte i depends on i and seed.
std::string pattern(std::size_t size, std::uint32_t seed);

// Four bytes that, appended to data, give a CRC-32 of target.
std::string forge_crc_suffix(const std::string& data, std::uint32_t target);

// Sends this process's standard output to its standard error, so a death
// test can match a message that goes to standard output.
void stdout_to_stderr();

// What a tree holds: every file and folder below root (relative paths, folders
// ending in a backslash), with its size and last-write time.
struct TreeItem {
  std::uint64_t size = 0;
  std::uint64_t written = 0;  // FILETIME as one number
  bool operator==(const TreeItem&) const = default;
};
std::map<std::wstring, TreeItem> snapshot_tree(const std::wstring& root);

// Sets the last-write time of root and everything below it.
void set_write_times(const std::wstring& root, std::uint64_t filetime);

// An old fixed time (2001-01-01) that no write of today can leave in place.
inline constexpr std::uint64_t kOldFileTime = 126227808000000000ull;

// Makes every folder of path (a folder path) exist.
void make_folders(const std::wstring& path);

}  // namespace quorin::testing
