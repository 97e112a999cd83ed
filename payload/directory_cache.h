// The cache of directories known to exist: at most 1024 heap copies of paths,
// appended in order and never removed, replaced or freed. Entry 0 is the
// user's profile folder, put there by the extraction when it first needs a
// directory. Pure code: the heap only.
#pragma once

namespace quorin::payload {

inline constexpr int kDirectoryCacheCap = 1024;

// True when the cache holds path, compared unit by unit: letter case counts
// and separators are not normalised. (An index finds it without comparing
// every entry.)
bool directory_cache_holds(const wchar_t* path);

// Appends a heap copy of path when the cache has room. A copy that cannot be
// made is not remembered: a null entry would break every later comparison.
void directory_cache_remember(const wchar_t* path);

// The folders this run made itself, beyond the cache's limit: 64-bit hashes
// of their paths in a table of 65,536 slots, filled to half at the most (a
// folder that finds no room is simply not remembered). A folder this run made
// holds no temporary file of an ended run and is no link planted there, so it
// needs no clearing and no check when it is met again after the cache has
// forgotten it.
void made_folders_remember(const wchar_t* path);
bool made_folders_holds(const wchar_t* path);

// How many directories the cache holds, and the one at index (in the order
// they were remembered; null outside 0 .. count - 1).
int directory_cache_count();
const wchar_t* directory_cache_entry(int index);

}  // namespace quorin::payload
