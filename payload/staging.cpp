// Staged placement of payload files, and clearing away the temporaries of
// ended runs. Talks to the system (files, folders, processes).
#include "payload/staging.h"

#include <windows.h>

#include <cwchar>

#include "errors/fatal.h"
#include "errors/temporary_file.h"
#include "launcher/wide_text.h"
#include "payload/temporary_name.h"
#include "payload/unpack.h"

namespace quorin::payload {

namespace {

using launcher::kPathCap;

// A folder of at most 4095 units, a backslash and a name of at most 260.
constexpr std::size_t kBesideCap = kPathCap + 1 + MAX_PATH;

wchar_t g_staged_path[kBesideCap];
HANDLE g_staged = INVALID_HANDLE_VALUE;
// The rename request: the record, then the real path's units and a 0 unit.
alignas(FILE_RENAME_INFO) unsigned char g_rename[sizeof(FILE_RENAME_INFO) + kPathCap * sizeof(wchar_t)];
wchar_t g_aside_path[kBesideCap];
bool g_aside_made = false;
std::uint32_t g_serial = 0;

// A run that outlives its file by more than this is taken for a later process
// that was given the same number: the clocks of file times and process times
// may lag each other by a timer tick.
constexpr ULONGLONG kReusedNumberMargin = 10000000;  // 1 s in 100 ns units

// dest = the folder of path, a backslash and a fresh temporary name.
void make_beside(wchar_t* dest, const wchar_t* path) {
  launcher::copy_text(dest, kBesideCap, path);
  launcher::cut_at_last_backslash(dest);
  launcher::append_unit(dest, kBesideCap, L'\\');
  append_temporary_name(dest, kBesideCap, GetCurrentProcessId(), ++g_serial);
}

bool is_directory(const wchar_t* path) {
  const DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A refusal that can pass: someone else has the file open, locked, mapped (a
// launcher taking its checksum) or running.
bool is_in_use(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_USER_MAPPED_FILE;
}

// Deletes one of our temporary files; a read-only one (a program moved aside
// keeps its attributes) once its attribute is cleared. A file still in use
// stays for a later run.
void delete_temporary(const wchar_t* path) {
  if (DeleteFileW(path) || GetLastError() != ERROR_ACCESS_DENIED) return;
  if (SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL)) DeleteFileW(path);
}

// Renames the file at path to a temporary name beside it, never over another
// file. False when the system refuses (a reader without delete sharing).
bool move_aside(const wchar_t* path) {
  if (g_aside_made) delete_temporary(g_aside_path);
  g_aside_made = false;
  for (int tries = 0; tries < 4; ++tries) {
    make_beside(g_aside_path, path);
    if (MoveFileExW(path, g_aside_path, 0)) {
      g_aside_made = true;
      return true;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  return false;
}

ULONGLONG as_number(const FILETIME& time) {
  return static_cast<ULONGLONG>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

// True when the process that made a temporary file last written at written
// cannot be running any more.
bool run_has_ended(std::uint32_t process, const FILETIME& written) {
  // This process holds no temporary file while it clears a folder: a name
  // with its number is from an earlier process that had the same number.
  if (process == GetCurrentProcessId()) return true;
  HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, process);
  // No such process; any other refusal (another user's process) counts as running.
  if (handle == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
  bool ended = WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
  FILETIME created, exited, kernel, user;
  if (!ended && GetProcessTimes(handle, &created, &exited, &kernel, &user)) {
    ended = as_number(created) > as_number(written) + kReusedNumberMargin;
  }
  CloseHandle(handle);
  return ended;
}

// Moves the open temporary file over path in one step, through its handle:
// what MoveFileExW with MOVEFILE_REPLACE_EXISTING does by name, without
// opening it again by name (under Wine that open costs as much as the rename).
bool rename_staged_over(const wchar_t* path) {
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(g_rename);
  const std::size_t len = std::wcslen(path);
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(len * sizeof(wchar_t));
  std::wmemcpy(info->FileName, path, len + 1);
  return SetFileInformationByHandle(g_staged, FileRenameInfo, info,
                                    static_cast<DWORD>(sizeof(FILE_RENAME_INFO) + len * sizeof(wchar_t))) != FALSE;
}

// Puts a file moved aside back under its name where that is still free, then
// reports that the file cannot be placed.
[[noreturn]] void give_up_placing(const wchar_t* path) {
  if (g_aside_made) MoveFileExW(g_aside_path, path, 0);
  errors::fail_open_for_writing(path);
}

}  // namespace

void* open_staged_file(const wchar_t* path) {
  // A fresh name is tried again only when one of an earlier process with
  // our number is in the way.
  for (int tries = 0; tries < 4; ++tries) {
    make_beside(g_staged_path, path);
    // Others may only write, as for any file being written, and not delete
    // it; DELETE access lets this handle rename it. CREATE_NEW never opens a
    // file that is already there.
    g_staged = CreateFileW(g_staged_path, GENERIC_WRITE | DELETE, FILE_SHARE_WRITE, nullptr, CREATE_NEW, 0, nullptr);
    if (g_staged != INVALID_HANDLE_VALUE) {
      errors::hold_temporary_file(g_staged_path, g_staged);
      return g_staged;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  errors::fail_open_for_writing(path);
}

void place_staged_file(const wchar_t* path, std::uint64_t size, std::uint32_t stored) {
  g_aside_made = false;
  unsigned long slept = 0;
  unsigned long delay = kFirstRetryDelayMilliseconds;
  // The file stays open, and so out of others' reach, until it has its name.
  for (;;) {
    if (rename_staged_over(path)) break;
    // A folder never turns into a file, and other refusals do not pass.
    if (!is_in_use(GetLastError()) || is_directory(path)) give_up_placing(path);
    // Another launcher of the same build may have placed it in the meantime
    // (its child may be running it already).
    if (existing_checksum(path, size) == stored) {
      errors::remove_temporary_file();
      g_staged = INVALID_HANDLE_VALUE;
      return;
    }
    // A running program or a loaded DLL cannot be overwritten or replaced,
    // but it can be renamed: the old one goes aside and keeps running.
    if (move_aside(path) && rename_staged_over(path)) break;
    if (slept >= kPlaceRetryMilliseconds) give_up_placing(path);
    Sleep(delay);
    slept += delay;
    delay = delay * 2 < kLongestRetryDelayMilliseconds ? delay * 2 : kLongestRetryDelayMilliseconds;
  }
  CloseHandle(g_staged);
  g_staged = INVALID_HANDLE_VALUE;
  errors::forget_temporary_file();
  if (g_aside_made) delete_temporary(g_aside_path);
  g_aside_made = false;
}

void remove_stale_temporaries(const wchar_t* folder) {
  static wchar_t pattern[kBesideCap];
  static wchar_t found_path[kBesideCap];
  launcher::copy_text(pattern, kBesideCap, folder);
  launcher::append_text(pattern, kBesideCap, L"\\~quorin-*.tmp");
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    // The pattern also meets short names and near forms: only our exact
    // form, as a file, is ever deleted.
    std::uint32_t process = 0;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    if (!temporary_name_process(found.cFileName, process)) continue;
    if (!run_has_ended(process, found.ftLastWriteTime)) continue;
    launcher::copy_text(found_path, kBesideCap, folder);
    launcher::append_unit(found_path, kBesideCap, L'\\');
    launcher::append_text(found_path, kBesideCap, found.cFileName);
    delete_temporary(found_path);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

}  // namespace quorin::payload
