// Staged placement of payload files, and clearing away the temporaries of
// ended runs. Talks to the system (files, folders, processes).
#include "payload/staging.h"

#include <windows.h>

#include <cstdlib>
#include <cwchar>

#include "errors/fatal.h"
#include "errors/temporary_file.h"
#include "launcher/wide_text.h"
#include "payload/file_checksum.h"
#include "payload/temporary_name.h"

namespace quorin::payload {

namespace {

static_assert(sizeof(FILE_RENAME_INFO) <= 64 && alignof(FILE_RENAME_INFO) <= 8,
              "the rename request's record fits the room kept for it");

// Every temporary name this process makes has a serial of its own, whichever
// thread makes it.
volatile LONG g_serial = 0;

// A run that outlives its file by more than this is taken for a later process
// that was given the same number: the clocks of file times and process times
// may lag each other by a timer tick.
constexpr ULONGLONG kReusedNumberMargin = 10000000;  // 1 s in 100 ns units

// dest = the folder of path, a backslash and a fresh temporary name.
void make_beside(wchar_t* dest, const wchar_t* path) {
  launcher::copy_text(dest, kBesideCap, path);
  launcher::cut_at_last_backslash(dest);
  launcher::append_unit(dest, kBesideCap, L'\\');
  append_temporary_name(dest, kBesideCap, GetCurrentProcessId(),
                        static_cast<std::uint32_t>(InterlockedIncrement(&g_serial)));
}

// How many fresh temporary names are tried for one file before giving up:
// beyond any count of names that an earlier process with our number left,
// and beyond a folder of names of that form planted to stop every repair.
constexpr int kFreshNameTries = 65536;

// True when a create or rename refused the temporary name at path because
// something has it: a file or a folder (ERROR_FILE_EXISTS from CREATE_NEW,
// ERROR_ALREADY_EXISTS from a rename, under Wine 8.0 as on Windows), or a
// file whose deletion is pending, which Windows answers with
// ERROR_ACCESS_DENIED while the name is still there.
bool is_name_taken(DWORD error, const wchar_t* path) {
  if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return true;
  return error == ERROR_ACCESS_DENIED && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
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
// True when it is gone.
bool delete_temporary(const wchar_t* path) {
  if (DeleteFileW(path)) return true;
  if (GetLastError() == ERROR_ACCESS_DENIED && SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL) && DeleteFileW(path)) {
    return true;
  }
  return GetLastError() == ERROR_FILE_NOT_FOUND;
}

// The programs this run moved aside and could not delete yet (still
// running), for remove_moved_aside; any placing thread adds to it. Past the
// room, a later start's clearing of the folder takes them.
constexpr int kAsideLeftCap = 16;
SRWLOCK g_aside_left_lock = SRWLOCK_INIT;
wchar_t g_aside_left[kAsideLeftCap][kBesideCap];
int g_aside_left_count = 0;

void remember_aside_left(const wchar_t* path) {
  AcquireSRWLockExclusive(&g_aside_left_lock);
  if (g_aside_left_count < kAsideLeftCap) launcher::copy_text(g_aside_left[g_aside_left_count++], kBesideCap, path);
  ReleaseSRWLockExclusive(&g_aside_left_lock);
}

// Renames the file at path to a temporary name beside it, never over another
// file. False when the system refuses (a reader without delete sharing).
bool move_aside(const wchar_t* path, PlacingRoom& room) {
  if (room.aside_made) delete_temporary(room.aside_path);
  room.aside_made = false;
  for (int tries = 0; tries < kFreshNameTries; ++tries) {
    make_beside(room.aside_path, path);
    if (MoveFileExW(path, room.aside_path, 0)) {
      room.aside_made = true;
      return true;
    }
    if (!is_name_taken(GetLastError(), room.aside_path)) return false;
  }
  return false;
}

ULONGLONG as_number(const FILETIME& time) {
  return static_cast<ULONGLONG>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

// When this process was created, in file-time units; 0 when the system does
// not say.
ULONGLONG own_creation_time() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  return as_number(created);
}

// True when the process that made a temporary file last written at written
// cannot be running any more.
bool run_has_ended(std::uint32_t process, const FILETIME& written) {
  // A name with our own number is this run's (placing threads may hold some
  // while a folder is cleared) unless it was written before this process
  // began: then an earlier process had the same number.
  if (process == GetCurrentProcessId()) return as_number(written) + kReusedNumberMargin < own_creation_time();
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

// Moves the open temporary file over its real path in one step, through its
// handle: what MoveFileExW with MOVEFILE_REPLACE_EXISTING does by name,
// without opening it again by name (under Wine that open costs as much as
// the rename).
bool rename_staged_over(const StagedFile& file, PlacingRoom& room) {
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(room.rename);
  const std::size_t len = std::wcslen(file.path);
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(len * sizeof(wchar_t));
  std::wmemcpy(info->FileName, file.path, len + 1);
  return SetFileInformationByHandle(file.staged, FileRenameInfo, info,
                                    static_cast<DWORD>(sizeof(FILE_RENAME_INFO) + len * sizeof(wchar_t))) != FALSE;
}

// True when the file at path is already the one to place (another launcher
// of the same build placed it meanwhile).
bool already_placed(const StagedFile& file, PlacingRoom& room) {
  if (room.check_buffer == nullptr) room.check_buffer = static_cast<unsigned char*>(std::malloc(kReadCheckCap));
  if (room.check_buffer == nullptr) return false;
  return file_checksum(file.path, file.size, room.check_buffer) == file.stored;
}

// Puts a file moved aside back under its name where that is still free and
// removes the temporary file: the file cannot be placed.
bool give_up_placing(StagedFile& file, PlacingRoom& room) {
  if (room.aside_made) MoveFileExW(room.aside_path, file.path, 0);
  room.aside_made = false;
  remove_staged_file(file);
  return false;
}

}  // namespace

void open_staged_file(StagedFile& file) {
  // A fresh name is tried again only while the one tried is taken.
  for (int tries = 0; tries < kFreshNameTries; ++tries) {
    make_beside(file.staged_path, file.path);
    // Others may only write, as for any file being written, and not delete
    // it; DELETE access lets this handle rename it. CREATE_NEW never opens a
    // file that is already there.
    file.staged = CreateFileW(file.staged_path, GENERIC_WRITE | DELETE, FILE_SHARE_WRITE, nullptr, CREATE_NEW, 0, nullptr);
    if (file.staged != INVALID_HANDLE_VALUE) {
      errors::hold_temporary_file(file.staged_path, file.staged);
      return;
    }
    if (!is_name_taken(GetLastError(), file.staged_path)) break;
  }
  errors::fail_open_for_writing(file.path);
}

bool place_staged_file(StagedFile& file, PlacingRoom& room) {
  room.aside_made = false;
  unsigned long slept = 0;
  unsigned long delay = kFirstRetryDelayMilliseconds;
  // The file stays open, and so out of others' reach, until it has its name.
  for (;;) {
    if (rename_staged_over(file, room)) break;
    // A folder never turns into a file, and other refusals do not pass.
    if (!is_in_use(GetLastError()) || is_directory(file.path)) return give_up_placing(file, room);
    if (already_placed(file, room)) {
      remove_staged_file(file);
      return true;
    }
    // A running program or a loaded DLL cannot be overwritten or replaced,
    // but it can be renamed: the old one goes aside and keeps running.
    if (move_aside(file.path, room) && rename_staged_over(file, room)) break;
    if (slept >= kPlaceRetryMilliseconds) return give_up_placing(file, room);
    Sleep(delay);
    slept += delay;
    delay = delay * 2 < kLongestRetryDelayMilliseconds ? delay * 2 : kLongestRetryDelayMilliseconds;
  }
  CloseHandle(file.staged);
  file.staged = INVALID_HANDLE_VALUE;
  if (room.aside_made && !delete_temporary(room.aside_path)) remember_aside_left(room.aside_path);
  room.aside_made = false;
  return true;
}

void remove_staged_file(StagedFile& file) {
  // The file was opened without delete sharing: it can only go once closed.
  CloseHandle(file.staged);
  file.staged = INVALID_HANDLE_VALUE;
  DeleteFileW(file.staged_path);
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

void remove_moved_aside(const wchar_t* child_folder) {
  AcquireSRWLockExclusive(&g_aside_left_lock);
  for (int i = 0; i < g_aside_left_count; ++i) delete_temporary(g_aside_left[i]);
  g_aside_left_count = 0;
  ReleaseSRWLockExclusive(&g_aside_left_lock);
  remove_stale_temporaries(child_folder);
}

}  // namespace quorin::payload
