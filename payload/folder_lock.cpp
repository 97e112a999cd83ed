// The target folder's lock file, opened and locked.
#include "payload/folder_lock.h"

#include <cwchar>

#include "payload/temporary_name.h"
#include "payload/unpack.h"

namespace quorin::payload {

HANDLE g_target_lock = INVALID_HANDLE_VALUE;
wchar_t g_lock_path[kJoinedCap];

namespace {

// How long a start waits while a removal holds its folder's lock, and while
// the lock file cannot be opened (a removal has just deleted it, and it goes
// when the remover's handle closes); the pause between tries.
constexpr ULONGLONG kLockWaitMilliseconds = 2000;
constexpr ULONGLONG kOpenWaitMilliseconds = 250;
constexpr DWORD kLockPauseMilliseconds = 10;

// True when the lock file at g_lock_path is on its way out: deleted by a
// removal while open, its name refuses every open and every query
// (ERROR_ACCESS_DENIED) until the last handle closes. A folder the user may
// not write to refuses to create it (the name is missing) or lets the
// existing one be queried.
bool lock_file_going() {
  return GetFileAttributesW(g_lock_path) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_ACCESS_DENIED;
}

}  // namespace

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

void lock_target_folder(bool make_folder) {
  if (g_target_lock != INVALID_HANDLE_VALUE) return;
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
          g_target_lock = lock;
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

}  // namespace quorin::payload
