// Writes the attached data: the signature, one zstd frame holding the archive
// of entries, five zero bytes and the trailing length. Reads the input files
// and writes to an open file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <vector>

#include "packer/index_writer.h"
#include "packer/input_tree.h"
#include "packer/result.h"

namespace quorin::packer {

struct CompressOptions {
  int level = 9;
  int threads = 0;  // 0: every core
};

struct ArchiveStats {
  std::uint64_t files = 0;
  std::uint64_t archive_bytes = 0;    // the frame's content
  std::uint64_t attached_bytes = 0;   // the whole attached data
  unsigned window_log = 0;
  // A 64-bit hash of every entry's header (name, size, checksum): different
  // contents give different values, the same inputs the same one.
  std::uint64_t content_hash = 0;
  // Every entry's name, size and stored checksum, in the archive's order: its index.
  std::vector<IndexRecord> records;
};

// The 64-bit hash behind content_hash (FNV-1a over bytes, payload/fnv1a.h), continuing from hash (0 to start).
std::uint64_t content_hash_update(std::uint64_t hash, const void* data, std::size_t size);

// Called now and then with the archive bytes compressed so far.
using ProgressFn = std::function<void(std::uint64_t done, std::uint64_t total)>;

// The archive's length: every entry's fields and data, and the end marker.
std::uint64_t archive_size(const std::vector<InputFile>& files);

// The window for an archive of that size: the smallest power of two that holds
// it, at least 2^10 (zstd's least) and at most 2^27 (the launcher's decoder limit).
unsigned window_log_for(std::uint64_t archive_bytes);

// Writes the attached data at out's current position.
Result write_attached_data(const std::vector<InputFile>& files, const CompressOptions& options, std::FILE* out,
                           ArchiveStats& stats, const ProgressFn& progress);

}  // namespace quorin::packer
