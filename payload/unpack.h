// Extraction: walks the archive entry by entry and makes the target directory
// hold every payload file, skipping files already current. Talks to the system.
#pragma once

#include <cstdint>

namespace quorin::payload {

// Unpacks every entry into launcher::g_target_directory; the first entry's
// path becomes launcher::g_child_program_path. Returns after the end marker.
// A file that is not current is written under a temporary name beside it,
// checksummed as it is written and placed over its real name only when the
// checksum is the stored one (payload/staging.h); otherwise "Error, couldn't
// decode attached data." and the real name keeps what it had.
// while_unpacking, when given, is called after every piece of data (at most
// the reader's window) written or found current: a check that costs nothing
// beside it, such as whether the progress window is due.
void unpack_payload(void (*while_unpacking)() = nullptr);

// How many of the archive's data bytes unpack_payload has gone through so
// far, written or found current: the progress window's count, read from its
// own thread while the main thread unpacks.
std::uint64_t unpacked_bytes();

// The checksum of the file at path (CRC-32, 0 stored as 1) when it is a file
// of expected_size bytes; 0 when it is missing, unreadable or of another length.
std::uint32_t existing_checksum(const wchar_t* path, std::uint64_t expected_size);

// True when the directory exists afterwards. Remembers the directories it has
// seen in the directory cache, seeded with the user's profile folder. A
// directory that was already there has the temporaries of ended runs removed.
// False for a folder below the target directory that was there before this
// run and is a link (a symbolic link or junction): it is not followed.
bool ensure_directory(const wchar_t* path);

// Makes every directory above file_path exist: deepest first, climbing only
// where a directory cannot be created, up to the target directory; below it
// from the top down. A folder below the target directory that is a link
// stops the start with "Error, failed to open '<file_path>' for writing.":
// nothing is written, made or cleared where it points. The target directory
// and the folders above it may be links (a cache moved that way).
bool ensure_parent_directories(const wchar_t* file_path);

}  // namespace quorin::payload
