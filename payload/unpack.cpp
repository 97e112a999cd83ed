// Extraction with the checksum skip and the directory cache. Talks to the
// system (files, mappings, directories).
#include "payload/unpack.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

#include <zlib.h>

#include "errors/fatal.h"
#include "launcher/state.h"
#include "launcher/wide_text.h"
#include "payload/format.h"
#include "payload/reader.h"
#include "template/expand.h"

namespace quorin::payload {

namespace {

using launcher::kPathCap;

constexpr char kDecodeMessage[] = "Error, couldn't decode attached data.";
constexpr int kDirectoryCacheCap = 1024;

wchar_t g_target_path[kPathCap];
wchar_t g_entry_name[kEntryNameCap];
unsigned char g_chunk[kChunkSize];

// Entry 0 is the user's profile folder; the others are directories this
// process created or found. Appended in order, never removed or freed.
wchar_t* g_directory_cache[kDirectoryCacheCap];
int g_directory_cache_count = 0;

std::uint64_t read_u64() {
  unsigned char bytes[8];
  payload_read(bytes, sizeof bytes);
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

std::uint32_t read_u32() {
  unsigned char bytes[4];
  payload_read(bytes, sizeof bytes);
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// Reads the next name into g_entry_name; returns its length, 0 for the end
// marker. A name of 1024 units or more, or one that could reach outside the
// target directory, is damaged data: nothing is written for it.
std::size_t read_entry_name() {
  std::size_t len = 0;
  for (;;) {
    unsigned char bytes[2];
    payload_read(bytes, sizeof bytes);
    const wchar_t unit = static_cast<wchar_t>(bytes[0] | bytes[1] << 8);
    if (unit == L'\0') break;
    if (len + 1 >= kEntryNameCap) errors::fail_plain(kDecodeMessage);
    g_entry_name[len++] = unit;
  }
  g_entry_name[len] = L'\0';
  if (len > 0 && !is_valid_entry_name(g_entry_name, len)) errors::fail_plain(kDecodeMessage);
  return len;
}

std::uint32_t crc_of(const unsigned char* data, std::uint64_t size) {
  uLong crc = crc32(0L, Z_NULL, 0);
  // zlib takes 32-bit lengths: feed a file of 4 GiB or more in pieces.
  constexpr std::uint64_t kPiece = 1u << 30;
  while (size > 0) {
    const uInt piece = static_cast<uInt>(size < kPiece ? size : kPiece);
    crc = crc32(crc, data, piece);
    data += piece;
    size -= piece;
  }
  return stored_checksum(static_cast<std::uint32_t>(crc));
}

// Appends a heap copy of path when the cache has room. A copy that cannot be
// made is not remembered: the directory was still made or found, and a null
// entry would break every later comparison.
void remember_directory(const wchar_t* path) {
  if (g_directory_cache_count >= kDirectoryCacheCap) return;
  wchar_t* copy = _wcsdup(path);
  if (copy != nullptr) g_directory_cache[g_directory_cache_count++] = copy;
}

void seed_directory_cache() {
  static wchar_t home[kPathCap];
  if (!expansion::expand_spec(home, L"{HOME}", kPathCap)) errors::fail_spec(L"{HOME}");
  remember_directory(home);
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

}  // namespace

std::uint32_t existing_checksum(const wchar_t* path, std::uint64_t expected_size) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  // A file of another length is not current, whatever its CRC: no checksum
  // taken. GetFileSizeEx gives all 64 bits, so a file of 4 GiB or more is never
  // taken for its length modulo 2^32 (GetFileSize without its high part would).
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size) || static_cast<std::uint64_t>(size.QuadPart) != expected_size) {
    CloseHandle(file);
    return 0;
  }
  // The system refuses to map an empty file; an empty file is current for an
  // empty entry (CRC 0, stored as 1), so an unchanged tree gets no write.
  if (expected_size == 0) {
    CloseHandle(file);
    return stored_checksum(0);
  }
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) {
    CloseHandle(file);
    return 0;
  }
  const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  if (view == nullptr) {
    CloseHandle(mapping);
    CloseHandle(file);
    return 0;
  }
  const std::uint32_t checksum = crc_of(static_cast<const unsigned char*>(view), expected_size);
  UnmapViewOfFile(view);
  CloseHandle(mapping);
  CloseHandle(file);
  return checksum;
}

bool ensure_directory(const wchar_t* path) {
  if (g_directory_cache_count == 0) seed_directory_cache();
  for (int i = 0; i < g_directory_cache_count; ++i) {
    // Exact units: letter case counts, separators are not normalised.
    if (std::wcscmp(g_directory_cache[i], path) == 0) return true;
  }
  // A bare drive such as "D:" is neither tested nor cached.
  if (path[0] != L'\0' && path[1] == L':' && path[2] == L'\0') return true;
  if (!CreateDirectoryW(path, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  // A full cache (1024 entries) still creates and tests, it just forgets.
  remember_directory(path);
  return true;
}

bool ensure_parent_directories(const wchar_t* file_path) {
  // One buffer and a loop instead of a recursion holding a path per level;
  // the CreateDirectoryW calls and cache insertions come in the recursion's
  // order: up while a directory cannot be made, then down again, each
  // directory that failed on the way up tried once more, the topmost first.
  static wchar_t dir[kPathCap];
  launcher::copy_text(dir, kPathCap, file_path);
  if (!cut_to_parent(dir)) return true;
  if (ensure_directory(dir)) return true;
  const std::size_t deepest_len = std::wcslen(dir);

  // Climb. Every cut plants a terminator where a backslash stood.
  bool reached_top = false;
  for (;;) {
    if (!cut_to_parent(dir)) {
      reached_top = true;  // dir is still the topmost directory that failed
      break;
    }
    if (ensure_directory(dir)) break;
  }

  // Descend, putting the backslashes back one at a time.
  bool result = true;
  for (;;) {
    if (!reached_top) dir[std::wcslen(dir)] = L'\\';
    reached_top = false;
    result = ensure_directory(dir);
    if (std::wcslen(dir) >= deepest_len) return result;
  }
}

int directory_cache_count() { return g_directory_cache_count; }

const wchar_t* directory_cache_entry(int index) {
  return index >= 0 && index < g_directory_cache_count ? g_directory_cache[index] : nullptr;
}

void unpack_payload() {
  using launcher::g_child_program_path;
  for (;;) {
    if (read_entry_name() == 0) return;  // the end marker
    launcher::copy_text(g_target_path, kPathCap, launcher::g_target_directory);
    launcher::append_unit(g_target_path, kPathCap, L'\\');
    launcher::append_text(g_target_path, kPathCap, g_entry_name);
    // Only the first entry finds it empty: the child program, written or not.
    if (g_child_program_path[0] == L'\0') {
      launcher::copy_text(g_child_program_path, kPathCap, g_target_path);
    }

    const std::uint64_t size = read_u64();
    const std::uint32_t stored = read_u32();

    HANDLE output = INVALID_HANDLE_VALUE;
    // A stored 0 is outside the format; it must not match a missing file.
    if (stored == 0 || existing_checksum(g_target_path, size) != stored) {
      ensure_parent_directories(g_target_path);
      output = CreateFileW(g_target_path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, 0,
                           nullptr);
      if (output == INVALID_HANDLE_VALUE) errors::fail_open_for_writing(g_target_path);
    }

    // A current file's data is read and dropped all the same: the stream
    // cannot be skipped, and the next name follows the data.
    for (std::uint64_t remaining = size; remaining > 0;) {
      const DWORD chunk = static_cast<DWORD>(remaining < kChunkSize ? remaining : kChunkSize);
      payload_read(g_chunk, chunk);
      if (output != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        if (!WriteFile(output, g_chunk, chunk, &written, nullptr)) {
          errors::fail_system("Error, couldn't unpack file to target path.", GetLastError());
        }
      }
      remaining -= chunk;
    }
    if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
  }
}

}  // namespace quorin::payload
