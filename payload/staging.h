// Staged placement of payload files: a file is written under a temporary name
// in its own folder and takes its real name in one step (a rename over it)
// only when it is complete and verified, so no file under its real name is
// ever partly written or damaged. Safe on any thread, each file and each
// placing thread with its own buffers. Talks to the system (files, processes).
#pragma once

#include <cstddef>
#include <cstdint>

#include "launcher/state.h"

namespace quorin::payload {

// How long placing one file keeps trying while its real name is in use by
// others (a reader, a scanner), and the first and the longest pause between tries.
inline constexpr unsigned long kPlaceRetryMilliseconds = 3000;
inline constexpr unsigned long kFirstRetryDelayMilliseconds = 5;
inline constexpr unsigned long kLongestRetryDelayMilliseconds = 250;

// A folder of at most 4095 units, a backslash and a name of at most 260.
inline constexpr std::size_t kBesideCap = launcher::kPathCap + 1 + 260;

// One file on its way into place: its real path, the temporary file beside
// it (open for writing and renaming until it is placed), and the size and
// checksum it must have.
struct StagedFile {
  wchar_t path[launcher::kPathCap];
  wchar_t staged_path[kBesideCap];
  void* staged;
  std::uint64_t size;
  std::uint32_t stored;
};

// What placing needs for itself on one thread: the rename request (a record,
// then the real path's units and a 0 unit), the name a file in the way was
// moved aside to, and a buffer for checking a file that turned up meanwhile
// (taken from the heap when first needed).
struct PlacingRoom {
  alignas(8) unsigned char rename[64 + launcher::kPathCap * sizeof(wchar_t)];
  wchar_t aside_path[kBesideCap];
  bool aside_made;
  unsigned char* check_buffer;
};

// Creates a new temporary file beside file.path for writing and makes it the
// current temporary file (errors/temporary_file.h). When it cannot be made:
// "Error, failed to open '<path>' for writing.", naming the real path, never
// the temporary name.
void open_staged_file(StagedFile& file);

// Moves the temporary file over its real path in one step (a rename through
// its handle, replacing what is there), then closes it. A refusal because
// the path is in use is met by checking it again (another launcher may have
// placed the same file: then it is kept and the temporary removed), by moving
// the old file aside (a running program or DLL can be renamed, not replaced),
// and by retrying with growing pauses for kPlaceRetryMilliseconds. False
// after that, or on any other refusal: the file
// moved aside is back where it can be and the temporary file is removed; the
// caller reports the open-for-writing message naming the real path.
bool place_staged_file(StagedFile& file, PlacingRoom& room);

// Closes and deletes the temporary file of a file that will not be placed.
void remove_staged_file(StagedFile& file);

// Deletes the temporary files in folder that runs which have ended left
// behind (killed, or a moved-aside program that has since ended). Names of
// any other form, folders, and the files of running launchers (this one
// among them) are left alone.
void remove_stale_temporaries(const wchar_t* folder);

// Once the child has ended: the programs this run moved aside that were
// still running when they were placed over (another start's child) are
// deleted now where they have ended too, and so are the temporaries of
// ended runs in the child's folder (child_folder), where the programs and
// DLLs that run lie: a program moved aside goes at the next start after it
// has ended, also one that writes nothing. What is still in use stays.
void remove_moved_aside(const wchar_t* child_folder);

}  // namespace quorin::payload
