#include "payload/folder_removal.h"

#include <cstdlib>
#include <cwchar>

#include "launcher/state.h"
#include "launcher/wide_text.h"
#include "payload/folder_lock.h"
#include "payload/index.h"
#include "payload/staging.h"
#include "payload/temporary_name.h"

namespace quorin::payload {

namespace {

using launcher::kPathCap;

// Main thread only: the paths being worked on.
wchar_t g_record_path[kJoinedCap];
wchar_t g_file_path[kJoinedCap];
wchar_t g_checked_folder[kJoinedCap];
wchar_t g_tried_folder[kJoinedCap];
wchar_t g_inner_pattern[kJoinedCap];
IndexEntry g_entry;

// The record in folder, read whole into a heap buffer the caller frees;
// nullptr when there is none or it cannot be read.
unsigned char* read_record(const wchar_t* folder, std::uint64_t& length) {
  if (!join(g_record_path, folder, kRecordName)) return nullptr;
  HANDLE file = CreateFileW(g_record_path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  LARGE_INTEGER size = {};
  unsigned char* data = nullptr;
  if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && static_cast<std::uint64_t>(size.QuadPart) <= kRecordSizeMax) {
    length = static_cast<std::uint64_t>(size.QuadPart);
    data = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(length)));
    DWORD got = 0;
    // The size is at most kRecordSizeMax, within one read's DWORD; a short
    // read is a record changed meanwhile, taken for none.
    if (data != nullptr && (!ReadFile(file, data, static_cast<DWORD>(length), &got, nullptr) || got != length)) {
      std::free(data);
      data = nullptr;
    }
  }
  CloseHandle(file);
  return data;
}

// Clears away the temporaries of ended runs in folder; its paths must leave
// room for a temporary's name beside it.
void remove_temporaries_in(const wchar_t* folder) {
  if (std::wcslen(folder) < kPathCap) remove_stale_temporaries(folder);
}

// The way from the removed folder down to a file: every folder on it plain
// (no reparse point), one of them missing (the file is gone with it), or
// blocked by a link or a file where a folder should be.
enum class Way { kPlain, kGone, kBlocked };

// The way from the folder (folder_len units of path) to the file at path.
// The last folder checked is remembered with its answer, as names of one
// folder come together; with clear, its temporaries of ended runs go when it
// is first met.
Way check_way(const wchar_t* path, std::size_t folder_len, Way& last_way, bool clear) {
  std::size_t parent_len = std::wcslen(path);
  while (parent_len > folder_len && path[parent_len] != L'\\') --parent_len;
  if (parent_len <= folder_len) return Way::kPlain;  // a file at the top
  if (std::wcsncmp(g_checked_folder, path, parent_len) == 0 && g_checked_folder[parent_len] == L'\0') {
    return last_way;
  }
  std::wmemcpy(g_checked_folder, path, parent_len);
  g_checked_folder[parent_len] = L'\0';
  last_way = Way::kPlain;
  for (std::size_t at = folder_len + 1; at <= parent_len && last_way == Way::kPlain; ++at) {
    if (at != parent_len && g_checked_folder[at] != L'\\') continue;
    const wchar_t kept = g_checked_folder[at];
    g_checked_folder[at] = L'\0';
    const DWORD attributes = GetFileAttributesW(g_checked_folder);
    const DWORD error = GetLastError();
    g_checked_folder[at] = kept;
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      last_way = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Way::kGone : Way::kBlocked;
    } else if (!is_plain_folder(attributes)) {
      last_way = Way::kBlocked;
    }
  }
  if (clear && last_way == Way::kPlain) remove_temporaries_in(g_checked_folder);
  return last_way;
}

// True when nothing is at path: the name, or a folder on its way, is missing.
bool name_is_gone(const wchar_t* path) {
  if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) return false;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Deletes the file at path: a link as a link, never what it leads to; a
// folder (no file of ours) stays, and so does a file in use or read-only.
// True when nothing is left under the name. A deletion the system accepts
// may leave the name until another handle on the file closes (a process
// still ending, a scanner): Windows without POSIX deletion, and Wine 8.0,
// which lets the name be opened and queried until then. Only a name that is
// gone counts, so the record that lets a later start finish stays meanwhile.
bool remove_named(const wchar_t* path) {
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  bool deleted = false;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // RemoveDirectoryW and DeleteFileW remove a junction or symbolic link
    // itself, never its target.
    deleted = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? RemoveDirectoryW(path) != 0 : DeleteFileW(path) != 0;
  } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    deleted = DeleteFileW(path) != 0;
  }
  return deleted && name_is_gone(path);
}


// Removes the empty folders on the way from the top of folder (folder_len
// units of path) down to path's own folder, deepest first, stopping at the
// first that stays; one that is missing (a run killed while it made them)
// is passed by. The last folder tried is remembered: a second try of it
// gives what the first gave.
void remove_empty_folders(const wchar_t* path, std::size_t folder_len) {
  std::size_t len = std::wcslen(path);
  while (len > folder_len && path[len] != L'\\') --len;
  while (len > folder_len) {
    if (std::wcsncmp(g_tried_folder, path, len) == 0 && g_tried_folder[len] == L'\0') return;
    std::wmemcpy(g_tried_folder, path, len);
    g_tried_folder[len] = L'\0';
    if (!name_is_gone(g_tried_folder) &&
        (!is_plain_folder(GetFileAttributesW(g_tried_folder)) || !RemoveDirectoryW(g_tried_folder))) {
      return;
    }
    --len;
    while (len > folder_len && path[len] != L'\\') --len;
  }
}

constexpr int kEmptyFolderTries = 20;
constexpr DWORD kEmptyFolderPauseMilliseconds = 10;

// Removes folder, emptied of everything but the lock file just deleted:
// another start looking at the lock for a moment keeps its name until it
// lets go, so the folder is tried up to tries times. What stays is a later
// start's to remove (remove_unrecorded_folder).
void remove_empty_run_folder(const wchar_t* folder, int tries) {
  for (int tried = 1; !RemoveDirectoryW(folder) && GetLastError() == ERROR_DIR_NOT_EMPTY && tried < tries; ++tried) {
    Sleep(kEmptyFolderPauseMilliseconds);
  }
}

// True when name is the lock file's, in any letter case (the name rule
// refuses it so: no entry has it).
bool is_lock_name(const wchar_t* name) {
  const std::size_t len = std::wcslen(kLockName);
  if (std::wcslen(name) != len) return false;
  for (std::size_t i = 0; i < len; ++i) {
    if (launcher::ascii_lower(name[i]) != kLockName[i]) return false;
  }
  return true;
}

// True when folder holds no folder and no name but the lock file's and,
// with temporaries, names of the temporary form: names the entry-name rule
// refuses, which no application's file and no user's file placed through
// one can have. has_lock tells whether the lock file is there.
bool holds_only_launcher_names(const wchar_t* folder, bool temporaries, bool& has_lock) {
  has_lock = false;
  if (!join(g_inner_pattern, folder, L"*", 1)) return false;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileExW(g_inner_pattern, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  // A folder always lists "." and "..": no answer is no look inside.
  if (search == INVALID_HANDLE_VALUE) return false;
  bool only = true;
  do {
    const wchar_t* name = found.cFileName;
    if (std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0) continue;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      only = false;
    } else if (is_lock_name(name)) {
      has_lock = true;
    } else if (!temporaries || !is_temporary_name(name, std::wcslen(name))) {
      only = false;
    }
  } while (only && FindNextFileW(search, &found));
  FindClose(search);
  return only;
}

}  // namespace

// True when folder holds a sound record of this product; fields point into
// *data, which the caller frees (nullptr when false).
bool read_own_record(const wchar_t* folder, const wchar_t* company, const wchar_t* product, unsigned char*& data,
                     RecordFields& fields) {
  std::uint64_t length = 0;
  data = read_record(folder, length);
  if (data != nullptr && record_parse(data, length, fields) &&
      record_names_product(fields, company, std::wcslen(company), product, std::wcslen(product))) {
    return true;
  }
  std::free(data);
  data = nullptr;
  return false;
}

bool remove_index_names(const wchar_t* folder, const unsigned char* index, std::uint64_t index_length,
                        const unsigned char* keep, std::uint64_t keep_length, unsigned char* pending) {
  IndexHeader header;
  index_check(index, index_length, header);
  // Where each entry starts, for the walk back up; without the room, the
  // files go and the folders stay.
  auto* offsets = static_cast<std::uint64_t*>(std::calloc(header.entries + 1, sizeof(std::uint64_t)));
  const std::size_t folder_len = std::wcslen(folder);
  g_checked_folder[0] = L'\0';
  Way last_way = Way::kPlain;
  bool all_gone = true;
  std::uint64_t offset = kIndexHeaderSize;
  for (std::uint64_t i = 0; i < header.entries; ++i) {
    if (offsets != nullptr) offsets[i] = offset;
    offset = index_read_entry(index, offset, g_entry);
    if (keep != nullptr && index_may_hold(keep, keep_length, g_entry.name, g_entry.name_len)) {
      if (offsets != nullptr) offsets[i] = UINT64_MAX;
      continue;
    }
    bool gone = false;
    if (join(g_file_path, folder, g_entry.name, g_entry.name_len)) {
      const Way way = check_way(g_file_path, folder_len, last_way, true);
      gone = way == Way::kGone || (way == Way::kPlain && remove_named(g_file_path));
    }
    if (!gone) {
      all_gone = false;
      if (pending != nullptr) pending[i] = 1;
    }
  }
  // Folders are removed only down a way checked again to be plain, up to
  // where it may end (a folder missing): a junction's target is never
  // emptied.
  g_checked_folder[0] = L'\0';
  g_tried_folder[0] = L'\0';
  for (std::uint64_t i = header.entries; offsets != nullptr && i > 0; --i) {
    if (offsets[i - 1] == UINT64_MAX) continue;
    index_read_entry(index, offsets[i - 1], g_entry);
    if (join(g_file_path, folder, g_entry.name, g_entry.name_len) &&
        check_way(g_file_path, folder_len, last_way, false) != Way::kBlocked) {
      remove_empty_folders(g_file_path, folder_len);
    }
  }
  std::free(offsets);
  return all_gone;
}

void remove_unrecorded_folder(const wchar_t* folder, bool lock_file_needed) {
  bool had_lock = false;
  if (!holds_only_launcher_names(folder, true, had_lock) || (lock_file_needed && !had_lock)) return;
  HANDLE lock = INVALID_HANDLE_VALUE;
  if (had_lock) {
    lock = open_lock(folder, OPEN_EXISTING);
    if (lock == INVALID_HANDLE_VALUE) return;
    if (!take_lock(lock, LOCKFILE_EXCLUSIVE_LOCK)) {
      CloseHandle(lock);
      return;
    }
  }
  remove_temporaries_in(folder);
  // Looked at again under the lock: a temporary of a run still going stays,
  // and so does the folder with it; a lock file that came meanwhile is a
  // new run's.
  bool has_lock = false;
  if (!holds_only_launcher_names(folder, false, has_lock) || (has_lock && !had_lock)) {
    if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
    return;
  }
  // Deleted while held, as in remove_recorded_folder.
  if (has_lock) DeleteFileW(g_lock_path);
  if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
  // Without a lock file, a folder that is not empty is a new run's.
  remove_empty_run_folder(folder, had_lock ? kEmptyFolderTries : 1);
}

// Removes what the record names from folder, whose lock this process holds
// exclusively through lock (closed here); when every name is gone, then the
// record, the lock and the folder itself when nothing else is left in it.
// A name that stays (a file in use) keeps the record for a later start.
void remove_recorded_folder(const wchar_t* folder, HANDLE lock, const wchar_t* company, const wchar_t* product) {
  unsigned char* data = nullptr;
  RecordFields fields;
  // The record is read again under the lock: it is the one the removal keeps to.
  if (!is_plain_folder(GetFileAttributesW(folder)) || !read_own_record(folder, company, product, data, fields)) {
    CloseHandle(lock);
    return;
  }
  const bool all_gone = remove_index_names(folder, fields.index, fields.index_length, nullptr, 0, nullptr);
  std::free(data);
  remove_temporaries_in(folder);
  // The record goes before the lock file: a removal cut short after it
  // leaves a folder of the launcher's own names alone, which a later start
  // removes as such (remove_unrecorded_folder). A record that stays keeps
  // the lock file with it.
  if (!all_gone || !join(g_record_path, folder, kRecordName) || !DeleteFileW(g_record_path)) {
    CloseHandle(lock);
    return;
  }
  // The lock file goes while it is still held, so no one can take a lock on
  // it in between; it disappears when the last handle closes.
  if (join(g_lock_path, folder, kLockName)) DeleteFileW(g_lock_path);
  CloseHandle(lock);
  remove_empty_run_folder(folder, kEmptyFolderTries);
}

}  // namespace quorin::payload
