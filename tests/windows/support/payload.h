// Test support for the payload tests: archives and zstd frames written by
// hand (tests/common), CRC-32 forging, and snapshots of what a folder tree
// holds. Talks to the system.
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

using test_archive::attached_of;
using test_archive::Block;
using test_archive::frame_of;
using test_archive::pattern;
using test_archive::raw_blocks;
using test_archive::window_descriptor;

// Four bytes that, appended to data, give a CRC-32 of target.
std::string forge_crc_suffix(const std::string& data, std::uint32_t target);

// Sends this process's standard output to its standard error, so a death
// test can match a message that goes to standard output.
void stdout_to_stderr();

// What a tree holds: every file and folder below root (relative paths, folders
// ending in a backslash), with its size and last-write time; the target
// folder's record and lock at the top are left out (their own test checks them).
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

// The attached data around an archive: one hand-written frame of raw blocks.
std::string attached_archive(const std::vector<ArchiveEntry>& entries, bool end_marker = true);

// One start's worth of unpacking into target, in this process, as the
// launcher does it; and the same in a death test's process, ending with 0,
// its standard output sent to standard error for the test to match.
void unpack_into(const std::wstring& target, const std::string& attached);
[[noreturn]] void unpack_and_exit(const std::wstring& target, const std::string& attached);

// The launcher's temporary files below root (relative paths).
std::vector<std::wstring> temporaries_in(const std::wstring& root);

// The value of a count a long run sets in the environment (QUORIN_ROUNDS and
// the like), or fallback.
int count_from_env(const char* name, int fallback);

}  // namespace quorin::testing
