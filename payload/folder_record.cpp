// The target folder's record: written for this build, and the files an
// earlier build placed in a fixed folder removed. Talks to the system.
#include "payload/folder_record.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "launcher/state.h"
#include "launcher/wide_text.h"
#include "payload/folder_lock.h"
#include "payload/folder_removal.h"
#include "payload/index.h"
#include "payload/record.h"
#include "payload/temporary_name.h"

namespace quorin::payload {

namespace {

// The record's temporary name takes serial 0, which placing never gives (its
// serials count from 1).
constexpr std::uint32_t kRecordSerial = 0;

// The index to record instead of this build's when files of an earlier build
// are still to be removed (index_union_write), or none; heap, kept until exit.
// When that index could not be made, the earlier build's record is kept.
unsigned char* g_union = nullptr;
std::uint64_t g_union_length = 0;
bool g_keep_record = false;
// The folder's record is this build's: found so, or written by this start.
bool g_record_current = false;

wchar_t g_record_path[kJoinedCap];
unsigned char g_compare[64 * 1024];
IndexEntry g_entry;

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

void remove_earlier_build(const wchar_t* company, const wchar_t* product, const unsigned char* index,
                          std::uint64_t index_length) {
  if (g_target_lock != INVALID_HANDLE_VALUE || index == nullptr) return;
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
    g_target_lock = lock;
    return;
  }
  release_lock(lock);
  if (take_lock(lock, 0)) {
    g_target_lock = lock;
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
  if (g_target_lock == INVALID_HANDLE_VALUE || index == nullptr || size == 0) return;
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

}  // namespace quorin::payload
