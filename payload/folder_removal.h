// Removal of what a folder's record names: the files a build placed, the
// folders they leave empty, and, when all is gone, the record, the lock file
// and the folder itself. Talks to the system (files, folders, locks).
//
// Removal keeps to these rules, whatever the folder holds:
//   - nothing is removed from a folder without a sound record of this
//     product, nor from one whose lock another process holds (an exclusive
//     lock is tried, never waited for); the one exception is a folder of the
//     per-run shape that holds nothing at all but the lock file and
//     temporaries, names the entry-name rule refuses (no one's data can have
//     them), which goes when its lock can be had;
//   - only the names the record's index gives, the record, the lock and the
//     launcher's temporaries of ended runs are deleted, then the folders that
//     are empty, deepest first; in a fixed folder another build placed, only
//     the names of its record this build's index may not give, and those
//     that stay are named in this build's record;
//   - no reparse point (junction, symbolic link) is followed: a name whose
//     way leads through one is skipped, and a name that is one is removed as
//     a link;
//   - a name that stays (a file in use, a link in the way, a deletion still
//     pending) keeps the record and the lock file for a later start;
//   - the record goes before the lock file, and both before the folder, so
//     that a removal cut short by a kill leaves the record, or the
//     launcher's own names alone, for the next start to finish with.
#pragma once

#include <windows.h>

#include <cstdint>

#include "payload/record.h"

namespace quorin::payload {

// True when folder holds a sound record of this product; fields point into
// *data, which the caller frees (nullptr when false).
bool read_own_record(const wchar_t* folder, const wchar_t* company, const wchar_t* product, unsigned char*& data,
                     RecordFields& fields);

// Removes from folder the files index names, then the folders they leave
// empty, deepest first. With keep, the names this build's index may also
// give stay (names_may_be_one_file). pending, when given, holds a flag for
// every entry, set for a name removed that is still there. True when every
// name to remove is gone.
bool remove_index_names(const wchar_t* folder, const unsigned char* index, std::uint64_t index_length,
                        const unsigned char* keep, std::uint64_t keep_length, unsigned char* pending);

// A folder of the per-run shape without a record of this product: what a
// run killed before its record was written (a lock file, the record's
// temporary) or after its removal deleted the record (a lock file, or
// nothing) leaves. Removed only when it holds nothing but the launcher's own
// names and no one holds its lock; the lock taken exclusively keeps out a
// run that has just made the folder and its lock file. A run that has made
// the folder and not yet its lock file finds the folder gone and makes it
// again (lock_target_folder). With lock_file_needed, only a folder that
// holds the lock file goes: another build's folder, whose first start makes
// it empty and fills it before it has a lock file, and whose removal cut
// short after the record leaves the lock file.
void remove_unrecorded_folder(const wchar_t* folder, bool lock_file_needed);

// Removes what the record names from folder, whose lock this process holds
// exclusively through lock (closed here); when every name is gone, then the
// record, the lock and the folder itself when nothing else is left in it.
// A name that stays (a file in use) keeps the record for a later start.
void remove_recorded_folder(const wchar_t* folder, HANDLE lock, const wchar_t* company, const wchar_t* product);

}  // namespace quorin::payload
