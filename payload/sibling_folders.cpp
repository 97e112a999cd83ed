// The folders beside the target folder: other builds of the product, and
// the per-run folders of ended and killed runs. Talks to the system.
#include "payload/sibling_folders.h"

#include <windows.h>

#include <cstdlib>
#include <cwchar>

#include "generated/baked_layout.h"
#include "launcher/state.h"
#include "launcher/wide_text.h"
#include "payload/folder_lock.h"
#include "payload/folder_removal.h"

namespace quorin::payload {

namespace {

using launcher::kPathCap;

wchar_t g_leftover[kJoinedCap];
wchar_t g_pattern[kJoinedCap];

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

}  // namespace

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
  if (g_target_lock != INVALID_HANDLE_VALUE) {
    HANDLE lock = g_target_lock;
    g_target_lock = INVALID_HANDLE_VALUE;
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
