// Staged placement of payload files: a file is written under a temporary name
// in its own folder and takes its real name in one step (a rename over it)
// only when it is complete and verified, so no file under its real name is
// ever partly written or damaged. Talks to the system (files, processes).
#pragma once

#include <cstdint>

namespace quorin::payload {

// How long placing one file keeps trying while its real name is in use by
// others (a reader, a scanner), and the first and the longest pause between tries.
inline constexpr unsigned long kPlaceRetryMilliseconds = 3000;
inline constexpr unsigned long kFirstRetryDelayMilliseconds = 5;
inline constexpr unsigned long kLongestRetryDelayMilliseconds = 250;

// Creates a new temporary file beside path for writing and makes it the
// current temporary file (errors/temporary_file.h); returns its handle. When
// it cannot be made: "Error, failed to open '<path>' for writing.", naming
// path, never the temporary name.
void* open_staged_file(const wchar_t* path);

// Moves the temporary file over path in one step (a rename through its handle,
// replacing what is there), then closes it. A refusal because path is
// in use is met by checking path again (another launcher may have placed the
// same file: then it is kept and the temporary removed), by moving the old
// file aside (a running program or DLL can be renamed, not replaced), and by
// retrying with growing pauses for kPlaceRetryMilliseconds; after that, or on
// any other refusal, the open-for-writing message naming path.
void place_staged_file(const wchar_t* path, std::uint64_t size, std::uint32_t stored);

// Deletes the temporary files in folder that runs which have ended left
// behind (killed, or a moved-aside program that has since ended). Names of
// any other form, folders, and the files of running launchers are left alone.
void remove_stale_temporaries(const wchar_t* folder);

}  // namespace quorin::payload
