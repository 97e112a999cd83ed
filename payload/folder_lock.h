// The target folder's lock: a byte-range lock on the first byte of its lock
// file, which every launcher that uses the folder holds shared from before
// it checks the folder until its child has ended, and a removal takes
// exclusively, never waiting for it. The system drops a lock with its
// process, also when it is killed. Also the path joining the folder files
// share. Talks to the system.
#pragma once

#include <windows.h>

#include <cstddef>

#include "launcher/state.h"

namespace quorin::payload {

// A folder of at most 4095 units, a backslash and an entry name of at most 1023.
constexpr std::size_t kJoinedCap = launcher::kPathCap + launcher::kNameCap;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The lock this launcher holds on its target folder, or none.
extern HANDLE g_target_lock;

// The lock file's path open_lock last joined (main thread only).
extern wchar_t g_lock_path[kJoinedCap];

// dest = folder, a backslash and name[0, name_len); false, and dest empty,
// when it does not fit.
bool join(wchar_t* dest, const wchar_t* folder, const wchar_t* name, std::size_t name_len);
bool join(wchar_t* dest, const wchar_t* folder, const wchar_t* name);

// A folder, and no reparse point (junction, symbolic link).
bool is_plain_folder(DWORD attributes);

// Opens the lock file of folder (its path in g_lock_path) with creation
// (OPEN_ALWAYS, OPEN_EXISTING or CREATE_NEW).
HANDLE open_lock(const wchar_t* folder, DWORD creation);

// Takes the lock (LOCKFILE_EXCLUSIVE_LOCK in flags, or shared) without
// waiting for it; releases it.
bool take_lock(HANDLE lock, DWORD flags);
void release_lock(HANDLE lock);

// Opens the lock file in launcher::g_target_directory and takes a shared
// lock on it, unless this process holds it already. A folder that is not
// there yet is made only with make_folder (a per-run folder, whose record
// goes in before any file); otherwise it is left to placing: with no record
// in it, no removal can take it until this launcher has placed its files and
// locks it then. While a removal holds the folder it waits, for a short
// while, and a per-run folder that a removal took while it was still empty
// is made again; a lock that cannot be had leaves the start to go on without one,
// and then it writes no record and removes nothing of its folder.
void lock_target_folder(bool make_folder);

}  // namespace quorin::payload
