// The target folder's record and lock, and the removal of per-run folders.
// Talks to the system (files, folders, byte-range locks).
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
#include "payload/folder_record.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "generated/baked_layout.h"
#include "launcher/state.h"
#include "launcher/wide_text.h"
#include "payload/index.h"
#include "payload/record.h"
#include "payload/staging.h"
#include "payload/temporary_name.h"
#include "payload/unpack.h"

namespace quorin::payload {

namespace {

using launcher::kPathCap;

// A folder of at most 4095 units, a backslash and an entry name of at most 1023.
constexpr std::size_t kJoinedCap = kPathCap + launcher::kNameCap;

// How long a start waits while a removal holds its folder's lock, and while
// the lock file cannot be opened (a removal has just deleted it, and it goes
// when the remover's handle closes); the pause between tries.
constexpr ULONGLONG kLockWaitMilliseconds = 2000;
constexpr ULONGLONG kOpenWaitMilliseconds = 250;
constexpr DWORD kLockPauseMilliseconds = 10;

// The record's temporary name takes serial 0, which placing never gives (its
// serials count from 1).
constexpr std::uint32_t kRecordSerial = 0;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The lock this launcher holds on its target folder, or none.
HANDLE g_lock = INVALID_HANDLE_VALUE;

// The index to record instead of this build's when files of an earlier build
// are still to be removed (index_union_write), or none; heap, kept until exit.
// When that index could not be made, the earlier build's record is kept.
unsigned char* g_union = nullptr;
std::uint64_t g_union_length = 0;
bool g_keep_record = false;
// The folder's record is this build's: found so, or written by this start.
bool g_record_current = false;

// Main thread only: the paths being worked on.
wchar_t g_lock_path[kJoinedCap];
wchar_t g_record_path[kJoinedCap];
wchar_t g_file_path[kJoinedCap];
wchar_t g_checked_folder[kJoinedCap];
wchar_t g_tried_folder[kJoinedCap];
wchar_t g_leftover[kJoinedCap];
wchar_t g_pattern[kJoinedCap];
wchar_t g_inner_pattern[kJoinedCap];
unsigned char g_compare[64 * 1024];
IndexEntry g_entry;

// dest = folder, a backslash and name[0, name_len); false, and dest empty,
// when it does not fit.
bool join(wchar_t* dest, const wchar_t* folder, const wchar_t* name, std::size_t name_len) {
  const std::size_t folder_len = std::wcslen(folder);
  dest[0] = L'\0';
  if (folder_len + 1 + name_len + 1 > kJoinedCap) return false;
  std::wmemcpy(dest, folder, folder_len);
  dest[folder_len] = L'\\';
  std::wmemcpy(dest + folder_len + 1, name, name_len);
  dest[folder_len + 1 + name_len] = L'\0';
  return true;
}

bool join(wchar_t* dest, const wchar_t* folder, const wchar_t* name) {
  return join(dest, folder, name, std::wcslen(name));
}

// Every launcher opens the lock file sharing everything, deletion included,
// so that none keeps another out and a removal can delete it while it holds
// it. The lock itself is a byte-range lock on its first byte (allowed past
// the end of a file), which the system drops with its process. LockFileEx
// needs read or write access; read alone opens a lock file in a folder the
// user may not write to. A launcher makes the lock file in its own target
// folder (creation OPEN_ALWAYS); in another run's folder it opens an
// existing one (OPEN_EXISTING), and makes one (CREATE_NEW) only where a
// record is found without it.
HANDLE open_lock(const wchar_t* folder, DWORD creation) {
  if (!join(g_lock_path, folder, kLockName)) return INVALID_HANDLE_VALUE;
  return CreateFileW(g_lock_path, GENERIC_READ, kShareAll, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// True when the lock file at g_lock_path is on its way out: deleted by a
// removal while open, its name refuses every open and every query
// (ERROR_ACCESS_DENIED) until the last handle closes. A folder the user may
// not write to refuses to create it (the name is missing) or lets the
// existing one be queried.
bool lock_file_going() {
  return GetFileAttributesW(g_lock_path) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_ACCESS_DENIED;
}

bool take_lock(HANDLE lock, DWORD flags) {
  OVERLAPPED at = {};
  return LockFileEx(lock, flags | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

void release_lock(HANDLE lock) {
  OVERLAPPED at = {};
  UnlockFileEx(lock, 0, 1, 0, &at);
}

bool is_plain_folder(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

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

// Removes from folder the files index names, then the folders they leave
// empty, deepest first. With keep, the names this build's index may also
// give stay (names_may_be_one_file). pending, when given, holds a flag for
// every entry, set for a name removed that is still there. True when every
// name to remove is gone.
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

// The folders beside the target folder whose names start with the literal
// prefix of its last component (earlier runs', other builds'), newest
// first, as a search of the parent lists them: at most kSiblingsListed.
constexpr std::size_t kSiblingsListed = 256;
struct SiblingFolder {
  wchar_t name[MAX_PATH];
  ULONGLONG written;  // the folder's last write: when its run or build placed its files
};
SiblingFolder g_siblings[kSiblingsListed];
wchar_t g_parent[kPathCap];

ULONGLONG as_number(const FILETIME& time) {
  return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Lists into g_siblings the folders g_parent\<prefix>* but the target
// folder, newest first, g_parent being the target folder's parent; their
// count.
std::size_t list_siblings(const expansion::PerRunSpec& shape) {
  launcher::copy_text(g_parent, kPathCap, launcher::g_target_directory);
  const wchar_t* own_name = std::wcsrchr(launcher::g_target_directory, L'\\');
  if (own_name == nullptr || own_name[1] == L'\0') return 0;
  ++own_name;
  launcher::cut_at_last_backslash(g_parent);
  if (!join(g_pattern, g_parent, shape.name_prefix, shape.name_prefix_len)) return 0;
  const std::size_t pattern_len = std::wcslen(g_pattern);
  if (pattern_len + 2 > kJoinedCap) return 0;
  g_pattern[pattern_len] = L'*';
  g_pattern[pattern_len + 1] = L'\0';
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileExW(g_pattern, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return 0;
  std::size_t count = 0;
  do {
    const wchar_t* name = found.cFileName;
    if (!is_plain_folder(found.dwFileAttributes)) continue;
    if (std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0 || _wcsicmp(name, own_name) == 0) continue;
    // The pattern also meets short names: the long name must start with the prefix.
    if (std::wcsncmp(name, shape.name_prefix, shape.name_prefix_len) != 0) continue;
    // Insertion by time, newest first; past the room, the oldest drop out
    // of this start's view and stay for a later one.
    const ULONGLONG written = as_number(found.ftLastWriteTime);
    std::size_t at = count;
    while (at > 0 && g_siblings[at - 1].written < written) --at;
    if (at == kSiblingsListed) continue;
    const std::size_t last = count < kSiblingsListed ? count : kSiblingsListed - 1;
    for (std::size_t i = last; i > at; --i) g_siblings[i] = g_siblings[i - 1];
    launcher::copy_text(g_siblings[at].name, MAX_PATH, name);
    g_siblings[at].written = written;
    if (count < kSiblingsListed) ++count;
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return count;
}

// Removes the folders listed in g_siblings, but the first keep of them that
// hold a sound record of this product: each with such a record and a lock no
// one holds, or one of the launcher's own names alone (with a lock file,
// unless any_unrecorded: a run's folder may be killed before it has one,
// while another build's always has it).
void remove_siblings(std::size_t listed, std::uint32_t keep, bool any_unrecorded, const wchar_t* company,
                     const wchar_t* product) {
  std::uint32_t kept = 0;
  for (std::size_t i = 0; i < listed; ++i) {
    if (!join(g_leftover, g_parent, g_siblings[i].name)) continue;
    // A folder without a record of this product is none of ours unless it
    // holds nothing but the launcher's own names: not even a lock file is
    // made in it.
    unsigned char* data = nullptr;
    RecordFields fields;
    if (!read_own_record(g_leftover, company, product, data, fields)) {
      remove_unrecorded_folder(g_leftover, !any_unrecorded);
      continue;
    }
    std::free(data);
    if (kept < keep) {
      ++kept;
      continue;
    }
    HANDLE lock = open_lock(g_leftover, OPEN_EXISTING);
    // A recorded folder without a lock file has no run in it: a run keeps
    // its lock file's name while it holds the lock (lock_target_folder).
    // The lock file is made again, so that this removal holds it as any.
    if (lock == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
      lock = open_lock(g_leftover, CREATE_NEW);
    }
    if (lock == INVALID_HANDLE_VALUE) continue;
    if (!take_lock(lock, LOCKFILE_EXCLUSIVE_LOCK)) {
      CloseHandle(lock);
      continue;
    }
    remove_recorded_folder(g_leftover, lock, company, product);
    // Its record gone meanwhile (its run removed it), what is left is the
    // launcher's own names at most.
    if (is_plain_folder(GetFileAttributesW(g_leftover))) remove_unrecorded_folder(g_leftover, !any_unrecorded);
  }
}

// True when the file at path holds exactly want[0, size).
bool file_holds(const wchar_t* path, const unsigned char* want, std::uint64_t size) {
  HANDLE file = CreateFileW(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER length = {};
  bool same = GetFileSizeEx(file, &length) && static_cast<std::uint64_t>(length.QuadPart) == size;
  for (std::uint64_t at = 0; same && at < size;) {
    const DWORD ask =
        size - at < sizeof g_compare ? static_cast<DWORD>(size - at) : static_cast<DWORD>(sizeof g_compare);
    DWORD got = 0;
    same = ReadFile(file, g_compare, ask, &got, nullptr) && got == ask && std::memcmp(g_compare, want + at, ask) == 0;
    at += ask;
  }
  CloseHandle(file);
  return same;
}

}  // namespace

void lock_target_folder(bool make_folder) {
  if (g_lock != INVALID_HANDLE_VALUE) return;
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    HANDLE lock = open_lock(launcher::g_target_directory, OPEN_ALWAYS);
    DWORD error = lock == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    bool made = false, lost = false;
    if (error == ERROR_PATH_NOT_FOUND && make_folder && ensure_parent_directories(g_lock_path)) {
      made = true;
      lock = open_lock(launcher::g_target_directory, OPEN_ALWAYS);
      error = lock == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    }
    if (error == ERROR_ACCESS_DENIED && !lock_file_going()) return;
    if (lock != INVALID_HANDLE_VALUE) {
      // The lock counts only while its file still has its name: a removal
      // that took the lock exclusively a moment before may have deleted it
      // (a folder of the launcher's own names: remove_unrecorded_folder).
      // Held, the lock keeps every removal from deleting it from now on.
      if (take_lock(lock, 0)) {
        if (GetFileAttributesW(g_lock_path) != INVALID_FILE_ATTRIBUTES) {
          g_lock = lock;
          return;
        }
        lost = true;
      }
      error = GetLastError();
      CloseHandle(lock);
    }
    // A removal holds the lock (a lock violation), or has deleted the lock
    // file, which refuses every open and query until it is gone, or has
    // removed the folder just made, as it held nothing yet: wait for it,
    // then the folder is made afresh. Any other refusal (a folder this user
    // may not write to, or none yet) is not waited for.
    const ULONGLONG waited = GetTickCount64() - start;
    if (error == ERROR_LOCK_VIOLATION) {
      if (waited >= kLockWaitMilliseconds) return;
    } else if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || lost ||
               (made && error == ERROR_PATH_NOT_FOUND)) {
      if (waited >= kOpenWaitMilliseconds) return;
    } else {
      return;
    }
    Sleep(kLockPauseMilliseconds);
  }
}

void remove_earlier_build(const wchar_t* company, const wchar_t* product, const unsigned char* index,
                          std::uint64_t index_length) {
  if (g_lock != INVALID_HANDLE_VALUE || index == nullptr) return;
  unsigned char* data = nullptr;
  RecordFields fields;
  const wchar_t* folder = launcher::g_target_directory;
  if (!is_plain_folder(GetFileAttributesW(folder)) || !read_own_record(folder, company, product, data, fields)) return;
  if (fields.digest == build_digest(index, index_length)) {
    // The record is this build's already: record_target_folder need not
    // read it a second time to find that out.
    g_record_current = true;
    std::free(data);
    return;
  }
  // The exclusive lock comes before any shared one: a process cannot turn
  // its shared lock into an exclusive one without letting go of it first,
  // and in that moment a removal could take the folder.
  HANDLE lock = open_lock(folder, OPEN_ALWAYS);
  if (lock != INVALID_HANDLE_VALUE && take_lock(lock, LOCKFILE_EXCLUSIVE_LOCK)) {
    // Read again under the lock: the one the removal keeps to.
    std::free(data);
    if (!read_own_record(folder, company, product, data, fields)) data = nullptr;
  } else {
    if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
    lock = INVALID_HANDLE_VALUE;
  }
  IndexHeader header;
  if (data != nullptr) index_check(fields.index, fields.index_length, header);
  auto* pending = data == nullptr ? nullptr : static_cast<unsigned char*>(std::calloc(header.entries + 1, 1));
  bool all_gone = true;
  // Without the room to track them, nothing is removed and the earlier
  // build's record stays as it is.
  if (data != nullptr && pending == nullptr) g_keep_record = true;
  if (pending != nullptr && lock != INVALID_HANDLE_VALUE) {
    all_gone = remove_index_names(folder, fields.index, fields.index_length, index, index_length, pending);
  } else if (pending != nullptr) {
    // Another start uses the folder: every file of the earlier build this
    // one has not stays, and stays named in the record for a later start.
    IndexEntry& entry = g_entry;
    std::uint64_t offset = kIndexHeaderSize;
    for (std::uint64_t i = 0; i < header.entries; ++i) {
      offset = index_read_entry(fields.index, offset, entry);
      if (!index_may_hold(index, index_length, entry.name, entry.name_len)) {
        pending[i] = 1;
        all_gone = false;
      }
    }
  }
  if (!all_gone) {
    const std::uint64_t size = index_union_size(index, index_length, fields.index, fields.index_length, pending);
    g_union = size == 0 ? nullptr : static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(size)));
    if (g_union != nullptr) {
      index_union_write(g_union, index, index_length, fields.index, fields.index_length, pending);
      g_union_length = size;
    } else {
      g_keep_record = true;
    }
  }
  std::free(pending);
  std::free(data);
  if (lock == INVALID_HANDLE_VALUE) return;
  // From exclusive to shared without a moment unlocked: the system lets the
  // holder of an exclusive lock take a shared one on the same range, and the
  // first unlock then lets go of the exclusive one. Where it refuses, the
  // lock is let go and taken shared again, as any start takes it.
  if (take_lock(lock, 0)) {
    release_lock(lock);
    g_lock = lock;
    return;
  }
  release_lock(lock);
  if (take_lock(lock, 0)) {
    g_lock = lock;
  } else {
    CloseHandle(lock);
  }
}

void record_target_folder(const wchar_t* company, const wchar_t* product, const unsigned char* index,
                          std::uint64_t index_length) {
  // Files of an earlier build still to be removed stay named in the record;
  // a record found or written to be this build's is not looked at again.
  if (g_keep_record || g_record_current) return;
  if (g_union != nullptr) {
    index = g_union;
    index_length = g_union_length;
  }
  const std::size_t company_len = std::wcslen(company), product_len = std::wcslen(product);
  const std::uint64_t size = record_size(company_len, product_len, index_length);
  // Without the lock, a record would let a removal take the folder in use.
  if (g_lock == INVALID_HANDLE_VALUE || index == nullptr || size == 0) return;
  auto* record = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(size)));
  if (record == nullptr) return;
  record_write(record, company, company_len, product, product_len, index, index_length);
  if (!join(g_record_path, launcher::g_target_directory, kRecordName)) {
    std::free(record);
    return;
  }
  if (file_holds(g_record_path, record, size)) {
    g_record_current = true;
    std::free(record);
    return;
  }
  static wchar_t staged[kJoinedCap];
  launcher::copy_text(staged, kJoinedCap, launcher::g_target_directory);
  launcher::append_unit(staged, kJoinedCap, L'\\');
  append_temporary_name(staged, kJoinedCap, GetCurrentProcessId(), kRecordSerial);
  HANDLE file = CreateFileW(staged, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    // At most kRecordSizeMax bytes: one write.
    const bool whole = WriteFile(file, record, static_cast<DWORD>(size), &written, nullptr) && written == size;
    CloseHandle(file);
    if (whole && MoveFileExW(staged, g_record_path, MOVEFILE_REPLACE_EXISTING)) {
      g_record_current = true;
    } else {
      DeleteFileW(staged);
    }
  }
  std::free(record);
}

void remove_other_builds(const expansion::PerRunSpec& per_build, std::uint32_t keep, const wchar_t* company,
                         const wchar_t* product) {
  if (!per_build.per_run || !per_build.in_last_component || keep == generated::kKeepEveryBuild) return;
  // A start with no more folders beside its own than it keeps reads no record.
  const std::size_t listed = list_siblings(per_build);
  if (listed > keep) remove_siblings(listed, keep, false, company, product);
}

void remove_per_run_folders(const expansion::PerRunSpec& per_run, const wchar_t* company, const wchar_t* product) {
  if (!per_run.per_run) return;
  // The shared lock is given up before the exclusive one is tried: another
  // process holding its own shared lock keeps the folder.
  if (g_lock != INVALID_HANDLE_VALUE) {
    HANDLE lock = g_lock;
    g_lock = INVALID_HANDLE_VALUE;
    release_lock(lock);
    if (take_lock(lock, LOCKFILE_EXCLUSIVE_LOCK)) {
      remove_recorded_folder(launcher::g_target_directory, lock, company, product);
    } else {
      CloseHandle(lock);
    }
  }
  // The folders earlier runs left beside it (killed launchers).
  if (per_run.in_last_component) remove_siblings(list_siblings(per_run), 0, true, company, product);
}

}  // namespace quorin::payload
