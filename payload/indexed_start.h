// A start from the archive's index: the index says what the archive holds, so
// every file can be checked against the target directory without decoding the
// frame, on worker threads; a start that finds every file current creates no
// decoder at all. When some are not, the archive is decoded as without an
// index, every entry header must equal the index's entry, and the entries
// found current are skipped without a second check. Talks to the system
// (files, threads).
#pragma once

#include <cstdint>

#include "payload/entry.h"

namespace quorin::payload {

// At most this many threads check files, the main thread among them.
inline constexpr unsigned kCheckThreadCap = 4;

// Takes the index at data (length bytes) when it is sound and indexes attached
// data of attached_length bytes; false, and no index held, otherwise (a
// launcher without an index gives length 0).
bool index_take(const unsigned char* data, std::uint64_t length, std::uint64_t attached_length);
bool index_held();

// The index's total of data bytes (every entry's size added up); 0 without an index.
std::uint64_t index_data_bytes();

// Sets the child program path from the first entry (none for an empty
// archive), then checks every file the index names in the target directory:
// its size, then the CRC-32 of its content. True when every file is current.
// The worker threads have ended when it returns.
bool check_files_from_index();

// The index's entry count, whether entry i was found current, and whether a
// header read from the archive is the index's entry i (name, size, checksum).
std::uint64_t index_entry_count();
bool index_file_current(std::uint64_t i);
bool index_entry_matches(std::uint64_t i, const EntryHeader& header);

}  // namespace quorin::payload
