// Extraction with the checksum skip, the verification of what is written,
// staged placement and the directory cache. Talks to the system (files,
// mappings, directories).
#include "payload/unpack.h"

#include <windows.h>

#include <atomic>
#include <cwchar>

#include "errors/fatal.h"
#include "errors/messages.h"
#include "launcher/state.h"
#include "launcher/wide_text.h"
#include "payload/checksum.h"
#include "payload/directory_cache.h"
#include "payload/entry.h"
#include "payload/file_checksum.h"
#include "payload/format.h"
#include "payload/indexed_start.h"
#include "payload/placing.h"
#include "payload/reader.h"
#include "payload/staging.h"
#include "template/expand.h"

namespace quorin::payload {

namespace {

using launcher::kPathCap;

wchar_t g_target_path[kPathCap];
// The main thread's buffer for checking a file on disk.
unsigned char g_check_buffer[kReadCheckCap];
EntryHeader g_entry;
// Written by the main thread alone; read by the progress window's thread.
std::atomic<std::uint64_t> g_unpacked_bytes{0};
void (*g_while_unpacking)() = nullptr;

void count_unpacked(std::uint64_t bytes) {
  g_unpacked_bytes.store(g_unpacked_bytes.load(std::memory_order_relaxed) + bytes, std::memory_order_relaxed);
  if (g_while_unpacking != nullptr) g_while_unpacking();
}

void seed_directory_cache() {
  static wchar_t home[kPathCap];
  if (!expansion::expand_spec(home, L"{HOME}", kPathCap)) errors::fail_spec(L"{HOME}");
  directory_cache_remember(home);
}

// Cuts dir at its last backslash, never at index 0; false when it holds none.
bool cut_to_parent(wchar_t* dir) {
  for (std::size_t i = std::wcslen(dir); i > 1; --i) {
    if (dir[i - 1] == L'\\') {
      dir[i - 1] = L'\0';
      return true;
    }
  }
  return false;
}

// The length of the target directory when path lies below it (the target
// directory's own text, a backslash and more); 0 otherwise.
std::size_t length_of_target_above(const wchar_t* path) {
  const std::size_t len = std::wcslen(launcher::g_target_directory);
  if (len == 0 || std::wcsncmp(path, launcher::g_target_directory, len) != 0) return 0;
  return path[len] == L'\\' && path[len + 1] != L'\0' ? len : 0;
}

// True for a folder that is a link to another place: a symbolic link or a
// junction. Other reparse points (a cloud file's placeholder, a deduplicated
// folder) hold their own contents and are plain folders here.
bool is_folder_link(const wchar_t* path) {
  // GetFileAttributesW describes a link, not what it points to. Wine 8.0
  // reports a Unix symbolic link as a reparse point here (not through a
  // handle opened with FILE_FLAG_OPEN_REPARSE_POINT, which follows it), with
  // no tag: a reparse point without a tag counts as a link.
  const DWORD attributes = GetFileAttributesW(path);
  // A folder whose attributes cannot be read is not taken for a plain one.
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(path, &found);
  if (search == INVALID_HANDLE_VALUE) return true;
  FindClose(search);
  // dwReserved0 holds the reparse tag when the entry is a reparse point.
  return found.dwReserved0 == 0 || IsReparseTagNameSurrogate(found.dwReserved0);
}

enum class Folder { kReady, kMissing, kLink };

// Makes the folder at path exist, or finds it there, and remembers it. A
// folder that was there before this run has the temporaries of ended runs
// removed; one below the target directory is first checked for a link,
// which is neither followed, cleared nor remembered. A folder this run made,
// and one remembered, was checked when it was met first.
Folder ready_directory(const wchar_t* path) {
  if (directory_cache_count() == 0) seed_directory_cache();
  // Exact units: letter case counts, separators are not normalised.
  if (directory_cache_holds(path)) return Folder::kReady;
  // A bare drive such as "D:" is neither tested nor cached.
  if (path[0] != L'\0' && path[1] == L':' && path[2] == L'\0') return Folder::kReady;
  if (!CreateDirectoryW(path, nullptr)) {
    if (GetLastError() != ERROR_ALREADY_EXISTS) return Folder::kMissing;
    if (!made_folders_holds(path)) {
      if (length_of_target_above(path) != 0 && is_folder_link(path)) return Folder::kLink;
      remove_stale_temporaries(path);
    }
  } else {
    made_folders_remember(path);
  }
  // A full cache (1024 entries) still creates and tests, it just forgets.
  directory_cache_remember(path);
  return Folder::kReady;
}

// Makes dir exist, deepest first: up while a folder cannot be made, then
// down again, each folder that failed on the way up tried once more, the
// topmost first (the order of a recursion, in one buffer). dir is whole
// again on return. Only for folders outside the target directory or the
// target directory itself; a link met there is followed.
bool make_deepest_first(wchar_t* dir) {
  if (ready_directory(dir) != Folder::kMissing) return true;
  const std::size_t deepest_len = std::wcslen(dir);

  // Climb. Every cut plants a terminator where a backslash stood.
  bool reached_top = false;
  for (;;) {
    if (!cut_to_parent(dir)) {
      reached_top = true;  // dir is still the topmost directory that failed
      break;
    }
    if (ready_directory(dir) != Folder::kMissing) break;
  }

  // Descend, putting the backslashes back one at a time.
  bool result = true;
  for (;;) {
    if (!reached_top) dir[std::wcslen(dir)] = L'\\';
    reached_top = false;
    result = ready_directory(dir) != Folder::kMissing;
    if (std::wcslen(dir) >= deepest_len) return result;
  }
}

// Writes count bytes of a piece to output. A write that reports success
// with fewer bytes (a full disk, where the system's call says no more) failed
// all the same; that call gave no code, so the code is the one for a full disk.
void write_piece(HANDLE output, const unsigned char* piece, DWORD count) {
  DWORD written = 0;
  if (!WriteFile(output, piece, count, &written, nullptr)) {
    errors::fail_system(errors::kUnpackMessage, GetLastError());
  }
  if (written != count) errors::fail_system(errors::kUnpackMessage, ERROR_DISK_FULL);
}

}  // namespace

std::uint32_t existing_checksum(const wchar_t* path, std::uint64_t expected_size) {
  return file_checksum(path, expected_size, g_check_buffer);
}

std::uint64_t unpacked_bytes() { return g_unpacked_bytes.load(std::memory_order_relaxed); }

bool ensure_directory(const wchar_t* path) { return ready_directory(path) == Folder::kReady; }

bool ensure_parent_directories(const wchar_t* file_path) {
  static wchar_t dir[kPathCap];
  launcher::copy_text(dir, kPathCap, file_path);
  if (!cut_to_parent(dir)) return true;
  const std::size_t target_len = length_of_target_above(dir);
  if (target_len == 0) return make_deepest_first(dir);
  if (directory_cache_holds(dir)) return true;

  // Below the target directory, folders are met from the top down: a deeper
  // folder tried first would be made through a link met only afterwards.
  // The target directory itself is made as any folder outside it; what
  // happens there decides nothing, since the folders below tell.
  dir[target_len] = L'\0';
  make_deepest_first(dir);
  dir[target_len] = L'\\';
  const std::size_t dir_len = std::wcslen(dir);
  for (std::size_t end = target_len + 1; end <= dir_len; ++end) {
    if (dir[end] != L'\\' && dir[end] != L'\0') continue;
    const wchar_t kept = dir[end];
    dir[end] = L'\0';
    const Folder folder = ready_directory(dir);
    dir[end] = kept;
    if (folder == Folder::kLink) errors::fail_open_for_writing(file_path);
    if (folder == Folder::kMissing) return false;
  }
  return true;
}

void unpack_payload(void (*while_unpacking)()) {
  using launcher::g_child_program_path;
  g_while_unpacking = while_unpacking;
  for (std::uint64_t index = 0;; ++index) {
    // A name of 1024 units or more, or one the name rule refuses, is damaged
    // data: nothing is written for it. With an index, every header must be
    // the index's entry and the archive must end where the index does: a name
    // changed inside the frame is damaged data too.
    const EntryRead read = read_entry_header(g_entry);
    if (read == EntryRead::kEndMarker) {
      if (index_held() && index != index_entry_count()) errors::fail_plain(errors::kDecodeMessage);
      // Every file is in place before the child can start.
      finish_placing();
      return;
    }
    if (read != EntryRead::kEntry) errors::fail_plain(errors::kDecodeMessage);
    if (index_held() && !index_entry_matches(index, g_entry)) errors::fail_plain(errors::kDecodeMessage);
    launcher::copy_text(g_target_path, kPathCap, launcher::g_target_directory);
    launcher::append_unit(g_target_path, kPathCap, L'\\');
    launcher::append_text(g_target_path, kPathCap, g_entry.name);
    // Only the first entry finds it empty: the child program, written or not.
    if (g_child_program_path[0] == L'\0') {
      launcher::copy_text(g_child_program_path, kPathCap, g_target_path);
    }

    const std::uint64_t size = g_entry.size;
    const std::uint32_t stored = g_entry.stored_checksum;

    // A stored 0 is outside the format: it must not match a missing file, and
    // the data written for it fails the verification below. A file the
    // index's check found current is not checked a second time; any other is
    // looked at again now, since another launcher of the same build starting
    // at the same time may have placed it since the check (writing it again
    // would move a file its child runs aside for a moment).
    const bool current = index_held() && index_file_current(index);
    if (current || (stored != 0 && existing_checksum(g_target_path, size) == stored)) {
      // A current file's data is read and dropped all the same: the stream
      // cannot be skipped, and the next name follows the data.
      payload_skip(size);
      count_unpacked(size);
      continue;
    }
    ensure_parent_directories(g_target_path);
    StagedFile& file = next_staged_file();
    launcher::copy_text(file.path, kPathCap, g_target_path);
    file.size = size;
    file.stored = stored;
    open_staged_file(file);

    // Data goes from the reader's window to the file with no copy in
    // between, and is checksummed on its way, with no second pass.
    std::uint32_t crc = 0;
    for (std::uint64_t remaining = size; remaining > 0;) {
      std::size_t piece_size = 0;
      const unsigned char* piece = payload_next_piece(remaining, piece_size);
      if (piece == nullptr) errors::fail_plain(errors::kDecodeMessage);
      crc = crc32_update(crc, piece, piece_size);
      write_piece(static_cast<HANDLE>(file.staged), piece, static_cast<DWORD>(piece_size));
      remaining -= piece_size;
      count_unpacked(piece_size);
    }
    // Damaged data never takes the file's name: the reporter removes it.
    if (stored_checksum(crc) != stored) errors::fail_plain(errors::kDecodeMessage);
    hand_over(file);
  }
}

}  // namespace quorin::payload
