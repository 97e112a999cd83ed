// Placing written files on threads of their own: the main thread decodes,
// writes and verifies each file, then hands it over; placing threads move it
// over its real name (with the retries for a name in use) and close it, which
// is where an on-access scanner makes the system read it again. A failure to
// place any file is reported as when the main thread places it, before the
// child starts. Talks to the system (threads, files).
#pragma once

#include "payload/staging.h"

namespace quorin::payload {

// At most this many threads place files besides the main thread, and at
// most this many files are handed over and not yet placed.
inline constexpr unsigned kPlacingThreadCap = 4;
inline constexpr unsigned kPlacingSlotCount = 16;

// Room for the next file to write: its path, size and checksum are the
// caller's to fill before open_staged_file. Waits while every slot is
// handed over; a file that could not be placed is reported first.
StagedFile& next_staged_file();

// Hands the file (written, verified, the current temporary file) over to be
// placed; with no placing thread, places it now.
void hand_over(StagedFile& file);

// Waits until every file handed over is placed and the placing threads have
// ended; "Error, failed to open '<path>' for writing." for the first file in
// the archive's order that could not be placed.
void finish_placing();

}  // namespace quorin::payload
